#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
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

// A block of memory for the large working arrays of one pass (the tables of tens of
// thousands of members, frames kept by the megabyte), asked of the system in huge pages
// where it has them: where each first touch of a 4 KB page costs the system dearly (more
// so while a second thread of the process runs), a pass that fills a megabyte then pays
// for one page, not 256. Its bytes start cleared; it is given back whole.
class THugeBlock {
public:
  // Fails as the program's operator new does when the system has no memory.
  explicit THugeBlock(size_t size);
  ~THugeBlock();
  THugeBlock(const THugeBlock&) = delete;
  THugeBlock& operator=(const THugeBlock&) = delete;

  uint8_t* Data() const { return FData; }
  size_t Size() const { return FSize; }
  // Room for count objects of T after what was taken before (each object made, as for
  // a type that needs no constructor); fails as above when the block has no more.
  template <typename T>
  T* Take(size_t count) {
    const size_t at = (FTaken + alignof(T) - 1) / alignof(T) * alignof(T);
    if (count > (FSize - std::min(at, FSize)) / sizeof(T)) FailAllocation(count * sizeof(T));
    FTaken = at + count * sizeof(T);
    return new (FData + at) T[count];
  }

private:
  uint8_t* FMapped = nullptr;
  uint8_t* FData = nullptr;
  size_t FMappedSize = 0, FSize = 0, FTaken = 0;
};

} // namespace palkor
