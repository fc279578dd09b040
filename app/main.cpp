// palkor [ARCHIVE_OR_FOLDER]: the viewer. The optional argument opens an archive file or
// a folder at start, after the catalogue cache, as File > Open would.
#include "app/QtDialogs.h"
#include "app/pakmain.h"
#include "archive/DebugLog.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include <clocale>

namespace {

// Failures that escape a handler end in an error box, never in the event loop.
class TPalkorApplication : public QApplication {
public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      palkor::Dialogs().ShowError(e.what());
    }
    return false;
  }
};

} // namespace

int main(int argc, char** argv) {
  using namespace palkor;
  DebugLog().SetWriteAtEnd(true);
  TPalkorApplication app(argc, argv);
  QApplication::setApplicationDisplayName("Quenmark: Palkor");
  std::setlocale(LC_NUMERIC, "C");
  TQtDialogs dialogs;
  SetDialogs(&dialogs);
  // The argument is taken from the folder the program was started in: the main window
  // moves to the game's folder when it finds one.
  QStringList arguments = QApplication::arguments();
  QString archive = arguments.size() > 1 ? QFileInfo(arguments[1]).absoluteFilePath() : QString();
  int result;
  {
    TfrmPalkorMain main;
    dialogs.SetParent(&main);
    main.show();
    if (!archive.isEmpty()) main.OpenArchive(QFile::encodeName(archive).toStdString());
    result = app.exec();
    SetDialogs(nullptr);
  }
  return result;
}
