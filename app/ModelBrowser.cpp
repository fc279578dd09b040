#include "app/ModelBrowser.h"

#include "platform/Files.h"
#include "platform/Threads.h"
#include "render/QtGuard.h"
#include "render/QtText.h"
#include "render/Thumbnails.h"

#include <QPainter>
#include <QPen>
#include <QScrollBar>

#include <algorithm>

namespace palkor {

namespace {

constexpr int32_t BrowserThumbnailSize = DefaultThumbnailSize;

// An icon that looks the same chosen or not: by default the chosen item's icon is drawn
// tinted with the highlight colour, which turns a thumbnail into a grey shape and hides
// the very colours it is there to show. The label's highlight shows the choice.
QIcon UntintedIcon(const QPixmap& pixmap) {
  QIcon icon(pixmap);
  icon.addPixmap(pixmap, QIcon::Selected);
  return icon;
}

QIcon BlankIcon(bool failed) {
  QPixmap pixmap(BrowserThumbnailSize, BrowserThumbnailSize);
  pixmap.fill(Qt::transparent);
  if (failed) {
    QPainter painter(&pixmap);
    painter.setPen(QPen(QColor(204, 0, 0), 4));
    const int32_t a = BrowserThumbnailSize / 4, b = BrowserThumbnailSize - a;
    painter.drawLine(a, a, b, b);
    painter.drawLine(b, a, a, b);
  }
  return UntintedIcon(pixmap);
}

} // namespace

TModelBrowser::TModelBrowser(const std::string& cacheFolder, QWidget* parent)
    : QDockWidget("Model Browser", parent), FCache(cacheFolder), FWaitingIcon(BlankIcon(false)),
      FFailedIcon(BlankIcon(true)) {
  setObjectName("dckModelBrowser");
  lvModels = new QListView(this);
  lvModels->setObjectName("lvModels");
  lvModels->setViewMode(QListView::IconMode);
  lvModels->setIconSize(QSize(BrowserThumbnailSize, BrowserThumbnailSize));
  lvModels->setGridSize(QSize(BrowserThumbnailSize + 24, BrowserThumbnailSize + 44));
  lvModels->setResizeMode(QListView::Adjust);
  lvModels->setMovement(QListView::Static);
  lvModels->setUniformItemSizes(true);
  lvModels->setWordWrap(true);
  lvModels->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvModels->setSelectionMode(QAbstractItemView::SingleSelection);
  FItems = new QStandardItemModel(this);
  lvModels->setModel(FItems);
  setWidget(lvModels);

  auto placeOf = [this](const QModelIndex& index) {
    return index.isValid() ? FItems->itemFromIndex(index)->data().toInt() : -1;
  };
  ConnectGuarded(lvModels->selectionModel(), &QItemSelectionModel::currentChanged, this,
                 [this, placeOf](const QModelIndex& index) {
                   const int32_t place = placeOf(index);
                   if (place >= 0) emit ModelChosen(place);
                 });
  ConnectGuarded(lvModels, &QListView::doubleClicked, this,
                 [this, placeOf](const QModelIndex& index) {
                   const int32_t place = placeOf(index);
                   if (place >= 0) emit ModelActivated(place);
                 });
  ConnectGuarded(lvModels->verticalScrollBar(), &QScrollBar::valueChanged, this,
                 [this] { Prioritise(); });
  ConnectGuarded(this, &QDockWidget::visibilityChanged, this, [this] { Prioritise(); });
  FThread = StartThread([this] { Work(); });
}

TModelBrowser::~TModelBrowser() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FShared.Stopping = true;
    FShared.Queue.clear();
  }
  FWake.notify_all();
  FThread.join();
}

void TModelBrowser::SetArchive(const TArchiveKind& archive, std::vector<TBrowserModel> models) {
  FModels = std::move(models);
  FState.assign(FModels.size(), 0);
  FIcons.assign(FModels.size(), FWaitingIcon);
  FRows.assign(FModels.size(), -1);
  FShown.clear();
  FDone = 0;
  ++FGeneration;
  FCacheArchive.reset();
  FItems->clear();
  std::lock_guard<std::mutex> guard(FLock);
  FShared.Generation = FGeneration;
  FShared.Archive = archive;
  FShared.Models = FModels;
  FShared.Queue.clear();
}

void TModelBrowser::ShowModels(const std::vector<int32_t>& places) {
  if (places == FShown) return;
  FShown = places;
  QSignalBlocker block(lvModels->selectionModel());
  FItems->clear();
  std::fill(FRows.begin(), FRows.end(), -1);
  for (int32_t place : places) {
    if (place < 0 || size_t(place) >= FModels.size()) continue;
    FRows[size_t(place)] = FItems->rowCount();
    auto* item = new QStandardItem(FIcons[size_t(place)], Text(FModels[size_t(place)].Label));
    item->setData(int(place));
    item->setToolTip(Text(FModels[size_t(place)].Label));
    FItems->appendRow(item);
  }
  ShowCachedAtOnce();
  Prioritise();
}

int TModelBrowser::RowsOnScreen() const {
  const QSize viewport = lvModels->viewport()->size(), grid = lvModels->gridSize();
  if (viewport.isEmpty() || grid.isEmpty()) return 0;
  const int columns = std::max(1, viewport.width() / grid.width());
  return columns * ((viewport.height() + grid.height() - 1) / grid.height());
}

// The thumbnails of the rows on screen that the cache holds are put in at once, so that
// a window opened with the browser showing has them in its first paint; the others come
// from the drawing thread as they are made. The archive is read only when the cache has a
// file for one of them.
void TModelBrowser::ShowCachedAtOnce() {
  constexpr int MostAtOnce = 64;
  if (!isVisible()) return;
  TArchiveKind kind;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FShared.Generation != FGeneration) return;
    kind = FShared.Archive;
  }
  std::vector<std::pair<int32_t, TThumbnailKey>> wanted;
  const int rows = std::min({FItems->rowCount(), RowsOnScreen(), MostAtOnce});
  for (int row = 0; row < rows; ++row) {
    const int32_t place = FItems->item(row)->data().toInt();
    if (FState[size_t(place)] != 0) continue;
    const TBrowserModel& model = FModels[size_t(place)];
    TThumbnailKey key{kind.Path, model.Model.Member, model.Anim, BrowserThumbnailSize};
    if (FileExists(FCache.FileOf(key))) wanted.emplace_back(place, std::move(key));
  }
  if (wanted.empty()) return;
  if (!FCacheArchive || FCacheArchiveGeneration != FGeneration) {
    FCacheArchive.reset();
    try {
      FCacheArchive = kind.Open();
    } catch (const std::exception&) {
      return; // the drawing thread says so
    }
    FCacheArchiveGeneration = FGeneration;
  }
  for (const auto& [place, key] : wanted) {
    std::vector<uint8_t> rgba = FCache.Find(*FCacheArchive, key);
    if (rgba.empty()) continue;
    Deliver(FGeneration, place,
            QImage(rgba.data(), BrowserThumbnailSize, BrowserThumbnailSize,
                   BrowserThumbnailSize * 4, QImage::Format_RGBA8888),
            false);
  }
}

QStandardItem* TModelBrowser::ItemOf(int32_t place) const {
  if (place < 0 || size_t(place) >= FRows.size() || FRows[size_t(place)] < 0) return nullptr;
  return FItems->item(FRows[size_t(place)]);
}

void TModelBrowser::Choose(int32_t place) {
  QSignalBlocker block(lvModels->selectionModel());
  QStandardItem* item = place >= 0 ? ItemOf(place) : nullptr;
  if (!item) {
    lvModels->selectionModel()->clear();
    return;
  }
  lvModels->selectionModel()->setCurrentIndex(item->index(), QItemSelectionModel::ClearAndSelect);
  lvModels->scrollTo(item->index());
}

int32_t TModelBrowser::Chosen() const {
  const QModelIndex index = lvModels->currentIndex();
  return index.isValid() ? FItems->itemFromIndex(index)->data().toInt() : -1;
}

void TModelBrowser::showEvent(QShowEvent* event) {
  QDockWidget::showEvent(event);
  Prioritise();
}

void TModelBrowser::resizeEvent(QResizeEvent* event) {
  QDockWidget::resizeEvent(event);
  Prioritise();
}

void TModelBrowser::Prioritise() {
  std::deque<TJob> queue;
  if (isVisible() && FItems->rowCount() > 0) {
    // The first row on screen: the item at the viewport's top left, or the first.
    QModelIndex first = lvModels->indexAt(QPoint(8, 8));
    const int rows = FItems->rowCount();
    const int start = first.isValid() ? first.row() : 0;
    auto add = [&](int row) {
      const int32_t place = FItems->item(row)->data().toInt();
      if (FState[size_t(place)] == 0) queue.push_back({FGeneration, place});
    };
    for (int row = start; row < rows; ++row) add(row);
    for (int row = 0; row < start; ++row) add(row);
  }
  {
    std::lock_guard<std::mutex> guard(FLock);
    FShared.Queue = std::move(queue);
  }
  FWake.notify_all();
}

// The drawing thread: the renderer and its context are made on it when first needed, and
// the archive is opened again for each archive set.
void TModelBrowser::Work() {
  std::unique_ptr<TThumbnailRenderer> renderer;
  std::unique_ptr<TLGPFile> archive;
  uint64_t archiveGeneration = 0;
  for (;;) {
    TJob job;
    TBrowserModel model;
    TArchiveKind kind;
    {
      std::unique_lock<std::mutex> guard(FLock);
      FWake.wait(guard, [&] { return FShared.Stopping || !FShared.Queue.empty(); });
      if (FShared.Stopping) return;
      job = FShared.Queue.front();
      FShared.Queue.pop_front();
      if (job.Generation != FShared.Generation || job.Place < 0 ||
          size_t(job.Place) >= FShared.Models.size())
        continue;
      model = FShared.Models[size_t(job.Place)];
      kind = FShared.Archive;
    }
    QImage picture;
    bool failed = false;
    try {
      if (archiveGeneration != job.Generation) {
        archive.reset();
        archiveGeneration = job.Generation;
        archive = kind.Open();
      }
      if (!archive) throw Exception("No archive");
      const TThumbnailKey key{kind.Path, model.Model.Member, model.Anim, BrowserThumbnailSize};
      std::vector<uint8_t> rgba = FCache.Find(*archive, key);
      if (rgba.empty()) {
        if (!renderer) renderer = std::make_unique<TThumbnailRenderer>(BrowserThumbnailSize);
        TMemberReadLog log;
        rgba = renderer->Render(*archive, model.Model, model.Anim);
        ++FDrawn;
        try {
          FCache.Store(key, log.Members(), rgba);
        } catch (const Exception&) {
          // A cache that cannot be written only costs the next start the drawing.
        }
      }
      picture = QImage(rgba.data(), BrowserThumbnailSize, BrowserThumbnailSize,
                       BrowserThumbnailSize * 4, QImage::Format_RGBA8888)
                    .copy();
    } catch (const std::exception&) {
      failed = true;
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation = job.Generation, place = job.Place, picture, failed] {
          Deliver(generation, place, picture, failed);
        },
        Qt::QueuedConnection);
  }
}

void TModelBrowser::Deliver(uint64_t generation, int32_t place, QImage picture, bool failed) {
  if (generation != FGeneration || size_t(place) >= FState.size() || FState[size_t(place)] != 0)
    return;
  FState[size_t(place)] = failed ? 2 : 1;
  FIcons[size_t(place)] = failed ? FFailedIcon : UntintedIcon(QPixmap::fromImage(picture));
  ++FDone;
  if (QStandardItem* item = ItemOf(place)) item->setIcon(FIcons[size_t(place)]);
}

} // namespace palkor
