#include "render/viewerform.h"

#include "render/QtGuard.h"
#include "render/QtText.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "platform/DebugLog.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace palkor {

namespace {

QSlider* Trackbar(const char* name, Qt::Orientation orientation, int maximum, int position,
                  int tick, QWidget* parent) {
  auto* slider = new QSlider(orientation, parent);
  slider->setObjectName(name);
  slider->setRange(0, maximum);
  slider->setValue(position);
  if (tick > 0) {
    slider->setTickInterval(tick);
    slider->setTickPosition(orientation == Qt::Horizontal ? QSlider::TicksBelow
                                                          : QSlider::TicksRight);
  }
  return slider;
}

// Zoom units a wheel step moves the eye; a step is 120 eighths of a degree of wheel.
constexpr int ZoomStep = 2;
constexpr int WheelStep = 120;
// The share of the picture a framed model fills.
constexpr double FrameFill = 0.9;

} // namespace

namespace {

// The floor's reflection is drawn through the stencil buffer.
TSurfaceRequest ViewerSurface() {
  TSurfaceRequest surface;
  surface.StencilBits = 8;
  return surface;
}

} // namespace

TfrmViewer::TfrmViewer(TViewerHost& host, QWidget* parent)
    : TCGForm(ViewerSurface(), parent), FHost(host) {
  Log("InitGL");
  setWindowTitle("Model viewer");
  resize(572, 452);

  pControls = new QWidget(this);
  pControls->setObjectName("pControls");
  pControls->setAutoFillBackground(true);
  pControls->setGeometry(0, 0, 385, 81);
  auto* grid = new QGridLayout(pControls);
  grid->setContentsMargins(4, 2, 4, 2);
  grid->setSpacing(1);
  auto place = [&](const char* caption, QWidget* control, int row, int column) {
    auto* label = new QLabel(caption, pControls);
    QFont small = label->font();
    small.setPointSize(7);
    label->setFont(small);
    grid->addWidget(label, row * 2, column);
    grid->addWidget(control, row * 2 + 1, column);
    return label;
  };
  TrkX = Trackbar("TrkX", Qt::Horizontal, 360, 0, 15, pControls);
  TrkY = Trackbar("TrkY", Qt::Horizontal, 360, 0, 15, pControls);
  TrkZ = Trackbar("TrkZ", Qt::Horizontal, 360, 0, 15, pControls);
  trkZoom = Trackbar("trkZoom", Qt::Horizontal, 100, 30, 5, pControls);
  trkStart = Trackbar("trkStart", Qt::Horizontal, 0, 0, 0, pControls);
  trkEnd = Trackbar("trkEnd", Qt::Horizontal, 0, 0, 0, pControls);
  trkFrame = Trackbar("trkFrame", Qt::Horizontal, 0, 0, 0, pControls);
  btnQuickAnim = new QPushButton("&Quick Animation", pControls);
  btnQuickAnim->setObjectName("btnQuickAnim");
  place("Rotate X", TrkX, 0, 0);
  place("Rotate Y", TrkY, 0, 1);
  place("Rotate Z", TrkZ, 0, 2);
  place("Zoom", trkZoom, 0, 3);
  place("Start draw", trkStart, 1, 0);
  place("End draw", trkEnd, 1, 1);
  lblFrame = place("Frame", trkFrame, 1, 2);
  lblFrame->setObjectName("lblFrame");
  // Its text changes as frames go by: the columns keep the width the sliders give them.
  lblFrame->setSizePolicy(QSizePolicy::Ignored, lblFrame->sizePolicy().verticalPolicy());
  grid->addWidget(btnQuickAnim, 3, 3);

  // Clicks and wheel turns on the panels' free space are not drags of the picture.
  pControls->setAttribute(Qt::WA_NoMousePropagation);
  setFocusPolicy(Qt::StrongFocus);

  // The trackbars set the session's camera and bone range.
  for (auto [slider, field] : {std::pair{TrkX, &TViewCamera::RotateX},
                               {TrkY, &TViewCamera::RotateY},
                               {TrkZ, &TViewCamera::RotateZ},
                               {trkZoom, &TViewCamera::Zoom}})
    connect(slider, &QSlider::valueChanged, this, [this, field](int position) {
      FSession.Camera.*field = position;
      update();
    });
  connect(trkStart, &QSlider::valueChanged, this, [this](int position) {
    FSession.Options.FirstBone = position;
    update();
  });
  connect(trkEnd, &QSlider::valueChanged, this, [this](int position) {
    FSession.Options.LastBone = position;
    update();
  });
  ConnectGuarded(trkFrame, &QSlider::valueChanged, this,
                 [this](int position) { trkFrameChange(position); });
  ConnectGuarded(btnQuickAnim, &QPushButton::clicked, this, [this] { QuickAnimation(); });

  PlayTimer = new QTimer(this);
  PlayTimer->setObjectName("PlayTimer");
  PlayTimer->setInterval(20);
  connect(PlayTimer, &QTimer::timeout, this, [this] { PlayTimerTick(); });
  PlayTimer->start();

  ShowFrameReadout();
}

TfrmViewer::~TfrmViewer() {
  // The models' drawing state lives in this window's context.
  MakeCurrent();
  FSession.Clear();
  ReleaseGL();
}

void TfrmViewer::initializeGL() {
  Log("SetupGL");
  SetupScene();
  Log("Create done");
}

void TfrmViewer::resizeGL(int width, int height) {
  ResizeScene(int32_t(width * devicePixelRatio()), int32_t(height * devicePixelRatio()));
}

void TfrmViewer::resizeEvent(QResizeEvent* event) {
  TCGForm::resizeEvent(event);
  if (FRightPanel)
    FRightPanel->setGeometry(width() - FRightPanelWidth, 0, FRightPanelWidth, height());
}

void TfrmViewer::SetSidePanels(QWidget* left, QWidget* right, int rightWidth) {
  FLeftPanel = left;
  FRightPanel = right;
  FRightPanelWidth = rightWidth;
  FLeftPanel->setGeometry(0, 81, 153, 329);
  FRightPanel->setGeometry(width() - FRightPanelWidth, 0, FRightPanelWidth, height());
  // Clicks and wheel turns on the panels' free space are not drags of the picture.
  FRightPanel->setAttribute(Qt::WA_NoMousePropagation);
  SetEditable(FEditable);
}

void TfrmViewer::SetFrameSlider(int maximum, int position) {
  QSignalBlocker block(trkFrame);
  trkFrame->setMaximum(std::max(maximum, 0));
  trkFrame->setValue(position);
  ShowFrameReadout();
}

void TfrmViewer::ShowFrameReadout() {
  const int32_t frames = FSession.FrameCount();
  lblFrame->setText(
      QString("Frame %1 / %2").arg(frames > 0 ? FSession.ShownFrame() + 1 : 0).arg(frames));
}

void TfrmViewer::ResetModelControls() {
  {
    QSignalBlocker blockStart(trkStart), blockEnd(trkEnd);
    trkStart->setMaximum(0);
    trkEnd->setMaximum(0);
  }
  SetFrameSlider(0, 0);
}

void TfrmViewer::ModelChanged() {
  FPaintFailed = false;
  FHost.ModelChanged();
  update();
}

// Advances the shown model by the frame clock while playing; a Quick Animation ends when
// it comes back to frame 0.
void TfrmViewer::PlayFrame() {
  if (!FPlayback.Playing() || !FSession.HasModel()) return;
  const TPlayback::TStep step = FPlayback.Advance(GetTickCount(), FSession.FrameCount());
  FSession.SetFrame(step.Frame);
  {
    QSignalBlocker block(trkFrame);
    trkFrame->setValue(step.Frame);
  }
  // Only the caption repaints: the picture is being painted now.
  ShowFrameReadout();
  if (step.Stopped) FHost.PlayingChanged(false);
}

void TfrmViewer::paintGL() {
  try {
    PlayFrame();
    FSession.Paint();
  } catch (const std::exception& e) {
    glClear(GL_COLOR_BUFFER_BIT);
    if (!FPaintFailed) {
      FPaintFailed = true;
      Dialogs().ShowError(e.what());
    }
  }
}

// Playing repaints on every tick; otherwise the picture changes only when something is
// moved or loaded, and each of those asks for its own repaint.
void TfrmViewer::PlayTimerTick() {
  if (isVisible() && FPlayback.Playing()) update();
}

void TfrmViewer::trkFrameChange(int position) {
  FSession.SetFrame(position);
  ShowFrameReadout();
  update();
}

void TfrmViewer::ClearModel() {
  MakeCurrent();
  FSession.Clear();
  // A Quick Animation of the model let go is over: the next model does not play.
  if (FPlayback.QuickAnimationRunning()) {
    FPlayback.Stop();
    FHost.PlayingChanged(false);
  }
  ResetModelControls();
  ModelChanged();
}

void TfrmViewer::DropBattleModel() {
  if (!FSession.BattleModel()) return;
  MakeCurrent();
  FSession.Clear();
  ResetModelControls();
  ModelChanged();
}

void TfrmViewer::LoadModel(const TLGPFileClass& archiveClass, const std::string& path,
                           const TModelRef& model, const std::string& animName) {
  Log("LoadModel begin");
  Log("LoadModel: Load parts");
  MakeCurrent();
  try {
    FSession.LoadFieldModel(TArchiveKind{&archiveClass, path}, model, animName);
  } catch (...) {
    ResetModelControls();
    ModelChanged();
    throw;
  }
  const int32_t bones = FSession.FieldModel()->BoneCount();
  {
    QSignalBlocker blockStart(trkStart), blockEnd(trkEnd);
    trkStart->setMaximum(bones - 1);
    trkStart->setValue(0);
    trkEnd->setMaximum(bones - 1);
    trkEnd->setValue(trkEnd->maximum());
  }
  SetFrameSlider(FSession.LastFrame(), 0);
  FSession.SetFrame(0);
  // A model comes without its bones and with its bodies, whatever the last one showed.
  FHost.FieldModelLoaded(false, true);
  Log("LoadModel done");
  PlayTimer->setInterval(80);
  ModelChanged();
}

void TfrmViewer::LoadBattleModel(const TLGPFileClass& archiveClass, const std::string& path,
                                 const TModelRef& model) {
  MakeCurrent();
  try {
    FSession.LoadBattleModel(TArchiveKind{&archiveClass, path}, model);
  } catch (...) {
    ResetModelControls();
    ModelChanged();
    throw;
  }
  PlayTimer->setInterval(80);
  {
    QSignalBlocker blockStart(trkStart), blockEnd(trkEnd);
    trkStart->setMaximum(0);
    trkEnd->setMaximum(0);
  }
  SetFrameSlider(FSession.LastFrame(), 0);
  // The switches show what is drawn: a battle model, too, comes with its bodies and
  // without its bones.
  FHost.FieldModelLoaded(false, true);
  ModelChanged();
}

void TfrmViewer::SelectBattleAnimation(int32_t index) {
  if (!FSession.BattleModel()) return;
  FSession.ChooseBattleAnimation(index);
  SetFrameSlider(FSession.LastFrame(), 0);
  update();
}

void TfrmViewer::AnimationReplaced() {
  if (TFieldModel* field = FSession.FieldModel()) {
    field->SetFrame(0);
    SetFrameSlider(FSession.LastFrame(), 0);
    update();
  } else if (FSession.BattleModel()) {
    SelectBattleAnimation(FSession.BattleAnimation());
  }
}

void TfrmViewer::TexturesEdited() {
  makeCurrent();
  struct TDone {
    TfrmViewer& Viewer;
    ~TDone() { Viewer.doneCurrent(); }
  } done{*this};
  FSession.RefreshTextures();
  update();
}

void TfrmViewer::AnimationEdited() {
  if (!FSession.HasModel()) return;
  // The frame slider follows an animation that changed its length (an import undone).
  const int32_t last = FSession.LastFrame();
  if (trkFrame->maximum() != last) SetFrameSlider(last, std::min(FSession.Frame(), last));
  if (TFieldModel* field = FSession.FieldModel())
    if (field->CurrentFrame < field->FrameCount) field->SetFrame(field->CurrentFrame);
  if (FSession.BattleModel()) FSession.SetFrame(trkFrame->value());
  ShowFrameReadout();
  update();
}

void TfrmViewer::SetEditable(bool on) {
  FEditable = on;
  if (FLeftPanel) FLeftPanel->setVisible(on && FPanelsShown);
  if (FRightPanel) FRightPanel->setVisible(on && FPanelsShown);
}

void TfrmViewer::SetPanelsShown(bool on) {
  FPanelsShown = on;
  pControls->setVisible(on);
  SetEditable(FEditable);
}

std::vector<uint8_t> TfrmViewer::CapturePixels(int& width, int& height) {
  QImage image = grabFramebuffer().convertToFormat(QImage::Format_RGB888);
  width = image.width();
  height = image.height();
  std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 3);
  for (int y = 0; y < height; ++y)
    std::memcpy(pixels.data() + size_t(y) * size_t(width) * 3, image.constScanLine(y),
                size_t(width) * 3);
  return pixels;
}

void TfrmViewer::QuickAnimation() {
  if (!FSession.HasModel()) return;
  FPlayback.StartQuickAnimation(GetTickCount(), FSession.FrameCount());
  FHost.PlayingChanged(true);
  update();
}

void TfrmViewer::ShowFrame(int32_t frame) {
  {
    QSignalBlocker block(trkFrame);
    trkFrame->setValue(frame);
  }
  trkFrameChange(frame);
}

void TfrmViewer::Pause() {
  if (!FPlayback.Playing()) return;
  FPlayback.Stop();
  FHost.PlayingChanged(false);
}

void TfrmViewer::StepFrame(int delta) {
  const int32_t frames = FSession.FrameCount();
  if (frames <= 0) return;
  Pause();
  const int64_t frame = std::clamp<int64_t>(int64_t(FSession.ShownFrame()) + delta, 0, frames - 1);
  ShowFrame(int32_t(frame));
}

void TfrmViewer::FirstFrame() {
  if (FSession.FrameCount() <= 0) return;
  Pause();
  ShowFrame(0);
}

void TfrmViewer::TogglePlay() {
  if (FPlayback.Playing()) {
    Pause();
    return;
  }
  FPlayback.PlayFrom(GetTickCount(), FSession.ShownFrame(), FSession.FrameCount());
  FHost.PlayingChanged(true);
}

void TfrmViewer::SetPlaying(bool on) {
  FPlayback.SetPlaying(on);
  update();
}

void TfrmViewer::ShowSession() {
  {
    QSignalBlocker blockX(TrkX), blockY(TrkY), blockZ(TrkZ), blockZoom(trkZoom);
    TrkX->setValue(FSession.Camera.RotateX);
    TrkY->setValue(FSession.Camera.RotateY);
    TrkZ->setValue(FSession.Camera.RotateZ);
    trkZoom->setValue(FSession.Camera.Zoom);
  }
  {
    QSignalBlocker block(trkFrame);
    trkFrame->setValue(FSession.Frame());
  }
  ShowFrameReadout();
  update();
}

void TfrmViewer::TurnBy(int degreesX, int degreesY) {
  auto turn = [](QSlider* slider, int degrees) {
    const int low = slider->minimum(), span = slider->maximum() - low;
    if (span <= 0) return;
    // The ends of a full turn's range are the same angle: wrap onto [low, low + span).
    int64_t value = (int64_t(slider->value()) - low + degrees) % span;
    slider->setValue(int(low + (value < 0 ? value + span : value)));
  };
  turn(TrkX, degreesX);
  turn(TrkY, degreesY);
}

void TfrmViewer::ZoomBy(int steps) {
  trkZoom->setValue(int(std::clamp<int64_t>(int64_t(trkZoom->value()) + int64_t(steps) * ZoomStep,
                                            trkZoom->minimum(), trkZoom->maximum())));
}

void TfrmViewer::PanBy(int pixelsX, int pixelsY) {
  const double scale = WorldPerPixel(trkZoom->value(), height());
  FSession.Camera.PanX += float(pixelsX * scale);
  FSession.Camera.PanY -= float(pixelsY * scale);
  update();
}

TPictureArea TfrmViewer::FreeArea() const {
  const double w = std::max(width(), 1), h = std::max(height(), 1);
  double left = 0, right = w, top = 0, bottom = h;
  if (pControls->isVisibleTo(this)) top = pControls->geometry().bottom() + 1;
  if (FLeftPanel && FLeftPanel->isVisibleTo(this)) left = FLeftPanel->geometry().right() + 1;
  if (FRightPanel && FRightPanel->isVisibleTo(this)) right = FRightPanel->geometry().left();
  // Panels that leave only a sliver: the whole picture.
  if (right - left < 0.25 * w || bottom - top < 0.25 * h) return {};
  return {2 * left / w - 1, 2 * right / w - 1, 1 - 2 * bottom / h, 1 - 2 * top / h};
}

void TfrmViewer::FrameWholeModel() {
  if (!FSession.FrameWholeModel(double(width()) / std::max(height(), 1), FrameFill, FreeArea(),
                                trkZoom->minimum(), trkZoom->maximum(), true))
    return;
  // The nearest whole zoom at which it fits, as far as the trackbar goes.
  trkZoom->setValue(FSession.Camera.Zoom);
  update();
}

void TfrmViewer::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  FDragFrom = event->position().toPoint();
  event->accept();
}

// A horizontal drag turns about Y, a vertical one about X, a degree a pixel: the model
// follows the mouse (its front goes the way the mouse goes).
void TfrmViewer::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  const QPoint moved = at - FDragFrom;
  FDragFrom = at;
  Guarded([&] {
    if (event->buttons() & Qt::LeftButton)
      TurnBy(moved.y(), moved.x());
    else if (event->buttons() & (Qt::RightButton | Qt::MiddleButton))
      PanBy(moved.x(), moved.y());
  });
  event->accept();
}

TPickedPart TfrmViewer::PartAt(QPoint at) const {
  if (width() <= 0 || height() <= 0) return {};
  return PickPart(FSession.SceneState(), double(width()) / height(),
                  2.0 * (at.x() + 0.5) / width() - 1, 1 - 2.0 * (at.y() + 0.5) / height());
}

void TfrmViewer::mouseDoubleClickEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  FDragFrom = event->position().toPoint();
  event->accept();
  if (event->button() != Qt::LeftButton) return;
  Guarded([&] {
    if (FEditable && PartDoubleClicked) {
      const TPickedPart picked = PartAt(event->position().toPoint());
      if (picked.Found &&
          PartDoubleClicked(picked.Bone, picked.Part, event->globalPosition().toPoint()))
        return;
    }
    FrameWholeModel();
  });
}

// Wheel turned away from the user brings the eye nearer.
void TfrmViewer::wheelEvent(QWheelEvent* event) {
  FWheelRest += event->angleDelta().y();
  const int steps = FWheelRest / WheelStep;
  FWheelRest -= steps * WheelStep;
  if (steps != 0) Guarded([&] { ZoomBy(-steps); });
  event->accept();
}

void TfrmViewer::keyPressEvent(QKeyEvent* event) {
  if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
    TCGForm::keyPressEvent(event);
    return;
  }
  switch (event->key()) {
  case Qt::Key_Space:
    Guarded([&] { TogglePlay(); });
    break;
  case Qt::Key_Left:
    Guarded([&] { StepFrame(-1); });
    break;
  case Qt::Key_Right:
    Guarded([&] { StepFrame(1); });
    break;
  case Qt::Key_Home:
    Guarded([&] { FirstFrame(); });
    break;
  default:
    TCGForm::keyPressEvent(event);
    return;
  }
  event->accept();
}

} // namespace palkor
