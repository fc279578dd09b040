// File > Import Model driven through the menus, on Xvfb with real GL: the knight exported,
// the summary asked about, and the model shown again from the archive as written.
#include "app/MainWindow.h"
#include "app/exportjobs.h"
#include "archive/FolderArchive.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"
#include "tests/gui/ScriptedDialogs.h"
#include "tests/gui/WindowTestSupport.h"

#include <QMenu>
#include <QMenuBar>
#include <QTest>

using namespace palkor;

class ImportModelTest : public QObject, protected testing::TWindowTestBase {
  Q_OBJECT

  // The knight with its offered animations as a .glb file.
  std::string ExportKnight() {
    const std::string archive = Dir->File("char.lgp"), path = Dir->File("knig.glb");
    auto lgp = ArchiveKindForPath(archive).Open();
    TCatalogue catalogue;
    catalogue.AnalyseArchive(*lgp);
    WriteGltfFile(
        ExportItem(*lgp,
                   ResolveExportItem(*lgp, catalogue, ModelNamed(catalogue, "KNIG.HRC"), {}, false),
                   {}),
        path);
    return path;
  }

private slots:
  void init() { BeginTest(); }
  void cleanup() { EndTest(); }

  void theMenuItemFollowsImportAnimation() {
    auto main = Start();
    const QList<QAction*> items = main->menuBar()->actions().first()->menu()->actions();
    const qsizetype at = items.indexOf(Child<QAction>(&*main, "mnuImportAnimation"));
    QVERIFY(at >= 0 && at + 1 < items.size());
    QCOMPARE(items[at + 1], Child<QAction>(&*main, "mnuImportModel"));
  }

  // The summary first: No writes nothing; Yes writes the parts in and shows the knight
  // again at the walk, with nothing offered to undo.
  void theKnightIsAskedAboutThenShownAsWritten() {
    const std::string file = ExportKnight(), archive = Dir->File("char.lgp");
    const std::string before = ReadFileBytes(archive);
    auto main = Start();
    main->OpenArchive(archive);
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    TfrmViewer& viewer = *Child<TfrmViewer>(&*main, "frmViewer");
    QVERIFY(viewer.Session().FieldModel());

    Script->FileAnswers.push_back(file);
    Script->Answers.push_back(TDialogs::TAnswer::No);
    Child<QAction>(&*main, "mnuImportModel")->trigger();
    QVERIFY2(Script->Errors.empty(), Script->Errors.empty() ? "" : Script->Errors[0].c_str());
    QCOMPARE(Script->Questions.size(), size_t(1));
    const std::string& question = Script->Questions[0];
    QVERIFY2(question.find("head: 24 triangles, 1 textures\n") != std::string::npos,
             question.c_str());
    QVERIFY(question.find("192 triangles on 11 bones; 0 new textures.") != std::string::npos);
    QCOMPARE(ReadFileBytes(archive), before);

    Script->FileAnswers.push_back(file);
    Script->Answers.push_back(TDialogs::TAnswer::Yes);
    Child<QAction>(&*main, "mnuImportModel")->trigger();
    QVERIFY2(Script->Errors.empty(), Script->Errors.empty() ? "" : Script->Errors[0].c_str());
    QVERIFY(ReadFileBytes(archive) != before);
    // Shown from the archive as written: the parts carry the normals the writer makes.
    TFieldModel* knight = viewer.Session().FieldModel();
    QVERIFY(knight);
    QCOMPARE(QString::fromStdString(knight->AnimName), QString("KNWA.A"));
    for (const auto& bone : knight->Bones)
      for (const auto& part : bone->Parts) QCOMPARE(part->NormalCount(), part->VertexCount());
    QVERIFY(!Child<QAction>(&*main, "mnuUndo")->isEnabled());
    QVERIFY(!main->Document().Modified());
  }
};

QTEST_MAIN(ImportModelTest)
#include "ImportModelTest.moc"
