#include "tests/cli/CliRunner.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/PNGReader.h"
#include "fixtures/TempDir.h"
#include "fixtures/TexWriter.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::RunCli;

namespace {

// 3x2, colour-keyed: index 0 transparent, index 1 a colour, index 5 beyond the palette.
TTexFixture Keyed3x2() {
  TTexFixture f;
  f.Width = 3;
  f.Height = 2;
  f.ColourKey = 1;
  f.Palette = {{1, 2, 3, 4}, {0x10, 0x20, 0x30, 0}, {0xFF, 0x80, 0x00, 0}};
  f.Indices = {1, 2, 0, 2, 5, 1};
  return f;
}

} // namespace

TEST(TexCommand, WritesTheDecodedTextureAsAnRGBAPNGTopRowFirst) {
  TTempDir dir;
  std::string tex = dir.File("abcd.tex"), png = dir.File("abcd.png");
  WriteFile(tex, BuildTEX(Keyed3x2()));
  WriteFile(png, "replaced");
  auto r = RunCli({"tex", tex, png});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err, "");
  TPNGFile file = ReadPNGFile(png);
  EXPECT_EQ(file.Width, 3u);
  EXPECT_EQ(file.Height, 2u);
  EXPECT_EQ(file.BitDepth, 8);
  EXPECT_EQ(file.ColourType, 6);
  EXPECT_EQ(file.RGBA, (std::vector<uint8_t>{0x30, 0x20, 0x10, 255, 0x00, 0x80, 0xFF, 255,
                                             0,    0,    0,    0,   0x00, 0x80, 0xFF, 255,
                                             0,    0,    0,    255, 0x30, 0x20, 0x10, 255}));

  TTexFixture direct;
  direct.Width = 2;
  direct.Height = 1;
  direct.Direct = {0x7C00, 0x0421};
  WriteFile(tex, BuildTEX(direct));
  ASSERT_EQ(RunCli({"tex", tex, png}).ExitCode, 0);
  EXPECT_EQ(ReadPNGFile(png).RGBA, (std::vector<uint8_t>{0, 0, 255, 255, 8, 8, 8, 255}));
}

TEST(TexCommand, FailuresPrintOneLineExitOneAndWriteNothing) {
  TTempDir dir;
  std::string tex = dir.File("bad.tex"), png = dir.File("out.png");
  TTexFixture truncated = Keyed3x2();
  truncated.TruncateAt = 236 + 12 + 3;
  TTexFixture tooMany = Keyed3x2();
  tooMany.CountOverride = 300;
  TTexFixture empty = Keyed3x2();
  empty.WidthOverride = 0;

  const struct {
    const char* Name;
    std::string Bytes; // empty: no TEX file at all
    std::string Error;
  } cases[] = {
      {"missing", "", "palkor-cli: Cannot open file \"" + tex + "\". No such file or directory\n"},
      {"truncated", BuildTEX(truncated), "palkor-cli: Stream read error\n"},
      {"palette too large", BuildTEX(tooMany),
       "palkor-cli: Invalid palette count 300 in TEX file\n"},
      {"empty image", BuildTEX(empty), "palkor-cli: Cannot write an image of 0x0 pixels\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::remove(tex.c_str());
    if (!c.Bytes.empty()) WriteFile(tex, c.Bytes);
    auto r = RunCli({"tex", tex, png});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, c.Error);
    EXPECT_FALSE(FileExists(png));
  }
  EXPECT_EQ(RunCli({"tex", tex}).ExitCode, 2);
}
