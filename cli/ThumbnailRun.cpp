// thumbnails and contact-sheet: every model of an archive drawn headless in its standard
// pose; the contact sheet's labels are set in a system font through Qt.
#include "cli/CliSupport.h"
#include "cli/ThumbnailArgs.h"

#include "app/catalogue.h"
#include "app/exportjobs.h"
#include "app/thumbnailjobs.h"
#include "archive/FolderArchive.h"
#include "platform/BatchedFiles.h"
#include "platform/Files.h"
#include "platform/images.h"
#include "render/offscreen.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>

namespace palkor::cli {

namespace {

// The models of the archive with their poses, and the archive to draw them from.
std::vector<TThumbnailItem> ItemsOf(const TArchiveKind& kind, const TThumbnailArgs& args) {
  auto archive = kind.Open();
  TCatalogue catalogue;
  catalogue.ArchivePath = args.Archive;
  catalogue.AnalyseArchive(*archive);
  if (!args.Filter.empty()) catalogue.FilterList.LoadFromFile(args.Filter);
  return ThumbnailItemsOf(*archive, catalogue, !args.Filter.empty());
}

// Mesa's software rasteriser splits every picture among threads of its own. For pictures
// this small the hand-overs cost more than the threads save, and --jobs already draws
// several at a time: each worker rasterises its own. A setting of the user's is kept.
// Read when the driver is loaded: before any thread is started.
void DrawOnWorkerThreads(const TThumbnailArgs& args) {
  if (args.Size <= 512) ::setenv("LP_NUM_THREADS", "0", 0);
}

int32_t JobsOf(const TThumbnailArgs& args) {
  return args.Jobs > 0 ? args.Jobs : int32_t(std::max(1u, std::thread::hardware_concurrency()));
}

// Draws the items with a bar on a terminal, each failure said as it comes
// ("palkor-cli: NAME: MESSAGE"). The indexes of the items that failed.
std::vector<size_t> Draw(const TArchiveKind& kind, const std::vector<TThumbnailItem>& items,
                         const TThumbnailArgs& args,
                         const std::function<void(size_t, std::vector<uint8_t>&)>& picture) {
  TProgressBar bar(int32_t(items.size()));
  size_t shown = 0;
  TThumbnailProgress result = RenderThumbnails(
      kind, items, args.Size, JobsOf(args), picture, [&](const TThumbnailProgress& progress) {
        for (; shown < progress.Failures.size(); ++shown)
          bar.Message("palkor-cli: " + items[progress.Failures[shown].first].Name() + ": " +
                      progress.Failures[shown].second);
        bar.Show(progress.Done);
        return true;
      });
  std::vector<size_t> failed;
  for (const auto& failure : result.Failures) failed.push_back(failure.first);
  return failed;
}

} // namespace

void RunThumbnails(TThumbnailArgs& args) {
  DrawOnWorkerThreads(args);
  const TOffscreenDisplayWarmUp display; // while the models are listed
  const TArchiveKind kind = ArchiveKindForPath(args.Archive);
  const std::vector<TThumbnailItem> items = ItemsOf(kind, args);
  MakeFolders(args.Out);
  // The pictures are put in place a batch at a time while the drawing goes on: one sync
  // of the file system for each batch, not one for each small file.
  TBatchedFiles pictures(args.Out, 128);
  const std::vector<size_t> failed =
      Draw(kind, items, args, [&](size_t index, std::vector<uint8_t>& rgba) {
        // The name is a member's, and may hold any byte.
        CheckMemberFileName(items[index].Name());
        pictures.Add(items[index].Name() + ".png",
                     EncodePNG(args.Size, args.Size, rgba.data(), 4, false, TPNGRows::Unfiltered));
      });
  pictures.Finish();
  if (!failed.empty()) throw TQuietFailure();
}

namespace {

// The sheet's look: a white page of cells, each the model's picture on a light square
// with two lines of text under it; a model that failed is a square crossed in red.
const QColor PageColour(255, 255, 255), SquareColour(232, 232, 232), NameColour(32, 32, 32),
    DisplayNameColour(96, 96, 96), FailedColour(204, 0, 0), FailedSquareColour(250, 222, 222);

// The largest sheet drawn: QPainter's limit to a side, and memory.
constexpr int64_t MaxSheetSide = 32767;
constexpr int64_t MaxSheetPixels = int64_t(1) << 28;

struct TSheetLayout {
  int32_t Columns = 1, Rows = 1;
  int32_t Padding = 0; // around each square, inside its cell
  int32_t LineHeight = 0;
  int32_t CellWidth = 0, CellHeight = 0;
  int32_t Width = 0, Height = 0;
};

TSheetLayout LayOut(size_t count, int32_t size, int32_t columns, const QFontMetrics& metrics) {
  TSheetLayout layout;
  const int64_t n = std::max<int64_t>(int64_t(count), 1);
  layout.Columns = columns > 0 ? columns : int32_t(std::ceil(std::sqrt(double(n))));
  layout.Columns = int32_t(std::min<int64_t>(layout.Columns, n));
  layout.Rows = int32_t((n + layout.Columns - 1) / layout.Columns);
  layout.Padding = std::max(4, size / 12);
  layout.LineHeight = metrics.height();
  layout.CellWidth = size + 2 * layout.Padding;
  layout.CellHeight = size + 2 * layout.Padding + 2 * layout.LineHeight;
  const int64_t width = int64_t(layout.CellWidth) * layout.Columns + 2 * layout.Padding;
  const int64_t height = int64_t(layout.CellHeight) * layout.Rows + 2 * layout.Padding;
  if (width > MaxSheetSide || height > MaxSheetSide || width * height > MaxSheetPixels)
    throw Exception(Format("The contact sheet would be %s x %s pixels: too large (fewer "
                           "columns or a smaller --size)",
                           std::to_string(width), std::to_string(height)));
  layout.Width = int32_t(width);
  layout.Height = int32_t(height);
  return layout;
}

// A Qt application without a display, for fonts. Qt's own warnings (a runtime folder it
// would like) are not the command's to print.
std::unique_ptr<QGuiApplication> FontApplication() {
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  static int argc = 3;
  static char name[] = "palkor-render", option[] = "-platform", platform[] = "offscreen";
  static char* argv[] = {name, option, platform, nullptr};
  return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace

void RunContactSheet(TThumbnailArgs& args) {
  DrawOnWorkerThreads(args);
  const TOffscreenDisplayWarmUp display; // while the models are listed
  const TArchiveKind kind = ArchiveKindForPath(args.Archive);
  const std::vector<TThumbnailItem> items = ItemsOf(kind, args);

  const auto application = FontApplication();
  QFont font("DejaVu Sans");
  font.setPixelSize(std::clamp(args.Size / 11, 9, 40));
  const QFontMetrics metrics(font);
  const TSheetLayout layout = LayOut(items.size(), args.Size, args.Columns, metrics);
  QImage sheet(layout.Width, layout.Height, QImage::Format_RGB888);
  if (sheet.isNull()) throw Exception("Not enough memory for the contact sheet");
  sheet.fill(PageColour);

  std::mutex drawing;
  QPainter painter(&sheet);
  painter.setFont(font);
  auto squareOf = [&](size_t index) {
    const int32_t column = int32_t(index % size_t(layout.Columns));
    const int32_t row = int32_t(index / size_t(layout.Columns));
    return QRect(layout.Padding + column * layout.CellWidth + layout.Padding,
                 layout.Padding + row * layout.CellHeight + layout.Padding, args.Size, args.Size);
  };
  for (size_t index = 0; index < items.size(); ++index) {
    const QRect square = squareOf(index);
    painter.fillRect(square, SquareColour);
    const int32_t textWidth = layout.CellWidth - layout.Padding;
    const QRect nameLine(square.left() - layout.Padding / 2,
                         square.bottom() + 1 + layout.Padding / 2, textWidth, layout.LineHeight);
    const auto line = [&](const QRect& rect, const std::string& text, const QColor& colour) {
      painter.setPen(colour);
      painter.drawText(rect, Qt::AlignHCenter | Qt::AlignVCenter,
                       metrics.elidedText(QString::fromLatin1(text.data(), qsizetype(text.size())),
                                          Qt::ElideRight, textWidth));
    };
    line(nameLine, EscapeControls(items[index].Model.Member), NameColour);
    line(nameLine.translated(0, layout.LineHeight), EscapeControls(items[index].DisplayName()),
         DisplayNameColour);
  }
  // Pictures are laid in as they come, one at a time.
  const std::vector<size_t> failed =
      Draw(kind, items, args, [&](size_t index, std::vector<uint8_t>& rgba) {
        const QImage picture(rgba.data(), args.Size, args.Size, args.Size * 4,
                             QImage::Format_RGBA8888);
        std::lock_guard<std::mutex> guard(drawing);
        painter.drawImage(squareOf(index), picture);
      });
  for (size_t index : failed) {
    const QRect square = squareOf(index);
    painter.fillRect(square, FailedSquareColour);
    painter.setPen(QPen(FailedColour, std::max(2, args.Size / 32)));
    painter.drawRect(square.adjusted(1, 1, -1, -1));
    const int32_t inset = args.Size / 4;
    const QRect cross = square.adjusted(inset, inset, -inset, -inset);
    painter.drawLine(cross.topLeft(), cross.bottomRight());
    painter.drawLine(cross.topRight(), cross.bottomLeft());
  }
  painter.end();

  std::vector<uint8_t> rgb(size_t(layout.Width) * size_t(layout.Height) * 3);
  for (int32_t y = 0; y < layout.Height; ++y)
    std::copy_n(sheet.constScanLine(y), size_t(layout.Width) * 3,
                rgb.data() + size_t(y) * size_t(layout.Width) * 3);
  WritePNG(args.Out, layout.Width, layout.Height, rgb.data(), 3);
  if (!failed.empty()) throw TQuietFailure();
}

} // namespace palkor::cli
