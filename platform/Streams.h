#pragma once

#include "platform/Exceptions.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace palkor {

enum class TSeekOrigin { Beginning, Current, End };

// A seekable byte stream. Read and Write move what they can and return the count;
// ReadBuffer and WriteBuffer move exactly n bytes or fail with "Stream read error" /
// "Stream write error". Positions may be set anywhere; reading outside 0 .. Size
// yields no bytes.
class TStream {
public:
  virtual ~TStream() = default;

  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(int64_t newSize) {}

  int64_t Position() { return Seek(0, TSeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::Beginning); }
  // Found through Seek; leaves the position where it was.
  virtual int64_t Size();

  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  void WriteBytes(std::string_view bytes) { WriteBuffer(bytes.data(), int64_t(bytes.size())); }
  std::string ReadBytes(int64_t count);

  // Copies count bytes from source's current position to this stream's position.
  // count 0 copies the whole of source from its position 0. Returns the count copied.
  virtual int64_t CopyFrom(TStream& source, int64_t count);

  // True for a stream whose bytes are length bytes of an open file from offset on, with
  // the file's descriptor: they can then be copied from file to file by the kernel.
  virtual bool FileBytes(int& handle, int64_t& offset, int64_t& length) { return false; }

  uint8_t ReadU8();
  uint16_t ReadU16LE();
  int16_t ReadI16LE() { return int16_t(ReadU16LE()); }
  uint32_t ReadU32LE();
  int32_t ReadI32LE() { return int32_t(ReadU32LE()); }
  float ReadF32LE();

  void WriteU8(uint8_t value);
  void WriteU16LE(uint16_t value);
  void WriteI16LE(int16_t value) { WriteU16LE(uint16_t(value)); }
  void WriteU32LE(uint32_t value);
  void WriteI32LE(int32_t value) { WriteU32LE(uint32_t(value)); }
  void WriteF32LE(float value);

protected:
  // Throws "Stream write error" for a Write that moved less than asked; a stream that
  // knows why says so after it.
  [[noreturn]] virtual void ThrowWriteError() const;
  // The position a seek arrives at from position in a stream of size bytes.
  static int64_t SeekTarget(int64_t position, int64_t size, int64_t offset, TSeekOrigin origin);
};

// Little-endian values assembled from bytes in a buffer the caller has checked.
inline uint16_t GetU16LE(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t GetU32LE(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline int32_t GetI32LE(const uint8_t* p) {
  return int32_t(GetU32LE(p));
}
inline float GetF32LE(const uint8_t* p) {
  uint32_t bits = GetU32LE(p);
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}
inline void PutU32LE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// An allocator that leaves new bytes uninitialised: a memory stream grows to receive
// data that is copied in at once, so zero-filling first would only cost time.
template <typename T>
struct TUninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = TUninitialisedAllocator<U>;
  };
  using std::allocator<T>::allocator;
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// A growable stream in memory.
class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string_view bytes) : FData(bytes.begin(), bytes.end()) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int64_t Size() override { return int64_t(FData.size()); }
  int64_t CopyFrom(TStream& source, int64_t count) override;

  uint8_t* Memory() { return FData.data(); }
  const uint8_t* Memory() const { return FData.data(); }
  std::string_view View() const {
    return {reinterpret_cast<const char*>(FData.data()), FData.size()};
  }
  void Clear();
  // Replaces the contents with the whole file; the position ends at 0.
  void LoadFromFile(const std::string& fileName);
  void LoadFromStream(TStream& source);

private:
  void GrowTo(int64_t size);

  std::vector<uint8_t, TUninitialisedAllocator<uint8_t>> FData;
  int64_t FPosition = 0;
};

enum class TFileMode { OpenRead, OpenReadWrite, Create };

// A file opened by name. OpenRead and OpenReadWrite fail on a missing file with
// "Cannot open file "%s". %s"; Create makes or empties the file and fails with
// "Cannot create file "%s". %s". Other programs may read and write the file meanwhile.
class TFileStream : public TStream {
public:
  TFileStream(const std::string& fileName, TFileMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  // The size when the file was opened, grown by what this stream wrote: changes other
  // programs make meanwhile are not seen.
  int64_t Size() override { return FSize; }

  // Pushes what was written to the disk; "Stream write error" when the system refuses.
  void Flush();
  const std::string& FileName() const { return FFileName; }
  // The system's handle of the file, for reads that leave the stream's position alone.
  int Handle() const { return FHandle; }
  // Takes an exclusive advisory lock on the file, held until the stream is closed, and
  // learns its size again (other writers may have changed it before the lock was had).
  // Other holders of the lock are waited for; waiting(true) is called when that takes
  // more than a moment and waiting(false) when the lock is had after all.
  void LockExclusive(const std::function<void(bool)>& waiting);

protected:
  [[noreturn]] void ThrowWriteError() const override;

private:
  std::string FFileName;
  int FWriteErrno = 0; // why the last short write stopped
  int FHandle = -1;
  int64_t FPosition = 0;
  int64_t FSize = 0;
};

// An exclusive advisory lock on a file or folder, held while the object lives; other
// holders are waited for as TFileStream::LockExclusive waits. "Cannot open file "%s". %s"
// when the path cannot be opened.
class TPathLock {
public:
  TPathLock(const std::string& path, const std::function<void(bool)>& waiting);
  ~TPathLock();
  TPathLock(const TPathLock&) = delete;
  TPathLock& operator=(const TPathLock&) = delete;

private:
  int FHandle = -1;
};

// Whole-file helpers.
std::string ReadFileBytes(const std::string& fileName);

} // namespace palkor
