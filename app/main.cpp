// palkor [ARCHIVE_OR_FOLDER]: the viewer. The optional argument opens an archive file or
// a folder at start, after the catalogue cache, as File > Open would.
#include "app/QtDialogs.h"
#include "app/pakmain.h"
#include "archive/DebugLog.h"

#include <QApplication>
#include <QFile>

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
  int result;
  {
    TfrmPalkorMain main;
    dialogs.SetParent(&main);
    main.show();
    QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1) main.OpenArchive(QFile::encodeName(arguments[1]).toStdString());
    result = app.exec();
    SetDialogs(nullptr);
  }
  return result;
}
