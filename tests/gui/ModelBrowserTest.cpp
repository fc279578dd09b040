// View > Model Browser as a user meets it: thumbnails of the open archive, the search box
// narrowing them with the model list, choosing in either, a double-click, and the
// thumbnail cache on the next start. On Xvfb with real GL.
#include "app/MainWindow.h"
#include "fixtures/LGPWriter.h"
#include "platform/Files.h"
#include "render/Thumbnails.h"
#include "tests/gui/WindowTestSupport.h"

#include <QListView>
#include <QTest>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

class ModelBrowserTest : public QObject, protected testing::TWindowTestBase {
  Q_OBJECT

  static TModelBrowser* Browser(TMainWindow& main) {
    return Child<TModelBrowser>(&main, "dckModelBrowser");
  }
  static QListView* Grid(TMainWindow& main) { return Child<QListView>(&main, "lvModels"); }
  // The labels of the grid's items, in order.
  static QStringList Labels(TMainWindow& main) {
    QStringList labels;
    QAbstractItemModel* model = Grid(main)->model();
    for (int row = 0; row < model->rowCount(); ++row)
      labels << model->index(row, 0).data().toString().section('\n', 0, 0);
    return labels;
  }
  // The browser opened with Ctrl+B (unless it was left open), every thumbnail of the
  // archive made.
  static void OpenBrowser(TMainWindow& main, int32_t models) {
    if (!Browser(main)->isVisible()) {
      main.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&main));
      QTest::keyClick(&main, Qt::Key_B, Qt::ControlModifier);
    }
    QVERIFY(Browser(main)->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(Browser(main)->ThumbnailsDone(), models, 20000);
  }
  // The icon of the grid's row as a picture.
  static QImage Icon(TMainWindow& main, int row) {
    const QIcon icon = Grid(main)->model()->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
    return icon.pixmap(DefaultThumbnailSize, DefaultThumbnailSize).toImage();
  }
  static int Opaque(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y).alpha() == 255;
    return count;
  }

  // The pixels of the grid's row, as the grid draws it, whose colour is warm (red well
  // above blue): the hound's browns, which a tint of the highlight's blue takes away.
  static int WarmPixelsShown(TMainWindow& main, int row) {
    QListView* grid = Grid(main);
    const QModelIndex index = grid->model()->index(row, 0);
    grid->scrollTo(index);
    const QImage shown = grid->viewport()->grab(grid->visualRect(index)).toImage();
    int count = 0;
    for (int y = 0; y < shown.height(); ++y)
      for (int x = 0; x < shown.width(); ++x) {
        const QColor colour = shown.pixelColor(x, y);
        count += colour.red() > colour.blue() + 40;
      }
    return count;
  }

private slots:
  void init() { BeginTest(); }
  void cleanup() { EndTest(); }

  // The grid follows the search box and the model list, and they follow it.
  void FilterChooseAndDoubleClick() {
    // The filter file offers the knight his wave alone.
    WriteFile(Dir->File("palkor.filter"),
              "KNIGAnims=KNWV,\r\nKNIGNames=Knight,\r\nHOUNAnims=HOWA,\r\nHOUNNames=Hound,\r\n");
    auto main = Start();
    main->OpenLGP(Dir->File("char.lgp"));
    OpenBrowser(*main, 2);
    QCOMPARE(Labels(*main), (QStringList{"KNIG.HRC", "HOUN.HRC"}));
    QVERIFY(Opaque(Icon(*main, 0)) > 1000); // the knight drawn, not the waiting square
    QVERIFY(Opaque(Icon(*main, 1)) > 1000);

    auto* find = Child<QLineEdit>(main.get(), "edFindModel");
    auto* models = Child<QComboBox>(main.get(), "cmbModels");
    QTest::keyClicks(find, "hound"); // a display name the filter file gives
    QCOMPARE(Labels(*main), QStringList{"HOUN.HRC"});
    QVERIFY(Opaque(Icon(*main, 0)) > 1000); // kept, not made again
    find->clear();
    QCOMPARE(Labels(*main).size(), 2);

    // Chosen in the grid: chosen in the list, its animations listed.
    Grid(*main)->setCurrentIndex(Grid(*main)->model()->index(1, 0));
    QCOMPARE(models->currentText(), QString("HOUN.HRC - HOUN"));
    QVERIFY(Child<QComboBox>(main.get(), "cmbAnims")->count() > 0);
    // Chosen in the list: chosen in the grid.
    models->setCurrentIndex(models->findText("KNIG.HRC - KNIG"));
    QCOMPARE(Grid(*main)->currentIndex().row(), 0);
    QCOMPARE(Browser(*main)->Chosen(), 0);

    // A double-click shows the model, at its first animation.
    const QRect knight = Grid(*main)->visualRect(Grid(*main)->model()->index(0, 0));
    QTest::mouseClick(Grid(*main)->viewport(), Qt::LeftButton, {}, knight.center());
    QTest::mouseDClick(Grid(*main)->viewport(), Qt::LeftButton, {}, knight.center());
    const TViewerSession& session = Child<TfrmViewer>(main.get(), "frmViewer")->Session();
    QVERIFY(session.FieldModel());
    QCOMPARE(session.Model().Member, std::string("KNIG.HRC"));
    QCOMPARE(session.FieldModel()->AnimName, std::string("KNWA.A"));

    // Filter anims on: each model is posed by the first animation the filter offers it,
    // and drawn again where that is another one: the knight alone.
    int32_t changed = 0;
    for (int32_t k = 0; k < 2; ++k)
      changed += main->Catalogue.AnimationsFor(k, true).front() !=
                 main->Catalogue.AnimationsFor(k, false).front();
    QCOMPARE(changed, 1);
    const int32_t drawn = Browser(*main)->ThumbnailsDrawn();
    Child<QCheckBox>(main.get(), "chkFilter")->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(Browser(*main)->ThumbnailsDone(), 2, 20000);
    QCOMPARE(Browser(*main)->ThumbnailsDrawn(), drawn + changed);
  }

  // The chosen model's thumbnail is shown in its own colours: the choice is not drawn
  // as a tint over the picture.
  void ChosenThumbnailKeepsItsColours() {
    auto main = Start();
    main->OpenLGP(Dir->File("char.lgp"));
    OpenBrowser(*main, 2);
    QCOMPARE(Labels(*main), (QStringList{"KNIG.HRC", "HOUN.HRC"}));
    Grid(*main)->setCurrentIndex(Grid(*main)->model()->index(0, 0));
    const int unchosen = WarmPixelsShown(*main, 1);
    QVERIFY2(unchosen > 2000, qPrintable(QString::number(unchosen)));
    Grid(*main)->setCurrentIndex(Grid(*main)->model()->index(1, 0));
    const int chosen = WarmPixelsShown(*main, 1);
    QVERIFY2(chosen >= unchosen * 9 / 10,
             qPrintable(QString("%1 warm pixels chosen, %2 not").arg(chosen).arg(unchosen)));
  }

  // A second start finds every thumbnail in the cache; a replaced member makes its model
  // drawn again, and only it.
  void CacheOnTheNextStart() {
    {
      auto main = Start();
      main->OpenLGP(Dir->File("char.lgp"));
      OpenBrowser(*main, 2);
      QCOMPARE(Browser(*main)->ThumbnailsDrawn(), 2);
    }
    {
      // The catalogue comes back from its cache, the browser open: the thumbnails on
      // screen are in the window as it is shown, before the drawing thread has run.
      auto main = std::make_unique<TMainWindow>(Paths());
      main->show();
      QCOMPARE(Browser(*main)->ThumbnailsDone(), 2);
      QVERIFY(QTest::qWaitForWindowExposed(main.get()));
      QVERIFY(Browser(*main)->isVisible());
      OpenBrowser(*main, 2);
      QCOMPARE(Browser(*main)->ThumbnailsDrawn(), 0);
      QVERIFY(Opaque(Icon(*main, 0)) > 1000);
    }
    // The hound's walk replaced by its own bytes: moved to the end of the archive.
    auto archive = TLGPFile::Create(Dir->File("char.lgp"), false);
    const int32_t walk = archive->IndexOf("HOWA.A");
    auto bytes = archive->ReadMemberToMemory(walk);
    bytes->SetPosition(0);
    archive->WriteMember(walk, *bytes);
    {
      auto main = Start(); // the archive has grown: the catalogue's cache is passed over
      main->OpenLGP(Dir->File("char.lgp"));
      OpenBrowser(*main, 2);
      QCOMPARE(Browser(*main)->ThumbnailsDrawn(), 1);
    }
  }
};

} // namespace

QTEST_MAIN(ModelBrowserTest)
#include "ModelBrowserTest.moc"
