#include "render/Skeleton.h"

#include <GL/gl.h>

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

void DrawSkeleton(int32_t bone, const std::vector<std::vector<int32_t>>& children,
                  const std::function<TMatrix4(int32_t)>& turn,
                  const std::function<float(int32_t)>& reach,
                  const std::function<void(int32_t)>& draw) {
  if (bone < 0 || size_t(bone) >= children.size()) return;
  TMatrix4 saved;
  glGetFloatv(GL_MODELVIEW_MATRIX, saved.M);
  struct TPending {
    int32_t Bone;
    TMatrix4 Joint;
  };
  std::vector<TPending> pending{{bone, saved}};
  while (!pending.empty()) {
    TPending item = pending.back();
    pending.pop_back();
    TMatrix4 m = item.Joint * turn(item.Bone);
    glLoadMatrixf(m.M);
    draw(item.Bone);
    TMatrix4 childJoint = m * TMatrix4::Translation(0, 0, reach(item.Bone));
    const std::vector<int32_t>& below = children[size_t(item.Bone)];
    for (auto child = below.rbegin(); child != below.rend(); ++child)
      pending.push_back({*child, childJoint});
  }
  glLoadMatrixf(saved.M);
}

} // namespace palkor
