#include "platform/Convert.h"

#include "platform/Exceptions.h"

#include <charconv>
#include <cmath>

namespace palkor {

namespace {
bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
} // namespace

bool TryStrToInt(std::string_view text, int32_t& value) {
  size_t p = 0;
  while (p < text.size() && IsBlank(text[p])) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  int base = 10;
  if (p < text.size() && text[p] == '$') {
    base = 16;
    ++p;
  } else if (p + 1 < text.size() && text[p] == '0' && (text[p + 1] == 'x' || text[p + 1] == 'X')) {
    base = 16;
    p += 2;
  }
  if (p >= text.size()) return false;
  int64_t magnitude = 0;
  auto [end, error] = std::from_chars(text.data() + p, text.data() + text.size(), magnitude, base);
  if (error != std::errc() || end != text.data() + text.size() || magnitude < 0) return false;
  int64_t result = negative ? -magnitude : magnitude;
  // Hexadecimal literals may spell the full 32-bit pattern ($FFFFFFFF is -1).
  if (base == 16 && !negative && result <= 0xFFFFFFFFll) result = int32_t(uint32_t(result));
  if (result < INT32_MIN || result > INT32_MAX) return false;
  value = int32_t(result);
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t value;
  if (!TryStrToInt(text, value))
    throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
  return value;
}

int32_t StrToIntDef(std::string_view text, int32_t defaultValue) {
  int32_t value;
  return TryStrToInt(text, value) ? value : defaultValue;
}

bool TryStrToFloat(std::string_view text, double& value) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  std::string_view s = text.substr(begin, end - begin);
  // sign? digits [. digits] [(e|E) sign? digits], with at least one mantissa digit.
  size_t p = 0;
  bool negative = false;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
  size_t mantissaStart = p, digits = 0;
  while (p < s.size() && IsDigit(s[p])) ++p, ++digits;
  if (p < s.size() && s[p] == '.') {
    ++p;
    while (p < s.size() && IsDigit(s[p])) ++p, ++digits;
  }
  if (digits == 0) return false;
  if (p < s.size() && (s[p] == 'e' || s[p] == 'E')) {
    ++p;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) ++p;
    size_t expStart = p;
    while (p < s.size() && IsDigit(s[p])) ++p;
    if (p == expStart) return false;
  }
  if (p != s.size()) return false;
  double magnitude = 0;
  auto [last, error] = std::from_chars(s.data() + mantissaStart, s.data() + s.size(), magnitude);
  if (error != std::errc() || last != s.data() + s.size() || !std::isfinite(magnitude))
    return false;
  value = negative ? -magnitude : magnitude;
  return true;
}

double StrToFloat(std::string_view text) {
  double value;
  if (!TryStrToFloat(text, value))
    throw EConvertError(Format("'%s' is not a valid floating point value", std::string(text)));
  return value;
}

std::string IntToStr(int64_t value) {
  return std::to_string(value);
}

std::string Latin1ToUTF8(std::string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (char c : text) {
    uint8_t byte = uint8_t(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += char(0xC0 | (byte >> 6));
      utf8 += char(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

} // namespace palkor
