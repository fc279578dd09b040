// glTF export read back as another program reads it: the skinned vertices at every key
// against where the viewer's own transforms put them, and the document's content.
#include "export/gltf.h"

#include "app/exportjobs.h"
#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "fixtures/BattleWriters.h"
#include "fixtures/Demo.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "fixtures/TexWriter.h"
#include "geometry/Conventions.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "tests/TestSupport.h"
#include "tests/export/GltfReading.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace palkor;
using namespace palkor::fixtures;
using namespace palkor::testing;

namespace {

float Distance(const TVec3& a, const TVec3& b) {
  return std::sqrt((a.X - b.X) * (a.X - b.X) + (a.Y - b.Y) * (a.Y - b.Y) +
                   (a.Z - b.Z) * (a.Z - b.Z));
}

TVec3 Scaled(const TVec3& v, float s) {
  return {v.X * s, v.Y * s, v.Z * s};
}

// Where the viewer draws a bone's part vertices: the joint transform it loads, in the
// viewer's world, for every vertex of every part of the bone.
using TViewerPose = std::vector<std::vector<TVec3>>; // [bone][vertex]

template <typename TParts>
TViewerPose ViewerPose(const std::vector<TPosedJoint>& joints, size_t bones, TParts partsOf) {
  TViewerPose pose(bones);
  for (const TPosedJoint& joint : joints)
    for (const TFF7PPart* part : partsOf(joint.Bone))
      for (const TVec3& v : part->Vertices)
        pose[size_t(joint.Bone)].push_back(joint.Joint.TransformPoint(v));
  return pose;
}

// Checks that the file's skinned vertices are the viewer's, scaled to metres, at every
// frame of every animation. Each exported vertex is paired at frame 0 with the nearest
// viewer vertex of its bone; the pairs must then agree at every later frame. nodeOfBone
// maps a bone to the node that is its joint.
void ExpectSameMotion(const tinygltf::Model& gltf, const std::vector<TViewerPose>& frames,
                      int animation, const std::function<int(size_t)>& nodeOfBone) {
  const float tolerance = 2e-4f;                // metres
  std::vector<std::pair<size_t, size_t>> pairs; // (bone, vertex) per exported vertex
  for (size_t f = 0; f < frames.size(); ++f) {
    std::vector<TSkinnedVertex> skinned =
        SkinnedVertices(gltf, NodeWorlds(gltf, animation, int(f)));
    ASSERT_FALSE(skinned.empty());
    for (size_t i = 0; i < skinned.size(); ++i) {
      if (f == 0) {
        std::pair<size_t, size_t> best{0, 0};
        float bestDistance = INFINITY;
        for (size_t b = 0; b < frames[0].size(); ++b) {
          if (nodeOfBone(b) != skinned[i].Node) continue;
          for (size_t v = 0; v < frames[0][b].size(); ++v) {
            float d = Distance(skinned[i].Position, Scaled(frames[0][b][v], GltfMetresPerUnit));
            if (d < bestDistance) bestDistance = d, best = {b, v};
          }
        }
        ASSERT_LT(bestDistance, tolerance) << "vertex " << i << " at frame 0";
        pairs.push_back(best);
      }
      const TVec3 expected = Scaled(frames[f][pairs[i].first][pairs[i].second], GltfMetresPerUnit);
      ASSERT_LT(Distance(skinned[i].Position, expected), tolerance)
          << "animation " << animation << " frame " << f << " vertex " << i;
    }
  }
}

class GltfExport : public ::testing::Test {
protected:
  TTempDir Dir;

  std::unique_ptr<TLGPFile> Archive(const TLGPFixture& lgp, const std::string& name = "char.lgp") {
    std::string path = Dir.File(name);
    WriteFile(path, BuildLGP(lgp));
    return TLGPFile::Create(path, false);
  }

  // The animations' bytes, kept while the test runs.
  std::vector<std::unique_ptr<TMemoryStream>> AnimBytes;

  std::vector<TFieldAnimation> Anims(TLGPFile& archive, const std::vector<std::string>& names) {
    std::vector<TFieldAnimation> anims;
    for (const std::string& name : names) {
      AnimBytes.push_back(archive.ReadMemberToMemory(archive.IndexOf(name)));
      anims.push_back({name, AnimBytes.back()->View()});
    }
    return anims;
  }

  static tinygltf::Model ReadBack(const TGltfDocument& document, bool binary = true) {
    return LoadGltf(document.Bytes(binary), binary);
  }
};

std::vector<const TFF7PPart*> PartsOf(const TFieldModel& model, int32_t bone) {
  std::vector<const TFF7PPart*> parts;
  for (const auto& part : model.Bones[size_t(bone)]->Parts) parts.push_back(part.get());
  return parts;
}

using TTriangle = std::array<TVec3, 3>;

// The signed volume that each closed surface among triangles encloses: positive when its
// corners wind counter-clockwise about its outward normals. Triangles sharing a corner
// position belong to one surface.
std::vector<double> ClosedVolumes(const std::vector<TTriangle>& triangles) {
  std::vector<size_t> surface(triangles.size());
  for (size_t t = 0; t < triangles.size(); ++t) surface[t] = t;
  std::function<size_t(size_t)> find = [&](size_t t) {
    return surface[t] == t ? t : surface[t] = find(surface[t]);
  };
  std::map<std::tuple<float, float, float>, size_t> firstAt;
  for (size_t t = 0; t < triangles.size(); ++t)
    for (const TVec3& p : triangles[t]) {
      auto [at, added] = firstAt.emplace(std::tuple{p.X, p.Y, p.Z}, t);
      if (!added) surface[find(t)] = find(at->second);
    }
  std::map<size_t, double> volumes;
  for (size_t t = 0; t < triangles.size(); ++t) {
    const TVec3 &a = triangles[t][0], &b = triangles[t][1], &c = triangles[t][2];
    volumes[find(t)] += (double(a.X) * (double(b.Y) * c.Z - double(b.Z) * c.Y) -
                         double(a.Y) * (double(b.X) * c.Z - double(b.Z) * c.X) +
                         double(a.Z) * (double(b.X) * c.Y - double(b.Y) * c.X)) /
                        6;
  }
  std::vector<double> result;
  for (const auto& [t, volume] : volumes) result.push_back(volume);
  return result;
}

// The triangles the viewer draws of part, in the P file's own numbers (the loader negates
// them).
std::vector<TTriangle> FileTriangles(const TFF7PPart& part) {
  std::vector<TTriangle> triangles;
  for (int pass = 0; pass < 2; ++pass)
    WalkPartPass(
        part, pass, [](size_t) {},
        [&](size_t, const TIndexTriple& corners, const TIndexTriple&) {
          TTriangle triangle;
          for (size_t k = 0; k < 3; ++k) {
            const TVec3& v = part.Vertices[size_t(corners[k])];
            triangle[k] = FieldVertex(v.X, v.Y, v.Z);
          }
          triangles.push_back(triangle);
        });
  return triangles;
}

// Every triangle of the file's meshes as written, in the bind pose.
std::vector<TTriangle> WrittenTriangles(const tinygltf::Model& gltf) {
  std::vector<TTriangle> triangles;
  for (const tinygltf::Mesh& mesh : gltf.meshes)
    for (const tinygltf::Primitive& primitive : mesh.primitives) {
      EXPECT_EQ(primitive.indices, -1);
      std::vector<float> p = AccessorFloats(gltf, primitive.attributes.at("POSITION"));
      for (size_t v = 0; v + 9 <= p.size(); v += 9)
        triangles.push_back({TVec3{p[v], p[v + 1], p[v + 2]},
                             {p[v + 3], p[v + 4], p[v + 5]},
                             {p[v + 6], p[v + 7], p[v + 8]}});
    }
  return triangles;
}

} // namespace

// Either bind pose gives the same motion.
const TBindPose BindPoses[] = {TBindPose::Zero, TBindPose::FirstFrame};

TEST_F(GltfExport, AFieldModelMovesAsTheViewerDrawsItAtEveryFrame) {
  auto archive = Archive(BuildDemoFieldArchive());
  const std::vector<std::string> names{"KNWA.A", "KNWV.A"};
  TFieldModel model(*archive, "KNIG.HRC", names[0]);
  for (TBindPose bind : BindPoses) {
    TGltfOptions options;
    options.BindPose = bind;
    tinygltf::Model gltf =
        ReadBack(ExportFieldModel(model, "KNIG", Anims(*archive, names), options));
    ASSERT_EQ(gltf.animations.size(), 2u);

    const TMatrix4 lift = TMatrix4::Translation(0, ViewerLift, 0);
    for (size_t a = 0; a < names.size(); ++a) {
      TFieldModel shown(*archive, "KNIG.HRC", names[a]);
      std::vector<TViewerPose> frames;
      for (int32_t f = 0; f < shown.FrameCount; ++f) {
        shown.SetFrame(f);
        frames.push_back(ViewerPose(shown.PoseFrom(0, lift), size_t(shown.BoneCount()),
                                    [&](int32_t b) { return PartsOf(shown, b); }));
      }
      ExpectSameMotion(gltf, frames, int(a),
                       [&](size_t b) { return NodeNamed(gltf, shown.Bones[b]->Name); });
    }
  }
}

TEST_F(GltfExport, ABattleModelMovesAsTheViewerDrawsItMirrorAndOffsetsIncluded) {
  auto archive = Archive(BuildDemoBattleArchive(), "battle.lgp");
  TBattleModel model;
  model.LoadFromArchive(*archive, "RT");
  ASSERT_EQ(model.AnimCount(), 2);
  for (TBindPose bind : BindPoses) {
    TGltfOptions options;
    options.BindPose = bind;
    tinygltf::Model gltf = ReadBack(ExportBattleModel(model, "RT", {0, 1}, options), false);

    // The viewer lifts battle models and draws them at its battle scale.
    const TMatrix4 place = TMatrix4::Translation(0, ViewerLift, 0) *
                           TMatrix4::Scale(BattleViewerScale, BattleViewerScale, BattleViewerScale);
    bool moved = false;
    for (int a = 0; a < 2; ++a) {
      std::vector<TViewerPose> frames;
      for (const TBattleFrame& frame : model.Anims->Anims[size_t(a)].Frames) {
        moved = moved || frame.OffsetY != 0 || frame.OffsetZ != 0;
        frames.push_back(
            ViewerPose(model.PoseJoints(&frame, place), size_t(model.BoneCount), [&](int32_t b) {
              std::vector<const TFF7PPart*> parts;
              if (model.Parts[size_t(b)]) parts.push_back(model.Parts[size_t(b)].get());
              return parts;
            }));
      }
      ExpectSameMotion(gltf, frames, a,
                       [&](size_t b) { return NodeNamed(gltf, "bone" + std::to_string(b)); });
    }
    EXPECT_TRUE(moved); // the demo's offsets are not all 0, so they were compared too
  }
}

TEST_F(GltfExport, ClosedPartsFaceOutwardsInTheFileAsInTheGame) {
  auto field = Archive(BuildDemoFieldArchive());
  auto battle = Archive(BuildDemoBattleArchive(), "battle.lgp");
  struct TCase {
    std::string Model, Anim;
  };
  const TCase cases[] = {{"KNIG.HRC", "KNWA.A"}, {"HOUN.HRC", "HOTA.A"}, {"RT", ""}};
  for (const TCase& c : cases)
    for (TBindPose bind : {TBindPose::Zero, TBindPose::FirstFrame}) {
      SCOPED_TRACE(c.Model + (bind == TBindPose::Zero ? " zero" : " first-frame"));
      TGltfOptions options;
      options.BindPose = bind;
      std::vector<const TFF7PPart*> parts;
      tinygltf::Model gltf;
      std::unique_ptr<TFieldModel> fieldModel;
      TBattleModel battleModel;
      if (c.Anim.empty()) {
        battleModel.LoadFromArchive(*battle, c.Model);
        for (const auto& part : battleModel.Parts)
          if (part) parts.push_back(part.get());
        gltf = ReadBack(ExportBattleModel(battleModel, c.Model, {1, 0}, options));
      } else {
        fieldModel = std::make_unique<TFieldModel>(*field, c.Model, c.Anim);
        for (int32_t b = 0; b < fieldModel->BoneCount(); ++b)
          for (const TFF7PPart* part : PartsOf(*fieldModel, b)) parts.push_back(part);
        gltf = ReadBack(ExportFieldModel(*fieldModel, c.Model, Anims(*field, {c.Anim}), options));
      }
      // The demo's parts are closed boxes that follow the game's convention in the files'
      // own numbers: counter-clockwise about the outward normal.
      size_t boxes = 0;
      for (const TFF7PPart* part : parts)
        for (double volume : ClosedVolumes(FileTriangles(*part))) {
          EXPECT_GT(volume, 0);
          ++boxes;
        }
      // Each comes out of the export facing outwards in glTF's own terms.
      const std::vector<double> written = ClosedVolumes(WrittenTriangles(gltf));
      EXPECT_EQ(written.size(), boxes);
      for (double volume : written) EXPECT_GT(volume, 0);
    }
}

TEST_F(GltfExport, NodesSkinAndAnimationsAreNamedAndTimedAsTheGameHasThem) {
  auto archive = Archive(BuildDemoFieldArchive());
  TFieldModel model(*archive, "KNIG.HRC", "KNWV.A");
  TGltfOptions options;
  options.Fps = 24;
  tinygltf::Model gltf =
      ReadBack(ExportFieldModel(model, "KNIG", Anims(*archive, {"KNWV.A", "KNWA.A"}), options));

  // One node per bone entry, named as the bone, parented as the skeleton; one skin.
  ASSERT_EQ(gltf.skins.size(), 1u);
  const tinygltf::Skin& skin = gltf.skins[0];
  ASSERT_EQ(skin.joints.size(), size_t(model.BoneCount()));
  EXPECT_EQ(gltf.nodes[size_t(skin.joints[0])].name, "root");
  for (int32_t b = 1; b < model.BoneCount(); ++b) {
    const tinygltf::Node& node = gltf.nodes[size_t(skin.joints[size_t(b)])];
    EXPECT_EQ(node.name, model.Bones[size_t(b)]->Name);
    const tinygltf::Node& parent =
        gltf.nodes[size_t(skin.joints[size_t(model.Bones[size_t(b)]->Parent)])];
    EXPECT_NE(std::find(parent.children.begin(), parent.children.end(), skin.joints[size_t(b)]),
              parent.children.end())
        << node.name;
  }

  // Animations in the order given, named as the members; frame k at k / fps.
  ASSERT_EQ(gltf.animations.size(), 2u);
  EXPECT_EQ(gltf.animations[0].name, "KNWV.A");
  EXPECT_EQ(gltf.animations[1].name, "KNWA.A");
  const tinygltf::Animation& wave = gltf.animations[0];
  EXPECT_EQ(wave.channels.size(), size_t(model.BoneCount())); // a rotation for every joint
  std::vector<float> times = AccessorFloats(gltf, wave.samplers[0].input);
  ASSERT_EQ(times.size(), size_t(model.FrameCount));
  for (size_t k = 0; k < times.size(); ++k) EXPECT_FLOAT_EQ(times[k], float(k) / 24);

  // The nodes' own transforms are frame 0 of the first animation.
  std::vector<TMatrix4> own = NodeWorlds(gltf, -1, 0), first = NodeWorlds(gltf, 0, 0);
  for (size_t n = 0; n < own.size(); ++n)
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(own[n].M[i], first[n].M[i], 1e-5) << n;

  // The inverse bind matrices undo the bind pose: every rotation 0, or with the first
  // frame as the bind pose the nodes' own transforms, which show it; the nodes' own
  // transforms are frame 0 either way.
  options.BindPose = TBindPose::FirstFrame;
  tinygltf::Model firstFrame =
      ReadBack(ExportFieldModel(model, "KNIG", Anims(*archive, {"KNWV.A", "KNWA.A"}), options));
  tinygltf::Model zero = gltf;
  for (int joint : skin.joints) zero.nodes[size_t(joint)].rotation.clear();
  for (const tinygltf::Model* file : {&gltf, &firstFrame}) {
    const std::vector<TMatrix4> bindWorlds = NodeWorlds(file == &gltf ? zero : *file, -1, 0);
    std::vector<float> inverse = AccessorFloats(*file, file->skins.at(0).inverseBindMatrices);
    for (size_t j = 0; j < skin.joints.size(); ++j) {
      TMatrix4 ibm;
      std::copy(&inverse[j * 16], &inverse[j * 16] + 16, ibm.M);
      TMatrix4 product = bindWorlds[size_t(skin.joints[j])] * ibm;
      for (int i = 0; i < 16; ++i) EXPECT_NEAR(product.M[i], TMatrix4::Identity().M[i], 1e-5);
    }
    EXPECT_EQ(file->nodes, gltf.nodes);
  }
  // Without an animation, the first frame is no pose: the bind pose stays every rotation 0.
  EXPECT_EQ(ExportFieldModel(model, "KNIG", {}, options).Bytes(true),
            ExportFieldModel(model, "KNIG", {}, {}).Bytes(true));
}

TEST_F(GltfExport, ABattleRootCarriesTheOffsetsAndTheBonesAreNumbered) {
  auto archive = Archive(BuildDemoBattleArchive(), "battle.lgp");
  TBattleModel model;
  model.LoadFromArchive(*archive, "RT");
  tinygltf::Model gltf = ReadBack(ExportBattleModel(model, "RT", {1}, {}));
  const int root = NodeNamed(gltf, "root");
  ASSERT_GE(root, 0);
  for (int32_t b = 0; b < model.BoneCount; ++b) {
    int node = NodeNamed(gltf, "bone" + std::to_string(b));
    ASSERT_GE(node, 0);
    int parent = model.Bones[size_t(b)].Parent;
    const tinygltf::Node& above =
        gltf.nodes[size_t(parent < 0 ? root : NodeNamed(gltf, "bone" + std::to_string(parent)))];
    EXPECT_NE(std::find(above.children.begin(), above.children.end(), node), above.children.end());
  }
  ASSERT_EQ(gltf.animations.size(), 1u);
  EXPECT_EQ(gltf.animations[0].name, "Animation 2");
  int translations = 0;
  for (const auto& channel : gltf.animations[0].channels)
    if (channel.target_path == "translation") {
      ++translations;
      EXPECT_EQ(channel.target_node, root);
    }
  EXPECT_EQ(translations, 1);

  EXPECT_EQ(ErrorOf([&] { ExportBattleModel(model, "RT", {2}, {}); }),
            "no animation 3: the model has 2");
}

TEST_F(GltfExport, BattleBonesTheViewerNeverReachesHangApart) {
  // Bone 1 names the largest parent a file can hold, bones 2 and 3 each other; bone 0
  // hangs from the root. The skeleton has no parts: no mesh, no skin, only the nodes.
  TBattleModel::TMemberList list;
  list.emplace_back("aa",
                    std::make_unique<TMemoryStream>(BuildBattleSkeleton(
                        {{-1, 1, false}, {2147483647, 1, false}, {3, 1, false}, {2, 1, false}})));
  list.emplace_back("ab", std::make_unique<TMemoryStream>(""));
  list.emplace_back("am", std::make_unique<TMemoryStream>(""));
  list.emplace_back("da", std::make_unique<TMemoryStream>(BuildBattleAnimations({})));
  TBattleModel model;
  model.LoadFromList(list);
  tinygltf::Model gltf = ReadBack(ExportBattleModel(model, "ZZ", {}, {}));
  EXPECT_TRUE(gltf.meshes.empty());
  EXPECT_TRUE(gltf.skins.empty());
  const std::vector<int>& top = gltf.nodes.at(0).children;
  for (const char* name : {"root", "bone1", "bone2", "bone3"})
    EXPECT_NE(std::find(top.begin(), top.end(), NodeNamed(gltf, name)), top.end()) << name;
  const std::vector<int>& root = gltf.nodes.at(size_t(NodeNamed(gltf, "root"))).children;
  EXPECT_EQ(root, std::vector<int>{NodeNamed(gltf, "bone0")});
}

TEST_F(GltfExport, OneTrianglePerPolygonTheViewerDrawsAndMaterialsAsItDrawsThem) {
  // Bone "body": a plain box, a colour-keyed textured box, a box with a translucent
  // vertex colour on that texture, a box on a texture the part lacks (which ends each
  // pass: the box after it is not drawn either), and that box. Bone "lost" hangs from a
  // bone that does not exist: the viewer never draws it.
  TTexFixture keyed;
  keyed.Width = keyed.Height = 2;
  keyed.ColourKey = 1;
  keyed.Palette = {{0, 0, 0, 0}, {0, 0, 255, 0}};
  keyed.Indices = {0, 1, 1, 1};
  TModelPartFixture part;
  part.Textures = {BuildTEX(keyed)};
  part.P.AddBox(0, 0, 0, 2, 2, 2, {200, 100, 50, 255});
  part.P.AddBox(4, 0, 0, 2, 2, 2, {255, 255, 255, 255}, 0);
  part.P.AddBox(8, 0, 0, 2, 2, 2, {255, 255, 255, 128}, 0);
  part.P.AddBox(12, 0, 0, 2, 2, 2, {255, 255, 255, 255}, 1);
  part.P.AddBox(16, 0, 0, 2, 2, 2, {0, 255, 0, 255});
  part.P.Groups[1].TexFlag = part.P.Groups[2].TexFlag = part.P.Groups[3].TexFlag = 1;
  TModelPartFixture lostPart;
  lostPart.P.AddBox(0, 0, 0, 1, 1, 1, {255, 0, 0, 255});
  TLGPFixture lgp;
  std::string hrc =
      AddFieldModel(lgp, "TEST", {{"body", "root", 5, {part}}, {"lost", "nobody", 5, {lostPart}}});
  auto archive = Archive(lgp);
  TFieldModel model(*archive, hrc, "");
  EXPECT_EQ(model.FrameCount, 0);
  tinygltf::Model gltf = ReadBack(ExportFieldModel(model, "TEST", {}, {}));

  // No animations: the nodes stand in the bind pose.
  EXPECT_TRUE(gltf.animations.empty());
  ASSERT_EQ(gltf.meshes.size(), 1u);
  std::map<std::string, size_t> triangles; // by alpha mode
  for (const tinygltf::Primitive& primitive : gltf.meshes[0].primitives) {
    const tinygltf::Material& material = gltf.materials.at(size_t(primitive.material));
    EXPECT_TRUE(material.doubleSided);
    EXPECT_TRUE(material.extensions.count("KHR_materials_unlit"));
    triangles[material.alphaMode] +=
        AccessorFloats(gltf, primitive.attributes.at("POSITION")).size() / 9;
    bool textured = material.pbrMetallicRoughness.baseColorTexture.index >= 0;
    EXPECT_EQ(primitive.attributes.count("TEXCOORD_0"), size_t(textured ? 1 : 0));
    if (material.alphaMode == "OPAQUE") {
      // Colours linear: the file's 200, 100, 50 as sRGB.
      std::vector<float> colours = AccessorFloats(gltf, primitive.attributes.at("COLOR_0"));
      EXPECT_NEAR(colours[0], std::pow((200 / 255.0 + 0.055) / 1.055, 2.4), 1e-5);
      EXPECT_FLOAT_EQ(colours[3], 1);
    }
  }
  // 12 plain; 12 colour-keyed and 12 translucent on the same image, all blended as one.
  EXPECT_EQ(triangles["OPAQUE"], 12u);
  EXPECT_EQ(triangles["BLEND"], 24u);
  EXPECT_EQ(triangles.count("MASK"), 0u);

  // The image is the decoded TEX file as PNG, alpha as decoded.
  ASSERT_EQ(gltf.images.size(), 1u);
  const tinygltf::Image& image = gltf.images[0];
  EXPECT_EQ(image.mimeType, "image/png");
  ASSERT_EQ(image.width, 2);
  EXPECT_EQ(image.image[3], 0); // index 0, colour-keyed
  EXPECT_EQ(std::vector<unsigned char>(image.image.begin() + 4, image.image.begin() + 8),
            (std::vector<unsigned char>{255, 0, 0, 255}));

  // The unreached bone has its node, but nothing of it is drawn.
  int lost = NodeNamed(gltf, "lost");
  ASSERT_GE(lost, 0);
  for (const TSkinnedVertex& v : SkinnedVertices(gltf, NodeWorlds(gltf, -1, 0)))
    EXPECT_NE(v.Node, lost);
}

TEST_F(GltfExport, AnAnimationShorterThanAFrameIsAReadError) {
  auto archive = Archive(BuildDemoFieldArchive());
  TFieldModel model(*archive, "KNIG.HRC", "KNWA.A");
  EXPECT_EQ(ErrorOf([&] {
              ExportFieldModel(model, "KNIG", {{"CUT.A", "short"}}, {});
            }),
            "Stream read error");
}

TEST_F(GltfExport, ExportAllGoesOnPastAFailingModelAndStopsWhenAsked) {
  auto archive = Archive(BuildBrokenDemoFieldArchive()); // BRKN.HRC fails to load
  TCatalogue catalogue;
  catalogue.AnalyseArchive(*archive);
  std::vector<TExportItem> items = ExportItemsOf(*archive, catalogue, false);
  ASSERT_EQ(items.size(), 3u);

  TArchiveKind kind{&TLGPFile::Class(), Dir.File("char.lgp")};
  TExportAllProgress result = ExportAll(kind, items, Dir.File("out/models"), {}, 2, {});
  EXPECT_EQ(result.Done, 3);
  ASSERT_EQ(result.Failures.size(), 1u);
  EXPECT_EQ(result.Failures[0],
            (std::pair<std::string, std::string>{
                "BRKN", "Stream read error: BRAA.P ends before the data it describes"}));
  EXPECT_TRUE(FileExists(Dir.File("out/models/KNIG.glb")));
  EXPECT_TRUE(FileExists(Dir.File("out/models/HOUN.glb")));
  EXPECT_FALSE(FileExists(Dir.File("out/models/BRKN.glb")));

  // Stopped at the first report: the one job ends the model it may have begun, and
  // starts no other; only whole files are left.
  result = ExportAll(kind, items, Dir.File("stopped"), {}, 1,
                     [](const TExportAllProgress&) { return false; });
  EXPECT_LE(result.Done, 1);
  std::vector<TFolderFile> files = ListFolderFiles(Dir.File("stopped"));
  EXPECT_EQ(files.size(), size_t(result.Done));
  for (const TFolderFile& file : files) EXPECT_EQ(file.Name, "KNIG.glb");
}

TEST_F(GltfExport, NamesBecomeUTF8AndValuesJSONCannotHoldAreRefused) {
  // The game's text is bytes of an 8-bit code page, shown as Latin-1.
  TModelPartFixture part;
  part.P.AddBox(0, 0, 0, 1, 1, 1, {255, 0, 0, 255});
  TLGPFixture lgp;
  std::string hrc = AddFieldModel(lgp, "TEST", {{"b\xE9te", "root", 1, {part}}});
  lgp.Add("\xC9LAN.A", BuildAnimation(1, {{{0, 45, 0}}}));
  auto archive = Archive(lgp);
  TFieldModel model(*archive, hrc, "\xC9LAN.A");
  tinygltf::Model gltf =
      ReadBack(ExportFieldModel(model, "TEST", Anims(*archive, {"\xC9LAN.A"}), {}), false);
  EXPECT_GE(NodeNamed(gltf, "b\xC3\xA9te"), 0);
  EXPECT_EQ(gltf.animations.at(0).name, "\xC3\x89LAN.A");

  // A vertex or an angle that is not a number: one message, no document.
  TLGPFixture bad;
  TModelPartFixture nan = part;
  nan.P.Vertices[3][1] = std::numeric_limits<float>::quiet_NaN();
  hrc = AddFieldModel(bad, "NANS", {{"b", "root", 1, {nan}}});
  bad.Add("NANS.A", BuildAnimation(1, {{{0, 0, 0}}}));
  bad.Add("INFS.A", BuildAnimation(1, {{{0, std::numeric_limits<float>::infinity(), 0}}}));
  auto badArchive = Archive(bad, "bad.lgp");
  TFieldModel badModel(*badArchive, hrc, "NANS.A");
  const std::string refused =
      "Cannot export the model: it holds a value that is not a finite number";
  EXPECT_EQ(ErrorOf([&] { ExportFieldModel(badModel, "NANS", {}, {}); }), refused);
  TFieldModel turned(*archive, "TEST.HRC", "");
  EXPECT_EQ(ErrorOf([&] { ExportFieldModel(turned, "TEST", Anims(*badArchive, {"INFS.A"}), {}); }),
            refused);
}

// Rotation keys are stored so that a reader interpolating them as they are turns a
// joint the short way between frames: from 170 to -170 degrees through 180, and not at
// all between two frames of one turn (0 and 360 degrees, whose quaternions are q and -q).
TEST_F(GltfExport, RotationKeysTurnTheShortWayBetweenFrames) {
  struct TCase {
    float From, To, Halfway; // degrees about the bone's Y
  };
  const TCase cases[] = {{170, -170, 180}, {-100, 100, 180}, {0, 360, 0}, {30, 50, 40}};
  TModelPartFixture part;
  part.P.AddBox(0, 0, 0, 1, 1, 1, {255, 0, 0, 255});
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.From << " to " << c.To);
    TLGPFixture lgp;
    std::string hrc = AddFieldModel(lgp, "TURN", {{"b", "root", 1, {part}}});
    lgp.Add("TURN.A", BuildAnimation(1, {{{0, c.From, 0}}, {{0, c.To, 0}}}));
    auto archive = Archive(lgp);
    TFieldModel model(*archive, hrc, "TURN.A");
    tinygltf::Model gltf =
        ReadBack(ExportFieldModel(model, "TURN", Anims(*archive, {"TURN.A"}), {}));
    const int node = NodeNamed(gltf, "b");
    std::vector<float> keys;
    for (const auto& channel : gltf.animations.at(0).channels)
      if (channel.target_node == node && channel.target_path == "rotation")
        keys = AccessorFloats(gltf, gltf.animations[0].samplers.at(size_t(channel.sampler)).output);
    ASSERT_EQ(keys.size(), 8u);
    // Halfway, as linear interpolation of the components normalised (and slerp) has it.
    TQuat half{keys[0] + keys[4], keys[1] + keys[5], keys[2] + keys[6], keys[3] + keys[7]};
    const float length = std::sqrt(half.Dot(half));
    ASSERT_GT(length, 0.1f);
    half = {half.X / length, half.Y / length, half.Z / length, half.W / length};
    EXPECT_TRUE(NearTurn(TMatrix4::FromQuat(half), FieldBoneTurn({0, c.Halfway, 0}), 0.5));
  }
}
