// File > Import Animation driven through the menus, on Xvfb with real GL: glTF files made
// by the exporter (some of them altered with tinygltf) taken into the model on show, kept
// in memory until saved, and the question asked when an imported model is let go.
#include "app/MainWindow.h"
#include "app/exportjobs.h"
#include "archive/FolderArchive.h"
#include "fixtures/Demo.h"
#include "fixtures/GltfImages.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "geometry/Conventions.h"
#include "platform/Files.h"
#include "tests/TestSupport.h"
#include "tests/gui/ScriptedDialogs.h"
#include "tests/gui/WindowTestSupport.h"

#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <tiny_gltf.h>

#include <cmath>
#include <sstream>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::NearTurn;
using palkor::testing::SameFrame;

namespace {

std::string Member(const std::string& archive, const std::string& name) {
  auto lgp = ArchiveKindForPath(archive).Open();
  return std::string(lgp->ReadMemberToMemory(lgp->IndexOf(name))->View());
}

// Exports model of archive (an HRC name or a battle code) with anims (all offered when
// none) as a .glb file.
std::string ExportModel(const std::string& archive, const std::string& model,
                        const std::vector<std::string>& anims, const std::string& path,
                        int32_t fps = 30, TBindPose bind = TBindPose::Zero) {
  auto lgp = ArchiveKindForPath(archive).Open();
  TCatalogue catalogue;
  catalogue.AnalyseArchive(*lgp);
  TGltfOptions options;
  options.Fps = fps;
  options.BindPose = bind;
  WriteGltfFile(
      ExportItem(*lgp,
                 ResolveExportItem(*lgp, catalogue, ModelNamed(catalogue, model), anims, false),
                 options),
      path);
  return path;
}

// The .glb file at from written again to to with the node named node renamed: its
// animations then lack a joint of that name.
void RenameNode(const std::string& from, const std::string& to, const std::string& node) {
  tinygltf::TinyGLTF gltf;
  fixtures::DecodeGltfImages(gltf);
  tinygltf::Model model;
  std::string error, warning;
  if (!gltf.LoadBinaryFromFile(&model, &error, &warning, from)) qFatal("%s", error.c_str());
  for (tinygltf::Node& n : model.nodes)
    if (n.name == node) n.name = "renamed_" + node;
  gltf.SetImageWriter(nullptr, nullptr);
  std::ostringstream out;
  if (!gltf.WriteGltfSceneToStream(&model, out, false, true)) qFatal("cannot write %s", to.c_str());
  WriteFile(to, out.str());
}

} // namespace

class ImportTest : public QObject, protected testing::TWindowTestBase {
  Q_OBJECT

  // File > Import Animation with the file and the list's choice answered (-1: cancelled).
  void Import(TMainWindow& main, const std::string& file, int animation) {
    Script->FileAnswers.push_back(file);
    Script->ItemAnswers.push_back(animation);
    Child<QAction>(&main, "mnuImportAnimation")->trigger();
    Script->FileAnswers.clear();
    Script->ItemAnswers.clear();
  }
  std::unique_ptr<TMainWindow> ShowGolem() {
    auto main = Start();
    main->OpenArchive(Dir->File("battle.lgp"));
    Show(*main, "[Battle] RTAA", nullptr);
    if (!Child<TfrmViewer>(&*main, "frmViewer")->Session().BattleModel())
      qWarning("the golem is not on show");
    return main;
  }

private slots:
  void init() { BeginTest(); }
  void cleanup() { EndTest(); }

  void theMenuItemFollowsExportAll() {
    auto main = Start();
    const QList<QAction*> items = main->menuBar()->actions().first()->menu()->actions();
    const qsizetype at = items.indexOf(Child<QAction>(&*main, "mnuExportAll"));
    QVERIFY(at >= 0 && at + 1 < items.size());
    QCOMPARE(items[at + 1], Child<QAction>(&*main, "mnuImportAnimation"));
    QCOMPARE(Child<QAction>(&*main, "mnuImportAnimation")->text(), QString("&Import Animation..."));
  }

  // The knight's walk, from a file of both its animations, into the walk itself or into
  // the wave; then saved. A file bound in the walk's frame 0 is read as well: the walk is
  // not the model's animation then, so it is looked up in the archive.
  void theKnightTakesTheWalkAndSavesIt_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("firstFrame");
    QTest::newRow("into the walk") << "KNWA.A" << false;
    QTest::newRow("into the wave") << "KNWV.A" << false;
    QTest::newRow("into the wave, bound in the walk's frame 0") << "KNWV.A" << true;
  }
  void theKnightTakesTheWalkAndSavesIt() {
    QFETCH(QString, target);
    QFETCH(bool, firstFrame);
    const std::string archive = Dir->File("char.lgp");
    const std::string file = ExportModel(archive, "KNIG.HRC", {}, Dir->File("knig.glb"), 30,
                                         firstFrame ? TBindPose::FirstFrame : TBindPose::Zero);
    const std::string walk = Member(archive, "KNWA.A");
    auto main = Start();
    main->OpenArchive(archive);
    Show(*main, "KNIG.HRC - KNIG", qPrintable(target));
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    QVERIFY(viewer.Session().FieldModel() && !main->Document().Modified() &&
            !Child<QAction>(&*main, "aAnimation")->isChecked());

    Import(*main, file, 0);
    QVERIFY2(Script->Errors.empty(), Script->Errors.empty() ? "" : Script->Errors[0].c_str());
    QCOMPARE(Script->ItemsOffered, (std::vector<std::vector<std::string>>{{"KNWA.A", "KNWV.A"}}));
    TFieldModel& knight = *viewer.Session().FieldModel();
    QCOMPARE(QString::fromStdString(knight.AnimName), target);
    QVERIFY(main->Document().Modified());
    QVERIFY(Child<QAction>(&*main, "aAnimation")->isChecked());
    QCOMPARE(Child<QLabel>(&*main, "pStatus")->text(), "Imported KNWA.A into " + target);
    QCOMPARE(Child<QLabel>(&*main, "pStatus")->toolTip(), Child<QLabel>(&*main, "pStatus")->text());
    const std::string imported(knight.AnimData.View());
    if (target == "KNWA.A") {
      // An unchanged export into its own member gives back the very same bytes.
      QCOMPARE(imported, walk);
    } else {
      auto lgp = ArchiveKindForPath(archive).Open();
      const TFieldModel walker(*lgp, "KNIG.HRC", "KNWA.A");
      QCOMPARE(knight.FrameCount, walker.FrameCount);
      for (int32_t k = 0; k < walker.FrameCount; ++k)
        for (int32_t b = 1; b < knight.BoneCount(); ++b)
          QVERIFY2(NearTurn(FieldBoneTurn(knight.GetRotation(b, k)),
                            FieldBoneTurn(walker.GetRotation(b, k)), 0.01),
                   qPrintable(QString("frame %1 bone %2").arg(k).arg(b)));
    }
    QCOMPARE(Child<QSlider>(&viewer, "trkFrame")->maximum(), knight.FrameCount - 1);

    // Saved without a question; the knight stays on show.
    Child<QAction>(&*main, "mnuSaveChanges")->trigger();
    QVERIFY(Script->Questions.empty() && Script->Errors.empty());
    QCOMPARE(Member(archive, target.toStdString()), imported);
    QVERIFY(viewer.Session().FieldModel() == &knight && !main->Document().Modified());
  }

  // The frame slider follows the frame count: the walk exported at 15 frames a second
  // comes back at 30 with twice as many frames, less one.
  void theFrameSliderTakesTheNewFrameCount() {
    const std::string archive = Dir->File("char.lgp");
    const std::string file =
        ExportModel(archive, "KNIG.HRC", {"KNWA.A"}, Dir->File("slow.glb"), 15);
    auto main = Start();
    main->OpenArchive(archive);
    Show(*main, "KNIG.HRC - KNIG", "KNWV.A");
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    const int32_t before = viewer.Session().FieldModel()->FrameCount;
    Child<QSlider>(&viewer, "trkFrame")->setValue(5);
    Import(*main, file, 0);
    QVERIFY(Script->Errors.empty());
    QCOMPARE(viewer.Session().FieldModel()->FrameCount, 2 * before - 1);
    QCOMPARE(Child<QSlider>(&viewer, "trkFrame")->maximum(), 2 * before - 2);
    QVERIFY(main->Document().Modified());
  }

  void theGolemTakesItsSwingInPlaceOfTheSway() {
    const std::string archive = Dir->File("battle.lgp");
    const std::string file = ExportModel(archive, "rt", {}, Dir->File("rt.glb"));
    const std::string before = ReadFileBytes(archive);
    auto main = ShowGolem();
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    TBattleModel& golem = *viewer.Session().BattleModel();
    QCOMPARE(viewer.Session().BattleAnimation(), 0);
    std::vector<TBattleFrame> swing = golem.Anims->Anims[1].Frames;
    const size_t sway = golem.Anims->Anims[0].Frames.size();
    QVERIFY(swing.size() != sway);

    Import(*main, file, 1);
    QVERIFY2(Script->Errors.empty(), Script->Errors.empty() ? "" : Script->Errors[0].c_str());
    QCOMPARE(Script->ItemsOffered,
             (std::vector<std::vector<std::string>>{{"Animation 1", "Animation 2"}}));
    QVERIFY(golem.Modified() && main->Document().Modified());
    QCOMPARE(viewer.Session().BattleAnimation(), 0);
    QCOMPARE(golem.FrameCount(viewer.Session().BattleAnimation()), int32_t(swing.size()));
    QCOMPARE(Child<QSlider>(&viewer, "trkFrame")->maximum(), int(swing.size()));
    QVERIFY(Child<QAction>(&*main, "aAnimation")->isChecked());
    // Too long for the status panel: cut in the middle, whole in its tip.
    QCOMPARE(Child<QLabel>(&*main, "pStatus")->toolTip(),
             QString("Imported Animation 2 into Animation 1"));
    QVERIFY(Child<QLabel>(&*main, "pStatus")->text().startsWith("Imp") &&
            Child<QLabel>(&*main, "pStatus")->text().endsWith("on 1"));
    QVERIFY(Child<QLabel>(&*main, "pStatus")
                ->fontMetrics()
                .horizontalAdvance(Child<QLabel>(&*main, "pStatus")->text()) <=
            Child<QLabel>(&*main, "pStatus")->width());
    QCOMPARE(ReadFileBytes(archive), before); // in memory only

    // A step of its own: undone, the sway and its frame slider come back and nothing is
    // left to save; done again, the swing.
    Child<QAction>(&*main, "mnuUndo")->trigger();
    QCOMPARE(golem.FrameCount(0), int32_t(sway));
    QCOMPARE(Child<QSlider>(&viewer, "trkFrame")->maximum(), int(sway));
    QVERIFY(!golem.Modified() && !main->Document().Modified() && !main->isWindowModified());
    Child<QAction>(&*main, "mnuRedo")->trigger();
    QCOMPARE(golem.FrameCount(0), int32_t(swing.size()));
    QCOMPARE(Child<QSlider>(&viewer, "trkFrame")->maximum(), int(swing.size()));
    QVERIFY(golem.Modified() && main->Document().Modified() && main->isWindowModified());

    Child<QAction>(&*main, "mnuSaveChanges")->trigger();
    QVERIFY(Script->Questions.empty() && Script->Errors.empty());
    QVERIFY(viewer.Session().BattleModel() == &golem && !main->Document().Modified());
    TBattleModel saved;
    auto lgp = ArchiveKindForPath(archive).Open();
    saved.LoadFromArchive(*lgp, "RT");
    QCOMPARE(saved.AnimCount(), 2);
    for (int32_t a = 0; a < 2; ++a) {
      const auto& frames = saved.Anims->Anims[size_t(a)].Frames;
      QCOMPARE(frames.size(), swing.size());
      for (size_t k = 0; k < swing.size(); ++k)
        QVERIFY2(SameFrame(frames[k], swing[k]), qPrintable(QString("%1 %2").arg(a).arg(k)));
    }

    // The golem stays on show, as saved.
    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(1);
    QVERIFY(viewer.Session().BattleModel() && !viewer.Session().BattleModel()->Modified());
    QCOMPARE(viewer.Session().BattleAnimation(), 1);
    QCOMPARE(viewer.Session().BattleModel()->FrameCount(viewer.Session().BattleAnimation()),
             int32_t(swing.size()));
    QVERIFY(Script->Errors.empty());
  }

  void lettingAnImportedGolemGoAsksFirst() {
    const std::string archive = Dir->File("battle.lgp");
    const std::string file = ExportModel(archive, "rt", {}, Dir->File("rt.glb"));
    const std::string before = ReadFileBytes(archive);
    auto main = ShowGolem();
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    Import(*main, file, 1);
    QVERIFY(viewer.Session().BattleModel() && viewer.Session().BattleModel()->Modified());
    const TBattleModel* golem = viewer.Session().BattleModel();

    // Cancel, opening another archive and quitting: the golem stays with its import, and
    // its archive stays open.
    Script->Answers = {TDialogs::TAnswer::Cancel, TDialogs::TAnswer::Cancel};
    main->OpenArchive(Dir->File("char.lgp"));
    QVERIFY(!main->close());
    QCOMPARE(Script->Questions.size(), size_t(2));
    QCOMPARE(viewer.Session().BattleModel(), golem);
    QVERIFY(golem->Modified());
    QCOMPARE(main->Catalogue.ArchivePath, archive);
    QCOMPARE(Child<QComboBox>(&*main, "cmbModels")->currentIndex(), 0);

    // No: the golem goes, the knight's archive is listed, the archive is as it was.
    Script->Answers = {TDialogs::TAnswer::No};
    main->OpenArchive(Dir->File("char.lgp"));
    QCOMPARE(Script->Questions.size(), size_t(3));
    QVERIFY(!viewer.Session().BattleModel());
    Show(*main, "KNIG.HRC - KNIG", nullptr);
    QCOMPARE(Child<QComboBox>(&*main, "cmbAnims")->count(), 2);
    QCOMPARE(ReadFileBytes(archive), before);
    for (const std::string& question : Script->Questions)
      QCOMPARE(question, std::string("Model animations have changed! Update LGP?"));
    QVERIFY(Script->Errors.empty());
    QVERIFY(main->close());
    QCOMPARE(Script->Questions.size(), size_t(3));
  }

  void cancelsChangeNothing() {
    auto main = Start();
    QVERIFY(!Child<QAction>(&*main, "mnuImportAnimation")->isEnabled());
    Guarded([&] { main->ImportAnimation(); });
    QCOMPARE(Script->Errors, std::vector<std::string>{"No model selected"});
    Script->Errors.clear();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", nullptr);
    Child<QComboBox>(&*main, "cmbAnims")
        ->setCurrentIndex(Child<QComboBox>(&*main, "cmbAnims")->findText("KNWV.A"));
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    const std::string wave(viewer.Session().FieldModel()->AnimData.View());
    const QString status = Child<QLabel>(&*main, "pStatus")->text();
    const std::string file = ExportModel(Dir->File("char.lgp"), "KNIG.HRC", {}, Dir->File("k.glb"));
    Import(*main, "", 0); // the file chooser cancelled
    QVERIFY(Script->ItemsOffered.empty());
    Import(*main, file, -1); // the list cancelled
    QCOMPARE(Script->ItemsOffered.size(), size_t(1));
    QCOMPARE(std::string(viewer.Session().FieldModel()->AnimData.View()), wave);
    QVERIFY(!main->Document().Modified() && !Child<QAction>(&*main, "aAnimation")->isChecked());
    QCOMPARE(Child<QLabel>(&*main, "pStatus")->text(), status);
    QVERIFY(Script->Errors.empty() && Script->Questions.empty());
  }

  // The file chooser starts beside the archive, then in the folder a file was chosen from
  // last, at the next start too.
  void theFileChooserStartsWhereTheLastFileCameFrom() {
    const std::string folder = Dir->File("files");
    std::filesystem::create_directory(folder);
    const std::string file = ExportModel(Dir->File("char.lgp"), "KNIG.HRC", {}, folder + "/k.glb");
    {
      auto main = Start();
      main->OpenArchive(Dir->File("char.lgp"));
      Show(*main, "KNIG.HRC - KNIG", nullptr);
      Import(*main, file, -1);
      Import(*main, "", 0);
      main->close();
    }
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", nullptr);
    Import(*main, "", 0);
    QCOMPARE(Script->FileStarts,
             (std::vector<std::string>{Dir->Path() + "/", folder + "/", folder + "/"}));
    QVERIFY(Script->Errors.empty());
  }

  // Files that cannot give the animation: one error each, the model as it was.
  void failuresShowOneErrorAndLeaveTheModel_data() {
    QTest::addColumn<bool>("battle");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");
    QTest::newRow("not glTF") << false << "text"
                              << "Cannot read glTF file \"%1\": ";
    QTest::newRow("no animations") << false << "still"
                                   << "no animations in %1";
    QTest::newRow("a field joint missing") << false << "renamed"
                                           << "no joint named hip in %1";
    QTest::newRow("a battle joint missing") << true << "renamed"
                                            << "no joint named bone0 in %1";
  }
  void failuresShowOneErrorAndLeaveTheModel() {
    QFETCH(bool, battle);
    QFETCH(QString, kind);
    QFETCH(QString, error);
    const std::string archive = Dir->File(battle ? "battle.lgp" : "char.lgp");
    const std::string model = battle ? "rt" : "KNIG.HRC";
    const std::string file = Dir->File("bad.glb");
    if (kind == "text") {
      WriteFile(file, "not a model at all");
    } else if (kind == "still") {
      auto lgp = ArchiveKindForPath(archive).Open();
      const TFieldModel knight(*lgp, "KNIG.HRC", "KNWA.A");
      WriteGltfFile(ExportFieldModel(knight, "KNIG", {}, {}), file);
    } else {
      RenameNode(ExportModel(archive, model, {}, Dir->File("good.glb")), file,
                 battle ? "bone0" : "hip");
    }
    const std::string before = ReadFileBytes(archive);

    auto main = battle ? ShowGolem() : Start();
    if (!battle) {
      main->OpenArchive(archive);
      Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    }
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    const std::string walk = viewer.Session().FieldModel()
                                 ? std::string(viewer.Session().FieldModel()->AnimData.View())
                                 : "";
    const std::vector<TBattleFrame> sway =
        battle ? viewer.Session().BattleModel()->Anims->Anims[0].Frames
               : std::vector<TBattleFrame>();
    const int slider = Child<QSlider>(&viewer, "trkFrame")->maximum();
    Import(*main, file, 0);

    QCOMPARE(Script->Errors.size(), size_t(1));
    const std::string expected = error.arg(QString::fromStdString(file)).toStdString();
    QVERIFY2(Script->Errors[0].rfind(expected, 0) == 0, Script->Errors[0].c_str());
    QCOMPARE(Child<QSlider>(&viewer, "trkFrame")->maximum(), slider);
    QVERIFY(!main->Document().Modified() && !Child<QAction>(&*main, "aAnimation")->isChecked());
    if (battle) {
      const auto& frames = viewer.Session().BattleModel()->Anims->Anims[0].Frames;
      QCOMPARE(frames.size(), sway.size());
      for (size_t k = 0; k < sway.size(); ++k) QVERIFY(SameFrame(frames[k], sway[k]));
    } else {
      QCOMPARE(std::string(viewer.Session().FieldModel()->AnimData.View()), walk);
    }
    QVERIFY(main->close());
    QVERIFY(Script->Questions.empty());
    QCOMPARE(ReadFileBytes(archive), before);
  }
};

QTEST_MAIN(ImportTest)
#include "ImportTest.moc"
