// The viewer's picture drawn headless and read back: background, floor and mirror image.
#include "render/scene.h"

#include "battle/FF7Battle.h"
#include "field/ff73d.h"
#include "fixtures/BattleWriters.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "render/offscreen.h"

#include <gtest/gtest.h>

#include <GL/glu.h>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

using TColour = std::array<int, 3>;
const TColour Background{0, 128, 51};

class SceneTest : public ::testing::Test {
protected:
  TOffscreenContext Context{640, 480};
  TTempDir Dir;
  TSceneState State;

  void SetUp() override {
    SetupScene();
    ResizeScene(640, 480);
  }

  // A field model of one bone carrying a box centred at world (x, y, z) with the given
  // half height (the model stands with its root 15 above the floor).
  std::unique_ptr<TFF7Model> BoxModel(float x, float y, float z, float height) {
    TModelPartFixture part;
    part.P.AddBox(-x, -(y - 15), -z, 4, height, 4, {255, 0, 0, 255});
    for (auto& c : part.P.VertexColours) c = {255, 0, 0, 255};
    TLGPFixture lgp;
    std::string hrc = AddFieldModel(lgp, "SCEN", {{"b", "root", 0, {part}}});
    lgp.Add("SCEN.A", BuildAnimation(1, {{{0, 0, 0}}}));
    WriteFile(Dir.File("char.lgp"), BuildLGP(lgp));
    auto archive = TLGPFile::Create(Dir.File("char.lgp"), false);
    return std::make_unique<TFF7Model>(*archive, hrc, "SCEN.A");
  }

  // The colour where world point (x, y, z) lands, seen by the scene's camera.
  TColour At(double x, double y, double z) {
    std::vector<uint8_t> pixels = Context.ReadPixelsRGB();
    GLdouble model[16], projection[16];
    GLint viewport[4];
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(0, 20, State.Zoom, 0, 20, 0, 0, 1, 0);
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLdouble wx, wy, wz;
    gluProject(x, y, z, model, projection, viewport, &wx, &wy, &wz);
    int column = int(wx), row = 479 - int(wy);
    EXPECT_TRUE(column >= 0 && column < 640 && row >= 0 && row < 480) << x << "," << y << "," << z;
    const uint8_t* p =
        &pixels[size_t(std::clamp(row, 0, 479) * 640 + std::clamp(column, 0, 639)) * 3];
    return {p[0], p[1], p[2]};
  }
};

bool Reddish(TColour c) {
  return c[0] > 100 && c[0] > c[1] + 40 && c[0] > c[2] + 40;
}

} // namespace

TEST_F(SceneTest, AnEmptySceneShowsTheBackgroundColour) {
  PaintScene(State);
  EXPECT_EQ(At(0, 20, 0), Background);
  State.BackColour = 0x0000FF; // red in the 0x00BBGGRR layout
  PaintScene(State);
  EXPECT_EQ(At(0, 20, 0), (TColour{255, 0, 0}));
}

TEST_F(SceneTest, ReflectionsDrawTheFloorAndTheMirrorImageOfFieldModels) {
  auto model = BoxModel(0, 4, 0, 4); // a box from 2 to 6 above the floor
  State.FieldModel = model.get();
  PaintScene(State);
  EXPECT_TRUE(Reddish(At(0, 4, 0)));
  EXPECT_EQ(At(0, -4, 0), Background); // no floor, no image
  EXPECT_EQ(At(15, 0, 0), Background);

  State.Reflections = true;
  PaintScene(State);
  EXPECT_TRUE(Reddish(At(0, 4, 0)));
  TColour mirror = At(0, -4, 0), floor = At(15, 0, 0);
  EXPECT_TRUE(Reddish(mirror)) << ::testing::PrintToString(mirror);
  EXPECT_NE(floor, Background);            // the grey floor blended over the background
  EXPECT_NE(mirror, (TColour{255, 0, 0})); // the image is seen through the floor
}

TEST_F(SceneTest, WithReflectionsNothingShowsBelowTheFloorOutsideIt) {
  auto model = BoxModel(0, 0, -45, 8); // beyond the floor, from 4 below to 4 above
  State.FieldModel = model.get();
  PaintScene(State);
  EXPECT_TRUE(Reddish(At(0, -2, -45)));
  State.Reflections = true;
  PaintScene(State);
  EXPECT_TRUE(Reddish(At(0, 2, -45)));
  EXPECT_EQ(At(0, -2, -45), Background);
}

TEST_F(SceneTest, BattleModelsGetNoFloor) {
  TBattleModel::TMemberList list;
  list.emplace_back("aa", std::make_unique<TMemoryStream>(BuildBattleSkeleton({})));
  list.emplace_back("ab", std::make_unique<TMemoryStream>(std::string_view()));
  list.emplace_back("am", std::make_unique<TMemoryStream>(std::string_view()));
  list.emplace_back("da", std::make_unique<TMemoryStream>(BuildBattleAnimations({})));
  TBattleModel battle;
  battle.LoadFromList(list);
  State.BattleModel = &battle;
  State.Reflections = true;
  PaintScene(State);
  EXPECT_EQ(At(15, 0, 0), Background);
}

TEST(FrameClock, OneFrameEvery80MillisecondsAndQuickAnimationStartsAtFrame1) {
  EXPECT_EQ(ClockFrame(0, 0, 10), 0);
  EXPECT_EQ(ClockFrame(79, 0, 10), 0);
  EXPECT_EQ(ClockFrame(80, 0, 10), 1);
  EXPECT_EQ(ClockFrame(800, 0, 10), 0);
  EXPECT_EQ(ClockFrame(0xFFFFFFFFu, 0, 7), int32_t((0xFFFFFFFFu / 80) % 7));
  EXPECT_EQ(ClockFrame(160, -5, 4), 1); // never negative
  EXPECT_EQ(ClockFrame(1234, 3, 0), 0); // no frames
  for (uint32_t tick : {0u, 1000u, 123457u}) {
    for (int32_t frames : {1, 2, 17}) {
      int32_t offset = QuickAnimationOffset(tick, frames);
      EXPECT_EQ(ClockFrame(tick, offset, frames), 1 % frames) << tick << " " << frames;
    }
  }
  EXPECT_EQ(QuickAnimationOffset(5000, 1), 2);
}
