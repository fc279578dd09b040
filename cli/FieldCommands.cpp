// pose: build a field model as the viewer does and print its bones at one frame.
#include "cli/CliSupport.h"

#include "field/FieldModel.h"

#include <memory>

namespace palkor::cli {

namespace {

struct TPoseArgs {
  std::string Archive;
  std::string HRC;
  std::string Anim;
  int32_t Frame = 0;
};

void RunPose(const TPoseArgs& args) {
  auto archive = OpenArchive(args.Archive);
  TFieldModel model(*archive, args.HRC, args.Anim);
  archive.reset();
  if (args.Frame >= model.FrameCount)
    throw Exception(
        Format("Frame %d is outside the animation (%d frames)", args.Frame, model.FrameCount));
  model.SetFrame(args.Frame);
  PrintFields({"frames", std::to_string(model.FrameCount)});
  for (int32_t i = 0; i < model.BoneCount(); ++i) {
    const TFieldBone& bone = model.GetBone(i);
    PrintFields({std::to_string(i), std::to_string(bone.Parent), FloatText(bone.Length),
                 FloatText(bone.RotX), FloatText(bone.RotY), FloatText(bone.RotZ),
                 std::to_string(bone.Parts.size()), bone.Name});
  }
}

} // namespace

void AddFieldCommands(CLI::App& app) {
  auto args = std::make_shared<TPoseArgs>();
  CLI::App* pose =
      app.add_subcommand("pose", "Build a field model and print its bones posed at a frame");
  pose->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  pose->add_option("HRC", args->HRC, "Skeleton member, any letter case")->required();
  pose->add_option("ANIM", args->Anim, "Animation member, any letter case")->required();
  pose->add_option("--frame", args->Frame, "Frame to pose, from 0 (default 0)")
      ->check(CLI::NonNegativeNumber);
  pose->callback([args] { RunPose(*args); });
}

} // namespace palkor::cli
