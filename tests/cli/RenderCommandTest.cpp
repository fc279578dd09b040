#include "tests/cli/CliRunner.h"

#include "fixtures/Demo.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/PNGReader.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::RunCli;

namespace {

class RenderCommand : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Char = Dir.File("char.lgp"), Battle = Dir.File("battle.lgp");
  std::string Out = Dir.File("out") + "/";

  void SetUp() override {
    WriteFile(Char, BuildLGP(BuildDemoFieldArchive()));
    WriteFile(Battle, BuildLGP(BuildDemoBattleArchive()));
    WriteFile(Dir.File("only.filter"), "KNIGAnims=KNWV,\r\n");
    std::filesystem::create_directory(Dir.File("out"));
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Dir.File("out")))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

} // namespace

TEST_F(RenderCommand, WritesOneBMPPerFrameOfTheAnimation) {
  auto r = RunCli({"render", Char, "knig.hrc", "knwa.a", "--out", Out, "--size", "64x48"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err, ""); // no progress bar when standard error is not a terminal
  std::vector<std::string> files = Files();
  ASSERT_EQ(files.size(), 24u); // frames 0 to 23, named with the archive's spelling
  EXPECT_EQ(files.front(), "PK_KNIG_KNWA_0000.bmp");
  EXPECT_EQ(files.back(), "PK_KNIG_KNWA_0023.bmp");
  TBMPFile bmp = ReadBMPFile(Out + files[5]);
  EXPECT_EQ(bmp.BitsPerPixel, 32);
  EXPECT_EQ(bmp.Compression, 0u);
  EXPECT_EQ(bmp.Width, 64);
  EXPECT_EQ(bmp.Height, 48);
  EXPECT_EQ(bmp.FileSize, 54u + 64 * 48 * 4);
  // The corner is the default background 008033.
  EXPECT_EQ(std::vector<uint8_t>(bmp.RGB.begin(), bmp.RGB.begin() + 3),
            (std::vector<uint8_t>{0, 0x80, 0x33}));
}

TEST_F(RenderCommand, PNGsRepetitionsAndEveryAnimation) {
  auto r = RunCli({"render", Char, "KNIG.HRC", "--all", "--png", "--repeat", "2", "--out", Out,
                   "--size", "32x24", "--background", "FF0000"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  std::vector<std::string> files = Files();
  ASSERT_EQ(files.size(), 96u); // two animations of 24 frames, twice each
  EXPECT_EQ(files[0], "PK_KNIG_KNWA_0000.png");
  EXPECT_EQ(files[47], "PK_KNIG_KNWA_0047.png");
  EXPECT_EQ(files[48], "PK_KNIG_KNWV_0000.png");
  TPNGFile png = ReadPNGFile(Out + files[3]);
  EXPECT_EQ(png.ColourType, 2);
  EXPECT_EQ(png.BitDepth, 8);
  EXPECT_EQ(png.Interlace, 0);
  EXPECT_EQ(png.Width, 32u);
  EXPECT_EQ(std::vector<uint8_t>(png.RGBA.begin(), png.RGBA.begin() + 3),
            (std::vector<uint8_t>{255, 0, 0}));
  for (const std::string& type : PNGChunkTypes(Out + files[3]))
    EXPECT_TRUE(type == "IHDR" || type == "IDAT" || type == "IEND") << type;

  // The filter narrows --all; battle animations are numbered and show frame 0 again last.
  std::filesystem::remove_all(Dir.File("out"));
  std::filesystem::create_directory(Dir.File("out"));
  EXPECT_EQ(RunCli({"render", Char, "knig.hrc", "--all", "--filter", Dir.File("only.filter"),
                    "--out", Out, "--size", "16x16"})
                .ExitCode,
            0);
  EXPECT_EQ(Files().size(), 24u);
  EXPECT_EQ(Files().front(), "PK_KNIG_KNWV_0000.bmp");
  std::filesystem::remove_all(Dir.File("out"));
  std::filesystem::create_directory(Dir.File("out"));
  EXPECT_EQ(RunCli({"render", Battle, "rt", "2", "--out", Out, "--size", "16x16"}).ExitCode, 0);
  files = Files();
  ASSERT_EQ(files.size(), 21u); // 20 frames and frame 0 again
  EXPECT_EQ(files.front(), "PK_[Battle] RTAA_A002_0000.bmp");
  EXPECT_EQ(ReadBMPFile(Out + files.front()).RGB, ReadBMPFile(Out + files.back()).RGB);
}

TEST_F(RenderCommand, BadRequestsFailWithoutWritingAnything) {
  palkor::testing::ExpectFailures({
      {{"render", Char, "none.hrc", "knwa.a", "--out", Out}, "no model named none.hrc"},
      {{"render", Char, "knig.hrc", "none.a", "--out", Out},
       "List index out of bounds (-1): none.a is not in the archive"},
      {{"render", Battle, "rt", "3", "--out", Out}, "no animation 3: the model has 2"},
      {{"render", Battle, "qq", "1", "--out", Out},
       "ARRRGH! aa reality failure!: QQAA is not in the archive"},
      {{"render", Char, "knig.hrc", "knwa.a", "--out", Dir.File("none") + "/"},
       "Cannot create file \"" + Dir.File("none") +
           "/PK_KNIG_KNWA_0000.bmp\". No such file or directory"},
  });
  EXPECT_TRUE(Files().empty());
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"render", Char, "knig.hrc", "--out", Out},
           {"render", Char, "knig.hrc", "knwa.a", "--out", Out, "--size", "0x10"},
           {"render", Char, "knig.hrc", "knwa.a", "--out", Out, "--repeat", "51"},
           {"render", Char, "knig.hrc", "knwa.a", "--out", Out, "--inc", "0,360,0"},
           {"render", Char, "knig.hrc", "knwa.a", "--out", Out, "--zoom", "101"},
           {"render", Char, "knig.hrc", "knwa.a", "--out", Out, "--background", "12345"},
           {"render", Char, "knig.hrc", "knwa.a"}}) {
    EXPECT_EQ(RunCli(args).ExitCode, 2) << args.back();
  }
  EXPECT_TRUE(Files().empty());
}
