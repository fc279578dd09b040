// palkor_bench_browser ARCHIVE: what a user of the Model Browser waits for, measured in
// the real window (run it under xvfb-run; the times are printed, nothing is asserted):
// - the first thumbnail on screen after the archive is opened with the browser showing;
// - how long the window takes to answer while thumbnails are being made: each 20 ms a
//   request is posted to the event loop and the viewer is painted at once when it is
//   handled; the figure is the time from posting to the paint's end;
// - on a second start with the cache filled, the time until every thumbnail on screen
//   is shown.
#include "app/MainWindow.h"
#include "app/ModelBrowser.h"
#include "render/viewerform.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace palkor;

namespace {

template <typename T>
T* Child(const QObject* parent, const char* name) {
  T* child = parent->findChild<T*>(name);
  if (!child) qFatal("no %s named %s", T::staticMetaObject.className(), name);
  return child;
}

// Runs the event loop until done() or timeoutMs; the milliseconds it took, or -1.
template <typename F>
double WaitFor(F done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return -1;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return double(clock.nsecsElapsed()) / 1e6;
}

// The grid's rows whose item lies at least partly inside its viewport.
int VisibleRows(QListView* grid) {
  int count = 0;
  for (int row = 0; row < grid->model()->rowCount(); ++row)
    count += grid->visualRect(grid->model()->index(row, 0)).intersects(grid->viewport()->rect());
  return count;
}

std::unique_ptr<TMainWindow> Start(const TPalkorPaths& paths) {
  auto main = std::make_unique<TMainWindow>(paths);
  main->resize(1100, 800);
  main->show();
  if (!QTest::qWaitForWindowExposed(main.get())) qWarning("the main window was not exposed");
  return main;
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: palkor_bench_browser ARCHIVE\n");
    return 2;
  }
  const std::string archive = argv[1];
  QTemporaryDir dir;
  TPalkorPaths paths;
  paths.Settings = dir.filePath("quenmark.ini").toStdString();
  paths.Filter = dir.filePath("palkor.filter").toStdString();
  paths.Cache = dir.filePath("palkor.cache").toStdString();

  {
    auto main = Start(paths);
    auto* browser = Child<TModelBrowser>(main.get(), "dckModelBrowser");
    auto* viewer = Child<TfrmViewer>(main.get(), "frmViewer");
    Child<QAction>(main.get(), "mnuModelBrowser")->trigger();
    WaitFor([] { return false; }, 200);

    QElapsedTimer clock;
    clock.start();
    main->OpenLGP(archive);
    const double opened = double(clock.nsecsElapsed()) / 1e6;
    const double first = WaitFor([&] { return browser->ThumbnailsDone() >= 1; }, 60000);
    std::printf("open of the archive (OpenLGP returns)        %8.1f ms\n", opened);
    std::printf("first thumbnail on screen after the open     %8.1f ms  (target 500)\n",
                first < 0 ? -1 : opened + first);

    // Paints asked for while the thumbnails are made.
    std::vector<double> answers;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      QElapsedTimer posted;
      posted.start();
      QTimer::singleShot(0, viewer, [&answers, viewer, posted] {
        viewer->repaint();
        answers.push_back(double(posted.nsecsElapsed()) / 1e6);
      });
    });
    ticker.start(20);
    const int total = int(browser->findChild<QListView*>("lvModels")->model()->rowCount());
    const double all = WaitFor([&] { return browser->ThumbnailsDone() >= total; }, 600000);
    ticker.stop();
    std::sort(answers.begin(), answers.end());
    if (!answers.empty())
      std::printf("paint of the viewer while thumbnails are made: median %.1f ms, 95%% %.1f ms, "
                  "max %.1f ms over %zu paints  (target 50)\n",
                  answers[answers.size() / 2], answers[answers.size() * 95 / 100], answers.back(),
                  answers.size());
    std::printf("every thumbnail of %d models made           %8.1f ms\n", total, all);
  }
  {
    QElapsedTimer clock;
    clock.start();
    auto main = Start(paths);
    auto* browser = Child<TModelBrowser>(main.get(), "dckModelBrowser");
    auto* grid = browser->findChild<QListView*>("lvModels");
    const double shown = WaitFor(
        [&] {
          const int visible = VisibleRows(grid);
          return visible > 0 && browser->ThumbnailsDone() >= visible;
        },
        60000);
    std::printf("second start: window up                      %8.1f ms\n",
                double(clock.nsecsElapsed()) / 1e6 - (shown < 0 ? 0 : shown));
    std::printf("second start: every visible thumbnail shown  %8.1f ms after start, %d "
                "visible, %d drawn  (target 200)\n",
                shown < 0 ? -1 : double(clock.nsecsElapsed()) / 1e6, VisibleRows(grid),
                browser->ThumbnailsDrawn());
  }
  return 0;
}
