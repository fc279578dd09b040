// The model viewer driven with the mouse and the keys, its readouts, and what it shows
// once a model goes, on Xvfb with real GL.
#include "app/MainWindow.h"
#include "archive/FolderArchive.h"
#include "fixtures/Demo.h"
#include "fixtures/LGPWriter.h"
#include "platform/Files.h"
#include "render/offscreen.h"
#include "render/scene.h"
#include "tests/gui/WindowTestSupport.h"

#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <cstring>
#include <thread>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

bool IsBackground(QColor c) {
  return std::abs(c.red()) <= 2 && std::abs(c.green() - 128) <= 2 && std::abs(c.blue() - 51) <= 2;
}

// The pixels of a picture that are not the default background: how many, their box and
// their centre, and whether any lies on the picture's edge.
struct TDrawn {
  int Count = 0;
  QRect Box;
  QPointF Centre;
  bool OnEdge = false;
  double Share(const QImage& image) const {
    return double(Count) / (double(image.width()) * image.height());
  }
};

TDrawn DrawnPixels(const QImage& image) {
  TDrawn drawn;
  int left = image.width(), top = image.height(), right = -1, bottom = -1;
  double sumX = 0, sumY = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      if (IsBackground(image.pixelColor(x, y))) continue;
      ++drawn.Count;
      sumX += x;
      sumY += y;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
      drawn.OnEdge =
          drawn.OnEdge || x == 0 || y == 0 || x == image.width() - 1 || y == image.height() - 1;
    }
  if (drawn.Count > 0) {
    drawn.Box = QRect(QPoint(left, top), QPoint(right, bottom));
    drawn.Centre = QPointF(sumX / drawn.Count, sumY / drawn.Count);
  }
  return drawn;
}

// Counts the paints the viewer's picture gets.
class TPaintCounter : public QObject {
public:
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

} // namespace

class ViewerTest : public QObject, protected testing::TWindowTestBase {
  Q_OBJECT

  std::unique_ptr<TMainWindow> Main;
  TfrmViewer* Viewer = nullptr;

  // The main window started on a demo archive with a model (and an animation) chosen.
  TfrmViewer& ShowModel(const char* archive, const char* model, const char* anim) {
    if (!Main) Main = Start();
    Main->OpenArchive(Dir->File(archive));
    Show(*Main, model, anim);
    Viewer = Child<TfrmViewer>(&*Main, "frmViewer");
    return *Viewer;
  }
  TfrmViewer& ShowKnight() { return ShowModel("char.lgp", "KNIG.HRC - KNIG", "KNWA.A"); }
  TfrmViewer& ShowGolem() { return ShowModel("battle.lgp", "[Battle] RTAA", nullptr); }

  QImage Picture() {
    QApplication::processEvents();
    return Viewer->grabFramebuffer();
  }
  QPoint Middle() const { return Viewer->rect().center() + QPoint(0, 40); }

  // A drag with button from `from` by (dx, dy), in a few moves, sent to widget.
  static void Drag(QWidget* widget, Qt::MouseButton button, QPoint from, int dx, int dy) {
    QTest::mousePress(widget, button, Qt::NoModifier, from);
    const int moves = 3;
    for (int k = 1; k <= moves; ++k) {
      const QPoint at = from + QPoint(dx * k / moves, dy * k / moves);
      QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, button,
                       Qt::NoModifier);
      QApplication::sendEvent(widget, &move);
    }
    QTest::mouseRelease(widget, button, Qt::NoModifier, from + QPoint(dx, dy));
  }
  void Wheel(int delta) {
    const QPoint at = Middle();
    QWheelEvent wheel(at, Viewer->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Viewer, &wheel);
  }

  // Nothing of a model shows: no bones listed, no range, no frames, pose controls at 0
  // and disabled, an empty picture.
  void VerifyNoModelShown() {
    QVERIFY(Viewer->Session().Model() == TModelRef());
    QCOMPARE(Child<QListWidget>(Viewer, "lstParts")->count(), 0);
    QCOMPARE(Child<QSlider>(Viewer, "trkFrame")->maximum(), 0);
    QCOMPARE(Child<QSlider>(Viewer, "trkFrame")->value(), 0);
    QCOMPARE(Child<QSlider>(Viewer, "trkStart")->maximum(), 0);
    QCOMPARE(Child<QSlider>(Viewer, "trkEnd")->maximum(), 0);
    QCOMPARE(Child<QLabel>(Viewer, "lblFrame")->text(), QString("Frame 0 / 0"));
    for (QSlider* slider : {Child<QSlider>(Viewer, "trkRX"), Child<QSlider>(Viewer, "trkRY"),
                            Child<QSlider>(Viewer, "trkRZ")}) {
      QCOMPARE(slider->value(), 0);
      QVERIFY(!slider->isEnabled());
    }
    for (QLabel* readout : {Child<QLabel>(Viewer, "lblRX"), Child<QLabel>(Viewer, "lblRY"),
                            Child<QLabel>(Viewer, "lblRZ")})
      QCOMPARE(readout->text(), QString("0\u00B0"));
    QVERIFY(!Child<QPushButton>(Viewer, "btnCopy")->isEnabled());
    QVERIFY(Child<QLabel>(Viewer, "lblPoseNote")->isHidden());
    QCOMPARE(DrawnPixels(Picture()).Count, 0);
  }

private slots:
  void init() { BeginTest(); }
  void cleanup() {
    Main.reset();
    Viewer = nullptr;
    EndTest();
  }

  void aLeftDragTurnsTheModel_data() {
    QTest::addColumn<int>("startX");
    QTest::addColumn<int>("startY");
    QTest::addColumn<int>("dx");
    QTest::addColumn<int>("dy");
    QTest::addColumn<int>("endX");
    QTest::addColumn<int>("endY");
    QTest::newRow("across turns about Y") << 0 << 0 << 30 << 0 << 0 << 30;
    QTest::newRow("down turns about X") << 0 << 0 << 0 << 21 << 21 << 0;
    QTest::newRow("left past 0 wraps round") << 0 << 10 << -40 << 0 << 0 << 330;
    QTest::newRow("down past 360 wraps round") << 350 << 0 << 0 << 25 << 15 << 0;
    QTest::newRow("up and right at once") << 5 << 5 << 9 << -12 << 353 << 14;
  }
  void aLeftDragTurnsTheModel() {
    QFETCH(int, startX);
    QFETCH(int, startY);
    QFETCH(int, dx);
    QFETCH(int, dy);
    QFETCH(int, endX);
    QFETCH(int, endY);
    TfrmViewer& viewer = ShowKnight();
    Child<QSlider>(&viewer, "TrkX")->setValue(startX);
    Child<QSlider>(&viewer, "TrkY")->setValue(startY);
    const QImage before = Picture();
    Drag(&viewer, Qt::LeftButton, Middle(), dx, dy);
    QCOMPARE(Child<QSlider>(&viewer, "TrkX")->value(), endX);
    QCOMPARE(Child<QSlider>(&viewer, "TrkY")->value(), endY);
    QCOMPARE(Child<QSlider>(&viewer, "TrkZ")->value(), 0);
    QCOMPARE(viewer.SceneState().PanX, 0.0f);
    QVERIFY(Picture() != before);
  }

  // Drags and wheel turns that start on the trackbar panels are not the picture's.
  void thePanelsKeepTheirMouseToThemselves() {
    TfrmViewer& viewer = ShowKnight();
    Child<QAction>(&*Main, "aEditable")->setChecked(true);
    const QImage before = Picture();
    for (QWidget* panel :
         {Child<QWidget>(&viewer, "pControls"), Child<QWidget>(&viewer, "pRotate")}) {
      Drag(panel, Qt::LeftButton, QPoint(1, 1), 40, 30);
      Drag(panel, Qt::RightButton, QPoint(1, 1), 40, 30);
      QWheelEvent wheel(QPointF(1, 1), panel->mapToGlobal(QPointF(1, 1)), QPoint(), QPoint(0, 360),
                        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(panel, &wheel);
    }
    QCOMPARE(Child<QSlider>(&viewer, "TrkX")->value(), 0);
    QCOMPARE(Child<QSlider>(&viewer, "TrkY")->value(), 0);
    QCOMPARE(Child<QSlider>(&viewer, "trkZoom")->value(), 30);
    QCOMPARE(Picture(), before);
  }

  void theWheelZooms_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("turns");
    QTest::addColumn<int>("end");
    QTest::newRow("a step away brings the eye nearer") << 30 << QList<int>{120} << 28;
    QTest::newRow("three steps back take it away") << 30 << QList<int>{-120, -120, -120} << 36;
    QTest::newRow("half steps add up") << 30 << QList<int>{60, 30, 30} << 28;
    QTest::newRow("half a step does nothing yet") << 30 << QList<int>{60} << 30;
    QTest::newRow("no nearer than the trackbar goes") << 3 << QList<int>{120, 120, 120} << 0;
    QTest::newRow("no farther either") << 99 << QList<int>{-240} << 100;
  }
  void theWheelZooms() {
    QFETCH(int, start);
    QFETCH(QList<int>, turns);
    QFETCH(int, end);
    TfrmViewer& viewer = ShowKnight();
    Child<QSlider>(&viewer, "trkZoom")->setValue(start);
    for (int delta : turns) Wheel(delta);
    QCOMPARE(Child<QSlider>(&viewer, "trkZoom")->value(), end);
  }

  void zoomingInMakesTheModelBigger() {
    TfrmViewer& viewer = ShowKnight();
    const QImage far = Picture();
    for (int k = 0; k < 5; ++k) Wheel(120);
    QCOMPARE(Child<QSlider>(&viewer, "trkZoom")->value(), 20);
    const QImage near = Picture();
    QVERIFY2(
        DrawnPixels(near).Count > 1.5 * DrawnPixels(far).Count,
        qPrintable(QString("%1 vs %2").arg(DrawnPixels(near).Count).arg(DrawnPixels(far).Count)));
  }

  // The model's pixels follow the mouse (the knight stands about the target's distance).
  void aRightOrMiddleDragPans_data() {
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<int>("dx");
    QTest::addColumn<int>("dy");
    QTest::newRow("right button, to the right") << Qt::RightButton << 60 << 0;
    QTest::newRow("middle button, down") << Qt::MiddleButton << 0 << 40;
    QTest::newRow("right button, up and left") << Qt::RightButton << -30 << -25;
  }
  void aRightOrMiddleDragPans() {
    QFETCH(Qt::MouseButton, button);
    QFETCH(int, dx);
    QFETCH(int, dy);
    TfrmViewer& viewer = ShowKnight();
    const TDrawn before = DrawnPixels(Picture());
    Drag(&viewer, button, Middle(), dx, dy);
    const TDrawn after = DrawnPixels(Picture());
    QCOMPARE(Child<QSlider>(&viewer, "TrkX")->value(), 0);
    QCOMPARE(Child<QSlider>(&viewer, "TrkY")->value(), 0);
    QCOMPARE(Child<QSlider>(&viewer, "trkZoom")->value(), 30);
    const QPointF moved = after.Centre - before.Centre;
    QVERIFY2(std::abs(moved.x() - dx) <= 2 + 0.1 * std::abs(dx) &&
                 std::abs(moved.y() - dy) <= 2 + 0.1 * std::abs(dy),
             qPrintable(QString("moved by %1, %2").arg(moved.x()).arg(moved.y())));
    // Seen a little from the side, but whole.
    QVERIFY2(std::abs(after.Count - before.Count) <= 0.15 * before.Count,
             qPrintable(QString("%1 pixels, %2 before").arg(after.Count).arg(before.Count)));
  }

  // Far away, turned and panned off to the side, the model fills the picture after a
  // double-click, whole and in the middle of what the panels leave free.
  void aDoubleClickFramesTheWholeModel_data() {
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("anim");
    QTest::addColumn<int>("turnY");
    QTest::addColumn<int>("panX");
    QTest::addColumn<bool>("editable");
    QTest::newRow("the knight from far") << "char.lgp"
                                         << "KNIG.HRC - KNIG"
                                         << "KNWA.A" << 0 << 0 << false;
    QTest::newRow("the knight turned, off to the side") << "char.lgp"
                                                        << "KNIG.HRC - KNIG"
                                                        << "KNWV.A" << 60 << 150 << false;
    QTest::newRow("the knight between the editing panels") << "char.lgp"
                                                           << "KNIG.HRC - KNIG"
                                                           << "KNWV.A" << 200 << -100 << true;
    QTest::newRow("the golem") << "battle.lgp"
                               << "[Battle] RTAA"
                               << "" << 0 << 0 << false;
    QTest::newRow("the golem turned, off to the side") << "battle.lgp"
                                                       << "[Battle] RTAA"
                                                       << "" << 300 << -200 << false;
    QTest::newRow("the golem with the editing panels") << "battle.lgp"
                                                       << "[Battle] RTAA"
                                                       << "" << 90 << 0 << true;
  }
  void aDoubleClickFramesTheWholeModel() {
    QFETCH(QString, archive);
    QFETCH(QString, model);
    QFETCH(QString, anim);
    QFETCH(int, turnY);
    QFETCH(int, panX);
    QFETCH(bool, editable);
    TfrmViewer& viewer = ShowModel(qPrintable(archive), qPrintable(model),
                                   anim.isEmpty() ? nullptr : qPrintable(anim));
    Main->resize(800, 640);
    Child<QAction>(&*Main, "aEditable")->setChecked(editable);
    Child<QSlider>(&viewer, "trkZoom")->setValue(100);
    Child<QSlider>(&viewer, "TrkY")->setValue(turnY);
    viewer.PanBy(panX, 0);
    const QImage before = Picture();
    QTest::mouseDClick(&viewer, Qt::LeftButton, Qt::NoModifier, Middle());
    QVERIFY(Child<QSlider>(&viewer, "trkZoom")->value() < 100);
    QCOMPARE(Child<QSlider>(&viewer, "TrkY")->value(), turnY);
    const QImage after = Picture();
    QCOMPARE(after.size(), viewer.size());
    const TDrawn drawn = DrawnPixels(after);
    QVERIFY2(drawn.Share(after) > 2 * DrawnPixels(before).Share(before),
             qPrintable(QString("%1 of the picture").arg(drawn.Share(after))));
    // Below the trackbars, and between the bone list and the pose panel when they show.
    QRect free(QPoint(0, Child<QWidget>(&viewer, "pControls")->geometry().bottom() + 1),
               QPoint(viewer.width() - 1, viewer.height() - 1));
    if (editable) {
      free.setLeft(Child<QListWidget>(&viewer, "lstParts")->geometry().right() + 1);
      free.setRight(Child<QWidget>(&viewer, "pRotate")->geometry().left() - 1);
    }
    const QString where = QString("drawn %1,%2 to %3,%4 in %5,%6 to %7,%8")
                              .arg(drawn.Box.left())
                              .arg(drawn.Box.top())
                              .arg(drawn.Box.right())
                              .arg(drawn.Box.bottom())
                              .arg(free.left())
                              .arg(free.top())
                              .arg(free.right())
                              .arg(free.bottom());
    QVERIFY2(free.adjusted(1, 1, -1, -1).contains(drawn.Box), qPrintable(where));
    QVERIFY2(drawn.Box.height() > 0.75 * free.height() || drawn.Box.width() > 0.75 * free.width(),
             qPrintable(where));
    QVERIFY2(std::abs(drawn.Box.center().x() - free.center().x()) < 0.1 * free.width() &&
                 std::abs(drawn.Box.center().y() - free.center().y()) < 0.1 * free.height(),
             qPrintable(where));
  }

  void aDoubleClickWithoutAModelChangesNothing() {
    Main = Start();
    Viewer = Child<TfrmViewer>(&*Main, "frmViewer");
    Viewer->PanBy(20, 10);
    const TSceneState state = Viewer->SceneState();
    QTest::mouseDClick(Viewer, Qt::LeftButton, Qt::NoModifier, Middle());
    QCOMPARE(Viewer->SceneState().PanX, state.PanX);
    QCOMPARE(Viewer->SceneState().PanY, state.PanY);
    QCOMPARE(Child<QSlider>(Viewer, "trkZoom")->value(), 30);
    QVERIFY(Script->Errors.empty());
  }

  // Frames stepped with the keys stop at the ends; a battle model's slider reaches one
  // past its last frame, which the keys do not go to.
  void theKeysStepThroughTheFrames_data() {
    QTest::addColumn<bool>("battle");
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("readout");
    const int left = Qt::Key_Left, right = Qt::Key_Right, home = Qt::Key_Home;
    QTest::newRow("Right steps on")
        << false << 0 << QList<int>{right, right, right} << 3 << "Frame 4 / 24";
    QTest::newRow("Left steps back")
        << false << 10 << QList<int>{left, left} << 8 << "Frame 9 / 24";
    QTest::newRow("Left stops at frame 0")
        << false << 1 << QList<int>{left, left} << 0 << "Frame 1 / 24";
    QTest::newRow("Right stops at the last frame")
        << false << 22 << QList<int>{right, right} << 23 << "Frame 24 / 24";
    QTest::newRow("Home goes to frame 0") << false << 17 << QList<int>{home} << 0 << "Frame 1 / 24";
    QTest::newRow("the golem stops at its last frame")
        << true << 14 << QList<int>{right, right, right} << 15 << "Frame 16 / 16";
    QTest::newRow("the golem's end of the slider is its frame 0")
        << true << 16 << QList<int>{right} << 1 << "Frame 2 / 16";
  }
  void theKeysStepThroughTheFrames() {
    QFETCH(bool, battle);
    QFETCH(int, start);
    QFETCH(QList<int>, keys);
    QFETCH(int, end);
    QFETCH(QString, readout);
    TfrmViewer& viewer = battle ? ShowGolem() : ShowKnight();
    Child<QSlider>(&viewer, "trkFrame")->setValue(start);
    QTest::mouseClick(&viewer, Qt::LeftButton, Qt::NoModifier, Middle());
    QCOMPARE(Main->focusWidget(), &viewer);
    const QImage before = Picture();
    for (int key : keys) QTest::keyClick(&viewer, Qt::Key(key));
    QCOMPARE(Child<QSlider>(&viewer, "trkFrame")->value(), end);
    QCOMPARE(battle ? viewer.Session().Frame() : viewer.Session().FieldModel()->CurrentFrame, end);
    QCOMPARE(Child<QLabel>(&viewer, "lblFrame")->text(), readout);
    if (end != start % (battle ? 16 : 24)) QVERIFY(Picture() != before);
    QVERIFY(!Child<QAction>(&*Main, "aAnimation")->isChecked());
  }

  void spacePlaysAndPausesAndAStepPauses() {
    TfrmViewer& viewer = ShowKnight();
    QTest::mouseClick(&viewer, Qt::LeftButton, Qt::NoModifier, Middle());
    QTest::keyClick(&viewer, Qt::Key_Space);
    QVERIFY(Child<QAction>(&*Main, "aAnimation")->isChecked());
    QTest::keyClick(&viewer, Qt::Key_Space);
    QVERIFY(!Child<QAction>(&*Main, "aAnimation")->isChecked());
    // Playing goes on from the frame on show: its clock shows it now.
    Child<QSlider>(&viewer, "trkFrame")->setValue(9);
    viewer.TogglePlay();
    QVERIFY(Child<QAction>(&*Main, "aAnimation")->isChecked());
    QVERIFY(std::abs(ClockFrame(GetTickCount(), viewer.Playback().Offset(), 24) - 9) <= 1);
    // A step stops playing, from the frame it was on.
    Picture();
    const int playing = viewer.Session().FieldModel()->CurrentFrame;
    QTest::keyClick(&viewer, Qt::Key_Right);
    QVERIFY(!Child<QAction>(&*Main, "aAnimation")->isChecked());
    QCOMPARE(viewer.Session().FieldModel()->CurrentFrame, std::min(playing + 1, 23));
    // Space in a Quick Animation stops it for good.
    Child<QPushButton>(&viewer, "btnQuickAnim")->click();
    QVERIFY(Child<QAction>(&*Main, "aAnimation")->isChecked() &&
            viewer.Playback().QuickAnimationRunning());
    QTest::keyClick(&viewer, Qt::Key_Space);
    QVERIFY(!Child<QAction>(&*Main, "aAnimation")->isChecked() &&
            !viewer.Playback().QuickAnimationRunning());
    // Keys with Ctrl or Alt are not the viewer's.
    Child<QSlider>(&viewer, "trkFrame")->setValue(4);
    QTest::keyClick(&viewer, Qt::Key_Right, Qt::ControlModifier);
    QTest::keyClick(&viewer, Qt::Key_Space, Qt::AltModifier);
    QCOMPARE(Child<QSlider>(&viewer, "trkFrame")->value(), 4);
    QVERIFY(!Child<QAction>(&*Main, "aAnimation")->isChecked());
  }

  void theFrameReadoutFollowsTheFrame() {
    Main = Start();
    Viewer = Child<TfrmViewer>(&*Main, "frmViewer");
    QCOMPARE(Child<QLabel>(Viewer, "lblFrame")->text(), QString("Frame 0 / 0"));
    TfrmViewer& viewer = ShowKnight();
    QCOMPARE(Child<QLabel>(&viewer, "lblFrame")->text(), QString("Frame 1 / 24"));
    Child<QSlider>(&viewer, "trkFrame")->setValue(5);
    QCOMPARE(Child<QLabel>(&viewer, "lblFrame")->text(), QString("Frame 6 / 24"));
    // Playing: each paint shows its frame in the readout, and the readout's own repaint
    // does not paint the picture again.
    TPaintCounter counter;
    viewer.installEventFilter(&counter);
    Child<QTimer>(&viewer, "PlayTimer")->stop();
    viewer.Playback().PlayFrom(GetTickCount(), 12, 24);
    Child<QAction>(&*Main, "aAnimation")->setChecked(true);
    QTRY_VERIFY(counter.Paints > 0);
    const int paints = counter.Paints;
    QCOMPARE(Child<QLabel>(&viewer, "lblFrame")->text(),
             QString("Frame %1 / 24").arg(viewer.Session().FieldModel()->CurrentFrame + 1));
    QVERIFY(viewer.Session().FieldModel()->CurrentFrame != 5);
    for (int k = 0; k < 5; ++k) QApplication::processEvents();
    QCOMPARE(counter.Paints, paints);
    Child<QAction>(&*Main, "aAnimation")->setChecked(false);
    viewer.removeEventFilter(&counter);
    Child<QTimer>(&viewer, "PlayTimer")->start();

    TfrmViewer& golem = ShowGolem();
    QCOMPARE(Child<QLabel>(&golem, "lblFrame")->text(), QString("Frame 1 / 16"));
    Child<QSlider>(&golem, "trkFrame")->setValue(16); // one past the last: frame 0 again
    QCOMPARE(Child<QLabel>(&golem, "lblFrame")->text(), QString("Frame 1 / 16"));
    Child<QComboBox>(&*Main, "cmbAnims")->setCurrentIndex(1);
    QCOMPARE(Child<QLabel>(&golem, "lblFrame")->text(), QString("Frame 1 / 20"));
    Child<QSlider>(&golem, "trkFrame")->setValue(19);
    QCOMPARE(Child<QLabel>(&golem, "lblFrame")->text(), QString("Frame 20 / 20"));
  }

  void theRotationReadoutsShowDegrees() {
    TfrmViewer& viewer = ShowKnight();
    Child<QAction>(&*Main, "aEditable")->setChecked(true);
    Child<QSlider>(&viewer, "trkFrame")->setValue(2);
    Child<QListWidget>(&viewer, "lstParts")->setCurrentRow(8);
    const TFieldBone& thigh = viewer.Session().FieldModel()->GetBone(8);
    QCOMPARE(Child<QLabel>(&viewer, "lblRX")->text(), QString("%1\u00B0").arg(int(thigh.RotX)));
    QCOMPARE(Child<QLabel>(&viewer, "lblRY")->text(), QString("%1\u00B0").arg(int(thigh.RotY)));
    QCOMPARE(Child<QLabel>(&viewer, "lblRZ")->text(), QString("%1\u00B0").arg(int(thigh.RotZ)));
    Child<QSlider>(&viewer, "trkRY")->setValue(90);
    QCOMPARE(Child<QLabel>(&viewer, "lblRY")->text(), QString("90\u00B0"));
    Child<QSlider>(&viewer, "trkRZ")->setValue(345);
    QCOMPARE(Child<QLabel>(&viewer, "lblRZ")->text(), QString("345\u00B0"));
    // The widest value fits under its trackbar.
    for (QLabel* readout : {Child<QLabel>(&viewer, "lblRX"), Child<QLabel>(&viewer, "lblRY"),
                            Child<QLabel>(&viewer, "lblRZ")}) {
      QVERIFY(readout->isVisible());
      QVERIFY(readout->fontMetrics().horizontalAdvance(QString("360\u00B0")) <= readout->width());
    }
    Main->Document().MarkSaved(); // not asked about at the end
  }

  // A battle model has no bones to edit: the list is empty and the pose panel says so.
  void aBattleModelHasNoPoseEditing() {
    TfrmViewer& viewer = ShowKnight();
    Child<QAction>(&*Main, "aEditable")->setChecked(true);
    Child<QListWidget>(&viewer, "lstParts")->setCurrentRow(8);
    QVERIFY(Child<QSlider>(&viewer, "trkRX")->value() != 0);
    QVERIFY(Child<QSlider>(&viewer, "trkRX")->isEnabled() &&
            Child<QPushButton>(&viewer, "btnCopy")->isEnabled());
    QVERIFY(Child<QLabel>(&viewer, "lblPoseNote")->isHidden());

    ShowGolem();
    QVERIFY(viewer.Session().BattleModel());
    QCOMPARE(Child<QListWidget>(&viewer, "lstParts")->count(), 0);
    for (QSlider* slider : {Child<QSlider>(&viewer, "trkRX"), Child<QSlider>(&viewer, "trkRY"),
                            Child<QSlider>(&viewer, "trkRZ")}) {
      QVERIFY(!slider->isEnabled());
      QCOMPARE(slider->value(), 0);
    }
    QCOMPARE(Child<QLabel>(&viewer, "lblRX")->text(), QString("0\u00B0"));
    QVERIFY(!Child<QPushButton>(&viewer, "btnCopy")->isEnabled());
    QVERIFY(Child<QLabel>(&viewer, "lblPoseNote")->isVisible());
    QCOMPARE(Child<QLabel>(&viewer, "lblPoseNote")->text(),
             QString("Pose editing is for field models"));
    QCOMPARE(Child<QSlider>(&viewer, "trkStart")->maximum(), 0);
    QCOMPARE(Child<QSlider>(&viewer, "trkEnd")->maximum(), 0);
    QVERIFY(!Main->Document().Modified());

    ShowKnight();
    QCOMPARE(Child<QListWidget>(&viewer, "lstParts")->count(), 12);
    // The trackbars wait for a bone with a turn of its own; "Cpy" needs none.
    QVERIFY(!Child<QSlider>(&viewer, "trkRX")->isEnabled() &&
            Child<QPushButton>(&viewer, "btnCopy")->isEnabled());
    Child<QListWidget>(&viewer, "lstParts")->setCurrentRow(0);
    QVERIFY(!Child<QSlider>(&viewer, "trkRX")->isEnabled());
    Child<QListWidget>(&viewer, "lstParts")->setCurrentRow(3);
    QVERIFY(Child<QSlider>(&viewer, "trkRX")->isEnabled());
    QVERIFY(Child<QLabel>(&viewer, "lblPoseNote")->isHidden());
    QCOMPARE(Child<QSlider>(&viewer, "trkEnd")->maximum(), 11);
  }

  // However the model goes, nothing of it stays on show.
  void nothingOfAModelLetGoStaysOnShow_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("a field model left for another archive") << "field left";
    QTest::newRow("a field model whose successor fails to load") << "field replaced";
    QTest::newRow("a battle model left for another archive") << "battle left";
    QTest::newRow("a battle model dropped") << "battle dropped";
  }
  void nothingOfAModelLetGoStaysOnShow() {
    QFETCH(QString, how);
    Main = Start();
    Child<QAction>(&*Main, "aEditable")->setChecked(true);
    const bool battle = how.startsWith("battle");
    if (how == "field replaced") {
      WriteFile(Dir->File("broken.lgp"), BuildLGP(BuildBrokenDemoFieldArchive()));
      ShowModel("broken.lgp", "KNIG.HRC - KNIG", "KNWA.A");
    } else {
      battle ? ShowGolem() : ShowKnight();
    }
    TfrmViewer& viewer = *Viewer;
    Child<QSlider>(&viewer, "trkFrame")->setValue(5);
    if (!battle) {
      Child<QListWidget>(&viewer, "lstParts")->setCurrentRow(8);
      Child<QSlider>(&viewer, "trkStart")->setValue(2);
    }
    QVERIFY(DrawnPixels(Picture()).Count > 0);
    if (how.endsWith("left")) {
      Main->OpenArchive(Dir->File(battle ? "char.lgp" : "battle.lgp"));
    } else if (how == "battle dropped") {
      viewer.DropBattleModel();
    } else {
      const TArchiveKind kind = ArchiveKindForPath(Dir->File("broken.lgp"));
      Guarded([&] {
        viewer.LoadModel(*kind.Class, kind.Path, TModelRef::OfFieldMember("BRKN.HRC"), "");
      });
      QCOMPARE(Script->Errors, std::vector<std::string>{
                                   "Stream read error: BRAA.P ends before the data it describes"});
    }
    QVERIFY(!viewer.Session().FieldModel() && !viewer.Session().BattleModel());
    VerifyNoModelShown();
  }

  void droppingNoBattleModelLeavesTheFieldModelAlone() {
    TfrmViewer& viewer = ShowKnight();
    Child<QSlider>(&viewer, "trkFrame")->setValue(7);
    viewer.DropBattleModel();
    QVERIFY(viewer.Session().FieldModel());
    QCOMPARE(Child<QListWidget>(&viewer, "lstParts")->count(), 12);
    QCOMPARE(Child<QSlider>(&viewer, "trkFrame")->maximum(), 23);
    QCOMPARE(Child<QLabel>(&viewer, "lblFrame")->text(), QString("Frame 8 / 24"));
    QVERIFY(DrawnPixels(Picture()).Count > 0);
  }

  // The window paints its session as a session painted headless does: the same scene
  // state gives the same pixels, for a field model (with reflections) and a battle model.
  void theWindowDrawsWhatItsSessionDraws() {
    for (bool battle : {false, true}) {
      TfrmViewer& viewer = battle ? ShowGolem() : ShowKnight();
      Child<QAction>(&*Main, "aReflections")->setChecked(!battle);
      Child<QSlider>(&viewer, "trkFrame")->setValue(5);
      Child<QSlider>(&viewer, "TrkY")->setValue(30);
      const QImage shown = Picture().convertToFormat(QImage::Format_RGB888);
      QVERIFY(DrawnPixels(shown).Count > 1000);
      // Headless on a thread of its own: this one has the window's context current.
      std::vector<uint8_t> headless;
      std::string failure;
      std::thread painter([&] {
        try {
          TOffscreenContext context(shown.width(), shown.height());
          SetupScene();
          ResizeScene(shown.width(), shown.height());
          TViewerSession session;
          const TViewerSession& windows = viewer.Session();
          const TArchiveKind archive = windows.Archive();
          if (battle) {
            session.LoadBattleModel(archive, windows.Model());
            session.ChooseBattleAnimation(windows.BattleAnimation());
          } else {
            session.LoadFieldModel(archive, windows.Model(), windows.FieldModel()->AnimName);
          }
          session.Options = windows.Options;
          session.Camera = windows.Camera;
          session.SetFrame(windows.Frame());
          session.Paint();
          headless = context.ReadPixelsRGB();
          session.Clear();
        } catch (const std::exception& e) {
          failure = e.what();
        }
      });
      painter.join();
      QVERIFY2(failure.empty(), failure.c_str());
      int differing = 0;
      for (int y = 0; y < shown.height(); ++y)
        differing += std::memcmp(shown.constScanLine(y),
                                 headless.data() + size_t(y) * size_t(shown.width()) * 3,
                                 size_t(shown.width()) * 3) != 0;
      QVERIFY2(differing == 0, qPrintable(QString("%1 rows differ").arg(differing)));
    }
  }

  // Each GL window has the surface it asked for, whichever was made first.
  void eachWindowHasTheSurfaceItAskedFor() {
    TTexturiserWindow before;
    Main = Start();
    QVERIFY(Child<TfrmViewer>(&*Main, "frmViewer")->format().stencilBufferSize() >= 8);
    TTexturiserWindow after;
    QCOMPARE(Child<TTexView>(&before, "View")->format().stencilBufferSize(), 0);
    QCOMPARE(Child<TTexView>(&after, "View")->format().stencilBufferSize(), 0);
  }

  void aQuickAnimationEndsWithItsModel() {
    TfrmViewer& viewer = ShowKnight();
    Child<QPushButton>(&viewer, "btnQuickAnim")->click();
    QVERIFY(Child<QAction>(&*Main, "aAnimation")->isChecked() &&
            viewer.Playback().QuickAnimationRunning());
    Main->OpenArchive(Dir->File("battle.lgp"));
    QVERIFY(!Child<QAction>(&*Main, "aAnimation")->isChecked() &&
            !viewer.Playback().QuickAnimationRunning());
    VerifyNoModelShown();
  }
};

QTEST_MAIN(ViewerTest)
#include "ViewerTest.moc"
