#pragma once

#include "archive/LGPFile.h"
#include "archive/ModelRef.h"
#include "render/ViewOptions.h"
#include "render/scene.h"
#include "render/textures.h"

#include <cstdint>
#include <memory>
#include <string>

namespace palkor {

class TFieldModel;
class TBattleModel;

// Where the eye is: the model's turn about X, Y and Z in whole degrees, the eye's distance
// from the target, and the whole world moved across the picture.
struct TViewCamera {
  int32_t RotateX = 0, RotateY = 0, RotateZ = 0;
  int32_t Zoom = 30;
  float PanX = 0, PanY = 0;
};

// One model on show, as the model viewer shows it, without a window: the archive it came
// from, the field or battle model, its animation and frame (a field model's pose is the
// model's own), the view options and the camera. The window, the render command and the
// thumbnails all drive one of these and paint it into a GL context of theirs.
//
// The textures of the model shown live in the GL context that was current when it was
// loaded: that context must be current whenever a model is loaded or let go, and when the
// session goes with a model still in it.
class TViewerSession {
public:
  TViewerSession();
  ~TViewerSession();
  TViewerSession(const TViewerSession&) = delete;
  TViewerSession& operator=(const TViewerSession&) = delete;

  // The field model of model (its HRC member) posed by the animation member animName
  // ("" for none) of archive, at frame 0, in place of any model shown. The bone range
  // becomes the whole skeleton and no bone is selected. On failure nothing is shown and
  // the error goes on.
  void LoadFieldModel(TLGPFile& archive, const TModelRef& model, const std::string& animName);
  void LoadFieldModel(const TArchiveKind& archive, const TModelRef& model,
                      const std::string& animName);
  // The battle model of model (by its code), at animation 0, frame 0, in place of any
  // model shown. On failure nothing is shown and the error goes on.
  void LoadBattleModel(TLGPFile& archive, const TModelRef& model);
  void LoadBattleModel(const TArchiveKind& archive, const TModelRef& model);
  // Lets the model shown go, and its textures.
  void Clear();
  // Makes the textures of images the model shows that have none yet (a texture
  // replaced); the context the model was loaded in must be current.
  void RefreshTextures();

  // Which model is shown, as it was given to the loader; an empty reference (no member)
  // when none is.
  const TModelRef& Model() const { return FModel; }

  TFieldModel* FieldModel() const { return FField.get(); }
  TBattleModel* BattleModel() const { return FBattle.get(); }
  bool HasModel() const { return FField || FBattle; }
  // The archive the model shown was read from; none without a model.
  TArchiveKind Archive() const;

  // A battle model's animation: index brought into range, shown from frame 0. Nothing
  // without a battle model.
  void ChooseBattleAnimation(int32_t index);
  int32_t BattleAnimation() const { return FBattleAnimation; }

  // The frames of the animation shown; 0 without a model or an animation.
  int32_t FrameCount() const;
  // The last position of a frame slider: the last frame of a field animation, and the
  // frame count of a battle animation, whose frame one past the last shows frame 0.
  int32_t LastFrame() const;
  // The frame set last, as it was set; a battle model may hold its frame count, which
  // shows frame 0.
  int32_t Frame() const;
  // The frame on show, from 0 to the frame count - 1 (0 without frames).
  int32_t ShownFrame() const;
  // Shows frame: a field model is posed at it ("Stream read error" outside the
  // animation); a battle model shows it brought into range.
  void SetFrame(int32_t frame);

  // The scene to paint: the camera, the options and the model as posed now.
  TSceneState SceneState() const;
  // Paints the scene into the current context (set up with SetupScene and ResizeScene).
  void Paint() const { PaintScene(SceneState()); }
  // Pans and zooms so that the model, posed as it is (with wholeAnimation: at every frame
  // of its animation), fills fill of area of a picture width / height = aspect, at the
  // nearest whole zoom from minZoom to maxZoom. False, and nothing changed, when the
  // scene draws nothing.
  bool FrameWholeModel(double aspect, double fill, const TPictureArea& area, int32_t minZoom,
                       int32_t maxZoom, bool wholeAnimation = false);

  TViewOptions Options;
  TViewCamera Camera;

private:
  TModelRef FModel;
  std::unique_ptr<TFieldModel> FField;
  std::unique_ptr<TBattleModel> FBattle;
  int32_t FBattleAnimation = 0;
  int32_t FBattleFrame = 0;
  TTextureSet FTextures;
};

} // namespace palkor
