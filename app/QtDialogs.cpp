#include "app/QtDialogs.h"

#include "render/QtText.h"

#include "platform/StringList.h"

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QInputDialog>
#include <QMessageBox>

namespace palkor {

namespace {

std::string LowerASCII(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

// What a title bar takes besides its text: the icon and the buttons, at their widest.
constexpr int TitleBarButtons = 160;

} // namespace

std::string QtFileFilter(const std::string& filter) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t bar; (bar = filter.find('|', start)) != std::string::npos; start = bar + 1)
    parts.push_back(filter.substr(start, bar - start));
  parts.push_back(filter.substr(start));
  std::string result;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string patterns;
    size_t from = 0;
    const std::string& list = parts[i + 1];
    while (from <= list.size()) {
      size_t semicolon = list.find(';', from);
      std::string pattern =
          list.substr(from, semicolon == std::string::npos ? std::string::npos : semicolon - from);
      if (!pattern.empty()) {
        patterns += (patterns.empty() ? "" : " ") + pattern;
        if (LowerASCII(pattern) != pattern) patterns += " " + LowerASCII(pattern);
      }
      if (semicolon == std::string::npos) break;
      from = semicolon + 1;
    }
    result += (result.empty() ? "" : ";;") + parts[i] + " (" + patterns + ")";
  }
  return result;
}

std::string FilterExtension(const std::string& qtFilter) {
  size_t open = qtFilter.find('(');
  if (open == std::string::npos || qtFilter.compare(open + 1, 2, "*.") != 0) return "";
  size_t start = open + 3;
  size_t end = qtFilter.find_first_of(" )", start);
  std::string extension =
      qtFilter.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (extension.find_first_of("*?[]") != std::string::npos) return "";
  return extension;
}

TDialogs::TAnswer TQtDialogs::Ask(const std::string& text, bool withCancel, bool defaultNo) {
  auto buttons = QMessageBox::Yes | QMessageBox::No;
  if (withCancel) buttons |= QMessageBox::Cancel;
  switch (QMessageBox::question(FParent, QApplication::applicationDisplayName(), Text(text),
                                buttons, defaultNo ? QMessageBox::No : QMessageBox::Yes)) {
  case QMessageBox::Yes:
    return TAnswer::Yes;
  case QMessageBox::No:
    return TAnswer::No;
  default:
    return withCancel ? TAnswer::Cancel : TAnswer::No;
  }
}

void TQtDialogs::ShowError(const std::string& text) {
  QMessageBox::critical(FParent, QApplication::applicationDisplayName(), Text(text));
}

void TQtDialogs::ShowMessage(const std::string& text) {
  QMessageBox::information(FParent, QApplication::applicationDisplayName(), Text(text));
}

bool TQtDialogs::InputBox(const std::string& caption, const std::string& prompt,
                          std::string& value) {
  bool ok = false;
  QString answer = QInputDialog::getText(FParent, Text(caption), Text(prompt), QLineEdit::Normal,
                                         Text(value), &ok);
  if (ok) value = Bytes(answer);
  return ok;
}

bool TQtDialogs::ChooseColour(uint32_t& colour) {
  // Starts at the colour given (0x00BBGGRR).
  QColor current(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
  QColor chosen = QColorDialog::getColor(current, FParent);
  if (!chosen.isValid()) return false;
  colour = uint32_t(chosen.red()) | uint32_t(chosen.green()) << 8 | uint32_t(chosen.blue()) << 16;
  return true;
}

bool TQtDialogs::OpenFile(const std::string& filter, const std::string& defaultExtension,
                          std::string& fileName) {
  QFileDialog dialog(FParent);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(Text(QtFileFilter(filter)));
  dialog.setDefaultSuffix(Text(defaultExtension));
  // Starts where fileName points: a folder, or a file's folder; else the current folder.
  QFileInfo start(QFile::decodeName(fileName.c_str()));
  if (fileName.empty() || !start.exists())
    dialog.setDirectory(QDir::currentPath());
  else if (start.isDir())
    dialog.setDirectory(start.absoluteFilePath());
  else
    dialog.setDirectory(start.absolutePath());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  fileName = FileName(dialog.selectedFiles().front());
  return true;
}

bool TQtDialogs::SaveFile(const std::string& filter, const std::string& defaultExtension,
                          std::string& fileName) {
  QFileDialog dialog(FParent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(Text(QtFileFilter(filter)));
  dialog.setDefaultSuffix(Text(defaultExtension));
  // A name typed without extension takes the chosen filter's.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& chosen) {
    std::string extension = FilterExtension(Bytes(chosen));
    dialog.setDefaultSuffix(Text(extension.empty() ? defaultExtension : extension));
  });
  if (fileName.empty()) {
    dialog.setDirectory(QDir::currentPath());
  } else {
    QFileInfo suggestion(QFile::decodeName(fileName.c_str()));
    dialog.setDirectory(suggestion.absolutePath());
    dialog.selectFile(suggestion.fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  fileName = FileName(dialog.selectedFiles().front());
  return true;
}

bool TQtDialogs::ChooseFolder(const std::string& start, std::string& folder) {
  QString chosen =
      QFileDialog::getExistingDirectory(FParent, QString(), QFile::decodeName(start.c_str()));
  if (chosen.isEmpty()) return false;
  folder = FileName(chosen);
  return true;
}

bool TQtDialogs::ChooseItem(const std::string& caption, const std::string& prompt,
                            const std::vector<std::string>& items, int& index) {
  if (items.empty()) return false;
  QStringList list;
  for (const std::string& item : items) list << QString::fromStdString(item);
  QInputDialog dialog(FParent);
  dialog.setWindowTitle(Text(caption));
  dialog.setLabelText(Text(prompt));
  dialog.setComboBoxItems(list);
  dialog.setComboBoxEditable(false);
  // Items may read the same: the choice is taken by its place in the list, not its text.
  auto* combo = dialog.findChild<QComboBox*>();
  if (!combo) return false;
  // Wide enough for its title, which the window manager follows with the program's name,
  // sets in its own font (larger than the program's as a rule) and frames with its
  // buttons. The dialog's layout takes its width from its contents.
  const QString title = Text(caption) + " \u2014 " + QApplication::applicationDisplayName();
  combo->setMinimumWidth(QFontMetrics(QApplication::font()).horizontalAdvance(title) * 5 / 4 +
                         TitleBarButtons);
  combo->setCurrentIndex(index >= 0 && index < int(items.size()) ? index : 0);
  if (dialog.exec() != QDialog::Accepted || combo->currentIndex() < 0) return false;
  index = combo->currentIndex();
  return true;
}

} // namespace palkor
