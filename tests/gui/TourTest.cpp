// The viewer as a new user meets it: a model shown as soon as it is chosen, saving that
// keeps the model, unsaved edits asked about on every way out, undo that puts the bone
// back, the filter file beside the archive, Space that plays wherever the focus is, and
// Render Animation's folder, view and animation.
#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "fixtures/PNGReader.h"
#include "platform/Files.h"
#include "tests/gui/ScriptedDialogs.h"
#include "tests/gui/WindowTestSupport.h"

#include <QCheckBox>
#include <QDropEvent>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <filesystem>

using namespace palkor;
using namespace palkor::fixtures;

class TourTest : public QObject, protected testing::TWindowTestBase {
  Q_OBJECT

  std::unique_ptr<TMainWindow> Main;
  TfrmViewer* Viewer = nullptr;

  // The knight walking, editable, on show from the archive in the test's folder.
  void ShowKnight() {
    Main = Start();
    Main->OpenArchive(Dir->File("char.lgp"));
    Show(*Main, "KNIG.HRC - KNIG", "KNWA.A");
    Viewer = Child<TfrmViewer>(&*Main, "frmViewer");
    Child<QAction>(&*Main, "aEditable")->setChecked(true);
  }
  QComboBox* Combo(const char* name) { return Child<QComboBox>(&*Main, name); }
  QListWidget* Bones() { return Child<QListWidget>(Viewer, "lstParts"); }
  QSlider* Trackbar(const char* name) { return Child<QSlider>(Viewer, name); }
  QStringList Listed(const char* name) {
    QStringList items;
    for (int row = 0; row < Combo(name)->count(); ++row) items << Combo(name)->itemText(row);
    return items;
  }

private slots:
  void init() { BeginTest(); }
  void cleanup() {
    Main.reset();
    Viewer = nullptr;
    EndTest();
  }

  // Opening an archive with unsaved edits asks first: Cancel opens nothing, No lets the
  // edited model go with its archive. Without edits nothing is asked, and nothing of the
  // archive before stays on show however the new one is opened.
  void openingAnotherArchiveAsksFirstAndShowsNothingOfTheOldOne() {
    ShowKnight();
    Bones()->setCurrentRow(3);
    Trackbar("trkRY")->setValue(45);
    QVERIFY(Main->isWindowModified());
    Script->Answers = {TDialogs::TAnswer::Cancel};
    Main->OpenArchive(Dir->File("battle.lgp"));
    QCOMPARE(Script->Questions,
             std::vector<std::string>{"Model animations have changed! Update LGP?"});
    QCOMPARE(Main->windowTitle(), QString("char.lgp[*] \u2014 Quenmark: Palkor"));
    QVERIFY(Main->isWindowModified() && Viewer->Session().FieldModel());
    QCOMPARE(Listed("cmbModels"), (QStringList{"KNIG.HRC - KNIG", "HOUN.HRC - HOUN"}));

    const std::string before = ReadFileBytes(Dir->File("char.lgp"));
    Script->Answers = {TDialogs::TAnswer::No};
    Main->OpenArchive(Dir->File("battle.lgp"));
    QCOMPARE(Script->Questions.size(), size_t(2));
    QVERIFY(!Viewer->Session().HasModel() && !Main->isWindowModified());
    QCOMPARE(Main->windowTitle(), QString("battle.lgp[*] \u2014 Quenmark: Palkor"));
    QCOMPARE(Listed("cmbAnims"), QStringList());
    QCOMPARE(ReadFileBytes(Dir->File("char.lgp")), before);

    // A battle model without edits goes quietly, dropped on the window as a folder.
    Show(*Main, "[Battle] RTAA", nullptr);
    QVERIFY(Viewer->Session().BattleModel());
    const std::string folder = Dir->File("loose");
    std::filesystem::create_directory(folder);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&*Main, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&*Main, &drop);
    QCOMPARE(Main->Catalogue.ArchivePath, folder + "/");
    QVERIFY(!Viewer->Session().HasModel());
    QCOMPARE(Script->Questions.size(), size_t(2));
    QVERIFY(Script->Errors.empty());
  }

  // Undoing or redoing a step selects the bone it was made with: the list, the trackbars
  // and the next edit agree.
  void undoAndRedoPutBackTheBoneOfTheStep() {
    ShowKnight();
    const int arm = 4;
    Bones()->setCurrentRow(arm);
    const TFieldModel& knight = *Viewer->Session().FieldModel();
    Trackbar("trkRX")->setValue(20);
    Script->Answers = {TDialogs::TAnswer::Yes};
    Child<QPushButton>(Viewer, "btnCopy")->click();
    // The copy leaves the last bone selected, and the list and trackbars say so.
    QCOMPARE(Viewer->Session().Options.SelectedBone, 11);
    QCOMPARE(Bones()->currentRow(), 11);
    QCOMPARE(Trackbar("trkRX")->value(), int(knight.GetBone(11).RotX));

    for (const char* step : {"mnuUndo", "mnuRedo", "mnuUndo", "mnuUndo"}) {
      Child<QAction>(&*Main, step)->trigger();
      QCOMPARE(Viewer->Session().Options.SelectedBone, arm);
      QCOMPARE(Bones()->currentRow(), arm);
      QCOMPARE(Trackbar("trkRX")->value(), int(knight.GetBone(arm).RotX));
      QVERIFY(Trackbar("trkRX")->isEnabled());
    }
    // The next edit turns the arm, and only the arm.
    const TVec3 last = knight.GetRotation(11, knight.CurrentFrame);
    Trackbar("trkRZ")->setValue(33);
    QCOMPARE(knight.GetBone(arm).RotZ, 33.0f);
    QCOMPARE(knight.GetRotation(11, knight.CurrentFrame).Z, last.Z);
    QCOMPARE(Main->Document().UndoStack().count(), 1);
  }

  // "Filter anims" and the search by display name use the filter file beside the archive;
  // without any filter file, ticking it says so and offers every animation.
  void theFilterFileBesideTheArchiveIsUsed() {
    // The configuration's filter file is not there: only the one beside the archive, which
    // offers the knight only his wave.
    WriteFile(Dir->File("palkor.filter"), "KNIGAnims=KNWV,\r\nKNIGNames=Knight,\r\n");
    TPalkorPaths paths = Paths();
    paths.Filter = Dir->File("config/palkor.filter");
    Main = std::make_unique<TMainWindow>(paths);
    Main->show();
    QVERIFY(QTest::qWaitForWindowExposed(&*Main));
    Main->OpenArchive(Dir->File("char.lgp"));
    Child<QLineEdit>(&*Main, "edFindModel")->setText("Knight");
    QCOMPARE(Listed("cmbModels"), QStringList{"KNIG.HRC - KNIG"});
    Child<QLineEdit>(&*Main, "edFindModel")->clear();
    Show(*Main, "KNIG.HRC - KNIG", nullptr);
    const QStringList every{"KNWA.A", "KNWV.A"};
    QCOMPARE(Listed("cmbAnims"), every);
    Child<QCheckBox>(&*Main, "chkFilter")->click();
    QCOMPARE(Listed("cmbAnims"), QStringList{"KNWV.A"});
    Child<QCheckBox>(&*Main, "chkFilter")->click();
    QCOMPARE(Listed("cmbAnims"), every);
    QCOMPARE(Combo("cmbAnims")->currentText(), QString("KNWA.A"));

    // An archive with no filter file anywhere: the lists stay whole, and the status says
    // why.
    const std::string lone = Dir->File("lone");
    std::filesystem::create_directory(lone);
    std::filesystem::copy_file(Dir->File("char.lgp"), lone + "/char.lgp");
    Main->OpenArchive(lone + "/char.lgp");
    Show(*Main, "KNIG.HRC - KNIG", nullptr);
    Child<QCheckBox>(&*Main, "chkFilter")->click();
    QCOMPARE(StatusOf(*Main),
             QString("No filter file (palkor.filter): every animation is offered"));
    QCOMPARE(Listed("cmbAnims"), every);
    Child<QLineEdit>(&*Main, "edFindModel")->setText("Knight");
    QCOMPARE(Listed("cmbModels"), QStringList());
  }

  // Space plays and pauses with the focus on the viewer or a list; the search box takes it
  // as text, and the switches do not keep the focus from a click.
  void spacePlaysWhereverTheFocusIs() {
    ShowKnight();
    Main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&*Main));
    QAction* animation = Child<QAction>(&*Main, "aAnimation");
    for (QWidget* focus :
         std::initializer_list<QWidget*>{Viewer, Combo("cmbAnims"), Combo("cmbModels"), Bones()}) {
      focus->setFocus();
      QTRY_VERIFY2(focus->hasFocus(), focus->objectName().toLatin1());
      QTest::keyClick(focus, Qt::Key_Space);
      QVERIFY2(animation->isChecked(), focus->objectName().toLatin1());
      QTest::keyClick(focus, Qt::Key_Space);
      QVERIFY(!animation->isChecked());
    }
    QCOMPARE(Combo("cmbAnims")->currentIndex(), 0);
    QVERIFY(!Combo("cmbAnims")->view()->isVisible());
    QVERIFY(Child<QAction>(&*Main, "aEditable")->isChecked());

    // A click on a switch leaves the focus where it was: Space then plays, it does not
    // switch the box again.
    Combo("cmbAnims")->setFocus();
    QCheckBox* bones = Child<QCheckBox>(&*Main, "chkBones");
    QTest::mouseClick(bones, Qt::LeftButton);
    QVERIFY(bones->isChecked() && Combo("cmbAnims")->hasFocus());
    QTest::keyClick(Combo("cmbAnims"), Qt::Key_Space);
    QVERIFY(bones->isChecked() && animation->isChecked());

    QLineEdit* find = Child<QLineEdit>(&*Main, "edFindModel");
    find->setFocus();
    QTRY_VERIFY(find->hasFocus());
    QTest::keyClicks(find, "k n");
    QCOMPARE(find->text(), QString("k n"));
    QVERIFY(animation->isChecked());
  }

  // A save of the program's own leaves the catalogue cache of the archive it wrote valid:
  // the next start lists the archive again without an error, whatever was open at exit.
  void theCacheOutlivesTheProgramsOwnSave() {
    ShowKnight();
    Main->close(); // the cache of char.lgp
    Main = Start();
    Show(*Main, "KNIG.HRC - KNIG", "KNWA.A");
    Viewer = Child<TfrmViewer>(&*Main, "frmViewer");
    Main->Document().SetRotation(3, 0, {10, 20, 30}, false);
    const int64_t before = int64_t(ReadFileBytes(Dir->File("char.lgp")).size());
    Child<QAction>(&*Main, "mnuSaveChanges")->trigger();
    QVERIFY(int64_t(ReadFileBytes(Dir->File("char.lgp")).size()) > before);
    Main->OpenArchive(Dir->File("battle.lgp")); // no cache is written for it at exit
    Main->close();
    Main = Start();
    QVERIFY2(Script->Errors.empty(), Script->Errors.empty() ? "" : Script->Errors[0].c_str());
    QCOMPARE(Listed("cmbModels"), (QStringList{"KNIG.HRC - KNIG", "HOUN.HRC - HOUN"}));
    QCOMPARE(Child<QLabel>(&*Main, "pStatus")->text(), QString("Complete!"));
  }

  // A long status (a path) is cut in the middle and shown whole in its tip; the progress
  // bar is empty once the archive is analysed.
  void theStatusKeepsBothEndsAndTheBarEmpties() {
    ShowKnight();
    QWidget* bar = Child<QWidget>(&*Main, "pProgress");
    const QImage picture = bar->grab().toImage();
    const QColor highlight = bar->palette().highlight().color();
    for (int x = 0; x < picture.width(); x += 4)
      QVERIFY(picture.pixelColor(x, picture.height() / 2) != highlight);
    Main->Document().SetRotation(3, 0, {10, 20, 30}, false);
    Child<QAction>(&*Main, "mnuSaveChanges")->trigger();
    const QLabel* status = Child<QLabel>(&*Main, "pStatus");
    const QString whole = QString::fromStdString("Saved KNWA.A into " + Dir->File("char.lgp"));
    QCOMPARE(status->toolTip(), whole);
    QVERIFY(status->text().startsWith("Saved") && status->text().endsWith("char.lgp") &&
            status->text().contains(QChar(0x2026)));
    QVERIFY(status->fontMetrics().horizontalAdvance(status->text()) <= status->width());
  }

  // The window comes back where it was left, start after start.
  void theWindowComesBackWhereItWasLeft() {
    {
      QSettings ini(QString::fromStdString(Paths().Settings), QSettings::IniFormat);
      ini.setValue("Palkor/Left", 100);
      ini.setValue("Palkor/Top", 120);
    }
    for (int start = 0; start < 2; ++start) {
      Main = Start();
      QCOMPARE(Main->pos(), QPoint(100, 120));
      Main->close();
      Main.reset();
      QSettings ini(QString::fromStdString(Paths().Settings), QSettings::IniFormat);
      QCOMPARE(ini.value("Palkor/Left").toInt(), 100);
      QCOMPARE(ini.value("Palkor/Top").toInt(), 120);
    }
  }

  // A dropped file that is not an archive is refused with the reason before anything is
  // asked or let go; one that begins as an archive does is opened whatever its name.
  void aDroppedFileThatIsNoArchiveIsRefusedWithTheReason() {
    ShowKnight();
    Bones()->setCurrentRow(3);
    Trackbar("trkRY")->setValue(45);
    auto drop = [&](const std::string& path) {
      QMimeData data;
      data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
      QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&*Main, &enter);
      QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&*Main, &dropped);
    };
    WriteFile(Dir->File("picture.png"), "\x89PNG\r\n\x1a\n and the rest of a picture");
    WriteFile(Dir->File("short.lgp"), std::string(2, '\0') + "SQUARE");
    for (const char* name : {"picture.png", "short.lgp"}) {
      drop(Dir->File(name));
      QCOMPARE(Script->Errors.back(),
               Format("\"%s\" is not an LGP archive: it does not begin as one does (its "
                      "creator, such as \"SQUARESOFT\", and its member count), so it was "
                      "not opened.",
                      name));
    }
    drop(Dir->File("gone.lgp"));
    QCOMPARE(
        Script->Errors.back(),
        std::string("\"gone.lgp\" is neither an LGP archive nor a folder: it was not opened."));
    QCOMPARE(Script->Errors.size(), size_t(3));
    QVERIFY(Script->Questions.empty());
    QCOMPARE(Main->Catalogue.ArchivePath, Dir->File("char.lgp"));
    QVERIFY(Main->isWindowModified() && Viewer->Session().FieldModel());
    // An archive by another name: asked about the edits (Cancel), as any archive is.
    std::filesystem::copy_file(Dir->File("battle.lgp"), Dir->File("battle.dat"));
    Script->Answers = {TDialogs::TAnswer::Cancel};
    drop(Dir->File("battle.dat"));
    QCOMPARE(Script->Questions.size(), size_t(1));
    QCOMPARE(Script->Errors.size(), size_t(3));
  }

  // The Import Animation list's title is not cut.
  void theChoiceDialogIsWideEnoughForItsTitle() {
    TQtDialogs dialogs;
    int width = 0, needed = 0;
    QTimer::singleShot(0, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (!dialog) return;
      width = dialog->width();
      needed = dialog->fontMetrics().horizontalAdvance(dialog->windowTitle() + " \u2014 " +
                                                       QApplication::applicationDisplayName());
      dialog->close();
    });
    int index = 0;
    QVERIFY(!dialogs.ChooseItem("Import Animation", "Animation to import into KNWA.A:", {"Walk"},
                                index));
    QVERIFY2(width > needed + 100, qPrintable(QString("%1 for %2").arg(width).arg(needed)));
  }

  // Render Animation, Export glTF, Export All Models and Import Animation wait for an
  // archive and a model on show, and come as soon as there is one.
  void commandsWaitUntilTheyCanWork() {
    Main = Start();
    auto enabled = [&] {
      QStringList on;
      for (const char* name :
           {"mnuRenderAnimation", "mnuExportGltf", "mnuExportAll", "mnuImportAnimation"})
        if (Child<QAction>(&*Main, name)->isEnabled()) on << name;
      return on;
    };
    const QStringList all{"mnuRenderAnimation", "mnuExportGltf", "mnuExportAll",
                          "mnuImportAnimation"};
    QCOMPARE(enabled(), QStringList());
    Main->OpenArchive(Dir->File("char.lgp"));
    QCOMPARE(enabled(), QStringList{"mnuExportAll"});
    Show(*Main, "KNIG.HRC - KNIG", nullptr);
    QCOMPARE(enabled(), all);
    // A search that hides the model on show: the list no longer names what is exported.
    Child<QLineEdit>(&*Main, "edFindModel")->setText("houn");
    QCOMPARE(enabled(), (QStringList{"mnuRenderAnimation", "mnuExportAll"}));
    Child<QLineEdit>(&*Main, "edFindModel")->clear();
    Show(*Main, "KNIG.HRC - KNIG", nullptr);
    QCOMPARE(enabled(), all);
    Main->OpenArchive(Dir->File("battle.lgp"));
    QCOMPARE(enabled(), QStringList{"mnuExportAll"});
    Child<QAction>(&*Main, "aBodies")->setChecked(false);
    Child<QAction>(&*Main, "aBones")->setChecked(true);
    Show(*Main, "[Battle] RTAA", nullptr);
    QCOMPARE(enabled(), all);
    // The switches show what a battle model is drawn with, as a field model's do.
    QVERIFY(Child<QAction>(&*Main, "aBodies")->isChecked() &&
            !Child<QAction>(&*Main, "aBones")->isChecked());
    QVERIFY(Child<TfrmViewer>(&*Main, "frmViewer")->Session().Options.Bodies);
    QVERIFY(Script->Errors.empty());
  }

  // Tab follows the window: the top toolbars' lists, the viewer with its trackbars and
  // side panels, then the display switches at the bottom, and round again.
  void tabFollowsTheWindow() {
    Main = Start();
    const QStringList expected{"edFindModel",  "cmbModels", "cmbAnims", "chkFilter",
                               "cmbDetails",   "frmViewer", "TrkX",     "trkFrame",
                               "btnQuickAnim", "lstParts",  "trkRX",    "chkAnimation",
                               "chkEditable"};
    QStringList met;
    QWidget* w = Child<QWidget>(&*Main, "edFindModel");
    for (int step = 0; step < 1000 && (step == 0 || w != Child<QWidget>(&*Main, "edFindModel"));
         ++step, w = w->nextInFocusChain())
      if (expected.contains(w->objectName()) && !met.contains(w->objectName()))
        met << w->objectName();
    QCOMPARE(met, expected);
  }

  // The inner viewer window offers no close button, and shows the program's icon, as
  // every window does.
  void theViewerWindowCannotBeClosedByMistake() {
    Main = Start();
    auto* sub = Child<QMdiSubWindow>(&*Main, "ViewerWindow");
    // The close button is drawn for the system menu, window manager or none.
    QVERIFY(!(sub->windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint)));
    QVERIFY(sub->windowFlags() & Qt::WindowMinMaxButtonsHint);
    QVERIFY(!PalkorIcon().pixmap(32).isNull());
    const qint64 icon = QApplication::windowIcon().cacheKey();
    QVERIFY(!QApplication::windowIcon().pixmap(32).isNull());
    for (const char* window : {"ViewerWindow", "frmTex", "frmRenderOptions", "frmExport"})
      QCOMPARE(Child<QWidget>(&*Main, window)->windowIcon().cacheKey(), icon);
    QCOMPARE(Main->windowIcon().cacheKey(), icon);
    sub->close();
    QVERIFY(sub->isVisible());
  }

  // Render Animation asks for a folder when none is given, starts at the view as shown
  // (turning after each frame), and puts back the view and the animation afterwards.
  void renderAnimationAsksForAFolderAndPutsTheViewBack() {
    ShowKnight();
    Child<QAction>(&*Main, "aEditable")->setChecked(false);
    auto* dialog = Child<TRenderOptionsDialog>(&*Main, "frmRenderOptions");
    Trackbar("TrkY")->setValue(40);
    const std::string out = Dir->File("frames");
    std::filesystem::create_directory(out);
    // Cancelled: nothing is written anywhere.
    Main->RenderAnimation(false);
    QCOMPARE(Script->FolderStarts, std::vector<std::string>{Dir->Path() + "/"});
    QCOMPARE(Child<QLineEdit>(dialog, "eOutput")->text(), QString());
    Script->FolderAnswers = {out};
    Main->RenderAnimation(false);
    QCOMPARE(Child<QLineEdit>(dialog, "eOutput")->text(), QString::fromStdString(out + "/"));
    QCOMPARE(StatusOf(*Main), QString::fromStdString("Wrote 24 images to " + out + "/"));
    const std::vector<uint8_t> still = ReadBMPFile(out + "/PK_KNIG_KNWA_0000.bmp").RGB;
    const std::vector<uint8_t> next = ReadBMPFile(out + "/PK_KNIG_KNWA_0001.bmp").RGB;
    // With a turn, the first image is still the view as shown; the next one is turned.
    Child<QSlider>(dialog, "trkY")->setValue(90);
    Child<QCheckBox>(dialog, "chkAll")->setChecked(true);
    Main->RenderAnimation(false);
    QVERIFY(ReadBMPFile(out + "/PK_KNIG_KNWA_0000.bmp").RGB == still);
    QVERIFY(ReadBMPFile(out + "/PK_KNIG_KNWA_0001.bmp").RGB != next);
    QVERIFY(FileExists(out + "/PK_KNIG_KNWV_0023.bmp"));
    // The view and the walk are back.
    QCOMPARE(Viewer->Session().Camera.RotateY, 40);
    QCOMPARE(Trackbar("TrkY")->value(), 40);
    QCOMPARE(Combo("cmbAnims")->currentText(), QString("KNWA.A"));
    QCOMPARE(QString::fromStdString(Viewer->Session().FieldModel()->AnimName), QString("KNWA.A"));
    // An emptied folder is asked for again, starting at the one used last.
    Child<QLineEdit>(dialog, "eOutput")->clear();
    Main->RenderAnimation(false);
    QCOMPARE(Script->FolderStarts.back(), out + "/");
    QVERIFY(Script->Errors.empty());
  }
};

QTEST_MAIN(TourTest)
#include "TourTest.moc"
