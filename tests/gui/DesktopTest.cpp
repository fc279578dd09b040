// The main window as a desktop user meets it: the viewer fitting the window, toolbars
// where they were left, opening archives (failed opens, recent ones, dropped ones, the
// command line's model), the search box, shortcuts and titles, and memory that stays put
// while models are browsed.
#include "app/MainWindow.h"
#include "fixtures/Demo.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "fixtures/TexWriter.h"
#include "platform/Files.h"
#include "tests/gui/ScriptedDialogs.h"
#include "tests/gui/WindowTestSupport.h"

#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <filesystem>
#include <fstream>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

// The process's resident memory in bytes.
int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

} // namespace

class DesktopTest : public QObject, protected testing::TWindowTestBase {
  Q_OBJECT

private slots:
  void init() { BeginTest(); }
  void cleanup() { EndTest(); }

  void theViewerFillsTheWorkAreaAtAnySize() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    for (QSize size : {QSize(640, 452), QSize(1000, 760)}) {
      main->resize(size);
      QApplication::processEvents();
      const QRect area = Child<QMdiArea>(&*main, "Workspace")->viewport()->rect();
      QCOMPARE(Child<QMdiSubWindow>(&*main, "ViewerWindow")->geometry(), area);
      // The picture's bottom row is inside the window: the knight's feet are seen.
      const QPoint bottom =
          Child<TfrmViewer>(&*main, "frmViewer")
              ->mapTo(Child<QMdiArea>(&*main, "Workspace")->viewport(),
                      QPoint(0, Child<TfrmViewer>(&*main, "frmViewer")->height() - 1));
      QVERIFY(area.contains(bottom));
    }
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->width() > 900);
  }

  void toolbarsComeBackWhereTheyWereLeft() {
    {
      auto main = Start();
      // "Display Options" on a second top row, "Model details" on the left.
      main->addToolBarBreak(Qt::TopToolBarArea);
      main->addToolBar(Qt::TopToolBarArea, Child<QToolBar>(&*main, "tbPalkorDisplayOpts"));
      main->addToolBar(Qt::LeftToolBarArea, Child<QToolBar>(&*main, "tbPalkorDetails"));
      main->close();
    }
    auto again = Start();
    QCOMPARE(again->toolBarArea(Child<QToolBar>(&*again, "tbPalkorDisplayOpts")),
             Qt::TopToolBarArea);
    QVERIFY(again->toolBarBreak(Child<QToolBar>(&*again, "tbPalkorDisplayOpts")));
    QVERIFY(Child<QToolBar>(&*again, "tbPalkorDisplayOpts")->y() >
            Child<QToolBar>(&*again, "tbPalkorModels")->y());
    QCOMPARE(again->toolBarArea(Child<QToolBar>(&*again, "tbPalkorDetails")), Qt::LeftToolBarArea);
  }

  void aFailedOpenLeavesTheArchiveListedAndTheCacheWhole() {
    WriteFile(Dir->File("notes.lgp"), "these are notes, not an archive");
    {
      auto main = Start();
      main->OpenArchive(Dir->File("char.lgp"));
      Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
      main->OpenArchive(Dir->File("notes.lgp"));
      QCOMPARE(Script->Errors.size(), size_t(1));
      QVERIFY(QString::fromStdString(Script->Errors[0]).contains("is not an LGP archive"));
      QCOMPARE(main->Catalogue.ArchivePath, Dir->File("char.lgp"));
      QCOMPARE(Child<QComboBox>(&*main, "cmbModels")->count(), 2);
      QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel());
      QCOMPARE(main->windowTitle(), QString("char.lgp[*] \u2014 Quenmark: Palkor"));
      main->close();
    }
    // The next start lists the archive that was open, and its models load.
    auto again = Start();
    QCOMPARE(again->Catalogue.ArchivePath, Dir->File("char.lgp"));
    Show(*again, "KNIG.HRC - KNIG", "KNWV.A");
    QVERIFY(Child<TfrmViewer>(&*again, "frmViewer")->Session().FieldModel());
    QCOMPARE(Script->Errors.size(), size_t(1));
  }

  void archivesOpenFromTheRecentListByDroppingAndFromTheCommandLine() {
    auto main = Start();
    QVERIFY(!Child<QMenu>(&*main, "mnuOpenRecent")->isEnabled());
    main->OpenArchive(Dir->File("char.lgp"));
    main->OpenArchive(Dir->File("battle.lgp"));
    QCOMPARE(main->RecentArchives(), (QStringList{QString::fromStdString(Dir->File("battle.lgp")),
                                                  QString::fromStdString(Dir->File("char.lgp"))}));
    // A recent archive opens from the menu; one that has gone leaves the list with a word.
    emit Child<QMenu>(&*main, "mnuOpenRecent")->aboutToShow();
    QCOMPARE(Child<QMenu>(&*main, "mnuOpenRecent")->actions().size(), 2);
    Child<QMenu>(&*main, "mnuOpenRecent")->actions().at(1)->trigger();
    QCOMPARE(main->Catalogue.ArchivePath, Dir->File("char.lgp"));
    std::filesystem::rename(Dir->File("battle.lgp"), Dir->File("moved.lgp"));
    emit Child<QMenu>(&*main, "mnuOpenRecent")->aboutToShow();
    Child<QMenu>(&*main, "mnuOpenRecent")->actions().at(1)->trigger();
    QCOMPARE(Script->Messages.size(), size_t(1));
    QCOMPARE(main->RecentArchives(), QStringList{QString::fromStdString(Dir->File("char.lgp"))});

    // A folder dropped on the window opens.
    std::filesystem::create_directory(Dir->File("extracted"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(Dir->File("extracted")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &drop);
    QVERIFY2(Script->Errors.empty(), Script->Errors.empty() ? "" : Script->Errors.back().c_str());
    QCOMPARE(main->Catalogue.ArchivePath, Dir->File("extracted") + "/");
    QCOMPARE(main->windowTitle(), QString("extracted[*] \u2014 Quenmark: Palkor"));

    // palkor ARCHIVE MODEL ANIM: chosen, shown and playing.
    main->OpenArchive(Dir->File("char.lgp"));
    main->ShowModel("knig.hrc", "knwv.a");
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel());
    QCOMPARE(QString::fromStdString(
                 Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel()->AnimName),
             QString("KNWV.A"));
    QVERIFY(Child<QAction>(&*main, "aAnimation")->isChecked());
    main->ShowModel("nobody.hrc", "");
    QCOMPARE(Script->Errors.back(), std::string("no model named nobody.hrc"));
  }

  void theSearchBoxFindsAModelByFileOrDisplayName() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    const struct {
      const char* Text;
      QStringList Items;
    } cases[] = {
        {"", {"KNIG.HRC - KNIG", "HOUN.HRC - HOUN"}},
        {"houn", {"HOUN.HRC - HOUN"}},
        {"Sir Demo", {"KNIG.HRC - KNIG"}}, // a display name from the filter file
        {"dragon", {}},
    };
    for (const auto& c : cases) {
      Child<QLineEdit>(&*main, "edFindModel")->setText(c.Text);
      QStringList items;
      for (int row = 0; row < Child<QComboBox>(&*main, "cmbModels")->count(); ++row)
        items << Child<QComboBox>(&*main, "cmbModels")->itemText(row);
      QCOMPARE(items, c.Items);
      // A search that finds nothing says so in the list.
      QCOMPARE(Child<QComboBox>(&*main, "cmbModels")->placeholderText(),
               c.Items.isEmpty() ? QString("No model matches \"%1\"").arg(c.Text) : QString());
    }
    // A model chosen from the narrowed list is that model, and stays chosen as the search
    // widens again.
    Child<QLineEdit>(&*main, "edFindModel")->setText("houn");
    Child<QComboBox>(&*main, "cmbModels")->setCurrentIndex(0);
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(0);
    QCOMPARE(main->ChosenModel(), 1);
    QCOMPARE(QString::fromStdString(
                 Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel()->HRCName),
             QString("HOUN.HRC"));
    Child<QLineEdit>(&*main, "edFindModel")->clear();
    QCOMPARE(Child<QComboBox>(&*main, "cmbModels")->currentText(), QString("HOUN.HRC - HOUN"));
  }

  void menusHaveShortcutsMnemonicsAndSayWhenTheyAskMore() {
    auto main = Start();
    QCOMPARE(Child<QAction>(&*main, "mnuOpenLGP")->shortcut(), QKeySequence(QKeySequence::Open));
    QCOMPARE(Child<QAction>(&*main, "mnuOpenFolder")->shortcut(), QKeySequence("Ctrl+Shift+O"));
    QCOMPARE(Child<QAction>(&*main, "mnuSaveChanges")->shortcut(),
             QKeySequence(QKeySequence::Save));
    QCOMPARE(Child<QAction>(&*main, "mnuExit")->shortcut(), QKeySequence(QKeySequence::Quit));
    QCOMPARE(Child<QAction>(&*main, "mnuHelpContents")->shortcut(),
             QKeySequence(QKeySequence::HelpContents));
    // Every item has a mnemonic, and no two items of a menu share one: the menu bar, every
    // menu and submenu (Open Recent filled), and the Texturiser's.
    main->OpenArchive(Dir->File("char.lgp"));
    main->OpenArchive(Dir->File("battle.lgp"));
    emit Child<QMenu>(&*main, "mnuOpenRecent")->aboutToShow();
    std::vector<QList<QAction*>> menus{main->menuBar()->actions()};
    for (QMenuBar* bar : Child<QWidget>(&*main, "frmTex")->findChildren<QMenuBar*>())
      menus.push_back(bar->actions());
    int walked = 0;
    for (size_t m = 0; m < menus.size(); ++m) {
      QSet<QChar> letters;
      for (QAction* item : menus[m]) {
        if (item->isSeparator()) continue;
        const QString text = item->text();
        const qsizetype amp = text.indexOf('&');
        QVERIFY2(amp >= 0 && amp + 1 < text.size(), qPrintable(text));
        QVERIFY2(!letters.contains(text[amp + 1].toLower()), qPrintable(text));
        letters.insert(text[amp + 1].toLower());
        if (item->menu()) menus.push_back(item->menu()->actions());
        ++walked;
      }
    }
    QVERIFY(walked > 40);
    for (QAction* opensDialog :
         {Child<QAction>(&*main, "mnuOpenLGP"), Child<QAction>(&*main, "mnuOpenFolder"),
          Child<QAction>(&*main, "mnuTexturiser"), Child<QAction>(&*main, "mnuRenderAnimation"),
          Child<QAction>(&*main, "mnuExportGltf"), Child<QAction>(&*main, "mnuExportAll"),
          Child<QAction>(&*main, "mnuImportAnimation"), Child<QAction>(&*main, "mnuSetBackground"),
          Child<QAction>(&*main, "mnuHelpContents")})
      QVERIFY2(opensDialog->text().endsWith("..."), qPrintable(opensDialog->text()));
    // Set Background starts at the colour in use.
    Script->ColourAnswers.push_back(0x0000FF);
    Child<QAction>(&*main, "mnuSetBackground")->trigger();
    QCOMPARE(Script->ColourStarts.back(), 0x338000u);
    Script->ColourAnswers.push_back(0x00FF00);
    Child<QAction>(&*main, "mnuSetBackground")->trigger();
    QCOMPARE(Script->ColourStarts.back(), 0x0000FFu);
  }

  void whatTheViewerShowsIsWhatIsRendered() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    const std::string out = Dir->File("frames");
    std::filesystem::create_directory(out);
    Child<QLineEdit>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "eOutput")
        ->setText(QString::fromStdString(out + "/"));
    main->RenderAnimation(false);
    QVERIFY(FileExists(out + "/PK_KNIG_KNWA_0023.bmp"));
    QCOMPARE(StatusOf(*main), QString::fromStdString("Wrote 24 images to " + out + "/"));
    // Another archive opened: nothing of the one before is on show, or rendered.
    main->OpenArchive(Dir->File("battle.lgp"));
    QCOMPARE(main->ChosenModel(), -1);
    QVERIFY(!Child<TfrmViewer>(&*main, "frmViewer")->Session().HasModel());
    QString refused;
    try {
      main->RenderAnimation(false);
    } catch (const Exception& e) {
      refused = e.what();
    }
    QCOMPARE(refused, QString("No model selected"));
    // Save changes keeps the model on show.
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    Child<QAction>(&*main, "mnuSaveChanges")->trigger();
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel());
  }

  void poseEditsAreUndoneStepByStepBackToTheSavedState() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    const std::string saved(viewer.Session().FieldModel()->AnimData.View());
    Child<QAction>(&*main, "aEditable")->setChecked(true);
    Child<QListWidget>(&viewer, "lstParts")->setCurrentRow(3);
    const TVec3 start = viewer.Session().FieldModel()->GetRotation(3, 0);
    // A drag through three values is one step; a keyboard step is another.
    Child<QSlider>(&viewer, "trkRY")->setSliderDown(true);
    for (int value : {10, 20, 30}) Child<QSlider>(&viewer, "trkRY")->setValue(value);
    Child<QSlider>(&viewer, "trkRY")->setSliderDown(false);
    Child<QSlider>(&viewer, "trkRY")->setValue(31);
    QCOMPARE(main->Document().UndoStack().count(), 2);
    QVERIFY(main->Document().Modified() && main->isWindowModified());
    QCOMPARE(viewer.Session().FieldModel()->GetRotation(3, 0).Y, 31.0f);

    Child<QAction>(&*main, "mnuUndo")->trigger();
    QCOMPARE(viewer.Session().FieldModel()->GetRotation(3, 0).Y, 30.0f);
    QCOMPARE(Child<QSlider>(&viewer, "trkRY")->value(),
             30); // the trackbar shows the bone as it now is
    Child<QAction>(&*main, "mnuUndo")->trigger();
    QCOMPARE(viewer.Session().FieldModel()->GetRotation(3, 0).Y, start.Y);
    // Back where it was saved: not modified, no question on leaving it.
    QVERIFY(!main->Document().Modified() && !main->isWindowModified());
    QCOMPARE(std::string(viewer.Session().FieldModel()->AnimData.View()), saved);
    Child<QAction>(&*main, "mnuRedo")->trigger();
    QVERIFY(main->Document().Modified() && main->isWindowModified());

    // Cpy is one step too.
    const std::string beforeCopy(viewer.Session().FieldModel()->AnimData.View());
    Script->Answers.push_back(TDialogs::TAnswer::Yes);
    Child<QPushButton>(&viewer, "btnCopy")->click();
    QVERIFY(std::string(viewer.Session().FieldModel()->AnimData.View()) != beforeCopy);
    Child<QAction>(&*main, "mnuUndo")->trigger();
    QCOMPARE(std::string(viewer.Session().FieldModel()->AnimData.View()), beforeCopy);

    // Save changes says what it wrote where.
    Child<QAction>(&*main, "mnuSaveChanges")->trigger();
    QCOMPARE(StatusOf(*main), QString::fromStdString("Saved KNWA.A into " + Dir->File("char.lgp")));
    // The model stays on show, unmodified, its steps still there to undo.
    QVERIFY(!main->isWindowModified() && main->Document().UndoStack().isClean());
    QCOMPARE(main->Document().UndoStack().count(), 2);
  }

  void showingModelAfterModelKeepsMemoryWhereItWas() {
    // Two models with a large texture each: every one left behind would be seen.
    std::vector<uint8_t> pixels(256 * 256 * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 31 + i / 1024);
    const std::string texture = BuildPaletteTEX(256, 256, pixels);
    TLGPFixture lgp;
    for (const char* code : {"AAAA", "BBBB"}) {
      TModelPartFixture part;
      part.P.AddBox(0, 0, 0, 4, 4, 4, {255, 255, 255, 255}, 0);
      part.Textures = {texture};
      AddFieldModel(lgp, code, {{"b", "root", 2, {part}}});
      lgp.Add(std::string(code) + ".A", BuildAnimation(1, {{{0, 0, 0}}}));
    }
    WriteFile(Dir->File("big.lgp"), BuildLGP(lgp));
    auto main = Start();
    main->OpenArchive(Dir->File("big.lgp"));
    auto show = [&](int model) {
      Child<QComboBox>(&*main, "cmbModels")->setCurrentIndex(model);
      Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(0);
      QApplication::processEvents();
    };
    show(0);
    show(1);
    const int64_t afterTwo = ResidentBytes();
    for (int k = 0; k < 200; ++k) show(k % 2);
    const int64_t afterMany = ResidentBytes();
    // 200 textures of 256 x 256 would be 50 MB and more.
    QVERIFY2(afterMany - afterTwo < 12 * 1024 * 1024,
             qPrintable(QString("%1 MB more").arg((afterMany - afterTwo) / 1048576.0)));
  }
};

QTEST_MAIN(DesktopTest)
#include "DesktopTest.moc"
