// thumbnails and contact-sheet end to end: the files written, a model that fails, and the
// sheet's grid and labels found by their pixels.
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

// The demo archives, the field archive with a third model (BRKN.HRC) that cannot be
// built.
class ThumbnailCommands : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Char = Dir.File("char.lgp"), Battle = Dir.File("battle.lgp"),
              Filter = Dir.File("palkor.filter");

  void SetUp() override {
    WriteFile(Char, BuildLGP(BuildBrokenDemoFieldArchive()));
    WriteFile(Battle, BuildLGP(BuildDemoBattleArchive()));
    WriteFile(Filter, DemoFilterText());
  }

  static std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static const uint8_t* Pixel(const TPNGFile& png, int64_t x, int64_t y) {
    return &png.RGBA[(size_t(y) * png.Width + size_t(x)) * 4];
  }
  // The pixels of a rectangle that satisfy is.
  template <typename F>
  static int64_t Count(const TPNGFile& png, int64_t left, int64_t top, int64_t width,
                       int64_t height, F is) {
    int64_t count = 0;
    for (int64_t y = top; y < top + height; ++y)
      for (int64_t x = left; x < left + width; ++x) count += is(Pixel(png, x, y));
    return count;
  }
};

} // namespace

// Every model that can be drawn gets its file, whatever the jobs; the one that cannot
// is said on standard error and makes the run fail at its end.
TEST_F(ThumbnailCommands, ThumbnailsOfEveryModelAndAFailure) {
  const std::string one = Dir.File("one"), two = Dir.File("two/deeper");
  auto r = RunCli({"thumbnails", Char, one, "--size", "48", "--jobs", "1"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err,
            "palkor-cli: BRKN: Stream read error: BRAA.P ends before the data it describes\n");
  EXPECT_EQ(Files(one), (std::vector<std::string>{"HOUN.png", "KNIG.png"}));
  r = RunCli({"thumbnails", Char, two, "--size", "48", "--jobs", "2"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err,
            "palkor-cli: BRKN: Stream read error: BRAA.P ends before the data it describes\n");
  for (const char* name : {"HOUN.png", "KNIG.png"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadFileBytes(one + "/" + name), ReadFileBytes(two + "/" + name));
    const TPNGFile png = ReadPNGFile(one + "/" + name);
    EXPECT_EQ(png.ColourType, 6);
    EXPECT_EQ(png.Width, 48u);
    EXPECT_EQ(png.Height, 48u);
    // A transparent square with the model in its middle.
    EXPECT_EQ(Pixel(png, 0, 0)[3], 0);
    EXPECT_EQ(Pixel(png, 47, 47)[3], 0);
    EXPECT_GT(Count(png, 12, 12, 24, 24, [](const uint8_t* p) { return p[3] == 255; }), 100);
  }

  r = RunCli({"thumbnails", Battle, one});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(ReadPNGFile(one + "/RT.png").Width, 128u);
}

TEST_F(ThumbnailCommands, WrongUsageAndFailures) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"thumbnails", Char},
        {"thumbnails", Char, "o", "--size", "8"},
        {"thumbnails", Char, "o", "--jobs", "0"},
        {"contact-sheet", Char, "o.png", "--columns", "0"},
        {"contact-sheet", Char, "o.png", "--size", "5000"}}) {
    auto r = RunCli(args);
    EXPECT_EQ(r.ExitCode, 2) << args[2];
  }
  WriteFile(Dir.File("file"), "x");
  palkor::testing::ExpectFailures(
      {{{"thumbnails", Dir.File("missing.lgp"), Dir.File("o")},
        "Cannot open file \"" + Dir.File("missing.lgp") + "\". No such file or directory"},
       {{"thumbnails", Battle, Dir.File("file")},
        "Cannot create folder \"" + Dir.File("file") + "\". Not a directory"}});
}

// The sheet: a grid of two columns (about as many as rows) of light squares with each
// model in its own, and under each its member name and display name; the model that
// failed is a square crossed in red.
TEST_F(ThumbnailCommands, ContactSheetGridAndLabels) {
  const std::string out = Dir.File("sheet.png");
  auto r = RunCli({"contact-sheet", Char, out, "--size", "96", "--filter", Filter});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err,
            "palkor-cli: BRKN: Stream read error: BRAA.P ends before the data it describes\n");
  const TPNGFile png = ReadPNGFile(out);
  // Squares of 96 with 8 pixels around each, and a margin of 8 about the sheet.
  constexpr int64_t size = 96, pad = 8, cellWidth = size + 2 * pad;
  ASSERT_EQ(png.Width, uint32_t(2 * cellWidth + 2 * pad));
  const int64_t cellHeight = (int64_t(png.Height) - 2 * pad) / 2;
  const int64_t lineHeight = (cellHeight - cellWidth) / 2;
  ASSERT_GT(lineHeight, 8);
  auto light = [](const uint8_t* p) { return p[0] == 232 && p[1] == 232 && p[2] == 232; };
  auto red = [](const uint8_t* p) { return p[0] > 180 && p[1] < 40 && p[2] < 40; };
  auto ink = [](const uint8_t* p) { return p[0] < 160 && p[1] < 160 && p[2] < 160; };
  auto white = [](const uint8_t* p) { return p[0] == 255 && p[1] == 255 && p[2] == 255; };
  // KNIG, HOUN, then BRKN in the second row; the fourth cell is empty page.
  for (int64_t cell = 0; cell < 4; ++cell) {
    SCOPED_TRACE(cell);
    const int64_t left = pad + (cell % 2) * cellWidth + pad,
                  top = pad + (cell / 2) * cellHeight + pad;
    const int64_t square = size * size;
    const int64_t lights = Count(png, left, top, size, size, light);
    const int64_t reds = Count(png, left, top, size, size, red);
    const int64_t labels =
        Count(png, left - pad / 2, top + size + pad / 2, cellWidth - pad, 2 * lineHeight, ink);
    // The page between the cells stays white.
    EXPECT_EQ(Count(png, left - pad, top - pad, cellWidth, pad, white), cellWidth * pad);
    if (cell < 2) {
      EXPECT_GT(lights, square / 4);
      EXPECT_LT(lights, square * 9 / 10); // the model covers the rest
      EXPECT_EQ(reds, 0);
      EXPECT_GT(labels, 40);
    } else if (cell == 2) {
      EXPECT_GT(reds, 3 * size);
      EXPECT_EQ(lights, 0);
      EXPECT_GT(labels, 40);
    } else {
      EXPECT_EQ(Count(png, left, top, size, size, white), square);
      EXPECT_EQ(labels, 0);
    }
  }
  // The knight's labels are two lines: its member name, and the names the filter gives.
  const int64_t left = 2 * pad - pad / 2, top = 2 * pad + size + pad / 2;
  EXPECT_GT(Count(png, left, top, cellWidth - pad, lineHeight, ink), 20);
  EXPECT_GT(Count(png, left, top + lineHeight, cellWidth - pad, lineHeight, ink), 20);

  // The battle archive alone: one cell, nothing failed.
  r = RunCli({"contact-sheet", Battle, out, "--size", "64", "--jobs", "1"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(ReadPNGFile(out).Width, uint32_t(64 + 4 * 5));
}
