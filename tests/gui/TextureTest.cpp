// Replace Texture and Export Texture in the viewer's bone list: the picture shows the new
// texture at once (read back from real GL), Undo takes it back, Save changes writes it.
#include "app/MainWindow.h"
#include "app/PosePanel.h"
#include "app/TextureFiles.h"
#include "archive/LGPFile.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/PNGReader.h"
#include "platform/images.h"
#include "render/QtText.h"
#include "tests/gui/WindowTestSupport.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <QTimer>

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

  // Picking follows the picture: where a part is found, the model is drawn. A
  // double-click on a textured part, Editable on, chooses its bone and offers its
  // textures; Export Texture from that menu writes the texture.
  void aDoubleClickOnAPartOffersItsTextures() {
    auto main = Start();
    main->OpenArchive(Dir->File("char.lgp"));
    Show(*main, "KNIG.HRC - KNIG", "KNWA.A");
    auto* viewer = Child<TfrmViewer>(&*main, "frmViewer");
    Child<QAction>(&*main, "aEditable")->setChecked(true);
    Child<QAction>(&*main, "aBones")->setChecked(false);
    auto* panel = Child<TPosePanel>(viewer, "pRotate");
    QApplication::processEvents();
    const QImage picture = viewer->grabFramebuffer().scaled(viewer->size());
    const QRgb background = picture.pixel(1, 1);
    QPoint at;
    int32_t bone = -1;
    std::vector<std::string> textures;
    int found = 0, missed = 0;
    for (int y = 2; y < viewer->height() - 2; y += 5)
      for (int x = 2; x < viewer->width() - 2; x += 5) {
        const TPickedPart picked = viewer->PartAt({x, y});
        // Away from the model's edges the two agree.
        bool edge = false;
        for (int dy = -2; dy <= 2; ++dy)
          for (int dx = -2; dx <= 2; ++dx)
            edge |= (picture.pixel(x + dx, y + dy) == background) !=
                    (picture.pixel(x, y) == background);
        if (edge) continue;
        found += picked.Found;
        missed += picked.Found != (picture.pixel(x, y) != background);
        if (picked.Found && bone < 0 && !panel->TexturesOfPart(picked.Bone, picked.Part).empty()) {
          at = {x, y};
          bone = picked.Bone;
          textures = panel->TexturesOfPart(picked.Bone, picked.Part);
        }
      }
    QVERIFY(found > 50);
    QVERIFY2(missed <= found / 50, qPrintable(QString("%1 of %2").arg(missed).arg(found)));
    QVERIFY(bone >= 0);

    QStringList offered;
    QTimer::singleShot(0, viewer, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) return;
      for (QAction* action : menu->actions()) offered.push_back(action->text());
      Script->SaveAnswers.push_back(Dir->File("picked.png"));
      menu->actions()[1]->trigger();
      menu->close();
    });
    QTest::mouseDClick(viewer, Qt::LeftButton, Qt::NoModifier, at);
    QCOMPARE(offered.size(), qsizetype(2 * textures.size()));
    QCOMPARE(offered[0], Text("Replace Texture " + textures[0] + "..."));
    QCOMPARE(offered[1], Text("Export Texture " + textures[0] + "..."));
    QCOMPARE(viewer->Session().Options.SelectedBone, bone);
    auto archive = TLGPFile::Create(Dir->File("char.lgp"), false);
    QCOMPARE(ReadPNGFile(Dir->File("picked.png")).RGBA,
             ReadTexture(*archive, archive->IndexOf(textures[0])).Pixels);
    QVERIFY(Script->Errors.empty());
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
