#include "app/exportjobs.h"

#include "app/TextureFiles.h"
#include "archive/FolderArchive.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "platform/Convert.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/StringList.h"
#include "platform/Threads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <mutex>
#include <set>
#include <sys/stat.h>

namespace palkor {

bool IsBattleModelName(const std::string& model) {
  return model.size() == 2 && model.find('.') == std::string::npos;
}

TModelRef ModelNamed(const TCatalogue& catalogue, const std::string& model) {
  if (IsBattleModelName(model)) return TModelRef::OfBattleCode(model);
  const int32_t k = catalogue.IndexOfModel(model);
  if (k < 0) throw Exception("no model named " + model);
  return catalogue.Models[size_t(k)];
}

void MakeFolders(const std::string& folder) {
  for (size_t slash = 1; slash != std::string::npos;) {
    slash = folder.find('/', slash);
    std::string part = folder.substr(0, slash);
    if (slash != std::string::npos) ++slash;
    if (part.empty() || part == ".") continue;
    struct stat info;
    if (::stat(part.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
      throw Exception(Format("Cannot create folder \"%s\". %s", folder, std::strerror(errno)));
  }
  struct stat info;
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    throw Exception(Format("Cannot create folder \"%s\". %s", folder, std::strerror(ENOTDIR)));
}

namespace {

// The catalogue's field model of ref, checked: "no model named MODEL" for one outside it.
const TModelRef& CatalogueModel(const TCatalogue& catalogue, const TModelRef& ref) {
  if (ref.Index < 0 || size_t(ref.Index) >= catalogue.Models.size() ||
      !(catalogue.Models[size_t(ref.Index)] == ref))
    throw Exception("no model named " + ref.Member);
  return ref;
}

} // namespace

TExportItem ResolveExportItem(const TLGPFile& archive, const TCatalogue& catalogue,
                              const TModelRef& model, const std::vector<std::string>& anims,
                              bool filterAnims) {
  TExportItem item;
  item.Model = model;
  if (model.IsBattle()) {
    item.Anims = anims;
    item.AllAnims = anims.empty();
    return item;
  }
  if (anims.empty()) {
    item.Anims = catalogue.AnimationsFor(CatalogueModel(catalogue, model).Index, filterAnims);
  } else {
    for (const std::string& anim : anims) {
      int32_t index = archive.IndexOf(anim);
      if (index < 0) throw Exception("no animation named " + anim);
      item.Anims.push_back(archive.GetEntry(index).Name);
    }
  }
  return item;
}

std::vector<TExportItem> ExportItemsOf(const TLGPFile& archive, const TCatalogue& catalogue,
                                       bool filterAnims, size_t mostAnims) {
  // Battle models first, then field models, as the archive lists them; a model is
  // exported once, however often the catalogue lists its code or member name.
  std::vector<TExportItem> items;
  std::set<std::string> seen;
  for (const TModelRef& model : catalogue.Models)
    if (model.IsBattle() && seen.insert(model.Code()).second)
      items.push_back(ResolveExportItem(archive, catalogue, model, {}, false));
  for (const TModelRef& model : catalogue.Models) {
    if (model.IsBattle() || !seen.insert(UpperCaseASCII(model.Member)).second) continue;
    TExportItem item;
    item.Model = model;
    item.Anims = catalogue.AnimationsFor(model.Index, filterAnims, mostAnims);
    items.push_back(std::move(item));
  }
  return items;
}

TGltfDocument ExportItem(TLGPFile& archive, const TExportItem& item, const TGltfOptions& options,
                         const TShownModels& shown) {
  if (item.Model.IsBattle()) {
    std::unique_ptr<TBattleModel> loaded;
    const TBattleModel* model = shown.Battle;
    if (!model) {
      loaded = std::make_unique<TBattleModel>();
      loaded->LoadFromArchive(archive, item.Model.Code());
      model = loaded.get();
    }
    std::vector<int32_t> indexes;
    if (item.AllAnims) {
      for (int32_t a = 0; a < model->AnimCount(); ++a) indexes.push_back(a);
    } else {
      for (const std::string& anim : item.Anims) {
        int32_t number = 0;
        if (!TryStrToInt(anim, number) || number < 1 || number > model->AnimCount())
          throw Exception(Format("no animation %s: the model has %d", anim, model->AnimCount()));
        indexes.push_back(number - 1);
      }
    }
    return ExportBattleModel(*model, item.Name(), indexes, options);
  }
  // The model is built with the first animation, as the viewer builds it; the others
  // are read as they are.
  std::unique_ptr<TFieldModel> loaded;
  const TFieldModel* model = shown.Field;
  if (!model || !SameTextASCII(model->HRCName, item.Model.Member)) {
    loaded = std::make_unique<TFieldModel>(archive, item.Model.Member,
                                           item.Anims.empty() ? std::string() : item.Anims[0]);
    model = loaded.get();
  }
  std::vector<TFieldAnimation> anims;
  std::vector<std::unique_ptr<TMemoryStream>> read; // the bytes the animations view
  for (const std::string& name : item.Anims) {
    if (!model->AnimName.empty() && SameTextASCII(name, model->AnimName)) {
      anims.push_back({name, model->AnimData.View()});
      continue;
    }
    read.push_back(archive.ReadMemberToMemory(archive.IndexOf(name)));
    anims.push_back({name, read.back()->View()});
  }
  return ExportFieldModel(*model, item.Name(), anims, options);
}

namespace {

// ExportItemToFile without its message for running out of memory.
void WriteItemFile(TLGPFile& archive, const TExportItem& item, const TGltfOptions& options,
                   const std::string& path, const TShownModels& shown) {
  const TGltfDocument document = ExportItem(archive, item, options, shown);
  // The JSON writer under the file's bytes cannot run out of memory safely.
  TCannotFailScope writing("export " + item.Name());
  WriteGltfFile(document, path);
}

} // namespace

void ExportItemToFile(TLGPFile& archive, const TExportItem& item, const TGltfOptions& options,
                      const std::string& path, const TShownModels& shown) {
  try {
    WriteItemFile(archive, item, options, path, shown);
  } catch (const std::bad_alloc&) {
    throw Exception("Out of memory: the model is too large to export");
  }
}

TFieldAnimations FieldAnimationsOf(TLGPFile& archive, const TCatalogue& catalogue,
                                   const TModelRef& model) {
  // One the archive no longer holds is no pose to compare with.
  return {catalogue.AnimationsFor(CatalogueModel(catalogue, model).Index, false),
          [&archive](const std::string& name) {
            const int32_t index = archive.IndexOf(name);
            return index < 0 ? std::string()
                             : std::string(archive.ReadMemberToMemory(index)->View());
          }};
}

int32_t ChooseGltfAnimation(const TGltfAnimationFile& file, const std::string& from) {
  if (!from.empty()) return file.AnimationNamed(from);
  if (file.AnimationNames().empty()) throw Exception(Format("no animations in %s", file.Path()));
  return 0;
}

void ImportAnimationIntoArchive(TLGPFile& archive, const TCatalogue& catalogue,
                                const TModelRef& model, const std::string& file,
                                const std::string& anim, const std::string& from, int32_t fps) {
  if (model.IsBattle()) {
    TBattleModel battle;
    battle.LoadFromArchive(archive, model.Code());
    int32_t number = 0;
    if (!TryStrToInt(anim, number) || number < 1 || number > battle.AnimCount())
      throw Exception(Format("no animation %s: the model has %d", anim, battle.AnimCount()));
    TGltfAnimationFile gltf(file);
    battle.SetAnimation(number - 1, ImportBattleAnimation(battle, number - 1, gltf,
                                                          ChooseGltfAnimation(gltf, from), fps));
    battle.SaveAnimations();
    return;
  }
  CatalogueModel(catalogue, model);
  int32_t index = archive.IndexOf(anim);
  if (index < 0) throw Exception("no animation named " + anim);
  TFieldModel field(archive, model.Member, archive.GetEntry(index).Name);
  TGltfAnimationFile gltf(file);
  const int32_t animation = ChooseGltfAnimation(gltf, from);
  // The new member keeps header words and leading triples of the member as it is when
  // the archive's lock is had, not as it was read above.
  archive.ModifyMember(index, [&](std::string_view current) {
    std::string bytes = ImportFieldAnimation(field, current, gltf, animation, fps,
                                             FieldAnimationsOf(archive, catalogue, model));
    if (AnimFrameCount(int64_t(bytes.size()), field.BoneCount()) < 1) throw EReadError();
    return bytes;
  });
}

TModelImport PlanModelImport(TLGPFile& archive, const TCatalogue& catalogue, const TModelRef& model,
                             const std::string& file, bool prune) {
  TModelImportOptions options;
  options.Prune = prune;
  const std::string header = NewTEXHeader(archive);
  options.EncodeTexture = [header](const TTexImage& picture) {
    TTexImportResult result;
    return EncodeTexture(picture, header, {}, result);
  };
  TGltfAnimationFile gltf(file);
  if (model.IsBattle()) return PlanBattleModelImport(archive, model.Code(), gltf, options);
  CatalogueModel(catalogue, model);
  options.Animations = FieldAnimationsOf(archive, catalogue, model);
  return PlanFieldModelImport(archive, model.Member, gltf, options);
}

void ApplyModelImport(const std::string& archivePath, const TModelImport& plan) {
  EditArchive(ArchiveKindForPath(archivePath), plan.Edit);
}

TExportAllProgress ExportAll(const TArchiveKind& archive, const std::vector<TExportItem>& items,
                             const std::string& folder, const TGltfOptions& options, int32_t jobs,
                             const std::function<bool(const TExportAllProgress&)>& progress) {
  MakeFolders(folder);
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";

  TWorkQueue queue;
  queue.Count = items.size();
  TExportAllProgress state;
  state.Total = int32_t(items.size());
  // What ends the whole run, once: a worker that ran out of memory (the model it was
  // exporting, and the size asked for), or anything else a worker could not go on past.
  std::exception_ptr fatal;
  const TExportItem* starved = nullptr;
  size_t starvedSize = 0;

  auto worker = [&] {
    const TExportItem* current = nullptr;
    // A failure here ends the run: the other workers take no more models, and it is
    // thrown once every worker has finished the model it has under way.
    auto stop = [&](std::exception_ptr failure, bool outOfMemory) noexcept {
      std::lock_guard<std::mutex> guard(queue.Lock);
      if (current) --queue.Running;
      queue.Stopping = true;
      if (!fatal) {
        fatal = failure;
        if (outOfMemory) {
          starved = current;
          starvedSize = FailedAllocationSize();
        }
      }
    };
    try {
      // Each thread reads the archive through its own opening.
      std::unique_ptr<TLGPFile> reader;
      std::string openError;
      try {
        reader = archive.Open();
      } catch (const std::bad_alloc&) {
        throw;
      } catch (const std::exception& e) {
        openError = e.what();
      }
      for (;;) {
        {
          std::lock_guard<std::mutex> guard(queue.Lock);
          if (queue.Stopping || queue.Next >= queue.Count) break;
          current = &items[queue.Next++];
          ++queue.Running;
        }
        const TExportItem& item = *current;
        std::string error = openError;
        if (error.empty()) {
          try {
            // The name is a member's, and may hold any byte.
            CheckMemberFileName(item.Name());
            WriteItemFile(*reader, item, options, prefix + item.Name() + ".glb", {});
          } catch (const std::bad_alloc&) {
            throw;
          } catch (const std::exception& e) {
            error = e.what();
          }
        }
        {
          std::lock_guard<std::mutex> guard(queue.Lock);
          if (!error.empty()) state.Failures.emplace_back(item.Name(), error);
          current = nullptr;
          --queue.Running;
          ++state.Done;
        }
        queue.Changed.notify_all();
      }
    } catch (const std::bad_alloc&) {
      stop(std::current_exception(), true);
      queue.Changed.notify_all();
    } catch (...) {
      stop(std::current_exception(), false);
      queue.Changed.notify_all();
    }
  };

  // A failure of the caller's side (a thread that cannot be made, the progress call)
  // stops the run as a worker's does.
  RunWorkers(queue, jobs, worker, state, progress);
  if (starved) {
    std::string text = "Not enough memory to export " + starved->Name();
    if (starvedSize > 0) text += Format(": %s bytes asked for", std::to_string(starvedSize));
    throw Exception(text);
  }
  if (fatal) {
    try {
      std::rethrow_exception(fatal);
    } catch (const std::bad_alloc&) {
      throw Exception("Not enough memory to export the models");
    }
  }
  return state;
}

} // namespace palkor
