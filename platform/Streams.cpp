#include "platform/Streams.h"

#include "platform/Memory.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace palkor {

int64_t TStream::Size() {
  int64_t position = Seek(0, TSeekOrigin::Current);
  int64_t size = Seek(0, TSeekOrigin::End);
  Seek(position, TSeekOrigin::Beginning);
  return size;
}

int64_t TStream::SeekTarget(int64_t position, int64_t size, int64_t offset, TSeekOrigin origin) {
  switch (origin) {
  case TSeekOrigin::Beginning:
    return offset;
  case TSeekOrigin::Current:
    return position + offset;
  case TSeekOrigin::End:
    return size + offset;
  }
  return position;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0) throw EReadError();
  if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0) throw EWriteError();
  if (count != 0 && Write(buffer, count) != count) ThrowWriteError();
}

void TStream::ThrowWriteError() const {
  throw EWriteError();
}

std::string TStream::ReadBytes(int64_t count) {
  if (count < 0) throw EReadError();
  // Never allocate more than the stream can supply.
  int64_t position = Position();
  if (position < 0 || count > Size() - position) throw EReadError();
  std::string bytes(size_t(count), '\0');
  ReadBuffer(bytes.data(), count);
  return bytes;
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count < 0) throw EReadError();
  constexpr int64_t ChunkSize = 64 * 1024;
  std::vector<uint8_t> chunk(size_t(std::min(count, ChunkSize)));
  for (int64_t left = count; left > 0;) {
    int64_t n = std::min(left, ChunkSize);
    source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    left -= n;
  }
  return count;
}

uint8_t TStream::ReadU8() {
  uint8_t b;
  ReadBuffer(&b, 1);
  return b;
}

uint16_t TStream::ReadU16LE() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return GetU16LE(b);
}

uint32_t TStream::ReadU32LE() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return GetU32LE(b);
}

float TStream::ReadF32LE() {
  uint32_t bits = ReadU32LE();
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

void TStream::WriteU8(uint8_t value) {
  WriteBuffer(&value, 1);
}

void TStream::WriteU16LE(uint16_t value) {
  uint8_t b[2] = {uint8_t(value), uint8_t(value >> 8)};
  WriteBuffer(b, 2);
}

void TStream::WriteU32LE(uint32_t value) {
  uint8_t b[4];
  PutU32LE(b, value);
  WriteBuffer(b, 4);
}

void TStream::WriteF32LE(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  WriteU32LE(bits);
}

// TMemoryStream

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t size = int64_t(FData.size());
  if (count <= 0 || FPosition < 0 || FPosition >= size) return 0;
  int64_t n = std::min(count, size - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, size_t(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || FPosition < 0) return 0;
  int64_t end = FPosition + count;
  GrowTo(end);
  std::memcpy(FData.data() + FPosition, buffer, size_t(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = SeekTarget(FPosition, int64_t(FData.size()), offset, origin);
  return FPosition;
}

// Makes the data at least size bytes long, for a write of the bytes from the position up
// to size. A gap between the old end and the position reads as zeros.
void TMemoryStream::GrowTo(int64_t size) {
  size_t oldSize = FData.size();
  if (size <= int64_t(oldSize)) return;
  FData.resize(size_t(size));
  if (FPosition > int64_t(oldSize))
    std::memset(FData.data() + oldSize, 0, size_t(FPosition) - oldSize);
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) newSize = 0;
  size_t oldSize = FData.size();
  FData.resize(size_t(newSize));
  if (size_t(newSize) > oldSize) std::memset(FData.data() + oldSize, 0, size_t(newSize) - oldSize);
  if (FPosition > newSize) FPosition = newSize;
}

int64_t TMemoryStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count < 0 || FPosition < 0) throw EReadError();
  // Check what the source can supply before growing, then read straight into place.
  int64_t sourcePosition = source.Position();
  if (sourcePosition < 0 || count > source.Size() - sourcePosition) throw EReadError();
  size_t oldSize = FData.size();
  int64_t end = FPosition + count;
  GrowTo(end);
  try {
    source.ReadBuffer(FData.data() + FPosition, count);
  } catch (...) {
    FData.resize(oldSize);
    throw;
  }
  FPosition = end;
  return count;
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TReadingScope reading("file \"" + fileName + "\"");
  TFileStream file(fileName, TFileMode::OpenRead);
  LoadFromStream(file);
}

void TMemoryStream::LoadFromStream(TStream& source) {
  decltype(FData) old;
  old.swap(FData);
  FPosition = 0;
  try {
    CopyFrom(source, 0);
  } catch (...) {
    FData.swap(old);
    throw;
  }
  FPosition = 0;
}

// TFileStream

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : FFileName(fileName) {
  int flags = O_CLOEXEC;
  switch (mode) {
  case TFileMode::OpenRead:
    flags |= O_RDONLY;
    break;
  case TFileMode::OpenReadWrite:
    flags |= O_RDWR;
    break;
  case TFileMode::Create:
    flags |= O_RDWR | O_CREAT | O_TRUNC;
    break;
  }
  FHandle = ::open(fileName.c_str(), flags, 0666);
  int error = errno;
  if (FHandle >= 0) {
    // A folder opens on this system but is not a file to read or write.
    struct stat st;
    if (::fstat(FHandle, &st) != 0 || S_ISDIR(st.st_mode)) {
      error = S_ISDIR(st.st_mode) ? EISDIR : errno;
      ::close(FHandle);
      FHandle = -1;
    } else {
      FSize = int64_t(st.st_size);
    }
  }
  if (FHandle < 0) {
    if (mode == TFileMode::Create) throw EFCreateError(fileName, SystemErrorText(error));
    throw EFOpenError(fileName, SystemErrorText(error));
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || FPosition < 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(FHandle, out + done, size_t(count - done), FPosition + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  FPosition += done;
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || FPosition < 0) return 0;
  auto* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::pwrite(FHandle, in + done, size_t(count - done), FPosition + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A write that takes nothing without saying why has met a full device.
      FWriteErrno = n < 0 ? errno : ENOSPC;
      break;
    }
    done += n;
  }
  FPosition += done;
  FSize = std::max(FSize, FPosition);
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = SeekTarget(FPosition, FSize, offset, origin);
  return FPosition;
}

void TFileStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EWriteError();
  if (::ftruncate(FHandle, newSize) != 0) throw EWriteError(FFileName, errno);
  FSize = newSize;
}

void TFileStream::Flush() {
  if (::fdatasync(FHandle) != 0 && errno != EINVAL && errno != EROFS)
    throw EWriteError(FFileName, errno);
}

void TFileStream::ThrowWriteError() const {
  if (FWriteErrno != 0) throw EWriteError(FFileName, FWriteErrno);
  throw EWriteError();
}

namespace {

// Waits for an exclusive flock on handle; waiting(true) when that takes more than a
// moment, waiting(false) when it is had after all. "Stream write error" on failure.
void LockHandleExclusive(int handle, const std::function<void(bool)>& waiting) {
  using namespace std::chrono;
  auto tryLock = [handle](int how) {
    int result;
    do result = ::flock(handle, how);
    while (result != 0 && errno == EINTR);
    return result == 0;
  };
  if (tryLock(LOCK_EX | LOCK_NB)) return;
  if (errno != EWOULDBLOCK) throw EWriteError();
  // Another writer holds it: most finish at once; a longer wait is said.
  const auto until = steady_clock::now() + seconds(2);
  while (steady_clock::now() < until) {
    if (tryLock(LOCK_EX | LOCK_NB)) return;
    if (errno != EWOULDBLOCK) throw EWriteError();
    std::this_thread::sleep_for(milliseconds(10));
  }
  if (waiting) waiting(true);
  bool locked = tryLock(LOCK_EX);
  if (waiting) waiting(false);
  if (!locked) throw EWriteError();
}

} // namespace

void TFileStream::LockExclusive(const std::function<void(bool)>& waiting) {
  LockHandleExclusive(FHandle, waiting);
  struct stat st;
  if (::fstat(FHandle, &st) != 0) throw EWriteError();
  FSize = int64_t(st.st_size);
}

TPathLock::TPathLock(const std::string& path, const std::function<void(bool)>& waiting) {
  FHandle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (FHandle < 0) throw EFOpenError(path, SystemErrorText(errno));
  try {
    LockHandleExclusive(FHandle, waiting);
  } catch (...) {
    ::close(FHandle);
    throw;
  }
}

TPathLock::~TPathLock() {
  ::close(FHandle);
}

std::string ReadFileBytes(const std::string& fileName) {
  TFileStream file(fileName, TFileMode::OpenRead);
  return file.ReadBytes(file.Size());
}

} // namespace palkor
