#pragma once

#include <cstddef>
#include <string>

namespace palkor {

// What the running thread is reading, for the message of a request for memory that
// cannot be met; scopes nest, the innermost naming what is read.
class TReadingScope {
public:
  explicit TReadingScope(std::string what);
  ~TReadingScope();
  TReadingScope(const TReadingScope&) = delete;
  TReadingScope& operator=(const TReadingScope&) = delete;

private:
  std::string FWhat;
  const TReadingScope* FOuter;
};

// The size of the last request for memory this thread could not have (0: none).
size_t FailedAllocationSize();

// One line for a std::bad_alloc caught now: what was being read and how much was asked
// for ("Not enough memory to read archive "x.lgp": 48000000000 bytes asked for").
std::string OutOfMemoryText();

} // namespace palkor
