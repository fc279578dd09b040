#pragma once

#include "archive/LGPFile.h"
#include "platform/StringList.h"

#include <cstdint>
#include <string>
#include <vector>

namespace palkor {

// A catalogue entry: a member's name and its tag, the bone count in bits 31-16 and the
// member's index in the archive in bits 15-0.
struct TCatalogueEntry {
  std::string Name;
  uint32_t Tag = 0;

  uint32_t BoneCount() const { return Tag >> 16; }
};

uint32_t CatalogueTag(int32_t boneCount, int32_t memberIndex);

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
  void AnalyseArchive(TLGPFile& archive, TCatalogueListener* listener = nullptr);

  // The names of the animations offered for field model k, in catalogue order: the same
  // bone count, and with filterAnims the prefixes the filter file gives the model.
  std::vector<std::string> AnimationsFor(int32_t k, bool filterAnims) const;
  // The display names the filter file gives model k (comma-terminated).
  std::vector<std::string> NamesFor(int32_t k) const;
  // The details list of field model k: "Number of bones: N", "", "Names:", "  name"...
  std::vector<std::string> DetailsFor(int32_t k) const;
  // The first model entry with this member name in any letter case, or -1.
  int32_t IndexOfModel(const std::string& name) const;

  // The filter file's lines; a missing file gives none.
  void LoadFilterFile(const std::string& fileName);

  // Writes the catalogue to the cache file, replacing it, when it lists models and
  // animations of an archive file that still exists; otherwise leaves the file alone.
  void SaveCatalogueCache(const std::string& cacheFileName) const;
  // Appends the catalogue kept in the cache file. Stops quietly when the recorded
  // archive is gone; fails with "Cache record/filesize mismatch - ignoring cache" when
  // it has another size, and with the runtime's messages when the file is damaged.
  void LoadCatalogueCache(const std::string& cacheFileName);

  // The filled width of a progress panel of width pixels at position of total: rounded
  // to the nearest pixel, halves to even.
  static int32_t ProgressWidth(int32_t width, int32_t position, int32_t total);

  std::string ArchivePath;
  std::vector<TCatalogueEntry> ModelList;
  std::vector<TCatalogueEntry> AnimList;
  // The model list's display texts: "NAME - skeleton" for field models, parallel to
  // ModelList; "[Battle] NAME" items for the battle archive, with ModelList empty.
  std::vector<std::string> ModelItems;
  // The battle archive's model codes in upper case, parallel to ModelItems.
  std::vector<std::string> BattleCodes;
  TStringList FilterList;
  int32_t ProgressPosition = 0;
  int32_t ProgressTotal = 1;
  int32_t ProgressDrawn = -1;

private:
  void Scan(TLGPFile& archive, TLGPMemberReader& reader, TCatalogueListener& listener);
};

} // namespace palkor
