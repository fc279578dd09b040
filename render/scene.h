#pragma once

#include "render/ViewOptions.h"

#include <cstdint>

namespace palkor {

class TFieldModel;
class TBattleModel;
class TTextureSet;

// What the viewer's picture depends on: the view options (background, reflections and
// the drawing switches), the model's turn, the zoom, the pan, and the model shown (at
// most one of the two) as posed.
struct TSceneState {
  TViewOptions Options;
  int32_t RotateX = 0, RotateY = 0, RotateZ = 0; // whole degrees
  int32_t Zoom = 30;                             // distance of the eye from the target
  // The whole world (model and floor) moved across the picture, in world units: X to the
  // right, Y up. 0, 0 keeps the target in the middle.
  float PanX = 0, PanY = 0;
  // A field model is drawn at its current frame.
  TFieldModel* FieldModel = nullptr;
  // A battle model is drawn at this animation and frame, both brought into range.
  TBattleModel* BattleModel = nullptr;
  int32_t BattleAnimation = 0, BattleFrame = 0;
  // The shown model's textures in the context painted; none draws untextured.
  const TTextureSet* Textures = nullptr;
};

// The viewer's GL state, set once when its context is made: a 90 degree perspective,
// depth test, dithering, smooth shading, no lighting.
void SetupScene();
// Viewport and perspective for a client area; a height of 0 changes nothing.
void ResizeScene(int32_t width, int32_t height);
// Draws one whole frame into the current context: the switches of the options applied,
// clear, camera, and the model with the floor and its mirror image when Reflections is
// on (field models only). Needs depth and 8 stencil bits.
void PaintScene(const TSceneState& state);

// World units that one pixel of a picture height pixels high spans at the target's
// distance (zoom): what a pan moves for a mouse moved by a pixel.
double WorldPerPixel(int32_t zoom, int32_t height);

// A part of the picture, from -1 to 1 left to right and bottom to top.
struct TPictureArea {
  double Left = -1, Right = 1, Bottom = -1, Top = 1;
};

// The pan and eye distance that show the whole model of state in area of a picture
// width / height = aspect: every point it draws, posed at its current frame and turned as
// state says, lies inside the middle fill (0 to 1) of the area, as near the area's middle
// as it reaches to either side. Found is false when the state draws no point of a model
// (none shown, bodies and bones off, or no parts), or for an empty area; the rest is
// then 0. With wholeAnimation, what is framed is the reach of every frame of the
// animation shown, not only the pose on show.
struct TFraming {
  bool Found = false;
  float PanX = 0, PanY = 0;
  double Zoom = 0; // the least distance that fits; never nearer than the near plane allows
};
TFraming FrameModel(const TSceneState& state, double aspect, double fill,
                    const TPictureArea& area = {}, bool wholeAnimation = false);

// The part of a field model drawn nearest the eye at a point of the picture: its bone and
// its place among the bone's parts.
struct TPickedPart {
  bool Found = false;
  int32_t Bone = -1, Part = -1;
};
// What PaintScene draws of state's field model at the point (x, y) of a picture width /
// height = aspect, x and y from -1 to 1 left to right and bottom to top: the filled
// triangles of the parts of the bones drawn (the bone range, Bodies and the display
// group as the options have them; the mirror image aside), the nearest one that covers
// the point. Found is false where none does, and for a battle model.
TPickedPart PickPart(const TSceneState& state, double aspect, double x, double y);

// The options' Wireframe and Lighting switches, applied to the current context: polygons
// drawn as lines or filled; light 0 five units right of the eye with colour tracking, or
// no light. Leaves the model-view matrix as the identity when Lighting is on.
void ApplyViewSwitches(const TViewOptions& options);

// The frame clock: one frame every 80 ms of tick, shifted by offset, over frameCount
// frames; 0 when there are no frames.
int32_t ClockFrame(uint32_t tick, int32_t offset, int32_t frameCount);
// The offset that makes the clock show frame 1 next, for playing an animation once.
int32_t QuickAnimationOffset(uint32_t tick, int32_t frameCount);
// The offset that makes the clock show frame at tick, so that playing goes on from it.
int32_t ClockOffsetAt(uint32_t tick, int32_t frame, int32_t frameCount);

} // namespace palkor
