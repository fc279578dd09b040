#include "app/thumbnailjobs.h"

#include "app/exportjobs.h"
#include "platform/StringList.h"
#include "platform/Threads.h"
#include "render/Thumbnails.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

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
  for (TExportItem& exported : ExportItemsOf(archive, catalogue, filterAnims)) {
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
  std::mutex lock;
  std::condition_variable changed;
  TThumbnailProgress state;
  state.Total = int32_t(items.size());
  size_t next = 0;
  bool stopping = false;
  int32_t running = 0;
  std::exception_ptr fatal; // what ended the run, once

  auto worker = [&] {
    try {
      TThumbnailRenderer renderer(size);
      // An archive that cannot be opened fails each model with its message.
      std::unique_ptr<TLGPFile> reader;
      std::string openError;
      try {
        reader = archive.Open();
      } catch (const std::exception& e) {
        openError = e.what();
      }
      for (;;) {
        size_t index;
        {
          std::lock_guard<std::mutex> guard(lock);
          if (stopping || next >= items.size()) break;
          index = next++;
          ++running;
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
          std::lock_guard<std::mutex> guard(lock);
          if (!error.empty()) state.Failures.emplace_back(index, error);
          --running;
          ++state.Done;
        }
        changed.notify_all();
      }
    } catch (...) {
      std::lock_guard<std::mutex> guard(lock);
      stopping = true;
      if (!fatal) fatal = std::current_exception();
    }
    changed.notify_all();
  };

  const int32_t threads = std::max(1, std::min<int32_t>(jobs, int32_t(items.size())));
  std::vector<std::thread> pool;
  std::exception_ptr failure;
  try {
    pool.reserve(size_t(threads));
    for (int32_t t = 0; t < threads; ++t) pool.push_back(StartThread(worker));
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      const bool finished = (stopping || next >= items.size()) && running == 0;
      const TThumbnailProgress now = state;
      guard.unlock();
      const bool goOn = !progress || progress(now);
      guard.lock();
      if (!goOn) stopping = true;
      if (finished) break;
      changed.wait_for(guard, std::chrono::milliseconds(100), [&] {
        return state.Done != now.Done || state.Failures.size() != now.Failures.size() ||
               (stopping && running == 0);
      });
    }
  } catch (...) {
    failure = std::current_exception();
    std::lock_guard<std::mutex> guard(lock);
    stopping = true;
  }
  for (std::thread& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
  if (fatal) std::rethrow_exception(fatal);
  return state;
}

} // namespace palkor
