#pragma once

// Reading an exported glTF file back, as another program would: accessors, node
// transforms, animations sampled at their keys, and skinned vertex positions.

#include "geometry/Matrix.h"

#include <tiny_gltf.h>

#include <string>
#include <vector>

namespace palkor::testing {

// The document in a .glb or .gltf file's bytes; fails the test when it does not load.
tinygltf::Model LoadGltf(const std::string& bytes, bool binary);

// The accessor's values as floats (float, normalised or integer components), count x
// components.
std::vector<float> AccessorFloats(const tinygltf::Model& model, int accessor);

// A node's transform from its matrix or its translation, rotation and scale.
TMatrix4 NodeMatrix(const tinygltf::Node& node);

// World transforms of every node: with animation >= 0 at that animation's key frame (the
// nodes it does not move keep their own transforms); with animation -1 the nodes' own.
std::vector<TMatrix4> NodeWorlds(const tinygltf::Model& model, int animation, int frame);

struct TSkinnedVertex {
  TVec3 Position; // joint world x inverse bind x POSITION
  int32_t Node;   // the joint's node
  int32_t Primitive;
};

// Every vertex of every skinned mesh at the given node worlds, weighted by its joints.
std::vector<TSkinnedVertex> SkinnedVertices(const tinygltf::Model& model,
                                            const std::vector<TMatrix4>& worlds);

// The node named name, or -1.
int NodeNamed(const tinygltf::Model& model, const std::string& name);

} // namespace palkor::testing
