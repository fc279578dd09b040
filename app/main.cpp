// palkor [ARCHIVE [MODEL [ANIM]]]: the viewer. ARCHIVE, an archive file or a folder, is
// opened at start after the catalogue cache, as File > Open would; MODEL (an HRC name or
// a battle code) is then chosen and, with ANIM (an A member or a battle animation's
// number), shown playing. --help and --version answer without a display.
#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "archive/LGPFile.h"
#include "platform/DebugLog.h"
#include "platform/Memory.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QStandardPaths>

#include <clocale>
#include <cstdio>

namespace {

// Failures that escape a handler end in an error box, never in the event loop.
class TPalkorApplication : public QApplication {
public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::bad_alloc&) {
      palkor::Dialogs().ShowError(palkor::OutOfMemoryText());
    } catch (const std::exception& e) {
      palkor::Dialogs().ShowError(e.what());
    }
    return false;
  }
};

// The command line's options and arguments; the toolkit's own options (-platform,
// -style, ...) are taken out of the arguments by QApplication before the parse that counts.
struct TCommandLine {
  QCommandLineParser Parser;
  QCommandLineOption Help{{"h", "help"}, "Show this help and exit."};
  QCommandLineOption Version{{"v", "version"}, "Show the program's version and exit."};

  TCommandLine() {
    // -h and -v as names, not letters: the toolkit's -reverse is no -v.
    Parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    Parser.setApplicationDescription(
        "The viewer and light editor of the 3D character models of the PC release of\n"
        "Final Fantasy VII: it opens the game's LGP archives, or a folder of files\n"
        "extracted from them, and shows, animates, edits and renders the field and battle\n"
        "models inside.");
    Parser.addOption(Help);
    Parser.addOption(Version);
    Parser.addPositionalArgument("ARCHIVE",
                                 "An LGP archive, or a folder of its files, opened at start.",
                                 "[ARCHIVE [MODEL [ANIM]]]");
    Parser.addPositionalArgument(
        "MODEL", "The model chosen in it: an HRC name (KNIG.HRC) or a battle code (rt).", "");
    Parser.addPositionalArgument(
        "ANIM", "The animation shown playing: an A member or a battle animation's number.", "");
  }

  QString HelpText() const {
    // The usage line is written here: without an application object Qt names no program,
    // and it has no form for arguments that each need the one before.
    QString text = Parser.helpText();
    text = "Usage: palkor [options] [ARCHIVE [MODEL [ANIM]]]" + text.mid(text.indexOf('\n'));
    return text + "\nFiles:\n"
                  "  $XDG_CONFIG_HOME/quenmark.ini      settings and the toolbars' places\n"
                  "  $XDG_CONFIG_HOME/palkor.filter     the filter file of \"Filter anims\"\n"
                  "  $XDG_CACHE_HOME/palkor/palkor.cache  the catalogue of the last archive\n"
                  "  $XDG_DATA_HOME/palkor/LOG.TXT      the debug log of the last run\n"
                  "The folders are ~/.config, ~/.cache and ~/.local/share where these are unset.\n";
  }
};

} // namespace

int main(int argc, char** argv) {
  using namespace palkor;
  QApplication::setApplicationName("palkor");
  QApplication::setApplicationVersion(PALKOR_VERSION);
  TCommandLine commandLine;
  {
    // --help and --version are answered before the toolkit starts, so that they need no
    // display; other mistakes are reported below, once the toolkit's options are out.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    commandLine.Parser.parse(arguments);
    if (commandLine.Parser.isSet(commandLine.Help)) {
      std::fputs(qPrintable(commandLine.HelpText()), stdout);
      return 0;
    }
    if (commandLine.Parser.isSet(commandLine.Version)) {
      std::printf("palkor %s\n", PALKOR_VERSION);
      return 0;
    }
  }
  TPalkorApplication app(argc, argv);
  // Saving waits for another program writing to the same archive under a busy cursor.
  palkor::SetArchiveLockWaitHandler([](const std::string&, bool waiting) {
    if (waiting)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  });
  QApplication::setApplicationDisplayName("Quenmark: Palkor");
  // The installed desktop entry and icon: the window is matched to the entry by its name.
  QGuiApplication::setDesktopFileName(PALKOR_APP_ID);
  QApplication::setWindowIcon(QIcon::fromTheme(PALKOR_APP_ID, PalkorIcon()));
  commandLine.Parser.process(app);
  // The log goes to the user's data folder: the program's own may not be writable. It is
  // written at the end only once it is pointed there.
  const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
  QDir().mkpath(data);
  DebugLog().SetLogFileName(QFile::encodeName(data + "/LOG.TXT").toStdString());
  DebugLog().SetWriteAtEnd(true);
  std::setlocale(LC_NUMERIC, "C");
  TQtDialogs dialogs;
  SetDialogs(&dialogs);
  // The argument is taken from the folder the program was started in: the main window
  // moves to the game's folder when it finds one.
  const QStringList arguments = commandLine.Parser.positionalArguments();
  QString archive = arguments.size() > 0 ? QFileInfo(arguments[0]).absoluteFilePath() : QString();
  const std::string model =
      arguments.size() > 1 ? QFile::encodeName(arguments[1]).toStdString() : "";
  const std::string anim =
      arguments.size() > 2 ? QFile::encodeName(arguments[2]).toStdString() : "";
  int result;
  {
    TMainWindow main;
    dialogs.SetParent(&main);
    main.show();
    if (!archive.isEmpty()) main.OpenArchive(QFile::encodeName(archive).toStdString());
    if (!model.empty()) main.ShowModel(model, anim);
    result = app.exec();
    SetDialogs(nullptr);
  }
  return result;
}
