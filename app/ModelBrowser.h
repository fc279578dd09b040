#pragma once

#include "app/thumbnailcache.h"
#include "archive/LGPFile.h"
#include "archive/ModelRef.h"

#include <QDockWidget>
#include <QIcon>
#include <QListView>
#include <QStandardItemModel>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace palkor {

// One model the browser shows: its reference, the animation of its standard pose and
// its label.
struct TBrowserModel {
  TModelRef Model;
  std::string Anim;
  std::string Label;
};

// View > Model Browser: a dock with the open archive's models as a grid of thumbnails,
// each labelled with its names. Thumbnails are made on a thread of the browser's own
// (with its own GL context), the rows on screen first, and kept in the thumbnail cache,
// whose pictures are shown at once while the members they were drawn from are unchanged.
// The window keeps the browser in step with its model list.
class TModelBrowser : public QDockWidget {
  Q_OBJECT
public:
  // Thumbnails kept in cacheFolder.
  TModelBrowser(const std::string& cacheFolder, QWidget* parent = nullptr);
  ~TModelBrowser() override;

  // The models of archive, in catalogue order (a model's place is its index); thumbnails
  // of another archive are no longer made.
  void SetArchive(const TArchiveKind& archive, std::vector<TBrowserModel> models);
  // The models shown, by their places, in the order the grid shows them.
  void ShowModels(const std::vector<int32_t>& places);
  // Marks the model at place as chosen (none for -1), without saying so.
  void Choose(int32_t place);
  // The model chosen, or -1.
  int32_t Chosen() const;
  // The thumbnails made or found so far for the archive set last.
  int32_t ThumbnailsDone() const { return FDone; }
  // The thumbnails drawn since the browser was made, rather than found in the cache.
  int32_t ThumbnailsDrawn() const { return FDrawn; }

signals:
  // The user chose the model at place, or asked to see it (a double-click).
  void ModelChosen(int32_t place);
  void ModelActivated(int32_t place);

protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  struct TJob {
    uint64_t Generation = 0;
    int32_t Place = -1;
  };
  // What the drawing thread is given, under FLock.
  struct TShared {
    uint64_t Generation = 0;
    TArchiveKind Archive;
    std::vector<TBrowserModel> Models;
    std::deque<TJob> Queue;
    bool Stopping = false;
  };

  // The rows on screen first, then those below them, then those above: the models still
  // without a thumbnail, in that order, for the drawing thread.
  void Prioritise();
  void ShowCachedAtOnce();
  int RowsOnScreen() const;
  void Work();
  void Deliver(uint64_t generation, int32_t place, QImage picture, bool failed);
  QStandardItem* ItemOf(int32_t place) const;

  QListView* lvModels;
  QStandardItemModel* FItems;
  TThumbnailCache FCache;
  std::vector<TBrowserModel> FModels;
  // Per place: 0 waiting, 1 shown, 2 failed; its icon; its row in the grid, or -1.
  std::vector<uint8_t> FState;
  std::vector<QIcon> FIcons;
  std::vector<int> FRows;
  std::vector<int32_t> FShown;
  uint64_t FGeneration = 0;
  // The archive as the window's thread reads it for cached thumbnails, and its generation.
  std::unique_ptr<TLGPFile> FCacheArchive;
  uint64_t FCacheArchiveGeneration = 0;
  int32_t FDone = 0;
  QIcon FWaitingIcon, FFailedIcon;

  std::mutex FLock;
  std::condition_variable FWake;
  TShared FShared;
  std::atomic<int32_t> FDrawn{0};
  std::thread FThread;
};

} // namespace palkor
