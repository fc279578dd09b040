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

int32_t FrameOffset = 0;
bool QuickAnimRunning = false;

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

TfrmViewer::TfrmViewer(TViewerHost& host, QWidget* parent) : TCGForm(parent), FHost(host) {
  setWindowTitle("Model viewer");
  resize(572, 452);
  Log("InitGL");
  PFDStencilBits = 8;
  InitGL();

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

  // The picture depends on the turn and zoom, read at paint: repaint when they move.
  for (QSlider* slider : {TrkX, TrkY, TrkZ, trkZoom})
    connect(slider, &QSlider::valueChanged, this, [this] { update(); });
  connect(trkStart, &QSlider::valueChanged, this, [this](int position) {
    if (FieldModel) FieldModel->FirstBone = position;
    update();
  });
  connect(trkEnd, &QSlider::valueChanged, this, [this](int position) {
    if (FieldModel) FieldModel->LastBone = position;
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
  FieldModel.reset();
  BattleModel.reset();
  Textures.Clear();
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

TSceneState TfrmViewer::SceneState() const {
  TSceneState state;
  state.BackColour = FHost.BackColour();
  state.RotateX = TrkX->value();
  state.RotateY = TrkY->value();
  state.RotateZ = TrkZ->value();
  state.Zoom = trkZoom->value();
  state.PanX = FPanX;
  state.PanY = FPanY;
  state.Reflections = FHost.ReflectionsOn();
  state.FieldModel = FieldModel.get();
  state.BattleModel = BattleModel.get();
  state.Textures = &Textures;
  return state;
}

void TfrmViewer::SetFrameSlider(int maximum, int position) {
  QSignalBlocker block(trkFrame);
  trkFrame->setMaximum(std::max(maximum, 0));
  trkFrame->setValue(position);
  ShowFrameReadout();
}

int32_t TfrmViewer::ModelFrameCount() const {
  if (FieldModel) return FieldModel->FrameCount;
  if (BattleModel) return BattleModel->FrameCount();
  return 0;
}

// A battle model's frame slider reaches one past its last frame, which shows frame 0.
int32_t TfrmViewer::ShownFrame() const {
  const int32_t frames = ModelFrameCount();
  if (frames <= 0) return 0;
  if (FieldModel) return std::clamp(FieldModel->CurrentFrame, 0, frames - 1);
  const int32_t frame = BattleModel->Frame % frames;
  return frame < 0 ? frame + frames : frame;
}

void TfrmViewer::ShowFrameReadout() {
  const int32_t frames = ModelFrameCount();
  lblFrame->setText(QString("Frame %1 / %2").arg(frames > 0 ? ShownFrame() + 1 : 0).arg(frames));
}

void TfrmViewer::ShowRotateReadouts() {
  lblRX->setText(Degrees(trkRX->value()));
  lblRY->setText(Degrees(trkRY->value()));
  lblRZ->setText(Degrees(trkRZ->value()));
}

void TfrmViewer::ShowPoseEditing() {
  const bool field = FieldModel != nullptr;
  for (QWidget* control :
       std::initializer_list<QWidget*>{trkRX, trkRY, trkRZ, lblRX, lblRY, lblRZ, btnCopy})
    control->setEnabled(field);
  lblPoseNote->setVisible(BattleModel != nullptr);
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

// Advances the shown model by the frame clock while the Animation switch is on; a Quick
// Animation ends when it comes back to frame 0.
void TfrmViewer::Playback() {
  if (!FHost.AnimationOn()) return;
  int32_t frame = -1;
  if (FieldModel) {
    FieldModel->SetFrame(ClockFrame(GetTickCount(), FrameOffset, FieldModel->FrameCount));
    frame = FieldModel->CurrentFrame;
  } else if (BattleModel) {
    frame = ClockFrame(GetTickCount(), FrameOffset, BattleModel->FrameCount());
    BattleModel->Frame = frame;
  } else {
    return;
  }
  {
    QSignalBlocker block(trkFrame);
    trkFrame->setValue(frame);
  }
  // Only the caption repaints: the picture is being painted now.
  ShowFrameReadout();
  // A paint can come a little late and miss frame 0 of the clock; a frame lower than the
  // last one shown means the animation has come round, and it stops on frame 0 all the same.
  if (QuickAnimRunning && (frame == 0 || frame < FLastQuickFrame)) {
    if (frame != 0) {
      if (FieldModel)
        FieldModel->SetFrame(0);
      else
        BattleModel->Frame = 0;
      QSignalBlocker block(trkFrame);
      trkFrame->setValue(0);
      ShowFrameReadout();
    }
    QuickAnimRunning = false;
    FHost.SetAnimationOn(false);
  }
  FLastQuickFrame = frame;
}

void TfrmViewer::paintGL() {
  try {
    Playback();
    PaintScene(SceneState());
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
  if (isVisible() && FHost.AnimationOn()) update();
}

void TfrmViewer::trkFrameChange(int position) {
  if (FieldModel)
    FieldModel->SetFrame(position);
  else if (BattleModel)
    BattleModel->Frame = position;
  ShowFrameReadout();
  update();
}

bool TfrmViewer::ReleaseModel() {
  if (!FieldModel && !BattleModel) return true;
  if (AnimationsModified()) {
    switch (Dialogs().Ask("Model animations have changed! Update LGP?", true)) {
    case TDialogs::TAnswer::Cancel:
      return false;
    case TDialogs::TAnswer::Yes: {
      const std::string message =
          FieldModel ? Format("Saved %s into %s", FieldModel->AnimName, FieldModel->LGPFileName)
                     : Format("Saved the animations of %s into %s", BattleModel->Code,
                              BattleModel->LGPFileName);
      if (FieldModel) FieldModel->SaveAnimation();
      if (BattleModel) BattleModel->SaveAnimations();
      FHost.AnimationsSaved(message);
      break;
    }
    case TDialogs::TAnswer::No:
      break;
    }
  }
  MakeCurrent();
  Document.Attach(nullptr);
  FieldModel.reset();
  BattleModel.reset();
  FShownModel = {};
  Textures.Clear();
  Modified = false;
  FHost.AnimationsModifiedChanged(false);
  // A Quick Animation of the model let go is over: the next model does not play.
  if (QuickAnimRunning) {
    QuickAnimRunning = false;
    FHost.SetAnimationOn(false);
  }
  ResetModelControls();
  update();
  return true;
}

bool TfrmViewer::AnimationsModified() const {
  return (FieldModel && Modified) || (BattleModel && BattleModel->Modified());
}

void TfrmViewer::DropBattleModel() {
  if (!BattleModel) return;
  MakeCurrent();
  BattleModel.reset();
  if (FShownModel.IsBattle()) FShownModel = {};
  if (!FieldModel) {
    Textures.Clear();
    ResetModelControls();
  }
  update();
}

bool TfrmViewer::LoadModel(const TLGPFileClass& archiveClass, const std::string& path,
                           const TModelRef& model, const std::string& animName) {
  Log("LoadModel begin");
  // The previous model goes first, so that an animation it saves is read back as saved.
  if (!ReleaseModel()) return false;
  DropBattleModel();
  std::unique_ptr<TLGPFile> archive = archiveClass.Create(path, false);
  Log("LoadModel: Load parts");
  MakeCurrent();
  {
    auto loaded = std::make_unique<TFieldModel>(*archive, model.Member, animName);
    Textures.Add(*loaded);
    FieldModel = std::move(loaded);
    FShownModel = model;
  }
  FPaintFailed = false;
  {
    QSignalBlocker blockStart(trkStart), blockEnd(trkEnd);
    trkStart->setMaximum(FieldModel->BoneCount() - 1);
    trkStart->setValue(0);
    trkEnd->setMaximum(FieldModel->BoneCount() - 1);
    trkEnd->setValue(trkEnd->maximum());
  }
  SetFrameSlider(FieldModel->FrameCount - 1, 0);
  FieldModel->SetFrame(0);
  FHost.FieldModelLoaded(FieldModel->ShowBones, FieldModel->ShowBodies);
  archive.reset();
  lstParts->clear();
  FillPartsList(0, "");
  ShowPoseEditing();
  Document.Attach(FieldModel.get());
  Modified = false;
  Log("LoadModel done");
  PlayTimer->setInterval(80);
  update();
  return true;
}

void TfrmViewer::FillPartsList(int32_t bone, const std::string& prefix) {
  if (!FieldModel || bone < 0 || bone >= FieldModel->BoneCount()) return;
  // Depth first with an explicit stack; a bone is listed once even if the parents
  // should form a cycle.
  std::set<int32_t> listed;
  std::vector<std::pair<int32_t, std::string>> pending{{bone, prefix}};
  while (!pending.empty()) {
    auto [b, indent] = pending.back();
    pending.pop_back();
    if (!listed.insert(b).second) continue;
    lstParts->addItem(Text(indent + FieldModel->GetBone(b).Name));
    for (int32_t j = FieldModel->BoneCount() - 1; j >= 0; --j)
      if (FieldModel->GetBone(j).Parent == b && !listed.count(j))
        pending.push_back({j, indent + " "});
  }
}

bool TfrmViewer::LoadBattleModel(const TLGPFileClass& archiveClass, const std::string& path,
                                 const TModelRef& model) {
  if (!ReleaseModel()) return false;
  DropBattleModel();
  MakeCurrent();
  std::unique_ptr<TLGPFile> archive = archiveClass.Create(path, false);
  auto loaded = std::make_unique<TBattleModel>();
  loaded->LoadFromArchive(*archive, model.Code());
  Textures.Add(*loaded);
  PlayTimer->setInterval(80);
  BattleModel = std::move(loaded);
  FShownModel = model;
  SetFrameSlider(BattleModel->FrameCount(), 0);
  ShowPoseEditing();
  FPaintFailed = false;
  update();
  return true;
}

void TfrmViewer::SelectBattleAnimation(int32_t index) {
  if (!BattleModel) return;
  BattleModel->AnimIndex = index;
  BattleModel->Frame = 0;
  SetFrameSlider(BattleModel->FrameCount(), 0);
  update();
}

void TfrmViewer::AnimationReplaced() {
  if (FieldModel) {
    FieldModel->SetFrame(0);
    SetFrameSlider(FieldModel->FrameCount - 1, 0);
    update();
  } else if (BattleModel) {
    SelectBattleAnimation(BattleModel->AnimIndex);
  }
  FHost.AnimationsModifiedChanged(AnimationsModified());
}

void TfrmViewer::ShowEdits() {
  if (!FieldModel) return;
  // The frame slider follows an animation that changed its length (an import undone).
  if (trkFrame->maximum() != std::max(FieldModel->FrameCount - 1, 0))
    SetFrameSlider(FieldModel->FrameCount - 1,
                   std::min(FieldModel->CurrentFrame, std::max(FieldModel->FrameCount - 1, 0)));
  if (FieldModel->CurrentFrame < FieldModel->FrameCount)
    FieldModel->SetFrame(FieldModel->CurrentFrame);
  // The trackbars show the selected bone as it now is.
  if (FieldModel->SelectedBone >= 1 && !FEditing) BoneChosen(FieldModel->SelectedBone);
  update();
}

void TfrmViewer::SetEditable(bool on) {
  lstParts->setVisible(on);
  pRotate->setVisible(on);
}

void TfrmViewer::BoneChosen(int row) {
  if (!FieldModel || row < 0 || row >= FieldModel->BoneCount()) return;
  FieldModel->SelectedBone = row;
  // Loading the trackbars is not an edit: they show the angles truncated toward zero,
  // and the root (which has no rotation of its own) leaves them as they are.
  TVec3 rotation{float(trkRX->value()), float(trkRY->value()), float(trkRZ->value())};
  FieldModel->GetSelectedRotation(rotation);
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
  if (!FieldModel || FieldModel->SelectedBone < 1 ||
      FieldModel->SelectedBone >= FieldModel->BoneCount())
    return;
  TVec3 rotation;
  FieldModel->GetSelectedRotation(rotation);
  (tag == 0 ? rotation.X : tag == 1 ? rotation.Y : rotation.Z) = float(position);
  // Values passed while a trackbar is dragged make one step; each keyboard step its own.
  QSlider* slider = tag == 0 ? trkRX : tag == 1 ? trkRY : trkRZ;
  FEditing = true;
  struct TEditingDone {
    bool& Editing;
    ~TEditingDone() { Editing = false; }
  } done{FEditing};
  Document.SetRotation(FieldModel->SelectedBone, FieldModel->CurrentFrame, rotation,
                       slider->isSliderDown());
  update();
}

void TfrmViewer::btnCopyClick() {
  if (!FieldModel) return;
  if (!Dialogs().Confirm("WARNING! This will propagate the current bone rotations to every other "
                         "frame. IE: Every frame will become a copy of THIS one. SURE to continue?",
                         true))
    return;
  // The pose shown, written into every frame as one step.
  Document.CopyPoseToEveryFrame(FieldModel->CurrentFrame);
  // As the copy always left it: the last bone selected, the frame of the slider shown.
  FieldModel->SelectedBone = FieldModel->BoneCount() - 1;
  FieldModel->SetFrame(trkFrame->value());
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
  int32_t frames = FieldModel    ? FieldModel->FrameCount
                   : BattleModel ? BattleModel->FrameCount()
                                 : -1;
  if (frames < 0) return;
  QuickAnimRunning = true;
  FLastQuickFrame = 0;
  FrameOffset = QuickAnimationOffset(GetTickCount(), frames);
  FHost.SetAnimationOn(true);
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
  if (!FHost.AnimationOn()) return;
  QuickAnimRunning = false;
  FHost.SetAnimationOn(false);
}

void TfrmViewer::StepFrame(int delta) {
  const int32_t frames = ModelFrameCount();
  if (frames <= 0) return;
  Pause();
  const int64_t frame = std::clamp<int64_t>(int64_t(ShownFrame()) + delta, 0, frames - 1);
  ShowFrame(int32_t(frame));
}

void TfrmViewer::FirstFrame() {
  if (ModelFrameCount() <= 0) return;
  Pause();
  ShowFrame(0);
}

void TfrmViewer::TogglePlay() {
  if (FHost.AnimationOn()) {
    Pause();
    return;
  }
  const int32_t frames = ModelFrameCount();
  if (frames > 0) FrameOffset = ClockOffsetAt(GetTickCount(), ShownFrame(), frames);
  FHost.SetAnimationOn(true);
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
  FPanX += float(pixelsX * scale);
  FPanY -= float(pixelsY * scale);
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
  const TFraming framing =
      FrameModel(SceneState(), double(width()) / std::max(height(), 1), FrameFill, FreeArea());
  if (!framing.Found) return;
  FPanX = framing.PanX;
  FPanY = framing.PanY;
  // The nearest whole zoom at which it fits, as far as the trackbar goes.
  trkZoom->setValue(int(
      std::clamp(std::ceil(framing.Zoom), double(trkZoom->minimum()), double(trkZoom->maximum()))));
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
