// Replace Texture and Export Texture in the viewer's bone list: the picture shows the new
// texture at once (read back from real GL), Undo takes it back, Save changes writes it.
#include "app/MainWindow.h"
#include "app/PosePanel.h"
#include "app/TextureFiles.h"
#include "archive/LGPFile.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/PNGReader.h"
#include "platform/images.h"
#include "tests/gui/WindowTestSupport.h"

#include <QAction>
#include <QTest>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

// Pixels of the picture near pure magenta, a colour the demo models do not have.
int MagentaPixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      count += c.red() > 200 && c.green() < 50 && c.blue() > 200;
    }
  return count;
}

} // namespace

class TextureTest : public QObject, protected testing::TWindowTestBase {
  Q_OBJECT

private slots:
  void init() { BeginTest(); }
  void cleanup() { EndTest(); }

  void aReplacedTextureShowsAtOnceUndoesAndIsSavedWithTheAnimation() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    auto* viewer = Child<TfrmViewer>(&*main, "frmViewer");
    Child<QAction>(&*main, "aEditable")->setChecked(true);
    auto* panel = Child<TPosePanel>(viewer, "pRotate");
    auto picture = [&] {
      QApplication::processEvents();
      return viewer->grabFramebuffer();
    };
    QCOMPARE(MagentaPixels(picture()), 0);

    // Every texture of the knight becomes a magenta picture.
    const std::string png = Dir->File("magenta.png");
    std::vector<uint8_t> pixels;
    for (int i = 0; i < 8 * 8; ++i) pixels.insert(pixels.end(), {255, 0, 255, 255});
    WritePNG(png, 8, 8, pixels.data(), 4);
    std::vector<std::string> members;
    for (int row = 0; row < viewer->Session().FieldModel()->BoneCount(); ++row)
      for (const std::string& member : panel->TexturesOfBone(row)) members.push_back(member);
    QVERIFY(!members.empty());
    for (const std::string& member : members) {
      Script->FileAnswers.push_back(png);
      panel->ReplaceTexture(member);
    }
    QVERIFY(Script->Errors.empty());
    QVERIFY(MagentaPixels(picture()) > 100);
    QVERIFY(main->isWindowModified());

    // Exported as shown.
    Script->SaveAnswers.push_back(Dir->File("out.png"));
    panel->ExportTexture(members[0]);
    QCOMPARE(ReadPNGFile(Dir->File("out.png")).RGBA, pixels);

    // Undone one by one, the knight is as it was; done again, magenta.
    for (size_t i = 0; i < members.size(); ++i) Child<QAction>(&*main, "mnuUndo")->trigger();
    QCOMPARE(MagentaPixels(picture()), 0);
    QVERIFY(!main->isWindowModified());
    for (size_t i = 0; i < members.size(); ++i) Child<QAction>(&*main, "mnuRedo")->trigger();
    QVERIFY(MagentaPixels(picture()) > 100);

    // Save changes writes every texture without a question, and the knight stays on show.
    const size_t questions = Script->Questions.size();
    Child<QAction>(&*main, "mnuSaveChanges")->trigger();
    QCOMPARE(Script->Questions.size(), questions);
    QVERIFY(Script->Errors.empty());
    QVERIFY(!main->isWindowModified());
    QVERIFY(MagentaPixels(picture()) > 100);
    auto archive = TLGPFile::Create(Dir->File("char.lgp"), false);
    for (const std::string& member : members)
      QCOMPARE(ReadTexture(*archive, archive->IndexOf(member)).Pixels, pixels);
    main.reset();
  }

  // A file that is not a picture is one error box, and nothing changes.
  void aFileThatIsNotAPictureChangesNothing() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    auto* viewer = Child<TfrmViewer>(&*main, "frmViewer");
    auto* panel = Child<TPosePanel>(viewer, "pRotate");
    std::string member;
    for (int row = 0; row < viewer->Session().FieldModel()->BoneCount() && member.empty(); ++row)
      for (const std::string& name : panel->TexturesOfBone(row)) member = name;
    WriteFile(Dir->File("text.png"), "not a picture");
    Script->FileAnswers.push_back(Dir->File("text.png"));
    bool failed = false;
    try {
      panel->ReplaceTexture(member);
    } catch (const Exception&) {
      failed = true;
    }
    QVERIFY(failed);
    QVERIFY(!main->isWindowModified());
    main.reset();
  }
};

QTEST_MAIN(TextureTest)
#include "TextureTest.moc"
