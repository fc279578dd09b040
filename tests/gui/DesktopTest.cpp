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
      const QRect area = main->Workspace->viewport()->rect();
      QCOMPARE(main->ViewerWindow->geometry(), area);
      // The picture's bottom row is inside the window: the knight's feet are seen.
      const QPoint bottom = main->frmViewer->mapTo(main->Workspace->viewport(),
                                                   QPoint(0, main->frmViewer->height() - 1));
      QVERIFY(area.contains(bottom));
    }
    QVERIFY(main->frmViewer->width() > 900);
  }

  void toolbarsComeBackWhereTheyWereLeft() {
    {
      auto main = Start();
      // "Display Options" on a second top row, "Model details" on the left.
      main->addToolBarBreak(Qt::TopToolBarArea);
      main->addToolBar(Qt::TopToolBarArea, main->tbPalkorDisplayOpts);
      main->addToolBar(Qt::LeftToolBarArea, main->tbPalkorDetails);
      main->close();
    }
    auto again = Start();
    QCOMPARE(again->toolBarArea(again->tbPalkorDisplayOpts), Qt::TopToolBarArea);
    QVERIFY(again->toolBarBreak(again->tbPalkorDisplayOpts));
    QVERIFY(again->tbPalkorDisplayOpts->y() > again->tbPalkorModels->y());
    QCOMPARE(again->toolBarArea(again->tbPalkorDetails), Qt::LeftToolBarArea);
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
      QCOMPARE(main->cmbModels->count(), 2);
      QVERIFY(main->frmViewer->Session().FieldModel());
      QCOMPARE(main->windowTitle(), QString("char.lgp[*] \u2014 Quenmark: Palkor"));
      main->close();
    }
    // The next start lists the archive that was open, and its models load.
    auto again = Start();
    QCOMPARE(again->Catalogue.ArchivePath, Dir->File("char.lgp"));
    Show(*again, "KNIG.HRC - KNIG", "KNWV.A");
    QVERIFY(again->frmViewer->Session().FieldModel());
    QCOMPARE(Script->Errors.size(), size_t(1));
  }

  void archivesOpenFromTheRecentListByDroppingAndFromTheCommandLine() {
    auto main = Start();
    QVERIFY(!main->mnuOpenRecent->isEnabled());
    main->OpenArchive(Dir->File("char.lgp"));
    main->OpenArchive(Dir->File("battle.lgp"));
    QCOMPARE(main->RecentArchives(), (QStringList{QString::fromStdString(Dir->File("battle.lgp")),
                                                  QString::fromStdString(Dir->File("char.lgp"))}));
    // A recent archive opens from the menu; one that has gone leaves the list with a word.
    emit main->mnuOpenRecent->aboutToShow();
    QCOMPARE(main->mnuOpenRecent->actions().size(), 2);
    main->mnuOpenRecent->actions().at(1)->trigger();
    QCOMPARE(main->Catalogue.ArchivePath, Dir->File("char.lgp"));
    std::filesystem::rename(Dir->File("battle.lgp"), Dir->File("moved.lgp"));
    emit main->mnuOpenRecent->aboutToShow();
    main->mnuOpenRecent->actions().at(1)->trigger();
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
    QVERIFY(main->frmViewer->Session().FieldModel());
    QCOMPARE(QString::fromStdString(main->frmViewer->Session().FieldModel()->AnimName),
             QString("KNWV.A"));
    QVERIFY(main->aAnimation->isChecked());
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
      main->edFindModel->setText(c.Text);
      QStringList items;
      for (int row = 0; row < main->cmbModels->count(); ++row)
        items << main->cmbModels->itemText(row);
      QCOMPARE(items, c.Items);
    }
    // A model chosen from the narrowed list is that model, and stays chosen as the search
    // widens again.
    main->edFindModel->setText("houn");
    main->cmbModels->setCurrentIndex(0);
    main->cmbAnims->setCurrentIndex(0);
    QCOMPARE(main->ChosenModel(), 1);
    QCOMPARE(QString::fromStdString(main->frmViewer->Session().FieldModel()->HRCName),
             QString("HOUN.HRC"));
    main->edFindModel->clear();
    QCOMPARE(main->cmbModels->currentText(), QString("HOUN.HRC - HOUN"));
  }

  void menusHaveShortcutsMnemonicsAndSayWhenTheyAskMore() {
    auto main = Start();
    QCOMPARE(main->mnuOpenLGP->shortcut(), QKeySequence(QKeySequence::Open));
    QCOMPARE(main->mnuOpenFolder->shortcut(), QKeySequence("Ctrl+Shift+O"));
    QCOMPARE(main->mnuSaveChanges->shortcut(), QKeySequence(QKeySequence::Save));
    QCOMPARE(main->mnuExit->shortcut(), QKeySequence(QKeySequence::Quit));
    QCOMPARE(main->mnuHelpContents->shortcut(), QKeySequence(QKeySequence::HelpContents));
    for (QAction* menu : main->menuBar()->actions())
      for (QAction* item : menu->menu()->actions()) {
        if (item->isSeparator()) continue;
        QVERIFY2(item->text().contains('&'), qPrintable(item->text()));
      }
    for (QAction* opensDialog :
         {main->mnuOpenLGP, main->mnuOpenFolder, main->mnuTexturiser, main->mnuRenderAnimation,
          main->mnuExportGltf, main->mnuExportAll, main->mnuImportAnimation, main->mnuSetBackground,
          main->mnuHelpContents})
      QVERIFY2(opensDialog->text().endsWith("..."), qPrintable(opensDialog->text()));
    // Set Background starts at the colour in use.
    Script->ColourAnswers.push_back(0x0000FF);
    main->mnuSetBackground->trigger();
    QCOMPARE(Script->ColourStarts.back(), 0x338000u);
    Script->ColourAnswers.push_back(0x00FF00);
    main->mnuSetBackground->trigger();
    QCOMPARE(Script->ColourStarts.back(), 0x0000FFu);
  }

  void whatTheViewerShowsIsWhatIsRendered() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    main->OpenArchive(Dir->File("battle.lgp")); // the knight stays on show
    QCOMPARE(main->ChosenModel(), -1);
    const std::string out = Dir->File("frames");
    std::filesystem::create_directory(out);
    main->frmRenderOptions->eOutput->setText(QString::fromStdString(out + "/"));
    main->RenderAnimation(false);
    QVERIFY(FileExists(out + "/PK_KNIG_KNWA_0023.bmp"));
    QCOMPARE(main->pStatus->text(), QString::fromStdString("Wrote 24 images to " + out + "/"));
    // Every animation of the list needs the list's model on show.
    main->frmRenderOptions->chkAll->setChecked(true);
    bool refused = false;
    try {
      main->RenderAnimation(false);
    } catch (const Exception&) {
      refused = true;
    }
    QVERIFY(refused);
    main->frmRenderOptions->chkAll->setChecked(false);

    // After Save changes lets the model go, choosing the same animation shows it again.
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    main->mnuSaveChanges->trigger();
    QVERIFY(!main->frmViewer->Session().FieldModel());
    emit main->cmbAnims->activated(main->cmbAnims->currentIndex());
    QVERIFY(main->frmViewer->Session().FieldModel());
  }

  void poseEditsAreUndoneStepByStepBackToTheSavedState() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    TfrmViewer& viewer = *main->frmViewer;
    const std::string saved(viewer.Session().FieldModel()->AnimData.View());
    main->aEditable->setChecked(true);
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

    main->mnuUndo->trigger();
    QCOMPARE(viewer.Session().FieldModel()->GetRotation(3, 0).Y, 30.0f);
    QCOMPARE(Child<QSlider>(&viewer, "trkRY")->value(),
             30); // the trackbar shows the bone as it now is
    main->mnuUndo->trigger();
    QCOMPARE(viewer.Session().FieldModel()->GetRotation(3, 0).Y, start.Y);
    // Back where it was saved: not modified, no question on leaving it.
    QVERIFY(!main->Document().Modified() && !main->isWindowModified());
    QCOMPARE(std::string(viewer.Session().FieldModel()->AnimData.View()), saved);
    main->mnuRedo->trigger();
    QVERIFY(main->Document().Modified() && main->isWindowModified());

    // Cpy is one step too.
    const std::string beforeCopy(viewer.Session().FieldModel()->AnimData.View());
    Script->Answers.push_back(TDialogs::TAnswer::Yes);
    Child<QPushButton>(&viewer, "btnCopy")->click();
    QVERIFY(std::string(viewer.Session().FieldModel()->AnimData.View()) != beforeCopy);
    main->mnuUndo->trigger();
    QCOMPARE(std::string(viewer.Session().FieldModel()->AnimData.View()), beforeCopy);

    // Save changes says what it wrote where.
    Script->Answers.push_back(TDialogs::TAnswer::Yes);
    main->mnuSaveChanges->trigger();
    QCOMPARE(main->pStatus->text(),
             QString::fromStdString("Saved KNWA.A into " + Dir->File("char.lgp")));
    QVERIFY(!main->isWindowModified());
    QCOMPARE(main->Document().UndoStack().count(), 0);
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
      main->cmbModels->setCurrentIndex(model);
      main->cmbAnims->setCurrentIndex(0);
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
