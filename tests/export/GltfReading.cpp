#include "tests/export/GltfReading.h"
#include "fixtures/GltfImages.h"

#include <gtest/gtest.h>

#include <cstring>

namespace palkor::testing {

tinygltf::Model LoadGltf(const std::string& bytes, bool binary) {
  tinygltf::TinyGLTF loader;
  fixtures::DecodeGltfImages(loader);
  tinygltf::Model model;
  std::string error, warning;
  bool ok = binary
                ? loader.LoadBinaryFromMemory(&model, &error, &warning,
                                              reinterpret_cast<const unsigned char*>(bytes.data()),
                                              static_cast<unsigned int>(bytes.size()))
                : loader.LoadASCIIFromString(&model, &error, &warning, bytes.data(),
                                             static_cast<unsigned int>(bytes.size()), "");
  EXPECT_TRUE(ok) << error;
  EXPECT_EQ(warning, "");
  return model;
}

std::vector<float> AccessorFloats(const tinygltf::Model& model, int index) {
  const tinygltf::Accessor& accessor = model.accessors.at(size_t(index));
  const tinygltf::BufferView& view = model.bufferViews.at(size_t(accessor.bufferView));
  const std::vector<unsigned char>& data = model.buffers.at(size_t(view.buffer)).data;
  const int components = tinygltf::GetNumComponentsInType(uint32_t(accessor.type));
  const int size = tinygltf::GetComponentSizeInBytes(uint32_t(accessor.componentType));
  const size_t stride = view.byteStride ? view.byteStride : size_t(components * size);
  std::vector<float> values;
  for (size_t i = 0; i < accessor.count; ++i)
    for (int c = 0; c < components; ++c) {
      const unsigned char* p =
          data.data() + view.byteOffset + accessor.byteOffset + i * stride + size_t(c * size);
      float value = 0;
      switch (accessor.componentType) {
      case TINYGLTF_COMPONENT_TYPE_FLOAT:
        std::memcpy(&value, p, 4);
        break;
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
        value = accessor.normalized ? *p / 255.0f : *p;
        break;
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        value = accessor.normalized ? v / 65535.0f : v;
        break;
      }
      default:
        ADD_FAILURE() << "component type " << accessor.componentType;
      }
      values.push_back(value);
    }
  return values;
}

TMatrix4 NodeMatrix(const tinygltf::Node& node) {
  if (node.matrix.size() == 16) {
    TMatrix4 m;
    for (int i = 0; i < 16; ++i) m.M[i] = float(node.matrix[size_t(i)]);
    return m;
  }
  TMatrix4 m = TMatrix4::Identity();
  if (node.translation.size() == 3)
    m = TMatrix4::Translation(float(node.translation[0]), float(node.translation[1]),
                              float(node.translation[2]));
  if (node.rotation.size() == 4)
    m = m * TMatrix4::FromQuat({float(node.rotation[0]), float(node.rotation[1]),
                                float(node.rotation[2]), float(node.rotation[3])});
  if (node.scale.size() == 3)
    m = m * TMatrix4::Scale(float(node.scale[0]), float(node.scale[1]), float(node.scale[2]));
  return m;
}

std::vector<TMatrix4> NodeWorlds(const tinygltf::Model& model, int animation, int frame) {
  std::vector<tinygltf::Node> nodes = model.nodes;
  if (animation >= 0) {
    const tinygltf::Animation& a = model.animations.at(size_t(animation));
    for (const tinygltf::AnimationChannel& channel : a.channels) {
      std::vector<float> values =
          AccessorFloats(model, a.samplers.at(size_t(channel.sampler)).output);
      tinygltf::Node& node = nodes.at(size_t(channel.target_node));
      size_t n = channel.target_path == "rotation" ? 4 : 3;
      std::vector<double> key(values.begin() + long(size_t(frame) * n),
                              values.begin() + long(size_t(frame + 1) * n));
      if (channel.target_path == "rotation")
        node.rotation = key;
      else if (channel.target_path == "translation")
        node.translation = key;
      else
        node.scale = key;
    }
  }
  std::vector<TMatrix4> worlds(nodes.size(), TMatrix4::Identity());
  std::vector<std::pair<int, TMatrix4>> pending;
  for (int root : model.scenes.at(0).nodes) pending.push_back({root, TMatrix4::Identity()});
  while (!pending.empty()) {
    auto [index, parent] = pending.back();
    pending.pop_back();
    worlds[size_t(index)] = parent * NodeMatrix(nodes[size_t(index)]);
    for (int child : nodes[size_t(index)].children)
      pending.push_back({child, worlds[size_t(index)]});
  }
  return worlds;
}

std::vector<TSkinnedVertex> SkinnedVertices(const tinygltf::Model& model,
                                            const std::vector<TMatrix4>& worlds) {
  std::vector<TSkinnedVertex> out;
  for (const tinygltf::Node& node : model.nodes) {
    if (node.mesh < 0 || node.skin < 0) continue;
    const tinygltf::Skin& skin = model.skins.at(size_t(node.skin));
    std::vector<float> inverse = AccessorFloats(model, skin.inverseBindMatrices);
    const tinygltf::Mesh& mesh = model.meshes.at(size_t(node.mesh));
    for (size_t p = 0; p < mesh.primitives.size(); ++p) {
      const tinygltf::Primitive& primitive = mesh.primitives[p];
      std::vector<float> positions = AccessorFloats(model, primitive.attributes.at("POSITION"));
      std::vector<float> joints = AccessorFloats(model, primitive.attributes.at("JOINTS_0"));
      std::vector<float> weights = AccessorFloats(model, primitive.attributes.at("WEIGHTS_0"));
      for (size_t v = 0; v < positions.size() / 3; ++v) {
        TVec3 bind{positions[v * 3], positions[v * 3 + 1], positions[v * 3 + 2]};
        TVec3 sum;
        int32_t strongest = -1;
        float strongestWeight = 0;
        for (size_t k = 0; k < 4; ++k) {
          float weight = weights[v * 4 + k];
          if (weight == 0) continue;
          size_t joint = size_t(joints[v * 4 + k]);
          TMatrix4 ibm;
          std::memcpy(ibm.M, &inverse[joint * 16], sizeof ibm.M);
          TVec3 p = (worlds[size_t(skin.joints.at(joint))] * ibm).TransformPoint(bind);
          sum = {sum.X + weight * p.X, sum.Y + weight * p.Y, sum.Z + weight * p.Z};
          if (weight > strongestWeight) {
            strongestWeight = weight;
            strongest = skin.joints.at(joint);
          }
        }
        out.push_back({sum, strongest, int32_t(p)});
      }
    }
  }
  return out;
}

int NodeNamed(const tinygltf::Model& model, const std::string& name) {
  for (size_t n = 0; n < model.nodes.size(); ++n)
    if (model.nodes[n].name == name) return int(n);
  return -1;
}

} // namespace palkor::testing
