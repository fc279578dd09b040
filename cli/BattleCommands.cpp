// battle: load a battle model by its two-letter code and print what it holds.
#include "cli/CliSupport.h"

#include "battle/FF7Battle.h"

#include <memory>

namespace palkor::cli {

namespace {

struct TBattleArgs {
  std::string Archive;
  std::string Code;
  bool Frames = false;
};

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
    if (!args.Frames) continue;
    for (size_t f = 0; f < anim.Frames.size(); ++f) {
      const TBattleFrame& frame = anim.Frames[f];
      std::string rotations;
      for (const TBattleRotation& r : frame.Rotations)
        for (int32_t v : {r.X, r.Y, r.Z}) {
          if (!rotations.empty()) rotations += ' ';
          rotations += std::to_string(v);
        }
      PrintFields({"frame", std::to_string(f), std::to_string(frame.OffsetX),
                   std::to_string(frame.OffsetY), std::to_string(frame.OffsetZ), rotations});
    }
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
