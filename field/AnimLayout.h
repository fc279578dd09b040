#pragma once

#include "geometry/Matrix.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace palkor {

// The layout of a field animation (an A file) for a skeleton of boneListCount bone-list
// entries (the root included): a header, then whole frames of one rotation triple per
// entry after a leading triple. Every offset into A data is found here; field/AnimLayout.cpp
// holds the table.
constexpr int64_t AnimHeaderSize = 36;
// The two triples that begin every frame: the first is not used, the second is the
// root entry's rotation, which is never drawn.
constexpr int64_t AnimLeadingSize = 24;

int64_t AnimFrameSize(int32_t boneListCount);
// The whole frames that animSize bytes hold; 0 below the header.
int32_t AnimFrameCount(int64_t animSize, int32_t boneListCount);
// Where frame begins (its leading triples).
int64_t AnimFrameAddress(int32_t boneListCount, int32_t frame);
// Where entry's rotation at frame lies: entry 0 is the root, its triple the frame's second.
int64_t AnimRotationAddress(int32_t boneListCount, int32_t entry, int32_t frame);

// Entry's rotation (X, Y, Z degrees) at frame; "Stream read error" for an entry outside
// the skeleton or a rotation outside the bytes.
TVec3 AnimRotation(std::string_view anim, int32_t boneListCount, int32_t entry, int32_t frame);
// Writes entry's rotation at frame into the bytes, which never grow: "Stream write error"
// for an entry outside the skeleton or a rotation outside them.
void SetAnimRotation(std::span<uint8_t> anim, int32_t boneListCount, int32_t entry, int32_t frame,
                     const TVec3& rotation);
inline void SetAnimRotation(std::string& anim, int32_t boneListCount, int32_t entry, int32_t frame,
                            const TVec3& rotation) {
  SetAnimRotation({reinterpret_cast<uint8_t*>(anim.data()), anim.size()}, boneListCount, entry,
                  frame, rotation);
}

// The header's frame count word as written (files do not always hold the true count).
int32_t AnimHeaderFrameCount(std::string_view header);
void SetAnimHeaderFrameCount(std::string& header, uint32_t frames);

} // namespace palkor
