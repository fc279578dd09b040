#pragma once

#include "render/textures.h"

#include <cstdint>

namespace palkor {

class TFF7PPart;
class TFieldModel;
class TBattleModel;

// Draw three axis lines through every part's origin (the Crosshairs option).
extern bool ShowCrosshairs;

// Draws a part at the current GL transform: plain groups in a first pass, textured
// groups in a second, with its textures from textures (a texture the set lacks draws
// with none bound). Needs a current rendering context.
void DrawPart(const TFF7PPart& part, const TTextureSet& textures);

// The whole field model from the root: opaque bones first, then translucent ones, at the
// current frame, with the model's bone range, Bodies and Bones flags and selection.
void DrawFieldModel(const TFieldModel& model, const TTextureSet& textures);
// Bone index and everything hanging from it, one of the two passes, at the current GL
// transform. The model-view matrix is left as it was found.
void DrawFieldBone(const TFieldModel& model, int32_t index, int pass, const TTextureSet& textures);

// The battle model posed at its current frame, at the current GL transform.
void DrawBattleModel(TBattleModel& model, const TTextureSet& textures);

} // namespace palkor
