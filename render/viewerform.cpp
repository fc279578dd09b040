#include "render/viewerform.h"

#include "render/QtText.h"

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

QSlider* Trackbar(Qt::Orientation orientation, int maximum, int position, int tick,
                  QWidget* parent) {
  auto* slider = new QSlider(orientation, parent);
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

QString Degrees(int value) {
  return QString("%1\u00B0").arg(value);
}

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
  TrkX = Trackbar(Qt::Horizontal, 360, 0, 15, pControls);
  TrkY = Trackbar(Qt::Horizontal, 360, 0, 15, pControls);
  TrkZ = Trackbar(Qt::Horizontal, 360, 0, 15, pControls);
  trkZoom = Trackbar(Qt::Horizontal, 100, 30, 5, pControls);
  trkStart = Trackbar(Qt::Horizontal, 0, 0, 0, pControls);
  trkEnd = Trackbar(Qt::Horizontal, 0, 0, 0, pControls);
  trkFrame = Trackbar(Qt::Horizontal, 0, 0, 0, pControls);
  btnQuickAnim = new QPushButton("&Quick Animation", pControls);
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

  lstParts = new QListWidget(this);
  lstParts->setObjectName("lstParts");
  lstParts->setGeometry(0, 81, 153, 329);
  lstParts->hide();

  pRotate = new QWidget(this);
  pRotate->setObjectName("pRotate");
  pRotate->setAutoFillBackground(true);
  auto* column = new QVBoxLayout(pRotate);
  column->setContentsMargins(2, 2, 2, 2);
  lblPoseNote = new QLabel("Pose editing is for field models", pRotate);
  lblPoseNote->setObjectName("lblPoseNote");
  lblPoseNote->setWordWrap(true);
  lblPoseNote->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  lblPoseNote->hide();
  column->addWidget(lblPoseNote);
  auto* sliders = new QHBoxLayout();
  sliders->setSpacing(0);
  trkRX = Trackbar(Qt::Vertical, 360, 0, 15, pRotate);
  trkRY = Trackbar(Qt::Vertical, 360, 0, 15, pRotate);
  trkRZ = Trackbar(Qt::Vertical, 360, 0, 15, pRotate);
  lblRX = new QLabel(pRotate);
  lblRY = new QLabel(pRotate);
  lblRZ = new QLabel(pRotate);
  for (auto [slider, caption, readout] :
       {std::tuple{trkRX, "X", lblRX}, {trkRY, "Y", lblRY}, {trkRZ, "Z", lblRZ}}) {
    QFont small = readout->font();
    small.setPointSize(7);
    readout->setFont(small);
    readout->setAlignment(Qt::AlignHCenter);
    readout->setSizePolicy(QSizePolicy::Ignored, readout->sizePolicy().verticalPolicy());
    auto* one = new QVBoxLayout();
    one->addWidget(new QLabel(caption, pRotate), 0, Qt::AlignHCenter);
    one->addWidget(slider, 1, Qt::AlignHCenter);
    one->addWidget(readout);
    sliders->addLayout(one);
  }
  // Wide enough for three trackbars with the widest value under each.
  FRotatePanelWidth =
      std::max(66, 3 * (lblRX->fontMetrics().horizontalAdvance(Degrees(360)) + 2) + 4);
  lblRX->setObjectName("lblRX");
  lblRY->setObjectName("lblRY");
  lblRZ->setObjectName("lblRZ");
  column->addLayout(sliders, 1);
  btnCopy = new QPushButton("Cpy", pRotate);
  column->addWidget(btnCopy);
  pRotate->hide();

  // Clicks and wheel turns on the panels' free space are not drags of the picture.
  for (QWidget* panel : {pControls, pRotate}) panel->setAttribute(Qt::WA_NoMousePropagation);
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
  connect(trkFrame, &QSlider::valueChanged, this,
          [this](int position) { Guarded([&] { trkFrameChange(position); }); });
  connect(btnQuickAnim, &QPushButton::clicked, this, [this] { QuickAnimation(); });
  connect(lstParts, &QListWidget::currentRowChanged, this,
          [this](int row) { Guarded([&] { BoneChosen(row); }); });
  int tag = 0;
  for (QSlider* slider : {trkRX, trkRY, trkRZ}) {
    // A drag is one step to undo, however many values it passes through.
    connect(slider, &QSlider::sliderPressed, this, [this] { Document.BeginDrag(); });
    connect(slider, &QSlider::valueChanged, this, [this, tag](int position) {
      Guarded([&] {
        ShowRotateReadouts();
        PoseTrackbarMoved(tag, position);
      });
    });
    ++tag;
  }
  connect(btnCopy, &QPushButton::clicked, this, [this] { Guarded([&] { btnCopyClick(); }); });
  connect(&Document, &TAnimationDocument::Changed, this, [this] { Guarded([&] { ShowEdits(); }); });
  connect(&Document, &TAnimationDocument::ModifiedChanged, this, [this](bool modified) {
    Modified = modified;
    FHost.AnimationsModifiedChanged(AnimationsModified());
  });

  PlayTimer = new QTimer(this);
  PlayTimer->setInterval(20);
  connect(PlayTimer, &QTimer::timeout, this, [this] { PlayTimerTick(); });
  PlayTimer->start();

  ShowFrameReadout();
  ShowRotateReadouts();
  ShowPoseEditing();
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
  pRotate->setGeometry(width() - FRotatePanelWidth, 0, FRotatePanelWidth, height());
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

void TfrmViewer::ShowRotateReadouts() {
  lblRX->setText(Degrees(trkRX->value()));
  lblRY->setText(Degrees(trkRY->value()));
  lblRZ->setText(Degrees(trkRZ->value()));
}

void TfrmViewer::ShowPoseEditing() {
  const bool field = FSession.FieldModel() != nullptr;
  for (QWidget* control :
       std::initializer_list<QWidget*>{trkRX, trkRY, trkRZ, lblRX, lblRY, lblRZ, btnCopy})
    control->setEnabled(field);
  lblPoseNote->setVisible(FSession.BattleModel() != nullptr);
}

void TfrmViewer::ResetModelControls() {
  {
    QSignalBlocker blockList(lstParts);
    lstParts->clear();
  }
  {
    QSignalBlocker blockStart(trkStart), blockEnd(trkEnd);
    trkStart->setMaximum(0);
    trkEnd->setMaximum(0);
  }
  {
    QSignalBlocker blockX(trkRX), blockY(trkRY), blockZ(trkRZ);
    for (QSlider* slider : {trkRX, trkRY, trkRZ}) slider->setValue(0);
  }
  SetFrameSlider(0, 0);
  ShowRotateReadouts();
  ShowPoseEditing();
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

bool TfrmViewer::ReleaseModel() {
  if (!FSession.FieldModel() && !FSession.BattleModel()) return true;
  if (AnimationsModified()) {
    switch (Dialogs().Ask("Model animations have changed! Update LGP?", true)) {
    case TDialogs::TAnswer::Cancel:
      return false;
    case TDialogs::TAnswer::Yes: {
      const std::string message =
          FSession.FieldModel()
              ? Format("Saved %s into %s", FSession.FieldModel()->AnimName,
                       FSession.FieldModel()->LGPFileName)
              : Format("Saved the animations of %s into %s", FSession.BattleModel()->Code,
                       FSession.BattleModel()->LGPFileName);
      if (FSession.FieldModel()) FSession.FieldModel()->SaveAnimation();
      if (FSession.BattleModel()) FSession.BattleModel()->SaveAnimations();
      FHost.AnimationsSaved(message);
      break;
    }
    case TDialogs::TAnswer::No:
      break;
    }
  }
  MakeCurrent();
  Document.Attach(nullptr);
  FSession.Clear();
  Modified = false;
  FHost.AnimationsModifiedChanged(false);
  // A Quick Animation of the model let go is over: the next model does not play.
  if (FPlayback.QuickAnimationRunning()) {
    FPlayback.Stop();
    FHost.PlayingChanged(false);
  }
  ResetModelControls();
  update();
  return true;
}

bool TfrmViewer::AnimationsModified() const {
  return (FSession.FieldModel() && Modified) ||
         (FSession.BattleModel() && FSession.BattleModel()->Modified());
}

void TfrmViewer::DropBattleModel() {
  if (!FSession.BattleModel()) return;
  MakeCurrent();
  FSession.Clear();
  ResetModelControls();
  update();
}

bool TfrmViewer::LoadModel(const TLGPFileClass& archiveClass, const std::string& path,
                           const std::string& hrcName, const std::string& animName) {
  Log("LoadModel begin");
  // The previous model goes first, so that an animation it saves is read back as saved.
  if (!ReleaseModel()) return false;
  DropBattleModel();
  Log("LoadModel: Load parts");
  MakeCurrent();
  FSession.LoadFieldModel(TArchiveKind{&archiveClass, path}, hrcName, animName);
  TFieldModel& model = *FSession.FieldModel();
  FPaintFailed = false;
  {
    QSignalBlocker blockStart(trkStart), blockEnd(trkEnd);
    trkStart->setMaximum(model.BoneCount() - 1);
    trkStart->setValue(0);
    trkEnd->setMaximum(model.BoneCount() - 1);
    trkEnd->setValue(trkEnd->maximum());
  }
  SetFrameSlider(FSession.LastFrame(), 0);
  FSession.SetFrame(0);
  // A model comes without its bones and with its bodies, whatever the last one showed.
  FHost.FieldModelLoaded(false, true);
  lstParts->clear();
  FillPartsList(0, "");
  ShowPoseEditing();
  Document.Attach(&model);
  Modified = false;
  Log("LoadModel done");
  PlayTimer->setInterval(80);
  update();
  return true;
}

void TfrmViewer::FillPartsList(int32_t bone, const std::string& prefix) {
  if (!FSession.FieldModel() || bone < 0 || bone >= FSession.FieldModel()->BoneCount()) return;
  // Depth first with an explicit stack; a bone is listed once even if the parents
  // should form a cycle.
  std::set<int32_t> listed;
  std::vector<std::pair<int32_t, std::string>> pending{{bone, prefix}};
  while (!pending.empty()) {
    auto [b, indent] = pending.back();
    pending.pop_back();
    if (!listed.insert(b).second) continue;
    lstParts->addItem(Text(indent + FSession.FieldModel()->GetBone(b).Name));
    for (int32_t j = FSession.FieldModel()->BoneCount() - 1; j >= 0; --j)
      if (FSession.FieldModel()->GetBone(j).Parent == b && !listed.count(j))
        pending.push_back({j, indent + " "});
  }
}

bool TfrmViewer::LoadBattleModel(const TLGPFileClass& archiveClass, const std::string& path,
                                 const std::string& code) {
  if (!ReleaseModel()) return false;
  DropBattleModel();
  MakeCurrent();
  FSession.LoadBattleModel(TArchiveKind{&archiveClass, path}, code);
  PlayTimer->setInterval(80);
  SetFrameSlider(FSession.LastFrame(), 0);
  ShowPoseEditing();
  FPaintFailed = false;
  update();
  return true;
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
  FHost.AnimationsModifiedChanged(AnimationsModified());
}

void TfrmViewer::ShowEdits() {
  if (!FSession.FieldModel()) return;
  // The frame slider follows an animation that changed its length (an import undone).
  if (trkFrame->maximum() != std::max(FSession.FieldModel()->FrameCount - 1, 0))
    SetFrameSlider(FSession.FieldModel()->FrameCount - 1,
                   std::min(FSession.FieldModel()->CurrentFrame,
                            std::max(FSession.FieldModel()->FrameCount - 1, 0)));
  if (FSession.FieldModel()->CurrentFrame < FSession.FieldModel()->FrameCount)
    FSession.FieldModel()->SetFrame(FSession.FieldModel()->CurrentFrame);
  // The trackbars show the selected bone as it now is.
  if (FSession.Options.SelectedBone >= 1 && !FEditing) BoneChosen(FSession.Options.SelectedBone);
  update();
}

void TfrmViewer::SetEditable(bool on) {
  FEditable = on;
  lstParts->setVisible(on && FPanelsShown);
  pRotate->setVisible(on && FPanelsShown);
}

void TfrmViewer::SetPanelsShown(bool on) {
  FPanelsShown = on;
  pControls->setVisible(on);
  SetEditable(FEditable);
}

void TfrmViewer::BoneChosen(int row) {
  if (!FSession.FieldModel() || row < 0 || row >= FSession.FieldModel()->BoneCount()) return;
  FSession.Options.SelectedBone = row;
  // Loading the trackbars is not an edit: they show the angles truncated toward zero,
  // and the root (which has no rotation of its own) leaves them as they are.
  TVec3 rotation{float(trkRX->value()), float(trkRY->value()), float(trkRZ->value())};
  if (row >= 1) {
    const TFieldBone& bone = FSession.FieldModel()->GetBone(row);
    rotation = {bone.RotX, bone.RotY, bone.RotZ};
  }
  {
    QSignalBlocker blockX(trkRX), blockY(trkRY), blockZ(trkRZ);
    trkRX->setValue(int(rotation.X));
    trkRY->setValue(int(rotation.Y));
    trkRZ->setValue(int(rotation.Z));
  }
  ShowRotateReadouts();
  update();
}

void TfrmViewer::PoseTrackbarMoved(int tag, int position) {
  const int32_t selected = FSession.Options.SelectedBone;
  if (!FSession.FieldModel() || selected < 1 || selected >= FSession.FieldModel()->BoneCount())
    return;
  const TFieldBone& bone = FSession.FieldModel()->GetBone(selected);
  TVec3 rotation{bone.RotX, bone.RotY, bone.RotZ};
  (tag == 0 ? rotation.X : tag == 1 ? rotation.Y : rotation.Z) = float(position);
  // Values passed while a trackbar is dragged make one step; each keyboard step its own.
  QSlider* slider = tag == 0 ? trkRX : tag == 1 ? trkRY : trkRZ;
  FEditing = true;
  struct TEditingDone {
    bool& Editing;
    ~TEditingDone() { Editing = false; }
  } done{FEditing};
  Document.SetRotation(selected, FSession.FieldModel()->CurrentFrame, rotation,
                       slider->isSliderDown());
  update();
}

void TfrmViewer::btnCopyClick() {
  if (!FSession.FieldModel()) return;
  if (!Dialogs().Confirm("WARNING! This will propagate the current bone rotations to every other "
                         "frame. IE: Every frame will become a copy of THIS one. SURE to continue?",
                         true))
    return;
  // The pose shown, written into every frame as one step.
  Document.CopyPoseToEveryFrame(FSession.FieldModel()->CurrentFrame);
  // As the copy always left it: the last bone selected, the frame of the slider shown.
  FSession.Options.SelectedBone = FSession.FieldModel()->BoneCount() - 1;
  FSession.FieldModel()->SetFrame(trkFrame->value());
  update();
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
  if (lstParts->isVisibleTo(this)) left = lstParts->geometry().right() + 1;
  if (pRotate->isVisibleTo(this)) right = pRotate->geometry().left();
  // Panels that leave only a sliver: the whole picture.
  if (right - left < 0.25 * w || bottom - top < 0.25 * h) return {};
  return {2 * left / w - 1, 2 * right / w - 1, 1 - 2 * bottom / h, 1 - 2 * top / h};
}

void TfrmViewer::FrameWholeModel() {
  if (!FSession.FrameWholeModel(double(width()) / std::max(height(), 1), FrameFill, FreeArea(),
                                trkZoom->minimum(), trkZoom->maximum()))
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

void TfrmViewer::mouseDoubleClickEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  FDragFrom = event->position().toPoint();
  if (event->button() == Qt::LeftButton) Guarded([&] { FrameWholeModel(); });
  event->accept();
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
