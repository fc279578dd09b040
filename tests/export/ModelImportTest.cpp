// Models read back from glTF files: exported, imported into their own model, and posed.
#include "export/modelimport.h"

#include "archive/ArchiveEdit.h"
#include "archive/FolderArchive.h"
#include "battle/BattleModel.h"
#include "export/gltf.h"
#include "field/FieldModel.h"
#include "field/pwrite.h"
#include "field/texquantise.h"
#include "fixtures/Demo.h"
#include "fixtures/GltfParts.h"
#include "fixtures/TempDir.h"
#include "geometry/Conventions.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Streams.h"
#include "platform/images.h"
#include "tests/export/GltfReading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace palkor;
using namespace palkor::fixtures;
using namespace palkor::testing;

namespace {

class ModelImport : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Char;

  void SetUp() override {
    WriteDemoFiles(Dir.Path());
    Char = Dir.File("char.lgp");
  }

  static std::string Member(TLGPFile& archive, const std::string& name) {
    return std::string(archive.ReadMemberToMemory(archive.IndexOf(name))->View());
  }

  // The knight with every animation of it, exported.
  static std::string ExportKnight(TLGPFile& archive) {
    const TFieldModel knight(archive, "KNIG.HRC", "KNWA.A");
    const std::string walk = Member(archive, "KNWA.A"), wave = Member(archive, "KNWV.A");
    return ExportFieldModel(knight, "KNIG", {{"KNWA.A", walk}, {"KNWV.A", wave}}, {}).Bytes(true);
  }

  TModelImport Plan(const std::string& path, bool prune = false) {
    auto archive = TLGPFile::Create(Char, false);
    TModelImportOptions options;
    options.Prune = prune;
    options.EncodeTexture = [](const TTexImage&) -> std::string {
      throw Exception("no texture is to be written");
    };
    return PlanFieldModelImport(*archive, "KNIG.HRC", TGltfAnimationFile(path), options);
  }
};

// Every skinned vertex of a at every frame of every animation lies within tolerance of one
// of b's at the same frame.
void ExpectSamePoses(const std::string& a, const std::string& b, float tolerance) {
  const tinygltf::Model ma = LoadGltf(a, true), mb = LoadGltf(b, true);
  ASSERT_EQ(ma.animations.size(), mb.animations.size());
  for (size_t anim = 0; anim < ma.animations.size(); ++anim) {
    const std::vector<float> times = AccessorFloats(ma, ma.animations[anim].samplers.at(0).input);
    for (size_t frame = 0; frame < times.size(); ++frame) {
      const auto va = SkinnedVertices(ma, NodeWorlds(ma, int(anim), int(frame)));
      const auto vb = SkinnedVertices(mb, NodeWorlds(mb, int(anim), int(frame)));
      ASSERT_EQ(va.size(), vb.size());
      for (const TSkinnedVertex& v : va) {
        bool found = false;
        for (const TSkinnedVertex& w : vb)
          if (std::hypot(v.Position.X - w.Position.X, v.Position.Y - w.Position.Y,
                         v.Position.Z - w.Position.Z) <= tolerance) {
            found = true;
            break;
          }
        ASSERT_TRUE(found) << "animation " << anim << " frame " << frame;
      }
    }
  }
}

// Appends bytes to the file's binary chunk as a view of their own; its index.
int AddView(TGlbParts& parts, const void* data, size_t size) {
  while (parts.Binary.size() % 4) parts.Binary += '\0';
  nlohmann::json view = {{"buffer", 0}, {"byteOffset", parts.Binary.size()}, {"byteLength", size}};
  parts.Binary.append(static_cast<const char*>(data), size);
  parts.Document["buffers"][0]["byteLength"] = parts.Binary.size();
  parts.Document["bufferViews"].push_back(view);
  return int(parts.Document["bufferViews"].size() - 1);
}

template <typename T>
int AddAccessor(TGlbParts& parts, const std::vector<T>& values, int componentType, const char* type,
                size_t components) {
  const int view = AddView(parts, values.data(), values.size() * sizeof(T));
  parts.Document["accessors"].push_back({{"bufferView", view},
                                         {"componentType", componentType},
                                         {"count", values.size() / components},
                                         {"type", type}});
  return int(parts.Document["accessors"].size() - 1);
}

float FloatAt(const TGlbParts& parts, size_t offset) {
  return GetF32LE(reinterpret_cast<const uint8_t*>(parts.Binary.data()) + offset);
}

} // namespace

TEST_F(ModelImport, TheKnightComesBackPosedAsItWasWithItsSkippedBytesAndTexturesKept) {
  // What the reader skips in the knight's parts made recognisable: header words and
  // records.
  {
    auto archive = TLGPFile::Create(Char, false);
    TArchiveEdit marks;
    for (int32_t i = 0; i < archive->Count(); ++i) {
      const std::string name = archive->GetEntry(i).Name;
      if (name.rfind("KN", 0) != 0 || name.substr(name.size() - 2) != ".P") continue;
      std::string p = Member(*archive, name);
      for (size_t k = 0; k < 128; ++k)
        if (k < 12 || (k >= 20 && k < 24) || (k >= 40 && k < 48) || k >= 56) p[k] = char(k + i);
      const TFF7PPart part = [&] {
        TMemoryStream stream(p);
        TFF7PPart read;
        read.LoadFromStream(stream);
        return read;
      }();
      const size_t records = p.size() - part.NormalIndex.size() * 4 - 28 - part.Groups.size() * 156;
      for (size_t k = 0; k < part.Groups.size() * 100; ++k)
        p[records + k] = char('a' + k / 100 + i);
      marks.Adds.push_back({name, {"", p}, true});
    }
    archive.reset();
    EditArchive(ArchiveKindForPath(Char), marks);
  }
  std::string exported;
  {
    auto archive = TLGPFile::Create(Char, false);
    exported = ExportKnight(*archive);
  }
  const std::string path = Dir.File("knight.glb");
  WriteFile(path, exported);
  const std::string before = ReadFileBytes(Char);
  WriteFile(Dir.File("old.lgp"), before);
  auto old = TLGPFile::Create(Dir.File("old.lgp"), false);

  const TModelImport plan = Plan(path);
  EXPECT_EQ(plan.Summary.Bones.size(), 11u);
  EXPECT_EQ(plan.Summary.Textures, 0); // the knight's own pictures: its members kept
  EXPECT_TRUE(plan.Summary.Warnings.empty());
  EditArchive(ArchiveKindForPath(Char), plan.Edit);

  auto archive = TLGPFile::Create(Char, false);
  // Every vertex where it was at every frame of both animations, within 0.01 units.
  ExpectSamePoses(exported, ExportKnight(*archive), 0.01f * GltfMetresPerUnit);
  // The parts' skipped header words and 100-byte records are the old members'; the
  // textures, the skeleton and the animations are untouched.
  for (int32_t i = 0; i < old->Count(); ++i) {
    const std::string name = old->GetEntry(i).Name;
    const std::string was = Member(*old, name), now = Member(*archive, name);
    if (name.size() > 2 && name.substr(name.size() - 2) == ".P" && name.rfind("KN", 0) == 0) {
      ASSERT_GE(now.size(), 128u);
      for (size_t k : {0, 4, 8, 20, 40, 44})
        EXPECT_EQ(now.substr(k, 4), was.substr(k, 4)) << name << " " << k;
      EXPECT_EQ(now.substr(56, 72), was.substr(56, 72)) << name;
      const TPKeptBytes a = KeptPBytes(was), b = KeptPBytes(now);
      // Groups of one material are one group now: each takes its kind's record in turn.
      for (size_t k = 0; k < b.PlainRecords.size(); ++k)
        EXPECT_EQ(b.PlainRecords[k], a.PlainRecords.at(std::min(k, a.PlainRecords.size() - 1)));
      for (size_t k = 0; k < b.TexturedRecords.size(); ++k)
        EXPECT_EQ(b.TexturedRecords[k],
                  a.TexturedRecords.at(std::min(k, a.TexturedRecords.size() - 1)));
      EXPECT_EQ(b.BoundsWord, a.BoundsWord);
    } else if (name.substr(name.size() - 4) != ".RSD") {
      EXPECT_EQ(now, was) << name;
    }
  }
}

TEST_F(ModelImport, HRCResourceLinesAreRewrittenAndEverythingElseKept) {
  const std::string hrc = ":HEADER\r\n:SKELETON x\r\n:BONES 2\r\n\r\na\r\nroot\r\n1.5\r\n2 AAAA "
                          "AAAB\r\n# a comment\r\n\r\nb\r\na\r\n2\r\n1 AAAC\r\n";
  EXPECT_EQ(HRCResources(hrc), (std::vector<std::vector<std::string>>{{"AAAA", "AAAB"}, {"AAAC"}}));
  EXPECT_EQ(RewriteHRCResources(hrc, {{}, {"AAAD"}}),
            ":HEADER\r\n:SKELETON x\r\n:BONES 2\r\n\r\na\r\nroot\r\n1.5\r\n0\r\n# a "
            "comment\r\n\r\nb\r\na\r\n2\r\n1 AAAD\r\n");
  EXPECT_THROW(HRCResources("1\n2\n3\nnot empty\n"), Exception);
}

TEST_F(ModelImport, TheGolemComesBackPosedAsItWasThroughItsPartMembers) {
  const std::string battle = Dir.File("battle.lgp");
  auto exportGolem = [&] {
    auto archive = TLGPFile::Create(battle, false);
    TBattleModel golem;
    golem.LoadFromArchive(*archive, "rt");
    return ExportBattleModel(golem, "RT", {0, 1}, {}).Bytes(true);
  };
  const std::string exported = exportGolem();
  const std::string path = Dir.File("golem.glb");
  WriteFile(path, exported);
  std::string skeleton;
  {
    auto archive = TLGPFile::Create(battle, false);
    skeleton = Member(*archive, "rtaa");
    TModelImportOptions options;
    options.EncodeTexture = [](const TTexImage&) -> std::string {
      throw Exception("no texture is to be written");
    };
    const TModelImport plan =
        PlanBattleModelImport(*archive, "rt", TGltfAnimationFile(path), options);
    EXPECT_EQ(plan.Summary.Bones.size(), 10u);
    EXPECT_EQ(plan.Summary.Textures, 0);
    EXPECT_TRUE(plan.Summary.Warnings.empty());
    archive.reset();
    EditArchive(ArchiveKindForPath(battle), plan.Edit);
  }
  ExpectSamePoses(exported, exportGolem(), 0.01f * GltfMetresPerUnit * BattleViewerScale);
  auto archive = TLGPFile::Create(battle, false);
  EXPECT_EQ(Member(*archive, "rtaa"), skeleton); // every bone had its part already
}

TEST_F(ModelImport, AMeshChangedAsA3DToolChangesItIsPosedAsTheFileSkinsIt) {
  std::string exported;
  {
    auto archive = TLGPFile::Create(Char, false);
    const TFieldModel knight(*archive, "KNIG.HRC", "KNWA.A");
    exported =
        ExportFieldModel(knight, "KNIG", {{"KNWA.A", Member(*archive, "KNWA.A")}}, {}).Bytes(true);
  }
  TGlbParts parts = SplitGlb(exported);
  nlohmann::json& doc = parts.Document;
  // Skin joints by name, and where each joint is in the bind pose.
  const nlohmann::json& skin = doc["skins"][0];
  auto jointNamed = [&](const std::string& name) {
    for (size_t j = 0; j < skin["joints"].size(); ++j)
      if (doc["nodes"][skin["joints"][j].get<size_t>()]["name"] == name) return int(j);
    return -1;
  };
  auto jointAt = [&](int joint) {
    TMatrix4 inverse;
    const size_t at =
        parts.AccessorOffset(skin["inverseBindMatrices"].get<int>()) + size_t(joint) * 64;
    for (int k = 0; k < 16; ++k) inverse.M[k] = FloatAt(parts, at + size_t(k) * 4);
    return inverse.AffineInverse().Translation();
  };
  const int fore = jointNamed("l_fore"), head = jointNamed("head");
  ASSERT_GE(fore, 0);
  ASSERT_GE(head, 0);
  const TVec3 centre = jointAt(fore), top = jointAt(head);

  // The left forearm's triangles 1.5 times larger about its joint; every colour of the
  // untextured primitive changed.
  int64_t scaled = 0, recoloured = 0;
  for (const nlohmann::json& primitive : doc["meshes"][0]["primitives"]) {
    const int positions = primitive["attributes"]["POSITION"].get<int>();
    const int joints = primitive["attributes"]["JOINTS_0"].get<int>();
    const size_t count = doc["accessors"][size_t(positions)]["count"].get<size_t>();
    const size_t p0 = parts.AccessorOffset(positions), j0 = parts.AccessorOffset(joints);
    for (size_t v = 0; v < count; ++v) {
      if (uint8_t(parts.Binary[j0 + v * 4]) != fore) continue;
      const float c[3] = {centre.X, centre.Y, centre.Z};
      for (size_t k = 0; k < 3; ++k) {
        const size_t at = p0 + v * 12 + k * 4;
        parts.PutF32LE(at, c[k] + 1.5f * (FloatAt(parts, at) - c[k]));
      }
      ++scaled;
    }
    if (primitive["attributes"].contains("TEXCOORD_0")) continue;
    const size_t c0 = parts.AccessorOffset(primitive["attributes"]["COLOR_0"].get<int>());
    for (size_t v = 0; v < count; ++v, ++recoloured) {
      parts.PutF32LE(c0 + v * 16, 0.2f);
      parts.PutF32LE(c0 + v * 16 + 4, 0.6f);
      parts.PutF32LE(c0 + v * 16 + 8, 0.05f);
    }
  }
  ASSERT_GT(scaled, 0);
  ASSERT_GT(recoloured, 0);

  // A new textured box above the head, bound to it, with a picture of its own.
  std::vector<uint8_t> pixels;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      pixels.insert(pixels.end(), {uint8_t(x * 80), uint8_t(y * 80), 200, 255});
  const std::string png = EncodePNG(4, 4, pixels.data(), 4);
  const int imageView = AddView(parts, png.data(), png.size());
  doc["images"].push_back({{"bufferView", imageView}, {"mimeType", "image/png"}});
  doc["textures"].push_back({{"sampler", 0}, {"source", doc["images"].size() - 1}});
  doc["materials"].push_back(
      {{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", doc["textures"].size() - 1}}}}}});
  std::vector<float> positions, uvs, colours, weights;
  std::vector<uint8_t> joints;
  const float h = 0.05f;
  const TVec3 c{top.X, top.Y + 0.3f, top.Z};
  // Two triangles a face, counter-clockwise seen from outside.
  const int faces[6][4][3] = {{{1, -1, -1}, {1, 1, -1}, {1, 1, 1}, {1, -1, 1}},
                              {{-1, -1, 1}, {-1, 1, 1}, {-1, 1, -1}, {-1, -1, -1}},
                              {{-1, 1, -1}, {-1, 1, 1}, {1, 1, 1}, {1, 1, -1}},
                              {{-1, -1, 1}, {-1, -1, -1}, {1, -1, -1}, {1, -1, 1}},
                              {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}},
                              {{1, -1, -1}, {-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}}};
  const float corners[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
  for (const auto& face : faces)
    for (int k : {0, 1, 2, 0, 2, 3}) {
      positions.insert(positions.end(),
                       {c.X + h * face[k][0], c.Y + h * face[k][1], c.Z + h * face[k][2]});
      uvs.insert(uvs.end(), {corners[k][0], corners[k][1]});
      colours.insert(colours.end(), {1, 1, 1, 1});
      joints.insert(joints.end(), {uint8_t(head), 0, 0, 0});
      weights.insert(weights.end(), {1, 0, 0, 0});
    }
  nlohmann::json box = {{"mode", 4}, {"material", doc["materials"].size() - 1}};
  box["attributes"]["POSITION"] = AddAccessor(parts, positions, 5126, "VEC3", 3);
  box["attributes"]["TEXCOORD_0"] = AddAccessor(parts, uvs, 5126, "VEC2", 2);
  box["attributes"]["COLOR_0"] = AddAccessor(parts, colours, 5126, "VEC4", 4);
  box["attributes"]["JOINTS_0"] = AddAccessor(parts, joints, 5121, "VEC4", 4);
  box["attributes"]["WEIGHTS_0"] = AddAccessor(parts, weights, 5126, "VEC4", 4);
  doc["meshes"][0]["primitives"].push_back(box);
  const std::string changed = JoinGlb(parts);
  const std::string path = Dir.File("changed.glb");
  WriteFile(path, changed);

  TModelImport plan;
  {
    auto archive = TLGPFile::Create(Char, false);
    TModelImportOptions options;
    options.EncodeTexture = [](const TTexImage& picture) {
      return WriteTEX(DefaultTEXHeader(), QuantiseTEX(picture, {}).Image);
    };
    plan = PlanFieldModelImport(*archive, "KNIG.HRC", TGltfAnimationFile(path), options);
  }
  EXPECT_EQ(plan.Summary.Textures, 1);
  EditArchive(ArchiveKindForPath(Char), plan.Edit);

  auto archive = TLGPFile::Create(Char, false);
  const TFieldModel knight(*archive, "KNIG.HRC", "KNWA.A");
  const std::string again =
      ExportFieldModel(knight, "KNIG", {{"KNWA.A", Member(*archive, "KNWA.A")}}, {}).Bytes(true);
  // Every vertex of the file, the scaled arm and the box included, where the viewer poses
  // it at every frame of the walk.
  ExpectSamePoses(changed, again, 0.01f * GltfMetresPerUnit);

  // The new texture decodes to the file's picture.
  std::string tex;
  for (const TArchiveEdit::TAdd& add : plan.Edit.Adds)
    if (add.Name.size() > 4 && add.Name.substr(add.Name.size() - 4) == ".TEX") tex = add.Name;
  ASSERT_FALSE(tex.empty());
  TMemoryStream texBytes(Member(*archive, tex));
  const auto decoded = LoadTEX(texBytes, TEXDataOffset);
  EXPECT_EQ(decoded->Width, 4);
  EXPECT_EQ(decoded->Pixels, pixels);

  // The new colours are the parts' colours: sRGB bytes of the file's linear values.
  const tinygltf::Model back = LoadGltf(again, true);
  int64_t found = 0;
  for (const tinygltf::Primitive& primitive : back.meshes[0].primitives) {
    const std::vector<float> c = AccessorFloats(back, primitive.attributes.at("COLOR_0"));
    for (size_t v = 0; v + 3 < c.size(); v += 4)
      if (std::abs(c[v] - 0.2f) < 0.005f && std::abs(c[v + 1] - 0.6f) < 0.005f &&
          std::abs(c[v + 2] - 0.05f) < 0.005f)
        ++found;
  }
  EXPECT_EQ(found, recoloured);
}

TEST_F(ModelImport, AJointAwayFromTheSkeletonIsNamedAndTheMeshStillFollowsTheSkeleton) {
  std::string exported;
  {
    auto archive = TLGPFile::Create(Char, false);
    exported = ExportKnight(*archive);
  }
  TGlbParts parts = SplitGlb(exported);
  const nlohmann::json& skin = parts.Document["skins"][0];
  auto joint = [&](const std::string& name) {
    for (size_t j = 0; j < skin["joints"].size(); ++j)
      if (parts.Document["nodes"][skin["joints"][j].get<size_t>()]["name"] == name) return j;
    return size_t(0);
  };
  // The head's joint bound a unit away, more than 1 % of the knight's size (some 20
  // units); the spine's a tenth of a unit, less.
  const size_t at = parts.AccessorOffset(skin["inverseBindMatrices"].get<int>());
  for (auto [name, by] : {std::pair<const char*, float>{"head", 1.0f}, {"spine", 0.1f}}) {
    const size_t y = at + joint(name) * 64 + 13 * 4;
    parts.PutF32LE(y, FloatAt(parts, y) - by);
  }
  const std::string path = Dir.File("moved.glb");
  WriteFile(path, JoinGlb(parts));
  const TModelImport plan = Plan(path);
  ASSERT_EQ(plan.Summary.Warnings.size(), 1u);
  EXPECT_EQ(plan.Summary.Warnings[0].rfind("joint head lies 1.00 units from the skeleton's", 0), 0u)
      << plan.Summary.Warnings[0];
  EditArchive(ArchiveKindForPath(Char), plan.Edit);
  auto archive = TLGPFile::Create(Char, false);
  ExpectSamePoses(exported, ExportKnight(*archive), 0.01f * GltfMetresPerUnit);
}
