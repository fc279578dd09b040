#include "render/ViewerSession.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "fixtures/Demo.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"
#include "render/offscreen.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

constexpr int Width = 320, Height = 240;

// The demo archives, and a session drawing into a context of its own.
class ViewerSessionTest : public ::testing::Test {
protected:
  TTempDir Dir;
  TOffscreenContext Context{Width, Height};
  TViewerSession Session;

  void SetUp() override {
    WriteDemoFiles(Dir.Path());
    SetupScene();
    ResizeScene(Width, Height);
  }
  TArchiveKind Archive(const char* name) const { return {&TLGPFile::Class(), Dir.File(name)}; }
  std::vector<uint8_t> Picture() {
    Session.Paint();
    return Context.ReadPixelsRGB();
  }
  // Pixels that are not the default background.
  static size_t Drawn(const std::vector<uint8_t>& picture) {
    size_t count = 0;
    for (size_t i = 0; i + 2 < picture.size(); i += 3)
      count += !(picture[i] == 0 && picture[i + 1] == 128 && picture[i + 2] == 51);
    return count;
  }
};

} // namespace

TEST_F(ViewerSessionTest, AFieldModelIsShownAtItsFramesAsTheSceneDrawsIt) {
  Session.LoadFieldModel(Archive("char.lgp"), TModelRef::OfFieldMember("KNIG.HRC"), "KNWA.A");
  ASSERT_TRUE(Session.FieldModel() && !Session.BattleModel());
  EXPECT_EQ(Session.FrameCount(), 24);
  EXPECT_EQ(Session.LastFrame(), 23);
  EXPECT_EQ(Session.Frame(), 0);
  EXPECT_EQ(Session.Options.LastBone, Session.FieldModel()->BoneCount() - 1);
  EXPECT_EQ(Session.Archive().Path, Dir.File("char.lgp"));
  const std::vector<uint8_t> first = Picture();
  EXPECT_GT(Drawn(first), 500u);

  Session.SetFrame(12);
  EXPECT_EQ(Session.ShownFrame(), 12);
  const std::vector<uint8_t> middle = Picture();
  EXPECT_NE(middle, first);
  // The session's picture is the scene's: what the window paints for the same state.
  PaintScene(Session.SceneState());
  EXPECT_EQ(Context.ReadPixelsRGB(), middle);
  // A frame outside the animation is an error.
  EXPECT_EQ(palkor::testing::ErrorOf([&] { Session.SetFrame(24); }), "Stream read error");
  Session.SetFrame(12);
  EXPECT_EQ(Picture(), middle);

  Session.Clear();
  EXPECT_FALSE(Session.HasModel());
  EXPECT_EQ(Session.FrameCount(), 0);
  EXPECT_EQ(Drawn(Picture()), 0u);
}

TEST_F(ViewerSessionTest, ABattleModelShowsItsAnimationsAndWrapsItsFrames) {
  Session.LoadBattleModel(Archive("battle.lgp"), TModelRef::OfBattleCode("rt"));
  ASSERT_TRUE(Session.BattleModel() && !Session.FieldModel());
  EXPECT_EQ(Session.FrameCount(), 16);
  EXPECT_EQ(Session.LastFrame(), 16); // one past the last: frame 0 again
  Session.Camera.Zoom = 60;
  const std::vector<uint8_t> first = Picture();
  EXPECT_GT(Drawn(first), 500u);
  Session.SetFrame(16);
  EXPECT_EQ(Session.ShownFrame(), 0);
  EXPECT_EQ(Picture(), first);
  Session.SetFrame(9);
  EXPECT_NE(Picture(), first);

  Session.ChooseBattleAnimation(3); // two animations: the second
  EXPECT_EQ(Session.BattleAnimation(), 1);
  EXPECT_EQ(Session.Frame(), 0);
  EXPECT_EQ(Session.FrameCount(), 20);
  // Loading a field model lets the battle model go.
  Session.LoadFieldModel(Archive("char.lgp"), TModelRef::OfFieldMember("KNIG.HRC"), "KNWA.A");
  EXPECT_FALSE(Session.BattleModel());
  EXPECT_EQ(Session.BattleAnimation(), 0);
}

TEST_F(ViewerSessionTest, EveryPaintAppliesItsOptionsWhateverThePaintBeforeLeft) {
  Session.LoadFieldModel(Archive("char.lgp"), TModelRef::OfFieldMember("KNIG.HRC"), "KNWA.A");
  const std::vector<uint8_t> plain = Picture();
  for (bool TViewOptions::*option : {&TViewOptions::Wireframe, &TViewOptions::Lighting,
                                     &TViewOptions::Crosshairs, &TViewOptions::Bones}) {
    Session.Options.*option = true;
    const std::vector<uint8_t> switched = Picture();
    EXPECT_NE(switched, plain);
    Session.Options.*option = false;
    EXPECT_EQ(Picture(), plain);
  }
  Session.Options.Bodies = false;
  EXPECT_EQ(Drawn(Picture()), 0u);
}

TEST_F(ViewerSessionTest, FramingTheWholeModelFitsItInThePicture) {
  Session.LoadBattleModel(Archive("battle.lgp"), TModelRef::OfBattleCode("rt"));
  Session.Camera.Zoom = 100;
  Session.Camera.PanX = 40;
  const size_t far = Drawn(Picture());
  ASSERT_TRUE(Session.FrameWholeModel(double(Width) / Height, 0.9, {}, 0, 100));
  EXPECT_LT(Session.Camera.Zoom, 100);
  EXPECT_GT(Drawn(Picture()), 2 * far);
  // Nothing drawn: nothing to frame, and the camera stays.
  Session.Clear();
  const TViewCamera camera = Session.Camera;
  EXPECT_FALSE(Session.FrameWholeModel(double(Width) / Height, 0.9, {}, 0, 100));
  EXPECT_EQ(Session.Camera.Zoom, camera.Zoom);
  EXPECT_EQ(Session.Camera.PanX, camera.PanX);
}

TEST_F(ViewerSessionTest, AModelThatFailsToLoadLeavesNothingShown) {
  Session.LoadFieldModel(Archive("char.lgp"), TModelRef::OfFieldMember("KNIG.HRC"), "KNWA.A");
  WriteFile(Dir.File("broken.lgp"), BuildLGP(BuildBrokenDemoFieldArchive()));
  EXPECT_EQ(palkor::testing::ErrorOf(
                [&] { Session.LoadFieldModel(Archive("broken.lgp"), TModelRef::OfFieldMember("BRKN.HRC"), ""); }),
            "Stream read error: BRAA.P ends before the data it describes");
  EXPECT_FALSE(Session.HasModel());
  EXPECT_THROW(Session.LoadBattleModel(Archive("char.lgp"), TModelRef::OfBattleCode("zz")), Exception);
  EXPECT_FALSE(Session.HasModel());
  EXPECT_EQ(Drawn(Picture()), 0u);
}
