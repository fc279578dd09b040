// Battle animation records written in the bit-packed form TBattleAnims decodes (the
// layout is at the top of BattleModel.cpp). A rotation change k (in units of 2^shift,
// taken the short way round) is written as: "0" for none; "1", type 0 for -1; "1",
// type t (1 to 6) and t bits for 2^(t-1) <= |k| < 2^t; "1", type 7 and 12 - shift raw
// bits otherwise. An offset change is a 0 flag and 7 bits, or a 1 flag and 16 bits.
#include "battle/BattleModel.h"

#include "platform/Exceptions.h"

#include <bit>

namespace palkor {

namespace {

void AppendI32LE(std::string& out, int32_t value) {
  uint32_t v = uint32_t(value);
  for (int i = 0; i < 4; ++i) out += char((v >> (8 * i)) & 0xFF);
}

[[noreturn]] void CannotEncode(const std::string& why) {
  throw Exception("Cannot encode the battle animation: " + why);
}

void WriteRotationDelta(TBitWriter& bits, int32_t from, int32_t to, int32_t shift, bool raw) {
  const int32_t units = 4096 >> shift; // distinct values at this shift
  int32_t k = (((to - from) >> shift) % units + units) % units;
  if (k >= units / 2) k -= units;
  if (!raw && k == 0) {
    bits.Write(0, 1);
    return;
  }
  bits.Write(1, 1);
  if (raw || k < -64 || k > 63) {
    bits.Write(7, 3);
    bits.Write(uint32_t(k), 12 - shift);
  } else if (k == -1) {
    bits.Write(0, 3);
  } else if (k > 0) {
    int t = std::bit_width(uint32_t(k));
    bits.Write(uint32_t(t), 3);
    bits.Write(uint32_t(k - (1 << (t - 1))), t);
  } else {
    int t = std::bit_width(uint32_t(-k - 1));
    bits.Write(uint32_t(t), 3);
    bits.Write(uint32_t(k + (1 << (t - 1))), t);
  }
}

void WriteOffsetDelta(TBitWriter& bits, int64_t delta, bool forceLong, int32_t frame) {
  if (delta < -32768 || delta > 32767)
    CannotEncode(Format("the offsets change by %d at frame %d", delta, frame));
  if (!forceLong && delta >= -64 && delta <= 63) {
    bits.Write(0, 1);
    bits.Write(uint32_t(delta), 7);
  } else {
    bits.Write(1, 1);
    bits.Write(uint32_t(delta), 16);
  }
}

} // namespace

void TBitWriter::Write(uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    if (FBits % 8 == 0) FBytes += '\0';
    if ((value >> i) & 1) FBytes.back() = char(uint8_t(FBytes.back()) | (0x80 >> (FBits % 8)));
    ++FBits;
  }
}

int32_t BattleShiftFor(const std::vector<TBattleFrame>& frames) {
  int32_t shift = 12;
  for (const TBattleFrame& frame : frames)
    for (const TBattleRotation& r : frame.Rotations)
      for (int16_t v : {r.X, r.Y, r.Z})
        if (v != 0) shift = std::min(shift, int32_t(std::countr_zero(uint16_t(v))));
  return shift;
}

std::string EncodeBattleStream(const std::vector<TBattleFrame>& frames, int32_t shift,
                               const TBattleEncodeOptions& options) {
  if (shift < 0 || shift > 12) CannotEncode(Format("shift %d", shift));
  if (frames.empty()) CannotEncode("it has no frames");
  const size_t rotations = frames[0].Rotations.size();
  if (frames[0].OffsetX || frames[0].OffsetY || frames[0].OffsetZ)
    CannotEncode("frame 0 has offsets");
  TBitWriter bits;
  for (size_t f = 0; f < frames.size(); ++f) {
    const TBattleFrame& frame = frames[f];
    if (frame.Rotations.size() != rotations)
      CannotEncode(Format("frame %d has %d rotations, frame 0 %d", int64_t(f),
                          int64_t(frame.Rotations.size()), int64_t(rotations)));
    for (const TBattleRotation& r : frame.Rotations)
      for (int16_t v : {r.X, r.Y, r.Z})
        if (v < 0 || v > 4095 || (v & ((1 << shift) - 1)))
          CannotEncode(Format("value %d at frame %d does not fit shift %d", v, int64_t(f), shift));
    if (f == 0) {
      for (const TBattleRotation& r : frame.Rotations)
        for (int16_t v : {r.X, r.Y, r.Z}) bits.Write(uint32_t(v) >> shift, 12 - shift);
      continue;
    }
    const TBattleFrame& previous = frames[f - 1];
    const bool longOffsets = options.LongOffsets.count(int32_t(f)) > 0;
    WriteOffsetDelta(bits, int64_t(frame.OffsetX) - previous.OffsetX, longOffsets, int32_t(f));
    WriteOffsetDelta(bits, int64_t(frame.OffsetY) - previous.OffsetY, longOffsets, int32_t(f));
    WriteOffsetDelta(bits, int64_t(frame.OffsetZ) - previous.OffsetZ, longOffsets, int32_t(f));
    int32_t index = 0;
    for (size_t r = 0; r < rotations; ++r) {
      const TBattleRotation& a = previous.Rotations[r];
      const TBattleRotation& b = frame.Rotations[r];
      const int32_t from[3] = {a.X, a.Y, a.Z}, to[3] = {b.X, b.Y, b.Z};
      for (int c = 0; c < 3; ++c, ++index)
        WriteRotationDelta(bits, from[c], to[c], shift, options.Raw.count({int32_t(f), index}) > 0);
    }
  }
  return bits.Bytes();
}

std::string BattleRecord(int32_t rotationCount, int32_t frameCount, int32_t shift,
                         const std::string& stream) {
  std::string block(4, '\0');
  block += char(uint8_t(shift));
  block.append(6, '\0');
  block += stream;
  std::string out;
  AppendI32LE(out, rotationCount);
  AppendI32LE(out, frameCount);
  AppendI32LE(out, int32_t(block.size()));
  return out + block;
}

std::string EncodeBattleRecord(const std::vector<TBattleFrame>& frames) {
  const int32_t shift = BattleShiftFor(frames);
  std::string stream = EncodeBattleStream(frames, shift);
  return BattleRecord(int32_t(frames[0].Rotations.size()), int32_t(frames.size()), shift, stream);
}

std::string ReplaceBattleRecord(std::string_view member, const TBattleAnim& anim,
                                const std::string& record) {
  if (anim.RecordStart < 0 || anim.RecordStart > anim.RecordEnd ||
      anim.RecordEnd > int64_t(member.size()))
    throw EReadError();
  std::string out(member.substr(0, size_t(anim.RecordStart)));
  out += record;
  out += member.substr(size_t(anim.RecordEnd));
  return out;
}

void TBattleModel::SetAnimation(int32_t index, std::vector<TBattleFrame> frames, bool modified) {
  CheckListIndex(index, AnimCount());
  if (frames.empty()) throw Exception("Cannot encode the battle animation: it has no frames");
  TBattleAnim& anim = Anims->Anims[size_t(index)];
  anim.RotationCount = int32_t(frames[0].Rotations.size());
  anim.Frames = std::move(frames);
  if (modified)
    FModifiedAnims.insert(index);
  else
    FModifiedAnims.erase(index);
}

void TBattleModel::SaveAnimations() {
  if (FModifiedAnims.empty()) return;
  if (!LGPClass) throw Exception("The battle model was not read from an archive");
  std::unique_ptr<TLGPFile> archive = LGPClass->Create(LGPFileName, false);
  const int32_t index = archive->IndexOf(Code + "da");
  std::unique_ptr<TBattleAnims> saved;
  // The records are spliced into the member as it is when the archive's lock is had, so
  // that animations another writer changed meanwhile keep their changes.
  archive->ModifyMember(index, [&](std::string_view current) {
    TMemoryStream before(current);
    const TBattleAnims now(before);
    if (now.Anims.size() != Anims->Anims.size())
      throw Exception(Format("The animations of battle model %s were changed by another "
                             "program: the archive now holds %d, not %d",
                             Code, int32_t(now.Anims.size()), int32_t(Anims->Anims.size())));
    std::string member(current);
    // From the last record back, so that the positions of those before stay right.
    for (auto a = FModifiedAnims.rbegin(); a != FModifiedAnims.rend(); ++a)
      member = ReplaceBattleRecord(member, now.Anims[size_t(*a)],
                                   EncodeBattleRecord(Anims->Anims[size_t(*a)].Frames));
    // Decoded again before anything is written: the new member must read as it is meant to.
    TMemoryStream data(member);
    saved = std::make_unique<TBattleAnims>(data);
    if (saved->Anims.size() != Anims->Anims.size()) throw EReadError();
    return member;
  });
  Anims = std::move(saved);
  FModifiedAnims.clear();
}

} // namespace palkor
