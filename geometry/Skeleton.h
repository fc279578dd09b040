#pragma once

#include "geometry/Matrix.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace palkor {

// The children of every bone of a skeleton given by its parents, in index order. A
// parent outside the skeleton has no entry, so its bones are reached from nowhere.
std::vector<std::vector<int32_t>> ChildrenOf(const std::vector<int32_t>& parents);

// A bone reached from the start of a traversal, with its joint transform.
struct TPosedJoint {
  int32_t Bone;
  TMatrix4 Joint;
};

// The joint transforms of bone and everything below it, depth first with children in
// the order given: the order in which nested push, turn, draw, translate and pop would
// visit them. Bone's joint is base * turn(bone); its children's joints lie at
// (0, 0, reach(bone)) from it, each turned by its own turn. Bones that cannot be
// reached from bone (parents outside the skeleton, cycles) are not listed. Composed
// here rather than on GL's matrix stack, which may be only 32 deep, less than a long
// bone chain.
std::vector<TPosedJoint> ComposeSkeleton(int32_t bone,
                                         const std::vector<std::vector<int32_t>>& children,
                                         const TMatrix4& base,
                                         const std::function<TMatrix4(int32_t)>& turn,
                                         const std::function<float(int32_t)>& reach);

} // namespace palkor
