// battle: load a battle model by its two-letter code and print what it holds.
#include "cli/CliSupport.h"
#include "cli/OutputBuffer.h"

#include "battle/BattleModel.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <memory>

namespace palkor::cli {

namespace {

struct TBattleArgs {
  std::string Archive;
  std::string Code;
  bool Frames = false;
};

// One line a frame: "frame", its number and offsets, then its rotations' values separated
// by spaces, tab-separated. Frames come by the hundred thousand: each is printed as it is
// decoded, and none is kept.
void PrintFrames(TStream& member, const TBattleRecord& record, TOutputBuffer& out) {
  // palkor-cli never writes its debug log: the decoder's lines are left out.
  TBattleFrameDecoder decoder(member, record, false);
  // A line's most: the frame's number and offsets, five bytes a value, and the eight the
  // last value's copy takes.
  const size_t lineRoom = 64 + size_t(record.RotationCount) * 15 + 8;
  for (int32_t f = 0; f < record.FrameCount; ++f) {
    decoder.Next();
    const TBattleFrame& frame = decoder.Frame();
    const bool room = out.MakeRoom(lineRoom);
    out.Put("frame\t");
    out.Put(int64_t(f));
    for (int32_t offset : {frame.OffsetX, frame.OffsetY, frame.OffsetZ}) {
      out.Put('\t');
      out.Put(int64_t(offset));
    }
    out.Put('\t');
    // Decoded values are all below 4096.
    if (room) {
      for (const TBattleRotation& r : frame.Rotations) {
        out.PutSpacedUnchecked(uint32_t(r.X));
        out.PutSpacedUnchecked(uint32_t(r.Y));
        out.PutSpacedUnchecked(uint32_t(r.Z));
      }
    } else {
      for (const TBattleRotation& r : frame.Rotations) {
        out.PutSpaced(r.X);
        out.PutSpaced(r.Y);
        out.PutSpaced(r.Z);
      }
    }
    if (frame.Rotations.empty())
      out.Put('\n');
    else
      out.EndSpacedLine();
  }
}

// The model is loaded with its animations undecoded; every record is then decoded once
// before anything is printed, so that a member that cannot be decoded fails with no
// output, as loading the whole model does; the frames are decoded again as they are
// printed.
void RunBattle(const TBattleArgs& args) {
  TBattleModel model;
  {
    auto archive = OpenArchive(args.Archive);
    model.LoadFromArchive(*archive, args.Code, false);
  }
  const std::vector<TBattleRecord> records = model.CheckAnims();
  TStream& member = *model.AnimsMember;
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
    if (args.Frames) PrintFrames(member, record, out);
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
