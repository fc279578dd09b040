// Whole pictures of the viewer's scene, drawn headless, against committed baselines
// (tests/baselines): the pixel probes say where things are; these catch whatever else a
// change to drawing moves, recolours or reorders.
#include "render/scene.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "fixtures/Demo.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "render/offscreen.h"
#include "render/textures.h"
#include "tests/render/ImageBaseline.h"

#include <gtest/gtest.h>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::CompareWithBaseline;

namespace {

class SceneBaseline : public ::testing::Test {
protected:
  static constexpr int Width = 320, Height = 240;
  TOffscreenContext Context{Width, Height};
  TTempDir Dir;
  TSceneState State;
  TTextureSet Textures;
  std::unique_ptr<TLGPFile> Archive;
  std::unique_ptr<TFieldModel> Field;
  TBattleModel Battle;

  void SetUp() override {
    SetupScene();
    ResizeScene(Width, Height);
    State.Textures = &Textures;
  }

  // The demo knight walking, at frame.
  void ShowKnight(int32_t frame) {
    WriteFile(Dir.File("char.lgp"), BuildLGP(BuildDemoFieldArchive()));
    Archive = TLGPFile::Create(Dir.File("char.lgp"), false);
    Field = std::make_unique<TFieldModel>(*Archive, "KNIG.HRC", "KNWA.A");
    Field->SetFrame(frame);
    Textures.Add(*Field);
    State.FieldModel = Field.get();
  }

  // The demo golem's first animation, at frame.
  void ShowGolem(int32_t frame) {
    WriteFile(Dir.File("battle.lgp"), BuildLGP(BuildDemoBattleArchive()));
    Archive = TLGPFile::Create(Dir.File("battle.lgp"), false);
    Battle.LoadFromArchive(*Archive, "rt");
    State.BattleAnimation = 0;
    State.BattleFrame = frame;
    Textures.Add(Battle);
    State.BattleModel = &Battle;
  }

  void ExpectBaseline(const std::string& name) {
    PaintScene(State);
    const auto result = CompareWithBaseline(name, Width, Height, Context.ReadPixelsRGB());
    EXPECT_TRUE(result.Matches) << result.Message;
  }
};

} // namespace

TEST_F(SceneBaseline, Knight) {
  ShowKnight(5);
  ExpectBaseline("knight");
}

// Turned by every trackbar: the battle model is lifted and scaled before it turns.
TEST_F(SceneBaseline, GolemTurned) {
  ShowGolem(4);
  State.RotateX = 20;
  State.RotateY = 35;
  State.RotateZ = 10;
  ExpectBaseline("golem");
}

// Turned by every trackbar: the field model turns about the floor's origin, lifted inside
// the turn; its bones drawn over the lines of its polygons.
TEST_F(SceneBaseline, KnightWireframeTurnedWithBones) {
  ShowKnight(9);
  State.Zoom = 22;
  State.RotateX = 15;
  State.RotateY = 40;
  State.RotateZ = 5;
  State.Options.Bones = true;
  State.Options.Wireframe = true;
  ExpectBaseline("knight-wireframe");
}

TEST_F(SceneBaseline, KnightReflected) {
  ShowKnight(14);
  State.Zoom = 60;
  State.RotateY = 20;
  State.Options.Reflections = true;
  ExpectBaseline("knight-reflections");
}
