#pragma once

#include "archive/ModelRef.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace palkor {

// The model part of frame file names: a field model's file stem ("AAAA" for AAAA.HRC),
// or "[Battle] XYAA" for the battle model of code XY.
std::string FrameModelPart(const TModelRef& model);
// The animation part: the first four characters of a field animation's name; for a
// battle model "A" and the 1-based animation number in three digits (its list entries
// all begin alike, so their files would overwrite each other).
std::string FrameAnimPart(const std::string& animEntry, bool battle, int32_t animIndex);
// "%sPK_%s_%s_%.4d.png" or ".bmp".
std::string FrameFileName(const std::string& prefix, const std::string& model,
                          const std::string& anim, int32_t frameNumber, bool png);

struct TFrameOutputOptions {
  std::string Prefix;                   // put in front of every file name as it stands
  int32_t Repeat = 1;                   // passes over each animation, 1 to 50
  int32_t IncX = 0, IncY = 0, IncZ = 0; // degrees added to the view after each frame
  // The view of the first image, in degrees: the view as it was shown.
  int32_t StartX = 0, StartY = 0, StartZ = 0;
  bool Png = false;
};

// What is rendered: the viewer, or a headless viewer session drawn the same way.
class TFrameTarget {
public:
  virtual ~TFrameTarget() = default;
  virtual void SetView(int32_t rotateX, int32_t rotateY, int32_t rotateZ) = 0;
  virtual void ShowFrame(int32_t frame) = 0;
  // The picture: packed RGB, top row first.
  virtual std::vector<uint8_t> Capture(int32_t& width, int32_t& height) = 0;
  // The picture as the target reads it most cheaply: the bottom row first where
  // bottomUp is set on return.
  virtual std::vector<uint8_t> CaptureRows(int32_t& width, int32_t& height, bool& bottomUp) {
    bottomUp = false;
    return Capture(width, height);
  }
};

// One animation: Repeat passes over frames 0 to lastFrame, the first image at the start
// view and each one after it turned by the increments once more, each image written under
// the next number from 0000. An existing file is replaced; a
// file that cannot be written stops the run with its error, the images before it
// written. Images are encoded and written on a second thread while the next is drawn;
// afterFrame is called after each image is drawn, and every image is written by the
// time the function returns. Returns the number of images written. A model or animation
// part that cannot be part of a file name (see CheckMemberFileName) fails before
// anything is drawn.
int32_t RenderAnimationFrames(TFrameTarget& target, const TFrameOutputOptions& options,
                              const std::string& modelPart, const std::string& animPart,
                              int32_t lastFrame, const std::function<void()>& afterFrame = {});

} // namespace palkor
