#include "app/thumbnailjobs.h"

#include "app/exportjobs.h"
#include "platform/StringList.h"
#include "platform/Threads.h"
#include "render/Thumbnails.h"

#include <algorithm>
#include <exception>
#include <mutex>

namespace palkor {

std::string TThumbnailItem::DisplayName() const {
  if (!Names.empty()) {
    std::string joined;
    for (const std::string& name : Names) joined += (joined.empty() ? "" : ", ") + name;
    return joined;
  }
  return Model.IsBattle() ? "Battle model " + Model.Code() : Model.Skeleton;
}

std::vector<TThumbnailItem> ThumbnailItemsOf(const TLGPFile& archive, const TCatalogue& catalogue,
                                             bool filterAnims) {
  std::vector<TThumbnailItem> items;
  // A field model's first offered animation is the one its thumbnail shows.
  for (TExportItem& exported : ExportItemsOf(archive, catalogue, filterAnims, 1)) {
    TThumbnailItem item;
    item.Model = std::move(exported.Model);
    if (!item.Model.IsBattle() && !exported.Anims.empty()) item.Anim = exported.Anims.front();
    if (item.Model.Index >= 0) item.Names = catalogue.NamesFor(item.Model.Index);
    items.push_back(std::move(item));
  }
  return items;
}

TThumbnailProgress
RenderThumbnails(const TArchiveKind& archive, const std::vector<TThumbnailItem>& items,
                 int32_t size, int32_t jobs,
                 const std::function<void(size_t index, std::vector<uint8_t>& rgba)>& picture,
                 const std::function<bool(const TThumbnailProgress&)>& progress) {
  TWorkQueue queue;
  queue.Count = items.size();
  TThumbnailProgress state;
  state.Total = int32_t(items.size());
  std::exception_ptr fatal; // what ended the run, once

  auto worker = [&] {
    try {
      // An archive that cannot be opened fails each model with its message. It is opened
      // first: the renderer may wait for the GL driver to be loaded.
      std::unique_ptr<TLGPFile> reader;
      std::string openError;
      try {
        reader = archive.Open();
      } catch (const std::exception& e) {
        openError = e.what();
      }
      TThumbnailRenderer renderer(size);
      for (;;) {
        size_t index;
        {
          std::lock_guard<std::mutex> guard(queue.Lock);
          if (queue.Stopping || queue.Next >= queue.Count) break;
          index = queue.Next++;
          ++queue.Running;
        }
        std::string error = openError;
        if (error.empty()) {
          try {
            std::vector<uint8_t> rgba =
                renderer.Render(*reader, items[index].Model, items[index].Anim);
            picture(index, rgba);
          } catch (const std::bad_alloc&) {
            error = "Not enough memory to draw " + items[index].Name();
          } catch (const std::exception& e) {
            error = e.what();
          }
        }
        {
          std::lock_guard<std::mutex> guard(queue.Lock);
          if (!error.empty()) state.Failures.emplace_back(index, error);
          --queue.Running;
          ++state.Done;
        }
        queue.Changed.notify_all();
      }
    } catch (...) {
      std::lock_guard<std::mutex> guard(queue.Lock);
      queue.Stopping = true;
      if (!fatal) fatal = std::current_exception();
    }
    queue.Changed.notify_all();
  };

  RunWorkers(queue, jobs, worker, state, progress);
  if (fatal) std::rethrow_exception(fatal);
  return state;
}

} // namespace palkor
