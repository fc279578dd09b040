#pragma once

#include <cstdint>
#include <limits>

namespace palkor {

// How a model is drawn: every switch the picture depends on besides the camera and the
// model's pose. The scene applies all of them on every paint, so that a picture depends
// on its scene state alone and never on what an earlier paint left in the GL context.
struct TViewOptions {
  // Three axis lines through every part's origin.
  bool Crosshairs = false;
  // Polygons drawn as lines instead of filled.
  bool Wireframe = false;
  // Light 0 five units right of the eye, with colour tracking.
  bool Lighting = false;
  // Field models: bone lines and joint spheres, and the parts hanging on the bones.
  bool Bones = false;
  bool Bodies = true;
  // Field models: the floor and the model's mirror image in it.
  bool Reflections = false;
  // Field models: the bones whose parts are drawn, first to last, in bone-list order.
  int32_t FirstBone = 0;
  int32_t LastBone = std::numeric_limits<int32_t>::max();
  // Field models: the bone drawn highlighted when bones are shown; -1 for none.
  int32_t SelectedBone = -1;
  // 0 draws every group of a part; n draws only group n (from 1).
  int32_t DisplayGroup = 0;
  // The clear colour, 0x00BBGGRR.
  uint32_t BackColour = 0x338000;
  // The background cleared to nothing (alpha 0) instead of BackColour, and alpha kept as
  // coverage: a pixel's alpha says how much of it the model covers, and its colour is
  // the model's times that (premultiplied), for pictures laid over others.
  bool TransparentBackground = false;
};

} // namespace palkor
