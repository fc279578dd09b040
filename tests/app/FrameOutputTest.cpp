#include "app/frameoutput.h"

#include "fixtures/PNGReader.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace palkor;
using namespace palkor::fixtures;

TEST(FrameOutput, FileNamesFromTheModelAndAnimation) {
  TModelRef model;
  model.Member = "knig.hrc";
  model.Skeleton = "x.hrc";
  EXPECT_EQ(FrameModelPart(model), "knig");
  model.Kind = TModelKind::Battle;
  model.Member = "xyaa";
  EXPECT_EQ(FrameModelPart(model), "[Battle] XYAA");
  EXPECT_EQ(FrameModelPart(TModelRef::OfBattleCode("xy")), "[Battle] XYAA");
  EXPECT_EQ(FrameAnimPart("ABCD.A", false, 7), "ABCD");
  EXPECT_EQ(FrameAnimPart("AB", false, 0), "AB");
  EXPECT_EQ(FrameAnimPart("Animation 2", true, 1), "A002");
  EXPECT_EQ(FrameFileName("/out/", "AAAA", "ABCD", 29, false), "/out/PK_AAAA_ABCD_0029.bmp");
  EXPECT_EQ(FrameFileName("/out", "AAAA", "ABCD", 0, true), "/outPK_AAAA_ABCD_0000.png");
  EXPECT_EQ(FrameFileName("", "M", "A", 12345, true), "PK_M_A_12345.png");
}

namespace {

// A 2 x 1 picture whose pixels record the view and frame it was taken at.
struct TRecordingTarget : TFrameTarget {
  int32_t X = -1, Y = -1, Z = -1, Frame = -1;
  std::vector<std::array<int32_t, 4>> Shots;
  void SetView(int32_t x, int32_t y, int32_t z) override { X = x, Y = y, Z = z; }
  void ShowFrame(int32_t frame) override { Frame = frame; }
  std::vector<uint8_t> Capture(int32_t& width, int32_t& height) override {
    Shots.push_back({X, Y, Z, Frame});
    width = 2;
    height = 1;
    return {uint8_t(X / 2), uint8_t(Y / 2), uint8_t(Z / 2), uint8_t(Frame), 0, 0};
  }
};

} // namespace

TEST(FrameOutput, PassesRepeatAndTurnTheViewAfterEachFrame) {
  TTempDir dir;
  TRecordingTarget target;
  TFrameOutputOptions options;
  options.Prefix = dir.Path() + "/";
  options.Repeat = 2;
  options.IncX = 10;
  options.IncZ = 350;
  EXPECT_EQ(RenderAnimationFrames(target, options, "AAAA", "ABCD", 35), 72);
  ASSERT_EQ(target.Shots.size(), 72u);
  EXPECT_EQ(target.Shots[0], (std::array<int32_t, 4>{0, 0, 0, 0}));      // the view as it was
  EXPECT_EQ(target.Shots[35], (std::array<int32_t, 4>{350, 0, 10, 35})); // nearly a circle
  EXPECT_EQ(target.Shots[36], (std::array<int32_t, 4>{0, 0, 0, 0}));     // the second pass
  EXPECT_TRUE(FileExists(dir.File("PK_AAAA_ABCD_0071.bmp")));
  EXPECT_FALSE(FileExists(dir.File("PK_AAAA_ABCD_0072.bmp")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 72);
  TBMPFile bmp = ReadBMPFile(dir.File("PK_AAAA_ABCD_0001.bmp"));
  EXPECT_EQ(bmp.Width, 2);
  EXPECT_EQ(bmp.RGB[0], 5);   // X 10 / 2
  EXPECT_EQ(bmp.RGB[2], 175); // Z 350 / 2

  // A view turned before the run is the first image's; the turns go on from it.
  target.Shots.clear();
  options.Repeat = 1;
  options.StartX = 30;
  options.StartY = 355;
  options.IncY = 10;
  options.IncZ = 0;
  RenderAnimationFrames(target, options, "AAAA", "ABCD", 1);
  EXPECT_EQ(target.Shots, (std::vector<std::array<int32_t, 4>>{{30, 355, 0, 0}, {40, 5, 0, 1}}));
  options.StartX = options.StartY = options.IncY = 0;

  options.Png = true;
  options.Repeat = 1;
  RenderAnimationFrames(target, options, "AAAA", "ABCD", 0);
  TPNGFile png = ReadPNGFile(dir.File("PK_AAAA_ABCD_0000.png"));
  EXPECT_EQ(png.ColourType, 2);
}

TEST(FrameOutput, AFileThatCannotBeWrittenStopsTheRunAndKeepsTheImagesBefore) {
  TTempDir dir;
  std::filesystem::create_directory(dir.File("PK_M_A_0002.bmp")); // a folder in the way
  TRecordingTarget target;
  TFrameOutputOptions options;
  options.Prefix = dir.Path() + "/";
  EXPECT_EQ(palkor::testing::ErrorOf([&] { RenderAnimationFrames(target, options, "M", "A", 9); }),
            "Cannot create file \"" + dir.File("PK_M_A_0002.bmp") + "\". Is a directory");
  EXPECT_TRUE(FileExists(dir.File("PK_M_A_0001.bmp")));
  EXPECT_EQ(target.Shots.size(), 3u);
}

TEST(FrameOutput, PartsThatWouldPutTheFilesElsewhereAreRefusedBeforeDrawing) {
  TTempDir dir;
  std::filesystem::create_directory(dir.File("out"));
  TRecordingTarget target;
  TFrameOutputOptions options;
  options.Prefix = dir.File("out") + "/";
  const std::pair<std::string, std::string> parts[] = {
      {"M", "../A"}, // an animation name leading out of the folder
      {"/etc", "A"}, // a model name that is a path
      {"M\\N", "A"}, // a Windows folder separator
      {"M", ""},     // an empty name
  };
  for (const auto& [model, anim] : parts) {
    const std::string refused = model == "M" ? anim : model;
    EXPECT_EQ(
        palkor::testing::ErrorOf([&] { RenderAnimationFrames(target, options, model, anim, 3); }),
        "\"" + refused + "\" is not a plain file name");
  }
  EXPECT_TRUE(target.Shots.empty());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("out")), {}), 0);
}
