// Animations read back from exported glTF files, as they are and as another program
// might save them again: joints with other axes, keys reversed, other rates and
// interpolations.
#include "export/gltfimport.h"

#include "battle/BattleModel.h"
#include "export/gltf.h"
#include "field/FieldModel.h"
#include "fixtures/Demo.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/GltfParts.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "geometry/Conventions.h"
#include "platform/Files.h"
#include "tests/TestSupport.h"
#include "tests/export/GltfReading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
  std::unique_ptr<TFieldModel> Knight;
  std::vector<std::unique_ptr<TMemoryStream>> Bytes;

  void SetUp() override {
    WriteDemoFiles(Dir.Path());
    Char = TLGPFile::Create(Dir.File("char.lgp"), false);
    Battle = TLGPFile::Create(Dir.File("battle.lgp"), false);
    Knight = std::make_unique<TFieldModel>(*Char, "KNIG.HRC", "KNWA.A");
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

  // The walk's file as parts, to be changed.
  TGlbParts WalkParts() { return SplitGlb(ReadFileBytes(ExportWalk())); }

  // The message of importing the file's first animation into the knight's wave.
  std::string ImportError(const std::string& path) {
    const std::string wave(Member(*Char, "KNWV.A"));
    return ErrorOf([&] { ImportFieldAnimation(*Knight, wave, TGltfAnimationFile(path), 0, 30); });
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
  TFieldModel waving(*Char, "KNIG.HRC", "KNWV.A");
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

// Files made to break the reader: each fails with one line that names the file and the
// cause, whatever the library or the arithmetic would have made of it.
TEST_F(GltfImport, CraftedFilesFailNamingTheFileAndTheCause) {
  const std::string path = Dir.File("crafted.glb");
  const TGlbParts walk = WalkParts();
  const nlohmann::json& document = walk.Document;
  const int times = document["animations"][0]["samplers"][0]["input"];
  const int keys = document["animations"][0]["samplers"][0]["output"]; // the first rotations
  const int view = document["accessors"][keys]["bufferView"];
  const int inverses = document["skins"][0]["inverseBindMatrices"];
  const int moved = document["animations"][0]["channels"][0]["target"]["node"];
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float infinity = std::numeric_limits<float>::infinity();
  const char* invalid = "Invalid glTF file";
  const char* unreadable = "Cannot read glTF file";
  const std::string outside = Format("accessor %d lies outside its buffer", keys);
  struct Case {
    const char* What;
    std::function<void(TGlbParts&)> Change;
    const char* Kind;
    std::string Why;
  };
  const Case cases[] = {
      // Counts and offsets, checked before anything is made from them.
      {"a count whose bytes wrap past 2^64",
       [&](TGlbParts& p) { p.Document["accessors"][keys]["count"] = (uint64_t(1) << 62) + 1; },
       invalid, outside},
      {"a count past what memory can hold",
       [&](TGlbParts& p) { p.Document["accessors"][keys]["count"] = uint64_t(1) << 59; }, invalid,
       outside},
      {"an offset that wraps",
       [&](TGlbParts& p) { p.Document["accessors"][keys]["byteOffset"] = ~uint64_t(0) - 7; },
       invalid, outside},
      {"a view beyond its buffer",
       [&](TGlbParts& p) { p.Document["bufferViews"][view]["byteOffset"] = uint64_t(1) << 63; },
       invalid, outside},
      {"a stride shorter than an element",
       [&](TGlbParts& p) { p.Document["bufferViews"][view]["byteStride"] = 4; }, invalid,
       Format("accessor %d has elements longer than buffer view %d's stride", keys, view)},
      {"zeros beyond the file's size",
       [&](TGlbParts& p) {
         p.Document["accessors"][keys].erase("bufferView");
         p.Document["accessors"][keys]["count"] = uint64_t(1) << 40;
       },
       invalid, Format("accessor %d holds more values than the file", keys)},
      {"2^28 + 1 key times",
       [&](TGlbParts& p) { p.Document["accessors"][times]["count"] = (1 << 28) + 1; }, invalid,
       Format("accessor %d lies outside its buffer", times)},
      // Every index that the reader follows.
      {"a channel's sampler",
       [&](TGlbParts& p) { p.Document["animations"][0]["channels"][0]["sampler"] = 99; }, invalid,
       "animation 0 names no sampler 99"},
      {"a channel's node",
       [&](TGlbParts& p) { p.Document["animations"][0]["channels"][0]["target"]["node"] = 999; },
       invalid, "animation 0 moves no node 999"},
      {"a sampler's times",
       [&](TGlbParts& p) { p.Document["animations"][0]["samplers"][0]["input"] = 999; }, invalid,
       "no accessor 999"},
      {"a sampler's values",
       [&](TGlbParts& p) { p.Document["animations"][0]["samplers"][0]["output"] = -5; }, invalid,
       "no accessor -5"},
      {"an accessor's view",
       [&](TGlbParts& p) { p.Document["accessors"][keys]["bufferView"] = 999; }, invalid,
       Format("accessor %d names no buffer view", keys)},
      {"a view's buffer", [&](TGlbParts& p) { p.Document["bufferViews"][view]["buffer"] = 7; },
       invalid, Format("buffer view %d names no buffer", view)},
      {"a skin's inverse binds",
       [&](TGlbParts& p) { p.Document["skins"][0]["inverseBindMatrices"] = 999; }, invalid,
       "no accessor 999"},
      {"a node's child", [&](TGlbParts& p) { p.Document["nodes"][0]["children"].push_back(999); },
       invalid, "node 999 is not a tree's"},
      {"a child that is an ancestor",
       [&](TGlbParts& p) { p.Document["nodes"][moved]["children"].push_back(0); }, invalid,
       "its nodes form a cycle"},
      // Values that are no numbers, refused rather than taken as the rest pose.
      {"a rotation key", [&](TGlbParts& p) { p.PutF32LE(p.AccessorOffset(keys), nan); }, invalid,
       "animation 0 has a rotation that is not a number"},
      {"a translation key",
       [&](TGlbParts& p) {
         p.Document["animations"][0]["channels"][0]["target"]["path"] = "translation";
         p.PutF32LE(p.AccessorOffset(keys) + 4, infinity);
       },
       invalid, "animation 0 has a translation that is not a number"},
      {"an inverse bind matrix",
       [&](TGlbParts& p) { p.PutF32LE(p.AccessorOffset(inverses) + 2 * 64, infinity); }, invalid,
       "skin 0 has an inverse bind matrix that is not a number"},
      {"a node's scale beyond single precision",
       [&](TGlbParts& p) {
         p.Document["nodes"][0]["scale"] = {1e300, 1, 1};
       },
       invalid, "node 0 has a scale that is not a number"},
      {"a joint's matrix",
       [&](TGlbParts& p) {
         nlohmann::json& node = p.Document["nodes"][moved];
         node.erase("translation");
         node.erase("rotation");
         node["matrix"] = std::vector<double>(16, -1e300);
       },
       invalid, Format("node %d has a matrix that is not a number", moved)},
      // What the glTF library would have indexed without looking.
      {"a buffer of no bytes", [&](TGlbParts& p) { p.Document["buffers"][0]["byteLength"] = 0; },
       unreadable, "buffer 0 is empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TGlbParts parts = walk;
    c.Change(parts);
    WriteFile(path, JoinGlb(parts));
    EXPECT_EQ(ImportError(path), Format("%s \"%s\": %s", c.Kind, path, c.Why));
  }

  // A binary chunk that says it runs 8 bytes past the end of the file (the library checks
  // its length without its 8-byte head), and the buffer claiming all of it.
  TGlbParts longer = walk;
  longer.Binary.resize((longer.Binary.size() + 3) / 4 * 4);
  longer.Document["buffers"][0]["byteLength"] = longer.Binary.size() + 8;
  std::string glb = JoinGlb(longer);
  const size_t chunk = glb.size() - longer.Binary.size() - 8;
  PutU32LE(reinterpret_cast<uint8_t*>(glb.data()) + chunk, uint32_t(longer.Binary.size() + 8));
  WriteFile(path, glb);
  EXPECT_EQ(ImportError(path), "Cannot read glTF file \"" + path +
                                   "\": its binary chunk runs past the end of the file");
  // Extras nested 100,000 deep: the library would recurse as deep.
  TGlbParts nested = walk;
  nested.Document["asset"]["extras"] = "nested";
  std::string json = nested.Document.dump();
  json.replace(json.find("\"nested\""), 8, std::string(100000, '[') + std::string(100000, ']'));
  WriteFile(path, JoinGlb(json, nested.Binary));
  EXPECT_EQ(ImportError(path),
            "Cannot read glTF file \"" + path + "\": its JSON nests more than 64 levels deep");
}

// A count is compared with the bytes that are there before memory is asked for it: 2^28 + 1
// key times, a gigabyte of floats, are refused in a process that has far less to give.
TEST_F(GltfImport, ACountIsRefusedBeforeMemoryIsAskedForIt) {
  TGlbParts parts = WalkParts();
  const int times = parts.Document["animations"][0]["samplers"][0]["input"];
  parts.Document["accessors"][times]["count"] = (1 << 28) + 1;
  const std::string path = Dir.File("times.glb");
  WriteFile(path, JoinGlb(parts));
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit limit;
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(256) << 20);
        setrlimit(RLIMIT_AS, &limit);
        std::fputs(ImportError(path).c_str(), stderr);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), Format("accessor %d lies outside its buffer", times).c_str());
}

// Files that a .gltf names are read from its folder or below it, and only regular files;
// data URIs as ever.
TEST_F(GltfImport, BufferFilesAreReadOnlyFromBesideTheFile) {
  const TGlbParts walk = WalkParts();
  const std::string folder = Dir.File("model");
  std::filesystem::create_directories(folder + "/sub");
  const std::string data = walk.Binary.substr(0, walk.Document["buffers"][0]["byteLength"]);
  for (const std::string& file :
       {folder + "/walk.bin", folder + "/sub/walk.bin", Dir.File("out.bin")})
    WriteFile(file, data);
  ASSERT_EQ(::symlink(Dir.File("out.bin").c_str(), (folder + "/away.bin").c_str()), 0);
  ASSERT_EQ(::symlink("sub/walk.bin", (folder + "/near.bin").c_str()), 0);
  ASSERT_EQ(::mkfifo((folder + "/pipe.bin").c_str(), 0600), 0);
  auto withUri = [&](const std::string& uri) {
    nlohmann::json document = walk.Document;
    document["buffers"][0]["uri"] = uri;
    const std::string path = folder + "/walk.gltf";
    WriteFile(path, document.dump());
    return path;
  };
  const std::string old(Member(*Char, "KNWV.A"));
  for (const std::string uri : {"walk.bin", "sub/walk.bin", "sub/../walk.bin", "near.bin"}) {
    SCOPED_TRACE(uri);
    ExpectWalk(ImportFieldAnimation(*Knight, old, TGltfAnimationFile(withUri(uri)), 0, 30), 24,
               [](int32_t k) { return k; });
  }
  WriteGltfFile(ExportFieldModel(*Knight, "KNIG", {{"KNWA.A", Member(*Char, "KNWA.A")}}, {}),
                folder + "/embedded.gltf");
  ExpectWalk(
      ImportFieldAnimation(*Knight, old, TGltfAnimationFile(folder + "/embedded.gltf"), 0, 30), 24,
      [](int32_t k) { return k; });

  const std::pair<std::string, std::string> refused[] = {
      {"../out.bin", "lies outside its folder"},
      {"%2E%2E/out.bin", "lies outside its folder"}, // "../out.bin" once decoded
      {Dir.File("out.bin"), "lies outside its folder"},
      {"away.bin", "lies outside its folder"},
      {"pipe.bin", "is not a regular file"},
      {"sub", "is not a regular file"},
      {"none.bin", "is not there"},
  };
  for (const auto& [uri, why] : refused) {
    const std::string path = withUri(uri);
    const std::string named = uri[0] == '%' ? "../out.bin" : uri;
    EXPECT_EQ(ImportError(path),
              "Cannot read glTF file \"" + path + "\": it names \"" + named + "\", which " + why);
  }
}

// Only the joints and the nodes above them are posed, and only the channels that move
// them are read: nodes beside the skeleton may be many, animated long and even damaged.
// A long chain above the skeleton is walked once, and a cycle far along it still found.
TEST_F(GltfImport, OnlyTheJointsAndTheNodesAboveThemAreRead) {
  TGlbParts parts = WalkParts();
  nlohmann::json& document = parts.Document;
  const int top = int(document["scenes"][0]["nodes"][0]);
  // A node beside the skeleton, of no number, with a channel whose values are not there.
  const int beside = int(document["nodes"].size());
  document["nodes"].push_back({{"name", "prop"}, {"scale", {1e300, 1, 1}}});
  document["scenes"][0]["nodes"].push_back(beside);
  nlohmann::json& walk = document["animations"][0];
  walk["samplers"].push_back({{"input", walk["samplers"][0]["input"]}, {"output", 999}});
  walk["channels"].push_back({{"sampler", walk["samplers"].size() - 1},
                              {"target", {{"node", beside}, {"path", "scale"}}}});
  // 10,000 nodes above the model's node, each a child of the next.
  const int chain = 10000, first = int(document["nodes"].size());
  for (int i = 0; i < chain; ++i)
    document["nodes"].push_back(
        {{"name", "above" + std::to_string(i)}, {"children", {i == 0 ? top : first + i - 1}}});
  document["scenes"][0]["nodes"][0] = first + chain - 1;
  const std::string path = Dir.File("beside.glb");
  WriteFile(path, JoinGlb(parts));
  const std::string old(Member(*Char, "KNWV.A"));
  ExpectWalk(ImportFieldAnimation(*Knight, old, TGltfAnimationFile(path), 0, 30), 24,
             [](int32_t k) { return k; });

  // The chain's last node made a child of its first: a cycle of 10,000.
  document["nodes"][first]["children"].push_back(first + chain - 1);
  WriteFile(path, JoinGlb(parts));
  EXPECT_EQ(ImportError(path), "Invalid glTF file \"" + path + "\": its nodes form a cycle");
}
