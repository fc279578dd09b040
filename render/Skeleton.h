#pragma once

#include "render/Matrix.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace palkor {

// The children of every bone of a skeleton given by its parents, in index order. A
// parent outside the skeleton has no entry, so its bones are reached from nowhere.
std::vector<std::vector<int32_t>> ChildrenOf(const std::vector<int32_t>& parents);

// Draws bone and everything below it, depth first with children in the order given, as
// nested push, turn, draw, translate and pop would; but the transforms are composed
// here, since GL's matrix stack may be only 32 deep, less than a long bone chain. For
// each bone, turn(bone) is multiplied onto its parent's joint transform, that is loaded
// into the model-view matrix and draw(bone) called; its children's joints lie at
// (0, 0, reach(bone)) from it. The model-view matrix is left as it was found.
void DrawSkeleton(int32_t bone, const std::vector<std::vector<int32_t>>& children,
                  const std::function<TMatrix4(int32_t)>& turn,
                  const std::function<float(int32_t)>& reach,
                  const std::function<void(int32_t)>& draw);

} // namespace palkor
