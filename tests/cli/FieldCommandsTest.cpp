#include "tests/cli/CliRunner.h"

#include "archive/LGPFile.h"
#include "fixtures/Demo.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::RunCli;

namespace {

class PoseCommand : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Lgp = Dir.File("char.lgp");

  void SetUp() override {
    TLGPFixture lgp;
    TModelPartFixture part;
    part.P.AddBox(0, 0, 0, 1, 1, 1, {255, 0, 0, 255});
    std::vector<TModelBoneFixture> bones{{"hip", "root", 2.5f, {part, part}},
                                         {"Chest", "hip", 0.1f, {}}};
    AddFieldModel(lgp, "SKEL", bones);
    lgp.Add("Walk.a",
            BuildAnimation(2, {{{1, 2, 3}, {4.5f, -0.1f, 0}}, {{10, 20, 30}, {0, 0, 360}}}));
    lgp.Add("BAD.HRC", ":HEADER_BLOCK 2\r\n:SKELETON bad\r\n:BONES 1\r\nnot empty\r\n");
    WriteFile(Lgp, BuildLGP(lgp));
  }
};

} // namespace

TEST_F(PoseCommand, PrintsEveryBonePosedAtTheFrame) {
  auto r = RunCli({"pose", Lgp, "skel.hrc", "WALK.A"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(r.Out, "frames\t2\n"
                   "0\t-1\t0\t0\t0\t0\t0\troot\n"
                   "1\t0\t2.5\t1\t2\t3\t2\thip\n"
                   "2\t1\t0.1\t4.5\t-0.1\t0\t0\tChest\n");
  auto second = RunCli({"pose", Lgp, "SKEL.HRC", "walk.a", "--frame", "1"});
  EXPECT_EQ(second.ExitCode, 0) << second.Err;
  EXPECT_EQ(second.Out, "frames\t2\n"
                        "0\t-1\t0\t0\t0\t0\t0\troot\n"
                        "1\t0\t2.5\t10\t20\t30\t2\thip\n"
                        "2\t1\t0.1\t0\t0\t360\t0\tChest\n");
}

TEST_F(PoseCommand, WorksOnTheDemoArchiveAndOnAFolder) {
  std::string demo = Dir.File("demo.lgp");
  WriteFile(demo, BuildLGP(BuildDemoFieldArchive()));
  auto knight = RunCli({"pose", demo, "knig.hrc", "knwv.a", "--frame", "23"});
  EXPECT_EQ(knight.ExitCode, 0) << knight.Err;
  EXPECT_EQ(knight.Out.substr(0, knight.Out.find('\n')), "frames\t24");
  EXPECT_NE(knight.Out.find("\thead\n"), std::string::npos);

  std::string folder = Dir.File("loose");
  std::filesystem::create_directory(folder);
  auto archive = TLGPFile::Create(Lgp, false);
  for (int32_t i = 0; i < archive->Count(); ++i)
    WriteFile(folder + "/" + archive->GetEntry(i).Name,
              std::string(archive->ReadMemberToMemory(i)->View()));
  EXPECT_EQ(RunCli({"pose", folder, "skel.hrc", "walk.a"}).Out,
            RunCli({"pose", Lgp, "skel.hrc", "walk.a"}).Out);
}

TEST_F(PoseCommand, BadModelsAndFramesFailWithOneLine) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"pose", Lgp, "bad.hrc", "walk.a"},
       "HRC fail: bad.hrc has a bone that does not begin with an empty line"},
      {{"pose", Lgp, "none.hrc", "walk.a"},
       "List index out of bounds (-1): none.hrc is not in the archive"},
      {{"pose", Lgp, "skel.hrc", "none.a"},
       "List index out of bounds (-1): none.a is not in the archive"},
      {{"pose", Lgp, "skel.hrc", "walk.a", "--frame", "2"},
       "Frame 2 is outside the animation (2 frames)"},
      {{"pose", Dir.File("missing.lgp"), "skel.hrc", "walk.a"},
       "Cannot open file \"" + Dir.File("missing.lgp") + "\". No such file or directory"},
  };
  palkor::testing::ExpectFailures({std::begin(cases), std::end(cases)});
  auto negative = RunCli({"pose", Lgp, "skel.hrc", "walk.a", "--frame", "-1"});
  EXPECT_EQ(negative.ExitCode, 2);
}
