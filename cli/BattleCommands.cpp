// battle: load a battle model by its two-letter code and print what it holds.
#include "cli/CliSupport.h"
#include "cli/OutputBuffer.h"

#include "battle/FF7Battle.h"

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
// by spaces, tab-separated. Frames come by the hundred thousand.
void PrintFrames(const TBattleAnim& anim) {
  TOutputBuffer out;
  for (size_t f = 0; f < anim.Frames.size(); ++f) {
    const TBattleFrame& frame = anim.Frames[f];
    out.Put("frame\t");
    out.Put(int64_t(f));
    for (int32_t offset : {frame.OffsetX, frame.OffsetY, frame.OffsetZ}) {
      out.Put('\t');
      out.Put(int64_t(offset));
    }
    out.Put('\t');
    for (const TBattleRotation& r : frame.Rotations) {
      out.PutSpaced(r.X);
      out.PutSpaced(r.Y);
      out.PutSpaced(r.Z);
    }
    if (frame.Rotations.empty())
      out.Put('\n');
    else
      out.EndSpacedLine();
  }
  out.Flush();
}

void RunBattle(const TBattleArgs& args) {
  TBattleModel model;
  {
    auto archive = OpenArchive(args.Archive);
    model.LoadFromArchive(*archive, args.Code);
  }
  PrintFields({"bones", std::to_string(model.BoneCount)});
  for (int32_t b = 0; b < model.BoneCount; ++b)
    PrintFields({"bone", std::to_string(b), std::to_string(model.Bones[size_t(b)].Parent),
                 FloatText(model.Bones[size_t(b)].Length), model.Parts[size_t(b)] ? "1" : "0"});
  PrintFields({"textures", std::to_string(model.Textures.size())});
  PrintFields({"polytotal", std::to_string(model.PolyTotal)});
  PrintFields({"anims", std::to_string(model.AnimCount())});
  for (int32_t a = 0; a < model.AnimCount(); ++a) {
    const TBattleAnim& anim = model.Anims->Anims[size_t(a)];
    PrintFields({"anim", std::to_string(a), std::to_string(anim.RotationCount),
                 std::to_string(anim.Frames.size())});
    if (args.Frames) PrintFrames(anim);
  }
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
