// export and export-all: models as glTF 2.0 files.
#include "cli/CliSupport.h"

#include "app/catalogue.h"
#include "app/exportjobs.h"
#include "archive/FolderArchive.h"
#include "platform/Convert.h"
#include "platform/StringList.h"

#include <cstdio>
#include <memory>
#include <thread>

namespace palkor::cli {

namespace {

struct TExportArgs {
  std::string Archive, Model, Out, Filter, File, Anim, From;
  std::string BindPose = "zero";
  std::vector<std::string> Anims;
  int32_t Fps = 30;
  int32_t Jobs = 0;
  bool Prune = false;
};

// The archive's catalogue with the filter file loaded when one is given.
TCatalogue Analyse(TLGPFile& archive, const TExportArgs& args) {
  TCatalogue catalogue;
  catalogue.ArchivePath = args.Archive;
  catalogue.AnalyseArchive(archive);
  if (!args.Filter.empty()) catalogue.FilterList.LoadFromFile(args.Filter);
  return catalogue;
}

TGltfOptions OptionsOf(const TExportArgs& args) {
  TGltfOptions options;
  options.Fps = args.Fps;
  options.BindPose = args.BindPose == "first-frame" ? TBindPose::FirstFrame : TBindPose::Zero;
  return options;
}

// --bind-pose, as export and export-all take it.
void AddBindPoseOption(CLI::App& command, std::string& value) {
  command
      .add_option("--bind-pose", value,
                  "The pose the skin is bound in, which programs show as the model's rest: "
                  "zero (every rotation 0, the default) or first-frame (frame 0 of the first "
                  "exported animation; zero for a model without one)")
      ->check(CLI::IsMember({"zero", "first-frame"}));
}

void RunExport(const TExportArgs& args) {
  auto archive = OpenArchive(args.Archive);
  // Battle models need no catalogue; field models are found through it.
  TCatalogue catalogue;
  if (!IsBattleModelName(args.Model)) catalogue = Analyse(*archive, args);
  TExportItem item = ResolveExportItem(*archive, catalogue, ModelNamed(catalogue, args.Model),
                                       args.Anims, !args.Filter.empty());
  ExportItemToFile(*archive, item, OptionsOf(args), args.Out);
}

void RunExportAll(const TExportArgs& args) {
  TArchiveKind kind = ArchiveKindForPath(args.Archive);
  std::vector<TExportItem> items;
  {
    auto archive = kind.Open();
    TCatalogue catalogue = Analyse(*archive, args);
    items = ExportItemsOf(*archive, catalogue, !args.Filter.empty());
  }
  const TGltfOptions options = OptionsOf(args);
  int32_t jobs =
      args.Jobs > 0 ? args.Jobs : int32_t(std::max(1u, std::thread::hardware_concurrency()));
  TExportAllProgress result;
  {
    // The bar ends its line before the summary.
    TProgressBar bar(int32_t(items.size()));
    size_t shown = 0;
    result =
        ExportAll(kind, items, args.Out, options, jobs, [&](const TExportAllProgress& progress) {
          for (; shown < progress.Failures.size(); ++shown)
            bar.Message("palkor-cli: " + progress.Failures[shown].first + ": " +
                        progress.Failures[shown].second);
          bar.Show(progress.Done);
          return true;
        });
  }
  PrintLine(Format("exported %d of %d models", result.Done - int32_t(result.Failures.size()),
                   result.Total));
  if (!result.Failures.empty()) {
    std::fflush(stdout);
    throw TQuietFailure();
  }
}

void RunImportAnim(const TExportArgs& args) {
  auto archive = OpenArchive(args.Archive);
  TCatalogue catalogue;
  if (!IsBattleModelName(args.Model)) catalogue = Analyse(*archive, args);
  ImportAnimationIntoArchive(*archive, catalogue, ModelNamed(catalogue, args.Model), args.File,
                             args.Anim, args.From, args.Fps);
}

void RunImportModel(const TExportArgs& args) {
  TModelImport plan;
  {
    auto archive = OpenArchive(args.Archive);
    TCatalogue catalogue;
    if (!IsBattleModelName(args.Model)) catalogue = Analyse(*archive, args);
    plan = PlanModelImport(*archive, catalogue, ModelNamed(catalogue, args.Model), args.File,
                           args.Prune);
  }
  ApplyModelImport(args.Archive, plan);
  for (const TModelImportSummary::TBone& bone : plan.Summary.Bones)
    PrintLine(Format("%s: %d triangles, %d textures", Latin1ToUTF8(bone.Name), bone.Triangles,
                     bone.Textures));
  std::fflush(stdout);
  for (const std::string& warning : plan.Summary.Warnings)
    std::fprintf(stderr, "palkor-cli: warning: %s\n", EscapeControls(warning).c_str());
}

} // namespace

void AddExportCommands(CLI::App& app) {
  auto args = std::make_shared<TExportArgs>();
  CLI::App* exportCommand = app.add_subcommand("export", "Write a model as a glTF 2.0 file");
  exportCommand->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  exportCommand
      ->add_option("MODEL", args->Model, "HRC member name (field) or two-letter code (battle)")
      ->required();
  exportCommand->add_option("OUT", args->Out, "Output file: .glb binary, otherwise .gltf JSON")
      ->required();
  exportCommand
      ->add_option("--anim", args->Anims,
                   "An animation to export, in order: A member name (field) or 1-based "
                   "number (battle); default every animation offered")
      ->take_last()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  exportCommand->add_option("--filter", args->Filter,
                            "Filter file: the animations it names for the model");
  exportCommand->add_option("--fps", args->Fps, "Frames per second, 1 to 1000 (default 30)")
      ->check(CLI::Range(1, 1000));
  AddBindPoseOption(*exportCommand, args->BindPose);
  exportCommand->callback([args] { RunExport(*args); });

  auto allArgs = std::make_shared<TExportArgs>();
  CLI::App* all = app.add_subcommand("export-all", "Write every model as OUTDIR/NAME.glb");
  all->add_option("ARCHIVE", allArgs->Archive, "LGP file or folder")->required();
  all->add_option("OUTDIR", allArgs->Out, "Output folder, made when missing")->required();
  all->add_option("--filter", allArgs->Filter,
                  "Filter file: the animations it names for each model");
  all->add_option("--fps", allArgs->Fps, "Frames per second, 1 to 1000 (default 30)")
      ->check(CLI::Range(1, 1000));
  all->add_option("--jobs", allArgs->Jobs,
                  "Models exported at a time, 1 to 256 (default: the number of processors)")
      ->check(CLI::Range(1, 256));
  AddBindPoseOption(*all, allArgs->BindPose);
  all->callback([allArgs] { RunExportAll(*allArgs); });

  auto importArgs = std::make_shared<TExportArgs>();
  CLI::App* import =
      app.add_subcommand("import-anim", "Read an animation back from a glTF file into the archive");
  import->add_option("ARCHIVE", importArgs->Archive, "LGP file or folder")->required();
  import
      ->add_option("MODEL", importArgs->Model,
                   "HRC member name (field) or two-letter code (battle)")
      ->required();
  import->add_option("FILE", importArgs->File, "glTF file (.glb or .gltf)")->required();
  import
      ->add_option("ANIM", importArgs->Anim,
                   "The animation replaced: A member name (field) or 1-based number (battle)")
      ->required();
  import->add_option("--from", importArgs->From, "The file's animation (default: its first)");
  import->add_option("--fps", importArgs->Fps, "Frames per second, 1 to 1000 (default 30)")
      ->check(CLI::Range(1, 1000));
  import->callback([importArgs] { RunImportAnim(*importArgs);
});

auto modelArgs = std::make_shared<TExportArgs>();
CLI::App* importModel = app.add_subcommand(
    "import-model", "Put the skinned mesh of a glTF file on a model's skeleton in the archive");
importModel->add_option("ARCHIVE", modelArgs->Archive, "LGP file or folder")->required();
importModel
    ->add_option("MODEL", modelArgs->Model, "HRC member name (field) or two-letter code (battle)")
    ->required();
importModel->add_option("FILE", modelArgs->File, "glTF file (.glb or .gltf)")->required();
importModel->add_flag("--prune", modelArgs->Prune,
                      "Remove the model's own TEX members that no part names any more");
importModel->callback([modelArgs] { RunImportModel(*modelArgs); });
} // namespace palkor::cli

} // namespace palkor::cli
