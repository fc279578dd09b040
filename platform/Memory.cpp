// The program's operator new records the size of a request it cannot meet, so that the
// message for running out of memory can say how much input asked for.
#include "platform/Memory.h"

#include "platform/Exceptions.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace palkor {

namespace {

thread_local const TReadingScope* CurrentScope = nullptr;
thread_local const TCannotFailScope* CurrentCannotFail = nullptr;
std::atomic<TOutOfMemoryExit> OutOfMemoryExit{nullptr};
thread_local size_t FailedSize = 0;
// What was being read when the request failed, kept past the scopes that unwinding ends.
thread_local char FailedWhat[512];

} // namespace

TReadingScope::TReadingScope(std::string what) : FWhat(std::move(what)), FOuter(CurrentScope) {
  CurrentScope = this;
}

TReadingScope::~TReadingScope() {
  CurrentScope = FOuter;
}

TCannotFailScope::TCannotFailScope(std::string doing)
    : FDoing(std::move(doing)), FOuter(CurrentCannotFail) {
  CurrentCannotFail = this;
}

TCannotFailScope::~TCannotFailScope() {
  CurrentCannotFail = FOuter;
}

void SetOutOfMemoryExit(TOutOfMemoryExit handler) {
  OutOfMemoryExit = handler;
}

void FailAllocation(size_t size) {
  FailedSize = size;
  std::snprintf(FailedWhat, sizeof FailedWhat, "%s",
                CurrentScope ? CurrentScope->FWhat.c_str() : "");
  throw std::bad_alloc();
}

size_t FailedAllocationSize() {
  return FailedSize;
}

std::string OutOfMemoryText() {
  std::string text = FailedWhat[0] ? std::string("Not enough memory to read ") + FailedWhat
                                   : std::string("Not enough memory");
  if (FailedSize > 0) text += Format(": %s bytes asked for", std::to_string(FailedSize));
  return text;
}

void PrefaultForWrite(void* address, size_t size) {
#ifdef MADV_POPULATE_WRITE
  static const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
  const uintptr_t start = (reinterpret_cast<uintptr_t>(address) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(address) + size) & ~(page - 1);
  // A system without it leaves the pages to be faulted in as they are written.
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#else
  (void)address;
  (void)size;
#endif
}

void* AllocateOrThrow(size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* p = std::malloc(size)) return p;
    if (std::new_handler handler = std::get_new_handler()) {
      handler();
      continue;
    }
    if (CurrentCannotFail)
      if (TOutOfMemoryExit exit = OutOfMemoryExit) exit(CurrentCannotFail->Doing(), size);
    FailAllocation(size);
  }
}

THugeBlock::THugeBlock(size_t size) : FSize(size) {
  if (size == 0) return;
  constexpr size_t Huge = size_t(2) << 20;
  // A huge page more than asked for, so that the block can start on a huge page's
  // boundary, where the system can give it whole pages.
  FMappedSize = (size + Huge - 1) / Huge * Huge + Huge;
  void* mapped = ::mmap(nullptr, FMappedSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapped == MAP_FAILED) FailAllocation(size);
  FMapped = static_cast<uint8_t*>(mapped);
  FData = FMapped + (Huge - reinterpret_cast<uintptr_t>(FMapped) % Huge) % Huge;
  ::madvise(FData, FMappedSize - Huge, MADV_HUGEPAGE);
}

THugeBlock::~THugeBlock() {
  if (FMapped) ::munmap(FMapped, FMappedSize);
}

} // namespace palkor

void* operator new(std::size_t size) {
  return palkor::AllocateOrThrow(size);
}

void* operator new[](std::size_t size) {
  return palkor::AllocateOrThrow(size);
}

void operator delete(void* p) noexcept {
  std::free(p);
}

void operator delete[](void* p) noexcept {
  std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
