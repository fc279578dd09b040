// Battle model members (little-endian):
//
// skeleton "aa": 12 bytes unread, bone count (signed 32-bit) at 12, 36 bytes unread,
//   then from 52 one 12-byte record per bone: parent (-1 for the root), length (float),
//   part flag (1: the next part member belongs to this bone)
// animations "da": record count (signed 32-bit), then per record: rotation count n,
//   frame count m, block size S (all signed 32-bit) and S bytes of block. A block of at
//   least 11 bytes holds 4 unread bytes, the shift s (8-bit), 6 unread bytes and the bit
//   stream: frame 0 as n triples of (12 - s)-bit values shifted left by s, then per
//   later frame three offset deltas and n triples of rotation deltas. Bits are taken
//   most significant first.
#include "battle/BattleModel.h"

#include "archive/SubStream.h"
#include "field/tex.h"
#include "geometry/Conventions.h"
#include "platform/DebugLog.h"
#include "platform/Memory.h"
#include "platform/StringList.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <limits>
#include <new>

#include <sys/mman.h>

namespace palkor {

float BattleAngle(int32_t value) {
  return float(value * 360) / 4096.0f;
}

// TBitReader

bool TBitReader::FillChunk() {
  int64_t n = FStream.Read(FChunk, sizeof FChunk);
  FChunkPosition = 0;
  FChunkLength = n > 0 ? int32_t(n) : 0;
  return FChunkLength > 0;
}

std::array<TBitReader::TRotationCode, 1024> TBitReader::MakeRotationCodes() {
  std::array<TRotationCode, 1024> codes{};
  for (uint32_t prefix = 0; prefix < 1024; ++prefix) {
    auto bits = [&](int from, int count) {
      return (prefix >> (10 - from - count)) & ((1u << count) - 1);
    };
    if (bits(0, 1) == 0) {
      codes[prefix] = {1, 0};
    } else if (uint32_t type = bits(1, 3); type == 0) {
      codes[prefix] = {4, -1};
    } else if (type <= 6) {
      int32_t value = int32_t(bits(4, int(type)));
      if (value >> (type - 1)) value -= 1 << type; // sign of a type-bit value
      value += value >= 0 ? (1 << (type - 1)) : -(1 << (type - 1));
      codes[prefix] = {uint8_t(4 + type), int8_t(value)};
    }
  }
  return codes;
}

const std::array<TBitReader::TRotationCode, 1024> TBitReader::FRotationCodes =
    TBitReader::MakeRotationCodes();

void TBitReader::MakeShiftedCodes(int32_t shift, TShiftedCodes& codes) {
  for (size_t prefix = 0; prefix < codes.size(); ++prefix) {
    const TRotationCode code = FRotationCodes[prefix];
    // Adding the change on 16 bits and keeping 12 is adding it kept to 12 bits.
    codes[prefix] = {uint16_t((uint32_t(int32_t(code.Value)) << shift) & 4095), code.Length};
  }
}

void TBitReader::MakeCodeLengths(int32_t shift, TCodeLengths& lengths) {
  for (size_t prefix = 0; prefix < lengths.size(); ++prefix) {
    const uint8_t length = FRotationCodes[prefix].Length;
    // Only the raw code has none in the table: its prefix 1111, then the value.
    lengths[prefix] = length != 0 ? length : uint8_t(4 + 12 - shift);
  }
}

void TBitReader::MakeCodeRuns(int32_t shift, TCodeRuns& runs) {
  for (uint32_t prefix = 0; prefix < runs.size(); ++prefix) {
    auto bit = [&](int32_t at) { return (prefix >> (RunBits - 1 - at)) & 1; };
    int32_t at = 0, codes = 0;
    for (;;) {
      // A code's length is settled by its first bit, or its first four.
      int32_t length = 1;
      if (bit(at) != 0) {
        if (at + 4 > RunBits) break;
        const int32_t type = int32_t(bit(at + 1) << 2 | bit(at + 2) << 1 | bit(at + 3));
        length = type == 0 ? 4 : type <= 6 ? 4 + type : 4 + 12 - shift;
      }
      if (at + length > RunBits) break;
      at += length;
      ++codes;
    }
    runs[prefix] = uint16_t(codes << 8 | at);
  }
}

// A code's length is settled by its first four bits, so a code whose table length is
// more than the bits left is one that reading field by field fails on too.
void TBitReader::SkipRotations(int32_t count, const TCodeLengths& lengths, const TCodeRuns& runs) {
  uint64_t bits = FBits;
  int32_t bitCount = FBitCount;
  for (int64_t left = int64_t(count) * 3; left > 0; --left) {
    // A code takes at most 16 bits.
    if (bitCount < 16) {
      FBits = bits;
      FBitCount = bitCount;
      Refill();
      bits = FBits;
      bitCount = FBitCount;
    }
    // The codes lying whole in the next RunBits bits, when they are all still wanted
    // and at hand; the last of them is counted by the loop.
    const uint32_t run = runs[bits >> (64 - RunBits)];
    const int32_t codes = int32_t(run >> 8), runLength = int32_t(run & 255);
    if (codes > 1 && codes <= left && runLength <= bitCount) {
      bits <<= runLength;
      bitCount -= runLength;
      left -= codes - 1;
      continue;
    }
    const int32_t length = lengths[bits >> 54];
    if (length > bitCount) {
      FBits = bits;
      FBitCount = bitCount;
      throw EReadError();
    }
    bits <<= length;
    bitCount -= length;
  }
  FBits = bits;
  FBitCount = bitCount;
}

int16_t TBitReader::ReadRotationDeltaByFields(int32_t shift, bool& raw) {
  raw = false;
  if (ReadBits(1, true) == 0) return 0;
  int32_t type = ReadBits(3, false);
  int32_t value;
  if (type == 0) {
    value = -1;
  } else if (type <= 6) {
    value = ReadBits(type, true);
    value += value >= 0 ? (1 << (type - 1)) : -(1 << (type - 1));
  } else {
    value = ReadBits(12 - shift, true);
    raw = true;
  }
  // On 16 bits, as the format's arithmetic is.
  return int16_t(uint16_t(uint32_t(value) << shift));
}

// More than 32 bits: only the last 32 are kept, as doubling a 32-bit value would.
int32_t TBitReader::ReadLongBits(int32_t count, bool isSigned) {
  uint32_t value = 0;
  for (; count > 16; count -= 16) value = (value << 16) | uint32_t(ReadBits(16, false));
  value = (value << count) | uint32_t(ReadBits(count, false));
  return int32_t(value);
}

// TBattleAnims

namespace {

// Blocks of a megabyte or more are mapped with every page filled in by one call: a
// member of tens of thousands of frames would otherwise cost the kernel a fault for
// each page of its rotations. Smaller blocks come from the ordinary heap.
class TLargeBlockResource : public std::pmr::memory_resource {
  static constexpr size_t Large = size_t(1) << 20;

  void* do_allocate(size_t bytes, size_t alignment) override {
    if (bytes < Large) return std::pmr::new_delete_resource()->allocate(bytes, alignment);
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p != MAP_FAILED) return p;
    FailAllocation(bytes);
  }
  void do_deallocate(void* p, size_t bytes, size_t alignment) override {
    if (bytes < Large) return std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
    ::munmap(p, bytes);
  }
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
};

} // namespace

std::pmr::memory_resource* TBattleAnims::LargeBlocks() {
  static TLargeBlockResource resource;
  return &resource;
}

void WalkBattleRecords(TStream& stream, const std::function<void(const TBattleRecord&)>& decode) {
  int32_t recordCount = stream.ReadI32LE();
  for (int32_t i = 0; i < recordCount; ++i) {
    int32_t rotationCount = stream.ReadI32LE();
    int32_t frameCount = stream.ReadI32LE();
    int32_t blockSize = stream.ReadI32LE();
    // A negative size would step back over the record and read it again, as often as
    // the record count says: such a member is refused.
    if (blockSize < 0)
      throw Exception(
          Format("Invalid battle animation: record %d has block size %d", i, blockSize));
    if (blockSize < 11) {
      stream.Seek(blockSize, TSeekOrigin::Current);
      continue;
    }
    int64_t blockStart = stream.Position();
    uint8_t head[11];
    stream.ReadBuffer(head, 11);
    int32_t shift = head[4];

    // The bit stream ends with the block or, when the block claims more than the member
    // holds, with the member: reading further fails with "Stream read error".
    int64_t streamStart = blockStart + 11;
    int64_t bits =
        std::min<int64_t>(blockSize - 11, std::max<int64_t>(stream.Size() - streamStart, 0));
    // Records that cannot be decoded into their own count of frames are passed over:
    // no frames, a negative rotation count, or a shift that leaves no bits for a value.
    bool decodable = frameCount >= 1 && rotationCount >= 0 && shift <= 12;
    if (decodable) {
      // A record is read whole or the load fails, so that no record goes missing and
      // the animations after it keep their numbers. The counts are weighed against the
      // bits before a frame's rotations are made: frame 0 takes 12 - shift bits a value
      // and each later frame at least 24 bits of offsets and one bit a value, so a
      // stream too short for that fails here as reading it would.
      const int64_t values = int64_t(rotationCount) * 3;
      const int64_t leastBits = values * (12 - shift) + (frameCount > 1 ? 24 + values : 0);
      if (leastBits > bits * 8) throw EReadError();
      // At shift 12 a single frame takes no bits at all: its values are all 0, however
      // many. More rotations than the record has bits are refused.
      const int64_t recordBytes = 12 + 11 + bits;
      if (int64_t(rotationCount) > recordBytes * 8)
        throw Exception(Format("Invalid battle animation: record %d has %d rotations in %d bytes",
                               i, rotationCount, recordBytes));
      TBattleRecord record;
      record.Number = i;
      record.RotationCount = rotationCount;
      record.FrameCount = frameCount;
      record.Shift = shift;
      record.RecordStart = blockStart - 12;
      record.RecordEnd = std::min<int64_t>(blockStart + blockSize, stream.Size());
      record.StreamStart = streamStart;
      record.StreamLength = bits;
      decode(record);
    }
    stream.SetPosition(blockStart + blockSize);
  }
}

TBattleFrameDecoder::TBattleFrameDecoder(TStream& member, const TBattleRecord& record, bool log)
    : FWindow(member, int32_t(record.StreamStart), int32_t(record.StreamLength)), FReader(FWindow),
      FRecord(record), FLog(log) {
  TBitReader::MakeShiftedCodes(record.Shift, FCodes);
  TBitReader::MakeCodeLengths(record.Shift, FLengths);
}

void TBattleFrameDecoder::Next() {
  const int32_t shift = FRecord.Shift;
  if (FNext == 0) {
    // Frame 0: every value whole, in (12 - shift) bits.
    FFrame.Rotations.resize(size_t(FRecord.RotationCount));
    for (TBattleRotation& r : FFrame.Rotations)
      for (int16_t* value : {&r.X, &r.Y, &r.Z})
        *value = int16_t(uint16_t(uint32_t(FReader.ReadBits(12 - shift, false)) << shift));
  } else {
    const int32_t f = FNext;
    if (FLog && FRecord.Number == 14) LogNumbers("OS {} {}", FRecord.Number, f);
    FFrame.OffsetX += FReader.ReadOffsetDelta();
    FFrame.OffsetY += FReader.ReadOffsetDelta();
    FFrame.OffsetZ += FReader.ReadOffsetDelta();
    // The previous frame's values, each changed in place by its delta.
    FReader.ReadRotations(FFrame.Rotations.data(), FRecord.RotationCount, shift, FCodes,
                          [&](int32_t r, int32_t axis) {
                            if (FLog)
                              LogNumbers("Oh noes! {}/{}/{}/{}/{}", FRecord.Number, f, r, axis,
                                         shift);
                          });
  }
  ++FNext;
}

void TBattleFrameDecoder::Skip() {
  if (FNext == 0) return Next();
  for (int k = 0; k < 3; ++k) FReader.ReadOffsetDelta();
  if (!FRuns) {
    FRuns = std::make_unique<TBitReader::TCodeRuns>();
    TBitReader::MakeCodeRuns(FRecord.Shift, *FRuns);
  }
  FReader.SkipRotations(FRecord.RotationCount, FLengths, *FRuns);
  ++FNext;
}

std::vector<TBattleRecord> CheckBattleRecords(TStream& member) {
  std::vector<TBattleRecord> records;
  WalkBattleRecords(member, [&](const TBattleRecord& record) {
    TBattleFrameDecoder decoder(member, record, false);
    for (int32_t f = 0; f < record.FrameCount; ++f) decoder.Skip();
    records.push_back(record);
  });
  return records;
}

TBattleAnims::TBattleAnims(TStream& stream) {
  WalkBattleRecords(stream, [&](const TBattleRecord& record) {
    TBattleFrameDecoder decoder(stream, record, true);
    TBattleAnim anim;
    anim.RotationCount = record.RotationCount;
    anim.RecordStart = record.RecordStart;
    anim.RecordEnd = record.RecordEnd;
    // Every later frame takes at least 24 bits (its three offset deltas).
    anim.Frames.reserve(
        size_t(std::min<int64_t>(record.FrameCount, record.StreamLength * 8 / 24 + 1)));
    for (int32_t f = 0; f < record.FrameCount; ++f) {
      decoder.Next();
      const TBattleFrame& decoded = decoder.Frame();
      TBattleFrame frame{decoded.OffsetX, decoded.OffsetY, decoded.OffsetZ,
                         std::pmr::vector<TBattleRotation>(FPool.get())};
      frame.Rotations.assign(decoded.Rotations.begin(), decoded.Rotations.end());
      anim.Frames.push_back(std::move(frame));
    }
    Anims.push_back(std::move(anim));
  });
}

// TBattleModel

void TBattleModel::LoadFromArchive(TLGPFile& archive, const std::string& code, bool decodeAnims) {
  TReadingScope reading("battle model " + code + " of \"" + archive.FileName() + "\"");
  LGPFileName = archive.FileName();
  LGPClass = &archive.ClassType();
  Code = code;
  TMemberList list;
  std::unique_ptr<TStream> animsMember;
  for (char first = 'a'; first <= 'z'; ++first)
    for (char second = 'a'; second <= 'z'; ++second) {
      std::string suffix{first, second};
      int32_t index = archive.IndexOf(code + suffix);
      if (index < 0) continue;
      if (!decodeAnims && suffix == "da") {
        // Left in the archive; the list holds its place.
        animsMember = archive.OpenMemberStream(index);
        list.emplace_back(suffix, std::make_unique<TMemoryStream>());
        continue;
      }
      auto data = archive.ReadMemberToMemory(index);
      data->SetPosition(0);
      list.emplace_back(suffix, std::move(data));
    }
  std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
    return UpperCaseASCII(a.first) < UpperCaseASCII(b.first);
  });
  LoadFromList(list, decodeAnims);
  if (animsMember) {
    AnimsMember = std::move(animsMember);
    FAnimsStart = 0;
  }
}

std::vector<TBattleRecord> TBattleModel::CheckAnims() {
  return CheckAnims(*AnimsMember);
}

std::vector<TBattleRecord> TBattleModel::CheckAnims(TStream& member) const {
  return ReadingMember(UpperCaseASCII(Code + "da"), [&] {
    member.SetPosition(FAnimsStart);
    return CheckBattleRecords(member);
  });
}

void TBattleModel::LoadFromList(TMemberList& list, bool decodeAnims) {
  auto entry = [&](size_t k) -> auto& {
    CheckListIndex(int64_t(k), int64_t(list.size()));
    return list[k];
  };
  auto discard = [&](size_t k) {
    entry(k);
    list.erase(list.begin() + long(k));
  };

  // A member's name for messages: the code and suffix in upper case, as the game spells them.
  auto memberName = [&](const std::string& suffix) { return UpperCaseASCII(Code + suffix); };
  auto missing = [&](Exception failure, const std::string& suffix) {
    failure.AddCause(memberName(suffix) + " is not in the archive");
    return failure;
  };
  if (list.empty() || list[0].first != "aa")
    throw missing(Exception("ARRRGH! aa reality failure!"), "aa");
  if (list.size() < 2 || list[1].first != "ab")
    throw missing(Exception("ARRRGH! ab reality failure!"), "ab");
  discard(1);

  for (;;) {
    if (list.size() < 2) throw missing(EListError(1), "am");
    if (entry(1).first == "am") break;
    const std::string suffix = entry(1).first;
    Textures.push_back(ReadingMember(memberName(suffix),
                                     [&] { return LoadTEX(*entry(1).second, TEXDataOffset); }));
    discard(1);
  }

  TMemoryStream& skeleton = *list[0].second;
  int32_t boneCount = ReadingMember(memberName("aa"), [&] {
    skeleton.SetPosition(12);
    int32_t count = skeleton.ReadI32LE();
    if (count < 0) throw Exception(Format("Invalid battle skeleton: bone count %d", count));
    if (52 + int64_t(count) * 12 > skeleton.Size()) throw EReadError();
    return count;
  });
  skeleton.SetPosition(52);
  std::vector<TBattleBone> bones(static_cast<size_t>(boneCount));
  std::vector<std::unique_ptr<TFF7PPart>> parts(static_cast<size_t>(boneCount));
  int64_t polyTotal = 0;
  for (int32_t b = 0; b < boneCount; ++b) {
    bones[size_t(b)].Parent = skeleton.ReadI32LE();
    bones[size_t(b)].Length = skeleton.ReadF32LE();
    if (skeleton.ReadI32LE() != 1) continue;
    // Part members run from "am" up to the animations.
    if (list.size() < 2 || list[1].first >= "da")
      throw Exception("Invalid battle model: more bones with parts than part members");
    auto part = ReadingMember(memberName(list[1].first),
                              [&] { return TFF7PPart::CreateFromStream(*list[1].second); });
    polyTotal += part->PolyTotal();
    part->Textures = Textures;
    parts[size_t(b)] = std::move(part);
    discard(1);
  }
  discard(0);
  for (;;) {
    if (list.empty()) throw missing(EListError(0), "da");
    if (entry(0).first == "da") break;
    discard(0);
  }
  std::unique_ptr<TBattleAnims> anims;
  std::unique_ptr<TStream> animsMember;
  if (decodeAnims)
    anims = ReadingMember(memberName("da"),
                          [&] { return std::make_unique<TBattleAnims>(*entry(0).second); });
  else
    animsMember = std::move(entry(0).second);
  discard(0);

  std::vector<int32_t> parents;
  for (const TBattleBone& b : bones) parents.push_back(b.Parent);
  FChildren = ChildrenOf(parents);
  Bones = std::move(bones);
  Parts = std::move(parts);
  BoneCount = boneCount;
  PolyTotal = int32_t(std::clamp<int64_t>(polyTotal, 0, std::numeric_limits<int32_t>::max()));
  Anims = std::move(anims);
  AnimsMember = std::move(animsMember);
  FAnimsStart = AnimsMember ? AnimsMember->Position() : 0;
}

int32_t TBattleModel::AnimationIndex(int32_t anim) const {
  const int32_t count = AnimCount();
  if (count == 0) return 0;
  anim %= count;
  return anim < 0 ? anim + count : anim;
}

int32_t TBattleModel::FrameCount(int32_t anim) const {
  if (AnimCount() == 0) return 0;
  return int32_t(Anims->Anims[size_t(AnimationIndex(anim))].Frames.size());
}

const TBattleFrame* TBattleModel::FrameAt(int32_t anim, int32_t frame) const {
  const int32_t frames = FrameCount(anim);
  if (frames == 0) return nullptr;
  frame %= frames;
  if (frame < 0) frame += frames;
  return &Anims->Anims[size_t(AnimationIndex(anim))].Frames[size_t(frame)];
}

namespace {

TVec3 Degrees(const TBattleRotation& r) {
  return {BattleAngle(r.X), BattleAngle(r.Y), BattleAngle(r.Z)};
}

} // namespace

TMatrix4 TBattleModel::RootMove(const TBattleFrame* frame) {
  if (!frame) return TMatrix4::Identity();
  TVec3 offset{float(frame->OffsetX), float(frame->OffsetY), float(frame->OffsetZ)};
  TVec3 turn;
  if (!frame->Rotations.empty()) turn = Degrees(frame->Rotations[0]);
  return BattleRootMove(offset, turn);
}

TMatrix4 TBattleModel::BoneTurn(const TBattleFrame* frame, int32_t bone) {
  size_t entry = size_t(bone) + 1;
  return frame && entry < frame->Rotations.size() ? BattleBoneTurn(Degrees(frame->Rotations[entry]))
                                                  : TMatrix4::Identity();
}

std::vector<TPosedJoint> TBattleModel::PoseJoints(const TBattleFrame* frame,
                                                  const TMatrix4& base) const {
  TMatrix4 root = base * BattleMirror() * RootMove(frame);
  std::vector<TPosedJoint> joints;
  for (int32_t b = 0; b < BoneCount; ++b)
    if (Bones[size_t(b)].Parent == -1) {
      std::vector<TPosedJoint> below = PoseFrom(b, frame, root);
      joints.insert(joints.end(), below.begin(), below.end());
    }
  return joints;
}

// Only bones whose parents lead to the root are reached, so parents outside the
// skeleton or in a cycle are never drawn.
std::vector<TPosedJoint> TBattleModel::PoseFrom(int32_t bone, const TBattleFrame* frame,
                                                const TMatrix4& base) const {
  return ComposeSkeleton(
      bone, FChildren, base, [&](int32_t b) { return BoneTurn(frame, b); },
      [&](int32_t b) { return BattleBoneReach(Bones[size_t(b)].Length); });
}

} // namespace palkor
