#include "platform/StringList.h"

namespace palkor {

std::string UpperCaseASCII(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = UpperASCII(c);
  return result;
}

namespace {

bool IsControl(uint8_t byte) {
  return byte < 0x20 || byte == 0x7F;
}

// The escape of a control byte: "\xHH".
void WriteEscape(uint8_t byte, char* out) {
  static const char digits[] = "0123456789ABCDEF";
  out[0] = '\\';
  out[1] = 'x';
  out[2] = digits[byte >> 4];
  out[3] = digits[byte & 15];
}

} // namespace

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = uint8_t(c);
    if (!IsControl(byte)) {
      out += c;
      continue;
    }
    char escape[4];
    WriteEscape(byte, escape);
    out.append(escape, sizeof escape);
  }
  return out;
}

size_t EscapeControlsInto(std::string_view text, char* out, size_t size) {
  if (size == 0) return 0;
  size_t n = 0;
  for (char c : text) {
    const auto byte = uint8_t(c);
    const size_t length = IsControl(byte) ? 4 : 1;
    if (n + length >= size) break;
    if (length == 1)
      out[n] = c;
    else
      WriteEscape(byte, out + n);
    n += length;
  }
  out[n] = '\0';
  return n;
}

bool SameTextASCII(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperASCII(a[i]) != UpperASCII(b[i])) return false;
  return true;
}

const std::string& TStringList::Strings(int32_t index) const {
  CheckListIndex(index, Count());
  return FLines[size_t(index)];
}

void TStringList::SetStrings(int32_t index, std::string text) {
  CheckListIndex(index, Count());
  FLines[size_t(index)] = std::move(text);
}

void TStringList::Delete(int32_t index) {
  CheckListIndex(index, Count());
  FLines.erase(FLines.begin() + index);
}

int32_t TStringList::IndexOf(std::string_view text) const {
  for (size_t i = 0; i < FLines.size(); ++i)
    if (SameTextASCII(FLines[i], text)) return int32_t(i);
  return -1;
}

int32_t TStringList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < FLines.size(); ++i) {
    size_t eq = FLines[i].find('=');
    if (eq != std::string::npos && SameTextASCII(std::string_view(FLines[i]).substr(0, eq), name))
      return int32_t(i);
  }
  return -1;
}

std::string TStringList::Names(int32_t index) const {
  const std::string& line = Strings(index);
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStringList::Values(std::string_view name) const {
  int32_t i = IndexOfName(name);
  if (i < 0) return {};
  const std::string& line = FLines[size_t(i)];
  return line.substr(line.find('=') + 1);
}

void TStringList::SetText(std::string_view text, int32_t maxLines) {
  FLines.clear();
  size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  size_t p = 0;
  while (p < text.size() && (maxLines <= 0 || Count() < maxLines)) {
    size_t start = p;
    while (p < text.size() && text[p] != '\r' && text[p] != '\n') ++p;
    FLines.emplace_back(text.substr(start, p - start));
    if (p < text.size() && text[p] == '\r') ++p;
    if (p < text.size() && text[p] == '\n') ++p;
  }
}

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : FLines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::LoadFromStream(TStream& stream) {
  int64_t position = stream.Position();
  int64_t size = stream.Size();
  SetText(position >= 0 && position < size ? stream.ReadBytes(size - position) : std::string());
}

void TStringList::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, TFileMode::OpenRead);
  LoadFromStream(file);
}

} // namespace palkor
