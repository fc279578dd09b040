#pragma once

#include "platform/Dialogs.h"

class QWidget;

namespace palkor {

// The program's questions as Qt dialogs, parented to a window (the main window).
class TQtDialogs : public TDialogs {
public:
  explicit TQtDialogs(QWidget* parent = nullptr) : FParent(parent) {}
  void SetParent(QWidget* parent) { FParent = parent; }

  TAnswer Ask(const std::string& text, bool withCancel, bool defaultNo = false) override;
  void ShowError(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) override;
  bool ChooseColour(uint32_t& colour) override;
  bool OpenFile(const std::string& filter, const std::string& defaultExtension,
                std::string& fileName) override;
  bool SaveFile(const std::string& filter, const std::string& defaultExtension,
                std::string& fileName) override;
  bool ChooseFolder(const std::string& start, std::string& folder) override;
  bool ChooseItem(const std::string& caption, const std::string& prompt,
                  const std::vector<std::string>& items, int& index) override;

private:
  QWidget* FParent;
};

// A filter "description|patterns|description|patterns" as Qt's "description (patterns);;...",
// each pattern also in lower case (file names on this system keep their case).
std::string QtFileFilter(const std::string& filter);

// The extension a Qt filter such as "glTF (*.gltf *.GLTF)" gives a name typed without
// one: its first pattern's, when that is "*." and a plain extension; otherwise "".
std::string FilterExtension(const std::string& qtFilter);

} // namespace palkor
