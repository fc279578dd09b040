#pragma once

#include "platform/Dialogs.h"

#include <deque>
#include <string>
#include <vector>

namespace palkor::testing {

// Dialog answers given in advance; every question and error is recorded.
class TScriptedDialogs : public TDialogs {
public:
  std::deque<TAnswer> Answers;           // Ask; none left: No
  std::deque<std::string> FileAnswers;   // OpenFile; "" cancels
  std::deque<std::string> SaveAnswers;   // SaveFile; "" cancels
  std::deque<std::string> FolderAnswers; // ChooseFolder; "" cancels
  std::deque<uint32_t> ColourAnswers;
  std::deque<std::string> InputAnswers; // InputBox; none left: cancelled
  std::deque<int> ItemAnswers;          // ChooseItem: the index chosen; -1 or none left cancels
  std::vector<std::string> Questions, Errors, Messages;
  // Per question: its default button was No.
  std::vector<bool> DefaultNo;
  // Where the colour and file choices started.
  std::vector<uint32_t> ColourStarts;
  std::vector<std::string> FileStarts;
  std::vector<std::string> FolderStarts;
  std::vector<std::string> SaveSuggestions;           // the names SaveFile was offered
  std::vector<std::vector<std::string>> ItemsOffered; // the lists ChooseItem offered

  TAnswer Ask(const std::string& text, bool, bool defaultNo) override {
    Questions.push_back(text);
    DefaultNo.push_back(defaultNo);
    TAnswer answer = TAnswer::No;
    Take(Answers, answer);
    return answer;
  }
  void ShowError(const std::string& text) override { Errors.push_back(text); }
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
  bool InputBox(const std::string&, const std::string&, std::string& value) override {
    return Take(InputAnswers, value);
  }
  bool ChooseColour(uint32_t& colour) override {
    ColourStarts.push_back(colour);
    return Take(ColourAnswers, colour);
  }
  bool OpenFile(const std::string&, const std::string&, std::string& fileName) override {
    FileStarts.push_back(fileName);
    return Take(FileAnswers, fileName) && !fileName.empty();
  }
  bool SaveFile(const std::string&, const std::string&, std::string& fileName) override {
    SaveSuggestions.push_back(fileName);
    std::string answer;
    if (!Take(SaveAnswers, answer) || answer.empty()) return false;
    fileName = answer;
    return true;
  }
  bool ChooseFolder(const std::string& start, std::string& folder) override {
    FolderStarts.push_back(start);
    return Take(FolderAnswers, folder) && !folder.empty();
  }
  bool ChooseItem(const std::string&, const std::string&, const std::vector<std::string>& items,
                  int& index) override {
    ItemsOffered.push_back(items);
    int answer = -1;
    if (!Take(ItemAnswers, answer) || answer < 0 || answer >= int(items.size())) return false;
    index = answer;
    return true;
  }

private:
  template <typename T>
  static bool Take(std::deque<T>& answers, T& value) {
    if (answers.empty()) return false;
    value = answers.front();
    answers.pop_front();
    return true;
  }
};

} // namespace palkor::testing
