#pragma once

#include "app/catalogue.h"
#include "archive/LGPFile.h"
#include "export/gltf.h"
#include "export/gltfimport.h"
#include "export/modelimport.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace palkor {

// A model name, as the command line gives it, names a battle model when it is a
// two-letter code: two characters and no ".". Anything else is a field model's HRC
// member name.
bool IsBattleModelName(const std::string& model);

// The model a name names (see IsBattleModelName): a battle model by its code, whether
// the catalogue lists it or not, or the catalogue's first field model of that HRC member
// name in any letter case ("no model named MODEL" when it has none).
TModelRef ModelNamed(const TCatalogue& catalogue, const std::string& model);

// The folder and the folders above it, as mkdir -p makes them: "Cannot create folder
// "%s". %s" when one cannot be made or is not a folder.
void MakeFolders(const std::string& folder);

// One model to export and the animations to export with it.
struct TExportItem {
  TModelRef Model;
  // A members' names as the archive spells them (field), or 1-based numbers (battle).
  std::vector<std::string> Anims;
  // Battle models: every animation, whatever their number.
  bool AllAnims = false;

  // The file name without extension: the model's file stem.
  std::string Name() const { return Model.FileStem(); }
};

// The item for model with the animations asked for, or, when anims is empty, the ones
// offered: those AnimationsFor gives a field model of the catalogue (filterAnims as
// "Filter anims"), or every animation of a battle model. Animation names are matched in
// any letter case; "no animation named ANIM" for an animation the archive lacks, "no
// model named MODEL" for a field model outside the catalogue.
TExportItem ResolveExportItem(const TLGPFile& archive, const TCatalogue& catalogue,
                              const TModelRef& model, const std::vector<std::string>& anims,
                              bool filterAnims);

// The models on show in the viewer, if any: exporting the shown model takes it as it is
// shown, with the edits of its animation, rather than building it again.
struct TShownModels {
  const TFieldModel* Field = nullptr;
  const TBattleModel* Battle = nullptr;
};

// Builds the item's model from the archive (or takes the shown one: a field model whose
// HRC name is the item's, the battle model for a battle item) and its glTF document. The
// shown field model's own animation is taken from memory, the others from the archive.
// Fails with the model's own errors, and "no animation %s: the model has %d" for a
// battle animation number outside the model.
TGltfDocument ExportItem(TLGPFile& archive, const TExportItem& item, const TGltfOptions& options,
                         const TShownModels& shown = {});

// ExportItem written to path, whole or not at all. Running out of memory fails with
// "Out of memory: the model is too large to export".
void ExportItemToFile(TLGPFile& archive, const TExportItem& item, const TGltfOptions& options,
                      const std::string& path, const TShownModels& shown = {});

// Every model of the catalogue, each once in catalogue order, with its offered
// animations (a field model's first mostAnims of them): its field models, or its battle
// models.
std::vector<TExportItem> ExportItemsOf(const TLGPFile& archive, const TCatalogue& catalogue,
                                       bool filterAnims, size_t mostAnims = SIZE_MAX);

// Reads animation from (its name; empty: the file's first) of the glTF file at k / fps and
// writes it into the model's animation anim: a field model's existing A member (any
// letter case; "no animation named ANIM"), or a battle model's animation by its 1-based
// number ("no animation %s: the model has %d"). The member is replaced as saving does;
// any failure leaves the archive as it was. A field model is the catalogue's.
void ImportAnimationIntoArchive(TLGPFile& archive, const TCatalogue& catalogue,
                                const TModelRef& model, const std::string& file,
                                const std::string& anim, const std::string& from, int32_t fps);

// What putting the first skinned mesh of the glTF file on the model's skeleton would
// write (see PlanFieldModelImport): new textures made as tex-import makes them, headed
// as the archive's first palettised texture. Nothing is written.
TModelImport PlanModelImport(TLGPFile& archive, const TCatalogue& catalogue, const TModelRef& model,
                             const std::string& file, bool prune);

// Writes a planned import into the archive through one rebuild: all of it or nothing.
void ApplyModelImport(const std::string& archivePath, const TModelImport& plan);

// The animations whose frame 0 a glTF file of the catalogue's field model may be bound
// in: every one offered for the model (filter off), read from archive when they are
// compared.
TFieldAnimations FieldAnimationsOf(TLGPFile& archive, const TCatalogue& catalogue,
                                   const TModelRef& model);

// The animation of file named from, or its first; "no animations in %s".
int32_t ChooseGltfAnimation(const TGltfAnimationFile& file, const std::string& from);

struct TExportAllProgress {
  int32_t Done = 0, Total = 0;
  // Failures so far: the item's name and the message.
  std::vector<std::pair<std::string, std::string>> Failures;
};

// Exports items into folder as NAME.glb, jobs models at a time on threads, each thread
// with its own reading of the archive; a model that fails does not stop the others.
// progress is called on the calling thread after each model and at least every 100 ms
// while models are under way; returning false stops the run once the models under way
// are done (nothing is left half written). Creates folder when missing ("Cannot create
// folder "%s". %s"). A model whose name cannot name a file (see CheckMemberFileName)
// fails as any failing model does. A thread that cannot be made ("Cannot start a
// thread. %s"), a worker that runs out of memory ("Not enough memory to export NAME:
// %d bytes asked for") or a progress call that throws ends the run instead: the models
// under way are finished and the failure is thrown. Returns the final progress.
TExportAllProgress ExportAll(const TArchiveKind& archive, const std::vector<TExportItem>& items,
                             const std::string& folder, const TGltfOptions& options, int32_t jobs,
                             const std::function<bool(const TExportAllProgress&)>& progress);

} // namespace palkor
