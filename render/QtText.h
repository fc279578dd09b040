#pragma once

// Texts between the program, which keeps the game's 8-bit names as bytes, and Qt: shown
// as Latin-1, file names in the system's encoding.
#include <QFile>
#include <QString>

#include <string>

namespace palkor {

inline QString Text(const std::string& text) {
  return QString::fromLatin1(QByteArray::fromStdString(text));
}
inline std::string Bytes(const QString& text) {
  return text.toLatin1().toStdString();
}
inline std::string FileName(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

} // namespace palkor
