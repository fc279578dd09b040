// palkor [ARCHIVE [MODEL [ANIM]]]: the viewer. ARCHIVE, an archive file or a folder, is
// opened at start after the catalogue cache, as File > Open would; MODEL (an HRC name or
// a battle code) is then chosen and, with ANIM (an A member or a battle animation's
// number), shown playing.
#include "app/QtDialogs.h"
#include "app/pakmain.h"
#include "archive/DebugLog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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
  QApplication::setApplicationName("palkor");
  QApplication::setApplicationDisplayName("Quenmark: Palkor");
  // The log goes to the user's data folder: the program's own may not be writable.
  const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
  QDir().mkpath(data);
  DebugLog().SetLogFileName(QFile::encodeName(data + "/LOG.TXT").toStdString());
  std::setlocale(LC_NUMERIC, "C");
  TQtDialogs dialogs;
  SetDialogs(&dialogs);
  // The argument is taken from the folder the program was started in: the main window
  // moves to the game's folder when it finds one.
  QStringList arguments = QApplication::arguments();
  QString archive = arguments.size() > 1 ? QFileInfo(arguments[1]).absoluteFilePath() : QString();
  const std::string model =
      arguments.size() > 2 ? QFile::encodeName(arguments[2]).toStdString() : "";
  const std::string anim =
      arguments.size() > 3 ? QFile::encodeName(arguments[3]).toStdString() : "";
  int result;
  {
    TfrmPalkorMain main;
    dialogs.SetParent(&main);
    main.show();
    if (!archive.isEmpty()) main.OpenArchive(QFile::encodeName(archive).toStdString());
    if (!model.empty()) main.ShowModel(model, anim);
    result = app.exec();
    SetDialogs(nullptr);
  }
  return result;
}
