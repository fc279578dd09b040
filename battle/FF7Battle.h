#pragma once

#include "archive/lgpstruct.h"
#include "field/ff73d.h"
#include "platform/Streams.h"

#include <GL/gl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace palkor {

// Reads bits most significant first from the bytes of a stream, in stream order.
// Running out of bytes fails with "Stream read error".
class TBitReader {
public:
  explicit TBitReader(TStream& stream) : FStream(stream) {}

  int32_t ReadBit();
  // count bits, the first read the most significant; with isSigned the top bit is
  // extended. count <= 0 reads nothing and gives 0.
  int32_t ReadBits(int32_t count, bool isSigned);
  // A rotation change in units of 2^shift; raw is set for an uncompressed value.
  int16_t ReadRotationDelta(int32_t shift, bool& raw);
  // A root offset change: 7 or 16 signed bits behind a 1-bit flag.
  int16_t ReadOffsetDelta();

private:
  uint8_t NextByte();

  TStream& FStream;
  uint8_t FCurrentByte = 0;
  int32_t FBitsLeft = 0;
  // Bytes fetched from the stream ahead of use, so that it is not called per byte.
  uint8_t FChunk[4096];
  int32_t FChunkPosition = 0;
  int32_t FChunkLength = 0;
};

// One rotation triple, 4096 units per turn, kept in 0 .. 4095.
struct TBattleRotation {
  int16_t X = 0, Y = 0, Z = 0;
};

struct TBattleFrame {
  int32_t OffsetX = 0, OffsetY = 0, OffsetZ = 0;
  std::vector<TBattleRotation> Rotations; // entry 0 the root, then one per bone
};

struct TBattleAnim {
  int32_t RotationCount = 0;
  std::vector<TBattleFrame> Frames;
};

// The animations of a battle model, decoded at once from its "da" member.
class TBattleAnims {
public:
  // Decodes from the stream's position to the end of the last record and leaves the
  // stream after it. "Stream read error" when the member ends early.
  explicit TBattleAnims(TStream& stream);
  std::vector<TBattleAnim> Anims;
};

struct TBattleBone {
  int32_t Parent = -1; // -1 hangs from the model's root
  float Length = 0;    // to the children's joints, along -Z
};

// A battle model: skeleton ("aa"), textures (after "ab", before "am"), parts ("am" on,
// one per bone with a part) and animations ("da"), gathered by the model's two-letter
// code.
class TBattleModel {
public:
  using TMemberList = std::vector<std::pair<std::string, std::unique_ptr<TMemoryStream>>>;

  // Reads the members code + "aa" .. code + "zz" that the archive holds, and builds.
  void LoadFromArchive(TLGPFile& archive, const std::string& code);
  // Builds from (suffix, data) entries sorted by suffix. Textures are made in the
  // current rendering context.
  void LoadFromList(TMemberList& list);

  // Frames of the current animation (AnimIndex is first brought into range); 0 when the
  // model has no animations.
  int32_t FrameCount();
  int32_t AnimCount() const { return Anims ? int32_t(Anims->Anims.size()) : 0; }
  // Draws posed at Frame of AnimIndex, mirrored in X, at the current transform.
  void Draw();
  // Draws bone and everything hanging from it, posed by frame, at the current transform.
  void DrawBone(int32_t bone);

  std::vector<std::unique_ptr<TFF7PPart>> Parts; // one per bone, or none
  std::unique_ptr<TBattleAnims> Anims;
  std::vector<TBattleBone> Bones;
  int32_t BoneCount = 0;
  int32_t AnimIndex = 0;
  int32_t Frame = 0;
  int32_t PolyTotal = 0;
  // Texture names in member order; every part lists them all.
  std::vector<GLuint> Textures;

private:
  // The frame to draw, with AnimIndex and Frame brought into range; none without frames.
  const TBattleFrame* CurrentFrame();
  void DrawFrom(int32_t bone, const TBattleFrame* frame);
};

// Degrees of a battle rotation value: value x 360 / 4096.
float BattleAngle(int32_t value);

} // namespace palkor
