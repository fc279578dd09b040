// Field animation (A file; little-endian, floats IEEE single). B is the skeleton's
// bone-list entry count, the root included:
//
//   0    36 bytes   header: word 1 (offset 4, 32-bit) the frame count as written; the
//                   rest kept as it is
//   36   frames of 12 (B + 1) bytes each, as many as fit whole:
//          +0    12   a triple not used
//          +12   12   entry 0 (the root): X, Y, Z degrees, never drawn
//          +24   12   entry 1, then entries 2 .. B - 1
//
// Entry j's rotation at frame f lies at 36 + 12 + 12 j + f 12 (B + 1).
#include "field/AnimLayout.h"

#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <cstring>

namespace palkor {

namespace {

constexpr int64_t TripleSize = 12;
constexpr int64_t HeaderFrameCountOffset = 4;

// The rotation's address when entry and frame are inside the skeleton and the rotation
// inside size bytes; -1 otherwise.
int64_t CheckedRotationAddress(int64_t size, int32_t boneListCount, int32_t entry, int32_t frame) {
  if (entry < 0 || entry >= boneListCount || frame < 0) return -1;
  const int64_t address = AnimRotationAddress(boneListCount, entry, frame);
  return address + TripleSize <= size ? address : -1;
}

} // namespace

int64_t AnimFrameSize(int32_t boneListCount) {
  return TripleSize * (int64_t(boneListCount) + 1);
}

int32_t AnimFrameCount(int64_t animSize, int32_t boneListCount) {
  if (animSize < AnimHeaderSize) return 0;
  return int32_t((animSize - AnimHeaderSize) / AnimFrameSize(boneListCount));
}

int64_t AnimFrameAddress(int32_t boneListCount, int32_t frame) {
  return AnimHeaderSize + int64_t(frame) * AnimFrameSize(boneListCount);
}

int64_t AnimRotationAddress(int32_t boneListCount, int32_t entry, int32_t frame) {
  return AnimFrameAddress(boneListCount, frame) + TripleSize + TripleSize * int64_t(entry);
}

TVec3 AnimRotation(std::string_view anim, int32_t boneListCount, int32_t entry, int32_t frame) {
  const int64_t address = CheckedRotationAddress(int64_t(anim.size()), boneListCount, entry, frame);
  if (address < 0) throw EReadError();
  const uint8_t* p = reinterpret_cast<const uint8_t*>(anim.data()) + address;
  return {GetF32LE(p), GetF32LE(p + 4), GetF32LE(p + 8)};
}

void SetAnimRotation(std::span<uint8_t> anim, int32_t boneListCount, int32_t entry, int32_t frame,
                     const TVec3& rotation) {
  const int64_t address = CheckedRotationAddress(int64_t(anim.size()), boneListCount, entry, frame);
  if (address < 0) throw EWriteError();
  uint8_t* p = anim.data() + address;
  for (float value : {rotation.X, rotation.Y, rotation.Z}) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    PutU32LE(p, bits);
    p += 4;
  }
}

int32_t AnimHeaderFrameCount(std::string_view header) {
  if (int64_t(header.size()) < HeaderFrameCountOffset + 4) return 0;
  return GetI32LE(reinterpret_cast<const uint8_t*>(header.data()) + HeaderFrameCountOffset);
}

void SetAnimHeaderFrameCount(std::string& header, uint32_t frames) {
  if (int64_t(header.size()) < HeaderFrameCountOffset + 4) throw EWriteError();
  PutU32LE(reinterpret_cast<uint8_t*>(header.data()) + HeaderFrameCountOffset, frames);
}

} // namespace palkor
