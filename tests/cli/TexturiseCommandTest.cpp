#include "tests/cli/CliRunner.h"

#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"
#include "texturiser/pedit.h"

#include <gtest/gtest.h>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::RunCli;

namespace {

class TexturiseCommand : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string PFile = Dir.File("part.p");
  std::string Original;

  void SetUp() override {
    TPFixture p;
    p.Vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    p.Polys = {{0, 1, 2}};
    p.Groups = {{1, 0, 1, 0, 0, 0, 0}, {1, 0, 1, 0, 0, 0, 0}};
    Original = BuildP(p);
    WriteFile(PFile, Original);
  }
};

} // namespace

TEST_F(TexturiseCommand, AppliesTheEditsInOrderAndSavesOnce) {
  auto r = RunCli({"texturise", PFile, "list", "add-tex-data", "set-uv", "2", "-0.5", "0.25",
                   "texture-on", "2", "no-normals", "list"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "Group 1\nGroup 2\n(Unsuitable)\n"
            "Group 1\nGroup 2\nVert 1 - 0.00/1.00\nVert 2 - -0.50/0.25\nVert 3 - 0.00/1.00\n");
  TPFileImage saved;
  saved.Load(ReadFileBytes(PFile));
  EXPECT_EQ(saved.Bytes().size(), Original.size() + 24);
  TFF7PPart part = saved.Part();
  EXPECT_EQ(part.TexCoords[1].U, -0.5f);
  EXPECT_EQ(part.Groups[1].PrimType, 3);
  EXPECT_EQ(part.Groups[1].TexFlag, 1);
  EXPECT_EQ(part.Groups[0].TexFlag, 0);
  EXPECT_EQ(RunCli({"texturise", PFile, "texture-off", "2", "list"}).Out,
            "Group 1\nGroup 2\nVert 1 - 0.00/1.00\nVert 2 - -0.50/0.25\nVert 3 - 0.00/1.00\n");
  saved.Load(ReadFileBytes(PFile));
  EXPECT_EQ(saved.Part().Groups[1].PrimType, 1);
}

TEST_F(TexturiseCommand, AGroupCountBeyondTheFileIsRefusedAtOnce) {
  // A small P file whose header claims 100,000,000 groups: the group list would take
  // gigabytes and the better part of a minute.
  std::string claimed = Original;
  PutU32LE(reinterpret_cast<uint8_t*>(claimed.data()) + 52, 100000000);
  WriteFile(PFile, claimed);
  const std::string cut = "Stream read error: \"" + PFile + "\" ends before the data it describes";
  palkor::testing::ExpectFailures({
      {{"texturise", PFile, "list"}, cut},
      {{"texturise", PFile, "texture-on", "1", "normals"}, cut},
      {{"texturise", PFile, "texture-off", "99999999"}, cut},
  });
  EXPECT_EQ(ReadFileBytes(PFile), claimed);
}

TEST_F(TexturiseCommand, AFailingEditLeavesTheFileAsItWas) {
  palkor::testing::ExpectFailures({
      {{"texturise", PFile, "set-uv", "1", "0", "0"},
       "The part has no texture coordinates (Unsuitable)"},
      {{"texturise", PFile, "add-tex-data", "set-uv", "4", "0", "0"}, "no row 4: the list has 3"},
      {{"texturise", PFile, "add-tex-data", "texture-on", "3", "normals"},
       "no group 3: the list has 2"},
      {{"texturise", PFile, "add-tex-data", "set-uv", "1", "0,5", "0"},
       "'0,5' is not a valid floating point value"},
      {{"texturise", PFile, "add-tex-data", "add-tex-data"}, "This part already has texture data"},
      {{"texturise", Dir.File("none.p"), "list"},
       "Cannot open file \"" + Dir.File("none.p") + "\". No such file or directory"},
  });
  EXPECT_EQ(ReadFileBytes(PFile), Original);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"texturise", PFile, "frob"},
           {"texturise", PFile, "add-tex-data", "set-uv", "1", "0"},
           {"texturise", PFile, "texture-on", "1", "maybe"}}) {
    EXPECT_EQ(RunCli(args).ExitCode, 2) << args.back();
  }
  EXPECT_EQ(ReadFileBytes(PFile), Original);
}
