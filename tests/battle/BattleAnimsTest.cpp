#include "battle/BattleModel.h"

#include "fixtures/BattleWriters.h"
#include "platform/DebugLog.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

// A reader over the bits written as text ("1 001 0"; blanks are ignored).
struct TBits {
  explicit TBits(const std::string& text) {
    TBitWriter writer;
    for (char c : text)
      if (c == '0' || c == '1') writer.Write(c == '1', 1);
    Stream = std::make_unique<TMemoryStream>(writer.Bytes());
    Reader = std::make_unique<TBitReader>(*Stream);
  }
  std::unique_ptr<TMemoryStream> Stream;
  std::unique_ptr<TBitReader> Reader;
};

TBattleFrame Frame(int32_t ox, int32_t oy, int32_t oz, std::vector<TBattleRotation> rotations) {
  TBattleFrame f;
  f.OffsetX = ox;
  f.OffsetY = oy;
  f.OffsetZ = oz;
  f.Rotations.assign(rotations.begin(), rotations.end());
  return f;
}

TBattleAnims Decode(const std::string& member) {
  TMemoryStream stream(member);
  return TBattleAnims(stream);
}

void ExpectSameFrames(const std::vector<TBattleFrame>& a, const std::vector<TBattleFrame>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t f = 0; f < a.size(); ++f) {
    EXPECT_EQ(a[f].OffsetX, b[f].OffsetX) << "frame " << f;
    EXPECT_EQ(a[f].OffsetY, b[f].OffsetY) << "frame " << f;
    EXPECT_EQ(a[f].OffsetZ, b[f].OffsetZ) << "frame " << f;
    ASSERT_EQ(a[f].Rotations.size(), b[f].Rotations.size());
    for (size_t r = 0; r < a[f].Rotations.size(); ++r) {
      EXPECT_EQ(a[f].Rotations[r].X, b[f].Rotations[r].X) << f << "/" << r;
      EXPECT_EQ(a[f].Rotations[r].Y, b[f].Rotations[r].Y) << f << "/" << r;
      EXPECT_EQ(a[f].Rotations[r].Z, b[f].Rotations[r].Z) << f << "/" << r;
    }
  }
}

} // namespace

TEST(BitReader, TakesBitsMostSignificantFirst) {
  TMemoryStream stream(std::string("\xA5\x0F", 2));
  TBitReader reader(stream);
  std::string bits;
  for (int i = 0; i < 16; ++i) bits += char('0' + reader.ReadBit());
  EXPECT_EQ(bits, "1010010100001111");
  EXPECT_THROW(reader.ReadBit(), EReadError);

  EXPECT_EQ(TBits("1110").Reader->ReadBits(4, true), -2);
  EXPECT_EQ(TBits("1110").Reader->ReadBits(4, false), 14);
  EXPECT_EQ(TBits("1").Reader->ReadBits(1, true), -1);
  EXPECT_EQ(TBits("").Reader->ReadBits(0, true), 0);
  EXPECT_EQ(TBits("").Reader->ReadBits(-3, false), 0);
  // Reads that straddle bytes take the same bits as single reads would.
  TBits mixed("101 1100110011 0110");
  EXPECT_EQ(mixed.Reader->ReadBits(3, false), 5);
  EXPECT_EQ(mixed.Reader->ReadBits(10, false), 0x333);
  EXPECT_EQ(mixed.Reader->ReadBits(4, true), 6);
}

TEST(BitReader, DeltaCodes) {
  const struct {
    const char* Bits;
    int32_t Shift;
    int16_t Value;
    bool Raw;
  } rotations[] = {
      {"0", 0, 0, false},
      {"1 000", 0, -1, false},
      {"1 001 0", 0, 1, false},
      {"1 001 1", 0, -2, false},
      {"1 010 10", 0, -4, false},
      {"1 010 01", 0, 3, false},
      {"1 110 011111", 0, 63, false},
      {"1 110 100000", 0, -64, false},
      {"1 110 011111", 2, 252, false},
      {"1 000", 3, -8, false},
      {"1 111 100000000000", 0, -2048, true},
      {"1 111 0111111111", 2, 2044, true},
  };
  for (const auto& c : rotations) {
    bool raw = !c.Raw;
    EXPECT_EQ(TBits(c.Bits).Reader->ReadRotationDelta(c.Shift, raw), c.Value) << c.Bits;
    EXPECT_EQ(raw, c.Raw) << c.Bits;
  }
  EXPECT_EQ(TBits("0 1111111").Reader->ReadOffsetDelta(), -1);
  EXPECT_EQ(TBits("0 0111111").Reader->ReadOffsetDelta(), 63);
  EXPECT_EQ(TBits("1 0000000100000000").Reader->ReadOffsetDelta(), 256);
  EXPECT_EQ(TBits("1 1000000000000000").Reader->ReadOffsetDelta(), -32768);
}

TEST(BattleAnims, EncoderAndDecoderAreExactInverses) {
  std::mt19937 random(7);
  for (int32_t shift : {0, 1, 4, 12}) {
    TBattleAnimFixture anim;
    anim.Shift = shift;
    const int32_t step = 1 << shift;
    std::vector<TBattleRotation> rotations(5);
    int32_t ox = 0, oy = 0, oz = 0;
    for (int f = 0; f < 40; ++f) {
      if (f > 0) {
        // Small changes, large ones (16-bit offsets, raw rotations) and wrap-arounds.
        auto change = [&](int32_t big) {
          return int32_t(random() % 3 == 0 ? int32_t(random() % (2 * big)) - big
                                           : int32_t(random() % 120) - 60);
        };
        ox += change(30000);
        oy += change(500);
        oz -= 70;
        for (auto& r : rotations)
          for (int16_t* v : {&r.X, &r.Y, &r.Z})
            *v = int16_t((((*v + change(2000) * step) % 4096) + 4096) % 4096 / step * step);
      }
      anim.Frames.push_back(Frame(f ? ox : 0, f ? oy : 0, f ? oz : 0, rotations));
    }
    anim.Raw = {{3, 0}, {3, 14}, {7, 5}};
    anim.LongOffsets = {2, 9};
    TBattleAnims decoded = Decode(BuildBattleAnimations({EncodeBattleAnimation(anim)}));
    ASSERT_EQ(decoded.Anims.size(), 1u);
    EXPECT_EQ(decoded.Anims[0].RotationCount, 5);
    ExpectSameFrames(decoded.Anims[0].Frames, anim.Frames);
  }
}

TEST(BattleAnims, RotationsWrapIntoATurn) {
  TBattleAnimFixture anim;
  anim.Frames = {Frame(0, 0, 0, {{4090, 3, 0}}), Frame(1, -2, 3, {{4, 4095, 0}})};
  TBattleAnims decoded = Decode(BuildBattleAnimations({EncodeBattleAnimation(anim)}));
  const TBattleRotation& r = decoded.Anims[0].Frames[1].Rotations[0];
  EXPECT_EQ(r.X, 4);    // 4090 + 10
  EXPECT_EQ(r.Y, 4095); // 3 - 4
  // Shift 4: frame 0 is read as 8-bit values, multiples of 16.
  anim.Shift = 4;
  anim.Frames = {Frame(0, 0, 0, {{4080, 16, 2048}})};
  TBattleAnims shifted = Decode(BuildBattleAnimations({EncodeBattleAnimation(anim)}));
  EXPECT_EQ(shifted.Anims[0].Frames[0].Rotations[0].X, 4080);
  EXPECT_EQ(shifted.Anims[0].Frames[0].Rotations[0].Z, 2048);
}

TEST(BattleAnims, ShortAndUndecodableRecordsArePassedOver) {
  TBattleAnimFixture good;
  good.Frames = {Frame(0, 0, 0, {{1, 2, 3}}), Frame(5, 5, 5, {{2, 3, 4}})};
  std::string tiny = EncodeBattleAnimation(TBattleAnimFixture());
  tiny.resize(12);
  tiny.replace(8, 4, std::string("\x05\0\0\0", 4));
  tiny += "12345"; // S = 5: skipped by 5 bytes
  TBattleAnimFixture noFrames = good, negative = good, bigShift = good;
  noFrames.FrameCountOverride = 0;
  negative.RotationCountOverride = -1;
  bigShift.Shift = 13;
  bigShift.Frames = {Frame(0, 0, 0, {{0, 0, 0}})};
  std::string member =
      BuildBattleAnimations({tiny, EncodeBattleAnimation(noFrames), EncodeBattleAnimation(negative),
                             EncodeBattleAnimation(bigShift), EncodeBattleAnimation(good)});
  TMemoryStream stream(member + "after");
  TBattleAnims decoded(stream);
  ASSERT_EQ(decoded.Anims.size(), 1u); // the good record takes index 0
  ExpectSameFrames(decoded.Anims[0].Frames, good.Frames);
  EXPECT_EQ(stream.Position(), int64_t(member.size()));
}

// A record is read whole or the load fails: none goes missing and renumbers the rest.
TEST(BattleAnims, RecordsAreReadWholeOrFailTheLoad) {
  TBattleAnimFixture good;
  good.Frames = {Frame(0, 0, 0, {{1, 2, 3}}), Frame(5, 5, 5, {{2, 3, 4}})};
  const std::string goodRecord = EncodeBattleAnimation(good);

  // At shift 12 a single frame's values take no bits: an empty stream holds them all, 0.
  TBattleAnimFixture zeros;
  zeros.Shift = 12;
  zeros.Frames = {Frame(0, 0, 0, std::vector<TBattleRotation>(5))};
  const std::string zerosRecord = EncodeBattleAnimation(zeros);
  ASSERT_EQ(zerosRecord.size(), 12u + 11u); // a block without a bit stream
  TBattleAnims decoded = Decode(BuildBattleAnimations({goodRecord, zerosRecord, goodRecord}));
  ASSERT_EQ(decoded.Anims.size(), 3u);
  EXPECT_EQ(decoded.Anims[1].RotationCount, 5);
  ExpectSameFrames(decoded.Anims[1].Frames, zeros.Frames);
  ExpectSameFrames(decoded.Anims[2].Frames, good.Frames);

  // Counts that need more bits than the stream holds fail as reading them would, before
  // any frame is made for them; so do counts no member could hold at all.
  auto error = [&](const TBattleAnimFixture& middle) {
    try {
      Decode(BuildBattleAnimations({goodRecord, EncodeBattleAnimation(middle), goodRecord}));
    } catch (const Exception& e) {
      return e.Message();
    }
    return std::string("(no error)");
  };
  TBattleAnimFixture moreRotations = good, moreFrames = zeros, countless = zeros;
  moreRotations.RotationCountOverride = 1000;
  moreFrames.FrameCountOverride = 2;
  moreFrames.RotationCountOverride = 0x7fffffff;
  countless.RotationCountOverride = 0x7fffffff;
  EXPECT_EQ(error(moreRotations), "Stream read error");
  EXPECT_EQ(error(moreFrames), "Stream read error");
  EXPECT_EQ(error(countless),
            "Invalid battle animation: record 1 has 2147483647 rotations in 23 bytes");
  // A stream cut inside frame 0 fails as well.
  TBattleAnimFixture cut = good;
  cut.Frames = {Frame(0, 0, 0, std::vector<TBattleRotation>(40))};
  cut.TruncateBits = 8 * 100;
  EXPECT_EQ(error(cut), "Stream read error");
}

TEST(BattleAnims, ShortMembersFailAndRawDeltasAreLogged) {
  TBattleAnimFixture anim;
  anim.Frames = {Frame(0, 0, 0, {{0, 0, 0}}), Frame(0, 0, 0, {{8, 0, 0}}),
                 Frame(0, 0, 0, {{16, 0, 0}})};
  anim.TruncateBits = 8;
  EXPECT_THROW(Decode(BuildBattleAnimations({EncodeBattleAnimation(anim)})), EReadError);
  std::string cut = BuildBattleAnimations({EncodeBattleAnimation(TBattleAnimFixture())});
  EXPECT_THROW(Decode(cut.substr(0, 10)), EReadError);
  EXPECT_THROW(Decode(BuildBattleAnimations({EncodeBattleAnimation(anim), "12"})), EReadError);
  // A negative block size would read the same record again and again.
  TBattleAnimFixture backwards;
  backwards.BlockSizeOverride = -12;
  try {
    Decode(BuildBattleAnimations(std::vector<std::string>(1000, EncodeBattleAnimation(backwards))));
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid battle animation: record 0 has block size -12");
  }

  // Records are counted, skipped ones included, for the log lines.
  anim.TruncateBits = 0;
  anim.Raw = {{2, 1}};
  std::vector<std::string> records(15, EncodeBattleAnimation(TBattleAnimFixture()));
  for (std::string& r : records) r.replace(8, 4, std::string("\0\0\0\0", 4)), r.resize(12);
  records[14] = EncodeBattleAnimation(anim);
  size_t before = DebugLog().Lines().size();
  TBattleAnims decoded = Decode(BuildBattleAnimations(records));
  ASSERT_EQ(decoded.Anims.size(), 1u);
  std::vector<std::string> lines(DebugLog().Lines().begin() + long(before),
                                 DebugLog().Lines().end());
  EXPECT_EQ(lines, (std::vector<std::string>{"OS 14 1", "OS 14 2", "Oh noes! 14/2/0/1/0"}));
}

TEST(BattleAnims, RecordsAreEncodedAtTheShiftThatKeepsTheirValuesAndFoundAgainByPosition) {
  const struct {
    std::vector<TBattleFrame> Frames;
    int32_t Shift;
  } cases[] = {
      {{Frame(0, 0, 0, {{1024, 2048, 0}, {512, 0, 3072}}),
        Frame(-40, 7, 30000, {{1536, 0, 4032}, {0, 0, 0}})},
       6},
      {{Frame(0, 0, 0, {{1, 0, 0}}), Frame(3, 0, 0, {{4095, 0, 0}})}, 0},
      {{Frame(0, 0, 0, {{0, 0, 0}})}, 12},
  };
  std::vector<std::string> records;
  for (const auto& c : cases) {
    EXPECT_EQ(BattleShiftFor(c.Frames), c.Shift);
    records.push_back(EncodeBattleRecord(c.Frames));
    EXPECT_EQ(records.back()[16], char(c.Shift)); // the shift byte of the block
  }
  const std::string member = BuildBattleAnimations(records);
  TBattleAnims decoded = Decode(member);
  ASSERT_EQ(decoded.Anims.size(), 3u);
  int64_t at = 4;
  for (size_t a = 0; a < 3; ++a) {
    ExpectSameFrames(decoded.Anims[a].Frames, cases[a].Frames);
    EXPECT_EQ(decoded.Anims[a].RecordStart, at);
    at += int64_t(records[a].size());
    EXPECT_EQ(decoded.Anims[a].RecordEnd, at);
  }

  // What the form cannot hold is refused, not written wrong.
  auto error = [](std::vector<TBattleFrame> frames) {
    try {
      EncodeBattleRecord(frames);
    } catch (const Exception& e) {
      return e.Message();
    }
    return std::string("(no error)");
  };
  EXPECT_EQ(error({Frame(1, 0, 0, {{0, 0, 0}})}),
            "Cannot encode the battle animation: frame 0 has offsets");
  EXPECT_EQ(error({Frame(0, 0, 0, {{0, 0, 0}}), Frame(0, 40000, 0, {{0, 0, 0}})}),
            "Cannot encode the battle animation: the offsets change by 40000 at frame 1");
  EXPECT_EQ(error({Frame(0, 0, 0, {{0, 0, 0}}), Frame(0, 0, 0, {})}),
            "Cannot encode the battle animation: frame 1 has 0 rotations, frame 0 1");
  EXPECT_EQ(error({}), "Cannot encode the battle animation: it has no frames");
}

// The frames printed one at a time come from a check of every record that walks the bit
// streams without keeping frames and then a decoder that keeps one: the check must fail
// exactly where decoding the whole member does (streams cut at every point, records
// whose counts claim more), and the decoder must give the frames decoding keeps.
TEST(BattleAnims, CheckingAndDecodingFrameByFrameAgreeWithDecodingTheMember) {
  std::mt19937 random(11);
  std::vector<std::string> records;
  for (int32_t shift : {0, 3, 8, 12}) {
    TBattleAnimFixture anim;
    anim.Shift = shift;
    const int32_t step = 1 << shift;
    std::vector<TBattleRotation> rotations(4);
    for (int f = 0; f < 12; ++f) {
      if (f > 0)
        for (auto& r : rotations)
          for (int16_t* v : {&r.X, &r.Y, &r.Z}) {
            const int32_t change =
                random() % 4 == 0 ? int32_t(random() % 4000) : int32_t(random() % 9) - 4;
            *v = int16_t(((*v + change * step) % 4096 + 4096) % 4096 / step * step);
          }
      anim.Frames.push_back(
          Frame(f ? int32_t(random() % 600) - 300 : 0, f ? 7 * f : 0, 0, rotations));
    }
    anim.Raw = {{1, 0}, {5, 11}, {11, 2}};
    anim.LongOffsets = {4};
    records.push_back(EncodeBattleAnimation(anim));
  }
  TBattleAnimFixture claimsMore;
  claimsMore.Frames = {Frame(0, 0, 0, {{1, 2, 3}}), Frame(1, 1, 1, {{2, 3, 4}})};
  claimsMore.FrameCountOverride = 9;
  records.push_back(EncodeBattleAnimation(claimsMore));

  auto outcome = [](const std::function<std::vector<int32_t>()>& frameCounts) {
    try {
      std::string text;
      for (int32_t count : frameCounts()) text += std::to_string(count) + " ";
      return text;
    } catch (const Exception& e) {
      return "error " + e.Message();
    }
  };
  const std::string whole = BuildBattleAnimations(records);
  const std::string good = BuildBattleAnimations({records[0], records[1], records[2]});
  for (const std::string& member : {whole, good}) {
    for (size_t length = 0; length <= member.size(); ++length) {
      const std::string cut = member.substr(0, length);
      const std::string decoded = outcome([&] {
        std::vector<int32_t> counts;
        for (const TBattleAnim& anim : Decode(cut).Anims)
          counts.push_back(int32_t(anim.Frames.size()));
        return counts;
      });
      TMemoryStream stream(cut);
      const std::string checked = outcome([&] {
        std::vector<int32_t> counts;
        for (const TBattleRecord& record : CheckBattleRecords(stream))
          counts.push_back(record.FrameCount);
        return counts;
      });
      ASSERT_EQ(checked, decoded) << "member cut to " << length << " of " << member.size();
    }
  }
  // Frame by frame, the same frames as decoding the member keeps.
  TMemoryStream stream(good);
  const TBattleAnims decoded = Decode(good);
  const std::vector<TBattleRecord> checked = CheckBattleRecords(stream);
  ASSERT_EQ(checked.size(), decoded.Anims.size());
  for (size_t a = 0; a < checked.size(); ++a) {
    TBattleFrameDecoder decoder(stream, checked[a], false);
    std::vector<TBattleFrame> frames;
    for (int32_t f = 0; f < checked[a].FrameCount; ++f) {
      EXPECT_EQ(decoder.FrameIndex(), f);
      decoder.Next();
      frames.push_back(decoder.Frame());
    }
    ExpectSameFrames(frames, decoded.Anims[a].Frames);
    EXPECT_EQ(checked[a].RecordStart, decoded.Anims[a].RecordStart);
    EXPECT_EQ(checked[a].RecordEnd, decoded.Anims[a].RecordEnd);
  }
}
