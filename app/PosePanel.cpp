#include "app/PosePanel.h"

#include "app/TextureFiles.h"
#include "platform/Dialogs.h"
#include "platform/StringList.h"
#include "platform/images.h"
#include "render/QtGuard.h"
#include "render/QtText.h"
#include "texturiser/TexturiserWindow.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>

namespace palkor {

namespace {

QString Degrees(int value) {
  return QString("%1\u00B0").arg(value);
}

QSlider* RotationTrackbar(QWidget* parent, const char* name) {
  auto* slider = new QSlider(Qt::Vertical, parent);
  slider->setObjectName(name);
  slider->setRange(0, 360);
  slider->setTickInterval(15);
  slider->setTickPosition(QSlider::TicksRight);
  return slider;
}

} // namespace

TPosePanel::TPosePanel(TfrmViewer& viewer, TAnimationDocument& document)
    : QWidget(&viewer), FViewer(viewer), FDocument(document) {
  setObjectName("pRotate");
  setAutoFillBackground(true);
  lstParts = new QListWidget(&viewer);
  lstParts->setObjectName("lstParts");

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(2, 2, 2, 2);
  lblPoseNote = new QLabel("Pose editing is for field models", this);
  lblPoseNote->setObjectName("lblPoseNote");
  lblPoseNote->setWordWrap(true);
  lblPoseNote->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  lblPoseNote->hide();
  column->addWidget(lblPoseNote);
  auto* sliders = new QHBoxLayout();
  sliders->setSpacing(0);
  trkRX = RotationTrackbar(this, "trkRX");
  trkRY = RotationTrackbar(this, "trkRY");
  trkRZ = RotationTrackbar(this, "trkRZ");
  lblRX = new QLabel(this);
  lblRY = new QLabel(this);
  lblRZ = new QLabel(this);
  lblRX->setObjectName("lblRX");
  lblRY->setObjectName("lblRY");
  lblRZ->setObjectName("lblRZ");
  for (auto [slider, caption, readout] :
       {std::tuple{trkRX, "X", lblRX}, {trkRY, "Y", lblRY}, {trkRZ, "Z", lblRZ}}) {
    QFont small = readout->font();
    small.setPointSize(7);
    readout->setFont(small);
    readout->setAlignment(Qt::AlignHCenter);
    readout->setSizePolicy(QSizePolicy::Ignored, readout->sizePolicy().verticalPolicy());
    auto* one = new QVBoxLayout();
    one->addWidget(new QLabel(caption, this), 0, Qt::AlignHCenter);
    one->addWidget(slider, 1, Qt::AlignHCenter);
    one->addWidget(readout);
    sliders->addLayout(one);
  }
  column->addLayout(sliders, 1);
  btnCopy = new QPushButton("Cpy", this);
  btnCopy->setObjectName("btnCopy");
  column->addWidget(btnCopy);

  // Wide enough for three trackbars with the widest value under each.
  const int width =
      std::max(66, 3 * (lblRX->fontMetrics().horizontalAdvance(Degrees(360)) + 2) + 4);
  viewer.SetSidePanels(lstParts, this, width);

  ConnectGuarded(lstParts, &QListWidget::currentRowChanged, this,
                 [this](int row) { ChooseBone(row); });
  lstParts->setContextMenuPolicy(Qt::CustomContextMenu);
  ConnectGuarded(lstParts, &QListWidget::customContextMenuRequested, this,
                 [this](const QPoint& at) { ShowTextureMenu(at); });
  int tag = 0;
  for (QSlider* slider : {trkRX, trkRY, trkRZ}) {
    // A drag is one step to undo, however many values it passes through.
    connect(slider, &QSlider::sliderPressed, this, [this] { FDocument.BeginDrag(); });
    ConnectGuarded(slider, &QSlider::valueChanged, this, [this, tag](int position) {
      ShowReadouts();
      SetComponent(tag, position);
    });
    ++tag;
  }
  ConnectGuarded(btnCopy, &QPushButton::clicked, this, [this] { CopyPoseToEveryFrame(); });
  FViewer.PartDoubleClicked = [this](int32_t bone, int32_t part, QPoint global) {
    return OfferPartTextures(bone, part, global);
  };
  ConnectGuarded(&FDocument, &TAnimationDocument::BoneSelected, this,
                 [this](int32_t bone) { SelectBone(bone); });
  for (auto [slider, axis] : {std::pair{trkRX, "X"}, {trkRY, "Y"}, {trkRZ, "Z"}})
    slider->setToolTip(QString("The chosen bone's turn about %1 in the frame on show: choose a "
                               "bone in the list first")
                           .arg(axis));
  ModelChanged();
}

void TPosePanel::ModelChanged() {
  {
    QSignalBlocker blockList(lstParts);
    lstParts->clear();
    FillBoneList();
  }
  {
    QSignalBlocker blockX(trkRX), blockY(trkRY), blockZ(trkRZ);
    for (QSlider* slider : {trkRX, trkRY, trkRZ}) slider->setValue(0);
  }
  ShowReadouts();
  UpdateControls();
  lblPoseNote->setVisible(FViewer.Session().BattleModel() != nullptr);
}

void TPosePanel::UpdateControls() {
  const TFieldModel* model = FViewer.Session().FieldModel();
  const int32_t selected = FViewer.Session().Options.SelectedBone;
  const bool bone = model && selected >= 1 && selected < model->BoneCount();
  for (QWidget* control : std::initializer_list<QWidget*>{trkRX, trkRY, trkRZ, lblRX, lblRY, lblRZ})
    control->setEnabled(bone);
  btnCopy->setEnabled(model != nullptr);
}

void TPosePanel::SelectBone(int32_t bone) {
  const TFieldModel* model = FViewer.Session().FieldModel();
  if (!model) return;
  if (bone < 0 || bone >= model->BoneCount()) bone = -1;
  {
    QSignalBlocker block(lstParts);
    lstParts->setCurrentRow(bone);
  }
  if (bone >= 0) {
    ChooseBone(bone);
    return;
  }
  FViewer.Session().Options.SelectedBone = -1;
  UpdateControls();
  FViewer.update();
}

// Depth first with an explicit stack; a bone is listed once even if the parents should
// form a cycle.
void TPosePanel::FillBoneList() {
  const TFieldModel* model = FViewer.Session().FieldModel();
  if (!model || model->BoneCount() == 0) return;
  std::set<int32_t> listed;
  std::vector<std::pair<int32_t, std::string>> pending{{0, ""}};
  while (!pending.empty()) {
    auto [b, indent] = pending.back();
    pending.pop_back();
    if (!listed.insert(b).second) continue;
    lstParts->addItem(Text(indent + model->GetBone(b).Name));
    for (int32_t j = model->BoneCount() - 1; j >= 0; --j)
      if (model->GetBone(j).Parent == b && !listed.count(j)) pending.push_back({j, indent + " "});
  }
}

void TPosePanel::ShowReadouts() {
  lblRX->setText(Degrees(trkRX->value()));
  lblRY->setText(Degrees(trkRY->value()));
  lblRZ->setText(Degrees(trkRZ->value()));
}

void TPosePanel::ShowEdits() {
  const int32_t selected = FViewer.Session().Options.SelectedBone;
  if (FViewer.Session().FieldModel() && selected >= 1 && !FEditing) ChooseBone(selected);
}

void TPosePanel::ChooseBone(int row) {
  const TFieldModel* model = FViewer.Session().FieldModel();
  if (!model || row < 0 || row >= model->BoneCount()) return;
  FViewer.Session().Options.SelectedBone = row;
  TVec3 rotation{float(trkRX->value()), float(trkRY->value()), float(trkRZ->value())};
  if (row >= 1) {
    const TFieldBone& bone = model->GetBone(row);
    rotation = {bone.RotX, bone.RotY, bone.RotZ};
  }
  {
    QSignalBlocker blockX(trkRX), blockY(trkRY), blockZ(trkRZ);
    trkRX->setValue(int(rotation.X));
    trkRY->setValue(int(rotation.Y));
    trkRZ->setValue(int(rotation.Z));
  }
  ShowReadouts();
  UpdateControls();
  FViewer.update();
}

void TPosePanel::SetComponent(int tag, int position) {
  const TFieldModel* model = FViewer.Session().FieldModel();
  const int32_t selected = FViewer.Session().Options.SelectedBone;
  if (!model || selected < 1 || selected >= model->BoneCount()) return;
  const TFieldBone& bone = model->GetBone(selected);
  TVec3 rotation{bone.RotX, bone.RotY, bone.RotZ};
  (tag == 0 ? rotation.X : tag == 1 ? rotation.Y : rotation.Z) = float(position);
  // Values passed while a trackbar is dragged make one step; each keyboard step its own.
  QSlider* slider = tag == 0 ? trkRX : tag == 1 ? trkRY : trkRZ;
  FEditing = true;
  struct TEditingDone {
    bool& Editing;
    ~TEditingDone() { Editing = false; }
  } done{FEditing};
  FDocument.SetRotation(selected, model->CurrentFrame, rotation, slider->isSliderDown());
  FViewer.update();
}

void TPosePanel::CopyPoseToEveryFrame() {
  TFieldModel* model = FViewer.Session().FieldModel();
  if (!model) return;
  if (!Dialogs().Confirm("WARNING! This will propagate the current bone rotations to every other "
                         "frame. IE: Every frame will become a copy of THIS one. SURE to continue?",
                         true))
    return;
  // The pose shown, written into every frame as one step.
  FDocument.CopyPoseToEveryFrame(model->CurrentFrame, FViewer.Session().Options.SelectedBone);
  // As the copy always left it: the last bone selected (the list and the trackbars
  // showing it), the frame of the slider shown.
  TViewerSession& session = FViewer.Session();
  session.SetFrame(session.Frame());
  SelectBone(model->BoneCount() - 1);
}

namespace {

void AddOnce(std::vector<std::string>& members, const std::string& name) {
  for (const std::string& member : members)
    if (SameTextASCII(member, name)) return;
  members.push_back(name);
}

} // namespace

std::vector<std::string> TPosePanel::TexturesOfBone(int row) const {
  std::vector<std::string> members;
  const TFieldModel* model = FViewer.Session().FieldModel();
  if (!model || row < 0 || row >= model->BoneCount()) return members;
  for (const auto& part : model->GetBone(row).Parts)
    for (const std::string& name : part->TextureNames) AddOnce(members, name);
  return members;
}

std::vector<std::string> TPosePanel::TexturesOfPart(int32_t bone, int32_t part) const {
  std::vector<std::string> members;
  const TFieldModel* model = FViewer.Session().FieldModel();
  if (!model || bone < 0 || bone >= model->BoneCount()) return members;
  const auto& parts = model->GetBone(bone).Parts;
  if (part < 0 || size_t(part) >= parts.size()) return members;
  for (const std::string& name : parts[size_t(part)]->TextureNames) AddOnce(members, name);
  return members;
}

bool TPosePanel::OfferPartTextures(int32_t bone, int32_t part, QPoint global) {
  const std::vector<std::string> members = TexturesOfPart(bone, part);
  if (members.empty()) return false;
  SelectBone(bone);
  ShowTextureMenu(members, global);
  return true;
}

void TPosePanel::ShowTextureMenu(const QPoint& at) {
  const QModelIndex index = lstParts->indexAt(at);
  if (!index.isValid()) return;
  const std::vector<std::string> members = TexturesOfBone(index.row());
  if (members.empty()) return;
  ShowTextureMenu(members, lstParts->viewport()->mapToGlobal(at));
}

void TPosePanel::ShowTextureMenu(const std::vector<std::string>& members, QPoint global) {
  QMenu menu(this);
  menu.setObjectName("mnuTextures");
  for (const std::string& member : members) {
    ConnectGuarded(menu.addAction(Text("Replace Texture " + member + "...")), &QAction::triggered,
                   this, [this, member] { ReplaceTexture(member); });
    ConnectGuarded(menu.addAction(Text("Export Texture " + member + "...")), &QAction::triggered,
                   this, [this, member] { ExportTexture(member); });
  }
  menu.exec(global);
}

void TPosePanel::ReplaceTexture(const std::string& member) {
  if (!FDocument.TextureOf(member)) return;
  std::string file;
  if (!Dialogs().OpenFile("Pictures|*.png *.bmp *.jpg *.jpeg *.gif *.tga *.webp|All files|*", "png",
                          file))
    return;
  const TTexImage picture = ReadPictureFile(file);

  // The member as it is now (replaced and not yet saved, or in the archive) lends its
  // header and kind.
  std::string current = FDocument.TextureBytes(member);
  if (current.empty()) {
    std::unique_ptr<TLGPFile> archive = FViewer.Session().Archive().Open();
    const int32_t index = archive->IndexOf(member);
    if (index < 0) throw EListError(index);
    current = archive->ReadMemberToMemory(index)->View();
  }
  TTexImportResult result;
  std::string bytes = EncodeTexture(picture, current, {}, result);
  TMemoryStream stream(bytes);
  std::shared_ptr<const TTexImage> image = LoadTEX(stream, TEXDataOffset);
  FDocument.ReplaceTexture(member, image, std::move(bytes), Text("Replace Texture " + member));
}

void TPosePanel::ExportTexture(const std::string& member) {
  std::shared_ptr<const TTexImage> image = FDocument.TextureOf(member);
  if (!image) return;
  std::string file = TexPictureName(member);
  if (!Dialogs().SaveFile("PNG pictures|*.png", "png", file)) return;
  WritePNG(file, image->Width, image->Height, image->Pixels.data(), 4);
}

} // namespace palkor
