#include "tests/cli/CliRunner.h"

#include "fixtures/Demo.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::RunCli;

namespace {

std::string HRC(const std::string& skeleton, int bones) {
  return ":HEADER_BLOCK 2\r\n:SKELETON " + skeleton + "\r\n:BONES " + std::to_string(bones) +
         "\r\n";
}

std::string Anim(int32_t bones) {
  TAFixture a;
  a.HeaderBoneCount = bones;
  return BuildA(a);
}

class CatalogueCommands : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Lgp = Dir.File("char.lgp");
  std::string Filter = Dir.File("palkor.filter");

  void SetUp() override {
    TLGPFixture lgp;
    lgp.Add("aaaa.hrc", HRC("aaaa", 2)).Add("ABCD.A", Anim(2)).Add("bbbb.HRC", HRC("bbbb", 3));
    lgp.Add("efgh.a", Anim(2)).Add("XYZW.A", Anim(3)).Add("AAAA.P", "");
    WriteFile(Lgp, BuildLGP(lgp));
    WriteFile(Filter, "AAAAAnims=EFGH,\r\nAAAANames=First,Second,\r\n");
  }
};

} // namespace

TEST_F(CatalogueCommands, CataloguePrintsModelsThenAnimations) {
  auto r = RunCli({"catalogue", Lgp});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, "model\t00020000\taaaa.hrc - aaaa\nmodel\t00030002\tbbbb.HRC - bbbb\n"
                   "anim\t00020001\tABCD.A\nanim\t00020003\tefgh.a\nanim\t00030004\tXYZW.A\n");
  std::string battle = Dir.File("battle.lgp");
  WriteFile(battle, BuildLGP(BuildDemoBattleArchive()));
  EXPECT_EQ(RunCli({"catalogue", battle}).Out, "battle\t[Battle] RTAA\n");
  // The same members in a folder: a field archive whatever its name.
  std::string folder = Dir.File("loose");
  std::filesystem::create_directory(folder);
  WriteFile(folder + "/ONLY.HRC", HRC("only", 7));
  EXPECT_EQ(RunCli({"catalogue", folder}).Out, "model\t00070000\tONLY.HRC - only\n");
}

TEST_F(CatalogueCommands, AnimsAndDetailsWithAndWithoutTheFilter) {
  EXPECT_EQ(RunCli({"anims", Lgp, "AAAA.HRC"}).Out, "ABCD.A\nefgh.a\n");
  EXPECT_EQ(RunCli({"anims", Lgp, "aaaa.hrc", "--filter", Filter}).Out, "efgh.a\n");
  EXPECT_EQ(RunCli({"anims", Lgp, "bbbb.hrc", "--filter", Filter}).Out, "");
  EXPECT_EQ(RunCli({"details", Lgp, "aaaa.hrc"}).Out, "Number of bones: 2\n\nNames:\n");
  EXPECT_EQ(RunCli({"details", Lgp, "aaaa.hrc", "--filter", Filter}).Out,
            "Number of bones: 2\n\nNames:\n  First\n  Second\n");
}

TEST_F(CatalogueCommands, UnknownModelsAndMissingFilesFailWithOneLine) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"anims", Lgp, "none.hrc"}, "no model named none.hrc"},
      {{"details", Lgp, "ABCD.A"}, "no model named ABCD.A"},
      {{"anims", Lgp, "aaaa.hrc", "--filter", Dir.File("none.filter")},
       "Cannot open file \"" + Dir.File("none.filter") + "\". No such file or directory"},
      {{"catalogue", Dir.File("none.lgp")},
       "Cannot open file \"" + Dir.File("none.lgp") + "\". No such file or directory"},
  };
  palkor::testing::ExpectFailures({std::begin(cases), std::end(cases)});
}
