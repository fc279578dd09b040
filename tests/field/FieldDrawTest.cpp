// Drawing parts and skeletons on real GL, read back pixel by pixel. The view looks down
// -Z at -16 .. 16; a file vertex (x, y, z) is drawn at (-x, -y, -z).
#include "field/FieldModel.h"
#include "field/tex.h"
#include "render/modeldraw.h"

#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "fixtures/TexWriter.h"
#include "tests/field/GLTestSupport.h"

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::GLTest;

namespace {

using TColour = std::array<int, 3>;
const TColour Black{0, 0, 0}, Red{255, 0, 0}, Green{0, 255, 0}, White{255, 255, 255};

// A flat square in the file's XY plane centred on (x, y) as the file has it, as one
// group of two triangles.
void AddSquare(TPFixture& f, float x, float y, std::array<uint8_t, 4> colour, int texIndex = -1,
               int primType = 0) {
  f.AddBox(x, y, 0, 4, 4, 0.01f, colour, texIndex);
  // Flat colour: the box shades its faces; all six faces take the one colour here.
  for (size_t i = f.VertexColours.size() - 24; i < f.VertexColours.size(); ++i)
    f.VertexColours[i] = colour;
  if (primType) f.Groups.back().PrimType = primType;
}

std::unique_ptr<TFF7PPart> PartOf(const TPFixture& f) {
  TMemoryStream stream(BuildP(f));
  return TFF7PPart::CreateFromStream(stream);
}

std::shared_ptr<const TTexImage> WhiteTexture() {
  auto image = std::make_shared<TTexImage>();
  image->Width = image->Height = 2;
  image->Pixels.assign(16, 255);
  return image;
}

} // namespace

class PartDraw : public GLTest {
protected:
  TTextureSet Textures;
  TViewOptions Options;
  void AddWhiteTexture(TFF7PPart& part) {
    part.Textures.push_back(WhiteTexture());
    Textures.Add(part);
  }
};

TEST_F(PartDraw, PlainGroupsDrawFirstAndAMissingTextureEndsThePass) {
  TPFixture f;
  AddSquare(f, 8, 0, {255, 0, 0, 255});        // group 1, plain: drawn on the left
  AddSquare(f, 0, 0, {255, 255, 255, 255}, 0); // group 2, textured, texture 0
  AddSquare(f, -8, 0, {0, 255, 0, 255});       // group 3, plain: on the right
  auto part = PartOf(f);

  // No texture 0: each pass ends at group 2, so group 3 never draws.
  DrawPart(*part, Textures, Options);
  EXPECT_EQ(At(-8, 0), Red);
  EXPECT_EQ(At(0, 0), Black);
  EXPECT_EQ(At(8, 0), Black);

  // With the texture, everything draws; the textured group in the second pass.
  AddWhiteTexture(*part);
  glClear(GL_COLOR_BUFFER_BIT);
  Refresh();
  DrawPart(*part, Textures, Options);
  EXPECT_EQ(At(-8, 0), Red);
  EXPECT_TRUE(Near(At(0, 0), White, 2)) << ::testing::PrintToString(At(0, 0));
  EXPECT_EQ(At(8, 0), Green);
}

TEST_F(PartDraw, ColoursAreDrawnRedGreenBlueFromTheFilesBlueGreenRed) {
  TPFixture f;
  AddSquare(f, 0, 0, {200, 100, 50, 255});
  DrawPart(*PartOf(f), Textures, Options);
  EXPECT_TRUE(Near(At(0, 0), {200, 100, 50}, 1)) << ::testing::PrintToString(At(0, 0));
}

TEST_F(PartDraw, DisplayGroupDrawsOnlyThatGroup) {
  TPFixture f;
  AddSquare(f, 8, 0, {255, 0, 0, 255});
  AddSquare(f, 0, 0, {255, 255, 255, 255}, 0);
  AddSquare(f, -8, 0, {0, 255, 0, 255});
  auto part = PartOf(f);
  AddWhiteTexture(*part);
  Options.DisplayGroup = 3;
  DrawPart(*part, Textures, Options);
  EXPECT_EQ(At(-8, 0), Black);
  EXPECT_EQ(At(0, 0), Black);
  EXPECT_EQ(At(8, 0), Green);
  // The last group's state stands: plain, so texturing and blending are off.
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
}

TEST_F(PartDraw, ATextureFlagOnAPlainTypeDrawsInTheSecondPassWithoutTexture) {
  TPFixture f;
  AddSquare(f, 0, 0, {0, 0, 255, 128}, 0, 1); // type 1, TexFlag 1, half transparent
  auto part = PartOf(f);
  AddWhiteTexture(*part);
  glEnable(GL_BLEND); // left on by earlier drawing: the plain group turns it off
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  DrawPart(*part, Textures, Options);
  EXPECT_EQ(At(0, 0), (TColour{0, 0, 255}));
}

TEST_F(PartDraw, IndicesOutsideThePartAreSkipped) {
  TPFixture f;
  AddSquare(f, 8, 0, {255, 0, 0, 255});
  AddSquare(f, -8, 0, {0, 255, 0, 255});
  f.Groups[0].VertBase = 60000; // every vertex out of range
  f.Groups[1].NumPolys = 1000;  // runs past the polygons
  auto part = PartOf(f);
  DrawPart(*part, Textures, Options);
  EXPECT_EQ(At(-8, 0), Black);
  EXPECT_EQ(At(8, 0), Green);
}

TEST_F(PartDraw, CrosshairsAreDrawnThroughThePartsOrigin) {
  auto part = PartOf(TPFixture());
  glColor3f(1, 1, 0);
  glTranslatef(0.25f, 0.25f, 0); // puts the one-pixel lines on pixel centres
  Options.Crosshairs = true;
  DrawPart(*part, Textures, Options);
  EXPECT_EQ(At(10.25f, 0.25f), (TColour{255, 255, 0}));
  EXPECT_EQ(At(0.25f, -10.25f), (TColour{255, 255, 0}));
  EXPECT_EQ(At(10, 10), Black);
}

TEST_F(PartDraw, EveryGroupSetsTheColourThatTheNextPartsCrosshairsTake) {
  // The second pass draws only the textured group 1, but passes over the plain group 2
  // setting its colours: the crosshairs drawn next, untextured, take its green.
  TPFixture f;
  AddSquare(f, -8, 8, {255, 0, 0, 255}, 0);
  AddSquare(f, 8, 8, {0, 255, 0, 255});
  auto part = PartOf(f);
  AddWhiteTexture(*part);
  glColor3f(1, 1, 0);
  glTranslatef(0.25f, 0.25f, 0); // puts the one-pixel lines on pixel centres
  DrawPart(*part, Textures, Options);
  Options.Crosshairs = true;
  DrawPart(*PartOf(TPFixture()), Textures, Options);
  EXPECT_TRUE(Near(At(8, -8), Red, 2)) << ::testing::PrintToString(At(8, -8));
  EXPECT_EQ(At(-8, -8), Green);
  EXPECT_EQ(At(12.25f, 0.25f), Green);
  EXPECT_EQ(At(0.25f, 12.25f), Green);
}

// Skeletons, built from an archive like the game's.
class SkeletonDraw : public GLTest {
protected:
  TTempDir Dir;
  TTextureSet Textures;
  TViewOptions Options;

  // A model whose bones each carry one small box, posed by one frame of rotations.
  std::unique_ptr<TFieldModel> Build(std::vector<TModelBoneFixture> bones,
                                     std::vector<std::array<float, 3>> rotations) {
    TLGPFixture lgp;
    std::string hrc = AddFieldModel(lgp, "TEST", bones);
    lgp.Add("TEST.A", BuildAnimation(bones.size(), {rotations}));
    std::string path = Dir.File("char.lgp");
    WriteFile(path, BuildLGP(lgp));
    auto archive = TLGPFile::Create(path, false);
    return std::make_unique<TFieldModel>(*archive, hrc, "TEST.A");
  }

  // A box of side 3 around the bone's joint offset by the file position (x, y, z).
  static TModelPartFixture Box(float x, float y, float z, std::array<uint8_t, 4> colour) {
    TModelPartFixture part;
    part.P.AddBox(x, y, z, 3, 3, 3, colour);
    for (auto& c : part.P.VertexColours) c = colour;
    return part;
  }
};

TEST_F(SkeletonDraw, RotationsTurnAboutZThenXThenY) {
  // The marker sits 10 units along the bone's +Z (the file holds it at z = -10); each
  // case turns the bone and names where the marker lands on screen.
  struct Case {
    std::array<float, 3> Rotation; // X, Y, Z as the animation holds them
    float X, Y;
  };
  const Case cases[] = {
      {{0, 90, 0}, -10, 0},  // -90 about Y: +Z goes to -X
      {{90, 0, 0}, 0, -10},  // +90 about X: +Z goes to -Y
      {{90, 90, 0}, 0, -10}, // X first, then Y (about the screen's up axis): stays below
  };
  for (const Case& c : cases) {
    glClear(GL_COLOR_BUFFER_BIT);
    Refresh();
    TModelBoneFixture bone{"b1", "root", 0, {Box(0, 0, -10, {255, 0, 0, 255})}};
    auto model = Build({bone}, {c.Rotation});
    DrawFieldModel(*model, Textures, Options);
    EXPECT_EQ(At(c.X, c.Y), Red) << c.Rotation[0] << " " << c.Rotation[1];
  }
  // About Z, negated: a marker on the bone's +X turns to -Y for a rotation of +90.
  glClear(GL_COLOR_BUFFER_BIT);
  Refresh();
  TModelBoneFixture bone{"b1", "root", 0, {Box(-10, 0, 0, {255, 0, 0, 255})}};
  DrawFieldModel(*Build({bone}, {{0, 0, 90}}), Textures, Options);
  EXPECT_EQ(At(0, -10), Red);
  EXPECT_EQ(At(0, 10), Black);
}

TEST_F(SkeletonDraw, ChildrenHangAtTheEndOfTheirParent) {
  // Bone 1 points its Z along screen -X (length 10); bone 2 hangs at its end.
  auto model = Build({{"arm", "root", 10, {}},
                      {"hand", "arm", 0, {Box(0, 0, 0, {0, 255, 0, 255})}},
                      {"lost", "nobody", 0, {Box(0, 0, 0, {255, 0, 0, 255})}}},
                     {{0, 90, 0}, {0, 0, 0}, {0, 0, 0}});
  EXPECT_EQ(model->GetBone(3).Parent, -1);
  DrawFieldModel(*model, Textures, Options);
  EXPECT_EQ(At(-10, 0), Green);
  EXPECT_EQ(At(0, 0), Black); // the unparented bone is never drawn
}

TEST_F(SkeletonDraw, FirstAndLastBoneLimitTheBodiesButNotTheBones) {
  auto model = Build({{"a", "root", 0, {Box(8, 0, 0, {255, 0, 0, 255})}},
                      {"b", "root", 0, {Box(0, 0, 0, {0, 255, 0, 255})}},
                      {"c", "root", 0, {Box(-8, 0, 0, {255, 0, 0, 255})}}},
                     {});
  Options.FirstBone = Options.LastBone = 2;
  DrawFieldModel(*model, Textures, Options);
  EXPECT_EQ(At(-8, 0), Black);
  EXPECT_EQ(At(0, 0), Green);
  EXPECT_EQ(At(8, 0), Black);
  Options.Bodies = false;
  glClear(GL_COLOR_BUFFER_BIT);
  Refresh();
  DrawFieldModel(*model, Textures, Options);
  EXPECT_EQ(At(0, 0), Black);
}

TEST_F(SkeletonDraw, TheSelectedBoneLineIsGreenAndItsJointRed) {
  // Two bones turned by Y to screen -X and +X, length 12, both jointed at the origin.
  auto model =
      Build({{"left", "root", 12, {}}, {"right", "root", 12, {}}}, {{0, 90, 0}, {0, -90, 0}});
  Options.Bones = true;
  Options.SelectedBone = 2;
  DrawFieldModel(*model, Textures, Options);
  // Near the joint a line is still close to its start colour, and white at its end.
  TColour selectedLine = At(3, 0), otherLine = At(-3, 0);
  EXPECT_TRUE(selectedLine[1] > 200 && selectedLine[0] < 120 && selectedLine[2] < 120)
      << ::testing::PrintToString(selectedLine);
  EXPECT_TRUE(otherLine[2] > 200 && otherLine[0] < 120 && otherLine[1] < 120)
      << ::testing::PrintToString(otherLine);
  EXPECT_TRUE(Near(At(-11.5f, 0), White, 40)) << ::testing::PrintToString(At(-11.5f, 0));
  // The selected bone's sphere, drawn last at the shared joint, is red; unselected it
  // takes the white its line ended with.
  EXPECT_EQ(At(0.2f, 0.2f), Red);
  Options.SelectedBone = -1;
  glClear(GL_COLOR_BUFFER_BIT);
  Refresh();
  DrawFieldModel(*model, Textures, Options);
  EXPECT_EQ(At(0.2f, 0.2f), White);
}

TEST_F(SkeletonDraw, AChainLongerThanGLsMatrixStackIsDrawnWhole) {
  // 60 bones in a line along screen -X, 0.25 apart; only the last carries a box.
  std::vector<TModelBoneFixture> bones;
  for (int b = 0; b < 60; ++b)
    bones.push_back({"b" + std::to_string(b), b ? "b" + std::to_string(b - 1) : "root", 0.25f, {}});
  bones.back().Parts.push_back(Box(0, 0, 0, {0, 255, 0, 255}));
  std::vector<std::array<float, 3>> rotations(60, {0, 0, 0});
  rotations[0] = {0, 90, 0};
  DrawFieldModel(*Build(bones, rotations), Textures, Options);
  EXPECT_EQ(At(-14.75f, 0), Green);
  GLint depth = 0;
  glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
  EXPECT_EQ(depth, 1);
}

TEST_F(SkeletonDraw, OpaqueBonesAreDrawnBeforeTranslucentOnes) {
  // A half-transparent blue box (textured, so blended) in front of an opaque red one, the
  // translucent bone listed first: the red must show through the blue, not be hidden
  // behind depth the blue wrote first.
  TModelPartFixture glass;
  glass.P.AddBox(0, 0, -5, 6, 6, 2, {0, 0, 255, 128}, 0);
  for (auto& c : glass.P.VertexColours) c = {0, 0, 255, 128};
  glass.Textures = {BuildOneColourTEX(255, 255, 255)};
  auto model = Build(
      {{"glass", "root", 0, {glass}}, {"wall", "root", 0, {Box(0, 0, 5, {255, 0, 0, 255})}}}, {});
  Textures.Add(*model);
  glEnable(GL_DEPTH_TEST);
  glClear(GL_DEPTH_BUFFER_BIT);
  DrawFieldModel(*model, Textures, Options);
  glDisable(GL_DEPTH_TEST);
  // Both faces of the glass over the red, each blending half: a quarter of the red left.
  const TColour seen = At(0, 0);
  EXPECT_TRUE(Near(seen, {64, 0, 191}, 12)) << ::testing::PrintToString(seen);
}
