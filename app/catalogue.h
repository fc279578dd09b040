#pragma once

#include "archive/LGPFile.h"
#include "archive/ModelRef.h"
#include "platform/StringList.h"

#include <cstdint>
#include <string>
#include <vector>

namespace palkor {

// An animation of the catalogue: its member's name and its tag, the bone count in bits
// 31-16 and the member's index in the archive in bits 15-0.
struct TCatalogueEntry {
  std::string Name;
  uint32_t Tag = 0;

  uint32_t BoneCount() const { return Tag >> 16; }
};

uint32_t CatalogueTag(int32_t boneCount, int32_t memberIndex);
// A model's tag, as an animation's is made.
inline uint32_t CatalogueTag(const TModelRef& model) {
  return CatalogueTag(model.BoneCount, model.MemberIndex);
}

// What the window showing an analysis provides: the status text, the progress bar and
// the model list's redrawing.
class TCatalogueListener {
public:
  virtual ~TCatalogueListener() = default;
  // Shows text in the status panel at once.
  virtual void StatusText(const std::string& text) {}
  // The width of the progress panel in pixels.
  virtual int32_t ProgressPanelWidth() const { return 0; }
  // Repaints the progress panel: its filled width has changed.
  virtual void RepaintProgress() {}
  // The model list is about to be filled (true) or has been (false).
  virtual void ModelListUpdating(bool updating) {}
};

// The index of an opened archive: its field models and animations with their bone
// counts, or its battle models; which animations fit a model; and the cache that keeps
// the catalogue between runs.
class TCatalogue {
public:
  // Rebuilds the catalogue in one pass over the archive's members. ArchivePath is the
  // caller's. Archive failures propagate; members that do not parse are passed over.
  // An archive file named battle.lgp (in any letter case) is the battle archive and
  // lists battle models; any other archive, and every folder, lists field models.
  void AnalyseArchive(TLGPFile& archive, TCatalogueListener* listener = nullptr);

  // The names of the animations offered for model k, in catalogue order: for a field
  // model the same bone count, and with filterAnims the prefixes the filter file gives
  // the model; none for a battle model. "List index out of bounds (k)" outside the list.
  // At most most of them (a thumbnail needs the first only).
  std::vector<std::string> AnimationsFor(int32_t k, bool filterAnims, size_t most = SIZE_MAX) const;
  // The display names the filter file gives field model k (comma-terminated); none for
  // a battle model.
  std::vector<std::string> NamesFor(int32_t k) const;
  // The details list of field model k: "Number of bones: N", "", "Names:", "  name"...;
  // none for a battle model.
  std::vector<std::string> DetailsFor(int32_t k) const;
  // The first field model with this member name in any letter case, or -1.
  int32_t IndexOfModel(const std::string& name) const;
  // The first battle model of this two-letter code in any letter case, or -1.
  int32_t IndexOfBattleModel(const std::string& code) const;

  // The filter file's lines; a missing file gives none.
  void LoadFilterFile(const std::string& fileName);

  // Writes the catalogue to the cache file, replacing it, when it lists models and
  // animations of an archive file that still exists; otherwise leaves the file alone.
  void SaveCatalogueCache(const std::string& cacheFileName) const;
  // Appends the catalogue kept in the cache file, in its layout of today or in the one
  // that kept each model's display text (which the next save replaces). Stops quietly
  // when the recorded archive is gone; fails with "Cache record/filesize mismatch -
  // ignoring cache" when it has another size, and when the file is damaged with the
  // runtime's messages ("List index out of bounds (N)" for a missing line, "'$X' is not
  // a valid integer value" for bad digits) or "Invalid catalogue cache: line N is not a
  // model", the entries before the damage kept.
  void LoadCatalogueCache(const std::string& cacheFileName);

  // The archive at archivePath was written by this program (a saved animation): a cache
  // file that records it takes its new size, so that the next start does not take it for
  // stale. Any other cache, or none, is left alone.
  static void ArchiveWritten(const std::string& cacheFileName, const std::string& archivePath);

  // The filled width of a progress panel of width pixels at position of total: rounded
  // to the nearest pixel, halves to even.
  static int32_t ProgressWidth(int32_t width, int32_t position, int32_t total);

  std::string ArchivePath;
  // The models in archive order, each with its place in this list as its Index: the
  // field models of a field archive, or the battle models of the battle archive.
  std::vector<TModelRef> Models;
  std::vector<TCatalogueEntry> AnimList;
  TStringList FilterList;
  int32_t ProgressPosition = 0;
  int32_t ProgressTotal = 1;
  int32_t ProgressDrawn = -1;

private:
  // Appends a model, its Index its place in the list.
  void AddModel(TModelRef model);
  void Scan(TLGPFile& archive, TLGPMemberReader& reader, TCatalogueListener& listener);
};

} // namespace palkor
