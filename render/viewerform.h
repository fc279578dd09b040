#pragma once

#include "archive/lgpstruct.h"
#include "battle/FF7Battle.h"
#include "field/ff73d.h"
#include "render/CgWindow.h"
#include "render/scene.h"
#include "render/textures.h"

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
};

// Added to the frame clock; set by Quick Animation.
extern int32_t FrameOffset;
// A Quick Animation is playing: it stops when it comes back to frame 0.
extern bool QuickAnimRunning;

// The model viewer: one field or battle model at a time, turned, zoomed, played on the
// 80 ms frame clock or stepped through, with the trackbars on top of the picture.
class TfrmViewer : public TCGForm {
  Q_OBJECT
public:
  explicit TfrmViewer(TViewerHost& host, QWidget* parent = nullptr);
  ~TfrmViewer() override;

  // Loads a field model from the archive of class at path; the previous field model is
  // released first (offering to save its edits), then the archive is opened. False, and
  // nothing changed, when the user cancels the question about the edits.
  bool LoadModel(const TLGPFileClass& archiveClass, const std::string& path,
                 const std::string& hrcName, const std::string& animName);
  // Offers to save edited animations ("Model animations have changed! Update LGP?") and
  // lets the model on show go, field or battle: Yes saves, No discards. Cancel keeps the
  // model and its edits and returns false. If saving fails the model stays and the error
  // goes on.
  bool ReleaseModel();
  // The model on show has animations not yet saved: the field model's edits (Modified)
  // or the battle model's replaced animations.
  bool AnimationsModified() const;
  // Loads a battle model by its two-letter code; an edited model is asked about first
  // (false when cancelled, nothing changed).
  bool LoadBattleModel(const TLGPFileClass& archiveClass, const std::string& path,
                       const std::string& code);
  void SelectBattleAnimation(int32_t index);
  // Drops the battle model, if any, without asking: see ReleaseModel.
  void DropBattleModel();
  // The current animation of the model on show was replaced in memory: the frame slider
  // takes its frame count and frame 0 is shown. A field model is marked Modified (a
  // battle model marks itself).
  void AnimationReplaced();
  // The bone tree of the field model into lstParts: bone i and, indented by one more
  // space, its children in index order.
  void FillPartsList(int32_t bone, const std::string& prefix);
  void SetEditable(bool on);
  // Quick Animation: plays the shown model's animation once, from frame 1 to frame 0.
  void QuickAnimation();
  // Pose editing: choosing a bone loads the rotation trackbars from it; moving one writes
  // that component into the current frame; "Cpy" copies the pose to every frame.
  void lstPartsClick(int row);
  void trkRZChange(int tag, int position);
  void btnCopyClick();
  // The picture as the viewer draws it now: its framebuffer as top-down RGB.
  std::vector<uint8_t> CapturePixels(int& width, int& height);
  // The scene as it would be painted now.
  TSceneState SceneState() const;

  std::unique_ptr<TFF7Model> FieldModel;
  std::unique_ptr<TBattleModel> BattleModel;
  // The shown model's textures, in this window's context.
  TTextureSet Textures;
  bool Modified = false;

  QWidget* pControls;
  QSlider *TrkX, *TrkY, *TrkZ, *trkStart, *trkEnd, *trkZoom, *trkFrame;
  QPushButton* btnQuickAnim;
  QListWidget* lstParts;
  QWidget* pRotate;
  QSlider *trkRX, *trkRY, *trkRZ;
  QPushButton* btnCopy;
  QTimer* Timer1;

protected:
  void initializeGL() override;
  void resizeGL(int width, int height) override;
  void paintGL() override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void Timer1Timer();
  void trkFrameChange(int position);
  void Playback();
  void SetFrameSlider(int maximum, int position);

  TViewerHost& FHost;
  bool FPaintFailed = false;   // a failing paint reports once, not on every tick
  int32_t FLastQuickFrame = 0; // the frame a Quick Animation showed last
};

} // namespace palkor
