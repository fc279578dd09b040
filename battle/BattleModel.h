#pragma once

#include "archive/LGPFile.h"
#include "archive/SubStream.h"
#include "field/FieldModel.h"
#include "geometry/Skeleton.h"
#include "platform/Streams.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <memory_resource>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace palkor {

// Reads bits most significant first from the bytes of a stream, in stream order.
// Running out of bytes fails with "Stream read error"; a byte is taken from the stream
// only when one of its bits is needed.
class TBitReader {
public:
  explicit TBitReader(TStream& stream) : FStream(stream) {}

  int32_t ReadBit() { return ReadBits(1, false); }
  // count bits, the first read the most significant; with isSigned the top bit is
  // extended. count <= 0 reads nothing and gives 0.
  inline int32_t ReadBits(int32_t count, bool isSigned) {
    if (count <= 0) return 0;
    if (count > 32) return ReadLongBits(count, isSigned);
    if (FBitCount < count) {
      Refill();
      if (FBitCount < count) throw EReadError();
    }
    uint32_t value = uint32_t(FBits >> (64 - count));
    FBits <<= count;
    FBitCount -= count;
    if (isSigned && count < 32 && ((value >> (count - 1)) & 1)) value |= ~0u << count;
    return int32_t(value);
  }
  // A rotation change in units of 2^shift (shift 0 to 12); raw is set for an
  // uncompressed value. Type 0 is -1; types 1 to 6 hold 2^(t-1) .. 2^t - 1 upwards and
  // 2^(t-1) + 1 .. 2^t downwards; type 7 a raw (12 - shift)-bit value.
  int16_t ReadRotationDelta(int32_t shift, bool& raw) {
    // Every code but the raw one is at most 10 bits long: look it up whole.
    if (FBitCount < 10) Refill();
    if (FBitCount >= 10) {
      const TRotationCode& code = RotationCodes()[FBits >> 54];
      if (code.Length != 0) {
        FBits <<= code.Length;
        FBitCount -= code.Length;
        raw = false;
        return int16_t(uint16_t(uint32_t(code.Value) << shift));
      }
    }
    return ReadRotationDeltaByFields(shift, raw);
  }
  // A root offset change: 7 or 16 signed bits behind a 1-bit flag.
  int16_t ReadOffsetDelta() {
    if (FBitCount < 17) Refill();
    if (FBitCount >= 17) {
      const int32_t width = FBits >> 63 ? 16 : 7;
      const auto value = int16_t(int64_t(FBits << 1) >> (64 - width));
      FBits <<= 1 + width;
      FBitCount -= 1 + width;
      return value;
    }
    if (ReadBits(1, true) == 0) return int16_t(ReadBits(7, true));
    return int16_t(ReadBits(16, true));
  }
  // The rotation codes by their first 10 bits at one shift: the change a code makes to a
  // value of 0 .. 4095 (added, then kept to 12 bits) and its length; length 0 for the
  // raw code, which is read field by field.
  struct TShiftedCode {
    uint16_t Delta;
    uint8_t Length;
  };
  using TShiftedCodes = std::array<TShiftedCode, 1024>;
  static void MakeShiftedCodes(int32_t shift, TShiftedCodes& codes);
  // A frame's rotations: count triples of changes (codes made for shift), each added to
  // its value in place, which stays in 0 .. 4095; onRaw(rotation, axis) is called after
  // an uncompressed value. The same as ReadRotationDelta for every value, with the bits
  // at hand kept in registers and fetched once a triple.
  template <typename TRotation, typename TOnRaw>
  void ReadRotations(TRotation* values, int32_t count, int32_t shift, const TShiftedCodes& codes,
                     TOnRaw onRaw);
  // The length of every code by its first 10 bits at one shift, the raw code's
  // (4 + 12 - shift bits) included.
  using TCodeLengths = std::array<uint8_t, 1024>;
  static void MakeCodeLengths(int32_t shift, TCodeLengths& lengths);
  // The codes that lie whole in the first RunBits bits, by those bits: how many
  // (bits 15-8) and their length in all (bits 7-0); 0 where the first code does not fit.
  static constexpr int32_t RunBits = 14;
  using TCodeRuns = std::array<uint16_t, size_t(1) << RunBits>;
  static void MakeCodeRuns(int32_t shift, TCodeRuns& runs);
  // Passes over the bits ReadRotations reads for count triples, keeping nothing, and
  // fails where it would: a code needs more bits than are left. Runs of short codes are
  // passed over a run at a time.
  void SkipRotations(int32_t count, const TCodeLengths& lengths, const TCodeRuns& runs);

private:
  // A rotation code by its first 10 bits: its length and value, or length 0 for the
  // raw code, which is read bit field by bit field.
  struct TRotationCode {
    uint8_t Length;
    int8_t Value;
  };
  static const TRotationCode* RotationCodes() { return FRotationCodes.data(); }
  static std::array<TRotationCode, 1024> MakeRotationCodes();
  static const std::array<TRotationCode, 1024> FRotationCodes;
  // The code read field by field: the raw code, and any code at the end of the stream.
  int16_t ReadRotationDeltaByFields(int32_t shift, bool& raw);
  // Fetches whole bytes until at least 57 bits are at hand or the stream has no more;
  // never fails: running out is found by the read that needs the missing bits.
  void Refill() {
    // Eight bytes at once while the chunk has them: the whole bytes that fit are
    // counted; the bits of a byte that does not fit land where that byte's own bits will
    // be put again by the next refill, so they change nothing.
    if (FChunkLength - FChunkPosition >= 8) {
      uint64_t next;
      std::memcpy(&next, FChunk + FChunkPosition, 8);
      FBits |= __builtin_bswap64(next) >> FBitCount;
      const int32_t bytes = (64 - FBitCount) >> 3;
      FChunkPosition += bytes;
      FBitCount += bytes * 8;
      return;
    }
    while (FBitCount <= 56) {
      if (FChunkPosition == FChunkLength && !FillChunk()) return;
      FBits |= uint64_t(FChunk[FChunkPosition++]) << (56 - FBitCount);
      FBitCount += 8;
    }
  }
  // The next bytes of the stream into the chunk; false at its end.
  bool FillChunk();
  int32_t ReadLongBits(int32_t count, bool isSigned);

  TStream& FStream;
  // Bits fetched but not yet read, the next one in the top bit.
  uint64_t FBits = 0;
  int32_t FBitCount = 0;
  // Bytes fetched from the stream ahead of use, so that it is not called per byte.
  uint8_t FChunk[4096];
  int32_t FChunkPosition = 0;
  int32_t FChunkLength = 0;
};

// One rotation triple, 4096 units per turn, kept in 0 .. 4095.
struct TBattleRotation {
  int16_t X = 0, Y = 0, Z = 0;
};

template <typename TRotation, typename TOnRaw>
void TBitReader::ReadRotations(TRotation* values, int32_t count, int32_t shift,
                               const TShiftedCodes& codes, TOnRaw onRaw) {
  uint64_t bits = FBits;
  int32_t bitCount = FBitCount;
  auto next = [&](int16_t & value, int32_t r, int32_t axis) __attribute__((always_inline)) {
    const TShiftedCode code = codes[bits >> 54];
    if (code.Length != 0 && bitCount >= 10) {
      bits <<= code.Length;
      bitCount -= code.Length;
      value = int16_t((value + code.Delta) & 4095);
      return;
    }
    // The raw code, or too few bits left for a whole code: field by field.
    FBits = bits;
    FBitCount = bitCount;
    bool raw = false;
    const int16_t delta = ReadRotationDeltaByFields(shift, raw);
    bits = FBits;
    bitCount = FBitCount;
    value = int16_t((value + delta) & 4095);
    if (raw) onRaw(r, axis);
  };
  for (int32_t r = 0; r < count; ++r) {
    // Three short codes take at most 30 bits.
    if (bitCount < 30) {
      FBits = bits;
      FBitCount = bitCount;
      Refill();
      bits = FBits;
      bitCount = FBitCount;
    }
    next(values[r].X, r, 0);
    next(values[r].Y, r, 1);
    next(values[r].Z, r, 2);
  }
  FBits = bits;
  FBitCount = bitCount;
}

struct TBattleFrame {
  int32_t OffsetX = 0, OffsetY = 0, OffsetZ = 0;
  // Entry 0 the root, then one per bone. Decoded frames take their arrays from their
  // animations' memory pool; a copy of a frame has its own.
  std::pmr::vector<TBattleRotation> Rotations;
};

// One record of an animations member that holds frames to decode: its header's counts
// and where its block and bit stream lie in the member.
struct TBattleRecord {
  // Its place among all the member's records, those passed over included.
  int32_t Number = 0;
  int32_t RotationCount = 0, FrameCount = 0, Shift = 0;
  // From the record's header to the end of its block (or of the member, for a block
  // that claims more).
  int64_t RecordStart = 0, RecordEnd = 0;
  // The bit stream, which ends with the block or the member.
  int64_t StreamStart = 0, StreamLength = 0;
};

// Walks the records of an animations member from the stream's position and calls decode
// for each that has frames to decode, in order, before the next record's header is
// read; leaves the stream after the last record. Records without frames, with a
// negative rotation count or a shift above 12 are passed over. decode may move the
// stream. "Stream read error" when the member ends inside a record's header or its bit
// stream is too short for its counts' first frames; an Exception for a negative block
// size or more rotations than the member has bits.
void WalkBattleRecords(TStream& stream, const std::function<void(const TBattleRecord&)>& decode);

// The frames of one record decoded one after another into a single frame, each from the
// one before: a pass over the frames that keeps none of them. The stream is the member,
// borrowed; the decoder reads it through a window of its own.
class TBattleFrameDecoder {
public:
  // log: the debug log gets the lines decoding writes (uncompressed values, record 14).
  TBattleFrameDecoder(TStream& member, const TBattleRecord& record, bool log);
  // Decodes frame FrameIndex() into Frame(): frame 0 on the first call, then each from
  // the one before. "Stream read error" when the bit stream ends first.
  void Next();
  // Passes over the next frame as Next would read it, leaving Frame() as it was after
  // frame 0 (the same failures, no log).
  void Skip();
  const TBattleFrame& Frame() const { return FFrame; }
  // The frame the next call decodes.
  int32_t FrameIndex() const { return FNext; }

private:
  TSubStream FWindow;
  TBitReader FReader;
  const TBattleRecord FRecord;
  const bool FLog;
  TBattleFrame FFrame;
  int32_t FNext = 0;
  TBitReader::TShiftedCodes FCodes;
  TBitReader::TCodeLengths FLengths;
  // Made by the first Skip: a pass that decodes never needs them.
  std::unique_ptr<TBitReader::TCodeRuns> FRuns;
};

// The records an animations member holds (those TBattleAnims decodes), each decoded once
// to be sure it can be, keeping no frames: fails as TBattleAnims does. For a pass that
// then decodes the frames as it goes and must not fail half way.
std::vector<TBattleRecord> CheckBattleRecords(TStream& member);

struct TBattleAnim {
  int32_t RotationCount = 0;
  std::vector<TBattleFrame> Frames;
  // Where its record lies in the stream it was decoded from: from the record's header
  // to the end of its block (or of the stream, for a block that claims more).
  int64_t RecordStart = 0, RecordEnd = 0;
};

// The animations of a battle model, decoded at once from its "da" member.
class TBattleAnims {
  // Every decoded frame's rotations, allocated in blocks and freed together: a member
  // holds hundreds of thousands of small frames. Declared first, so it goes last.
  std::unique_ptr<std::pmr::monotonic_buffer_resource> FPool =
      std::make_unique<std::pmr::monotonic_buffer_resource>(LargeBlocks());
  // The pool's source: large blocks are mapped with their pages filled in at once.
  static std::pmr::memory_resource* LargeBlocks();

public:
  // Decodes from the stream's position to the end of the last record and leaves the
  // stream after it. "Stream read error" when the member ends early.
  explicit TBattleAnims(TStream& stream);
  TBattleAnims(TBattleAnims&&) = default;
  // Assigning would free the pool under the frames it replaces.
  TBattleAnims& operator=(TBattleAnims&&) = delete;
  std::vector<TBattleAnim> Anims;
};

// Writes bits most significant first: the inverse of TBitReader.
class TBitWriter {
public:
  void Write(uint32_t value, int count);
  const std::string& Bytes() const { return FBytes; }
  size_t BitCount() const { return FBits; }

private:
  std::string FBytes;
  size_t FBits = 0;
};

// Choices an encoding leaves open; tests force the longer codes with them.
struct TBattleEncodeOptions {
  // Rotation changes written as raw codes: (frame, value index within the frame).
  std::set<std::pair<int32_t, int32_t>> Raw;
  // Frames whose offset changes are written as 16-bit values whatever their size.
  std::set<int32_t> LongOffsets;
};

// The largest shift (0 to 12) at which every rotation value of frames is a whole number
// of units, so that encoding at it keeps every value.
int32_t BattleShiftFor(const std::vector<TBattleFrame>& frames);

// The bit stream of an animation as the decoder reads it: frame 0 absolute, each later
// frame as offset and rotation changes in the shortest code that holds them. Every frame
// has the same number of rotations, values in 0 .. 4095 and multiples of 2^shift, frame
// 0 has no offsets, and offsets change by at most 32767 a frame; otherwise Exception
// "Cannot encode the battle animation: %s".
std::string EncodeBattleStream(const std::vector<TBattleFrame>& frames, int32_t shift,
                               const TBattleEncodeOptions& options = {});
// A whole record: rotation count, frame count, block size, and the block (4 bytes, the
// shift, 6 bytes, the stream).
std::string BattleRecord(int32_t rotationCount, int32_t frameCount, int32_t shift,
                         const std::string& stream);
// The frames encoded as a record at the shift that keeps their values.
std::string EncodeBattleRecord(const std::vector<TBattleFrame>& frames);
// The animations member with the record of anim (decoded from it) replaced by record;
// every other byte as it was.
std::string ReplaceBattleRecord(std::string_view member, const TBattleAnim& anim,
                                const std::string& record);

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

  // Reads the members code + "aa" .. code + "zz" that the archive holds, and builds;
  // remembers the archive and the code for saving. With decodeAnims false the
  // animations are left undecoded: Anims stays empty and AnimsMember holds their member
  // (for a pass that decodes the frames as it goes).
  void LoadFromArchive(TLGPFile& archive, const std::string& code, bool decodeAnims = true);
  // Builds from (suffix, data) entries sorted by suffix, with the textures decoded.
  void LoadFromList(TMemberList& list, bool decodeAnims = true);
  // The records of AnimsMember, each decoded once to be sure it can be (for a pass that
  // then decodes the frames as it goes and must not fail half way): fails as decoding
  // them while loading does.
  std::vector<TBattleRecord> CheckAnims();
  // The same read from another stream over AnimsMember's bytes (on a thread of its own
  // while AnimsMember is read).
  std::vector<TBattleRecord> CheckAnims(TStream& member) const;
  // Where the animations start in AnimsMember.
  int64_t AnimsStart() const { return FAnimsStart; }

  int32_t AnimCount() const { return Anims ? int32_t(Anims->Anims.size()) : 0; }
  // An animation index brought into range: taken modulo the animation count, 0 when the
  // model has no animations.
  int32_t AnimationIndex(int32_t anim) const;
  // Frames of animation anim, brought into range; 0 when the model has no animations.
  int32_t FrameCount(int32_t anim) const;
  // Frame frame of animation anim, both brought into range (a frame one past the last is
  // frame 0 again); none without frames.
  const TBattleFrame* FrameAt(int32_t anim, int32_t frame) const;
  // The bones as drawn at frame (the rest pose for none), from base: base times the
  // mirror in X is the root's place, the root moves by the frame's offsets and turns by
  // its rotation, and bones without a parent hang from it. Bones whose parents do not
  // lead to the root are not listed. Where a frame has fewer rotations than the
  // skeleton, the bones without one are unturned.
  std::vector<TPosedJoint> PoseJoints(const TBattleFrame* frame, const TMatrix4& base) const;
  // Bone and everything hanging from it, posed by frame, from base (bone's parent
  // joint).
  std::vector<TPosedJoint> PoseFrom(int32_t bone, const TBattleFrame* frame,
                                    const TMatrix4& base) const;
  // The root's move inside the mirror at frame, and a bone's turn (entry bone + 1).
  static TMatrix4 RootMove(const TBattleFrame* frame);
  static TMatrix4 BoneTurn(const TBattleFrame* frame, int32_t bone);
  const std::vector<std::vector<int32_t>>& Children() const { return FChildren; }

  // Replaces the frames of animation index in memory and marks it modified, or, with
  // modified false, as read (an edit taken back). Every frame needs the same number of
  // rotations.
  void SetAnimation(int32_t index, std::vector<TBattleFrame> frames, bool modified = true);
  bool AnimationModified(int32_t index) const { return FModifiedAnims.count(index) != 0; }
  // Writes the modified animations into the archive's animations member, each record
  // encoded anew and every other byte as it was, as saving a field animation does; the
  // animations are then as read back. Nothing is written when none is modified.
  void SaveAnimations();
  bool Modified() const { return !FModifiedAnims.empty(); }

  std::vector<std::unique_ptr<TFF7PPart>> Parts; // one per bone, or none
  std::unique_ptr<TBattleAnims> Anims;
  // The animations member, when loaded without decoding it: from the archive, read from
  // it as it is used (the archive stays open while the model keeps it).
  std::unique_ptr<TStream> AnimsMember;
  std::vector<TBattleBone> Bones;
  int32_t BoneCount = 0;
  int32_t PolyTotal = 0;
  // Decoded textures in member order; every part lists them all.
  std::vector<std::shared_ptr<const TTexImage>> Textures;
  // Where the model was read from (LoadFromArchive).
  std::string LGPFileName;
  const TLGPFileClass* LGPClass = nullptr;
  std::string Code;

private:
  // Children of each bone in index order, found once at load.
  std::vector<std::vector<int32_t>> FChildren;
  std::set<int32_t> FModifiedAnims;
  // Where the animations start in AnimsMember.
  int64_t FAnimsStart = 0;
};

// Degrees of a battle rotation value: value x 360 / 4096.
float BattleAngle(int32_t value);

} // namespace palkor
