// Models read back from glTF files: exported, imported into their own model, and posed.
#include "export/modelimport.h"

#include "archive/ArchiveEdit.h"
#include "archive/FolderArchive.h"
#include "battle/BattleModel.h"
#include "export/gltf.h"
#include "field/FieldModel.h"
#include "field/pwrite.h"
#include "fixtures/Demo.h"
#include "fixtures/TempDir.h"
#include "geometry/Conventions.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Streams.h"
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
