#pragma once

#include "platform/Streams.h"

#include <string>
#include <string_view>
#include <vector>

namespace palkor {

// Upper-cases ASCII letters only; every other byte stays as it is.
inline char UpperASCII(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}
std::string UpperCaseASCII(std::string_view text);
// text with bytes below 0x20 and 0x7F written as \xHH (upper-case hexadecimal), for
// names and messages printed one record a line.
std::string EscapeControls(std::string_view text);
// The same into out, for code that may not ask for memory: at most size - 1 bytes and a
// NUL, an escape never cut in two. Returns the length written.
size_t EscapeControlsInto(std::string_view text, char* out, size_t size);
// True when a and b are equal ignoring the letter case of ASCII letters.
bool SameTextASCII(std::string_view a, std::string_view b);

// An ordered list of text lines. Text splits at CR, LF or CR LF; a final line
// terminator makes no empty line; a NUL byte ends the text. Lines are bytes in the
// game's 8-bit code page and are kept as they are.
class TStringList {
public:
  int32_t Count() const { return int32_t(FLines.size()); }
  // "List index out of bounds (%d)" outside 0 .. Count - 1.
  const std::string& Strings(int32_t index) const;
  void SetStrings(int32_t index, std::string text);
  const std::string& operator[](int32_t index) const { return Strings(index); }

  void Add(std::string text) { FLines.push_back(std::move(text)); }
  void Delete(int32_t index);
  void Clear() { FLines.clear(); }

  // Position of the first line equal to text, ignoring case; -1 when there is none.
  int32_t IndexOf(std::string_view text) const;
  // Lines of the form name=value: the first line whose name matches, ignoring case.
  int32_t IndexOfName(std::string_view name) const;
  std::string Names(int32_t index) const;
  // Value of the first line whose name matches, ignoring case; empty when there is none.
  std::string Values(std::string_view name) const;

  // maxLines > 0 keeps only that many lines from the start of the text.
  void SetText(std::string_view text, int32_t maxLines = 0);
  // Every line followed by CR LF.
  std::string Text() const;
  // Reads from the stream's position to its end.
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);

  const std::vector<std::string>& Lines() const { return FLines; }

private:
  std::vector<std::string> FLines;
};

} // namespace palkor
