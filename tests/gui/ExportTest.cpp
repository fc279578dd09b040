// File > Export glTF and Export All Models driven through the menus, on Xvfb with real
// GL; the files written are read back with tinygltf.
#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "archive/FolderArchive.h"
#include "fixtures/Demo.h"
#include "fixtures/GltfImages.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "geometry/Conventions.h"
#include "platform/Files.h"
#include "tests/gui/ScriptedDialogs.h"
#include "tests/gui/WindowTestSupport.h"

#include <QProgressDialog>
#include <QTest>
#include <QTimer>

#include <tiny_gltf.h>

#include <cmath>
#include <cstring>
#include <filesystem>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

// The document in a .glb file; an empty document (no nodes) when it does not load.
tinygltf::Model LoadGlb(const std::string& path) {
  tinygltf::TinyGLTF loader;
  fixtures::DecodeGltfImages(loader);
  tinygltf::Model model;
  std::string error, warning;
  if (!loader.LoadBinaryFromFile(&model, &error, &warning, path))
    qWarning("%s: %s", path.c_str(), error.c_str());
  return model;
}

std::vector<std::string> AnimationNames(const tinygltf::Model& model) {
  std::vector<std::string> names;
  for (const tinygltf::Animation& a : model.animations) names.push_back(a.name);
  return names;
}

// The names of the skin's joint nodes, in joint order.
std::vector<std::string> JointNames(const tinygltf::Model& model) {
  std::vector<std::string> names;
  if (model.skins.empty()) return names;
  for (int joint : model.skins[0].joints) names.push_back(model.nodes.at(size_t(joint)).name);
  return names;
}

// The rotation key of frame in animation's channel for the node named node.
TQuat RotationKey(const tinygltf::Model& model, const std::string& animation,
                  const std::string& node, int frame) {
  for (const tinygltf::Animation& a : model.animations) {
    if (a.name != animation) continue;
    for (const tinygltf::AnimationChannel& channel : a.channels) {
      if (channel.target_path != "rotation" ||
          model.nodes.at(size_t(channel.target_node)).name != node)
        continue;
      const tinygltf::Accessor& accessor =
          model.accessors.at(size_t(a.samplers.at(size_t(channel.sampler)).output));
      const tinygltf::BufferView& view = model.bufferViews.at(size_t(accessor.bufferView));
      const unsigned char* data =
          model.buffers.at(size_t(view.buffer)).data.data() + view.byteOffset + accessor.byteOffset;
      const size_t stride = view.byteStride ? view.byteStride : 16;
      float q[4];
      std::memcpy(q, data + size_t(frame) * stride, sizeof q);
      return {q[0], q[1], q[2], q[3]};
    }
  }
  return {0, 0, 0, 0};
}

// The same turn: q or -q, to within tolerance.
bool SameTurn(const TQuat& a, const TQuat& b) {
  return std::fabs(std::fabs(a.Dot(b)) - 1.0f) < 1e-4f;
}

// How tall the mesh stands as written, in the bind pose: the knight lies along +Z with
// every rotation 0 and stands in the first frame of its animations.
double MeshHeight(const tinygltf::Model& model) {
  double low = INFINITY, high = -INFINITY;
  for (const tinygltf::Mesh& mesh : model.meshes)
    for (const tinygltf::Primitive& primitive : mesh.primitives) {
      const tinygltf::Accessor& positions =
          model.accessors.at(size_t(primitive.attributes.at("POSITION")));
      low = std::min(low, positions.minValues.at(1));
      high = std::max(high, positions.maxValues.at(1));
    }
  return high - low;
}

int CountFiles(const std::string& folder) {
  return int(std::distance(std::filesystem::directory_iterator(folder), {}));
}

} // namespace

class ExportTest : public QObject, protected testing::TWindowTestBase {
  Q_OBJECT

  // What the Export glTF dialog offered when it came up.
  struct TOffer {
    QString Title, All, Current, FileName;
  };
  // File > Export glTF: the dialog is read, set by choose, and closed with OK (or Cancel).
  TOffer ExportThroughMenu(TMainWindow& main, const std::function<void(TfrmExport&)>& choose,
                           bool ok = true) {
    TOffer offer;
    TfrmExport& dialog = *Child<TfrmExport>(&main, "frmExport");
    QTimer::singleShot(0, &dialog, [&] {
      offer = {dialog.windowTitle(), Child<QRadioButton>(&dialog, "rbAll")->text(),
               Child<QRadioButton>(&dialog, "rbCurrent")->text(),
               Child<QLineEdit>(&dialog, "eFileName")->text()};
      if (dialog.isVisible()) {
        if (choose) choose(dialog);
        (ok ? Child<QPushButton>(&dialog, "btnOK") : Child<QPushButton>(&dialog, "btnCancel"))
            ->click();
      }
    });
    Child<QAction>(&main, "mnuExportGltf")->trigger();
    // The dialog never stays open, whatever the checks above did.
    if (dialog.isVisible()) dialog.reject();
    return offer;
  }

private slots:
  void init() {
    BeginTest();
    // The knight's filter offers only the wave.
    WriteFile(Dir->File("palkor.filter"), "KNIGAnims=KNWV,\r\n");
  }
  void cleanup() { EndTest(); }

  void theKnightIsExportedWithTheOfferedOrTheCurrentAnimation() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");

    TOffer offer = ExportThroughMenu(
        *main, [](TfrmExport& d) { Child<QRadioButton>(&d, "rbAll")->setChecked(true); });
    QCOMPARE(offer.Title, QString("Export glTF"));
    QCOMPARE(offer.All, QString("Every animation offered for the model (2)"));
    QCOMPARE(offer.Current, QString("Only the current animation (KNWA.A)"));
    QCOMPARE(offer.FileName.toStdString(), Dir->File("KNIG.glb"));
    QVERIFY(Script->Errors.empty());
    QCOMPARE(Child<QLabel>(&*main, "pStatus")->text(), QString("Exported KNIG.glb"));
    tinygltf::Model all = LoadGlb(Dir->File("KNIG.glb"));
    QCOMPARE(AnimationNames(all), (std::vector<std::string>{"KNWA.A", "KNWV.A"}));
    std::vector<std::string> bones;
    for (int32_t b = 0;
         b < Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel()->BoneCount(); ++b)
      bones.push_back(
          Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel()->GetBone(b).Name);
    QCOMPARE(bones.size(), size_t(12));
    QCOMPARE(bones[0], std::string("root"));
    QCOMPARE(JointNames(all), bones);

    // Only the current animation, to a name typed without extension.
    ExportThroughMenu(*main, [&](TfrmExport& d) {
      Child<QRadioButton>(&d, "rbCurrent")->setChecked(true);
      Child<QLineEdit>(&d, "eFileName")->setText(QString::fromStdString(Dir->File("walk")));
    });
    QCOMPARE(AnimationNames(LoadGlb(Dir->File("walk.glb"))), (std::vector<std::string>{"KNWA.A"}));
    QVERIFY(!FileExists(Dir->File("walk")));

    // Bound in the first frame, the knight stands in the file; the choice is kept.
    QVERIFY(Child<QRadioButton>(Child<TfrmExport>(&*main, "frmExport"), "rbBindZero")->isChecked());
    ExportThroughMenu(*main, [&](TfrmExport& d) {
      Child<QRadioButton>(&d, "rbBindFirstFrame")->setChecked(true);
      Child<QLineEdit>(&d, "eFileName")->setText(QString::fromStdString(Dir->File("standing.glb")));
    });
    const double lying = MeshHeight(LoadGlb(Dir->File("walk.glb")));
    QVERIFY2(MeshHeight(LoadGlb(Dir->File("standing.glb"))) > 3 * lying,
             std::to_string(lying).c_str());
    QVERIFY(Child<QRadioButton>(Child<TfrmExport>(&*main, "frmExport"), "rbBindFirstFrame")
                ->isChecked());
    Child<TfrmExport>(&*main, "frmExport")->SetBindPose(TBindPose::Zero);

    // Filter anims narrows what is offered; the file is replaced only when the user says so.
    Child<QCheckBox>(&*main, "chkFilter")->setChecked(true);
    const std::string before = ReadFileBytes(Dir->File("KNIG.glb"));
    offer = ExportThroughMenu(
        *main, [](TfrmExport& d) { Child<QRadioButton>(&d, "rbAll")->setChecked(true); });
    QCOMPARE(offer.All, QString("Every animation offered for the model (1)"));
    QCOMPARE(Script->Questions.size(), size_t(1));
    QCOMPARE(Script->Questions[0],
             Dir->File("KNIG.glb") + " already exists.\nDo you want to replace it?");
    QCOMPARE(ReadFileBytes(Dir->File("KNIG.glb")), before);
    Script->Answers.push_back(TDialogs::TAnswer::Yes);
    ExportThroughMenu(*main, {});
    QCOMPARE(AnimationNames(LoadGlb(Dir->File("KNIG.glb"))), (std::vector<std::string>{"KNWV.A"}));
    QVERIFY(Script->Errors.empty());
  }

  void aPoseEditNotYetSavedIsInTheFile() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    auto archive = ArchiveKindForPath(Dir->File("char.lgp")).Open();
    const std::string savedWalk(archive->ReadMemberToMemory(archive->IndexOf("KNWA.A"))->View());
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    const int32_t bone = 8;
    const std::string name = viewer.Session().FieldModel()->GetBone(bone).Name;
    const TQuat unedited =
        FieldBoneTurn(viewer.Session().FieldModel()->GetRotation(bone, 0)).RotationPart();
    Child<QAction>(&*main, "aEditable")->setChecked(true);
    QCOMPARE(Child<QSlider>(&viewer, "trkFrame")->value(), 0);
    Child<QListWidget>(&viewer, "lstParts")->setCurrentRow(bone);
    Child<QSlider>(&viewer, "trkRY")->setValue(Child<QSlider>(&viewer, "trkRY")->value() + 60);
    QVERIFY(main->Document().Modified());
    const TQuat edited =
        FieldBoneTurn(viewer.Session().FieldModel()->GetRotation(bone, 0)).RotationPart();
    QVERIFY(!SameTurn(edited, unedited));

    ExportThroughMenu(*main,
                      [](TfrmExport& d) { Child<QRadioButton>(&d, "rbAll")->setChecked(true); });
    QVERIFY(Script->Errors.empty());
    tinygltf::Model model = LoadGlb(Dir->File("KNIG.glb"));
    QVERIFY(SameTurn(RotationKey(model, "KNWA.A", name, 0), edited));
    // Nothing was saved: the archive's walk and the edits in the viewer are as they were.
    QVERIFY(main->Document().Modified());
    archive = ArchiveKindForPath(Dir->File("char.lgp")).Open();
    QCOMPARE(std::string(archive->ReadMemberToMemory(archive->IndexOf("KNWA.A"))->View()),
             savedWalk);
    QVERIFY(Script->Questions.empty());
  }

  void theGolemIsExportedWithNumberedAnimations() {
    auto main = Start();
    main->OpenArchive(Dir->File("battle.lgp"));
    Show(*main, "[Battle] RTAA", nullptr);
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().BattleModel());
    TOffer offer = ExportThroughMenu(
        *main, [](TfrmExport& d) { Child<QRadioButton>(&d, "rbAll")->setChecked(true); });
    QCOMPARE(offer.All, QString("Every animation of the model (2)"));
    QCOMPARE(offer.Current, QString("Only the current animation (Animation 1)"));
    QCOMPARE(offer.FileName.toStdString(), Dir->File("RT.glb"));
    QCOMPARE(AnimationNames(LoadGlb(Dir->File("RT.glb"))),
             (std::vector<std::string>{"Animation 1", "Animation 2"}));

    Child<QComboBox>(&*main, "cmbAnims")->setCurrentIndex(1);
    offer = ExportThroughMenu(*main, [&](TfrmExport& d) {
      Child<QRadioButton>(&d, "rbCurrent")->setChecked(true);
      Child<QLineEdit>(&d, "eFileName")->setText(QString::fromStdString(Dir->File("swing.glb")));
    });
    QCOMPARE(offer.Current, QString("Only the current animation (Animation 2)"));
    QCOMPARE(AnimationNames(LoadGlb(Dir->File("swing.glb"))),
             (std::vector<std::string>{"Animation 2"}));
    QVERIFY(Script->Errors.empty());
  }

  void noModelCancelsAndFailuresLeaveNoFile() {
    auto main = Start();
    // Nothing to export: the commands wait, and called all the same they say why.
    QVERIFY(!Child<QAction>(&*main, "mnuExportGltf")->isEnabled());
    QVERIFY(!Child<QAction>(&*main, "mnuExportAll")->isEnabled());
    Guarded([&] { main->ExportGltf(); });
    Guarded([&] { main->ExportAllModels(); });
    QCOMPARE(Script->Errors, (std::vector<std::string>{"No model selected", "No archive open"}));
    Script->Errors.clear();
    main->OpenArchive(Dir->File("char.lgp")); // listed, none chosen: nothing on show
    QVERIFY(!Child<QAction>(&*main, "mnuExportGltf")->isEnabled());
    QVERIFY(Child<QAction>(&*main, "mnuExportAll")->isEnabled());
    Show(*main, "KNIG.HRC - KNIG", nullptr);
    QVERIFY(Child<QAction>(&*main, "mnuExportGltf")->isEnabled());
    // A copy of the archive lists the knight alike; the first archive's knight is not on
    // show any more once it is opened.
    std::filesystem::create_directory(Dir->File("copy"));
    std::filesystem::copy_file(Dir->File("char.lgp"), Dir->File("copy/char.lgp"));
    main->OpenArchive(Dir->File("copy/char.lgp"));
    QVERIFY(!Child<QAction>(&*main, "mnuExportGltf")->isEnabled());
    Guarded([&] { main->ExportGltf(); });
    QCOMPARE(Script->Errors, (std::vector<std::string>{"No model selected"}));
    Script->Errors.clear();
    std::filesystem::remove_all(Dir->File("copy"));
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    const int files = CountFiles(Dir->Path());

    // Cancel in the dialog; Cancel in the save dialog, then Cancel.
    ExportThroughMenu(*main, {}, false);
    Script->SaveAnswers.push_back("");
    TOffer offer = ExportThroughMenu(
        *main, [](TfrmExport& d) { Child<QPushButton>(&d, "btnBrowse")->click(); }, false);
    QCOMPARE(Script->SaveSuggestions, std::vector<std::string>{offer.FileName.toStdString()});
    QCOMPARE(Child<QLineEdit>(Child<TfrmExport>(&*main, "frmExport"), "eFileName")->text(),
             offer.FileName);
    QCOMPARE(CountFiles(Dir->Path()), files);

    // A target that cannot be written, and the archive itself: one error each, no file,
    // the archive as it was.
    const std::string archive = ReadFileBytes(Dir->File("char.lgp"));
    const std::pair<std::string, std::string> targets[] = {
        {Dir->File("none/KNIG.glb"), "Cannot create file \"" + Dir->File("none/KNIG.glb")},
        {Dir->File("char.lgp"), "Cannot export over the archive"}};
    for (const auto& [target, error] : targets) {
      Script->Errors.clear();
      ExportThroughMenu(*main, [&](TfrmExport& d) {
        Child<QLineEdit>(&d, "eFileName")->setText(QString::fromStdString(target));
      });
      QCOMPARE(Script->Errors.size(), size_t(1));
      QVERIFY2(Script->Errors[0].rfind(error, 0) == 0, Script->Errors[0].c_str());
    }
    QCOMPARE(CountFiles(Dir->Path()), files);
    QCOMPARE(ReadFileBytes(Dir->File("char.lgp")), archive);
    QVERIFY(Script->Questions.empty());

    // The name chosen in the save dialog is the one written; the save dialog has asked
    // about replacing it, so it is not asked again.
    for (int time = 0; time < 2; ++time) {
      Script->SaveAnswers.push_back(Dir->File("chosen.glb"));
      ExportThroughMenu(*main, [](TfrmExport& d) { Child<QPushButton>(&d, "btnBrowse")->click(); });
    }
    QCOMPARE(AnimationNames(LoadGlb(Dir->File("chosen.glb"))).size(), size_t(2));
    QVERIFY(Script->Questions.empty() && Script->Errors.size() == 1);
  }

  void exportAllWritesEveryModelAndSumsUp() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    const std::string out = Dir->File("all");
    // The bind pose is asked first, then the folder; cancelling either writes nothing.
    Script->ItemAnswers = {-1, 0, 1};
    Script->FolderAnswers = {"", out};
    Child<QAction>(&*main, "mnuExportAll")->trigger();
    QCOMPARE(Script->ItemsOffered.size(), size_t(1));
    QCOMPARE(Script->ItemsOffered[0], BindPoseNames());
    QVERIFY(Script->FolderAnswers.size() == 2);
    Child<QAction>(&*main, "mnuExportAll")->trigger(); // the folder chooser cancelled
    QVERIFY(!DirectoryExists(out));
    Child<QAction>(&*main, "mnuExportAll")->trigger(); // the first frame as the bind pose
    QVERIFY(Script->Errors.empty());
    QCOMPARE(Script->Messages, std::vector<std::string>{"Exported 2 of 2 models to " + out + "."});
    QCOMPARE(CountFiles(out), 2);
    QCOMPARE(AnimationNames(LoadGlb(out + "/KNIG.glb")),
             (std::vector<std::string>{"KNWA.A", "KNWV.A"}));
    QCOMPARE(AnimationNames(LoadGlb(out + "/HOUN.glb")),
             (std::vector<std::string>{"HOWA.A", "HOTA.A"}));
    QVERIFY(MeshHeight(LoadGlb(out + "/KNIG.glb")) > 0.5);
    QVERIFY(Child<QRadioButton>(Child<TfrmExport>(&*main, "frmExport"), "rbBindFirstFrame")
                ->isChecked()); // one choice for both

    // Cancel in the progress dialog: the models under way are finished and counted, and
    // every file written is whole.
    const std::string stopped = Dir->File("stopped");
    Script->ItemAnswers = {0};
    Script->FolderAnswers = {stopped};
    Script->Messages.clear();
    QTimer::singleShot(0, main.get(), [&] {
      if (auto* progress = main->findChild<QProgressDialog*>()) progress->cancel();
    });
    Child<QAction>(&*main, "mnuExportAll")->trigger();
    QCOMPARE(Script->Messages.size(), size_t(1));
    const int written = CountFiles(stopped);
    QCOMPARE(Script->Messages[0],
             "Exported " + std::to_string(written) + " of 2 models to " + stopped + ".");
    for (const auto& file : std::filesystem::directory_iterator(stopped))
      QVERIFY(!LoadGlb(file.path().string()).nodes.empty());
  }

  void theSummaryListsAtMostTwentyFailures_data() {
    QTest::addColumn<int>("failures");
    QTest::addColumn<QString>("last");
    QTest::newRow("none") << 0 << "Exported 30 of 30 models to /out.";
    QTest::newRow("two") << 2 << "M1: Stream read error";
    QTest::newRow("twenty") << 20 << "M19: Stream read error";
    QTest::newRow("twenty-three") << 23 << "... and 3 more";
  }
  void theSummaryListsAtMostTwentyFailures() {
    QFETCH(int, failures);
    QFETCH(QString, last);
    TExportAllProgress result;
    result.Done = result.Total = 30;
    for (int k = 0; k < failures; ++k)
      result.Failures.emplace_back("M" + std::to_string(k), "Stream read error");
    const QStringList lines = QString::fromStdString(ExportAllSummary(result, "/out")).split('\n');
    QCOMPARE(lines[0], QString("Exported %1 of 30 models to /out.").arg(30 - failures));
    QCOMPARE(lines.size(), 1 + std::min(failures, 20) + (failures > 20 ? 1 : 0));
    QCOMPARE(lines.back(), last);
  }

  // The save dialog gives a name typed without extension the chosen filter's.
  void theChosenFilterGivesTheExtension_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("extension");
    const std::pair<QString, QString> rows[] = {
        {"glTF binary (*.glb)", "glb"},
        {"glTF (*.gltf *.GLTF)", "gltf"},
        {"All files (*.*)", ""},
        {"Everything", ""},
        {QString::fromStdString(QtFileFilter("glTF|*.GLTF")), "GLTF"},
    };
    for (const auto& [filter, extension] : rows)
      QTest::newRow(qPrintable(filter)) << filter << extension;
  }
  void theChosenFilterGivesTheExtension() {
    QFETCH(QString, filter);
    QFETCH(QString, extension);
    QCOMPARE(QString::fromStdString(FilterExtension(filter.toStdString())), extension);
  }
};

QTEST_MAIN(ExportTest)
#include "ExportTest.moc"
