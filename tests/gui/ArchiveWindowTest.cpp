// View > Archive Members: the members listed, filtered, sorted and previewed; files added
// by a drop, members extracted (by the button and by a drag), renamed, removed, replaced
// and compacted through the archive's own operations, with the model list following.
#include "app/ArchiveWindow.h"
#include "app/MainWindow.h"
#include "app/TextureFiles.h"
#include "app/exportjobs.h"
#include "archive/FolderArchive.h"
#include "archive/LGPCheck.h"
#include "archive/LGPFile.h"
#include "fixtures/PNGReader.h"
#include "platform/Files.h"
#include "platform/images.h"
#include "render/QtText.h"
#include "tests/gui/WindowTestSupport.h"

#include <QAction>
#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTableView>
#include <QTest>
#include <QUrl>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

std::string MemberBytes(const std::string& archivePath, const std::string& name) {
  auto archive = ArchiveKindForPath(archivePath).Open();
  const int32_t index = archive->IndexOf(name);
  if (index < 0) return "<missing>";
  return std::string(archive->ReadMemberToMemory(index)->View());
}

// The first member of kind in the window's list.
std::string FirstOfKind(TArchiveWindow& window, const std::string& kind) {
  auto* table = Child<QTableView>(&window, "tblMembers");
  for (int r = 0; r < table->model()->rowCount(); ++r)
    if (table->model()->index(r, 1).data().toString() == Text(kind))
      return Bytes(table->model()->index(r, 0).data().toString());
  return "";
}

// Files dropped on the member list at point (an empty spot adds them).
void DropOn(TArchiveWindow& window, const QStringList& files, QPoint at) {
  auto* table = Child<QTableView>(&window, "tblMembers");
  QMimeData mime;
  QList<QUrl> urls;
  for (const QString& file : files) urls.push_back(QUrl::fromLocalFile(file));
  mime.setUrls(urls);
  // As the window system delivers a drop: entered first, then dropped.
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(table->viewport(), &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(table->viewport(), &drop);
}

// A point in the list below its last row.
QPoint BelowRows(TArchiveWindow& window) {
  auto* table = Child<QTableView>(&window, "tblMembers");
  return {10, table->viewport()->height() - 3};
}

QPoint OnRow(TArchiveWindow& window, const std::string& member) {
  auto* table = Child<QTableView>(&window, "tblMembers");
  window.ChooseMember(member);
  return table->visualRect(table->currentIndex()).center();
}

} // namespace

class ArchiveWindowTest : public QObject, protected testing::TWindowTestBase {
  Q_OBJECT

private slots:
  void init() { BeginTest(); }
  void cleanup() { EndTest(); }

  // Every member listed with its kind, size and offset; the filter narrows by name, the
  // columns sort by number; the chosen member previewed by its kind.
  void membersAreListedFilteredSortedAndPreviewed() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Child<QAction>(&*main, "mnuArchiveMembers")->trigger();
    auto* window = Child<TArchiveWindow>(&*main, "frmArchive");
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* table = Child<QTableView>(window, "tblMembers");
    auto archive = TLGPFile::Create(Dir->File("char.lgp"), true);
    QCOMPARE(table->model()->rowCount(), archive->Count());
    for (int r = 0; r < table->model()->rowCount(); ++r) {
      const std::string name = Bytes(table->model()->index(r, 0).data().toString());
      TLGPEntry entry;
      QVERIFY(archive->GetEntryByName(name, entry));
      QCOMPARE(table->model()->index(r, 2).data().toString(), QString::number(entry.Size));
      QCOMPARE(table->model()->index(r, 3).data().toString(), QString::number(entry.Offset));
    }

    table->sortByColumn(2, Qt::DescendingOrder);
    qlonglong last = LLONG_MAX;
    for (int r = 0; r < table->model()->rowCount(); ++r) {
      const qlonglong size = table->model()->index(r, 2).data().toLongLong();
      QVERIFY(size <= last);
      last = size;
    }
    Child<QLineEdit>(window, "edFilter")->setText("knw");
    QCOMPARE(table->model()->rowCount(), 2); // KNWA.A and KNWV.A
    Child<QLineEdit>(window, "edFilter")->clear();

    auto* stack = Child<QStackedWidget>(window, "stkPreview");
    auto* info = Child<QLabel>(window, "lblPreviewInfo");
    // A texture as its picture, with its size, palettes and colour key.
    const std::string tex = FirstOfKind(*window, "Texture");
    QVERIFY(window->ChooseMember(tex));
    QCOMPARE(stack->currentWidget(), Child<QLabel>(window, "lblPicture"));
    QVERIFY(!Child<QLabel>(window, "lblPicture")->pixmap().isNull());
    const TTexImage image = ReadTexture(*archive, archive->IndexOf(tex));
    QVERIFY2(info->text().contains(QString("%1 \u00D7 %2").arg(image.Width).arg(image.Height)),
             qPrintable(info->text()));
    QVERIFY(info->text().contains("colour key"));
    // A part drawn in the small GL view: something other than its background.
    QVERIFY(window->ChooseMember(FirstOfKind(*window, "Part")));
    auto* part = Child<TPartPreview>(window, "glPart");
    QCOMPARE(stack->currentWidget(), part);
    QVERIFY(info->text().contains("vertices"));
    QApplication::processEvents();
    const QImage drawn = part->grabFramebuffer();
    const QRgb background = drawn.pixel(0, 0);
    int drawnPixels = 0;
    for (int y = 0; y < drawn.height(); ++y)
      for (int x = 0; x < drawn.width(); ++x) drawnPixels += drawn.pixel(x, y) != background;
    QVERIFY2(drawnPixels > 50, qPrintable(QString::number(drawnPixels)));
    // A skeleton as its text; an animation as bone and frame counts.
    QVERIFY(window->ChooseMember("KNIG.HRC"));
    QCOMPARE(stack->currentWidget(), Child<QPlainTextEdit>(window, "txtPreview"));
    std::string text = MemberBytes(Dir->File("char.lgp"), "KNIG.HRC");
    std::erase(text, '\r');
    QCOMPARE(Bytes(Child<QPlainTextEdit>(window, "txtPreview")->toPlainText()), text);
    QVERIFY(window->ChooseMember("KNWA.A"));
    QVERIFY2(info->text().contains(" bones, ") && info->text().contains(" frames"),
             qPrintable(info->text()));
    QVERIFY(Script->Errors.empty());
    main.reset();
  }

  // Files dropped on an empty spot are added in one rebuild; the archive stays sound and
  // the model list is read again. A picture dropped on a texture replaces it, asked first.
  void filesDroppedAreAddedAndAPictureOnATextureReplacesIt() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    main->ShowArchiveWindow();
    auto* window = Child<TArchiveWindow>(&*main, "frmArchive");
    QVERIFY(QTest::qWaitForWindowExposed(window));
    WriteFile(Dir->File("NOTE.TXT"), "a note");
    WriteFile(Dir->File("EXTRA.BIN"), std::string("\0\1\2", 3));
    DropOn(*window,
           {QString::fromStdString(Dir->File("NOTE.TXT")),
            QString::fromStdString(Dir->File("EXTRA.BIN"))},
           BelowRows(*window));
    QVERIFY2(Script->Errors.empty(), Script->Errors.empty() ? "" : Script->Errors[0].c_str());
    QCOMPARE(MemberBytes(Dir->File("char.lgp"), "NOTE.TXT"), std::string("a note"));
    QCOMPARE(MemberBytes(Dir->File("char.lgp"), "EXTRA.BIN"), std::string("\0\1\2", 3));
    QVERIFY(CheckArchive(ArchiveKindForPath(Dir->File("char.lgp"))).empty());
    QVERIFY(window->ChooseMember("NOTE.TXT"));
    // The model on show came back after the model list was read again.
    QVERIFY(main->ChosenModel() >= 0);
    QVERIFY(Child<TfrmViewer>(&*main, "frmViewer")->Session().FieldModel());

    // A name already there is asked about: No leaves it.
    WriteFile(Dir->File("NOTE.TXT"), "another note");
    Script->Answers.push_back(TDialogs::TAnswer::No);
    DropOn(*window, {QString::fromStdString(Dir->File("NOTE.TXT"))}, BelowRows(*window));
    QCOMPARE(MemberBytes(Dir->File("char.lgp"), "NOTE.TXT"), std::string("a note"));

    // A picture on a texture's row: asked, then written as tex-import writes it.
    const std::string tex = FirstOfKind(*window, "Texture");
    std::vector<uint8_t> pixels;
    for (int i = 0; i < 4 * 2; ++i) pixels.insert(pixels.end(), {0, 200, 0, 255});
    WritePNG(Dir->File("green.png"), 4, 2, pixels.data(), 4);
    Script->Answers.push_back(TDialogs::TAnswer::No);
    DropOn(*window, {QString::fromStdString(Dir->File("green.png"))}, OnRow(*window, tex));
    auto before = TLGPFile::Create(Dir->File("char.lgp"), false);
    QVERIFY(ReadTexture(*before, before->IndexOf(tex)).Pixels != pixels);
    const size_t questions = Script->Questions.size();
    Script->Answers.push_back(TDialogs::TAnswer::Yes);
    DropOn(*window, {QString::fromStdString(Dir->File("green.png"))}, OnRow(*window, tex));
    QCOMPARE(Script->Questions.size(), questions + 1);
    auto after = TLGPFile::Create(Dir->File("char.lgp"), false);
    QCOMPARE(ReadTexture(*after, after->IndexOf(tex)).Pixels, pixels);
    QVERIFY(Script->Errors.empty());
    main.reset();
  }

  // Extract writes the member's bytes; a drag hands on files of the members' bytes;
  // Export Picture writes a texture as PNG.
  void membersAreExtractedByTheButtonAndByADrag() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    main->ShowArchiveWindow();
    auto* window = Child<TArchiveWindow>(&*main, "frmArchive");
    const std::string hrc = MemberBytes(Dir->File("char.lgp"), "KNIG.HRC");
    QVERIFY(window->ChooseMember("KNIG.HRC"));
    Script->SaveAnswers.push_back(Dir->File("out.hrc"));
    Child<QAction>(window, "actExtract")->trigger();
    QCOMPARE(ReadFileBytes(Dir->File("out.hrc")), hrc);

    auto* table = Child<QTableView>(window, "tblMembers");
    std::unique_ptr<QMimeData> mime(
        table->model()->mimeData(table->selectionModel()->selectedIndexes()));
    QVERIFY(mime && mime->urls().size() == 1);
    QCOMPARE(mime->urls().front().fileName(), QString("KNIG.HRC"));
    QCOMPARE(ReadFileBytes(FileName(mime->urls().front().toLocalFile())), hrc);

    const std::string tex = FirstOfKind(*window, "Texture");
    QVERIFY(window->ChooseMember(tex));
    Script->SaveAnswers.push_back(Dir->File("tex.png"));
    Child<QAction>(window, "actExportPicture")->trigger();
    auto archive = TLGPFile::Create(Dir->File("char.lgp"), false);
    QCOMPARE(ReadPNGFile(Dir->File("tex.png")).RGBA,
             ReadTexture(*archive, archive->IndexOf(tex)).Pixels);
    QVERIFY(Script->Errors.empty());
    main.reset();
  }

  // Rename (F2) and Remove (Delete, asked first) rebuild the archive; the model list
  // follows: a renamed animation is offered under its new name.
  void renameAndRemoveChangeTheArchiveAndTheModelList() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    main->ShowArchiveWindow();
    auto* window = Child<TArchiveWindow>(&*main, "frmArchive");
    QVERIFY(QTest::qWaitForWindowExposed(window));
    // F2 and Delete are window shortcuts: they reach the window only once it is active,
    // which a loaded display server may take a moment to make it.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    const std::string wave = MemberBytes(Dir->File("char.lgp"), "KNWV.A");
    QVERIFY(window->ChooseMember("KNWV.A"));
    Script->InputAnswers.push_back("KNW2.A");
    QTest::keyClick(Child<QTableView>(window, "tblMembers"), Qt::Key_F2);
    QVERIFY(Script->Errors.empty());
    QCOMPARE(MemberBytes(Dir->File("char.lgp"), "KNW2.A"), wave);
    QCOMPARE(MemberBytes(Dir->File("char.lgp"), "KNWV.A"), std::string("<missing>"));
    QVERIFY(CheckArchive(ArchiveKindForPath(Dir->File("char.lgp"))).empty());
    Show(*main, "KNIG.HRC - KNIG", nullptr);
    QVERIFY(Child<QComboBox>(&*main, "cmbAnims")->findText("KNW2.A") >= 0);

    // A name that breaks the rules is one error, and nothing changes.
    QVERIFY(window->ChooseMember("KNW2.A"));
    Script->InputAnswers.push_back("bad/name");
    Child<QAction>(window, "actRename")->trigger();
    QCOMPARE(Script->Errors.size(), size_t(1));
    QCOMPARE(MemberBytes(Dir->File("char.lgp"), "KNW2.A"), wave);
    Script->Errors.clear();

    // Remove asks; No keeps the member, Yes takes it out.
    QVERIFY(window->ChooseMember("KNW2.A"));
    Script->Answers.push_back(TDialogs::TAnswer::No);
    QTest::keyClick(Child<QTableView>(window, "tblMembers"), Qt::Key_Delete);
    QCOMPARE(MemberBytes(Dir->File("char.lgp"), "KNW2.A"), wave);
    Script->Answers.push_back(TDialogs::TAnswer::Yes);
    QTest::keyClick(Child<QTableView>(window, "tblMembers"), Qt::Key_Delete);
    QCOMPARE(MemberBytes(Dir->File("char.lgp"), "KNW2.A"), std::string("<missing>"));
    QVERIFY(!window->ChooseMember("KNW2.A"));
    QVERIFY(Script->Errors.empty());
    main.reset();
  }

  // Replace appends as replace does; Compact drops the old copy and says what it saved;
  // Check finds the archive sound again.
  void replaceThenCompactAndCheck() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    main->ShowArchiveWindow();
    auto* window = Child<TArchiveWindow>(&*main, "frmArchive");
    const std::string path = Dir->File("char.lgp");
    const int64_t size = int64_t(ReadFileBytes(path).size());
    const std::string hrc = MemberBytes(path, "KNIG.HRC");
    WriteFile(Dir->File("new.hrc"), hrc);
    QVERIFY(window->ChooseMember("KNIG.HRC"));
    Script->FileAnswers.push_back(Dir->File("new.hrc"));
    Child<QAction>(window, "actReplace")->trigger();
    QCOMPARE(int64_t(ReadFileBytes(path).size()), size + 24 + int64_t(hrc.size()));

    Child<QAction>(window, "actCompact")->trigger();
    QVERIFY(Script->Errors.empty());
    QVERIFY(int64_t(ReadFileBytes(path).size()) <= size);
    QVERIFY2(Child<QLabel>(window, "lblStatus")->text().contains("saved"),
             qPrintable(Child<QLabel>(window, "lblStatus")->text()));
    QCOMPARE(MemberBytes(path, "KNIG.HRC"), hrc);
    Child<QAction>(window, "actCheck")->trigger();
    QCOMPARE(Script->Messages.size(), size_t(1));
    QVERIFY(Script->Messages[0].find("no problems") != std::string::npos);
    main.reset();
  }

  // Unsaved pose edits are asked about before a change: Cancel changes nothing.
  void unsavedEditsAreAskedAboutFirst() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    main->ShowArchiveWindow();
    auto* window = Child<TArchiveWindow>(&*main, "frmArchive");
    main->Document().SetRotation(1, 0, {10, 20, 30}, false);
    QVERIFY(main->Document().Modified());
    QVERIFY(window->ChooseMember("KNWV.A"));
    Script->InputAnswers.push_back("KNW2.A");
    Script->Answers.push_back(TDialogs::TAnswer::Cancel);
    Child<QAction>(window, "actRename")->trigger();
    QCOMPARE(Script->Questions.back(), std::string("Model animations have changed! Update LGP?"));
    QVERIFY(MemberBytes(Dir->File("char.lgp"), "KNWV.A") != "<missing>");
    QVERIFY(main->Document().Modified());
    main.reset();
  }

  // A folder archive: a drop adds a file, Rename renames it; Compact and Check are off.
  void aFolderArchiveAddsAndRenamesFiles() {
    const std::string folder = Dir->File("loose/");
    MakeFolders(folder);
    {
      auto archive = TLGPFile::Create(Dir->File("char.lgp"), false);
      for (int32_t i = 0; i < archive->Count(); ++i)
        WriteFile(folder + archive->EntryAt(i).Name,
                  std::string(archive->ReadMemberToMemory(i)->View()));
    }
    auto main = Start();
    main->OpenArchive(folder);
    main->ShowArchiveWindow();
    auto* window = Child<TArchiveWindow>(&*main, "frmArchive");
    QVERIFY(!Child<QAction>(window, "actCompact")->isEnabled());
    WriteFile(Dir->File("NOTE.TXT"), "a note");
    DropOn(*window, {QString::fromStdString(Dir->File("NOTE.TXT"))}, BelowRows(*window));
    QCOMPARE(ReadFileBytes(folder + "NOTE.TXT"), std::string("a note"));
    QVERIFY(window->ChooseMember("NOTE.TXT"));
    Script->InputAnswers.push_back("NOTE2.TXT");
    Child<QAction>(window, "actRename")->trigger();
    QVERIFY(!FileExists(folder + "NOTE.TXT"));
    QCOMPARE(ReadFileBytes(folder + "NOTE2.TXT"), std::string("a note"));
    QVERIFY(Script->Errors.empty());
    main.reset();
  }
};

QTEST_MAIN(ArchiveWindowTest)
#include "ArchiveWindowTest.moc"
