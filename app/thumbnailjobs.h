#pragma once

#include "app/catalogue.h"
#include "archive/LGPFile.h"
#include "archive/ModelRef.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace palkor {

// One model to draw as a thumbnail, and the animation whose frame 0 poses it.
struct TThumbnailItem {
  TModelRef Model;
  // The first animation offered for a field model, or "" (none offered, or a battle
  // model, which is posed by its own first animation).
  std::string Anim;
  // The names the filter file gives the model, for labels.
  std::vector<std::string> Names;

  // The file name without extension, as Export All Models names a model's files.
  std::string Name() const { return Model.FileStem(); }
  // What a label calls the model besides its member: the filter file's names, else a
  // field model's skeleton name or a battle model's code.
  std::string DisplayName() const;
};

// Every model of the catalogue once, as Export All Models takes them (battle models
// first, then field models, in catalogue order), with the animation of its standard pose:
// the first that AnimationsFor offers (filterAnims as "Filter anims").
std::vector<TThumbnailItem> ThumbnailItemsOf(const TLGPFile& archive, const TCatalogue& catalogue,
                                             bool filterAnims);

struct TThumbnailProgress {
  int32_t Done = 0, Total = 0;
  // Failures so far: the item's index and the message.
  std::vector<std::pair<size_t, std::string>> Failures;
};

// Draws the items as size x size thumbnails, jobs at a time on threads, each thread with
// its own thumbnail renderer (and GL context) and its own reading of the archive. picture
// is called on the drawing thread with the item's index and its straight RGBA pixels
// (top row first); what it throws counts as that item's failure, as a model that cannot
// be drawn does, and the others go on. progress is called on the calling thread after
// each item and at least every 100 ms; returning false stops the run once the items
// under way are done. A renderer or thread that cannot be made ends the run: the items
// under way are finished and the failure is thrown. Returns the final progress.
TThumbnailProgress
RenderThumbnails(const TArchiveKind& archive, const std::vector<TThumbnailItem>& items,
                 int32_t size, int32_t jobs,
                 const std::function<void(size_t index, std::vector<uint8_t>& rgba)>& picture,
                 const std::function<bool(const TThumbnailProgress&)>& progress);

} // namespace palkor
