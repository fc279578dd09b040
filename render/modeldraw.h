#pragma once

#include "render/ViewOptions.h"
#include "render/textures.h"

#include <cstdint>

namespace palkor {

class TFF7PPart;
class TFieldModel;
class TBattleModel;
struct TBattleFrame;

// Draws a part at the current GL transform: plain groups in a first pass, textured
// groups in a second, with its textures from textures (a texture the set lacks draws
// with none bound), the options' display group only when one is set, and the
// crosshairs when they are on, from -crosshairReach to crosshairReach in the part's
// units. Needs a current rendering context.
void DrawPart(const TFF7PPart& part, const TTextureSet& textures, const TViewOptions& options,
              float crosshairReach = 25);

// The whole field model from the root: opaque bones first, then translucent ones, at the
// model's current frame, with the options' bone range, bodies, bones and selection.
void DrawFieldModel(const TFieldModel& model, const TTextureSet& textures,
                    const TViewOptions& options);
// Bone index and everything hanging from it, one of the two passes, at the current GL
// transform. The model-view matrix is left as it was found.
void DrawFieldBone(const TFieldModel& model, int32_t index, int pass, const TTextureSet& textures,
                   const TViewOptions& options);

// The battle model posed by frame (the rest pose for none), at the current GL transform,
// which scales it to the field's size (BattleViewerScale): its parts when Bodies is on,
// its bones (lines and joint spheres, the selected one highlighted) when Bones is on,
// crosshairs and spheres at the sizes a field model has them, and lit as a field model
// is (normals kept of unit length through the scale).
void DrawBattleModel(const TBattleModel& model, const TBattleFrame* frame,
                     const TTextureSet& textures, const TViewOptions& options);

} // namespace palkor
