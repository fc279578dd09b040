#pragma once

#include "cli/CliSupport.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <unistd.h>

namespace palkor::cli {

namespace detail {

// The texts of 0 to 4095, each with a space after it, in the first bytes of eight; the
// last byte holds the text's length. Made by the compiler: the table costs a program
// that prints no rotations nothing.
constexpr std::array<std::array<char, 8>, 4096> MakeSmallNumbers() {
  std::array<std::array<char, 8>, 4096> t{};
  for (uint32_t v = 0; v < 4096; ++v) {
    char digits[4] = {};
    uint32_t n = 0;
    for (uint32_t rest = v; n == 0 || rest > 0; rest /= 10) digits[n++] = char('0' + rest % 10);
    for (uint32_t k = 0; k < n; ++k) t[v][k] = digits[n - 1 - k];
    t[v][n] = ' ';
    t[v][7] = char(n + 1);
  }
  return t;
}
inline constexpr std::array<std::array<char, 8>, 4096> SmallNumbers = MakeSmallNumbers();

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
    while (text.size() > sizeof FBuffer) {
      Reserve(sizeof FBuffer);
      FEnd = std::copy_n(text.begin(), sizeof FBuffer, FEnd);
      text.remove_prefix(sizeof FBuffer);
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
  void PutSpaced(int32_t value) {
    if (uint32_t(value) >= 4096) {
      Put(int64_t(value));
      return Put(' ');
    }
    Reserve(8);
    PutSpacedUnchecked(uint32_t(value));
  }
  // Room for n more bytes at once, for a record put with PutSpacedUnchecked; false when
  // the buffer does not hold n bytes.
  bool MakeRoom(size_t n) {
    if (n > sizeof FBuffer) return false;
    Reserve(n);
    return true;
  }
  // PutSpaced of a value below 4096 where room for 8 bytes has been made: one copy of
  // eight bytes, of which the text's count are kept.
  [[gnu::always_inline]] void PutSpacedUnchecked(uint32_t value) {
    const std::array<char, 8>& text = detail::SmallNumbers[value];
    std::memcpy(FEnd, text.data(), 8);
    FEnd += uint8_t(text[7]);
  }
  // Ends the line in place of the space after the last value.
  void EndSpacedLine() { FEnd[-1] = '\n'; }
  // Writes the buffer to standard output in one call to the system (after whatever the C
  // library still holds), not through the library's small buffer, which would split it.
  void Flush() {
    if (std::fflush(stdout) != 0) throw EWriteError("standard output", errno != 0 ? errno : EIO);
    for (const char* p = FBuffer; p < FEnd;) {
      const ssize_t n = ::write(STDOUT_FILENO, p, size_t(FEnd - p));
      if (n < 0 && errno == EINTR) continue;
      // A write that takes nothing has met a full device.
      if (n <= 0) throw EWriteError("standard output", n < 0 ? errno : ENOSPC);
      p += n;
    }
    FEnd = FBuffer;
  }

private:
  // Room for n more bytes (n at most the buffer's size).
  void Reserve(size_t n) {
    if (size_t(FBuffer + sizeof FBuffer - FEnd) < n) Flush();
  }
  char FBuffer[1 << 16];
  char* FEnd = FBuffer;
};

} // namespace palkor::cli
