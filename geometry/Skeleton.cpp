#include "geometry/Skeleton.h"

namespace palkor {

std::vector<std::vector<int32_t>> ChildrenOf(const std::vector<int32_t>& parents) {
  std::vector<std::vector<int32_t>> children(parents.size());
  for (size_t b = 0; b < parents.size(); ++b) {
    int32_t parent = parents[b];
    if (parent >= 0 && size_t(parent) < parents.size())
      children[size_t(parent)].push_back(int32_t(b));
  }
  return children;
}

std::vector<TPosedJoint> ComposeSkeleton(int32_t bone,
                                         const std::vector<std::vector<int32_t>>& children,
                                         const TMatrix4& base,
                                         const std::function<TMatrix4(int32_t)>& turn,
                                         const std::function<float(int32_t)>& reach) {
  std::vector<TPosedJoint> joints;
  if (bone < 0 || size_t(bone) >= children.size()) return joints;
  // A bone is listed once even if its parents form a cycle through the start.
  std::vector<bool> listed(children.size(), false);
  std::vector<TPosedJoint> pending{{bone, base}};
  while (!pending.empty()) {
    TPosedJoint item = pending.back();
    pending.pop_back();
    if (listed[size_t(item.Bone)]) continue;
    listed[size_t(item.Bone)] = true;
    TMatrix4 joint = item.Joint * turn(item.Bone);
    joints.push_back({item.Bone, joint});
    TMatrix4 childJoint = joint * TMatrix4::Translation(0, 0, reach(item.Bone));
    const std::vector<int32_t>& below = children[size_t(item.Bone)];
    for (auto child = below.rbegin(); child != below.rend(); ++child)
      pending.push_back({*child, childJoint});
  }
  return joints;
}

} // namespace palkor
