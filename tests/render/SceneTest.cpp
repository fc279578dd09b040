// The viewer's picture drawn headless and read back: background, floor and mirror image,
// pan and framing.
#include "render/scene.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "fixtures/BattleWriters.h"
#include "fixtures/Demo.h"
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
  std::unique_ptr<TFieldModel> BoxModel(float x, float y, float z, float height) {
    return BoxModel(x, y, z, 4, height, 4);
  }
  // The same with the box's size in X, Y and Z.
  std::unique_ptr<TFieldModel> BoxModel(float x, float y, float z, float sx, float sy, float sz) {
    TModelPartFixture part;
    part.P.AddBox(-x, -(y - 15), -z, sx, sy, sz, {255, 0, 0, 255});
    for (auto& c : part.P.VertexColours) c = {255, 0, 0, 255};
    TLGPFixture lgp;
    std::string hrc = AddFieldModel(lgp, "SCEN", {{"b", "root", 0, {part}}});
    lgp.Add("SCEN.A", BuildAnimation(1, {{{0, 0, 0}}}));
    WriteFile(Dir.File("char.lgp"), BuildLGP(lgp));
    auto archive = TLGPFile::Create(Dir.File("char.lgp"), false);
    return std::make_unique<TFieldModel>(*archive, hrc, "SCEN.A");
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
  State.Options.BackColour = 0x0000FF; // red in the 0x00BBGGRR layout
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

  State.Options.Reflections = true;
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
  State.Options.Reflections = true;
  PaintScene(State);
  EXPECT_TRUE(Reddish(At(0, 2, -45)));
  EXPECT_EQ(At(0, -2, -45), Background);
}

// The picture's pixels that are not background: their box, and whether any lies on the
// picture's edge.
struct TDrawnBox {
  int Left = 640, Top = 480, Right = -1, Bottom = -1;
  bool OnEdge = false;
  int Width() const { return Right - Left + 1; }
  int Height() const { return Bottom - Top + 1; }
};

TDrawnBox DrawnBox(TOffscreenContext& context) {
  std::vector<uint8_t> pixels = context.ReadPixelsRGB();
  TDrawnBox box;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const uint8_t* p = &pixels[size_t(y * 640 + x) * 3];
      if (TColour{p[0], p[1], p[2]} == Background) continue;
      box.Left = std::min(box.Left, x);
      box.Right = std::max(box.Right, x);
      box.Top = std::min(box.Top, y);
      box.Bottom = std::max(box.Bottom, y);
      box.OnEdge = box.OnEdge || x == 0 || y == 0 || x == 639 || y == 479;
    }
  return box;
}

TEST_F(SceneTest, APanMovesModelAndFloorAcrossThePicture) {
  auto model = BoxModel(0, 4, 0, 4);
  State.FieldModel = model.get();
  State.Options.Reflections = true;
  PaintScene(State);
  const TColour floor = At(20, 0, 0);
  ASSERT_NE(floor, Background);
  // Right by 12 and down by 3 world units: the box and the floor's edge go with it.
  State.PanX = 12;
  State.PanY = -3;
  PaintScene(State);
  EXPECT_TRUE(Reddish(At(12, 1, 0)));
  EXPECT_FALSE(Reddish(At(0, 4, 0)));
  EXPECT_EQ(At(20 + 12, -3, 0), floor);
  EXPECT_EQ(At(-30 + 12 - 2, -3, 0), Background); // past the floor's left edge
  EXPECT_NE(At(-30 + 12 + 2, -3, 0), Background);
}

TEST_F(SceneTest, APixelOfPanIsAPixelAtTheTargetsDistance) {
  // 480 pixels high, the view spans twice the distance.
  EXPECT_DOUBLE_EQ(WorldPerPixel(30, 480), 60.0 / 480);
  EXPECT_DOUBLE_EQ(WorldPerPixel(0, 480), 2.0 / 480); // never less than at the near plane
  EXPECT_DOUBLE_EQ(WorldPerPixel(30, 0), 60.0);       // no picture: no division by 0
}

// Framed models lie wholly inside the picture, or the part of it asked for, and fill
// most of its height or width, wherever they stand, however turned, from near or far.
TEST_F(SceneTest, AFramedModelFillsThePicture) {
  struct TCase {
    const char* Name;
    float X, Y, Z, SizeX, SizeY, SizeZ;
    int32_t RotateX, RotateY, RotateZ, Zoom;
    TPictureArea Area;
  };
  const TPictureArea whole;
  const TCase cases[] = {
      {"a box at the middle", 0, 10, 0, 8, 8, 8, 0, 0, 0, 30, whole},
      {"a tall box off to the side", 40, 30, -20, 6, 50, 6, 0, 0, 0, 100, whole},
      {"a long box turned", 0, 10, 0, 60, 4, 4, 30, 45, 10, 30, whole},
      {"a wide box seen from close by", -5, 20, 10, 50, 6, 6, 0, 0, 0, 12, whole},
      {"a box behind the eye", 0, 20, 60, 10, 10, 10, 0, 0, 0, 30, whole},
      {"a box below a band at the top", 0, 10, 0, 8, 8, 8, 0, 0, 0, 30, {-1, 1, -1, 0.5}},
      {"a long box turned, in the lower right quarter",
       0,
       10,
       0,
       60,
       4,
       4,
       30,
       45,
       10,
       30,
       {0, 1, -1, 0}},
      {"a tall box between two columns", 40, 30, -20, 6, 50, 6, 0, 0, 0, 100, {-0.5, 0.8, -1, 1}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto model = BoxModel(c.X, c.Y, c.Z, c.SizeX, c.SizeY, c.SizeZ);
    State = TSceneState();
    State.FieldModel = model.get();
    State.RotateX = c.RotateX;
    State.RotateY = c.RotateY;
    State.RotateZ = c.RotateZ;
    State.Zoom = c.Zoom;
    TFraming framing = FrameModel(State, 640.0 / 480.0, 0.9, c.Area);
    ASSERT_TRUE(framing.Found);
    State.PanX = framing.PanX;
    State.PanY = framing.PanY;
    State.Zoom = int32_t(std::ceil(framing.Zoom));
    PaintScene(State);
    TDrawnBox box = DrawnBox(Context);
    ASSERT_GE(box.Right, 0) << "nothing drawn";
    // The area in pixels, top row first.
    const double left = (c.Area.Left + 1) / 2 * 640, right = (c.Area.Right + 1) / 2 * 640;
    const double top = (1 - c.Area.Top) / 2 * 480, bottom = (1 - c.Area.Bottom) / 2 * 480;
    EXPECT_TRUE(box.Left > left && box.Right < right - 1 && box.Top > top &&
                box.Bottom < bottom - 1)
        << box.Left << "," << box.Top << " to " << box.Right << "," << box.Bottom;
    EXPECT_TRUE(box.Height() > 0.75 * (bottom - top) || box.Width() > 0.75 * (right - left))
        << box.Width() << "x" << box.Height();
    EXPECT_NEAR((box.Left + box.Right) / 2.0, (left + right) / 2, 0.1 * (right - left));
    EXPECT_NEAR((box.Top + box.Bottom) / 2.0, (top + bottom) / 2, 0.1 * (bottom - top));
  }
}

TEST_F(SceneTest, ABattleModelIsFramedAtItsScaleAndPose) {
  WriteFile(Dir.File("battle.lgp"), BuildLGP(BuildDemoBattleArchive()));
  auto archive = TLGPFile::Create(Dir.File("battle.lgp"), false);
  TBattleModel golem;
  golem.LoadFromArchive(*archive, "rt");
  State.BattleModel = &golem;
  State.Zoom = 100;
  for (int32_t frame : {0, 9}) {
    SCOPED_TRACE(frame);
    State.BattleAnimation = 1;
    State.BattleFrame = frame;
    TFraming framing = FrameModel(State, 640.0 / 480.0, 0.9);
    ASSERT_TRUE(framing.Found);
    State.PanX = framing.PanX;
    State.PanY = framing.PanY;
    State.Zoom = int32_t(std::ceil(framing.Zoom));
    EXPECT_LT(State.Zoom, 100);
    PaintScene(State);
    TDrawnBox box = DrawnBox(Context);
    EXPECT_FALSE(box.OnEdge);
    EXPECT_TRUE(box.Height() > 0.75 * 480 || box.Width() > 0.75 * 640)
        << box.Width() << "x" << box.Height();
  }
}

// The display switches do for a battle model what they do for a field model, at the
// field's size: bodies off draws none, bones draw lines and joints, crosshairs reach 25
// world units, reflections give the floor and a mirror image, and lighting shades
// rather than burning every face white.
TEST_F(SceneTest, TheSwitchesDoForABattleModelWhatTheyDoForAFieldModel) {
  WriteFile(Dir.File("battle.lgp"), BuildLGP(BuildDemoBattleArchive()));
  auto archive = TLGPFile::Create(Dir.File("battle.lgp"), false);
  TBattleModel golem;
  golem.LoadFromArchive(*archive, "rt");
  State.BattleModel = &golem;
  State.Zoom = 60;
  PaintScene(State);
  const TDrawnBox bodies = DrawnBox(Context);
  ASSERT_GT(bodies.Width(), 50);

  State.Options.Bodies = false;
  PaintScene(State);
  EXPECT_LT(DrawnBox(Context).Width(), 1);
  State.Options.Bones = true;
  PaintScene(State);
  const TDrawnBox bones = DrawnBox(Context);
  EXPECT_GT(bones.Height(), bodies.Height() / 2);
  EXPECT_TRUE(bones.Left >= bodies.Left - 20 && bones.Right <= bodies.Right + 20);

  State.Options.Bones = false;
  State.Options.Bodies = true;
  State.Options.Crosshairs = true;
  PaintScene(State);
  // 25 units either side of the parts' origins: 100 pixels at the target's distance
  // (a picture 480 high spans 2 x 60 units there), well beyond the golem's own width.
  const TDrawnBox crosshairs = DrawnBox(Context);
  EXPECT_GT(crosshairs.Width(), 190);
  EXPECT_GT(crosshairs.Width(), bodies.Width() + 60);
  State.Options.Crosshairs = false;

  State.Options.Reflections = true;
  PaintScene(State);
  EXPECT_NE(At(25, 0, 20), Background); // the floor, beside the golem's feet
  EXPECT_NE(At(0, -4, 0), Background);  // the image below them
  State.Options.Reflections = false;

  auto burnt = [&] {
    const std::vector<uint8_t> pixels = Context.ReadPixelsRGB();
    int white = 0, drawn = 0;
    for (size_t p = 0; p < pixels.size(); p += 3) {
      if (TColour{pixels[p], pixels[p + 1], pixels[p + 2]} == Background) continue;
      ++drawn;
      white += pixels[p] > 245 && pixels[p + 1] > 245 && pixels[p + 2] > 245;
    }
    return double(white) / std::max(drawn, 1);
  };
  State.Options.Lighting = true;
  PaintScene(State);
  EXPECT_LT(burnt(), 0.05);
  EXPECT_TRUE(glIsEnabled(GL_LIGHTING) && !glIsEnabled(GL_NORMALIZE));
}

// Framed for the whole animation, every frame of it stays inside the picture: the
// golem's attack swings far beyond its first pose, the knight walks.
TEST_F(SceneTest, FramingTheWholeAnimationKeepsEveryFrameInThePicture) {
  WriteFile(Dir.File("battle.lgp"), BuildLGP(BuildDemoBattleArchive()));
  auto archive = TLGPFile::Create(Dir.File("battle.lgp"), false);
  TBattleModel golem;
  golem.LoadFromArchive(*archive, "rt");
  State.BattleModel = &golem;
  State.BattleAnimation = 1;
  State.RotateY = 90; // seen from the side, the swing goes across the picture
  const TFraming pose = FrameModel(State, 640.0 / 480.0, 0.9);
  const TFraming whole = FrameModel(State, 640.0 / 480.0, 0.9, {}, true);
  ASSERT_TRUE(pose.Found && whole.Found);
  EXPECT_GT(whole.Zoom, pose.Zoom * 1.1);
  State.PanX = whole.PanX;
  State.PanY = whole.PanY;
  State.Zoom = int32_t(std::ceil(whole.Zoom));
  bool filled = false;
  for (int32_t frame = 0; frame < golem.FrameCount(1); ++frame) {
    SCOPED_TRACE(frame);
    State.BattleFrame = frame;
    PaintScene(State);
    const TDrawnBox box = DrawnBox(Context);
    EXPECT_FALSE(box.OnEdge);
    filled = filled || box.Height() > 0.8 * 480 || box.Width() > 0.8 * 640;
  }
  EXPECT_TRUE(filled);

  State = {};
  WriteFile(Dir.File("char.lgp"), BuildLGP(BuildDemoFieldArchive()));
  auto chars = TLGPFile::Create(Dir.File("char.lgp"), false);
  TFieldModel knight(*chars, "KNIG.HRC", "KNWA.A");
  knight.SetFrame(3);
  State.FieldModel = &knight;
  State.RotateY = 90;
  const TFraming walk = FrameModel(State, 640.0 / 480.0, 0.9, {}, true);
  ASSERT_TRUE(walk.Found);
  EXPECT_EQ(knight.CurrentFrame, 3); // posed back where it was
  State.PanX = walk.PanX;
  State.PanY = walk.PanY;
  State.Zoom = int32_t(std::ceil(walk.Zoom));
  for (int32_t frame = 0; frame < knight.FrameCount; ++frame) {
    SCOPED_TRACE(frame);
    knight.SetFrame(frame);
    PaintScene(State);
    EXPECT_FALSE(DrawnBox(Context).OnEdge);
  }
}

// Framing never brings the eye nearer to the model than the near plane: the front of a
// thin rod pointing at the eye (a green cap on a red rod) is drawn, not cut away, though
// the rod would fit the picture from nearer.
TEST_F(SceneTest, AModelPointingAtTheEyeIsFramedWithItsFrontInView) {
  TModelPartFixture part;
  // Along the eye's axis (height 20): the rod from z = -40 to 20.1, the cap to 20.5.
  part.P.AddBox(0, -(20 - 15), 9.95f, 0.2f, 0.2f, 60.1f, {255, 0, 0, 255});
  part.P.AddBox(0, -(20 - 15), -20.3f, 0.2f, 0.2f, 0.4f, {0, 255, 0, 255});
  for (size_t v = 0; v < part.P.VertexColours.size(); ++v)
    part.P.VertexColours[v] = v < part.P.VertexColours.size() / 2
                                  ? std::array<uint8_t, 4>{255, 0, 0, 255}
                                  : std::array<uint8_t, 4>{0, 255, 0, 255};
  TLGPFixture lgp;
  std::string hrc = AddFieldModel(lgp, "ROD", {{"b", "root", 0, {part}}});
  lgp.Add("ROD.A", BuildAnimation(1, {{{0, 0, 0}}}));
  WriteFile(Dir.File("rod.lgp"), BuildLGP(lgp));
  auto archive = TLGPFile::Create(Dir.File("rod.lgp"), false);
  TFieldModel model(*archive, hrc, "ROD.A");
  State.FieldModel = &model;
  TFraming framing = FrameModel(State, 640.0 / 480.0, 0.9);
  ASSERT_TRUE(framing.Found);
  State.PanX = framing.PanX;
  State.PanY = framing.PanY;
  State.Zoom = int32_t(std::ceil(framing.Zoom));
  PaintScene(State);
  const std::vector<uint8_t> pixels = Context.ReadPixelsRGB();
  const uint8_t* middle = &pixels[size_t(240 * 640 + 320) * 3];
  EXPECT_EQ((TColour{middle[0], middle[1], middle[2]}), (TColour{0, 255, 0}))
      << "framed from " << framing.Zoom;
}

TEST_F(SceneTest, NothingDrawnIsNothingToFrame) {
  EXPECT_FALSE(FrameModel(State, 4.0 / 3.0, 0.9).Found); // no model
  auto model = BoxModel(0, 10, 0, 4);
  State.FieldModel = model.get();
  EXPECT_FALSE(FrameModel(State, 0, 0.9).Found);                            // no picture
  EXPECT_FALSE(FrameModel(State, 4.0 / 3.0, 0.9, {0.5, 0.5, -1, 1}).Found); // an empty area
  State.Options.Bodies = false;
  EXPECT_FALSE(FrameModel(State, 4.0 / 3.0, 0.9).Found);
  // The bones are drawn: they are framed.
  State.Options.Bones = true;
  EXPECT_TRUE(FrameModel(State, 4.0 / 3.0, 0.9).Found);
  // Outside the bone range nothing of the bodies is drawn either.
  State.Options.Bones = false;
  State.Options.Bodies = true;
  State.Options.LastBone = 0; // the root, which carries no part
  EXPECT_FALSE(FrameModel(State, 4.0 / 3.0, 0.9).Found);
}

TEST(FrameClock, FramesHoldFor80MillisecondsThenMoveOnByOneAndWrapAround) {
  for (int32_t offset : {0, 3, -5, -100})
    for (uint32_t tick = 0; tick < 3 * 7 * 80; ++tick) {
      const int32_t frame = ClockFrame(tick, offset, 7);
      ASSERT_TRUE(frame >= 0 && frame < 7) << tick << " " << offset;
      const int32_t next = ClockFrame(tick + 1, offset, 7);
      ASSERT_EQ(next, (tick + 1) % 80 == 0 ? (frame + 1) % 7 : frame) << tick << " " << offset;
    }
  EXPECT_EQ(ClockFrame(0, 0, 10), 0); // no offset: frame 0 at tick 0
  for (uint32_t tick : {0xFFFFFFFFu - 80, 0xFFFFFFFFu}) {
    const int32_t frame = ClockFrame(tick, -7, 13);
    EXPECT_TRUE(frame >= 0 && frame < 13) << tick;
  }
  EXPECT_EQ(ClockFrame(1234, 3, 0), 0); // no frames
  // Playing once starts at frame 1.
  for (uint32_t tick : {0u, 1000u, 123457u}) {
    for (int32_t frames : {1, 2, 17}) {
      int32_t offset = QuickAnimationOffset(tick, frames);
      EXPECT_EQ(ClockFrame(tick, offset, frames), 1 % frames) << tick << " " << frames;
    }
  }
}

TEST(FrameClock, PlayingGoesOnFromTheFrameOnShow) {
  for (uint32_t tick : {0u, 79u, 1000u, 123457u, 0xFFFFFFFFu - 80})
    for (int32_t frames : {1, 2, 17, 24})
      for (int32_t frame = 0; frame < frames; ++frame) {
        const int32_t offset = ClockOffsetAt(tick, frame, frames);
        EXPECT_EQ(ClockFrame(tick, offset, frames), frame) << tick << " " << frames;
        EXPECT_EQ(ClockFrame(tick + 80, offset, frames), (frame + 1) % frames);
      }
  EXPECT_EQ(ClockOffsetAt(1000, 3, 0), 0);
}
