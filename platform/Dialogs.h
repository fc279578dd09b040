#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace palkor {

// The questions and choices the program puts to the user. The viewer provides them with
// its toolkit; tests answer from a script.
class TDialogs {
public:
  virtual ~TDialogs() = default;
  enum class TAnswer { Yes, No, Cancel };
  // A question with the buttons Yes and No, and Cancel when withCancel.
  // The default button is Yes, or No with defaultNo (for questions whose Yes cannot be
  // taken back lightly).
  virtual TAnswer Ask(const std::string& text, bool withCancel, bool defaultNo = false) = 0;
  // A Yes/No question; true for Yes.
  bool Confirm(const std::string& text, bool defaultNo = false) {
    return Ask(text, false, defaultNo) == TAnswer::Yes;
  }
  // An error message box.
  virtual void ShowError(const std::string& text) = 0;
  // An information message box.
  virtual void ShowMessage(const std::string& text) = 0;
  // A line of text; false when cancelled.
  virtual bool InputBox(const std::string& caption, const std::string& prompt,
                        std::string& value) = 0;
  // A colour (0x00BBGGRR), starting at colour; false when cancelled.
  virtual bool ChooseColour(uint32_t& colour) = 0;
  // An existing file; filter is "description|patterns|description|patterns...". The
  // dialog starts where fileName points (a folder, or a file's folder) when it is given.
  virtual bool OpenFile(const std::string& filter, const std::string& defaultExtension,
                        std::string& fileName) = 0;
  // A file to write, filter as OpenFile's; fileName comes in as the suggestion (its
  // folder is where the choice starts) and goes out as the choice, ending in
  // "." defaultExtension when typed without one. Choosing an existing file asks there
  // whether to replace it. False when cancelled.
  virtual bool SaveFile(const std::string& filter, const std::string& defaultExtension,
                        std::string& fileName) = 0;
  // A folder, starting at start; false when cancelled.
  virtual bool ChooseFolder(const std::string& start, std::string& folder) = 0;
  // One of items, offered in a list that starts at index; index goes out as the choice.
  // The items are UTF-8 (names read from files that keep them so), caption and prompt
  // the program's own text. False when cancelled or when there is nothing to choose.
  virtual bool ChooseItem(const std::string& caption, const std::string& prompt,
                          const std::vector<std::string>& items, int& index) = 0;
};

// Runs a command, showing its failure in an error box: the program goes on.
void Guarded(const std::function<void()>& command);

// The dialogs in use; set once by the program (or a test) before any window asks.
TDialogs& Dialogs();
void SetDialogs(TDialogs* dialogs);

} // namespace palkor
