// glTF 2.0 export of field and battle models.
//
// Document layout (the same for every model):
//   scene 0: node 0, the model's name, carrying the unit scale and the viewer's lift
//              (battle models also the viewer's battle scale), with the skeleton below:
//            nodes 1 .. J, one per joint, the skeleton's parents (a bone the viewer
//              never reaches hangs from node 0); a joint's origin is where its parts
//              are drawn, its own transform is frame 0 of the first animation
//            node J + 1, the mesh (a scene root without a transform, as glTF wants
//              skinned meshes)
//   skin 0: joints 1 .. J, inverse bind matrices of the bind pose: every rotation 0
//           (and a battle root's offsets 0), or with TBindPose::FirstFrame frame 0 of
//           the first animation (every rotation 0 when there is none)
//   mesh 0: one primitive per material, three unshared vertices a triangle, each bound
//           to its joint with weight 1, placed in the bind pose: POSITION, COLOR_0
//           (linear RGBA floats), TEXCOORD_0 (textured primitives), JOINTS_0, WEIGHTS_0;
//           front faces counter-clockwise, as glTF has them
//   materials: unlit (KHR_materials_unlit), double-sided, as the viewer draws without
//              lighting and culling; textured ones take their TEX image as a PNG
//   animations: one per game animation, frame k at k / fps s, linear; a rotation key for
//               every joint at every frame, and translation keys for a battle root
//
// Battle models are mirrored in X by the viewer. A mirror cannot be a node transform
// without turning the faces inside out in most programs, so it is applied to the data:
// vertices are mirrored and every joint transform M * T * M is used in place of T. The
// result is the same picture.
//
// Winding: a P file's triangles wind counter-clockwise about their outward normals in
// the file's own numbers, as glTF's front faces do (geometry/Conventions.h). A triangle's
// corners are written in reverse order exactly when the whole map from the file's
// numbers to the written positions mirrors (ReversesWinding): field parts, negated on
// load, are reversed; battle parts, negated and mirrored, keep their order. The joint
// transforms after that map only turn, move and scale evenly, so the part's own
// transform decides.
#include "export/gltf.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "geometry/Conventions.h"
#include "geometry/Placement.h"
#include "geometry/Skeleton.h"
#include "platform/Convert.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/StringList.h"
#include "platform/images.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <sstream>

namespace palkor {

struct TGltfDocument::TImpl {
  tinygltf::Model Model;
  // The images' PNG files come last in the buffer, from this view on; a JSON file takes
  // them out into data URIs of their own.
  size_t FirstImageView = 0;
};

TGltfDocument::TGltfDocument() : Impl(std::make_unique<TImpl>()) {}
TGltfDocument::TGltfDocument(TGltfDocument&&) noexcept = default;
TGltfDocument& TGltfDocument::operator=(TGltfDocument&&) noexcept = default;
TGltfDocument::~TGltfDocument() = default;

namespace {

// The model as a skin: what both kinds of model become before they are written.
struct TJoint {
  std::string Name;
  int32_t Parent = -1; // a joint index; -1 hangs from the node above the skeleton
  TMatrix4 BindLocal = TMatrix4::Identity();
};

struct TVertex {
  TVec3 Position; // in its joint's space
  TRGBA Colour;
  TTexCoord UV;
  int32_t Joint = 0;
};

enum class TAlpha { Opaque, Mask, Blend };

struct TPrimitiveKey {
  int32_t Image = -1; // -1: untextured
  TAlpha Alpha = TAlpha::Opaque;
  bool operator<(const TPrimitiveKey& b) const {
    return std::tie(Image, Alpha) < std::tie(b.Image, b.Alpha);
  }
};

// A joint's local transform: a turn, then a move.
struct TKey {
  TVec3 Translation;
  TQuat Rotation;
};

TKey KeyOf(const TMatrix4& m) {
  return {m.Translation(), m.RotationPart()};
}

struct TTrack {
  std::string Name;
  int32_t Frames = 0;
  // Frame-major: the local transform of joint j at frame f is Keys[f * J + j].
  std::vector<TKey> Keys;
  // Joints whose translation moves during the animation.
  std::vector<int32_t> Moving;
};

struct TSkinnedModel {
  std::string Name;
  // The node above the skeleton's transform: it only moves and scales evenly.
  TMatrix4 Top = TMatrix4::Identity();
  std::vector<TJoint> Joints;
  std::vector<std::shared_ptr<const TTexImage>> Images;
  std::map<TPrimitiveKey, std::vector<TVertex>> Primitives;
  std::vector<TTrack> Tracks;

  // Per image: some texel is transparent (texture alpha is all or nothing: a colour key).
  std::vector<bool> Keyed;

  int32_t ImageIndex(const std::shared_ptr<const TTexImage>& image) {
    auto found = std::find(Images.begin(), Images.end(), image);
    if (found != Images.end()) return int32_t(found - Images.begin());
    Images.push_back(image);
    bool keyed = false;
    for (size_t i = 3; i < image->Pixels.size() && !keyed; i += 4) keyed = image->Pixels[i] < 255;
    Keyed.push_back(keyed);
    return int32_t(Images.size() - 1);
  }
};

// The triangles the viewer draws of part, bound to joint, into model. transform maps a
// part vertex into the joint's space as exported.
void AddPart(TSkinnedModel& model, const TFF7PPart& part, int32_t joint,
             const TMatrix4& transform) {
  const int64_t texCoordCount = int64_t(part.TexCoords.size());
  // The corners in the order that keeps the file's outside out.
  static constexpr size_t kept[3] = {0, 1, 2}, reversed[3] = {0, 2, 1};
  const size_t* order = ReversesWinding(transform * FieldVertexMap()) ? reversed : kept;
  for (int pass = 0; pass < 2; ++pass) {
    TPrimitiveKey key;
    auto group = [&](size_t g) {
      const TPGroup& grp = part.Groups[g];
      key = {};
      if (!grp.Textured() || uint32_t(grp.TexIndex) >= part.Textures.size()) return;
      // A colour key masks; translucent vertex colours blend (below). The viewer draws
      // both blended.
      key.Image = model.ImageIndex(part.Textures[size_t(grp.TexIndex)]);
      key.Alpha = model.Keyed[size_t(key.Image)] ? TAlpha::Mask : TAlpha::Opaque;
    };
    auto polygon = [&](size_t g, const TIndexTriple& vertices, const TIndexTriple& uvs) {
      TPrimitiveKey polyKey = key;
      if (polyKey.Image >= 0)
        for (int64_t v : vertices)
          if (part.Colours[size_t(v)].A < 255) polyKey.Alpha = TAlpha::Blend;
      std::vector<TVertex>& out = model.Primitives[polyKey];
      for (size_t corner = 0; corner < 3; ++corner) {
        const size_t k = order[corner];
        TVertex vertex;
        vertex.Position = transform.TransformPoint(part.Vertices[size_t(vertices[k])]);
        vertex.Colour = part.Colours[size_t(vertices[k])];
        if (polyKey.Image >= 0 && uvs[k] >= 0 && uvs[k] < texCoordCount)
          vertex.UV = part.TexCoords[size_t(uvs[k])];
        vertex.Joint = joint;
        out.push_back(vertex);
      }
    };
    WalkPartPass(part, pass, group, polygon);
  }
}

// Blend primitives that share an image with opaque or masked ones take them all in:
// one material per image and alpha mode would otherwise split a surface arbitrarily.
void MergeBlendedPrimitives(TSkinnedModel& model) {
  for (auto& [key, vertices] : model.Primitives) {
    if (key.Alpha != TAlpha::Blend) continue;
    for (TAlpha other : {TAlpha::Opaque, TAlpha::Mask}) {
      auto found = model.Primitives.find({key.Image, other});
      if (found == model.Primitives.end()) continue;
      vertices.insert(vertices.end(), found->second.begin(), found->second.end());
      model.Primitives.erase(found);
    }
  }
}

// Which joints the viewer reaches from the skeleton's start; the others hang from the
// node above the skeleton, unconnected.
void DetachUnreached(TSkinnedModel& model, const std::vector<TPosedJoint>& reached) {
  std::vector<bool> seen(model.Joints.size(), false);
  for (const TPosedJoint& joint : reached) seen[size_t(joint.Bone)] = true;
  for (size_t j = 0; j < model.Joints.size(); ++j)
    if (!seen[j]) {
      model.Joints[j].Parent = -1;
      model.Joints[j].BindLocal = TMatrix4::Identity();
    }
}

TMatrix4 KeyMatrix(const TKey& key) {
  return TMatrix4::Translation(key.Translation.X, key.Translation.Y, key.Translation.Z) *
         TMatrix4::FromQuat(key.Rotation);
}

// The joints' local transforms in the bind pose: the skeleton's (every rotation 0) as
// they are, or frame 0 of the first track, as glTF readers compose the nodes' keys.
void UseBindPose(TSkinnedModel& model, TBindPose pose) {
  if (pose != TBindPose::FirstFrame || model.Tracks.empty() || model.Tracks[0].Frames < 1) return;
  for (size_t j = 0; j < model.Joints.size(); ++j)
    model.Joints[j].BindLocal = KeyMatrix(model.Tracks[0].Keys[j]);
}

// Each joint's transform in the bind pose below the node above the skeleton, whose
// transform is top. The joints' parents form a forest below that node.
std::vector<TMatrix4> BindWorlds(const TSkinnedModel& model, const TMatrix4& top) {
  std::vector<int32_t> parents;
  for (const TJoint& joint : model.Joints) parents.push_back(joint.Parent);
  const std::vector<std::vector<int32_t>> children = ChildrenOf(parents);
  std::vector<TMatrix4> worlds(model.Joints.size(), TMatrix4::Identity());
  std::vector<int32_t> pending;
  for (size_t j = 0; j < model.Joints.size(); ++j)
    if (parents[j] < 0) {
      worlds[j] = top * model.Joints[j].BindLocal;
      pending.push_back(int32_t(j));
    }
  while (!pending.empty()) {
    const int32_t j = pending.back();
    pending.pop_back();
    for (int32_t child : children[size_t(j)]) {
      worlds[size_t(child)] = worlds[size_t(j)] * model.Joints[size_t(child)].BindLocal;
      pending.push_back(child);
    }
  }
  return worlds;
}

std::string Base64(std::string_view bytes) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) n |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) n |= uint8_t(bytes[i + 2]);
    text += digits[(n >> 18) & 63];
    text += digits[(n >> 12) & 63];
    text += i + 1 < bytes.size() ? digits[(n >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? digits[n & 63] : '=';
  }
  return text;
}

// An sRGB colour byte as the linear value glTF vertex colours hold.
float Linear(uint8_t value) {
  static const std::array<float, 256> table = [] {
    std::array<float, 256> t{};
    for (int i = 0; i < 256; ++i) {
      double c = i / 255.0;
      t[size_t(i)] = float(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
    return t;
  }();
  return table[value];
}

// JSON has no NaN or infinity, and a value written as null would make the file invalid:
// a model holding such a value (a damaged part or animation) is refused.
void CheckFinite(const float* values, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!std::isfinite(values[i]))
      throw Exception("Cannot export the model: it holds a value that is not a finite number");
}

// Appends binary data to the one buffer, each view starting on a 4-byte boundary.
class TBufferWriter {
public:
  explicit TBufferWriter(tinygltf::Model& model, bool newBuffer = true) : FModel(model) {
    if (newBuffer) FModel.buffers.emplace_back();
  }

  int32_t View(const void* data, size_t size, int32_t target = 0) {
    std::vector<unsigned char>& bytes = FModel.buffers[0].data;
    while (bytes.size() % 4) bytes.push_back(0);
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = bytes.size();
    view.byteLength = size;
    view.target = target;
    const auto* p = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), p, p + size);
    FModel.bufferViews.push_back(view);
    return int32_t(FModel.bufferViews.size() - 1);
  }

  int32_t Accessor(const std::vector<float>& values, int type, int components, int32_t target = 0,
                   bool withBounds = false) {
    CheckFinite(values.data(), values.size());
    tinygltf::Accessor accessor;
    accessor.bufferView = View(values.data(), values.size() * sizeof(float), target);
    accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    accessor.type = type;
    accessor.count = values.size() / size_t(components);
    if (withBounds) {
      accessor.minValues.assign(size_t(components), std::numeric_limits<double>::max());
      accessor.maxValues.assign(size_t(components), std::numeric_limits<double>::lowest());
      for (size_t i = 0; i < values.size(); ++i) {
        size_t c = i % size_t(components);
        accessor.minValues[c] = std::min(accessor.minValues[c], double(values[i]));
        accessor.maxValues[c] = std::max(accessor.maxValues[c], double(values[i]));
      }
    }
    FModel.accessors.push_back(accessor);
    return int32_t(FModel.accessors.size() - 1);
  }

  // The floats as a view of their own, refused when one is not finite.
  int32_t View(const std::vector<float>& values, int32_t target) {
    CheckFinite(values.data(), values.size());
    return View(values.data(), values.size() * sizeof(float), target);
  }

  // An accessor of count float elements of type at byteOffset in view.
  int32_t AccessorAt(int32_t view, size_t byteOffset, size_t count, int type) {
    tinygltf::Accessor accessor;
    accessor.bufferView = view;
    accessor.byteOffset = byteOffset;
    accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    accessor.type = type;
    accessor.count = count;
    FModel.accessors.push_back(accessor);
    return int32_t(FModel.accessors.size() - 1);
  }

  int32_t JointAccessor(const std::vector<uint16_t>& joints, bool small) {
    tinygltf::Accessor accessor;
    if (small) {
      std::vector<uint8_t> bytes(joints.begin(), joints.end());
      accessor.bufferView = View(bytes.data(), bytes.size(), TINYGLTF_TARGET_ARRAY_BUFFER);
      accessor.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE;
    } else {
      accessor.bufferView =
          View(joints.data(), joints.size() * sizeof(uint16_t), TINYGLTF_TARGET_ARRAY_BUFFER);
      accessor.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
    }
    accessor.type = TINYGLTF_TYPE_VEC4;
    accessor.count = joints.size() / 4;
    FModel.accessors.push_back(accessor);
    return int32_t(FModel.accessors.size() - 1);
  }

private:
  tinygltf::Model& FModel;
};

void PutNodeTransform(tinygltf::Node& node, const TKey& local) {
  const float values[7] = {local.Translation.X, local.Translation.Y, local.Translation.Z,
                           local.Rotation.X,    local.Rotation.Y,    local.Rotation.Z,
                           local.Rotation.W};
  CheckFinite(values, 7);
  std::vector<double> t{local.Translation.X, local.Translation.Y, local.Translation.Z};
  std::vector<double> r{local.Rotation.X, local.Rotation.Y, local.Rotation.Z, local.Rotation.W};
  if (t != std::vector<double>{0, 0, 0}) node.translation = t;
  if (r != std::vector<double>{0, 0, 0, 1}) node.rotation = r;
}

TGltfDocument Write(TSkinnedModel& model, const TGltfOptions& options) {
  if (options.Fps < 1) throw Exception(Format("Invalid frame rate %d", options.Fps));
  // A vertex names its joint in 16 bits at most.
  if (model.Joints.size() > 65536)
    throw Exception(Format("Cannot export %d bones: a glTF skin holds at most 65536",
                           int64_t(model.Joints.size())));
  TGltfDocument document;
  tinygltf::Model& gltf = document.Impl->Model;
  gltf.asset.version = "2.0";
  gltf.asset.generator = std::string("Palkor ") + PALKOR_VERSION;
  TBufferWriter buffer(gltf);
  const size_t jointCount = model.Joints.size();
  UseBindPose(model, options.BindPose);

  // Node 0 above the skeleton, then the joints.
  tinygltf::Node top;
  top.name = model.Name;
  const TMatrix4& topMatrix = model.Top;
  const TVec3 lift = topMatrix.Translation();
  top.translation = {lift.X, lift.Y, lift.Z};
  top.scale = {topMatrix.At(0, 0), topMatrix.At(1, 1), topMatrix.At(2, 2)};
  gltf.nodes.push_back(top);
  const TTrack* first =
      model.Tracks.empty() || model.Tracks[0].Frames < 1 ? nullptr : &model.Tracks[0];
  for (size_t j = 0; j < jointCount; ++j) {
    tinygltf::Node node;
    node.name = model.Joints[j].Name;
    PutNodeTransform(node, first ? first->Keys[j] : KeyOf(model.Joints[j].BindLocal));
    gltf.nodes.push_back(node);
  }
  for (size_t j = 0; j < jointCount; ++j) {
    int32_t parent = model.Joints[j].Parent;
    gltf.nodes[size_t(parent + 1)].children.push_back(int(j + 1));
  }

  const std::vector<TMatrix4> bindWorld = BindWorlds(model, topMatrix);

  gltf.scenes.emplace_back();
  gltf.scenes[0].nodes.push_back(0);
  gltf.defaultScene = 0;

  // The images and their textures; their PNG files go in the buffer after everything else.
  std::vector<std::string> images;
  tinygltf::Sampler sampler;
  sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
  sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
  sampler.wrapS = sampler.wrapT = TINYGLTF_TEXTURE_WRAP_REPEAT;
  if (!model.Images.empty()) gltf.samplers.push_back(sampler);
  for (size_t i = 0; i < model.Images.size(); ++i) {
    const TTexImage& image = *model.Images[i];
    // An empty image is drawn as opaque white, as the viewer's texture for it.
    static const uint8_t white[4] = {255, 255, 255, 255};
    bool empty = image.Width <= 0 || image.Height <= 0;
    std::string png = empty ? EncodePNG(1, 1, white, 4)
                            : EncodePNG(image.Width, image.Height, image.Pixels.data(), 4);
    tinygltf::Image entry;
    entry.name = "texture" + std::to_string(i);
    entry.mimeType = "image/png";
    gltf.images.push_back(entry);
    images.push_back(std::move(png));
    tinygltf::Texture texture;
    texture.sampler = 0;
    texture.source = int(i);
    gltf.textures.push_back(texture);
  }

  // The mesh, when the viewer draws anything of the model.
  MergeBlendedPrimitives(model);
  if (!model.Primitives.empty() && jointCount > 0) {
    tinygltf::Mesh mesh;
    mesh.name = model.Name;
    const bool smallJoints = jointCount <= 256;
    for (auto& [key, vertices] : model.Primitives) {
      const size_t n = vertices.size();
      std::vector<float> positions(n * 3), colours(n * 4), uvs(n * 2), weights(n * 4, 0.0f);
      std::vector<uint16_t> joints(n * 4, 0);
      for (size_t v = 0; v < n; ++v) {
        const TVertex& vertex = vertices[v];
        TVec3 p = bindWorld[size_t(vertex.Joint)].TransformPoint(vertex.Position);
        float* position = &positions[v * 3];
        position[0] = p.X, position[1] = p.Y, position[2] = p.Z;
        float* colour = &colours[v * 4];
        colour[0] = Linear(vertex.Colour.R), colour[1] = Linear(vertex.Colour.G);
        colour[2] = Linear(vertex.Colour.B), colour[3] = vertex.Colour.A / 255.0f;
        uvs[v * 2] = vertex.UV.U, uvs[v * 2 + 1] = vertex.UV.V;
        joints[v * 4] = uint16_t(vertex.Joint);
        weights[v * 4] = 1;
      }
      tinygltf::Primitive primitive;
      primitive.mode = TINYGLTF_MODE_TRIANGLES;
      primitive.attributes["POSITION"] =
          buffer.Accessor(positions, TINYGLTF_TYPE_VEC3, 3, TINYGLTF_TARGET_ARRAY_BUFFER, true);
      primitive.attributes["COLOR_0"] =
          buffer.Accessor(colours, TINYGLTF_TYPE_VEC4, 4, TINYGLTF_TARGET_ARRAY_BUFFER);
      if (key.Image >= 0)
        primitive.attributes["TEXCOORD_0"] =
            buffer.Accessor(uvs, TINYGLTF_TYPE_VEC2, 2, TINYGLTF_TARGET_ARRAY_BUFFER);
      primitive.attributes["JOINTS_0"] = buffer.JointAccessor(joints, smallJoints);
      primitive.attributes["WEIGHTS_0"] =
          buffer.Accessor(weights, TINYGLTF_TYPE_VEC4, 4, TINYGLTF_TARGET_ARRAY_BUFFER);

      tinygltf::Material material;
      material.name = key.Image >= 0 ? "texture" + std::to_string(key.Image) : "colours";
      material.doubleSided = true;
      material.pbrMetallicRoughness.metallicFactor = 0;
      material.pbrMetallicRoughness.roughnessFactor = 1;
      if (key.Image >= 0) material.pbrMetallicRoughness.baseColorTexture.index = key.Image;
      material.alphaMode = key.Alpha == TAlpha::Blend  ? "BLEND"
                           : key.Alpha == TAlpha::Mask ? "MASK"
                                                       : "OPAQUE";
      material.extensions["KHR_materials_unlit"] = tinygltf::Value(tinygltf::Value::Object());
      gltf.materials.push_back(material);
      primitive.material = int(gltf.materials.size() - 1);
      mesh.primitives.push_back(primitive);
    }
    gltf.meshes.push_back(mesh);
    gltf.extensionsUsed.push_back("KHR_materials_unlit");

    tinygltf::Skin skin;
    skin.name = model.Name;
    skin.skeleton = 0;
    std::vector<float> inverse;
    for (size_t j = 0; j < jointCount; ++j) {
      skin.joints.push_back(int(j + 1));
      TMatrix4 m = bindWorld[j].AffineInverse();
      m.M[3] = m.M[7] = m.M[11] = 0; // exactly affine, as glTF requires
      m.M[15] = 1;
      inverse.insert(inverse.end(), m.M, m.M + 16);
    }
    skin.inverseBindMatrices = buffer.Accessor(inverse, TINYGLTF_TYPE_MAT4, 16);
    gltf.skins.push_back(skin);

    tinygltf::Node meshNode;
    meshNode.name = model.Name + " mesh";
    meshNode.mesh = 0;
    meshNode.skin = 0;
    gltf.nodes.push_back(meshNode);
    gltf.scenes[0].nodes.push_back(int(gltf.nodes.size() - 1));
  }

  // The animations.
  for (const TTrack& track : model.Tracks) {
    tinygltf::Animation animation;
    animation.name = track.Name;
    std::vector<float> times;
    for (int32_t f = 0; f < track.Frames; ++f) times.push_back(float(f) / float(options.Fps));
    int32_t input = buffer.Accessor(times, TINYGLTF_TYPE_SCALAR, 1, 0, true);
    auto channel = [&](size_t joint, const std::string& path, int32_t output) {
      tinygltf::AnimationSampler sampler;
      sampler.input = input;
      sampler.output = output;
      sampler.interpolation = "LINEAR";
      animation.samplers.push_back(sampler);
      tinygltf::AnimationChannel c;
      c.sampler = int(animation.samplers.size() - 1);
      c.target_node = int(joint + 1);
      c.target_path = path;
      animation.channels.push_back(c);
    };
    // Every output of the animation in one view, with an accessor for each channel.
    struct TOutput {
      size_t Joint;
      const char* Path;
      size_t Offset;
      int Type;
    };
    std::vector<float> values;
    std::vector<TOutput> outputs;
    values.reserve(size_t(track.Frames) * (jointCount * 4 + track.Moving.size() * 3));
    for (size_t j = 0; j < jointCount; ++j) {
      outputs.push_back({j, "rotation", values.size(), TINYGLTF_TYPE_VEC4});
      TQuat previous;
      for (int32_t f = 0; f < track.Frames; ++f) {
        TQuat q = track.Keys[size_t(f) * jointCount + j].Rotation;
        // The nearer of the two quaternions of a turn, so that keys interpolate the
        // short way.
        if (f > 0 && q.Dot(previous) < 0) q = q.Negated();
        values.insert(values.end(), {q.X, q.Y, q.Z, q.W});
        previous = q;
      }
    }
    for (int32_t j : track.Moving) {
      outputs.push_back({size_t(j), "translation", values.size(), TINYGLTF_TYPE_VEC3});
      for (int32_t f = 0; f < track.Frames; ++f) {
        TVec3 t = track.Keys[size_t(f) * jointCount + size_t(j)].Translation;
        values.insert(values.end(), {t.X, t.Y, t.Z});
      }
    }
    int32_t view = buffer.View(values, 0);
    for (const TOutput& output : outputs)
      channel(output.Joint, output.Path,
              buffer.AccessorAt(view, output.Offset * sizeof(float), size_t(track.Frames),
                                output.Type));
    gltf.animations.push_back(animation);
  }

  document.Impl->FirstImageView = gltf.bufferViews.size();
  for (size_t i = 0; i < images.size(); ++i)
    gltf.images[i].bufferView = buffer.View(images[i].data(), images[i].size());
  // Nothing drawn and nothing moving: only nodes, and no buffer (glTF has no empty ones).
  if (gltf.bufferViews.empty()) gltf.buffers.clear();
  return document;
}

} // namespace

namespace {

// A field model's joints, in the bind pose with every rotation 0, and a track per entry of
// anims; reached gets the bones the viewer draws, everything reached from the root.
TSkinnedModel FieldSkeleton(const TFieldModel& model, const std::vector<TFieldAnimation>& anims,
                            std::vector<TPosedJoint>& reached) {
  TSkinnedModel skin;
  const int32_t bones = model.BoneCount();
  auto reachOfParent = [&](int32_t b) {
    int32_t parent = model.Bones[size_t(b)]->Parent;
    return parent >= 0 && parent < bones ? FieldBoneReach(model.Bones[size_t(parent)]->Length)
                                         : 0.0f;
  };
  for (int32_t b = 0; b < bones; ++b) {
    TJoint joint;
    joint.Name = Latin1ToUTF8(model.Bones[size_t(b)]->Name);
    joint.Parent = model.Bones[size_t(b)]->Parent;
    joint.BindLocal = TMatrix4::Translation(0, 0, reachOfParent(b));
    skin.Joints.push_back(joint);
  }
  reached = model.PoseFrom(0, TMatrix4::Identity());
  DetachUnreached(skin, reached);

  for (const TFieldAnimation& anim : anims) {
    TTrack track;
    track.Name = Latin1ToUTF8(anim.Name);
    track.Frames = AnimFrameCount(int64_t(anim.Data.size()), bones);
    if (track.Frames < 1) throw EReadError();
    for (int32_t f = 0; f < track.Frames; ++f)
      for (int32_t b = 0; b < bones; ++b) {
        // The root never turns: its entry is one of the frame's leading triples.
        TQuat turn = b == 0 ? TQuat{} : FieldBoneTurnQuat(AnimRotation(anim.Data, bones, b, f));
        track.Keys.push_back({skin.Joints[size_t(b)].BindLocal.Translation(), turn});
      }
    skin.Tracks.push_back(std::move(track));
  }
  return skin;
}

// A battle model's joints, "root" then a joint per bone, in the bind pose with every
// rotation and offset 0, and a track per animation index of anims; reached gets the
// joints the viewer draws: the root, and the bones below it.
TSkinnedModel BattleSkeleton(const TBattleModel& model, const std::vector<int32_t>& anims,
                             std::vector<TPosedJoint>& reached) {
  TSkinnedModel skin;
  const int32_t bones = model.BoneCount;
  // Joint 0 is the root; bone b is joint b + 1.
  skin.Joints.push_back({"root", -1, TMatrix4::Identity()});
  for (int32_t b = 0; b < bones; ++b) {
    int32_t parent = model.Bones[size_t(b)].Parent;
    TJoint joint;
    joint.Name = "bone" + std::to_string(b);
    // A parent outside the skeleton is never reached; its bone is detached below.
    joint.Parent = parent >= -1 && parent < bones ? parent + 1 : -1;
    if (parent >= 0 && parent < bones)
      joint.BindLocal =
          TMatrix4::Translation(0, 0, BattleBoneReach(model.Bones[size_t(parent)].Length));
    skin.Joints.push_back(joint);
  }
  reached = {{0, TMatrix4::Identity()}};
  for (const TPosedJoint& joint : model.PoseJoints(nullptr, TMatrix4::Identity()))
    reached.push_back({joint.Bone + 1, joint.Joint});
  DetachUnreached(skin, reached);

  const int32_t animCount = model.AnimCount();
  for (int32_t index : anims) {
    if (index < 0 || index >= animCount)
      throw Exception(Format("no animation %d: the model has %d", index + 1, animCount));
    const TBattleAnim& anim = model.Anims->Anims[size_t(index)];
    TTrack track;
    track.Name = Format("Animation %d", index + 1);
    track.Frames = int32_t(anim.Frames.size());
    track.Moving = {0};
    for (const TBattleFrame& frame : anim.Frames) {
      track.Keys.push_back(KeyOf(MirroredInX(TBattleModel::RootMove(&frame))));
      for (int32_t b = 0; b < bones; ++b)
        track.Keys.push_back(KeyOf(skin.Joints[size_t(b + 1)].BindLocal *
                                   MirroredInX(TBattleModel::BoneTurn(&frame, b))));
    }
    skin.Tracks.push_back(std::move(track));
  }
  return skin;
}

// The node above the skeleton: the viewer's placement without the view's turn, in metres.
TMatrix4 TopPlacement(TPlacedModel model) {
  return TMatrix4::Scale(GltfMetresPerUnit, GltfMetresPerUnit, GltfMetresPerUnit) *
         PlacementMatrix(ModelPlacement(model));
}

// The joints of skin in the bind pose, below the node above the skeleton.
std::vector<TMatrix4> BindJoints(TSkinnedModel& skin, TBindPose pose) {
  UseBindPose(skin, pose);
  return BindWorlds(skin, TMatrix4::Identity());
}

} // namespace

TGltfDocument ExportFieldModel(const TFieldModel& model, const std::string& name,
                               const std::vector<TFieldAnimation>& anims,
                               const TGltfOptions& options) {
  std::vector<TPosedJoint> reached;
  TSkinnedModel skin = FieldSkeleton(model, anims, reached);
  skin.Name = Latin1ToUTF8(name);
  skin.Top = TopPlacement(TPlacedModel::Field);
  for (const TPosedJoint& joint : reached)
    for (const auto& part : model.Bones[size_t(joint.Bone)]->Parts)
      AddPart(skin, *part, joint.Bone, TMatrix4::Identity());
  return Write(skin, options);
}

TGltfDocument ExportBattleModel(const TBattleModel& model, const std::string& name,
                                const std::vector<int32_t>& anims, const TGltfOptions& options) {
  std::vector<TPosedJoint> reached;
  TSkinnedModel skin = BattleSkeleton(model, anims, reached);
  skin.Name = Latin1ToUTF8(name);
  skin.Top = TopPlacement(TPlacedModel::Battle);
  for (size_t k = 1; k < reached.size(); ++k) {
    int32_t b = reached[k].Bone - 1;
    if (const auto& part = model.Parts[size_t(b)]) AddPart(skin, *part, b + 1, BattleMirror());
  }
  return Write(skin, options);
}

std::vector<TMatrix4> FieldBindJoints(const TFieldModel& model, const TFieldAnimation* anim) {
  std::vector<TPosedJoint> reached;
  TSkinnedModel skin =
      FieldSkeleton(model, anim ? std::vector{*anim} : std::vector<TFieldAnimation>{}, reached);
  return BindJoints(skin, anim ? TBindPose::FirstFrame : TBindPose::Zero);
}

std::vector<TMatrix4> BattleBindJoints(const TBattleModel& model, int32_t anim) {
  std::vector<TPosedJoint> reached;
  TSkinnedModel skin =
      BattleSkeleton(model, anim >= 0 ? std::vector{anim} : std::vector<int32_t>{}, reached);
  return BindJoints(skin, anim >= 0 ? TBindPose::FirstFrame : TBindPose::Zero);
}

std::string TGltfDocument::Bytes(bool binary) const {
  tinygltf::TinyGLTF writer;
  // The images are PNG files already: nothing is to be encoded again.
  writer.SetImageWriter(nullptr, nullptr);
  std::ostringstream out;
  bool written;
  if (binary) {
    written = writer.WriteGltfSceneToStream(&Impl->Model, out, false, true);
  } else {
    // Each image becomes a data URI of its own, beside the buffer's.
    tinygltf::Model model = Impl->Model;
    const size_t first = Impl->FirstImageView;
    const std::vector<unsigned char>& data = Impl->Model.buffers[0].data;
    for (tinygltf::Image& image : model.images) {
      const tinygltf::BufferView& view = model.bufferViews[size_t(image.bufferView)];
      image.uri =
          "data:image/png;base64," +
          Base64({reinterpret_cast<const char*>(data.data()) + view.byteOffset, view.byteLength});
      image.bufferView = -1;
    }
    if (first < model.bufferViews.size()) {
      model.buffers[0].data.resize(model.bufferViews[first].byteOffset);
      model.bufferViews.resize(first);
    }
    written = writer.WriteGltfSceneToStream(&model, out, false, false);
  }
  if (!written) throw Exception("Cannot write the glTF document");
  return out.str();
}

bool IsBinaryGltfPath(const std::string& path) {
  return path.size() >= 4 && SameTextASCII(std::string_view(path).substr(path.size() - 4), ".glb");
}

void WriteGltfFile(const TGltfDocument& document, const std::string& path) {
  ReplaceFileWithBytes(path, document.Bytes(IsBinaryGltfPath(path)));
}

} // namespace palkor
