// Animations read back from glTF 2.0 files.
//
// A bone's turn is read from the skin, not from its node: the joint's world matrix times
// its inverse bind matrix (S) is what the joint does to the vertices bound to it, whatever
// axes the joint node was given. With W the world matrix of the node above the skeleton
// (the model's axes and units), K = W^-1 S W is that in the model's own space, where the
// bind pose has every bone unturned; a bone's turn relative to its parent is then
// K(parent)^-1 K(bone), whose rotation is the bone's turn and whose translation, for the
// root, is its move.
// That holds for a bind pose that turns no bone. In general K is the turn from the bind
// pose B (each joint's transform in the model's space), so the pose is P = K B and a
// bone's own transform P(parent)^-1 P(bone). B is not in the file as such: the inverse
// bind matrices hold it only with the joints' axes, which another program may have
// changed. Their translations survive that, so B is chosen among the poses it can be (as
// the exporter writes them) by the joints' places.
// The file itself is read by export/GltfFile.cpp.
#include "export/gltfimport.h"

#include "battle/BattleModel.h"
#include "export/GltfFile.h"
#include "export/gltf.h"
#include "field/FieldModel.h"
#include "geometry/Conventions.h"
#include "platform/Convert.h"
#include "platform/Exceptions.h"
#include "platform/Memory.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace palkor {

struct TGltfAnimationFile::TImpl : TGltfFileContents {};

namespace {

TQuat Normalised(TQuat q) {
  float length = std::sqrt(q.Dot(q));
  if (!(length > 0)) return {};
  return {q.X / length, q.Y / length, q.Z / length, q.W / length};
}

TQuat Slerp(TQuat a, TQuat b, float u) {
  double dot = a.Dot(b);
  if (dot < 0) {
    b = b.Negated();
    dot = -dot;
  }
  double wa = 1 - u, wb = u;
  if (dot < 0.9995) {
    double angle = std::acos(std::min(dot, 1.0)), s = std::sin(angle);
    wa = std::sin((1 - u) * angle) / s;
    wb = std::sin(u * angle) / s;
  }
  return Normalised({float(wa * a.X + wb * b.X), float(wa * a.Y + wb * b.Y),
                     float(wa * a.Z + wb * b.Z), float(wa * a.W + wb * b.W)});
}

// One animated property of one node.
struct TChannel {
  int32_t Node;
  std::string Path; // translation, rotation or scale
  std::string Interpolation;
  std::vector<float> Times, Values;
  int Width; // floats a value

  // The value at time t: the first key's before it, the last key's after it.
  std::vector<float> At(double t) const {
    const bool cubic = Interpolation == "CUBICSPLINE";
    // A cubic key holds an in-tangent, the value and an out-tangent.
    auto value = [&](size_t key, int part) {
      const float* v = &Values[(cubic ? key * 3 + size_t(part) : key) * size_t(Width)];
      return std::vector<float>(v, v + Width);
    };
    // Keys are single-precision times: one a hair after t is taken as reached at t.
    const double reached = t + 1e-5;
    const size_t n = Times.size();
    if (reached < Times.front() || n == 1) return value(0, 1);
    if (reached >= Times.back()) return value(n - 1, 1);
    size_t i = size_t(std::upper_bound(Times.begin(), Times.end(), reached,
                                       [](double a, float b) { return a < double(b); }) -
                      Times.begin()) -
               1;
    i = std::min(i, n - 2);
    const double span = double(Times[i + 1]) - Times[i];
    const float u = span > 0 ? float(std::clamp((t - Times[i]) / span, 0.0, 1.0)) : 0.0f;
    if (Interpolation == "STEP") return value(i, 1);
    std::vector<float> a = value(i, 1), b = value(i + 1, 1), r(static_cast<size_t>(Width), 0.0f);
    if (cubic) {
      std::vector<float> out = value(i, 2), in = value(i + 1, 0);
      const float u2 = u * u, u3 = u2 * u, d = float(span);
      for (size_t c = 0; c < size_t(Width); ++c)
        r[c] = (2 * u3 - 3 * u2 + 1) * a[c] + (u3 - 2 * u2 + u) * d * out[c] +
               (-2 * u3 + 3 * u2) * b[c] + (u3 - u2) * d * in[c];
      if (Path == "rotation") {
        TQuat q = Normalised({r[0], r[1], r[2], r[3]});
        r = {q.X, q.Y, q.Z, q.W};
      }
      return r;
    }
    if (Path == "rotation") {
      TQuat q = Slerp({a[0], a[1], a[2], a[3]}, {b[0], b[1], b[2], b[3]}, u);
      return {q.X, q.Y, q.Z, q.W};
    }
    for (size_t c = 0; c < size_t(Width); ++c) r[c] = a[c] + (b[c] - a[c]) * u;
    return r;
  }
};

// Whether channel c of an animation moves a node's translation, rotation or scale; a
// channel naming a node or a sampler that is not there fails.
bool MovesANode(const tinygltf::Model& model, int32_t animation,
                const tinygltf::AnimationChannel& c, const std::string& path) {
  if (c.target_node < 0) return false; // no node: one that an extension names
  if (size_t(c.target_node) >= model.nodes.size())
    InvalidGltf(path, Format("animation %d moves no node %d", animation, c.target_node));
  if (c.target_path != "translation" && c.target_path != "rotation" && c.target_path != "scale")
    return false; // morph weights move no joint
  const tinygltf::Animation& a = model.animations[size_t(animation)];
  if (c.sampler < 0 || size_t(c.sampler) >= a.samplers.size())
    InvalidGltf(path, Format("animation %d names no sampler %d", animation, c.sampler));
  return true;
}

// A sampler's key times: at least one, and each a number.
std::vector<float> KeyTimes(const TGltfAnimationFile::TImpl& file, int32_t animation, int input,
                            const std::string& path) {
  std::vector<float> times = ReadGltfFloats(file, input, path);
  if (times.empty())
    InvalidGltf(path, Format("animation %d has a sampler with too few values", animation));
  for (float t : times)
    if (!std::isfinite(t))
      InvalidGltf(path, Format("animation %d has a key at no time", animation));
  return times;
}

// The channels of an animation that move the nodes with a slot (not -1), read and
// checked. Of several channels for one property of one node only the last is read: its
// values are the ones that stay.
std::vector<TChannel> ChannelsOf(const TGltfAnimationFile::TImpl& file, int32_t animation,
                                 const std::vector<int32_t>& slot, const std::string& path) {
  const tinygltf::Model& model = file.Model;
  const tinygltf::Animation& a = model.animations.at(size_t(animation));
  std::map<std::pair<int32_t, std::string>, size_t> last;
  for (size_t i = 0; i < a.channels.size(); ++i) {
    const tinygltf::AnimationChannel& c = a.channels[i];
    if (MovesANode(model, animation, c, path) && slot[size_t(c.target_node)] >= 0)
      last[{c.target_node, c.target_path}] = i;
  }
  std::vector<TChannel> channels;
  for (const auto& [target, i] : last) {
    const tinygltf::AnimationChannel& c = a.channels[i];
    const tinygltf::AnimationSampler& s = a.samplers[size_t(c.sampler)];
    TChannel channel;
    channel.Node = c.target_node;
    channel.Path = c.target_path;
    channel.Interpolation = s.interpolation.empty() ? "LINEAR" : s.interpolation;
    channel.Width = c.target_path == "rotation" ? 4 : 3;
    channel.Times = KeyTimes(file, animation, s.input, path);
    channel.Values = ReadGltfFloats(file, s.output, path);
    const size_t keys = channel.Times.size() * (channel.Interpolation == "CUBICSPLINE" ? 3 : 1);
    if (channel.Values.size() < keys * size_t(channel.Width))
      InvalidGltf(path, Format("animation %d has a sampler with too few values", animation));
    for (float v : channel.Values)
      if (!std::isfinite(v))
        InvalidGltf(path,
                    Format("animation %d has a %s that is not a number", animation, channel.Path));
    channels.push_back(std::move(channel));
  }
  return channels;
}

TMatrix4 NodeMatrix(const tinygltf::Node& node, const std::vector<double>& t,
                    const std::vector<double>& r, const std::vector<double>& s) {
  if (node.matrix.size() == 16) {
    TMatrix4 m;
    for (int i = 0; i < 16; ++i) m.M[i] = float(node.matrix[size_t(i)]);
    return m;
  }
  TMatrix4 m = TMatrix4::Identity();
  if (t.size() == 3) m = TMatrix4::Translation(float(t[0]), float(t[1]), float(t[2]));
  if (r.size() == 4)
    m = m * TMatrix4::FromQuat(Normalised({float(r[0]), float(r[1]), float(r[2]), float(r[3])}));
  if (s.size() == 3) m = m * TMatrix4::Scale(float(s[0]), float(s[1]), float(s[2]));
  return m;
}

// Fails when a node's own transform has a value that is no single-precision number.
void CheckNodeNumbers(const tinygltf::Node& node, int32_t index, const std::string& path) {
  const std::pair<const std::vector<double>*, const char*> parts[] = {
      {&node.translation, "translation"},
      {&node.rotation, "rotation"},
      {&node.scale, "scale"},
      {&node.matrix, "matrix"}};
  for (const auto& [values, name] : parts)
    for (double v : *values)
      if (!std::isfinite(float(v)))
        InvalidGltf(path, Format("node %d has a %s that is not a number", index, name));
}

bool IsNumbers(const TMatrix4& m) {
  return std::all_of(m.M, m.M + 16, [](float v) { return std::isfinite(v); });
}

// Each bone's joint node and its inverse bind matrix: the first skin with a joint of the
// bone's name. "no joint named %s in %s".
void SkinJoints(const TGltfAnimationFile::TImpl& file, const std::vector<std::string>& names,
                const std::string& path, std::vector<int32_t>& joints,
                std::vector<TMatrix4>& inverseBinds) {
  const tinygltf::Model& model = file.Model;
  std::map<size_t, std::vector<float>> skinInverses; // each skin's, read once
  for (const std::string& name : names) {
    int32_t found = -1;
    TMatrix4 inverse = TMatrix4::Identity();
    for (size_t s = 0; s < model.skins.size() && found < 0; ++s) {
      const tinygltf::Skin& skin = model.skins[s];
      for (size_t j = 0; j < skin.joints.size() && found < 0; ++j) {
        int node = skin.joints[j];
        if (node < 0 || size_t(node) >= model.nodes.size() ||
            model.nodes[size_t(node)].name != name)
          continue;
        found = node;
        if (skin.inverseBindMatrices >= 0) {
          auto all = skinInverses.find(s);
          if (all == skinInverses.end())
            all =
                skinInverses.emplace(s, ReadGltfFloats(file, skin.inverseBindMatrices, path)).first;
          if (all->second.size() < (j + 1) * 16)
            InvalidGltf(path, "a skin has too few inverse bind matrices");
          std::copy(&all->second[j * 16], &all->second[j * 16] + 16, inverse.M);
          if (!IsNumbers(inverse))
            InvalidGltf(path, Format("skin %d has an inverse bind matrix that is not a number", s));
        }
      }
    }
    if (found < 0) throw Exception(Format("no joint named %s in %s", name, path));
    joints.push_back(found);
    inverseBinds.push_back(inverse);
  }
}

} // namespace

TGltfAnimationFile::TGltfAnimationFile(const std::string& path)
    : FPath(path), Impl(std::make_unique<TImpl>()) {
  LoadGltfFile(path, *Impl);
}

TGltfAnimationFile::~TGltfAnimationFile() = default;

const TGltfFileContents& TGltfAnimationFile::Contents() const {
  return *Impl;
}

std::vector<std::string> TGltfAnimationFile::AnimationNames() const {
  std::vector<std::string> names;
  for (const tinygltf::Animation& a : Impl->Model.animations) names.push_back(a.name);
  return names;
}

int32_t TGltfAnimationFile::AnimationNamed(const std::string& name) const {
  const auto& animations = Impl->Model.animations;
  for (size_t a = 0; a < animations.size(); ++a)
    if (animations[a].name == name) return int32_t(a);
  throw Exception(Format("no animation named %s in %s", name, FPath));
}

int32_t TGltfAnimationFile::FrameCount(int32_t animation, int32_t fps) const {
  const tinygltf::Model& model = Impl->Model;
  if (animation < 0 || size_t(animation) >= model.animations.size())
    throw Exception(Format("no animation %d in %s", animation + 1, FPath));
  if (fps < 1) throw Exception(Format("Invalid frame rate %d", fps));
  // The last key of every channel that moves a node; samplers often share their times.
  const tinygltf::Animation& a = model.animations[size_t(animation)];
  std::map<int, float> lastKeys;
  double last = 0;
  for (const tinygltf::AnimationChannel& c : a.channels) {
    if (!MovesANode(model, animation, c, FPath)) continue;
    const int input = a.samplers[size_t(c.sampler)].input;
    auto key = lastKeys.find(input);
    if (key == lastKeys.end())
      key = lastKeys.emplace(input, KeyTimes(*Impl, animation, input, FPath).back()).first;
    last = std::max(last, double(key->second));
  }
  // Keys written at k / fps in single precision may lie a hair before it.
  const double frames = std::floor(last * fps + 1e-3) + 1;
  // An hour at 30 frames a second; more would only run the machine out of memory.
  if (frames > 108000)
    throw Exception(Format("Animation %d of %s lasts too long to import: %.0f frames",
                           animation + 1, FPath, frames));
  return int32_t(frames);
}

std::vector<std::vector<TMatrix4>>
TGltfAnimationFile::SkeletonPoses(int32_t animation, int32_t fps,
                                  const std::vector<std::string>& names,
                                  const std::vector<int32_t>& parents) const {
  const tinygltf::Model& model = Impl->Model;
  TReadingScope reading("glTF file \"" + FPath + "\"");
  const int32_t frames = FrameCount(animation, fps);

  std::vector<int32_t> joints;
  std::vector<TMatrix4> inverseBinds;
  SkinJoints(*Impl, names, FPath, joints, inverseBinds);

  // Only the joints and their ancestors are posed, parents before children: order holds
  // them, slot gives a node's place in it (-1: a node that does not matter).
  const std::vector<int32_t>& parentOf = Impl->Parents;
  std::vector<int32_t> slot(model.nodes.size(), -1), order;
  for (int32_t joint : joints) {
    std::vector<int32_t> chain;
    for (int32_t n = joint; n >= 0 && slot[size_t(n)] < 0; n = parentOf[size_t(n)])
      chain.push_back(n);
    for (auto n = chain.rbegin(); n != chain.rend(); ++n) {
      slot[size_t(*n)] = int32_t(order.size());
      order.push_back(*n);
      CheckNodeNumbers(model.nodes[size_t(*n)], *n, FPath);
    }
  }
  const std::vector<TChannel> channels = ChannelsOf(*Impl, animation, slot, FPath);

  // The nodes' local transforms, their own until a channel sets them; and their world
  // matrices, made once for nodes that nothing moves, at every frame for the others.
  std::vector<std::vector<double>> T(order.size()), R(order.size()), S(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    const tinygltf::Node& node = model.nodes[size_t(order[i])];
    T[i] = node.translation;
    R[i] = node.rotation;
    S[i] = node.scale;
  }
  std::vector<TMatrix4> worlds(order.size());
  auto place = [&](size_t i) {
    const int32_t parent = parentOf[size_t(order[i])];
    const TMatrix4 local = NodeMatrix(model.nodes[size_t(order[i])], T[i], R[i], S[i]);
    worlds[i] = parent >= 0 ? worlds[size_t(slot[size_t(parent)])] * local : local;
  };
  std::vector<bool> moves(order.size(), false);
  for (const TChannel& c : channels) moves[size_t(slot[size_t(c.Node)])] = true;
  std::vector<size_t> moving;
  for (size_t i = 0; i < order.size(); ++i) {
    const int32_t parent = parentOf[size_t(order[i])];
    if (parent >= 0 && moves[size_t(slot[size_t(parent)])]) moves[i] = true;
    if (moves[i]) moving.push_back(i);
    place(i);
  }

  // The model's space: that of the node above the skeleton's root joint.
  const int32_t above = parentOf[size_t(joints[0])];
  std::vector<std::vector<TMatrix4>> poses;
  for (int32_t k = 0; k < frames; ++k) {
    const double t = double(k) / fps;
    for (const TChannel& c : channels) {
      const std::vector<float> v = c.At(t);
      const size_t i = size_t(slot[size_t(c.Node)]);
      (c.Path == "translation" ? T : c.Path == "rotation" ? R : S)[i].assign(v.begin(), v.end());
    }
    for (size_t i : moving) place(i);

    const TMatrix4 w = above >= 0 ? worlds[size_t(slot[size_t(above)])] : TMatrix4::Identity();
    const TMatrix4 wInverse = w.AffineInverse();
    std::vector<TMatrix4> skinning(names.size());
    for (size_t b = 0; b < names.size(); ++b)
      skinning[b] = wInverse * worlds[size_t(slot[size_t(joints[b])])] * inverseBinds[b] * w;
    std::vector<TMatrix4> pose(names.size());
    for (size_t b = 0; b < names.size(); ++b) {
      int32_t parent = parents[b];
      pose[b] = parent >= 0 && size_t(parent) < names.size()
                    ? skinning[size_t(parent)].AffineInverse() * skinning[b]
                    : skinning[b];
      // Values within single precision can still multiply past it.
      if (!IsNumbers(pose[b]))
        InvalidGltf(FPath, Format("animation %d gives joint %s a pose that is not a number",
                                  animation, names[b]));
    }
    poses.push_back(std::move(pose));
  }
  return poses;
}

size_t TGltfAnimationFile::BindPose(const std::vector<std::string>& names,
                                    const std::vector<TBindCandidate>& candidates,
                                    std::vector<TMatrix4>& joints) const {
  const tinygltf::Model& model = Impl->Model;
  std::vector<int32_t> nodes;
  std::vector<TMatrix4> inverseBinds;
  SkinJoints(*Impl, names, FPath, nodes, inverseBinds);
  if (names.empty()) throw Exception(Format("no joints to read from %s", FPath));

  // The model's space: that of the node above the skeleton's root joint, with the nodes'
  // own transforms.
  TMatrix4 w = TMatrix4::Identity();
  for (int32_t n = Impl->Parents[size_t(nodes[0])]; n >= 0; n = Impl->Parents[size_t(n)]) {
    const tinygltf::Node& node = model.nodes[size_t(n)];
    w = NodeMatrix(node, node.translation, node.rotation, node.scale) * w;
  }
  const TMatrix4 wInverse = w.AffineInverse();
  std::vector<TMatrix4> bound;
  for (const TMatrix4& inverse : inverseBinds) bound.push_back(wInverse * inverse.AffineInverse());

  auto relative = [](const std::vector<TMatrix4>& pose, size_t b) {
    const TVec3 p = pose[b].Translation(), origin = pose[0].Translation();
    return TVec3{p.X - origin.X, p.Y - origin.Y, p.Z - origin.Z};
  };
  auto placedWithin = [&](const std::vector<TMatrix4>& pose, float tolerance) {
    for (size_t b = 0; b < pose.size(); ++b) {
      const TVec3 a = relative(pose, b), c = relative(bound, b);
      if (!(std::hypot(a.X - c.X, a.Y - c.Y, a.Z - c.Z) <= tolerance)) return false;
    }
    return true;
  };
  auto turnedAlike = [&](const std::vector<TMatrix4>& pose) {
    for (size_t b = 0; b < pose.size(); ++b)
      for (int i = 0; i < 11; ++i)
        if (i % 4 != 3 && !(std::abs(pose[b].M[i] - bound[b].M[i]) <= 1e-4f)) return false;
    return true;
  };

  int64_t placed = -1;
  for (size_t c = 0; c < candidates.size(); ++c) {
    std::vector<TMatrix4> pose = candidates[c]();
    if (pose.size() != names.size()) continue;
    // The tolerances follow the candidate's size, which a damaged file cannot inflate.
    float size = 1;
    for (size_t b = 0; b < pose.size(); ++b) {
      const TVec3 r = relative(pose, b);
      size = std::max(size, std::hypot(r.X, r.Y, r.Z));
    }
    if (placedWithin(pose, 1e-4f * size) && turnedAlike(pose)) {
      joints = std::move(pose);
      return c;
    }
    if (placed < 0 && placedWithin(pose, 1e-3f * size)) {
      placed = int64_t(c);
      joints = std::move(pose);
    }
  }
  if (placed >= 0) return size_t(placed);
  throw Exception(Format("Cannot tell the bind pose of %s: its joints lie where neither every "
                         "rotation 0 nor frame 0 of any of the model's animations puts them",
                         FPath));
}

namespace {

// poses from SkeletonPoses, turns from the bind pose bind, as each bone's own transform
// relative to its parent's joint: P = K B, then P(parent)^-1 P(bone), which for a bone
// with a parent is B(parent)^-1 (K(parent)^-1 K(bone)) B(bone).
void RebaseOnBindPose(std::vector<std::vector<TMatrix4>>& poses,
                      const std::vector<int32_t>& parents, const std::vector<TMatrix4>& bind) {
  std::vector<TMatrix4> parentInverse(bind.size(), TMatrix4::Identity());
  for (size_t b = 0; b < bind.size(); ++b) {
    const int32_t parent = parents[b];
    if (parent >= 0 && size_t(parent) < bind.size())
      parentInverse[b] = bind[size_t(parent)].AffineInverse();
  }
  for (std::vector<TMatrix4>& pose : poses)
    for (size_t b = 0; b < pose.size() && b < bind.size(); ++b)
      pose[b] = parentInverse[b] * pose[b] * bind[b];
}

} // namespace

// The file's first animation's name, or "".
std::string FirstAnimationName(const TGltfAnimationFile& file) {
  const std::vector<std::string> names = file.AnimationNames();
  return names.empty() ? std::string() : names[0];
}

// The poses a field model's file may be bound in, in the order they are tried: every
// rotation 0, then frame 0 of the animation named as the file's first, then of the
// others. The model's own animation comes from memory (it may hold edits not yet
// saved), and from others as well when they name it.
std::vector<TBindCandidate> FieldBindCandidates(const TFieldModel& model, const std::string& first,
                                                const TFieldAnimations& others) {
  std::vector<TBindCandidate> candidates{[&model] { return FieldBindJoints(model, nullptr); }};
  auto frameZero = [&model](const std::string& name, std::string_view bytes) {
    if (AnimFrameCount(int64_t(bytes.size()), model.BoneCount()) < 1)
      return std::vector<TMatrix4>{};
    const TFieldAnimation anim{name, bytes};
    return FieldBindJoints(model, &anim);
  };
  std::vector<std::string> names;
  auto listed = [&](const std::string& name) {
    for (const std::string& n : names)
      if (SameTextASCII(n, name)) return true;
    return false;
  };
  if (!model.AnimName.empty()) names.push_back(model.AnimName);
  for (const std::string& name : others.Names)
    if (!listed(name)) names.push_back(name);
  // The file's first animation's namesake first; the rest as they are.
  std::stable_partition(names.begin(), names.end(), [&](const std::string& name) {
    return SameTextASCII(Latin1ToUTF8(name), first);
  });
  for (const std::string& name : names) {
    if (SameTextASCII(name, model.AnimName))
      candidates.push_back(
          [&model, name, frameZero] { return frameZero(name, model.AnimData.View()); });
    bool inOthers = false;
    for (const std::string& other : others.Names) inOthers = inOthers || SameTextASCII(other, name);
    if (inOthers && others.Read)
      candidates.push_back(
          [&others, name, frameZero] { return frameZero(name, others.Read(name)); });
  }
  return candidates;
}

// The poses a battle model's file may be bound in, in the order they are tried: every
// rotation and offset 0, then frame 0 of the animation the file's first is named after,
// then of the others.
std::vector<TBindCandidate> BattleBindCandidates(const TBattleModel& model,
                                                 const std::string& first) {
  std::vector<TBindCandidate> candidates{[&model] { return BattleBindJoints(model, -1); }};
  std::vector<int32_t> order;
  for (int32_t a = 0; a < model.AnimCount(); ++a) order.push_back(a);
  int32_t number = 0;
  const std::string prefix = "Animation ";
  if (first.compare(0, prefix.size(), prefix) == 0 &&
      TryStrToInt(std::string_view(first).substr(prefix.size()), number) && number >= 1 &&
      number <= model.AnimCount())
    std::rotate(order.begin(), order.begin() + (number - 1), order.begin() + number);
  for (int32_t a : order)
    candidates.push_back([&model, a] {
      return model.Anims->Anims[size_t(a)].Frames.empty() ? std::vector<TMatrix4>{}
                                                          : BattleBindJoints(model, a);
    });
  return candidates;
}

namespace {

bool SameTurn(const TMatrix4& a, const TMatrix4& b, float tolerance) {
  for (int i = 0; i < 12; ++i)
    if (i % 4 != 3 && std::abs(a.M[i] - b.M[i]) > tolerance) return false;
  return true;
}

} // namespace

std::string ImportFieldAnimation(const TFieldModel& model, std::string_view old,
                                 const TGltfAnimationFile& file, int32_t animation, int32_t fps,
                                 const TFieldAnimations& others) {
  const int32_t bones = model.BoneCount();
  std::vector<std::string> names;
  std::vector<int32_t> parents;
  for (const auto& bone : model.Bones) {
    names.push_back(Latin1ToUTF8(bone->Name));
    parents.push_back(bone->Parent);
  }
  std::vector<std::vector<TMatrix4>> poses = file.SkeletonPoses(animation, fps, names, parents);
  std::vector<TMatrix4> bind;
  file.BindPose(names, FieldBindCandidates(model, FirstAnimationName(file), others), bind);
  RebaseOnBindPose(poses, parents, bind);

  const int32_t oldFrames = AnimFrameCount(int64_t(old.size()), bones);
  const int32_t frames = int32_t(poses.size());
  std::string out(old.substr(0, size_t(AnimHeaderSize)));
  out.resize(size_t(AnimHeaderSize), '\0');
  if (AnimHeaderFrameCount(out) == oldFrames) SetAnimHeaderFrameCount(out, uint32_t(frames));
  out.resize(size_t(AnimFrameAddress(bones, frames)), '\0');
  // 0.01 degree, as a difference of matrix elements.
  const float sameTurn = float(0.01 * M_PI / 180);
  std::vector<TVec3> previous(static_cast<size_t>(bones), TVec3{});
  for (int32_t k = 0; k < frames; ++k) {
    // The leading triples from the old animation (zeros when it has no frame).
    const int32_t source = std::min(k, oldFrames - 1);
    if (source >= 0)
      out.replace(size_t(AnimFrameAddress(bones, k)), size_t(AnimLeadingSize), old,
                  size_t(AnimFrameAddress(bones, source)), size_t(AnimLeadingSize));
    for (int32_t b = 1; b < bones; ++b) {
      const TMatrix4& turn = poses[size_t(k)][size_t(b)];
      TVec3 angles;
      if (k < oldFrames) {
        TVec3 before = AnimRotation(old, bones, b, k);
        angles = SameTurn(FieldBoneTurn(before), turn, sameTurn)
                     ? before
                     : FieldBoneAngles(turn, k == 0 ? before : previous[size_t(b)]);
      } else {
        angles = FieldBoneAngles(turn, previous[size_t(b)]);
      }
      previous[size_t(b)] = angles;
      SetAnimRotation(out, bones, b, k, angles);
    }
  }
  return out;
}

std::vector<TBattleFrame> ImportBattleAnimation(const TBattleModel& model, int32_t old,
                                                const TGltfAnimationFile& file, int32_t animation,
                                                int32_t fps) {
  if (old < 0 || old >= model.AnimCount())
    throw Exception(Format("no animation %d: the model has %d", old + 1, model.AnimCount()));
  const TBattleAnim& before = model.Anims->Anims[size_t(old)];
  std::vector<std::string> names{"root"};
  std::vector<int32_t> parents{-1};
  for (int32_t b = 0; b < model.BoneCount; ++b) {
    names.push_back("bone" + std::to_string(b));
    int32_t parent = model.Bones[size_t(b)].Parent;
    parents.push_back(parent >= -1 && parent < model.BoneCount ? parent + 1 : -1);
  }
  std::vector<std::vector<TMatrix4>> poses = file.SkeletonPoses(animation, fps, names, parents);
  std::vector<TMatrix4> bind;
  file.BindPose(names, BattleBindCandidates(model, FirstAnimationName(file)), bind);
  RebaseOnBindPose(poses, parents, bind);

  auto degrees = [](int16_t v) { return BattleAngle(v); };
  auto units = [](float angle) {
    return int16_t(((std::lround(double(angle) * 4096.0 / 360.0) % 4096) + 4096) % 4096);
  };
  const int32_t count = before.RotationCount;
  std::vector<TBattleFrame> frames;
  TVec3 offset0;
  for (size_t k = 0; k < poses.size(); ++k) {
    const TBattleFrame* old =
        before.Frames.empty() ? nullptr : &before.Frames[std::min(k, before.Frames.size() - 1)];
    TBattleFrame frame;
    frame.Rotations.resize(size_t(std::max(count, 0)));
    for (int32_t e = 0; e < count; ++e) {
      const TBattleRotation was =
          old && size_t(e) < old->Rotations.size() ? old->Rotations[size_t(e)] : TBattleRotation{};
      if (size_t(e) >= poses[k].size()) {
        frame.Rotations[size_t(e)] = was; // no joint drives it
        continue;
      }
      // Unmirrored: the file holds the model as the viewer shows it.
      const TMatrix4 turn = MirroredInX(poses[k][size_t(e)]);
      // Near the old frame's values while there are old frames, then near the last frame.
      const TBattleRotation nearValues =
          k < before.Frames.size() || frames.empty() ? was : frames.back().Rotations[size_t(e)];
      const TVec3 near{degrees(nearValues.X), degrees(nearValues.Y), degrees(nearValues.Z)};
      const TVec3 angles = BattleBoneAngles(turn, near);
      TBattleRotation r{units(angles.X), units(angles.Y), units(angles.Z)};
      // The values the old frame holds for this very turn stay as they are.
      const TMatrix4 oldTurn = BattleBoneTurn({degrees(was.X), degrees(was.Y), degrees(was.Z)});
      if (k < before.Frames.size() && SameTurn(oldTurn, turn, float(0.5 * 2 * M_PI / 4096)))
        r = was;
      frame.Rotations[size_t(e)] = r;
    }
    // The root's move: the mirror undone and the viewer's Y negation with it.
    const TVec3 move = MirroredInX(poses[k][0]).Translation();
    const TVec3 offset{move.X, -move.Y, move.Z};
    if (k == 0) offset0 = offset;
    frame.OffsetX = int32_t(std::lround(offset.X - offset0.X));
    frame.OffsetY = int32_t(std::lround(offset.Y - offset0.Y));
    frame.OffsetZ = int32_t(std::lround(offset.Z - offset0.Z));
    frames.push_back(std::move(frame));
  }
  return frames;
}

} // namespace palkor
