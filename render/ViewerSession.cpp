#include "render/ViewerSession.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"

#include <algorithm>
#include <cmath>

namespace palkor {

TViewerSession::TViewerSession() = default;

TViewerSession::~TViewerSession() = default;

void TViewerSession::LoadFieldModel(TLGPFile& archive, const TModelRef& model,
                                    const std::string& animName) {
  Clear();
  auto loaded = std::make_unique<TFieldModel>(archive, model.Member, animName);
  FTextures.Add(*loaded);
  FField = std::move(loaded);
  FModel = model;
  Options.FirstBone = 0;
  Options.LastBone = FField->BoneCount() - 1;
  Options.SelectedBone = -1;
}

void TViewerSession::LoadFieldModel(const TArchiveKind& archive, const TModelRef& model,
                                    const std::string& animName) {
  Clear();
  std::unique_ptr<TLGPFile> file = archive.Open();
  LoadFieldModel(*file, model, animName);
}

void TViewerSession::LoadBattleModel(TLGPFile& archive, const TModelRef& model) {
  Clear();
  auto loaded = std::make_unique<TBattleModel>();
  loaded->LoadFromArchive(archive, model.Code());
  FTextures.Add(*loaded);
  FBattle = std::move(loaded);
  FModel = model;
}

void TViewerSession::LoadBattleModel(const TArchiveKind& archive, const TModelRef& model) {
  Clear();
  std::unique_ptr<TLGPFile> file = archive.Open();
  LoadBattleModel(*file, model);
}

void TViewerSession::RefreshTextures() {
  if (FField) FTextures.Add(*FField);
  if (FBattle) FTextures.Add(*FBattle);
}

void TViewerSession::Clear() {
  FModel = {};
  FField.reset();
  FBattle.reset();
  FTextures.Clear();
  FBattleAnimation = 0;
  FBattleFrame = 0;
}

TArchiveKind TViewerSession::Archive() const {
  TArchiveKind kind;
  if (FField && FField->LGPClass) {
    kind.Class = FField->LGPClass;
    kind.Path = FField->LGPFileName;
  } else if (FBattle && FBattle->LGPClass) {
    kind.Class = FBattle->LGPClass;
    kind.Path = FBattle->LGPFileName;
  }
  return kind;
}

void TViewerSession::ChooseBattleAnimation(int32_t index) {
  if (!FBattle) return;
  FBattleAnimation = FBattle->AnimationIndex(index);
  FBattleFrame = 0;
}

int32_t TViewerSession::FrameCount() const {
  if (FField) return FField->FrameCount;
  if (FBattle) return FBattle->FrameCount(FBattleAnimation);
  return 0;
}

int32_t TViewerSession::LastFrame() const {
  if (FField) return std::max(FField->FrameCount - 1, 0);
  return FrameCount();
}

int32_t TViewerSession::Frame() const {
  if (FField) return FField->CurrentFrame;
  return FBattle ? FBattleFrame : 0;
}

int32_t TViewerSession::ShownFrame() const {
  const int32_t frames = FrameCount();
  if (frames <= 0) return 0;
  if (FField) return std::clamp(FField->CurrentFrame, 0, frames - 1);
  const int32_t frame = FBattleFrame % frames;
  return frame < 0 ? frame + frames : frame;
}

void TViewerSession::SetFrame(int32_t frame) {
  if (FField)
    FField->SetFrame(frame);
  else if (FBattle)
    FBattleFrame = frame;
}

TSceneState TViewerSession::SceneState() const {
  TSceneState state;
  state.Options = Options;
  state.RotateX = Camera.RotateX;
  state.RotateY = Camera.RotateY;
  state.RotateZ = Camera.RotateZ;
  state.Zoom = Camera.Zoom;
  state.PanX = Camera.PanX;
  state.PanY = Camera.PanY;
  state.FieldModel = FField.get();
  state.BattleModel = FBattle.get();
  state.BattleAnimation = FBattleAnimation;
  state.BattleFrame = FBattleFrame;
  state.Textures = &FTextures;
  return state;
}

bool TViewerSession::FrameWholeModel(double aspect, double fill, const TPictureArea& area,
                                     int32_t minZoom, int32_t maxZoom, bool wholeAnimation) {
  const TFraming framing = FrameModel(SceneState(), aspect, fill, area, wholeAnimation);
  if (!framing.Found) return false;
  Camera.PanX = framing.PanX;
  Camera.PanY = framing.PanY;
  Camera.Zoom = int32_t(
      std::clamp(std::ceil(framing.Zoom), double(minZoom), double(std::max(minZoom, maxZoom))));
  return true;
}

} // namespace palkor
