#pragma once

#include "app/frameoutput.h"
#include "render/ViewerSession.h"
#include "render/offscreen.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace palkor {

// The model part of the frame file names of the model a session shows (FrameModelPart).
std::string FrameModelPartOf(const TViewerSession& session);
// The animation part: the first four characters of a field animation's member name, or
// "A" and the battle animation's number from 1 in three digits.
std::string FrameAnimPartOf(const TViewerSession& session);

// A session drawn headless: painted into an offscreen context (made current by its
// owner) and read back.
class TSessionFrameTarget : public TFrameTarget {
public:
  TSessionFrameTarget(TViewerSession& session, TOffscreenContext& context)
      : FSession(session), FContext(context) {}
  void SetView(int32_t rotateX, int32_t rotateY, int32_t rotateZ) override;
  void ShowFrame(int32_t frame) override;
  std::vector<uint8_t> Capture(int32_t& width, int32_t& height) override;
  std::vector<uint8_t> CaptureRows(int32_t& width, int32_t& height, bool& bottomUp) override;

private:
  TViewerSession& FSession;
  TOffscreenContext& FContext;
};

// File > Render Animation and palkor-cli render: the frames of the model in a session
// written as numbered image files, one pass for the animation on show or one for every
// animation of the model in turn.
struct TRenderJob {
  TFrameOutputOptions Output;
  // Every animation of the model, or only the one on show.
  bool AllAnimations = false;
  // With AllAnimations, a field model's animations in order (its animation list); a
  // battle model's are its own.
  std::vector<std::string> FieldAnimations;
  // Puts the animation of pass (0 on) on show in the session; false ends the job there.
  // Unset, a field animation is loaded from the archive of the model on show, and a
  // battle animation chosen.
  std::function<bool(int32_t pass)> ShowAnimation;
  // A pass begins, its animation on show: the images it writes.
  std::function<void(int32_t images)> PassBegins;
  // After each image is drawn.
  std::function<void()> AfterFrame;
};

// Runs the passes of job over the session into target: each pass's frames from 0 to
// the session's last frame, as RenderAnimationFrames writes them, starting at the view of
// the session's camera as the job begins, its files named by the model and animation on
// show. A file that cannot be written stops the job with its
// error. Returns the number of images written.
int32_t RunRenderJob(TViewerSession& session, TFrameTarget& target, const TRenderJob& job);

} // namespace palkor
