#include "field/tex.h"
#include "render/textures.h"

#include "fixtures/TexWriter.h"
#include "render/offscreen.h"

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

using namespace palkor;
using palkor::testing::ErrorOf;
using namespace palkor::fixtures;

namespace {

using TPixels = std::vector<uint8_t>;

std::unique_ptr<TTexImage> Load(const TTexFixture& fixture, int32_t dataOffset = 236) {
  TMemoryStream stream(BuildTEX(fixture));
  return LoadTEX(stream, dataOffset);
}

// A 2x2 palette image: indices 0 1 in the top row, 2 3 in the bottom row.
TTexFixture TwoByTwoPalette(int32_t colourKey) {
  TTexFixture f;
  f.Width = 2;
  f.Height = 2;
  f.ColourKey = colourKey;
  f.Palette = {
      {0x10, 0x20, 0x30, 0x00}, {0x01, 0x02, 0x03, 0x99}, {0xFF, 0, 0, 0xFF}, {0, 0, 0xFF, 7}};
  f.Indices = {0, 1, 2, 3};
  return f;
}

} // namespace

TEST(LoadTEX, PaletteImageTakesBlueGreenRedEntriesRowByRowAndKeysIndexZeroOnlyForAFlagAboveZero) {
  const TPixels rest = {0x03, 0x02, 0x01, 255, 0, 0, 0xFF, 255, 0xFF, 0, 0, 255};
  const struct {
    int32_t Flag;
    TPixels First;
  } cases[] = {{1, {0, 0, 0, 0}},
               {7, {0, 0, 0, 0}},
               {0, {0x30, 0x20, 0x10, 255}},
               {-1, {0x30, 0x20, 0x10, 255}},
               {INT_MIN, {0x30, 0x20, 0x10, 255}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Flag);
    auto image = Load(TwoByTwoPalette(c.Flag));
    EXPECT_EQ(image->Width, 2);
    EXPECT_EQ(image->Height, 2);
    TPixels expected = c.First;
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(image->Pixels, expected);
  }
  // The data lies wherever the caller says.
  TTexFixture moved = TwoByTwoPalette(0);
  moved.HeaderSize = 300;
  EXPECT_EQ(Load(moved, 300)->Pixels, Load(TwoByTwoPalette(0))->Pixels);
}

TEST(LoadTEX, DirectColourWidensFiveBitFieldsAndIgnoresBit15AndTheColourKey) {
  TTexFixture f;
  f.Width = 4;
  f.Height = 2;
  f.ColourKey = 1;
  f.Direct = {0x001F, 0x03E0, 0x7C00, 0x8000, 0x0000, 0x0421, 0x4210, 0xFFFF};
  EXPECT_EQ(Load(f)->Pixels, (TPixels{255, 0,   0,   255, 0,   255, 0,   255, //
                                      0,   0,   255, 255, 0,   0,   0,   255, //
                                      0,   0,   0,   255, 8,   8,   8,   255, //
                                      132, 132, 132, 255, 255, 255, 255, 255}));
}

TEST(LoadTEX, IndicesBeyondThePaletteCountAreOpaqueBlack) {
  TTexFixture f;
  f.Width = 4;
  f.Height = 1;
  f.ColourKey = 1;
  f.Palette = {{9, 9, 9, 9}, {0x10, 0x20, 0x30, 0}};
  f.Indices = {2, 255, 1, 0};
  EXPECT_EQ(Load(f)->Pixels,
            (TPixels{0, 0, 0, 255, 0, 0, 0, 255, 0x30, 0x20, 0x10, 255, 0, 0, 0, 0}));
  // A full 256-entry palette: index 255 is its own colour.
  f.Palette.resize(256, {1, 2, 3, 4});
  EXPECT_EQ(Load(f)->Pixels[4], 3);
}

TEST(LoadTEX, ZeroOrNegativeSidesGiveAnEmptyImage) {
  const std::pair<int32_t, int32_t> sides[] = {{0, 5},  {5, 0},   {-3, 4},
                                               {4, -3}, {-1, -1}, {INT_MIN, INT_MIN}};
  for (auto [width, height] : sides) {
    for (bool palette : {true, false}) {
      SCOPED_TRACE(::testing::Message() << width << "x" << height << (palette ? " palette" : ""));
      TTexFixture f;
      f.Width = width;
      f.Height = height;
      if (palette) f.Palette = {{1, 2, 3, 4}};
      auto image = Load(f);
      EXPECT_EQ(image->Width, 0);
      EXPECT_EQ(image->Height, 0);
      EXPECT_TRUE(image->Pixels.empty());
    }
  }
}

TEST(LoadTEX, ShortFilesAndAbsurdFieldsFailWithOneClearErrorBeforeAllocating) {
  TTexFixture palette = TwoByTwoPalette(0);
  TTexFixture direct;
  direct.Width = 2;
  direct.Height = 2;
  direct.Direct = {1, 2, 3, 4};
  size_t paletteSize = BuildTEX(palette).size();
  size_t directSize = BuildTEX(direct).size();

  const struct {
    const char* Name;
    TTexFixture Fixture;
    std::function<void(TTexFixture&)> Change;
    std::string Error;
  } cases[] = {
      {"header cut before the count", palette, [](TTexFixture& f) { f.TruncateAt = 90; },
       "Stream read error"},
      {"header cut before the data", palette, [](TTexFixture& f) { f.TruncateAt = 200; },
       "Stream read error"},
      {"palette cut", palette, [](TTexFixture& f) { f.TruncateAt = 236 + 10; },
       "Stream read error"},
      {"last index missing", palette, [&](TTexFixture& f) { f.TruncateAt = paletteSize - 1; },
       "Stream read error"},
      {"last direct byte missing", direct, [&](TTexFixture& f) { f.TruncateAt = directSize - 1; },
       "Stream read error"},
      {"count larger than the palette", palette, [](TTexFixture& f) { f.CountOverride = 200; },
       "Stream read error"},
      {"huge sides, palette", palette,
       [](TTexFixture& f) { f.WidthOverride = f.HeightOverride = INT_MAX; }, "Stream read error"},
      {"huge sides, direct colour", direct,
       [](TTexFixture& f) { f.WidthOverride = f.HeightOverride = INT_MAX; }, "Stream read error"},
      {"count above 256", palette, [](TTexFixture& f) { f.CountOverride = 257; },
       "Invalid palette count 257 in TEX file"},
      {"negative count", palette, [](TTexFixture& f) { f.CountOverride = -1; },
       "Invalid palette count -1 in TEX file"},
      {"lowest count", direct, [](TTexFixture& f) { f.CountOverride = INT_MIN; },
       "Invalid palette count -2147483648 in TEX file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTexFixture f = c.Fixture;
    c.Change(f);
    // Only palkor::Exception is caught: a failed huge allocation would escape as bad_alloc.
    EXPECT_EQ(ErrorOf([&] { Load(f); }), c.Error);
  }
  // A negative data offset reads nothing.
  EXPECT_EQ(ErrorOf([&] { Load(palette, -4); }), "Stream read error");
}

TEST(BuildPaletteTEX, RoundTripsThroughTheDecoderWithTransparencyAndFitsManyColoursIn256) {
  TPixels rgba = {10,  20,  30, 255, 0, 0, 0, 0,   10, 20, 30, 255,
                  200, 100, 50, 255, 1, 2, 3, 255, 9,  9,  9,  100};
  TMemoryStream stream(BuildPaletteTEX(3, 2, rgba));
  auto image = LoadTEX(stream, TEXDataOffset);
  TPixels expected = rgba;
  expected[20] = expected[21] = expected[22] = expected[23] = 0; // alpha below 128: keyed
  EXPECT_EQ(image->Width, 3);
  EXPECT_EQ(image->Pixels, expected);

  TPixels many;
  for (int i = 0; i < 64 * 64; ++i) many.insert(many.end(), {uint8_t(i), uint8_t(i >> 4), 77, 255});
  TMemoryStream big(BuildPaletteTEX(64, 64, many));
  big.SetPosition(88);
  EXPECT_LE(big.ReadI32LE(), 256);
  auto decoded = LoadTEX(big, TEXDataOffset);
  ASSERT_EQ(decoded->Pixels.size(), many.size());
  for (size_t i = 0; i < many.size(); ++i) ASSERT_NEAR(decoded->Pixels[i], many[i], 16) << i;
}

namespace {

// Texture tests draw into a real (software) GL context.
class MakeTextureTest : public ::testing::Test {
protected:
  TOffscreenContext Context{64, 64};

  static GLint LevelParameter(GLenum name) {
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, name, &value);
    return value;
  }
  static GLint Parameter(GLenum name) {
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
    return value;
  }
};

bool IsPowerOfTwo(GLint v) {
  return v > 0 && (v & (v - 1)) == 0;
}

// 100x60 pixels in four bands of 15 rows: red, green, blue, white from the top row.
TTexImage Bands() {
  const uint8_t colours[4][4] = {
      {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 255}};
  TTexImage image;
  image.Width = 100;
  image.Height = 60;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x)
      image.Pixels.insert(image.Pixels.end(), colours[y / 15], colours[y / 15] + 4);
  return image;
}

} // namespace

TEST_F(MakeTextureTest, UploadsAMipmappedPowerOfTwoTextureWithLinearFiltersAndRepeat) {
  GLuint name = MakeTexture(Bands());
  EXPECT_NE(name, 0u);
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(GLuint(bound), name);
  EXPECT_TRUE(IsPowerOfTwo(LevelParameter(GL_TEXTURE_WIDTH))) << LevelParameter(GL_TEXTURE_WIDTH);
  EXPECT_TRUE(IsPowerOfTwo(LevelParameter(GL_TEXTURE_HEIGHT))) << LevelParameter(GL_TEXTURE_HEIGHT);
  EXPECT_EQ(Parameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
  EXPECT_EQ(Parameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_LINEAR);
  EXPECT_EQ(Parameter(GL_TEXTURE_WRAP_S), GL_REPEAT);
  EXPECT_EQ(Parameter(GL_TEXTURE_WRAP_T), GL_REPEAT);
  // The full chain down to 1x1.
  GLint levels = 0;
  while (levels < 32) {
    GLint w = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, levels, GL_TEXTURE_WIDTH, &w);
    if (w == 0) break;
    ++levels;
  }
  GLint last = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, levels - 1, GL_TEXTURE_WIDTH, &last);
  EXPECT_EQ(last, 1);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(MakeTextureTest, TheFirstFileRowIsAtVZero) {
  MakeTexture(Bands());
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_TEXTURE_2D);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  // The whole viewport, v = 0 along its top edge.
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex2f(-1, 1);
  glTexCoord2f(1, 0);
  glVertex2f(1, 1);
  glTexCoord2f(1, 1);
  glVertex2f(1, -1);
  glTexCoord2f(0, 1);
  glVertex2f(-1, -1);
  glEnd();
  glDisable(GL_TEXTURE_2D);

  TPixels rgb = Context.ReadPixelsRGB();
  const uint8_t expected[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  const int tolerance = 8; // linear filtering between rescaled texels
  for (int band = 0; band < 4; ++band) {
    int row = band * 16 + 8;
    for (int column : {4, 32, 60}) {
      const uint8_t* p = rgb.data() + (row * 64 + column) * 3;
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(p[c], expected[band][c], tolerance) << "row " << row << " column " << column;
    }
  }
}

TEST_F(MakeTextureTest, AnEmptyImageGivesOneOpaqueWhiteTexelAndMismatchedPixelsAreRefused) {
  MakeTexture(TTexImage{});
  EXPECT_EQ(LevelParameter(GL_TEXTURE_WIDTH), 1);
  EXPECT_EQ(LevelParameter(GL_TEXTURE_HEIGHT), 1);
  uint8_t texel[4] = {};
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
  EXPECT_EQ(TPixels(texel, texel + 4), (TPixels{255, 255, 255, 255}));

  GLint before = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &before);
  TTexImage bad;
  bad.Width = 4;
  bad.Height = 4;
  bad.Pixels.resize(4 * 4 * 4 - 1);
  EXPECT_EQ(ErrorOf([&] { MakeTexture(bad); }), "Texture image of 4x4 pixels holds 63 bytes");
  GLint after = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &after);
  EXPECT_EQ(after, before);
}
