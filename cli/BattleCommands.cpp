// battle: load a battle model by its two-letter code and print what it holds.
#include "cli/CliSupport.h"
#include "cli/OutputBuffer.h"

#include "battle/BattleModel.h"
#include "platform/Memory.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <system_error>

namespace palkor::cli {

namespace {

struct TBattleArgs {
  std::string Archive;
  std::string Code;
  bool Frames = false;
};

// One line a frame: "frame", its number and offsets, then its rotations' values separated
// by spaces, tab-separated.
void PrintFrame(TOutputBuffer& out, int32_t number, const std::array<int32_t, 3>& offsets,
                std::span<const TBattleRotation> rotations) {
  // A line's most: the frame's number and offsets, five bytes a value, and the eight the
  // last value's copy takes.
  const size_t lineRoom = 64 + rotations.size() * 15 + 8;
  const bool room = out.MakeRoom(lineRoom);
  out.Put("frame\t");
  out.Put(int64_t(number));
  for (int32_t offset : offsets) {
    out.Put('\t');
    out.Put(int64_t(offset));
  }
  out.Put('\t');
  // Decoded values are all below 4096.
  if (room) {
    for (const TBattleRotation& r : rotations) {
      out.PutSpacedUnchecked(uint32_t(r.X));
      out.PutSpacedUnchecked(uint32_t(r.Y));
      out.PutSpacedUnchecked(uint32_t(r.Z));
    }
  } else {
    for (const TBattleRotation& r : rotations) {
      out.PutSpaced(r.X);
      out.PutSpaced(r.Y);
      out.PutSpaced(r.Z);
    }
  }
  if (rotations.empty())
    out.Put('\n');
  else
    out.EndSpacedLine();
}

// Frames come by the hundred thousand: each is printed as it is decoded, and none is
// kept, except those decoded while the check of the whole member still runs beside
// them (nothing may be printed before it has passed): those are kept compactly, up to
// HeldLimit bytes, and printed once it has.
class TFramePrinter {
public:
  static constexpr size_t HeldLimit = size_t(64) << 20;

  TFramePrinter(TStream& member, const std::vector<TBattleRecord>& records)
      : FMember(member), FRecords(records) {}

  // Decodes frames ahead while ready() is false, asking it every few frames; stops when
  // it answers true, when every frame is decoded or when no more can be kept.
  template <typename F>
  void DecodeAhead(F&& ready) {
    size_t total = 0;
    for (const TBattleRecord& record : FRecords)
      total += size_t(record.FrameCount) * FrameBytes(record);
    FHeld = std::make_unique<THugeBlock>(std::min(total, HeldLimit));
    for (int32_t n = 0;; ++n) {
      if ((n & 63) == 0 && ready()) return;
      const TBattleRecord* next = NextRecord();
      if (!next || FrameBytes(*next) > FHeld->Size() - FHeldSize) return;
      Advance();
      const TBattleFrame& frame = FDecoder->Frame();
      const TOffsets offsets{frame.OffsetX, frame.OffsetY, frame.OffsetZ};
      std::memcpy(FHeld->Data() + FHeldSize, &offsets, sizeof offsets);
      std::memcpy(FHeld->Data() + FHeldSize + sizeof offsets, frame.Rotations.data(),
                  frame.Rotations.size() * sizeof(TBattleRotation));
      FHeldSize += FrameBytes(*next);
      ++FHeldFrames;
    }
  }

  // Prints the frames of record r (the records in order), those kept first.
  void PrintRecord(size_t r, TOutputBuffer& out) {
    const TBattleRecord& record = FRecords[r];
    int32_t f = 0;
    for (; f < record.FrameCount && FPrinted < FHeldFrames; ++f, ++FPrinted) {
      TOffsets offsets;
      std::memcpy(&offsets, FHeld->Data() + FHeldAt, sizeof offsets);
      FHeldAt += sizeof offsets;
      const auto* rotations = reinterpret_cast<const TBattleRotation*>(FHeld->Data() + FHeldAt);
      PrintFrame(out, f, offsets, std::span(rotations, size_t(record.RotationCount)));
      FHeldAt += size_t(record.RotationCount) * sizeof(TBattleRotation);
    }
    for (; f < record.FrameCount; ++f) {
      Advance();
      const TBattleFrame& frame = FDecoder->Frame();
      PrintFrame(out, f, {frame.OffsetX, frame.OffsetY, frame.OffsetZ}, frame.Rotations);
    }
  }

private:
  using TOffsets = std::array<int32_t, 3>;

  static size_t FrameBytes(const TBattleRecord& record) {
    return sizeof(TOffsets) + size_t(record.RotationCount) * sizeof(TBattleRotation);
  }
  // The record of the next frame to decode; null when every frame is decoded.
  const TBattleRecord* NextRecord() {
    while (FRecord < FRecords.size() && FFrame == FRecords[FRecord].FrameCount) {
      FDecoder.reset();
      ++FRecord;
      FFrame = 0;
    }
    return FRecord < FRecords.size() ? &FRecords[FRecord] : nullptr;
  }
  // Decodes the next frame (there is one).
  void Advance() {
    const TBattleRecord* record = NextRecord();
    if (!FDecoder)
      // palkor-cli never writes its debug log: the decoder's lines are left out.
      FDecoder = std::make_unique<TBattleFrameDecoder>(FMember, *record, false);
    FDecoder->Next();
    ++FFrame;
  }

  TStream& FMember;
  const std::vector<TBattleRecord>& FRecords;
  // The record and frame the decoder stands after.
  size_t FRecord = 0;
  int32_t FFrame = 0;
  std::unique_ptr<TBattleFrameDecoder> FDecoder;
  // The frames decoded ahead, in order, and how many of them are printed.
  // (In huge pages: while the check's thread runs, each page first touched costs dearly.)
  std::unique_ptr<THugeBlock> FHeld;
  size_t FHeldSize = 0, FHeldFrames = 0, FPrinted = 0, FHeldAt = 0;
};

// The model is loaded with its animations undecoded; every record is then decoded once
// to be sure it can be, so that a member that cannot be decoded fails with no output, as
// loading the whole model does. The frames are decoded again as they are printed; that
// decoding starts while the check runs on a second thread (over a stream of its own),
// where one can be had.
void RunBattle(const TBattleArgs& args) {
  TBattleModel model;
  // With --frames, the animations member once more, for the check's thread.
  std::unique_ptr<TStream> twin;
  {
    auto archive = OpenArchive(args.Archive);
    model.LoadFromArchive(*archive, args.Code, false);
    if (args.Frames && model.AnimsMember)
      twin = archive->OpenMemberStream(archive->IndexOf(args.Code + "da"));
  }
  std::vector<TBattleRecord> records;
  std::future<std::vector<TBattleRecord>> check;
  if (twin) {
    try {
      check = std::async(std::launch::async, [&] { return model.CheckAnims(*twin); });
    } catch (const std::system_error&) {
      // No second thread: the check runs first.
    }
  }
  // The check's failure, where it has one, is the failure of the run.
  auto checked = [&check] {
    if (check.valid()) check.get();
  };
  std::optional<TFramePrinter> printer;
  if (check.valid()) {
    try {
      // The records as their headers give them; the check decodes them.
      model.AnimsMember->SetPosition(model.AnimsStart());
      WalkBattleRecords(*model.AnimsMember,
                        [&records](const TBattleRecord& record) { records.push_back(record); });
      printer.emplace(*model.AnimsMember, records);
      printer->DecodeAhead([&check] {
        return check.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
      });
    } catch (...) {
      checked();
      throw;
    }
    checked();
  } else {
    records = model.CheckAnims();
    if (args.Frames) printer.emplace(*model.AnimsMember, records);
  }

  TOutputBuffer out;
  auto field = [&out](std::string_view text, char end) {
    out.Put(text);
    out.Put(end);
  };
  field("bones", '\t');
  field(std::to_string(model.BoneCount), '\n');
  for (int32_t b = 0; b < model.BoneCount; ++b) {
    field("bone", '\t');
    field(std::to_string(b), '\t');
    field(std::to_string(model.Bones[size_t(b)].Parent), '\t');
    field(FloatText(model.Bones[size_t(b)].Length), '\t');
    field(model.Parts[size_t(b)] ? "1" : "0", '\n');
  }
  field("textures", '\t');
  field(std::to_string(model.Textures.size()), '\n');
  field("polytotal", '\t');
  field(std::to_string(model.PolyTotal), '\n');
  field("anims", '\t');
  field(std::to_string(records.size()), '\n');
  for (size_t a = 0; a < records.size(); ++a) {
    const TBattleRecord& record = records[a];
    field("anim", '\t');
    field(std::to_string(a), '\t');
    field(std::to_string(record.RotationCount), '\t');
    field(std::to_string(record.FrameCount), '\n');
    if (printer) printer->PrintRecord(a, out);
  }
  out.Flush();
}

} // namespace

void AddBattleCommands(CLI::App& app) {
  auto args = std::make_shared<TBattleArgs>();
  CLI::App* battle = app.add_subcommand(
      "battle", "Load a battle model and print its skeleton, textures and animations");
  battle->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  battle->add_option("CODE", args->Code, "The model's two-letter code, any letter case")
      ->required()
      ->check(CLI::Validator(
          [](const std::string& code) {
            return code.size() == 2 ? std::string() : "CODE must be two letters";
          },
          "XX", "two letters"));
  battle->add_flag("--frames", args->Frames, "Also print every frame of every animation");
  battle->callback([args] { RunBattle(*args); });
}

} // namespace palkor::cli
