#include "tests/cli/CliRunner.h"

#include "fixtures/BattleWriters.h"
#include "fixtures/Demo.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "fixtures/TexWriter.h"

#include "archive/LGPFile.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <sys/wait.h>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::RunCli;

namespace {

class BattleCommand : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Lgp = Dir.File("battle.lgp");

  void SetUp() override {
    TLGPFixture lgp;
    TPFixture part;
    part.AddBox(0, 0, 0, 1, 1, 1, {255, 0, 0, 255});
    TBattleAnimFixture anim;
    anim.Frames = {{0, 0, 0, {{1024, 0, 4095}, {0, 2048, 7}}},
                   {-3, 100, 5, {{1030, 4000, 1}, {0, 2048, 7}}}};
    lgp.Add("xyaa", BuildBattleSkeleton({{-1, 2.5f, true}, {0, 0.5f, false}}));
    lgp.Add("xyab", "").Add("xyac", BuildOneColourTEX(3, 2, 1)).Add("xyam", BuildP(part));
    lgp.Add("xyda", BuildBattleAnimations({EncodeBattleAnimation(anim)}));
    lgp.Add("zzaa", BuildBattleSkeleton({})).Add("zzab", "").Add("zzam", "");
    lgp.Add("zzda", BuildBattleAnimations({"\x01\0\0\0"}));
    // Three records, the middle one claiming more rotations than its bits hold.
    TBattleAnimFixture claims = anim;
    claims.RotationCountOverride = 1000;
    lgp.Add("uuaa", BuildBattleSkeleton({})).Add("uuab", "").Add("uuam", "");
    lgp.Add("uuda",
            BuildBattleAnimations({EncodeBattleAnimation(anim), EncodeBattleAnimation(claims),
                                   EncodeBattleAnimation(anim)}));
    // Frames that end early, and an animations member that runs past the archive's end.
    anim.TruncateBits = 20;
    lgp.Add("wwaa", BuildBattleSkeleton({})).Add("wwab", "").Add("wwam", "");
    lgp.Add("wwda", BuildBattleAnimations({EncodeBattleAnimation(anim)}));
    lgp.Add("vvaa", BuildBattleSkeleton({})).Add("vvab", "").Add("vvam", "");
    lgp.Add("vvda", "").Members.back().HeaderSize = 1 << 20;
    WriteFile(Lgp, BuildLGP(lgp));
  }
};

} // namespace

TEST_F(BattleCommand, PrintsTheSkeletonTexturesAndAnimations) {
  const std::string summary = "bones\t2\nbone\t0\t-1\t2.5\t1\nbone\t1\t0\t0.5\t0\n"
                              "textures\t1\npolytotal\t12\nanims\t1\n";
  auto r = RunCli({"battle", Lgp, "XY"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, summary + "anim\t0\t2\t2\n");
  auto frames = RunCli({"battle", Lgp, "xy", "--frames"});
  EXPECT_EQ(frames.ExitCode, 0) << frames.Err;
  EXPECT_EQ(frames.Out, summary + "anim\t0\t2\t2\n"
                                  "frame\t0\t0\t0\t0\t1024 0 4095 0 2048 7\n"
                                  "frame\t1\t-3\t100\t5\t1030 4000 1 0 2048 7\n");
}

TEST_F(BattleCommand, AFolderOfMembersPrintsAsTheArchiveDoes) {
  const std::string folder = Dir.File("battle");
  std::filesystem::create_directory(folder);
  auto archive = TLGPFile::Create(Lgp, false);
  for (int32_t i = 0; i < archive->Count(); ++i)
    if (archive->EntryAt(i).Name.starts_with("xy"))
      WriteFile(folder + "/" + archive->EntryAt(i).Name,
                std::string(archive->ReadMemberToMemory(i)->View()));
  auto fromFolder = RunCli({"battle", folder, "xy", "--frames"});
  EXPECT_EQ(fromFolder.ExitCode, 0) << fromFolder.Err;
  EXPECT_EQ(fromFolder.Out, RunCli({"battle", Lgp, "xy", "--frames"}).Out);
  EXPECT_NE(fromFolder.Out.find("frame\t1\t"), std::string::npos);
}

TEST_F(BattleCommand, ShowsTheDemoGolem) {
  std::string demo = Dir.File("demo-battle.lgp");
  WriteFile(demo, BuildLGP(BuildDemoBattleArchive()));
  auto r = RunCli({"battle", demo, "rt"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Out.find("bones\t10\n"), std::string::npos);
  EXPECT_NE(r.Out.find("textures\t2\n"), std::string::npos);
  EXPECT_NE(r.Out.find("anims\t2\n"), std::string::npos);
}

TEST_F(BattleCommand, BrokenModelsFailWithOneLine) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"battle", Lgp, "qq"}, "ARRRGH! aa reality failure!: QQAA is not in the archive"},
      {{"battle", Lgp, "zz"}, "Stream read error: ZZDA ends before the data it describes"},
      // Every frame is checked before anything is printed.
      {{"battle", Lgp, "ww", "--frames"},
       "Stream read error: WWDA ends before the data it describes"},
      {{"battle", Lgp, "ww"}, "Stream read error: WWDA ends before the data it describes"},
      {{"battle", Lgp, "uu"}, "Stream read error: UUDA ends before the data it describes"},
      {{"battle", Lgp, "vv", "--frames"},
       "Stream read error: vvda runs past the end of \"" + Lgp + "\""},
      {{"battle", Dir.File("none.lgp"), "xy"},
       "Cannot open file \"" + Dir.File("none.lgp") + "\". No such file or directory"},
  };
  palkor::testing::ExpectFailures({std::begin(cases), std::end(cases)});
  EXPECT_EQ(RunCli({"battle", Lgp, "xya"}).ExitCode, 2);
}

TEST_F(BattleCommand, FramesThatCannotBeWrittenFailWithOneLine) {
  // More frames than fit the output buffer, into a device that is always full.
  TBattleAnimFixture anim;
  for (int f = 0; f < 4000; ++f)
    anim.Frames.push_back({0, 0, 0, {{int16_t(f % 4096), 0, 7}, {0, 2048, 7}}});
  TLGPFixture lgp;
  lgp.Add("xyaa", BuildBattleSkeleton({{-1, 2.5f, false}, {0, 0.5f, false}})).Add("xyab", "");
  lgp.Add("xyam", "").Add("xyda", BuildBattleAnimations({EncodeBattleAnimation(anim)}));
  WriteFile(Lgp, BuildLGP(lgp));
  const std::string err = Dir.File("err.txt");
  const int status = std::system(
      (std::string(PALKOR_CLI) + " battle " + Lgp + " xy --frames > /dev/full 2> " + err).c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(
      ReadFileBytes(err),
      "palkor-cli: Stream write error: no space left on the device writing standard output\n");
}
