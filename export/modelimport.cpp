// Models read back from glTF 2.0 files: a skinned mesh put on a model's own skeleton.
//
// The mesh's POSITION values are its vertices in the bind pose, in the space of the scene
// (a skinned mesh's own node transform does not count). W, the world transform of the
// node above the skeleton's root joint, takes them into the model's space, where B(b), the
// bind pose found for the file (every rotation 0, or frame 0 of one of the model's
// animations), places bone b's joint. A vertex of a triangle that goes to bone b is so
// B(b)^-1 W^-1 POSITION in the bone's frame; a battle part is mirrored inside its joint
// besides, as the viewer draws it. These are the export's steps taken back, so that
// exporting the imported model gives the file's mesh again; the corners go back into the
// file's winding as export turned them.
#include "export/modelimport.h"

#include "battle/BattleModel.h"
#include "export/GltfFile.h"
#include "export/gltf.h"
#include "field/FieldModel.h"
#include "field/RSD.h"
#include "field/pwrite.h"
#include "field/texwrite.h"
#include "geometry/Conventions.h"
#include "platform/Convert.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/StringList.h"
#include "platform/images.h"

#include <nlohmann/json.hpp>
#include <tiny_gltf.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

namespace palkor {

namespace {

TMatrix4 NodeTransform(const tinygltf::Node& node) {
  if (node.matrix.size() == 16) {
    TMatrix4 m;
    for (int i = 0; i < 16; ++i) m.M[i] = float(node.matrix[size_t(i)]);
    return m;
  }
  TMatrix4 m = TMatrix4::Identity();
  const auto& t = node.translation;
  const auto& r = node.rotation;
  const auto& s = node.scale;
  if (t.size() == 3) m = TMatrix4::Translation(float(t[0]), float(t[1]), float(t[2]));
  if (r.size() == 4) {
    TQuat q{float(r[0]), float(r[1]), float(r[2]), float(r[3])};
    const float length = std::sqrt(q.Dot(q));
    if (length > 0) q = {q.X / length, q.Y / length, q.Z / length, q.W / length};
    m = m * TMatrix4::FromQuat(q);
  }
  if (s.size() == 3) m = m * TMatrix4::Scale(float(s[0]), float(s[1]), float(s[2]));
  return m;
}

bool IsNumbers(const TMatrix4& m) {
  return std::all_of(m.M, m.M + 16, [](float v) { return std::isfinite(v); });
}

// A linear colour value as the sRGB byte the viewer draws: the exact inverse of export's
// table for every byte.
uint8_t SRGBByte(float linear) {
  if (!(linear > 0)) return 0;
  if (linear >= 1) return 255;
  const double c = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  return uint8_t(std::clamp(std::lround(c * 255), 0L, 255L));
}

uint8_t UnitByte(float value) {
  if (!(value > 0)) return 0;
  return uint8_t(std::min(std::lround(value * 255), 255L));
}

// The skinned mesh a model import reads: its node, mesh and skin.
struct TSkinnedMesh {
  const tinygltf::Mesh* Mesh = nullptr;
  const tinygltf::Skin* Skin = nullptr;
};

TSkinnedMesh FirstSkinnedMesh(const TGltfFileContents& file, const std::string& path) {
  const tinygltf::Model& model = file.Model;
  for (const tinygltf::Node& node : model.nodes)
    if (node.mesh >= 0 && node.skin >= 0 && size_t(node.mesh) < model.meshes.size() &&
        size_t(node.skin) < model.skins.size())
      return {&model.meshes[size_t(node.mesh)], &model.skins[size_t(node.skin)]};
  throw Exception(Format("no skinned mesh in %s", path));
}

// A triangle's corner as read: where it is in the model's space, and what it carries.
struct TFileCorner {
  TVec3 Position;
  TRGBA Colour;
  TTexCoord UV;
};

// A glTF image's picture: PNG only, inside the file (a buffer view or a data URI).
TTexImage DecodeGltfImage(const TGltfFileContents& file, int32_t index, const std::string& path) {
  const tinygltf::Model& model = file.Model;
  const tinygltf::Image& image = model.images[size_t(index)];
  std::string_view bytes;
  std::vector<unsigned char> decoded;
  if (image.bufferView >= 0) {
    if (size_t(image.bufferView) >= model.bufferViews.size())
      InvalidGltf(path, Format("image %d names no buffer view", index));
    const tinygltf::BufferView& view = model.bufferViews[size_t(image.bufferView)];
    if (view.buffer < 0 || size_t(view.buffer) >= model.buffers.size())
      InvalidGltf(path, Format("buffer view %d names no buffer", image.bufferView));
    const std::vector<unsigned char>& data = model.buffers[size_t(view.buffer)].data;
    if (view.byteOffset > data.size() || view.byteLength > data.size() - view.byteOffset)
      InvalidGltf(path, Format("image %d lies outside its buffer", index));
    bytes = {reinterpret_cast<const char*>(data.data()) + view.byteOffset, view.byteLength};
  } else {
    // The glTF library keeps no data URI of an image it did not decode: the document's
    // own text has it.
    std::string uri = image.uri;
    if (uri.empty()) {
      const std::string text = ReadFileBytes(path);
      const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
      if (document.is_object() && document.contains("images") && document["images"].is_array() &&
          size_t(index) < document["images"].size() &&
          document["images"][size_t(index)].is_object()) {
        const nlohmann::json& entry = document["images"][size_t(index)];
        if (entry.contains("uri") && entry["uri"].is_string())
          uri = entry["uri"].get<std::string>();
      }
    }
    if (!tinygltf::IsDataURI(uri))
      throw Exception(Format("image %d of %s is the file \"%s\": only images inside the glTF "
                             "file (a .glb, or data URIs) are read",
                             index, path, uri));
    std::string mime;
    if (!tinygltf::DecodeDataURI(&decoded, mime, uri, 0, false))
      InvalidGltf(path, Format("image %d does not decode", index));
    bytes = {reinterpret_cast<const char*>(decoded.data()), decoded.size()};
  }
  const std::string name = Format("image %d of %s", index, path);
  static const char png[] = "\x89PNG";
  if (bytes.compare(0, 4, png) != 0) {
    const bool jpeg = bytes.size() >= 3 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xD8;
    throw Exception(Format("%s is %s: only PNG images become textures (JPEG and other formats "
                           "are refused; save the texture as PNG)",
                           name,
                           jpeg ? std::string("a JPEG image") : std::string("not a PNG image")));
  }
  return DecodePNGImage(bytes, name,
                        [&](int32_t width, int32_t height) { CheckTEXSize(name, width, height); });
}

// What the file puts on each bone: per bone, per material, the triangles' corners.
struct TBoneMaterials {
  std::map<int32_t, std::vector<TFileCorner>> Corners; // material (-1: none) -> 3 a triangle
};

struct TFileMesh {
  std::vector<TBoneMaterials> Bones;
  int64_t Triangles = 0, Unbound = 0;
  std::vector<TVec3> JointPositions; // each bone's joint in the bind pose, model space
  std::vector<bool> HasJoint;
  TVec3 Low{INFINITY, INFINITY, INFINITY}, High{-INFINITY, -INFINITY, -INFINITY};
};

// Reads the mesh's triangles into the model's space, each to the bone of the largest
// summed weight. names are the bones' joint names; W is found above the first of them
// that the skin has.
TFileMesh ReadFileMesh(const TGltfFileContents& file, const std::string& path,
                       const std::vector<std::string>& names, TMatrix4& w,
                       const std::string& modelName) {
  const tinygltf::Model& model = file.Model;
  const TSkinnedMesh found = FirstSkinnedMesh(file, path);
  const tinygltf::Skin& skin = *found.Skin;

  // Skin joint -> bone; the first bone of each name.
  std::vector<int32_t> boneOfJoint(skin.joints.size(), -1);
  std::unordered_map<std::string, int32_t> boneNamed;
  for (size_t b = 0; b < names.size(); ++b) boneNamed.emplace(names[b], int32_t(b));
  int32_t firstJoint = -1;
  for (size_t j = 0; j < skin.joints.size(); ++j) {
    const int node = skin.joints[j];
    if (node < 0 || size_t(node) >= model.nodes.size())
      InvalidGltf(path, Format("its skin names no node %d", node));
    auto bone = boneNamed.find(model.nodes[size_t(node)].name);
    if (bone == boneNamed.end()) continue;
    boneOfJoint[j] = bone->second;
    if (firstJoint < 0 || bone->second < boneOfJoint[size_t(firstJoint)]) firstJoint = int32_t(j);
  }
  if (firstJoint < 0)
    throw Exception(Format("no joint of the skin in %s is named as a bone of %s", path, modelName));

  // The model's space: that of the node above the skeleton.
  w = TMatrix4::Identity();
  for (int32_t n = file.Parents[size_t(skin.joints[size_t(firstJoint)])]; n >= 0;
       n = file.Parents[size_t(n)])
    w = NodeTransform(model.nodes[size_t(n)]) * w;
  if (!IsNumbers(w))
    InvalidGltf(path, "the node above its skeleton has a transform that is no number");
  const TMatrix4 wInverse = w.AffineInverse();

  TFileMesh mesh;
  mesh.Bones.resize(names.size());
  mesh.JointPositions.resize(names.size());
  mesh.HasJoint.assign(names.size(), false);
  if (skin.inverseBindMatrices >= 0) {
    const std::vector<float> inverse = ReadGltfFloats(file, skin.inverseBindMatrices, path);
    if (inverse.size() < skin.joints.size() * 16)
      InvalidGltf(path, "a skin has too few inverse bind matrices");
    for (size_t j = 0; j < skin.joints.size(); ++j) {
      if (boneOfJoint[j] < 0 || mesh.HasJoint[size_t(boneOfJoint[j])]) continue;
      TMatrix4 m;
      std::copy(&inverse[j * 16], &inverse[j * 16] + 16, m.M);
      if (!IsNumbers(m)) InvalidGltf(path, "its skin has an inverse bind matrix that is no number");
      mesh.JointPositions[size_t(boneOfJoint[j])] = (wInverse * m.AffineInverse()).Translation();
      mesh.HasJoint[size_t(boneOfJoint[j])] = true;
    }
  }

  auto attribute = [](const tinygltf::Primitive& p, const char* name) {
    auto a = p.attributes.find(name);
    return a == p.attributes.end() ? -1 : a->second;
  };
  for (size_t pi = 0; pi < found.Mesh->primitives.size(); ++pi) {
    const tinygltf::Primitive& primitive = found.Mesh->primitives[pi];
    if (primitive.mode != -1 && primitive.mode != TINYGLTF_MODE_TRIANGLES)
      throw Exception(Format("primitive %d of %s draws no triangles (mode %d): only triangle "
                             "lists are read",
                             int64_t(pi), path, primitive.mode));
    const int positionAt = attribute(primitive, "POSITION");
    const int jointsAt = attribute(primitive, "JOINTS_0");
    const int weightsAt = attribute(primitive, "WEIGHTS_0");
    if (positionAt < 0) InvalidGltf(path, Format("primitive %d has no POSITION", int64_t(pi)));
    if (jointsAt < 0 || weightsAt < 0)
      throw Exception(Format("primitive %d of %s is not skinned: it has no JOINTS_0 and "
                             "WEIGHTS_0",
                             int64_t(pi), path));
    const std::vector<float> positions = ReadGltfFloats(file, positionAt, path);
    const std::vector<float> joints = ReadGltfFloats(file, jointsAt, path);
    const std::vector<float> weights = ReadGltfFloats(file, weightsAt, path);
    const size_t count = positions.size() / 3;
    if (model.accessors[size_t(positionAt)].type != TINYGLTF_TYPE_VEC3 ||
        model.accessors[size_t(jointsAt)].type != TINYGLTF_TYPE_VEC4 ||
        model.accessors[size_t(weightsAt)].type != TINYGLTF_TYPE_VEC4 ||
        joints.size() != count * 4 || weights.size() != count * 4)
      InvalidGltf(path,
                  Format("primitive %d has attributes that do not fit together", int64_t(pi)));
    std::vector<float> colours, uvs;
    int colourWidth = 4;
    if (const int at = attribute(primitive, "COLOR_0"); at >= 0) {
      colours = ReadGltfFloats(file, at, path);
      colourWidth = model.accessors[size_t(at)].type == TINYGLTF_TYPE_VEC3 ? 3 : 4;
      if (colours.size() != count * size_t(colourWidth))
        InvalidGltf(path, Format("primitive %d has colours that do not fit", int64_t(pi)));
    }
    if (const int at = attribute(primitive, "TEXCOORD_0"); at >= 0) {
      uvs = ReadGltfFloats(file, at, path);
      if (uvs.size() != count * 2)
        InvalidGltf(path,
                    Format("primitive %d has texture coordinates that do not fit", int64_t(pi)));
    }
    std::vector<uint32_t> indices;
    if (primitive.indices >= 0) {
      indices = ReadGltfIndices(file, primitive.indices, path);
      for (uint32_t i : indices)
        if (i >= count)
          InvalidGltf(path, Format("primitive %d names vertex %d of %d", int64_t(pi), int64_t(i),
                                   int64_t(count)));
    } else {
      indices.resize(count);
      for (size_t i = 0; i < count; ++i) indices[i] = uint32_t(i);
    }
    if (indices.size() % 3 != 0)
      InvalidGltf(path, Format("primitive %d has a triangle short of corners", int64_t(pi)));

    // The material's colour, for vertices without their own.
    TRGBA base{255, 255, 255, 255};
    const int32_t material = primitive.material;
    if (material >= 0) {
      if (size_t(material) >= model.materials.size())
        InvalidGltf(path, Format("primitive %d names no material %d", int64_t(pi), material));
      const auto& factor = model.materials[size_t(material)].pbrMetallicRoughness.baseColorFactor;
      if (factor.size() == 4)
        base = {SRGBByte(float(factor[0])), SRGBByte(float(factor[1])), SRGBByte(float(factor[2])),
                UnitByte(float(factor[3]))};
    }

    for (size_t t = 0; t + 2 < indices.size(); t += 3) {
      // The joint of the largest summed weight over the three corners; ties the lower.
      std::map<uint32_t, float> sums;
      for (size_t k = 0; k < 3; ++k)
        for (size_t c = 0; c < 4; ++c) {
          const size_t v = indices[t + k];
          const float weight = weights[v * 4 + c];
          const float joint = joints[v * 4 + c];
          if (!(weight > 0) || !(joint >= 0) || joint >= float(skin.joints.size())) continue;
          sums[uint32_t(joint)] += weight;
        }
      int32_t bone = -1;
      float best = 0;
      for (const auto& [joint, sum] : sums)
        if (sum > best && boneOfJoint[joint] >= 0) {
          best = sum;
          bone = boneOfJoint[joint];
        }
      if (bone < 0) {
        ++mesh.Unbound;
        continue;
      }
      ++mesh.Triangles;
      std::vector<TFileCorner>& out = mesh.Bones[size_t(bone)].Corners[material];
      for (size_t k = 0; k < 3; ++k) {
        const size_t v = indices[t + k];
        TFileCorner corner;
        const TVec3 p =
            wInverse.TransformPoint({positions[v * 3], positions[v * 3 + 1], positions[v * 3 + 2]});
        if (!std::isfinite(p.X) || !std::isfinite(p.Y) || !std::isfinite(p.Z))
          InvalidGltf(path, Format("primitive %d has a position that is no number", int64_t(pi)));
        corner.Position = p;
        mesh.Low = {std::min(mesh.Low.X, p.X), std::min(mesh.Low.Y, p.Y),
                    std::min(mesh.Low.Z, p.Z)};
        mesh.High = {std::max(mesh.High.X, p.X), std::max(mesh.High.Y, p.Y),
                     std::max(mesh.High.Z, p.Z)};
        if (!colours.empty()) {
          const float* c = &colours[v * size_t(colourWidth)];
          corner.Colour = {SRGBByte(c[0]), SRGBByte(c[1]), SRGBByte(c[2]),
                           colourWidth == 4 ? UnitByte(c[3]) : uint8_t(255)};
        } else {
          corner.Colour = base;
        }
        if (!uvs.empty()) corner.UV = {uvs[v * 2], uvs[v * 2 + 1]};
        out.push_back(corner);
      }
    }
  }
  return mesh;
}

// The glTF image a material draws with, or -1.
int32_t MaterialImage(const tinygltf::Model& model, int32_t material) {
  if (material < 0 || size_t(material) >= model.materials.size()) return -1;
  const int texture = model.materials[size_t(material)].pbrMetallicRoughness.baseColorTexture.index;
  if (texture < 0 || size_t(texture) >= model.textures.size()) return -1;
  const int source = model.textures[size_t(texture)].source;
  return source >= 0 && size_t(source) < model.images.size() ? source : -1;
}

// Where the bind pose puts each joint (model space), chosen as the animation import
// chooses it; when the file's joints lie where no candidate puts them, every rotation 0.
std::vector<TMatrix4> BindJointsOf(const TGltfAnimationFile& file,
                                   const std::vector<std::string>& names,
                                   const std::vector<TBindCandidate>& candidates) {
  std::vector<TMatrix4> joints;
  try {
    file.BindPose(names, candidates, joints);
  } catch (const Exception&) {
    joints = candidates[0]();
  }
  return joints;
}

// Moves the mesh and its joints so that the first bone's joint lies where the bind pose
// puts it. A program that saved the file again may have bound the skin in a space moved
// from that of the node above the skeleton (Blender binds it in its armature's); the joints'
// places relative to each other, by which the bind pose was chosen, are the same.
void AlignToBind(TFileMesh& mesh, const std::vector<TMatrix4>& bind) {
  for (size_t b = 0; b < mesh.HasJoint.size() && b < bind.size(); ++b) {
    if (!mesh.HasJoint[b]) continue;
    const TVec3 want = bind[b].Translation(), have = mesh.JointPositions[b];
    const TVec3 d{want.X - have.X, want.Y - have.Y, want.Z - have.Z};
    if (d.X == 0 && d.Y == 0 && d.Z == 0) return;
    auto move = [&](TVec3& p) { p = {p.X + d.X, p.Y + d.Y, p.Z + d.Z}; };
    for (TVec3& joint : mesh.JointPositions) move(joint);
    for (TBoneMaterials& bone : mesh.Bones)
      for (auto& [material, corners] : bone.Corners)
        for (TFileCorner& corner : corners) move(corner.Position);
    move(mesh.Low);
    move(mesh.High);
    return;
  }
}

// The joints that lie more than 1 % of the model's height from where the skeleton puts
// them.
void WarnOfMovedJoints(const TFileMesh& mesh, const std::vector<TMatrix4>& bind,
                       const std::vector<std::string>& names, TModelImportSummary& summary) {
  // The model's height as it stands or lies in the bind pose: its largest extent.
  TVec3 low = mesh.Low, high = mesh.High;
  for (const TMatrix4& joint : bind) {
    const TVec3 p = joint.Translation();
    low = {std::min(low.X, p.X), std::min(low.Y, p.Y), std::min(low.Z, p.Z)};
    high = {std::max(high.X, p.X), std::max(high.Y, p.Y), std::max(high.Z, p.Z)};
  }
  const float extent = std::max({high.X - low.X, high.Y - low.Y, high.Z - low.Z});
  const float height = extent > 0 ? extent : 1.0f;
  for (size_t b = 0; b < names.size() && b < bind.size(); ++b) {
    if (!mesh.HasJoint[b]) continue;
    const TVec3 a = mesh.JointPositions[b], c = bind[b].Translation();
    const float distance = std::hypot(a.X - c.X, a.Y - c.Y, a.Z - c.Z);
    if (distance > 0.01f * height)
      summary.Warnings.push_back(Format(
          "joint %s lies %.2f units from the skeleton's (more than 1 %% of the model's height); "
          "its triangles follow the skeleton's joint",
          names[b], double(distance)));
  }
  if (mesh.Unbound > 0)
    summary.Warnings.push_back(
        Format("%d triangles bound to no bone of the model left out", mesh.Unbound));
}

// A bone's triangles as P groups by material, in the part's frame: toPart takes a point of
// the model's space there; reverse turns the corners back into the file's winding.
std::vector<TPMeshGroup> PartGroups(const TBoneMaterials& bone, const TMatrix4& toPart,
                                    bool reverse, const std::vector<int32_t>& texIndexOf,
                                    const tinygltf::Model& model) {
  std::vector<TPMeshGroup> groups;
  for (const auto& [material, corners] : bone.Corners) {
    const int32_t image = MaterialImage(model, material);
    TPMeshGroup group;
    group.TexIndex = image >= 0 ? texIndexOf[size_t(image)] : -1;
    // Corners alike in every respect are one vertex.
    std::map<std::array<uint32_t, 8>, uint32_t> shared;
    static constexpr size_t kept[3] = {0, 1, 2}, reversed[3] = {0, 2, 1};
    const size_t* order = reverse ? reversed : kept;
    for (size_t t = 0; t + 2 < corners.size(); t += 3) {
      std::array<uint32_t, 3> triangle{};
      for (size_t k = 0; k < 3; ++k) {
        const TFileCorner& corner = corners[t + order[k]];
        TPMeshVertex vertex;
        vertex.Position = toPart.TransformPoint(corner.Position);
        vertex.Colour = corner.Colour;
        if (group.TexIndex >= 0) vertex.UV = corner.UV;
        std::array<uint32_t, 8> key{};
        std::memcpy(&key[0], &vertex.Position, 12);
        std::memcpy(&key[3], &vertex.Colour, 4);
        std::memcpy(&key[4], &vertex.UV, 8);
        auto [at, fresh] = shared.emplace(key, uint32_t(group.Vertices.size()));
        if (fresh) group.Vertices.push_back(vertex);
        triangle[k] = at->second;
      }
      group.Triangles.push_back(triangle);
    }
    groups.push_back(std::move(group));
  }
  return groups;
}

// Lines of a text as the model loader splits them, each with where it starts and ends
// (its terminator not included). A NUL ends the text.
struct TLineSpan {
  size_t Start, End;
};

std::vector<TLineSpan> SplitLines(std::string_view text) {
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  std::vector<TLineSpan> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    lines.push_back({start, end});
    size_t next = end;
    if (next < text.size() && text[next] == '\r') ++next;
    if (next < text.size() && text[next] == '\n' && (next == end || text[end] == '\r')) ++next;
    if (next == end) ++next;
    start = next;
  }
  return lines;
}

bool IsComment(std::string_view line) {
  size_t p = 0;
  while (p < line.size() && uint8_t(line[p]) <= ' ') ++p;
  return p < line.size() && line[p] == '#';
}

// The resource line of each bone of the HRC text, as line indexes.
std::vector<size_t> ResourceLines(std::string_view text, const std::vector<TLineSpan>& lines) {
  size_t next = 0;
  auto take = [&]() -> size_t {
    for (;;) {
      if (next >= lines.size()) throw EListError(0);
      const size_t line = next++;
      if (!IsComment(text.substr(lines[line].Start, lines[line].End - lines[line].Start)))
        return line;
    }
  };
  for (int i = 0; i < 3; ++i) take();
  std::vector<size_t> resourceLines;
  while (next < lines.size()) {
    const size_t separator = take();
    if (lines[separator].End != lines[separator].Start) throw Exception("HRC fail");
    for (int i = 0; i < 3; ++i) take();
    resourceLines.push_back(take());
  }
  return resourceLines;
}

std::string ReadMemberBytes(TLGPFile& archive, const std::string& name) {
  const int32_t index = archive.IndexOf(name);
  if (index < 0) {
    EListError missing(-1);
    missing.AddCause("no member named " + name);
    throw missing;
  }
  return std::string(archive.ReadMemberToMemory(index)->View());
}

// The RSD text with its texture entries made textures (NTEX and TEX[n]); the other lines
// kept as they are, the new entries where the old count stood (or at the end).
std::string RewriteRSD(std::string_view old, const std::string& ply,
                       const std::vector<std::string>& textures) {
  const std::vector<TLineSpan> lines = SplitLines(old);
  std::string lineEnd = "\r\n";
  if (!lines.empty() && lines[0].End < old.size() && old[lines[0].End] == '\n') lineEnd = "\n";
  std::string entries = "NTEX=" + std::to_string(textures.size()) + lineEnd;
  for (size_t n = 0; n < textures.size(); ++n)
    entries += "TEX[" + std::to_string(n) + "]=" + textures[n] + lineEnd;
  std::string out;
  bool placed = false, plyPlaced = false;
  for (const TLineSpan& span : lines) {
    const std::string line(old.substr(span.Start, span.End - span.Start));
    const size_t equals = line.find('=');
    const std::string name =
        equals == std::string::npos ? std::string() : UpperCaseASCII(line.substr(0, equals));
    if (name == "PLY" && !plyPlaced) {
      out += "PLY=" + ply + lineEnd;
      plyPlaced = true;
    } else if (name == "NTEX" || (name.compare(0, 4, "TEX[") == 0 && name.back() == ']')) {
      if (!placed) out += entries;
      placed = true;
    } else {
      out += line + lineEnd;
    }
  }
  if (!plyPlaced) out += "PLY=" + ply + lineEnd;
  if (!placed) out += entries;
  return out;
}

// New member names in the model's own way: its two-letter stem and two letters counted on
// from AA, each the first whose RSD, P and TEX members are all free.
class TNewNames {
public:
  TNewNames(TLGPFile& archive, std::string stem) : FArchive(archive), FStem(std::move(stem)) {}
  std::string Next() {
    for (; FCounter < 26 * 26; ++FCounter) {
      std::string name = FStem;
      name += char('A' + FCounter / 26);
      name += char('A' + FCounter % 26);
      if (Taken(name)) continue;
      ++FCounter;
      FUsed.insert(UpperCaseASCII(name));
      return name;
    }
    throw Exception(Format("no free member names %s?? left for the model's new parts", FStem));
  }
  void Reserve(const std::string& name) { FUsed.insert(UpperCaseASCII(name)); }

private:
  bool Taken(const std::string& name) const {
    if (FUsed.count(UpperCaseASCII(name))) return true;
    for (const char* extension : {".RSD", ".P", ".TEX"})
      if (FArchive.IndexOf(name + extension) >= 0) return true;
    return false;
  }
  TLGPFile& FArchive;
  std::string FStem;
  int FCounter = 0;
  std::set<std::string> FUsed;
};

// The textures of the file's images that the mesh uses: an image that is one of the
// model's own textures (the same picture) keeps that member; another becomes a new member.
struct TImportedTextures {
  std::vector<std::string> MemberOfImage; // "" for images not used
};

TImportedTextures ImportImages(const TGltfAnimationFile& file, const TFileMesh& mesh,
                               const std::vector<std::pair<std::string, const TTexImage*>>& own,
                               TNewNames& names, const TModelImportOptions& options,
                               TModelImport& result) {
  const tinygltf::Model& model = file.Contents().Model;
  TImportedTextures textures;
  textures.MemberOfImage.assign(model.images.size(), "");
  std::vector<bool> used(model.images.size(), false);
  for (const TBoneMaterials& bone : mesh.Bones)
    for (const auto& [material, corners] : bone.Corners)
      if (const int32_t image = MaterialImage(model, material); image >= 0)
        used[size_t(image)] = true;
  for (size_t i = 0; i < used.size(); ++i) {
    if (!used[i]) continue;
    const TTexImage picture = DecodeGltfImage(file.Contents(), int32_t(i), file.Path());
    for (const auto& [member, image] : own)
      if (image && image->Width == picture.Width && image->Height == picture.Height &&
          image->Pixels == picture.Pixels) {
        textures.MemberOfImage[i] = member;
        break;
      }
    if (!textures.MemberOfImage[i].empty()) continue;
    if (!options.EncodeTexture) throw Exception("no texture writer");
    std::string bytes = options.EncodeTexture(picture);
    const std::string member = names.Next() + ".TEX";
    textures.MemberOfImage[i] = member;
    result.Edit.Adds.push_back({member, {"", std::move(bytes)}, false});
    result.Summary.Members.push_back(member);
    ++result.Summary.Textures;
  }
  return textures;
}

// Every texture member named by an RSD of the archive but those in skip (upper case).
std::set<std::string> TexturesNamedElsewhere(TLGPFile& archive, const std::set<std::string>& skip) {
  std::set<std::string> named;
  for (int32_t i = 0; i < archive.Count(); ++i) {
    const std::string name = archive.GetEntry(i).Name;
    if (name.size() < 4 || !SameTextASCII(name.substr(name.size() - 4), ".RSD")) continue;
    if (skip.count(UpperCaseASCII(name))) continue;
    try {
      TMemoryStream bytes(ReadMemberBytes(archive, name));
      const TRSDResource rsd(bytes, name, {});
      for (int32_t n = 0; n < rsd.TextureCount(); ++n)
        named.insert(UpperCaseASCII(rsd.TextureName(n)));
    } catch (const Exception&) {
      // An RSD that does not read names nothing the game could load.
    }
  }
  return named;
}

} // namespace

std::vector<std::vector<std::string>> HRCResources(std::string_view text) {
  const std::vector<TLineSpan> lines = SplitLines(text);
  std::vector<std::vector<std::string>> resources;
  for (size_t line : ResourceLines(text, lines))
    resources.push_back(ResourceNames(
        std::string(text.substr(lines[line].Start, lines[line].End - lines[line].Start))));
  return resources;
}

std::string RewriteHRCResources(std::string_view text,
                                const std::vector<std::vector<std::string>>& resources) {
  const std::vector<TLineSpan> lines = SplitLines(text);
  const std::vector<size_t> at = ResourceLines(text, lines);
  std::string out;
  size_t copied = 0;
  for (size_t b = 0; b < at.size() && b < resources.size(); ++b) {
    const TLineSpan& span = lines[at[b]];
    out.append(text.substr(copied, span.Start - copied));
    std::string line = std::to_string(resources[b].size());
    for (const std::string& name : resources[b]) line += " " + name;
    out += line;
    copied = span.End;
  }
  out.append(text.substr(copied));
  return out;
}

TModelImport PlanFieldModelImport(TLGPFile& archive, const std::string& hrcName,
                                  const TGltfAnimationFile& file,
                                  const TModelImportOptions& options) {
  const TFieldModel model(archive, hrcName, "");
  const std::string hrcText = ReadMemberBytes(archive, hrcName);
  std::vector<std::vector<std::string>> resources = HRCResources(hrcText);
  const int32_t bones = model.BoneCount();
  if (int32_t(resources.size()) != bones - 1) throw Exception("HRC fail");

  std::vector<std::string> names;
  for (const auto& bone : model.Bones) names.push_back(Latin1ToUTF8(bone->Name));
  TMatrix4 w;
  TFileMesh mesh = ReadFileMesh(file.Contents(), file.Path(), names, w, hrcName);
  const std::vector<TMatrix4> bind = BindJointsOf(
      file, names, FieldBindCandidates(model, FirstAnimationName(file), options.Animations));
  AlignToBind(mesh, bind);

  TModelImport result;
  WarnOfMovedJoints(mesh, bind, names, result.Summary);

  // The model's own textures, and the kept bytes of its P parts.
  std::vector<std::pair<std::string, const TTexImage*>> own;
  for (const auto& bone : model.Bones)
    for (const auto& part : bone->Parts)
      for (size_t t = 0; t < part->Textures.size() && t < part->TextureNames.size(); ++t)
        own.emplace_back(part->TextureNames[t], part->Textures[t].get());

  std::string stem = hrcName.substr(0, std::min<size_t>(2, hrcName.size()));
  for (const auto& list : resources)
    if (!list.empty() && list[0].size() >= 2) {
      stem = list[0].substr(0, 2);
      break;
    }
  TNewNames newNames(archive, UpperCaseASCII(stem));
  for (const auto& list : resources)
    for (const std::string& name : list) newNames.Reserve(name);

  const TImportedTextures textures = ImportImages(file, mesh, own, newNames, options, result);

  // Bytes a new part keeps: the model's first P part's header, and records of its kinds.
  TPKeptBytes template_;
  bool haveTemplate = false;
  std::set<std::string> written; // RSD members written (upper case)
  std::set<std::string> rewrittenRSDs;
  std::set<std::string> usedTextures;
  const tinygltf::Model& gltf = file.Contents().Model;
  std::vector<std::vector<std::string>> newResources(resources.size());

  for (int32_t b = 1; b < bones; ++b) {
    for (const std::string& name : resources[size_t(b - 1)]) {
      if (haveTemplate) break;
      try {
        TMemoryStream rsdBytes(ReadMemberBytes(archive, name + ".rsd"));
        const TRSDResource rsd(rsdBytes, name, {});
        template_ = KeptPBytes(ReadMemberBytes(archive, rsd.PName()));
        haveTemplate = true;
      } catch (const Exception&) {
      }
    }
  }
  for (int32_t b = 1; b < bones; ++b) {
    const TBoneMaterials& bone = mesh.Bones[size_t(b)];
    const std::vector<std::string>& old = resources[size_t(b - 1)];
    if (bone.Corners.empty()) continue; // the bone keeps no part

    // The part's textures, in the order its groups count them.
    std::vector<std::string> partTextures;
    std::vector<int32_t> texIndexOf(gltf.images.size(), -1);
    for (const auto& [material, corners] : bone.Corners)
      if (const int32_t image = MaterialImage(gltf, material);
          image >= 0 && texIndexOf[size_t(image)] < 0) {
        texIndexOf[size_t(image)] = int32_t(partTextures.size());
        partTextures.push_back(textures.MemberOfImage[size_t(image)]);
        usedTextures.insert(UpperCaseASCII(textures.MemberOfImage[size_t(image)]));
      }
    // Field parts were negated on load; their corners were turned by export.
    const bool reverse = ReversesWinding(FieldVertexMap());
    const std::vector<TPMeshGroup> groups =
        PartGroups(bone, bind[size_t(b)].AffineInverse(), reverse, texIndexOf, gltf);

    std::string resource, rsdText, pName;
    TPKeptBytes kept = template_;
    bool replacing = false;
    if (!old.empty() && !written.count(UpperCaseASCII(old[0]))) {
      resource = old[0];
      const std::string rsdName = resource + ".rsd";
      const int32_t index = archive.IndexOf(rsdName);
      if (index >= 0) {
        rsdText = ReadMemberBytes(archive, rsdName);
        TMemoryStream rsdBytes(rsdText);
        pName = TRSDResource(rsdBytes, rsdName, {}).PName();
        if (!pName.empty() && archive.IndexOf(pName) >= 0) {
          kept = KeptPBytes(ReadMemberBytes(archive, pName));
          replacing = true;
        }
      }
    }
    if (!replacing) {
      resource = newNames.Next();
      pName = resource + ".P";
      rsdText.clear();
    }
    written.insert(UpperCaseASCII(resource));
    std::vector<std::string> rsdTextures;
    for (const std::string& member : partTextures)
      rsdTextures.push_back(member.substr(0, member.size() >= 2 ? member.size() - 2 : 0) + "IM");
    const std::string ply = pName.substr(0, pName.size() >= 1 ? pName.size() - 1 : 0) + "PLY";
    std::string rsd = rsdText.empty() ? RewriteRSD("@RSD940102\r\n", ply, rsdTextures)
                                      : RewriteRSD(rsdText, ply, rsdTextures);
    std::string p = WritePFile(groups, kept);
    TModelImportSummary::TBone summary{names[size_t(b)], 0, int32_t(partTextures.size())};
    for (const auto& group : groups) summary.Triangles += int64_t(group.Triangles.size());
    result.Summary.Triangles += summary.Triangles;
    result.Summary.Bones.push_back(summary);
    const std::string rsdMember =
        replacing ? archive.GetEntry(archive.IndexOf(resource + ".rsd")).Name : resource + ".RSD";
    const std::string pMember = replacing ? archive.GetEntry(archive.IndexOf(pName)).Name : pName;
    rewrittenRSDs.insert(UpperCaseASCII(rsdMember));
    result.Edit.Adds.push_back({pMember, {"", std::move(p)}, replacing});
    result.Edit.Adds.push_back({rsdMember, {"", std::move(rsd)}, replacing});
    result.Summary.Members.push_back(pMember);
    result.Summary.Members.push_back(rsdMember);
    newResources[size_t(b - 1)] = {resource};
  }
  if (result.Summary.Triangles == 0)
    throw Exception(Format("no triangle of %s is bound to a bone of %s", file.Path(), hrcName));

  const std::string hrcMember = archive.GetEntry(archive.IndexOf(hrcName)).Name;
  result.Edit.Adds.push_back({hrcMember, {"", RewriteHRCResources(hrcText, newResources)}, true});
  result.Summary.Members.push_back(hrcMember);

  if (options.Prune) {
    // The model's own resources, kept or dropped from its skeleton, name nothing that
    // stays; every other RSD of the archive may.
    std::set<std::string> ownRSDs = rewrittenRSDs;
    for (const auto& list : resources)
      for (const std::string& name : list) ownRSDs.insert(UpperCaseASCII(name + ".RSD"));
    const std::set<std::string> elsewhere = TexturesNamedElsewhere(archive, ownRSDs);
    std::set<std::string> removed;
    for (const auto& [member, image] : own) {
      const std::string upper = UpperCaseASCII(member);
      if (usedTextures.count(upper) || elsewhere.count(upper) || removed.count(upper)) continue;
      removed.insert(upper);
      result.Edit.Removes.push_back(member);
    }
  }
  return result;
}

TModelImport PlanBattleModelImport(TLGPFile& archive, const std::string& code,
                                   const TGltfAnimationFile& file,
                                   const TModelImportOptions& options) {
  TBattleModel model;
  model.LoadFromArchive(archive, code);
  std::string lower = code;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  // New members are spelled as the model's skeleton member is.
  const std::string aaName = archive.GetEntry(archive.IndexOf(lower + "aa")).Name;
  const bool upper = !aaName.empty() && aaName[0] >= 'A' && aaName[0] <= 'Z';
  auto spelled = [&](const std::string& suffix) {
    return upper ? UpperCaseASCII(lower + suffix) : lower + suffix;
  };
  const int32_t bones = model.BoneCount;
  std::vector<std::string> names{"root"};
  for (int32_t b = 0; b < bones; ++b) names.push_back("bone" + std::to_string(b));
  TMatrix4 w;
  TFileMesh mesh = ReadFileMesh(file.Contents(), file.Path(), names, w, UpperCaseASCII(code));
  const std::vector<TMatrix4> bind =
      BindJointsOf(file, names, BattleBindCandidates(model, FirstAnimationName(file)));
  AlignToBind(mesh, bind);
  TModelImport result;
  WarnOfMovedJoints(mesh, bind, names, result.Summary);
  if (!mesh.Bones[0].Corners.empty())
    result.Summary.Warnings.push_back(
        "triangles bound to the root left out: a battle model's root carries no part");

  // The model's textures, in member order after "ab": pictures it has keep their member and
  // place; new ones follow the last, before the parts ("am").
  const tinygltf::Model& gltf = file.Contents().Model;
  std::vector<std::string> textureSuffixes;
  for (char second = 'c'; second < 'm'; ++second) {
    const std::string suffix{'a', second};
    if (archive.IndexOf(lower + suffix) >= 0) textureSuffixes.push_back(suffix);
  }
  std::vector<int32_t> texIndexOf(gltf.images.size(), -1);
  int32_t textureCount = int32_t(model.Textures.size());
  {
    std::vector<bool> used(gltf.images.size(), false);
    for (const TBoneMaterials& bone : mesh.Bones)
      for (const auto& [material, corners] : bone.Corners)
        if (const int32_t image = MaterialImage(gltf, material); image >= 0)
          used[size_t(image)] = true;
    char next = textureSuffixes.empty() ? 'c' : char(textureSuffixes.back()[1] + 1);
    for (size_t i = 0; i < used.size(); ++i) {
      if (!used[i]) continue;
      const TTexImage picture = DecodeGltfImage(file.Contents(), int32_t(i), file.Path());
      for (size_t t = 0; t < model.Textures.size(); ++t) {
        const TTexImage* own = model.Textures[t].get();
        if (own && own->Width == picture.Width && own->Height == picture.Height &&
            own->Pixels == picture.Pixels) {
          texIndexOf[i] = int32_t(t);
          break;
        }
      }
      if (texIndexOf[i] >= 0) continue;
      if (next >= 'm')
        throw Exception(Format("%s has no room for another texture: a battle model's textures "
                               "are members %sac to %sal",
                               UpperCaseASCII(code), UpperCaseASCII(code), UpperCaseASCII(code)));
      if (!options.EncodeTexture) throw Exception("no texture writer");
      const std::string member = spelled(std::string{'a', next++});
      result.Edit.Adds.push_back({member, {"", options.EncodeTexture(picture)}, false});
      result.Summary.Members.push_back(member);
      ++result.Summary.Textures;
      texIndexOf[i] = textureCount++;
    }
  }

  // The skeleton with a part for every bone that had one or gets triangles.
  std::string skeleton = ReadMemberBytes(archive, lower + "aa");
  std::vector<bool> hasPart(size_t(bones), false);
  for (int32_t b = 0; b < bones; ++b) hasPart[size_t(b)] = model.Parts[size_t(b)] != nullptr;
  std::vector<std::string> partMembers; // the old part members, in order
  for (char first = 'a'; first <= 'c'; ++first)
    for (char second = 'a'; second <= 'z'; ++second) {
      const std::string suffix{first, second};
      if (suffix >= "am" && archive.IndexOf(lower + suffix) >= 0) partMembers.push_back(suffix);
    }
  TPKeptBytes template_;
  if (!partMembers.empty())
    template_ = KeptPBytes(ReadMemberBytes(archive, lower + partMembers[0]));

  size_t slot = 0;           // the part member of the next bone with a part
  std::string suffix = "am"; // where a new part member goes
  const bool reverse = ReversesWinding(BattleMirror() * FieldVertexMap());
  const TMatrix4 mirror = BattleMirror().AffineInverse();
  for (int32_t b = 0; b < bones; ++b) {
    const TBoneMaterials& bone = mesh.Bones[size_t(b + 1)];
    if (!hasPart[size_t(b)] && bone.Corners.empty()) continue;
    // Part members are named in bone order from "am": a bone that gets its first part
    // moves the members after it up a name. Each keeps the bytes of the bone's old part.
    const std::string member = suffix;
    TPKeptBytes kept = template_;
    if (hasPart[size_t(b)] && slot < partMembers.size())
      kept = KeptPBytes(ReadMemberBytes(archive, lower + partMembers[slot++]));
    if (suffix >= "da")
      throw Exception(Format("%s has no room for more parts", UpperCaseASCII(code)));
    if (++suffix[1] > 'z') {
      suffix[1] = 'a';
      ++suffix[0];
    }
    if (!hasPart[size_t(b)])
      PutU32LE(reinterpret_cast<uint8_t*>(skeleton.data()) + 52 + 12 * size_t(b) + 8, 1);
    const std::vector<TPMeshGroup> groups =
        PartGroups(bone, mirror * bind[size_t(b + 1)].AffineInverse(), reverse, texIndexOf, gltf);
    TModelImportSummary::TBone summary{names[size_t(b + 1)], 0, 0};
    std::set<int32_t> textures;
    for (const auto& group : groups) {
      summary.Triangles += int64_t(group.Triangles.size());
      if (group.TexIndex >= 0) textures.insert(group.TexIndex);
    }
    summary.Textures = int32_t(textures.size());
    if (summary.Triangles > 0) {
      result.Summary.Triangles += summary.Triangles;
      result.Summary.Bones.push_back(summary);
    }
    const std::string name = spelled(member);
    const bool there = archive.IndexOf(name) >= 0;
    result.Edit.Adds.push_back({there ? archive.GetEntry(archive.IndexOf(name)).Name : name,
                                {"", WritePFile(groups, kept)},
                                there});
    result.Summary.Members.push_back(name);
  }
  if (result.Summary.Triangles == 0)
    throw Exception(
        Format("no triangle of %s is bound to a bone of %s", file.Path(), UpperCaseASCII(code)));
  result.Edit.Adds.push_back({aaName, {"", skeleton}, true});
  result.Summary.Members.push_back(aaName);
  return result;
}

} // namespace palkor
