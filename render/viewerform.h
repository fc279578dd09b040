#pragma once

#include "archive/LGPFile.h"
#include "render/CgWindow.h"
#include "render/Playback.h"
#include "render/ViewerSession.h"
#include "render/scene.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace palkor {

// What the viewer tells the main window.
class TViewerHost {
public:
  virtual ~TViewerHost() = default;
  // Playing started or stopped in the viewer (Quick Animation, Space, a step): the
  // Animation switch follows.
  virtual void PlayingChanged(bool playing) = 0;
  // A model was loaded, field or battle: the bone and body switches it starts with, for
  // the switches to show.
  virtual void FieldModelLoaded(bool showBones, bool showBodies) = 0;
  // The model on show was loaded or let go.
  virtual void ModelChanged() {}
};

// The model viewer: one field or battle model at a time, turned, zoomed, played on the
// 80 ms frame clock or stepped through, with the trackbars on top of the picture. What it
// shows is its viewer session; the trackbars show the session's camera and frame.
// With the mouse: a left drag turns the model (the Rotate X and Y trackbars follow), the
// wheel zooms, a right or middle drag pans, a double-click frames the whole model. With
// the keys, once clicked: Space plays and pauses, Left and Right step a frame, Home goes
// to frame 0.
class TfrmViewer : public TCGForm {
  Q_OBJECT
public:
  explicit TfrmViewer(TViewerHost& host, QWidget* parent = nullptr);
  ~TfrmViewer() override;

  // Loads a field model from the archive of class at path, in place of the model on show,
  // which goes without a question. On failure nothing is shown and the error goes on.
  void LoadModel(const TLGPFileClass& archiveClass, const std::string& path, const TModelRef& model,
                 const std::string& animName);
  // Loads a battle model (by its code), the same way.
  void LoadBattleModel(const TLGPFileClass& archiveClass, const std::string& path,
                       const TModelRef& model);
  // Lets the model on show go, field or battle: nothing of it stays on show (bone range,
  // frame slider), and a Quick Animation of it ends.
  void ClearModel();
  void SelectBattleAnimation(int32_t index);
  // Drops the battle model, if any: see ClearModel.
  void DropBattleModel();
  // The current animation of the model on show was replaced: the frame slider takes its
  // frame count and frame 0 is shown.
  void AnimationReplaced();
  // The animation changed by an edit, an undo or a redo: the picture and the frame slider
  // follow, the frame on show staying where the animation still has it.
  void AnimationEdited();
  // A texture of the model on show was replaced, or put back: the picture shows it.
  void TexturesEdited();
  // The panels at the picture's left and right that show while editable (the bone list
  // and the pose panel), the right one rightWidth wide.
  void SetSidePanels(QWidget* left, QWidget* right, int rightWidth);
  // The side panels show while editable (and the panels are shown).
  void SetEditable(bool on);
  // The trackbar panel, and the side panels when editable, over the picture or not: a
  // render run takes the picture without them.
  void SetPanelsShown(bool on);
  // Quick Animation: plays the shown model's animation once, from frame 1 to frame 0.
  void QuickAnimation();
  // Stops playing (a Quick Animation too) and shows the frame delta frames away from the
  // one on show, stopping at the first and the last.
  void StepFrame(int delta);
  // Stops playing and shows frame 0.
  void FirstFrame();
  // Switches Animation off, or on so that it plays on from the frame on show.
  void TogglePlay();
  // The Animation switch: playing on or off, in the phase the clock had.
  void SetPlaying(bool on);
  // Pans and zooms so that the model on show, at every frame of its animation, fills the
  // part of the picture the panels leave free (as far as the Zoom trackbar reaches).
  // Nothing changes without a model that draws something.
  void FrameWholeModel();
  // The turn trackbars moved by whole degrees, wrapping round within their range.
  void TurnBy(int degreesX, int degreesY);
  // The Zoom trackbar moved by steps (negative: nearer), kept within its range.
  void ZoomBy(int steps);
  // The picture moved by pixels (right and down), its pan in the scene's units.
  void PanBy(int pixelsX, int pixelsY);

  // The part of the field model drawn at point at of the window (none found off the
  // model).
  TPickedPart PartAt(QPoint at) const;
  // Called on a double-click on a part of the field model while editable, with its bone,
  // its place among the bone's parts and the point on the screen: true when it took the
  // click (offering that part's textures), false lets it frame the whole model.
  std::function<bool(int32_t bone, int32_t part, QPoint global)> PartDoubleClicked;

  // The picture as the viewer draws it now: its framebuffer as top-down RGB.
  std::vector<uint8_t> CapturePixels(int& width, int& height);
  // The scene as it would be painted now.
  TSceneState SceneState() const { return FSession.SceneState(); }
  // The model on show, its animation, frame, view options and camera. Its textures live
  // in this window's context.
  TViewerSession& Session() { return FSession; }
  const TViewerSession& Session() const { return FSession; }
  TPlayback& Playback() { return FPlayback; }
  const TPlayback& Playback() const { return FPlayback; }
  // The trackbars and readouts as the session's camera and frame now stand, after the
  // session was driven from outside (a render run).
  void ShowSession();

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
  // Advances the frame by the clock while playing.
  void PlayFrame();
  void SetFrameSlider(int maximum, int position);
  void ShowFrame(int32_t frame);
  void Pause();
  void ShowFrameReadout();
  // The bone range and frame slider as with no model.
  void ResetModelControls();
  // After a model was loaded or let go.
  void ModelChanged();
  // The part of the picture that the panels on top of it leave free.
  TPictureArea FreeArea() const;

  TViewerHost& FHost;
  QWidget* pControls;
  QSlider *TrkX, *TrkY, *TrkZ, *trkStart, *trkEnd, *trkZoom, *trkFrame;
  // The frame slider's caption: "Frame 5 / 24", the frame on show counted from 1 and the
  // animation's frame count ("Frame 0 / 0" without frames).
  QLabel* lblFrame;
  QPushButton* btnQuickAnim;
  QTimer* PlayTimer;
  QWidget* FLeftPanel = nullptr;
  QWidget* FRightPanel = nullptr;
  int FRightPanelWidth = 0;
  bool FEditable = false;
  bool FPanelsShown = true;
  bool FPaintFailed = false; // a failing paint reports once, not on every tick
  TViewerSession FSession;
  TPlayback FPlayback;
  QPoint FDragFrom;   // where the mouse was at the last step of a drag
  int FWheelRest = 0; // wheel turns short of a whole step, in eighths of a degree
};

} // namespace palkor
