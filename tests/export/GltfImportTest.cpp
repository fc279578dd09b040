// Animations read back from exported glTF files, as they are and as another program
// might save them again: joints with other axes, keys reversed, other rates and
// interpolations.
#include "export/gltfimport.h"

#include "battle/FF7Battle.h"
#include "export/gltf.h"
#include "field/ff73d.h"
#include "fixtures/Demo.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "geometry/Conventions.h"
#include "platform/Files.h"
#include "tests/TestSupport.h"
#include "tests/export/GltfReading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>

using namespace palkor;
using namespace palkor::fixtures;
using namespace palkor::testing;

namespace {

void SetAccessorFloats(tinygltf::Model& model, int index, const std::vector<float>& values) {
  const tinygltf::Accessor& accessor = model.accessors.at(size_t(index));
  const tinygltf::BufferView& view = model.bufferViews.at(size_t(accessor.bufferView));
  ASSERT_EQ(accessor.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
  std::memcpy(model.buffers[0].data.data() + view.byteOffset + accessor.byteOffset, values.data(),
              values.size() * sizeof(float));
}

// Appends values as a new accessor of type in a view of its own.
int AddAccessor(tinygltf::Model& model, const std::vector<float>& values, int type) {
  std::vector<unsigned char>& data = model.buffers[0].data;
  while (data.size() % 4) data.push_back(0);
  tinygltf::BufferView view;
  view.buffer = 0;
  view.byteOffset = data.size();
  view.byteLength = values.size() * sizeof(float);
  const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
  data.insert(data.end(), bytes, bytes + view.byteLength);
  model.bufferViews.push_back(view);
  tinygltf::Accessor accessor;
  accessor.bufferView = int(model.bufferViews.size() - 1);
  accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
  accessor.type = type;
  accessor.count = values.size() / size_t(tinygltf::GetNumComponentsInType(uint32_t(type)));
  model.accessors.push_back(accessor);
  return int(model.accessors.size() - 1);
}

void SaveGlb(const tinygltf::Model& model, const std::string& path) {
  tinygltf::TinyGLTF writer;
  writer.SetImageWriter(nullptr, nullptr);
  std::ostringstream out;
  ASSERT_TRUE(writer.WriteGltfSceneToStream(&model, out, false, true));
  WriteFile(path, out.str());
}

// The knight's file at from saved to to as another program might save it: every joint
// node with new local axes, and the node above the skeleton turned to another up axis.
void SaveWithOtherAxes(const std::string& from, const std::string& to) {
  tinygltf::Model gltf = LoadGltf(ReadFileBytes(from), true);
  const tinygltf::Skin& skin = gltf.skins.at(0);

  // Every joint node gets new local axes C: its world M becomes M C and its inverse bind
  // C^-1 IBM, so that the skinned pose stays. A node's local transform L becomes
  // C(parent)^-1 L C, at every key.
  std::mt19937 random(7);
  std::uniform_real_distribution<float> angle(-180, 180);
  std::map<int, TMatrix4> axes;
  for (int joint : skin.joints)
    axes[joint] = BattleBoneTurn({angle(random), angle(random), angle(random)});
  std::map<int, int> parentOf;
  for (size_t n = 0; n < gltf.nodes.size(); ++n)
    for (int child : gltf.nodes[n].children) parentOf[child] = int(n);
  auto above = [&](int node) {
    auto p = parentOf.find(node);
    return p != parentOf.end() && axes.count(p->second) ? axes[p->second] : TMatrix4::Identity();
  };
  auto rebase = [&](int node, TVec3 t, TQuat r) {
    TMatrix4 local = TMatrix4::Translation(t.X, t.Y, t.Z) * TMatrix4::FromQuat(r);
    TMatrix4 changed = above(node).AffineInverse() * local * axes[node];
    return std::pair{changed.Translation(), changed.RotationPart()};
  };
  // The node above the skeleton turns the model too (another program's up axis): its
  // matrix W becomes W', and the inverse binds IBM W W'^-1.
  tinygltf::Node& top = gltf.nodes.at(size_t(NodeNamed(gltf, "KNIG")));
  const TMatrix4 w = NodeMatrix(top);
  top.rotation = {std::sqrt(0.5), 0, 0, -std::sqrt(0.5)};
  const TMatrix4 wChange = w * NodeMatrix(top).AffineInverse();
  std::vector<float> inverse = AccessorFloats(gltf, skin.inverseBindMatrices);
  for (size_t j = 0; j < skin.joints.size(); ++j) {
    TMatrix4 ibm;
    std::copy(&inverse[j * 16], &inverse[j * 16] + 16, ibm.M);
    TMatrix4 changed = axes[skin.joints[j]].AffineInverse() * ibm * wChange;
    std::copy(changed.M, changed.M + 16, &inverse[j * 16]);
  }
  SetAccessorFloats(gltf, skin.inverseBindMatrices, inverse);
  // Each animation's keys; a node's translation, the same at every key, goes into the node.
  const std::vector<tinygltf::Node> nodes = gltf.nodes;
  for (tinygltf::Animation& animation : gltf.animations)
    for (tinygltf::AnimationChannel& channel : animation.channels) {
      ASSERT_EQ(channel.target_path, "rotation");
      const int node = channel.target_node;
      const auto& n = nodes[size_t(node)];
      TVec3 t = n.translation.empty() ? TVec3{}
                                      : TVec3{float(n.translation[0]), float(n.translation[1]),
                                              float(n.translation[2])};
      tinygltf::AnimationSampler& sampler = animation.samplers[size_t(channel.sampler)];
      std::vector<float> keys = AccessorFloats(gltf, sampler.output), changed;
      for (size_t k = 0; k < keys.size(); k += 4) {
        TQuat q = rebase(node, t, {keys[k], keys[k + 1], keys[k + 2], keys[k + 3]}).second;
        changed.insert(changed.end(), {q.X, q.Y, q.Z, q.W});
      }
      auto [moved, turned] = rebase(node, t, {keys[0], keys[1], keys[2], keys[3]});
      gltf.nodes[size_t(node)].translation = {moved.X, moved.Y, moved.Z};
      sampler.output = AddAccessor(gltf, changed, TINYGLTF_TYPE_VEC4);
    }
  SaveGlb(gltf, to);
}

class GltfImport : public ::testing::Test {
protected:
  TTempDir Dir;
  std::unique_ptr<TLGPFile> Char, Battle;
  std::unique_ptr<TFF7Model> Knight;
  std::vector<std::unique_ptr<TMemoryStream>> Bytes;

  void SetUp() override {
    WriteDemoFiles(Dir.Path());
    Char = TLGPFile::Create(Dir.File("char.lgp"), false);
    Battle = TLGPFile::Create(Dir.File("battle.lgp"), false);
    Knight = std::make_unique<TFF7Model>(*Char, "KNIG.HRC", "KNWA.A");
  }

  std::string_view Member(TLGPFile& archive, const std::string& name) {
    Bytes.push_back(archive.ReadMemberToMemory(archive.IndexOf(name)));
    return Bytes.back()->View();
  }

  // The knight exported with the walk, as a file.
  std::string ExportWalk(const std::string& name = "walk.glb") {
    std::string path = Dir.File(name);
    WriteGltfFile(ExportFieldModel(*Knight, "KNIG", {{"KNWA.A", Member(*Char, "KNWA.A")}}, {}),
                  path);
    return path;
  }

  // The knight's animations in the archive, as the importer may look through them.
  TFieldAnimations Offered() {
    return {{"KNWA.A", "KNWV.A"},
            [this](const std::string& name) { return std::string(Member(*Char, name)); }};
  }

  // Expects animation, an A file for the knight, to turn every bone as the walk does at
  // frame source(k).
  void ExpectWalk(std::string_view animation, int32_t frames,
                  const std::function<int32_t(int32_t)>& source, double degrees = 0.01) {
    const int32_t bones = Knight->BoneCount();
    ASSERT_EQ(AnimFrameCount(int64_t(animation.size()), bones), frames);
    for (int32_t k = 0; k < frames; ++k)
      for (int32_t b = 1; b < bones; ++b)
        ASSERT_TRUE(NearTurn(FieldBoneTurn(AnimRotation(animation, bones, b, k)),
                             FieldBoneTurn(Knight->GetRotation(b, source(k))), degrees))
            << "frame " << k << " bone " << b;
  }
};

} // namespace

TEST_F(GltfImport, AFieldAnimationComesBackTurningTheSameAndTakesTheOldHeaderAndTriples) {
  const std::string path = ExportWalk();
  TGltfAnimationFile file(path);
  EXPECT_EQ(file.AnimationNames(), std::vector<std::string>{"KNWA.A"});
  EXPECT_EQ(file.FrameCount(0, 30), 24);

  // Into its own member: the very same bytes.
  std::string walk(Member(*Char, "KNWA.A"));
  EXPECT_EQ(ImportFieldAnimation(*Knight, walk, file, 0, 30), walk);

  // Into a two-frame animation whose header counts its frames: it grows to 24 frames, the
  // count follows, the leading triples come from its frames (the last one past its end).
  const int64_t frameSize = AnimFrameSize(Knight->BoneCount());
  std::string old(Member(*Char, "KNWV.A").substr(0, size_t(AnimHeaderSize + 2 * frameSize)));
  PutU32LE(reinterpret_cast<uint8_t*>(old.data()) + 4, 2);
  std::string imported = ImportFieldAnimation(*Knight, old, file, 0, 30);
  ExpectWalk(imported, 24, [](int32_t k) { return k; });
  EXPECT_EQ(GetI32LE(reinterpret_cast<const uint8_t*>(imported.data()) + 4), 24);
  EXPECT_EQ(imported.substr(8, 28), old.substr(8, 28));
  for (int32_t k = 0; k < 24; ++k)
    EXPECT_EQ(imported.substr(size_t(AnimHeaderSize + k * frameSize), 24),
              old.substr(size_t(AnimHeaderSize + std::min(k, 1) * frameSize), 24))
        << k;
  // Angles follow on from frame to frame.
  for (int32_t k = 1; k < 24; ++k)
    for (int32_t b = 1; b < Knight->BoneCount(); ++b) {
      TVec3 a = AnimRotation(imported, Knight->BoneCount(), b, k - 1);
      TVec3 c = AnimRotation(imported, Knight->BoneCount(), b, k);
      EXPECT_LT(std::abs(a.X - c.X) + std::abs(a.Y - c.Y) + std::abs(a.Z - c.Z), 180) << k;
    }
}

TEST_F(GltfImport, BattleAnimationsComeBackWithTheirValuesAndOffsets) {
  TBattleModel golem;
  golem.LoadFromArchive(*Battle, "RT");
  const std::string path = Dir.File("golem.gltf");
  WriteGltfFile(ExportBattleModel(golem, "RT", {0, 1}, {}), path);
  TGltfAnimationFile file(path);
  for (int32_t a = 0; a < 2; ++a) {
    std::vector<TBattleFrame> frames = ImportBattleAnimation(golem, a, file, a, 30);
    const auto& original = golem.Anims->Anims[size_t(a)].Frames;
    ASSERT_EQ(frames.size(), original.size());
    for (size_t k = 0; k < frames.size(); ++k) EXPECT_TRUE(SameFrame(frames[k], original[k])) << k;
  }
  // The attack into the idle's place (16 frames, grows to 20): the attack's offsets, and
  // turns that are the attack's, whichever values express them.
  std::vector<TBattleFrame> frames = ImportBattleAnimation(golem, 0, file, 1, 30);
  const auto& attack = golem.Anims->Anims[1].Frames;
  ASSERT_EQ(frames.size(), attack.size());
  bool moved = false;
  for (size_t k = 0; k < frames.size(); ++k) {
    EXPECT_EQ(frames[k].OffsetZ, attack[k].OffsetZ);
    moved = moved || attack[k].OffsetZ != 0;
    for (size_t e = 0; e < frames[k].Rotations.size(); ++e) {
      auto turn = [](const TBattleRotation& r) {
        return BattleBoneTurn({BattleAngle(r.X), BattleAngle(r.Y), BattleAngle(r.Z)});
      };
      EXPECT_TRUE(NearTurn(turn(frames[k].Rotations[e]), turn(attack[k].Rotations[e]), 0.1))
          << k << " " << e;
    }
  }
  EXPECT_TRUE(moved);
  // What comes back encodes and decodes to itself.
  TMemoryStream member(std::string("\x01\0\0\0", 4) + EncodeBattleRecord(frames));
  TBattleAnims decoded(member);
  ASSERT_EQ(decoded.Anims.size(), 1u);
  for (size_t k = 0; k < frames.size(); ++k)
    EXPECT_TRUE(SameFrame(decoded.Anims[0].Frames[k], frames[k]));
}

TEST_F(GltfImport, FilesBoundInTheFirstFrameComeBackTheSame) {
  TGltfOptions firstFrame;
  firstFrame.BindPose = TBindPose::FirstFrame;
  const std::string wave(Member(*Char, "KNWV.A")), walk(Member(*Char, "KNWA.A"));

  // The knight bound in the wave's frame 0: each animation back into its own member gives
  // the very same bytes, the wave's frame 0 read from the model, or from the archive.
  const std::string path = Dir.File("bound.glb");
  WriteGltfFile(ExportFieldModel(*Knight, "KNIG", {{"KNWV.A", wave}, {"KNWA.A", walk}}, firstFrame),
                path);
  TGltfAnimationFile file(path);
  TFF7Model waving(*Char, "KNIG.HRC", "KNWV.A");
  EXPECT_EQ(ImportFieldAnimation(waving, wave, file, 0, 30), wave);
  EXPECT_EQ(ImportFieldAnimation(*Knight, walk, file, 1, 30, Offered()), walk);
  // Without the wave to compare with, the bind pose is none the model has.
  EXPECT_EQ(ErrorOf([&] { ImportFieldAnimation(*Knight, walk, file, 1, 30); }),
            "Cannot tell the bind pose of " + path +
                ": its joints lie where neither every rotation 0 nor frame 0 of any of the "
                "model's animations puts them");

  // Saved again with other joint axes, the wave renamed: the joints' places still tell.
  tinygltf::Model renamed = LoadGltf(ReadFileBytes(path), true);
  renamed.animations.at(0).name = "Wave";
  SaveGlb(renamed, Dir.File("renamed.glb"));
  SaveWithOtherAxes(Dir.File("renamed.glb"), Dir.File("axes.glb"));
  TGltfAnimationFile axes(Dir.File("axes.glb"));
  ExpectWalk(ImportFieldAnimation(*Knight, walk, axes, 1, 30, Offered()), 24,
             [](int32_t k) { return k; });

  // The golem bound in the attack's frame 0, its offsets included: both animations come
  // back value for value.
  TBattleModel golem;
  golem.LoadFromArchive(*Battle, "RT");
  WriteGltfFile(ExportBattleModel(golem, "RT", {1, 0}, firstFrame), Dir.File("golem.glb"));
  TGltfAnimationFile golemFile(Dir.File("golem.glb"));
  for (int32_t a = 0; a < 2; ++a) {
    std::vector<TBattleFrame> frames = ImportBattleAnimation(golem, a, golemFile, 1 - a, 30);
    const auto& original = golem.Anims->Anims[size_t(a)].Frames;
    ASSERT_EQ(frames.size(), original.size());
    for (size_t k = 0; k < frames.size(); ++k) EXPECT_TRUE(SameFrame(frames[k], original[k])) << k;
  }
}

TEST_F(GltfImport, AFrameThatTurnsOnlyALastBoneIsStillToldFromTheZeroPose) {
  // Frame 0 turns only the head, from which no joint hangs: every joint lies where it
  // lies with every rotation 0, but the head is turned otherwise, so the file is read as
  // bound in that frame, and the head comes back as it was.
  const int32_t bones = Knight->BoneCount();
  int32_t head = 0;
  while (Knight->Bones[size_t(head)]->Name != "head") ++head;
  // An A file's triples are those of the bones after the root.
  std::vector<std::vector<std::array<float, 3>>> frames(
      2, std::vector<std::array<float, 3>>(size_t(bones - 1), {0, 0, 0}));
  frames[0][size_t(head - 1)] = {30, 0, 0};
  frames[1][size_t(head - 1)] = {0, 40, 0};
  const std::string nod = BuildAnimation(size_t(bones - 1), frames);
  ASSERT_EQ(AnimRotation(nod, bones, head, 0).X, 30);
  TGltfOptions firstFrame;
  firstFrame.BindPose = TBindPose::FirstFrame;
  WriteGltfFile(ExportFieldModel(*Knight, "KNIG", {{"NOD.A", nod}}, firstFrame),
                Dir.File("nod.glb"));
  TGltfAnimationFile file(Dir.File("nod.glb"));
  const std::string back = ImportFieldAnimation(
      *Knight, nod, file, 0, 30, {{"NOD.A"}, [&](const std::string&) { return nod; }});
  ASSERT_EQ(AnimFrameCount(int64_t(back.size()), bones), 2);
  for (int32_t k = 0; k < 2; ++k)
    for (int32_t b = 1; b < bones; ++b)
      EXPECT_TRUE(NearTurn(FieldBoneTurn(AnimRotation(back, bones, b, k)),
                           FieldBoneTurn(AnimRotation(nod, bones, b, k)), 0.01))
          << "frame " << k << " bone " << b;
}

TEST_F(GltfImport, JointsWithOtherAxesAndKeysReversedAreReadFromTheSkin) {
  const std::string path = ExportWalk();
  SaveWithOtherAxes(path, Dir.File("axes.glb"));
  TGltfAnimationFile axesFile(Dir.File("axes.glb"));
  std::string old(Member(*Char, "KNWV.A"));
  ExpectWalk(ImportFieldAnimation(*Knight, old, axesFile, 0, 30), 24, [](int32_t k) { return k; });

  // The keys in reverse order: the walk backwards.
  tinygltf::Model reversed = LoadGltf(ReadFileBytes(path), true);
  for (tinygltf::AnimationSampler& sampler : reversed.animations.at(0).samplers) {
    std::vector<float> keys = AccessorFloats(reversed, sampler.output), back;
    for (size_t k = keys.size(); k >= 4; k -= 4) back.insert(back.end(), &keys[k - 4], &keys[k]);
    sampler.output = AddAccessor(reversed, back, TINYGLTF_TYPE_VEC4);
  }
  SaveGlb(reversed, Dir.File("reversed.glb"));
  TGltfAnimationFile reversedFile(Dir.File("reversed.glb"));
  ExpectWalk(ImportFieldAnimation(*Knight, old, reversedFile, 0, 30), 24,
             [](int32_t k) { return 23 - k; });
}

TEST_F(GltfImport, KeysAreSampledAtTheRateAskedWhateverTheirInterpolation) {
  const std::string path = ExportWalk();
  std::string old(Member(*Char, "KNWV.A"));
  // Half the rate: every other key.
  TGltfAnimationFile file(path);
  ExpectWalk(ImportFieldAnimation(*Knight, old, file, 0, 15), 12, [](int32_t k) { return 2 * k; });
  // Twice the rate, linear: keys at even frames, turns between them at odd ones.
  std::string doubled = ImportFieldAnimation(*Knight, old, file, 0, 60);
  ExpectWalk(
      doubled.substr(0, size_t(AnimHeaderSize)) +
          [&] {
            std::string even;
            const int64_t s = AnimFrameSize(Knight->BoneCount());
            for (int32_t k = 0; k < 47; k += 2)
              even += doubled.substr(size_t(AnimHeaderSize + k * s), size_t(s));
            return even;
          }(),
      24, [](int32_t k) { return k; });

  // Step keys hold until the next; cubic keys with flat tangents pass through the keys.
  for (const std::string interpolation : {"STEP", "CUBICSPLINE"}) {
    SCOPED_TRACE(interpolation);
    tinygltf::Model gltf = LoadGltf(ReadFileBytes(path), true);
    for (tinygltf::AnimationSampler& sampler : gltf.animations.at(0).samplers) {
      sampler.interpolation = interpolation;
      if (interpolation != "CUBICSPLINE") continue;
      std::vector<float> keys = AccessorFloats(gltf, sampler.output), cubic;
      for (size_t k = 0; k < keys.size(); k += 4) {
        cubic.insert(cubic.end(), 4, 0.0f);
        cubic.insert(cubic.end(), &keys[k], &keys[k + 4]);
        cubic.insert(cubic.end(), 4, 0.0f);
      }
      sampler.output = AddAccessor(gltf, cubic, TINYGLTF_TYPE_VEC4);
    }
    SaveGlb(gltf, Dir.File("keys.glb"));
    TGltfAnimationFile keys(Dir.File("keys.glb"));
    if (interpolation == "STEP")
      ExpectWalk(ImportFieldAnimation(*Knight, old, keys, 0, 60), 47,
                 [](int32_t k) { return k / 2; });
    else
      ExpectWalk(ImportFieldAnimation(*Knight, old, keys, 0, 30), 24, [](int32_t k) { return k; });
  }
}

TEST_F(GltfImport, FilesAndJointsThatAreNotThereAreNamed) {
  const std::string path = ExportWalk();
  EXPECT_EQ(ErrorOf([&] {
              TGltfAnimationFile(Dir.File("none.glb"));
            }).rfind("Cannot open file \"" + Dir.File("none.glb") + "\".", 0),
            0u);
  WriteFile(Dir.File("text.glb"), "not a model at all");
  EXPECT_EQ(ErrorOf([&] {
              TGltfAnimationFile(Dir.File("text.glb"));
            }).rfind("Cannot read glTF file \"" + Dir.File("text.glb") + "\": ", 0),
            0u);
  TGltfAnimationFile file(path);
  EXPECT_EQ(ErrorOf([&] { file.AnimationNamed("KNWV.A"); }),
            "no animation named KNWV.A in " + path);
  tinygltf::Model gltf = LoadGltf(ReadFileBytes(path), true);
  gltf.nodes.at(size_t(NodeNamed(gltf, "hip"))).name = "pelvis";
  SaveGlb(gltf, Dir.File("renamed.glb"));
  TGltfAnimationFile renamed(Dir.File("renamed.glb"));
  std::string old(Member(*Char, "KNWV.A"));
  EXPECT_EQ(ErrorOf([&] { ImportFieldAnimation(*Knight, old, renamed, 0, 30); }),
            "no joint named hip in " + Dir.File("renamed.glb"));
}
