// Battle models drawn on real GL and read back. The view looks down -Z at -16 .. 16;
// a file vertex (x, y, z) is held at (-x, -y, -z), and the model is mirrored in X.
#include "battle/BattleModel.h"
#include "render/modeldraw.h"

#include "fixtures/BattleWriters.h"
#include "fixtures/FieldWriters.h"
#include "tests/field/GLTestSupport.h"

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::GLTest;

namespace {

using TColour = std::array<int, 3>;
const TColour Black{0, 0, 0}, Red{255, 0, 0}, Green{0, 255, 0};

struct TBoneSpec {
  int32_t Parent;
  float Length;
  std::array<float, 3> Box; // where the file puts the bone's marker box; none if NaN
  std::array<uint8_t, 4> Colour;
};

class BattleDraw : public GLTest {
protected:
  TTextureSet NoTextures;
  // A model of these bones, posed by one frame.
  // Drawn at frame 1 of its one animation, the frame that carries the offsets.
  std::unique_ptr<TBattleModel> Build(const std::vector<TBoneSpec>& bones,
                                      const TBattleFrame& frame) {
    TBattleModel::TMemberList list;
    auto add = [&](const std::string& suffix, const std::string& data) {
      list.emplace_back(suffix, std::make_unique<TMemoryStream>(data));
    };
    std::vector<TBattleBoneFixture> skeleton;
    for (const TBoneSpec& b : bones)
      skeleton.push_back({b.Parent, b.Length, !std::isnan(b.Box[0])});
    add("aa", BuildBattleSkeleton(skeleton));
    add("ab", "");
    char suffix[3] = "am";
    for (const TBoneSpec& b : bones) {
      if (std::isnan(b.Box[0])) continue;
      TPFixture p;
      p.AddBox(b.Box[0], b.Box[1], b.Box[2], 3, 3, 3, b.Colour);
      for (auto& c : p.VertexColours) c = b.Colour;
      add(suffix, BuildP(p));
      ++suffix[1];
    }
    TBattleAnimFixture anim;
    anim.Frames = {frame};
    TBattleFrame second = frame; // frame 1 carries the offsets (frame 0 has none)
    anim.Frames[0].OffsetX = anim.Frames[0].OffsetY = anim.Frames[0].OffsetZ = 0;
    anim.Frames.push_back(second);
    add("da", BuildBattleAnimations({EncodeBattleAnimation(anim)}));
    auto model = std::make_unique<TBattleModel>();
    model->LoadFromList(list);
    return model;
  }

  static TBattleFrame Pose(std::vector<TBattleRotation> rotations, int32_t ox = 0, int32_t oy = 0) {
    TBattleFrame f;
    f.OffsetX = ox;
    f.OffsetY = oy;
    f.Rotations.assign(rotations.begin(), rotations.end());
    return f;
  }
};

constexpr float None = std::numeric_limits<float>::quiet_NaN();

} // namespace

TEST_F(BattleDraw, TheModelIsMirroredInXAndItsYOffsetNegated) {
  // The file's x = -8 is held at +8 and mirrored back to the left.
  auto model = Build({{-1, 0, {-8, 0, 0}, {255, 0, 0, 255}}}, Pose({{}, {}}));
  DrawBattleModel(*model, model->FrameAt(0, 1), NoTextures, TViewOptions());
  EXPECT_EQ(At(-8, 0), Red);
  EXPECT_EQ(At(8, 0), Black);

  glLoadIdentity();
  glClear(GL_COLOR_BUFFER_BIT);
  Refresh();
  auto lowered = Build({{-1, 0, {0, 0, 0}, {0, 255, 0, 255}}}, Pose({{}, {}}, 6, 10));
  DrawBattleModel(*lowered, lowered->FrameAt(0, 1), NoTextures, TViewOptions());
  EXPECT_EQ(At(-6, -10), Green); // x mirrored too
  EXPECT_EQ(At(0, 0), Black);
}

TEST_F(BattleDraw, RotationsTurnAboutYThenXThenZAt4096ATurn) {
  // A marker 10 units along the bone's +Z (file z = -10), or +X (file x = -10); each
  // case names where it lands on screen, after the mirror.
  struct Case {
    TBattleRotation Root, Bone;
    std::array<float, 3> Marker;
    float X, Y;
  };
  const Case cases[] = {
      {{0, 1024, 0}, {}, {0, 0, -10}, -10, 0},    // a quarter turn about Y: +Z to +X
      {{1024, 1024, 0}, {}, {0, 0, -10}, 0, -10}, // X first: +Z to -Y, which Y keeps
      {{0, 0, 1024}, {}, {-10, 0, 0}, 0, 10},     // about Z: +X to +Y
      {{}, {2048, 0, 0}, {0, -10, 0}, 0, -10},    // the bone's own entry: half a turn
      {{0, 2048, 0}, {1024, 0, 0}, {0, 0, -10}, 0, -10},
  };
  for (const Case& c : cases) {
    glLoadIdentity();
    glClear(GL_COLOR_BUFFER_BIT);
    Refresh();
    auto model = Build({{-1, 0, c.Marker, {255, 0, 0, 255}}}, Pose({c.Root, c.Bone}));
    DrawBattleModel(*model, model->FrameAt(0, 1), NoTextures, TViewOptions());
    EXPECT_EQ(At(c.X, c.Y), Red) << c.Root.X << "/" << c.Root.Y << "/" << c.Root.Z << " bone "
                                 << c.Bone.X;
  }
}

TEST_F(BattleDraw, ChildrenHangAlongMinusZOfTheirParent) {
  // Bone 0 turned so that its -Z points to screen +Y (X = 1024 after no mirror effect on
  // Y); bone 1 hangs at its end; bone 2 names a parent outside the skeleton and bone 3
  // hangs from itself: neither is drawn. Frame rotations stop short of bone 3.
  auto model = Build({{-1, 9, {None, 0, 0}, {}},
                      {0, 0, {0, 0, 0}, {0, 255, 0, 255}},
                      {7, 0, {0, 0, 0}, {255, 0, 0, 255}},
                      {3, 0, {0, 0, 0}, {255, 0, 0, 255}}},
                     Pose({{}, {1024, 0, 0}, {}}));
  DrawBattleModel(*model, model->FrameAt(0, 1), NoTextures, TViewOptions());
  EXPECT_EQ(At(0, 9), Green);
  EXPECT_EQ(At(0, 0), Black);

  // A frame with rotations for the root only: the bone is drawn unturned.
  glLoadIdentity();
  glClear(GL_COLOR_BUFFER_BIT);
  Refresh();
  auto partial = Build({{-1, 0, {-8, 0, 0}, {255, 0, 0, 255}}}, Pose({{0, 0, 0}}));
  DrawBattleModel(*partial, partial->FrameAt(0, 1), NoTextures, TViewOptions());
  EXPECT_EQ(At(-8, 0), Red);
}
