#include "render/viewerform.h"

#include "render/QtText.h"

#include "archive/DebugLog.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

#include <QGridLayout>
#include <QLabel>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <GL/gl.h>

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
  place("Frame", trkFrame, 1, 2);
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
  auto* sliders = new QHBoxLayout();
  trkRX = Trackbar(Qt::Vertical, 360, 0, 15, pRotate);
  trkRY = Trackbar(Qt::Vertical, 360, 0, 15, pRotate);
  trkRZ = Trackbar(Qt::Vertical, 360, 0, 15, pRotate);
  for (auto [slider, caption] : {std::pair{trkRX, "X"}, {trkRY, "Y"}, {trkRZ, "Z"}}) {
    auto* one = new QVBoxLayout();
    one->addWidget(new QLabel(caption, pRotate), 0, Qt::AlignHCenter);
    one->addWidget(slider, 1, Qt::AlignHCenter);
    sliders->addLayout(one);
  }
  column->addLayout(sliders, 1);
  btnCopy = new QPushButton("Cpy", pRotate);
  column->addWidget(btnCopy);
  pRotate->hide();

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
          [this](int row) { Guarded([&] { lstPartsClick(row); }); });
  int tag = 0;
  for (QSlider* slider : {trkRX, trkRY, trkRZ}) {
    connect(slider, &QSlider::valueChanged, this,
            [this, tag](int position) { Guarded([&] { trkRZChange(tag, position); }); });
    ++tag;
  }
  connect(btnCopy, &QPushButton::clicked, this, [this] { Guarded([&] { btnCopyClick(); }); });

  Timer1 = new QTimer(this);
  Timer1->setInterval(20);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();
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
  pRotate->setGeometry(width() - 44, 0, 44, height());
}

TSceneState TfrmViewer::SceneState() const {
  TSceneState state;
  state.BackColour = FHost.BackColour();
  state.RotateX = TrkX->value();
  state.RotateY = TrkY->value();
  state.RotateZ = TrkZ->value();
  state.Zoom = trkZoom->value();
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
void TfrmViewer::Timer1Timer() {
  if (isVisible() && FHost.AnimationOn()) update();
}

void TfrmViewer::trkFrameChange(int position) {
  if (FieldModel)
    FieldModel->SetFrame(position);
  else if (BattleModel)
    BattleModel->Frame = position;
  update();
}

bool TfrmViewer::ReleaseModel() {
  if (!FieldModel && !BattleModel) return true;
  if (AnimationsModified()) {
    switch (Dialogs().Ask("Model animations have changed! Update LGP?", true)) {
    case TDialogs::TAnswer::Cancel:
      return false;
    case TDialogs::TAnswer::Yes:
      if (FieldModel) FieldModel->SaveAnimation();
      if (BattleModel) BattleModel->SaveAnimations();
      break;
    case TDialogs::TAnswer::No:
      break;
    }
  }
  MakeCurrent();
  FieldModel.reset();
  BattleModel.reset();
  Textures.Clear();
  Modified = false;
  update();
  return true;
}

bool TfrmViewer::AnimationsModified() const {
  return (FieldModel && Modified) || (BattleModel && BattleModel->Modified());
}

void TfrmViewer::DropBattleModel() {
  MakeCurrent();
  BattleModel.reset();
  if (!FieldModel) Textures.Clear();
  update();
}

bool TfrmViewer::LoadModel(const TLGPFileClass& archiveClass, const std::string& path,
                           const std::string& hrcName, const std::string& animName) {
  Log("LoadModel begin");
  // The previous model goes first, so that an animation it saves is read back as saved.
  if (!ReleaseModel()) return false;
  DropBattleModel();
  std::unique_ptr<TLGPFile> archive = archiveClass.Create(path, false);
  Log("LoadModel: Load parts");
  MakeCurrent();
  {
    auto model = std::make_unique<TFF7Model>(*archive, hrcName, animName);
    Textures.Add(*model);
    FieldModel = std::move(model);
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
  Modified = false;
  Log("LoadModel done");
  Timer1->setInterval(80);
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
                                 const std::string& code) {
  if (!ReleaseModel()) return false;
  DropBattleModel();
  MakeCurrent();
  std::unique_ptr<TLGPFile> archive = archiveClass.Create(path, false);
  auto model = std::make_unique<TBattleModel>();
  model->LoadFromArchive(*archive, code);
  Textures.Add(*model);
  SetFrameSlider(model->FrameCount(), 0);
  Timer1->setInterval(80);
  BattleModel = std::move(model);
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
    Modified = true;
    update();
  } else if (BattleModel) {
    SelectBattleAnimation(BattleModel->AnimIndex);
  }
}

void TfrmViewer::SetEditable(bool on) {
  lstParts->setVisible(on);
  pRotate->setVisible(on);
}

void TfrmViewer::lstPartsClick(int row) {
  if (!FieldModel || row < 0 || row >= FieldModel->BoneCount()) return;
  FieldModel->SelectedBone = row;
  // Loading the trackbars is not an edit: they show the angles truncated toward zero,
  // and the root (which has no rotation of its own) leaves them as they are.
  TVec3 rotation{float(trkRX->value()), float(trkRY->value()), float(trkRZ->value())};
  FieldModel->GetSelectedRotation(rotation);
  QSignalBlocker blockX(trkRX), blockY(trkRY), blockZ(trkRZ);
  trkRX->setValue(int(rotation.X));
  trkRY->setValue(int(rotation.Y));
  trkRZ->setValue(int(rotation.Z));
  update();
}

void TfrmViewer::trkRZChange(int tag, int position) {
  if (!FieldModel || FieldModel->SelectedBone < 1 ||
      FieldModel->SelectedBone >= FieldModel->BoneCount())
    return;
  TVec3 rotation;
  FieldModel->GetSelectedRotation(rotation);
  (tag == 0 ? rotation.X : tag == 1 ? rotation.Y : rotation.Z) = float(position);
  FieldModel->SetSelectedRotation(rotation);
  Modified = true;
  update();
}

void TfrmViewer::btnCopyClick() {
  if (!FieldModel) return;
  if (!Dialogs().Confirm("WARNING! This will propagate the current bone rotations to every other "
                         "frame. IE: Every frame will become a copy of THIS one. SURE to continue?",
                         true))
    return;
  std::vector<TVec3> pose;
  for (int32_t j = 1; j < FieldModel->BoneCount(); ++j) {
    const TFF7Parts& bone = FieldModel->GetBone(j);
    pose.push_back({bone.RotX, bone.RotY, bone.RotZ});
  }
  for (int32_t f = 0; f < FieldModel->FrameCount; ++f) {
    FieldModel->SetFrame(f);
    for (int32_t j = 1; j < FieldModel->BoneCount(); ++j) {
      FieldModel->SelectedBone = j;
      FieldModel->SetSelectedRotation(pose[size_t(j - 1)]);
    }
  }
  Modified = true;
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

} // namespace palkor
