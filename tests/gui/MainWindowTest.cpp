// The main window and the viewer driven as a user would, on Xvfb with real GL.
#include "app/MainWindow.h"
#include "archive/FolderArchive.h"
#include "fixtures/CatalogueCache.h"
#include "fixtures/Demo.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/PNGReader.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"
#include "render/modeldraw.h"
#include "tests/cli/CliRunner.h"
#include "tests/gui/ScriptedDialogs.h"
#include "tests/gui/WindowTestSupport.h"

#include <QCheckBox>
#include <QDir>

#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

bool IsBackground(QColor c) {
  return std::abs(c.red()) <= 2 && std::abs(c.green() - 128) <= 2 && std::abs(c.blue() - 51) <= 2;
}

// The share of the picture's pixels that are not the default background.
double Drawn(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); y += 4)
    for (int x = 0; x < image.width(); x += 4) count += !IsBackground(image.pixelColor(x, y));
  return double(count) / ((image.width() / 4) * (image.height() / 4));
}

} // namespace

class MainWindowTest : public QObject, protected testing::TWindowTestBase {
  Q_OBJECT

  std::string Demo(const char* name) const { return Dir->File(name); }

  static QImage Picture(TMainWindow& main) {
    QApplication::processEvents();
    return Child<TfrmViewer>(&main, "frmViewer")->grabFramebuffer();
  }

private slots:
  void init() { BeginTest(); }
  void cleanup() { EndTest(); }

  void aFirstRunUsesTheDefaultsAndWritesEverySettingAtExit() {
    {
      auto main = Start();
      QCOMPARE(main->windowTitle(), QString("Quenmark: Palkor"));
      QCOMPARE(main->size(), QSize(640, 452));
      QVERIFY(!Child<QCheckBox>(&*main, "chkFilter")->isChecked());
      QCOMPARE(main->BackColour(), 0x338000u);
      QVERIFY(IsBackground(Picture(*main).pixelColor(300, 200)));
      main->close();
    }
    QSettings ini(QString::fromStdString(Paths().Settings), QSettings::IniFormat);
    ini.beginGroup("Palkor");
    // The seven keys of the program's settings, and the toolbars' own record.
    QCOMPARE(ini.childKeys().size(), 8);
    for (const char* key :
         {"Left", "Top", "Width", "Height", "WS", "Filter", "BackColour", "ToolbarState"})
      QVERIFY2(ini.contains(key), key);
    QCOMPARE(ini.value("Width").toInt(), 640);
    QCOMPARE(ini.value("Height").toInt(), 452);
    QCOMPARE(ini.value("WS").toInt(), 0);
    QCOMPARE(ini.value("Filter").toInt(), 0);
    QCOMPARE(ini.value("BackColour").toInt(), 3375104);
    ini.endGroup();
    QVERIFY(ini.childGroups().contains("tbPalkorModels"));
    QVERIFY(ini.childGroups().contains("tbPalkorDetails"));
  }

  void storedSettingsAreAppliedAndTheStateAtExitWritten() {
    {
      QSettings ini(QString::fromStdString(Paths().Settings), QSettings::IniFormat);
      ini.setValue("Palkor/WS", 2);
      ini.setValue("Palkor/Filter", 1);
      ini.setValue("Palkor/BackColour", 255);
    }
    {
      auto main = Start();
      QVERIFY(main->isMaximized());
      QVERIFY(Child<QCheckBox>(&*main, "chkFilter")->isChecked());
      QColor red = Picture(*main).pixelColor(300, 200);
      QCOMPARE(red, QColor(255, 0, 0));
      main->showNormal();
      QTest::qWait(50);
      main->close();
    }
    QSettings ini(QString::fromStdString(Paths().Settings), QSettings::IniFormat);
    QCOMPARE(ini.value("Palkor/WS").toInt(), 0);
    QCOMPARE(ini.value("Palkor/BackColour").toInt(), 255);
  }

  void theGameFolderFromWinesRegistryBecomesTheCurrentFolder() {
    const QString start = QDir::currentPath();
    std::string prefix = Dir->File("wine");
    std::filesystem::create_directories(prefix + "/drive_c/FF7/data/field");
    std::filesystem::create_directories(prefix + "/dosdevices");
    std::filesystem::create_directory_symlink("../drive_c", prefix + "/dosdevices/c:");
    WriteFile(prefix + "/system.reg", "WINE REGISTRY Version 2\n\n"
                                      "[Software\\\\Square Soft, Inc.\\\\Final Fantasy VII] 1\n"
                                      "\"AppPath\"=\"C:\\\\FF7\\\\\"\n");
    qputenv("WINEPREFIX", QByteArray::fromStdString(prefix));
    {
      TMainWindow main(Paths());
      QCOMPARE(QDir::current().canonicalPath(),
               QDir(QString::fromStdString(prefix + "/drive_c/FF7/data/field")).canonicalPath());
    }
    // Without its data\field folder the start folder stays.
    QDir::setCurrent(start);
    std::filesystem::remove_all(prefix + "/drive_c/FF7/data");
    {
      TMainWindow main(Paths());
      QCOMPARE(QDir::currentPath(), start);
    }
    qunsetenv("WINEPREFIX");
    QDir::setCurrent(start);
  }

  void eachOptionSwitchHasThreeMirrors() {
    auto main = Start();
    QList<QAction*> actions{
        Child<QAction>(&*main, "aAnimation"), Child<QAction>(&*main, "aCrosshairs"),
        Child<QAction>(&*main, "aWireframe"), Child<QAction>(&*main, "aReflections"),
        Child<QAction>(&*main, "aBones"),     Child<QAction>(&*main, "aBodies"),
        Child<QAction>(&*main, "aLighting"),  Child<QAction>(&*main, "aEditable")};
    for (QAction* action : actions) {
      const QString caption = QString(action->text()).remove('&');
      auto* box =
          Child<QToolBar>(&*main, "tbPalkorDisplayOpts")->findChild<QCheckBox*>("chk" + caption);
      QVERIFY2(box, qPrintable(action->text()));
      QVERIFY(!action->isChecked() && !box->isChecked());
      box->click();
      QVERIFY(action->isChecked());
      action->trigger(); // as the Options menu item does
      QVERIFY(!box->isChecked());
    }
    Child<QAction>(&*main, "aEditable")->setChecked(true);
    QVERIFY(Child<QListWidget>(Child<TfrmViewer>(&*main, "frmViewer"), "lstParts")->isVisible() &&
            Child<QWidget>(Child<TfrmViewer>(&*main, "frmViewer"), "pRotate")->isVisible());
    Child<QAction>(&*main, "aCrosshairs")->setChecked(true);
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().Options.Crosshairs);
    Child<QAction>(&*main, "aCrosshairs")->setChecked(false);
    // The Toolbars menu's marks follow the toolbars.
    Child<QAction>(&*main, "mnuToolbarDetails")->trigger();
    QVERIFY(!Child<QToolBar>(&*main, "tbPalkorDetails")->isVisible());
    QVERIFY(!Child<QAction>(&*main, "mnuToolbarDetails")->isChecked());
    Child<QToolBar>(&*main, "tbPalkorDetails")->show();
    QVERIFY(Child<QAction>(&*main, "mnuToolbarDetails")->isChecked());
  }

  void theDemoArchiveIsListedAndAFieldModelShown() {
    auto main = Start();
    Script->FileAnswers.push_back(Demo("char.lgp"));
    Child<QAction>(&*main, "mnuOpenLGP")->trigger();
    QCOMPARE(Child<QComboBox>(&*main, "cmbModels")->count(), 2);
    QCOMPARE(Child<QComboBox>(&*main, "cmbModels")->itemText(0), QString("KNIG.HRC - KNIG"));
    QCOMPARE(Child<QLabel>(&*main, "pStatus")->text(), QString("Complete!"));
    QCOMPARE(main->Catalogue.ProgressPosition, main->Catalogue.ProgressTotal - 1);
    QVERIFY(Script->Errors.empty());

    Child<QComboBox>(&*main, "cmbModels")->setCurrentIndex(0);
    QCOMPARE(Child<QComboBox>(&*main, "cmbAnims")->count(), 2);
    QCOMPARE(Child<QComboBox>(&*main, "cmbDetails")->itemText(0), QString("Number of bones: 11"));
    // Shown at once, with its first animation chosen.
    QCOMPARE(Child<QComboBox>(&*main, "cmbAnims")->currentIndex(), 0);
    QCOMPARE(QString::fromStdString(
                 Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel()->AnimName),
             QString("KNWA.A"));
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(1);
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel());
    QCOMPARE(QString::fromStdString(
                 Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel()->AnimName),
             QString("KNWV.A"));
    QCOMPARE(Child<QListWidget>(Child<TfrmViewer>(&*main, "frmViewer"), "lstParts")->count(), 12);
    QCOMPARE(
        Child<QListWidget>(Child<TfrmViewer>(&*main, "frmViewer"), "lstParts")->item(2)->text(),
        QString("  spine"));
    QCOMPARE(Child<QSlider>(Child<TfrmViewer>(&*main, "frmViewer"), "trkEnd")->value(), 11);
    QCOMPARE(Child<QSlider>(Child<TfrmViewer>(&*main, "frmViewer"), "trkFrame")->maximum(), 23);
    QVERIFY(Child<QAction>(&*main, "aBodies")->isChecked() &&
            !Child<QAction>(&*main, "aBones")->isChecked());
    QImage picture = Picture(*main);
    QVERIFY2(Drawn(picture) > 0.02, "the knight should cover part of the picture");
    picture.save(QString::fromStdString(Dir->File("knight.png")));
    if (const char* shot = std::getenv("PALKOR_SCREENSHOT")) main->grab().save(shot);

    // Reflections: a floor under the field model.
    double without = Drawn(picture);
    Child<QAction>(&*main, "aReflections")->setChecked(true);
    QVERIFY(Drawn(Picture(*main)) > without + 0.05);
    QVERIFY(Script->Errors.empty());
  }

  void aBattleEntryListsItsAnimationsAndPolygonTotal() {
    auto main = Start();
    main->OpenLGP(Demo("battle.lgp"));
    QCOMPARE(Child<QComboBox>(&*main, "cmbModels")->count(), 1);
    Child<QAction>(&*main, "aReflections")->setChecked(true);
    Child<QComboBox>(&*main, "cmbModels")->setCurrentIndex(0);
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().BattleModel());
    QCOMPARE(Child<QComboBox>(&*main, "cmbAnims")->count(), 2);
    QCOMPARE(Child<QComboBox>(&*main, "cmbAnims")->itemText(1), QString("Animation 2"));
    QCOMPARE(Child<QComboBox>(&*main, "cmbAnims")->currentIndex(), 0);
    QCOMPARE(Child<QComboBox>(&*main, "cmbDetails")->itemText(0), QString("[Battle] RTAA"));
    QCOMPARE(Child<QComboBox>(&*main, "cmbDetails")->itemText(1), QString("Total # Polygons: 168"));
    QCOMPARE(Child<QSlider>(Child<TfrmViewer>(&*main, "frmViewer"), "trkFrame")->maximum(), 16);
    QImage picture = Picture(*main);
    QVERIFY(Drawn(picture) > 0.02);
    // No floor for battle models: the corners below the model stay background.
    QVERIFY(IsBackground(picture.pixelColor(20, picture.height() - 10)));
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(1);
    QCOMPARE(Child<TfrmViewer>(&*main, "frmViewer")->Session().BattleAnimation(), 1);
    QCOMPARE(Child<QSlider>(Child<TfrmViewer>(&*main, "frmViewer"), "trkFrame")->maximum(), 20);
  }

  void quickAnimationStopsOnFrame0() {
    auto main = Start();
    main->OpenLGP(Demo("char.lgp"));
    Child<QComboBox>(&*main, "cmbModels")->setCurrentIndex(1);
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(0);
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel());
    Child<QPushButton>(Child<TfrmViewer>(&*main, "frmViewer"), "btnQuickAnim")->click();
    QVERIFY(Child<QAction>(&*main, "aAnimation")->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(!Child<QAction>(&*main, "aAnimation")->isChecked(), 5000);
    QCOMPARE(Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel()->CurrentFrame, 0);
    QCOMPARE(Child<QSlider>(Child<TfrmViewer>(&*main, "frmViewer"), "trkFrame")->value(), 0);
  }

  void theCacheRestoresTheSameListsAtTheNextStart() {
    auto listed = [](TMainWindow& main) {
      QStringList items;
      auto* models = Child<QComboBox>(&main, "cmbModels");
      for (int i = 0; i < models->count(); ++i) items << models->itemText(i);
      return items;
    };
    QStringList items;
    {
      auto main = Start();
      main->OpenLGP(Demo("char.lgp"));
      items = listed(*main);
      main->close();
    }
    QVERIFY(FileExists(Paths().Cache));
    const std::string saved = ReadFileBytes(Paths().Cache);
    {
      auto again = Start();
      QCOMPARE(listed(*again), items);
      QCOMPARE(Child<QLabel>(&*again, "pStatus")->text(), QString("Complete!"));
      Child<QComboBox>(&*again, "cmbModels")->setCurrentIndex(0);
      QCOMPARE(Child<QComboBox>(&*again, "cmbAnims")->count(), 2);
    }
    // A cache of the older layout, which kept the display texts: the same lists, and the
    // cache of today at exit.
    TCatalogue analysed;
    analysed.ArchivePath = Demo("char.lgp");
    analysed.AnalyseArchive(*TLGPFile::Create(analysed.ArchivePath, false));
    WriteFile(Paths().Cache,
              OlderCatalogueCache(analysed, int64_t(ReadFileBytes(Demo("char.lgp")).size())));
    {
      auto older = Start();
      QCOMPARE(listed(*older), items);
      QCOMPARE(Child<QLabel>(&*older, "pStatus")->text(), QString("Complete!"));
      Child<QComboBox>(&*older, "cmbModels")->setCurrentIndex(1);
      Child<QComboBox>(&*older, "cmbAnims")->setCurrentIndex(0);
      QCOMPARE(QString::fromStdString(
                   Child<TfrmViewer>(&*older, "frmViewer")->Session().FieldModel()->HRCName),
               QString("HOUN.HRC"));
    }
    QCOMPARE(ReadFileBytes(Paths().Cache), saved);
  }

  void wireframeBackgroundAndLightingChangeThePicture() {
    auto main = Start();
    main->OpenLGP(Demo("char.lgp"));
    Child<QComboBox>(&*main, "cmbModels")->setCurrentIndex(0);
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(0);
    double filled = Drawn(Picture(*main));
    Child<QAction>(&*main, "aWireframe")->setChecked(true);
    double lines = Drawn(Picture(*main));
    QVERIFY2(lines < filled * 0.8, qPrintable(QString("%1 vs %2").arg(lines).arg(filled)));
    Child<QAction>(&*main, "aWireframe")->setChecked(false);
    QImage plain = Picture(*main);
    Child<QAction>(&*main, "aLighting")->setChecked(true);
    QVERIFY(Picture(*main) != plain);
    Child<QAction>(&*main, "aLighting")->setChecked(false);
    Script->ColourAnswers.push_back(0x0000FF); // pure red
    Child<QAction>(&*main, "mnuSetBackground")->trigger();
    QCOMPARE(main->BackColour(), 255u);
    const QImage picture = Picture(*main);
    QCOMPARE(picture.pixelColor(5, picture.height() - 5), QColor(255, 0, 0));
    // Bones shown through the switch reach the model; a new model brings its own flags.
    Child<QAction>(&*main, "aBones")->setChecked(true);
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().Options.Bones);
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(1);
    QVERIFY(!Child<QAction>(&*main, "aBones")->isChecked());
    // File > Save changes without edits asks nothing, writes nothing and keeps the model.
    const std::string archive = ReadFileBytes(Demo("char.lgp"));
    Child<QAction>(&*main, "mnuSaveChanges")->trigger();
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel());
    QVERIFY(Script->Questions.empty());
    QCOMPARE(Child<QLabel>(&*main, "pStatus")->text(), QString("No changes to save"));
    QCOMPARE(ReadFileBytes(Demo("char.lgp")), archive);
  }

  void anAnimationSavedOnReloadIsReadBackAsSaved() {
    auto main = Start();
    main->OpenLGP(Demo("char.lgp"));
    Child<QComboBox>(&*main, "cmbModels")->setCurrentIndex(0);
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(0);
    TFieldModel& model = *Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel();
    main->Document().SetRotation(3, model.CurrentFrame, {12.5f, 0, 0}, false);
    // Choosing the same animation again: asked, saved, then read from the archive.
    Script->Answers.push_back(TDialogs::TAnswer::Yes);
    Child<QComboBox>(&*main, "cmbDetails")->setCurrentIndex(0);
    QCOMPARE(Script->Questions.size(), size_t(1));
    QCOMPARE(QString::fromStdString(Script->Questions[0]),
             QString("Model animations have changed! Update LGP?"));
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel());
    QCOMPARE(Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel()->GetBone(3).RotX,
             12.5f);
    QVERIFY(!main->Document().Modified());
  }

  // The knight, walking, shown at frame 2 with the editing panels on.
  std::unique_ptr<TMainWindow> EditKnight(const std::string& archive) {
    auto main = Start();
    main->OpenArchive(archive);
    Child<QComboBox>(&*main, "cmbModels")
        ->setCurrentIndex(Child<QComboBox>(&*main, "cmbModels")->findText("KNIG.HRC - KNIG"));
    Child<QComboBox>(&*main, "cmbAnims")
        ->setCurrentIndex(Child<QComboBox>(&*main, "cmbAnims")->findText("KNWA.A"));
    Child<QAction>(&*main, "aEditable")->setChecked(true);
    Child<QSlider>(Child<TfrmViewer>(&*main, "frmViewer"), "trkFrame")->setValue(2);
    return main;
  }
  static std::string Member(const std::string& archive, const std::string& name) {
    auto lgp = ArchiveKindForPath(archive).Open();
    return std::string(lgp->ReadMemberToMemory(lgp->IndexOf(name))->View());
  }

  void editingABoneChangesOnlyItsTripleAndSavingWritesTheMember() {
    const std::string archive = Demo("char.lgp");
    const std::string before = Member(archive, "KNWA.A");
    const int64_t size = int64_t(ReadFileBytes(archive).size());
    auto main = EditKnight(archive);
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    // Nothing is written with no bone, or the root, selected.
    Child<QSlider>(&viewer, "trkRY")->setValue(33);
    Child<QListWidget>(&viewer, "lstParts")->setCurrentRow(0);
    Child<QSlider>(&viewer, "trkRX")->setValue(44);
    QVERIFY(!main->Document().Modified());
    // Choosing a bone loads the trackbars (truncated) and writes nothing.
    Child<QListWidget>(&viewer, "lstParts")
        ->setCurrentRow(8); // l_thigh, 90 - swing degrees about X
    QCOMPARE(Child<QSlider>(&viewer, "trkRX")->value(),
             int(viewer.Session().FieldModel()->GetBone(8).RotX));
    QVERIFY(!main->Document().Modified());
    Child<QSlider>(&viewer, "trkRY")->setValue(90);
    QVERIFY(main->Document().Modified());
    QCOMPARE(viewer.Session().FieldModel()->GetBone(8).RotY, 90.0f);
    std::string edited(viewer.Session().FieldModel()->AnimData.View());
    const int64_t triple = 48 + 12 * 8 + 2 * AnimFrameSize(12);
    for (size_t i = 0; i < edited.size(); ++i)
      if (int64_t(i) < triple + 4 || int64_t(i) >= triple + 8) QCOMPARE(edited[i], before[i]);
    QVERIFY(edited.substr(size_t(triple) + 4, 4) != before.substr(size_t(triple) + 4, 4));

    // Written without a question; the model stays on show, unmodified.
    Child<QAction>(&*main, "mnuSaveChanges")->trigger();
    QVERIFY(Script->Questions.empty());
    QVERIFY(viewer.Session().FieldModel() && !main->Document().Modified());
    QCOMPARE(std::string(viewer.Session().FieldModel()->AnimData.View()), edited);
    QCOMPARE(Member(archive, "KNWA.A"), edited);
    QCOMPARE(int64_t(ReadFileBytes(archive).size()), size + 24 + int64_t(before.size()));
  }

  void copyingThePoseMakesEveryFrameTheSame() {
    auto main = EditKnight(Demo("char.lgp"));
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    const std::string before(viewer.Session().FieldModel()->AnimData.View());
    Script->Answers.push_back(TDialogs::TAnswer::No);
    Child<QPushButton>(&viewer, "btnCopy")->click();
    QCOMPARE(std::string(viewer.Session().FieldModel()->AnimData.View()), before);
    QVERIFY(!main->Document().Modified());
    QVERIFY(Script->DefaultNo.back()); // Enter does not rewrite every frame
    Script->Answers.push_back(TDialogs::TAnswer::Yes);
    Child<QPushButton>(&viewer, "btnCopy")->click();
    QVERIFY(main->Document().Modified());
    QCOMPARE(viewer.Session().Options.SelectedBone, 11);
    const std::string after(viewer.Session().FieldModel()->AnimData.View());
    const int64_t frame = AnimFrameSize(12);
    const std::string pose = after.substr(size_t(36 + 2 * frame + 24), size_t(frame - 24));
    QCOMPARE(pose, before.substr(size_t(36 + 2 * frame + 24), size_t(frame - 24)));
    for (int f = 0; f < viewer.Session().FieldModel()->FrameCount; ++f) {
      QCOMPARE(after.substr(size_t(36 + f * frame + 24), size_t(frame - 24)), pose);
      QCOMPARE(after.substr(size_t(36 + f * frame), 24), before.substr(size_t(36 + f * frame), 24));
    }
  }

  void noDiscardsCancelKeepsAndAFailedSaveKeepsTheEdits() {
    auto main = EditKnight(Demo("char.lgp"));
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    Child<QListWidget>(&viewer, "lstParts")->setCurrentRow(3);
    Child<QSlider>(&viewer, "trkRZ")->setValue(45);
    // Cancel: the edited walk stays, and so does the list's choice.
    Script->Answers.push_back(TDialogs::TAnswer::Cancel);
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(1);
    QCOMPARE(QString::fromStdString(viewer.Session().FieldModel()->AnimName), QString("KNWA.A"));
    QVERIFY(main->Document().Modified());
    QCOMPARE(Child<QComboBox>(&*main, "cmbAnims")->currentIndex(), 0);
    // Cancel before another archive: nothing of it is opened.
    Script->Answers.push_back(TDialogs::TAnswer::Cancel);
    main->OpenArchive(Demo("battle.lgp"));
    QCOMPARE(main->Catalogue.ArchivePath, Demo("char.lgp"));
    QVERIFY(!Child<TfrmViewer>(&*main, "frmViewer")->Session().BattleModel() &&
            main->Document().Modified());
    // Cancel before another model: the list goes back to the model on show.
    Script->Answers.push_back(TDialogs::TAnswer::Cancel);
    Child<QComboBox>(&*main, "cmbModels")->setCurrentIndex(1);
    QCOMPARE(Child<QComboBox>(&*main, "cmbModels")->currentIndex(), 0);
    QCOMPARE(QString::fromStdString(viewer.Session().FieldModel()->HRCName), QString("KNIG.HRC"));
    QCOMPARE(Child<QComboBox>(&*main, "cmbAnims")->count(), 2);
    QCOMPARE(Child<QComboBox>(&*main, "cmbAnims")->currentIndex(), 0);
    QVERIFY(main->Document().Modified());
    // And before the program ends.
    Script->Answers.push_back(TDialogs::TAnswer::Cancel);
    QVERIFY(!main->close());
    QVERIFY(main->Document().Modified());
    // A save that fails keeps the model and its edits.
    std::rename(Demo("char.lgp").c_str(), Demo("moved.lgp").c_str());
    Child<QAction>(&*main, "mnuSaveChanges")->trigger();
    QCOMPARE(Script->Errors.size(), size_t(1));
    QVERIFY(viewer.Session().FieldModel() && main->Document().Modified());
    std::rename(Demo("moved.lgp").c_str(), Demo("char.lgp").c_str());
    // No: the edits go, the other animation comes.
    const std::string before = Member(Demo("char.lgp"), "KNWA.A");
    Script->Answers.push_back(TDialogs::TAnswer::No);
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(1);
    QCOMPARE(QString::fromStdString(viewer.Session().FieldModel()->AnimName), QString("KNWV.A"));
    QVERIFY(!main->Document().Modified());
    QCOMPARE(Member(Demo("char.lgp"), "KNWA.A"), before);
    QCOMPARE(Script->Questions.size(), size_t(5));
  }

  void aFolderModelIsSavedIntoItsFile() {
    std::string folder = Dir->File("loose");
    std::filesystem::create_directory(folder);
    auto archive = TLGPFile::Create(Demo("char.lgp"), false);
    for (int32_t i = 0; i < archive->Count(); ++i)
      WriteFile(folder + "/" + archive->GetEntry(i).Name,
                std::string(archive->ReadMemberToMemory(i)->View()));
    auto main = EditKnight(folder);
    Child<QListWidget>(Child<TfrmViewer>(&*main, "frmViewer"), "lstParts")->setCurrentRow(2);
    Child<QSlider>(Child<TfrmViewer>(&*main, "frmViewer"), "trkRX")->setValue(10);
    std::string edited(
        Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel()->AnimData.View());
    QVERIFY(main->Document().Modified());
    Script->Answers.push_back(TDialogs::TAnswer::Yes);
    QVERIFY(main->close());
    QCOMPARE(Script->Questions.size(), size_t(1));
    QCOMPARE(ReadFileBytes(folder + "/KNWA.A").size(), edited.size());
    QCOMPARE(ReadFileBytes(folder + "/KNWA.A"), edited);
  }

  void renderAnimationWritesTheViewersPicturesAsTheCommandLineDoes() {
    auto main = Start();
    main->resize(900, 700);
    main->OpenArchive(Demo("char.lgp"));
    Child<QComboBox>(&*main, "cmbModels")->setCurrentIndex(0);
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(1);
    Child<TfrmViewer>(&*main, "frmViewer")->setFixedSize(320, 240);
    QApplication::processEvents();
    std::string out = Dir->File("frames");
    std::filesystem::create_directory(out);
    Child<QLineEdit>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "eOutput")
        ->setText(QString::fromStdString(out + "/"));
    Child<QSlider>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "trkY")->setValue(30);
    Child<QAction>(&*main, "aAnimation")->setChecked(true);
    main->RenderAnimation(false);
    QVERIFY(!Child<QAction>(&*main, "aAnimation")->isChecked());
    QVERIFY(Child<QWidget>(Child<TfrmViewer>(&*main, "frmViewer"), "pControls")->isVisible());
    QVERIFY(!Child<QListWidget>(Child<TfrmViewer>(&*main, "frmViewer"), "lstParts")->isVisible());
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(out))
      files.push_back(entry.path().filename().string());
    QCOMPARE(files.size(), size_t(24));
    QVERIFY(FileExists(out + "/PK_KNIG_KNWV_0023.bmp"));
    TBMPFile gui = ReadBMPFile(out + "/PK_KNIG_KNWV_0007.bmp");
    QCOMPARE(gui.Width, 320);
    QCOMPARE(gui.Height, 240);
    QCOMPARE(int(gui.BitsPerPixel), 32);

    std::string cli = Dir->File("cli");
    std::filesystem::create_directory(cli);
    auto r = palkor::testing::RunCli({"render", Demo("char.lgp"), "knig.hrc", "knwv.a", "--out",
                                      cli + "/", "--size", "320x240", "--inc", "0,30,0"});
    QCOMPARE(r.ExitCode, 0);
    for (const char* frame : {"0000", "0007", "0023"}) {
      std::string name = std::string("/PK_KNIG_KNWV_") + frame + ".bmp";
      QVERIFY2(ReadBMPFile(out + name).RGB == ReadBMPFile(cli + name).RGB, frame);
    }

    QCOMPARE(Child<QLabel>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "lY")->text(),
             QString("30"));
    // Every animation in the list, each numbered from 0000, in PNG.
    std::string all = Dir->File("all");
    std::filesystem::create_directory(all);
    Child<QLineEdit>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "eOutput")
        ->setText(QString::fromStdString(all + "/"));
    Child<QCheckBox>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "chkAll")
        ->setChecked(true);
    Child<QCheckBox>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "chkPng")
        ->setChecked(true);
    main->RenderAnimation(false);
    QVERIFY(FileExists(all + "/PK_KNIG_KNWA_0023.png") &&
            FileExists(all + "/PK_KNIG_KNWV_0023.png"));
    QCOMPARE(std::distance(std::filesystem::directory_iterator(all), {}), 48L);
    QCOMPARE(ReadPNGFile(all + "/PK_KNIG_KNWA_0000.png").ColourType, 2);
    Child<QCheckBox>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "chkAll")
        ->setChecked(false);
    Child<QCheckBox>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "chkPng")
        ->setChecked(false);

    // A file that cannot be written stops the run; the panels come back all the same.
    Child<QAction>(&*main, "aEditable")->setChecked(true);
    Child<QLineEdit>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "eOutput")
        ->setText(QString::fromStdString(Dir->File("none") + "/"));
    bool failed = false;
    try {
      main->RenderAnimation(false);
    } catch (const Exception&) {
      failed = true;
    }
    QVERIFY(failed);
    QVERIFY(Child<QWidget>(Child<TfrmViewer>(&*main, "frmViewer"), "pControls")->isVisible() &&
            Child<QListWidget>(Child<TfrmViewer>(&*main, "frmViewer"), "lstParts")->isVisible());
  }

  void theMenusOpenTheOutputDialogAndTheTexturiser() {
    auto main = Start();
    main->OpenArchive(Demo("char.lgp"));
    Child<QComboBox>(&*main, "cmbModels")
        ->setCurrentIndex(Child<QComboBox>(&*main, "cmbModels")->findText("KNIG.HRC - KNIG"));
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(0);
    std::string out = Dir->File("menu");
    std::filesystem::create_directory(out);
    Child<QLineEdit>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "eOutput")
        ->setText(QString::fromStdString(out + "/"));
    QTimer::singleShot(0, Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), [&] {
      Child<QPushButton>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "btnOK")->click();
    });
    Child<QAction>(&*main, "mnuRenderAnimation")->trigger();
    QCOMPARE(std::distance(std::filesystem::directory_iterator(out), {}), 24L);
    QTimer::singleShot(0, Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), [&] {
      Child<QPushButton>(Child<TRenderOptionsDialog>(&*main, "frmRenderOptions"), "btnCancel")
          ->click();
    });
    Child<QAction>(&*main, "mnuRenderAnimation")->trigger(); // Cancel writes nothing more
    QCOMPARE(std::distance(std::filesystem::directory_iterator(out), {}), 24L);

    // The Texturiser: the spine's part (a textured box) with its RSD's texture.
    auto archive = TLGPFile::Create(Demo("char.lgp"), false);
    for (const char* name : {"KNAB.P", "KNAB.RSD", "KNAC.TEX"})
      WriteFile(Dir->File(name),
                std::string(archive->ReadMemberToMemory(archive->IndexOf(name))->View()));
    Script->FileAnswers = {Dir->File("KNAB.P"), Dir->File("KNAB.RSD")};
    QImage picture;
    TTexturiserWindow& tex = *Child<TTexturiserWindow>(&*main, "frmTex");
    QListWidget& groups = *tex.findChild<QListWidget*>("lbGroups");
    QListWidget& verts = *tex.findChild<QListWidget*>("lbVerts");
    bool refused = false;
    try {
      tex.SaveP(); // before any Open P
    } catch (const Exception& e) {
      refused = std::string(e.what()) == "No P file is open: use Open P first";
    }
    QVERIFY(refused);
    QTimer::singleShot(0, &tex, [&] {
      tex.findChild<QPushButton*>("bOpenP")->click();
      tex.findChild<QPushButton*>("bLoadRSD")->click();
      tex.findChild<QSlider*>("trkZoom")->setValue(15);
      QApplication::processEvents();
      picture = tex.findChild<QOpenGLWidget*>("View")->grabFramebuffer();
      tex.accept();
    });
    Child<QAction>(&*main, "mnuTexturiser")->trigger();
    QVERIFY(Script->Errors.empty());
    QCOMPARE(groups.count(), 1);
    QCOMPARE(verts.item(0)->text(), QString("Vert 1 - 0.00/1.00"));
    QCOMPARE(tex.Part().Textures.size(), size_t(1));
    int blue = 0, black = 0;
    for (int y = 0; y < picture.height(); y += 3)
      for (int x = 0; x < picture.width(); x += 3) {
        QColor c = picture.pixelColor(x, y);
        blue += c.blue() > c.red() + 60;
        black += c == Qt::black;
      }
    QVERIFY2(blue > 50 && black > 50,
             qPrintable(QString("%1 blue, %2 black").arg(blue).arg(black)));
    // A coordinate edit converts both answers before it writes; cancelled boxes change
    // nothing (row 4 was 0/0 already).
    const std::string before = tex.Document().Bytes();
    Script->InputAnswers = {"0.5", "x"};
    verts.setCurrentRow(2);
    Guarded([&] { tex.SetTexCoord(2); });
    QCOMPARE(Script->Errors.back(), std::string("'x' is not a valid floating point value"));
    QVERIFY(tex.Document().Bytes() == before);
    Script->InputAnswers = {"0.5", "0.25"};
    tex.SetTexCoord(2);
    QCOMPARE(verts.item(2)->text(), QString("Vert 3 - 0.50/0.25"));
    tex.SetTexCoord(3);
    QCOMPARE(verts.item(3)->text(), QString("Vert 4 - 0.00/0.00"));
    Script->Answers.push_back(TDialogs::TAnswer::No);
    groups.setCurrentRow(0);
    tex.findChild<QAction*>("mTextureOn")->trigger();
    QCOMPARE(tex.Part().Groups[0].PrimType, 3);
    tex.SaveP();
    QCOMPARE(ReadFileBytes(Dir->File("KNAB.P")), tex.Document().Bytes());
    // It keeps its state for the next opening.
    QTimer::singleShot(0, &tex, [&] { tex.reject(); });
    Child<QAction>(&*main, "mnuTexturiser")->trigger();
    QCOMPARE(groups.count(), 1);
  }

  void renderAnimationWithoutAModelSaysSo() {
    auto main = Start();
    bool said = false;
    try {
      main->RenderAnimation(false);
    } catch (const Exception& e) {
      said = std::string(e.what()) == "No model selected";
    }
    QVERIFY(said);
  }

  void aBrokenArchiveGivesAnErrorBox() {
    auto main = Start();
    TLGPFixture broken = BuildDemoFieldArchive();
    broken.TruncateAt = 5000;
    WriteFile(Dir->File("broken.lgp"), BuildLGP(broken));
    Script->FileAnswers.push_back(Dir->File("broken.lgp"));
    Child<QAction>(&*main, "mnuOpenLGP")->trigger();
    QCOMPARE(Script->Errors.size(), size_t(1));
    // The reader's own message first, then what it means; the status text stays at the
    // step the failure stopped.
    const std::string brokenPath = QuotedPath(Dir->File("broken.lgp"));
    QCOMPARE(Script->Errors[0], "Stream read error\n\n" + brokenPath +
                                    " is not an LGP archive: a member runs past the end of "
                                    "the file.");
    QCOMPARE(Child<QLabel>(&*main, "pStatus")->text(), QString("Analysing..."));
    QCOMPARE(Child<QComboBox>(&*main, "cmbModels")->count(), 0);
    // The program goes on.
    main->OpenLGP(Demo("char.lgp"));
    QCOMPARE(Child<QComboBox>(&*main, "cmbModels")->count(), 2);
    QCOMPARE(Child<QLabel>(&*main, "pStatus")->text(), QString("Complete!"));
    // A file whose table cannot be read fails before the analysis begins.
    WriteFile(Dir->File("notes.lgp"), "these are notes, not an archive");
    Script->FileAnswers.push_back(Dir->File("notes.lgp"));
    Child<QAction>(&*main, "mnuOpenLGP")->trigger();
    const std::string notes = QuotedPath(Dir->File("notes.lgp"));
    QCOMPARE(Script->Errors.back(), "Stream read error: " + notes +
                                        " ends before its table of members does\n\n" + notes +
                                        " is not an LGP archive.");
    QCOMPARE(Child<QLabel>(&*main, "pStatus")->text(), QString("Complete!"));
    QCOMPARE(Child<QComboBox>(&*main, "cmbModels")->count(), 2);
    // One that cannot be opened is named, with the reason, by its message alone.
    Script->FileAnswers.push_back(Dir->File("none.lgp"));
    Child<QAction>(&*main, "mnuOpenLGP")->trigger();
    QCOMPARE(Script->Errors.back(), "Cannot open file " + QuotedPath(Dir->File("none.lgp")) +
                                        ". No such file or directory");
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
