#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace palkor {

// Number conversions with "." as the decimal separator, whatever the locale.
// Leading blanks are allowed; an integer may be written in hexadecimal after "$" or "0x".
// Failures: "'%s' is not a valid integer value", "'%s' is not a valid floating point value".
int32_t StrToInt(std::string_view text);
int32_t StrToIntDef(std::string_view text, int32_t defaultValue);
bool TryStrToInt(std::string_view text, int32_t& value);

double StrToFloat(std::string_view text);
bool TryStrToFloat(std::string_view text, double& value);

std::string IntToStr(int64_t value);

// Text of the game's files (bytes of an 8-bit code page, read as Latin-1, as the viewer
// shows them) in UTF-8, for formats that require it.
std::string Latin1ToUTF8(std::string_view text);

} // namespace palkor
