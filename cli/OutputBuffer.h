#pragma once

#include "cli/CliSupport.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace palkor::cli {

namespace detail {

// A number's digits and a space, and how many of the eight bytes that is.
struct TDigits {
  char Text[8];
  uint32_t Length;
};

constexpr std::array<TDigits, 4096> MakeSmallNumbers() {
  std::array<TDigits, 4096> t{};
  for (uint32_t v = 0; v < 4096; ++v) {
    char digits[4] = {};
    uint32_t n = 0;
    for (uint32_t rest = v; n == 0 || rest > 0; rest /= 10) digits[n++] = char('0' + rest % 10);
    for (uint32_t k = 0; k < n; ++k) t[v].Text[k] = digits[n - 1 - k];
    t[v].Text[n] = ' ';
    t[v].Length = n + 1;
  }
  return t;
}

// The texts of 0 to 4095, made by the compiler: the table costs a program that prints no
// rotations nothing.
inline constexpr std::array<TDigits, 4096> SmallNumbers = MakeSmallNumbers();

} // namespace detail

// Text written to standard output through a buffer of its own, in large pieces, for
// commands that print many records. The owner flushes it at the end; a failure to write
// is "Stream write error".
class TOutputBuffer {
public:
  void Put(char c) {
    Reserve(1);
    *FEnd++ = c;
  }
  void Put(std::string_view text) {
    if (text.size() > sizeof FBuffer) {
      Flush();
      WriteStdout(text);
      return;
    }
    Reserve(text.size());
    FEnd = std::copy(text.begin(), text.end(), FEnd);
  }
  void Put(int64_t value) {
    Reserve(20);
    FEnd = std::to_chars(FEnd, FEnd + 20, value).ptr;
  }
  // text with bytes below 0x20 and 0x7F written as \xHH, as PrintFields writes a field.
  void PutEscaped(std::string_view text) {
    auto control = [](char c) { return uint8_t(c) < 0x20 || uint8_t(c) == 0x7F; };
    if (std::none_of(text.begin(), text.end(), control)) return Put(text);
    static const char digits[] = "0123456789ABCDEF";
    for (char c : text) {
      if (!control(c)) {
        Put(c);
        continue;
      }
      Reserve(4);
      *FEnd++ = '\\';
      *FEnd++ = 'x';
      *FEnd++ = digits[uint8_t(c) >> 4];
      *FEnd++ = digits[uint8_t(c) & 15];
    }
  }
  // Eight upper-case hexadecimal digits, as Format("%.8X") writes them.
  void PutHex8(uint32_t value) {
    static const char digits[] = "0123456789ABCDEF";
    Reserve(8);
    for (int k = 7; k >= 0; --k, value >>= 4) FEnd[k] = digits[value & 15];
    FEnd += 8;
  }
  // A value and a space after it; values of 0 to 4095 (every decoded rotation is one)
  // come from a table of their texts.
  [[gnu::always_inline]] void PutSpaced(int32_t value) {
    if (uint32_t(value) >= 4096 || FBuffer + sizeof FBuffer - FEnd < 8)
      return PutSpacedSlowly(value);
    const detail::TDigits& digits = detail::SmallNumbers[size_t(value)];
    std::memcpy(FEnd, digits.Text, 8);
    FEnd += digits.Length;
  }
  // Ends the line in place of the space after the last value.
  void EndSpacedLine() { FEnd[-1] = '\n'; }
  void Flush() {
    WriteStdout(std::string_view(FBuffer, size_t(FEnd - FBuffer)));
    FEnd = FBuffer;
  }

private:
  [[gnu::noinline]] void PutSpacedSlowly(int32_t value) {
    if (uint32_t(value) < 4096) {
      Reserve(8);
      return PutSpaced(value);
    }
    Put(int64_t(value));
    Put(' ');
  }
  // Room for n more bytes (n at most the buffer's size).
  void Reserve(size_t n) {
    if (size_t(FBuffer + sizeof FBuffer - FEnd) < n) Flush();
  }
  char FBuffer[1 << 16];
  char* FEnd = FBuffer;
};

} // namespace palkor::cli
