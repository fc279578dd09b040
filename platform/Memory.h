#pragma once

#include <cstddef>
#include <string>

namespace palkor {

// Fails a request for size bytes as the program's operator new does: remembers the size
// and what is being read for OutOfMemoryText, and throws std::bad_alloc.
[[noreturn]] void FailAllocation(size_t size);

// What the running thread is reading, for the message of a request for memory that
// cannot be met; scopes nest, the innermost naming what is read.
class TReadingScope {
public:
  explicit TReadingScope(std::string what);
  ~TReadingScope();
  TReadingScope(const TReadingScope&) = delete;
  TReadingScope& operator=(const TReadingScope&) = delete;

private:
  friend void FailAllocation(size_t size);
  std::string FWhat;
  const TReadingScope* FOuter;
};

// One line for a std::bad_alloc caught now: what was being read and how much was asked
// for ("Not enough memory to read archive "x.lgp": 48000000000 bytes asked for").
std::string OutOfMemoryText();

} // namespace palkor
