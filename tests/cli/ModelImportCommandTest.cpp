// import-model as a user runs it: exported models put back, and files it refuses.
#include "tests/cli/CliRunner.h"

#include "fixtures/Demo.h"
#include "fixtures/GltfParts.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sstream>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::ExpectFailures;
using palkor::testing::RunCli;

namespace {

class ImportModelCommand : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Char = Dir.File("char.lgp"), Battle = Dir.File("battle.lgp");

  void SetUp() override {
    WriteFile(Char, BuildLGP(BuildDemoFieldArchive()));
    WriteFile(Battle, BuildLGP(BuildDemoBattleArchive()));
  }

  // The exported file's parts, changed by change and written as name.
  std::string Changed(const std::string& from, const std::string& name,
                      const std::function<void(TGlbParts&)>& change) {
    TGlbParts parts = SplitGlb(ReadFileBytes(from));
    change(parts);
    const std::string path = Dir.File(name);
    WriteFile(path, JoinGlb(parts));
    return path;
  }
};

} // namespace

TEST_F(ImportModelCommand, AnExportedKnightGoesBackWithALineABoneAndTheSameFramesDrawn) {
  const std::string knight = Dir.File("knight.glb");
  ASSERT_EQ(RunCli({"export", Char, "KNIG.HRC", knight}).ExitCode, 0);
  // Every frame of the walk, drawn.
  const auto render = [&](const std::string& prefix) {
    auto r = RunCli({"render", Char, "KNIG.HRC", "KNWA.A", "--out", Dir.File(prefix), "--png",
                     "--size", "96x96"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    std::vector<std::string> frames;
    for (int k = 0; k < 24; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "PK_KNIG_KNWA_%04d.png", k);
      frames.push_back(ReadFileBytes(Dir.File(prefix + name)));
    }
    return frames;
  };
  const auto before = render("before");
  auto r = RunCli({"import-model", Char, "knig.hrc", knight});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(r.Out.substr(0, r.Out.find('\n', r.Out.find('\n') + 1) + 1),
            "hip: 12 triangles, 0 textures\nspine: 12 triangles, 1 textures\n");
  EXPECT_EQ(RunCli({"check", Char}).ExitCode, 0);
  EXPECT_EQ(RunCli({"pose", Char, "KNIG.HRC", "KNWA.A"}).ExitCode, 0);
  EXPECT_EQ(render("after"), before);
  // A JSON file, its pictures in data URIs, reads the same.
  const std::string json = Dir.File("knight.gltf");
  ASSERT_EQ(RunCli({"export", Char, "KNIG.HRC", json}).ExitCode, 0);
  r = RunCli({"import-model", Char, "KNIG.HRC", json});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(render("json"), before);
}

TEST_F(ImportModelCommand, FilesItCannotUseAreOneLineEachAndChangeNothing) {
  const std::string knight = Dir.File("knight.glb");
  ASSERT_EQ(RunCli({"export", Char, "KNIG.HRC", knight}).ExitCode, 0);
  const std::string noSkin = Changed(knight, "noskin.glb", [](TGlbParts& parts) {
    parts.Document.erase("skins");
    for (auto& node : parts.Document["nodes"]) node.erase("skin");
  });
  const std::string noJoint = Changed(knight, "nojoint.glb", [](TGlbParts& parts) {
    for (auto& node : parts.Document["nodes"])
      if (node.contains("name")) node["name"] = "x" + node["name"].get<std::string>();
  });
  const std::string jpeg = Changed(knight, "jpeg.glb", [](TGlbParts& parts) {
    const auto& view =
        parts.Document["bufferViews"][parts.Document["images"][0]["bufferView"].get<int>()];
    const size_t offset = view.value("byteOffset", size_t(0));
    parts.Binary.replace(offset, 4, "\xFF\xD8\xFF\xE0");
  });
  // A picture larger than a TEX texture holds: its PNG header says 40000 x 40000.
  const std::string huge = Changed(knight, "huge.glb", [](TGlbParts& parts) {
    const auto& view =
        parts.Document["bufferViews"][parts.Document["images"][0]["bufferView"].get<int>()];
    const size_t ihdr = view.value("byteOffset", size_t(0)) + 8; // chunk length, "IHDR"
    for (size_t k : {size_t(8), size_t(12)}) {
      const uint32_t size = 40000;
      for (size_t b = 0; b < 4; ++b) parts.Binary[ihdr + k + b] = char(size >> (24 - 8 * b));
    }
    // The chunk's CRC over its type and data, as PNG readers check it.
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t k = 4; k < 4 + 4 + 13; ++k) {
      crc ^= uint8_t(parts.Binary[ihdr + k]);
      for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    crc ^= 0xFFFFFFFFu;
    for (size_t b = 0; b < 4; ++b) parts.Binary[ihdr + 21 + b] = char(crc >> (24 - 8 * b));
  });
  const std::string charBefore = ReadFileBytes(Char);
  ExpectFailures({
      {{"import-model", Char, "knig.hrc", noSkin}, "no skinned mesh in " + noSkin},
      {{"import-model", Char, "knig.hrc", noJoint},
       "no joint of the skin in " + noJoint + " is named as a bone of KNIG.HRC"},
      {{"import-model", Char, "knig.hrc", jpeg},
       "image 0 of " + jpeg +
           " is a JPEG image: only PNG images become textures (JPEG and other formats are "
           "refused; save the texture as PNG)"},
      {{"import-model", Char, "knig.hrc", huge},
       "image 0 of " + huge + ": 40000x40000 pixels, more than a TEX texture holds (at most " +
           std::to_string((int64_t(1) << 31) / 4 - 1) + " pixels)"},
      {{"import-model", Char, "nobody.hrc", knight}, "no model named nobody.hrc"},
  });
  EXPECT_EQ(ReadFileBytes(Char), charBefore);
}

TEST_F(ImportModelCommand, PruneRemovesTheModelsTexturesThatNoPartNamesAnyMore) {
  const std::string knight = Dir.File("knight.glb");
  ASSERT_EQ(RunCli({"export", Char, "KNIG.HRC", knight}).ExitCode, 0);
  // Every textured material drawn with the first picture: the other is used no more.
  const std::string one = Changed(knight, "one.glb", [](TGlbParts& parts) {
    for (auto& material : parts.Document["materials"])
      if (material["pbrMetallicRoughness"].contains("baseColorTexture"))
        material["pbrMetallicRoughness"]["baseColorTexture"]["index"] = 0;
  });
  auto textures = [&](const std::string& archive) {
    std::string names;
    std::istringstream lines(RunCli({"members", archive}).Out);
    for (std::string line; std::getline(lines, line);)
      if (line.find("KN") != std::string::npos && line.find(".TEX") != std::string::npos)
        names += line.substr(line.rfind('\t') + 1) + " ";
    return names;
  };
  const std::string kept = Dir.File("kept.lgp");
  WriteFile(kept, ReadFileBytes(Char));
  EXPECT_EQ(textures(Char), "KNAC.TEX KNAE.TEX ");
  ASSERT_EQ(RunCli({"import-model", kept, "KNIG.HRC", one}).ExitCode, 0);
  EXPECT_EQ(textures(kept), "KNAC.TEX KNAE.TEX "); // compact does not know who uses them
  auto r = RunCli({"import-model", Char, "KNIG.HRC", one, "--prune"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(textures(Char), "KNAC.TEX ");
  EXPECT_EQ(RunCli({"check", Char}).ExitCode, 0);
  EXPECT_EQ(RunCli({"pose", Char, "KNIG.HRC", "KNWA.A"}).ExitCode, 0);
}
