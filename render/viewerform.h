#pragma once

#include "archive/LGPFile.h"
#include "archive/ModelRef.h"
#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "render/CgWindow.h"
#include "render/animdocument.h"
#include "render/scene.h"
#include "render/textures.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

namespace palkor {

// What the viewer reads from, and tells, the main window.
class TViewerHost {
public:
  virtual ~TViewerHost() = default;
  virtual bool AnimationOn() const = 0;
  // Checks or unchecks the Animation switch (Quick Animation).
  virtual void SetAnimationOn(bool on) = 0;
  virtual bool ReflectionsOn() const = 0;
  virtual uint32_t BackColour() const = 0;
  // A field model was loaded: its bone and body flags, for the switches to show.
  virtual void FieldModelLoaded(bool showBones, bool showBodies) = 0;
  // The model on show has, or no longer has, animations not yet saved.
  virtual void AnimationsModifiedChanged(bool modified) {}
  // Animations were written into the archive: what, where.
  virtual void AnimationsSaved(const std::string& message) {}
};

// Added to the frame clock; set by Quick Animation.
extern int32_t FrameOffset;
// A Quick Animation is playing: it stops when it comes back to frame 0.
extern bool QuickAnimRunning;

// The model viewer: one field or battle model at a time, turned, zoomed, played on the
// 80 ms frame clock or stepped through, with the trackbars on top of the picture.
// With the mouse: a left drag turns the model (the Rotate X and Y trackbars follow), the
// wheel zooms, a right or middle drag pans, a double-click frames the whole model. With
// the keys, once clicked: Space plays and pauses, Left and Right step a frame, Home goes
// to frame 0.
class TfrmViewer : public TCGForm {
  Q_OBJECT
public:
  explicit TfrmViewer(TViewerHost& host, QWidget* parent = nullptr);
  ~TfrmViewer() override;

  // Loads field model model (its HRC member) from the archive of class at path; the
  // previous field model is released first (offering to save its edits), then the
  // archive is opened. False, and nothing changed, when the user cancels the question
  // about the edits.
  bool LoadModel(const TLGPFileClass& archiveClass, const std::string& path, const TModelRef& model,
                 const std::string& animName);
  // Offers to save edited animations ("Model animations have changed! Update LGP?") and
  // lets the model on show go, field or battle: Yes saves, No discards. Cancel keeps the
  // model and its edits and returns false. If saving fails the model stays and the error
  // goes on. Once the model is gone, nothing of it stays on show (bone list, bone range,
  // frame slider, pose trackbars), and a Quick Animation of it ends.
  bool ReleaseModel();
  // The model on show has animations not yet saved: the field model's edits (Modified)
  // or the battle model's replaced animations.
  bool AnimationsModified() const;
  // Loads battle model model (by its code); an edited model is asked about first (false
  // when cancelled, nothing changed).
  bool LoadBattleModel(const TLGPFileClass& archiveClass, const std::string& path,
                       const TModelRef& model);
  // Which model is on show, as it was given to LoadModel or LoadBattleModel; an empty
  // reference (no member) when none is.
  const TModelRef& ShownModel() const { return FShownModel; }
  void SelectBattleAnimation(int32_t index);
  // Drops the battle model, if any, without asking: see ReleaseModel.
  void DropBattleModel();
  // The current animation of the model on show was replaced in memory: the frame slider
  // takes its frame count and frame 0 is shown. A field model is marked Modified (a
  // battle model marks itself).
  void AnimationReplaced();
  // The field animation changed by an edit, an undo or a redo: the picture, the frame
  // slider and the trackbars follow.
  void ShowEdits();
  // The bone tree of the field model into lstParts: bone i and, indented by one more
  // space, its children in index order.
  void FillPartsList(int32_t bone, const std::string& prefix);
  void SetEditable(bool on);
  // Quick Animation: plays the shown model's animation once, from frame 1 to frame 0.
  void QuickAnimation();
  // Pose editing: choosing a bone loads the rotation trackbars from it; moving one writes
  // that component into the current frame; "Cpy" copies the pose to every frame.
  void BoneChosen(int row);
  void PoseTrackbarMoved(int tag, int position);
  void btnCopyClick();
  // Stops playing (a Quick Animation too) and shows the frame delta frames away from the
  // one on show, stopping at the first and the last.
  void StepFrame(int delta);
  // Stops playing and shows frame 0.
  void FirstFrame();
  // Switches Animation off, or on so that it plays on from the frame on show.
  void TogglePlay();
  // Pans and zooms so that the model on show, posed as it is, fills the part of the
  // picture the panels leave free (as far as the Zoom trackbar reaches). Nothing changes
  // without a model that draws something.
  void FrameWholeModel();
  // The turn trackbars moved by whole degrees, wrapping round within their range.
  void TurnBy(int degreesX, int degreesY);
  // The Zoom trackbar moved by steps (negative: nearer), kept within its range.
  void ZoomBy(int steps);
  // The picture moved by pixels (right and down), its pan in the scene's units.
  void PanBy(int pixelsX, int pixelsY);

  // The picture as the viewer draws it now: its framebuffer as top-down RGB.
  std::vector<uint8_t> CapturePixels(int& width, int& height);
  // The scene as it would be painted now.
  TSceneState SceneState() const;

  std::unique_ptr<TFieldModel> FieldModel;
  std::unique_ptr<TBattleModel> BattleModel;
  // The shown model's textures, in this window's context.
  TTextureSet Textures;
  // The field animation's edits, each one a step that can be undone; Modified mirrors
  // whether the animation is away from the state saved.
  TAnimationDocument Document;
  bool Modified = false;

  QWidget* pControls;
  QSlider *TrkX, *TrkY, *TrkZ, *trkStart, *trkEnd, *trkZoom, *trkFrame;
  // The frame slider's caption: "Frame 5 / 24", the frame on show counted from 1 and the
  // animation's frame count ("Frame 0 / 0" without frames).
  QLabel* lblFrame;
  QPushButton* btnQuickAnim;
  QListWidget* lstParts;
  QWidget* pRotate;
  QSlider *trkRX, *trkRY, *trkRZ;
  // Each pose trackbar's value in degrees, under it.
  QLabel *lblRX, *lblRY, *lblRZ;
  // Shown in place of the pose controls, which are disabled, while a battle model is on
  // show.
  QLabel* lblPoseNote;
  QPushButton* btnCopy;
  QTimer* PlayTimer;

protected:
  void initializeGL() override;
  void resizeGL(int width, int height) override;
  void paintGL() override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void PlayTimerTick();
  void trkFrameChange(int position);
  void Playback();
  void SetFrameSlider(int maximum, int position);
  // The frames of the model on show's animation, and the one it shows.
  int32_t ModelFrameCount() const;
  int32_t ShownFrame() const;
  void ShowFrame(int32_t frame);
  void Pause();
  void ShowFrameReadout();
  void ShowRotateReadouts();
  // The pose controls follow the model on show: usable for a field model only.
  void ShowPoseEditing();
  // The bone list, bone range, frame slider and pose trackbars as with no model.
  void ResetModelControls();
  // The part of the picture that the panels on top of it leave free.
  TPictureArea FreeArea() const;

  TViewerHost& FHost;
  TModelRef FShownModel;
  bool FEditing = false;       // a trackbar's own edit is under way: it is not set back
  bool FPaintFailed = false;   // a failing paint reports once, not on every tick
  int32_t FLastQuickFrame = 0; // the frame a Quick Animation showed last
  float FPanX = 0, FPanY = 0;  // the scene's pan
  int FRotatePanelWidth = 66;  // the pose panel's width, from its font
  QPoint FDragFrom;            // where the mouse was at the last step of a drag
  int FWheelRest = 0;          // wheel turns short of a whole step, in eighths of a degree
};

} // namespace palkor
