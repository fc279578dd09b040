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

// Code in which a request for memory must not fail: some libraries leave an object
// broken, or allocate in a destructor, when one does (the JSON writer under the glTF
// export does both), and the program would then crash or abort. Inside such a scope a
// request that cannot be met goes to the handler set with SetOutOfMemoryExit, which ends
// the process its own way; with no handler set it fails as anywhere else.
class TCannotFailScope {
public:
  // doing: what the scope does, for the handler's message ("export KNIG").
  explicit TCannotFailScope(std::string doing);
  ~TCannotFailScope();
  TCannotFailScope(const TCannotFailScope&) = delete;
  TCannotFailScope& operator=(const TCannotFailScope&) = delete;

  const char* Doing() const { return FDoing.c_str(); }

private:
  std::string FDoing;
  const TCannotFailScope* FOuter;
};

// Called, on the thread whose request failed, with the innermost scope's doing and the
// size asked for; it must not return, and may use only what needs no memory. Any
// thread may call it, more than once at the same time.
using TOutOfMemoryExit = void (*)(const char* doing, size_t size);
void SetOutOfMemoryExit(TOutOfMemoryExit handler);

// The size of the running thread's last request that could not be met, 0 for none.
size_t FailedAllocationSize();

// One line for a std::bad_alloc caught now: what was being read and how much was asked
// for ("Not enough memory to read archive "x.lgp": 48000000000 bytes asked for").
std::string OutOfMemoryText();

// Makes the pages wholly inside [address, address + size) present and writable in one
// call to the system, where it offers that, instead of one page fault a page as they are
// first written: for a large block that is about to be filled whole. Changes no byte.
void PrefaultForWrite(void* address, size_t size);

} // namespace palkor
