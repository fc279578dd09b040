#include "field/texwrite.h"
#include "field/texquantise.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/TexWriter.h"

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>

using namespace palkor;
using palkor::testing::ErrorOf;

namespace {

TTexImage Picture(int32_t width, int32_t height,
                  const std::function<std::array<uint8_t, 4>(int32_t x, int32_t y)>& at) {
  TTexImage image;
  image.Width = width;
  image.Height = height;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      auto p = at(x, y);
      image.Pixels.insert(image.Pixels.end(), p.begin(), p.end());
    }
  return image;
}

TTexImage Decode(const std::string& tex) {
  TMemoryStream stream(tex);
  return std::move(*LoadTEX(stream, TEXDataOffset));
}

int32_t FieldAt(const std::string& tex, size_t offset) {
  return GetI32LE(reinterpret_cast<const uint8_t*>(tex.data()) + offset);
}

// The picture as the TEX file shows it: fully transparent pixels transparent black,
// every other pixel opaque.
std::vector<uint8_t> AsShown(const TTexImage& image) {
  std::vector<uint8_t> shown = image.Pixels;
  for (size_t i = 0; i < shown.size(); i += 4) {
    if (shown[i + 3] == 0)
      shown[i] = shown[i + 1] = shown[i + 2] = 0;
    else
      shown[i + 3] = 255;
  }
  return shown;
}

double MeanError(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / double(a.size());
}

std::array<uint8_t, 4> Opaque(int r, int g, int b) {
  return {uint8_t(r), uint8_t(g), uint8_t(b), 255};
}

} // namespace

// Mean error over every channel of every pixel, on the 0 to 255 scale, that a picture
// of many colours may have after quantisation to 256 colours without dithering: a
// painted picture of smooth gradients, and (far harder) one of colour noise.
constexpr double SmoothMeanErrorBound = 4.0;
constexpr double NoiseMeanErrorBound = 10.0;

TEST(WriteTEX, PicturesGoInAndDecodeBackExactlyUpTo256ColoursAndCloseBeyond) {
  const struct {
    const char* Name;
    TTexImage Image;
    bool Exact;
    bool Keyed;
    int64_t Partly;
    double Bound = 0;
  } cases[] = {
      {"one pixel", Picture(1, 1, [](int, int) { return Opaque(1, 2, 3); }), true, false, 0},
      {"odd size, 256 colours",
       Picture(17, 31,
               [](int x, int y) {
                 const int k = (x * 3 + y * 5) % 251;
                 return Opaque(k, 255 - k, k * 7 % 256);
               }),
       true, false, 0},
      {"exactly 256 colours",
       Picture(16, 16, [](int x, int y) { return Opaque(x * 16, y * 16, 255 - x - y); }), true,
       false, 0},
      {"fully transparent pixels keyed, 255 colours beside",
       Picture(16, 16,
               [](int x, int y) -> std::array<uint8_t, 4> {
                 if (x == 0 && y == 0) return {9, 9, 9, 0};
                 return Opaque(x * 16, y * 16, 7);
               }),
       true, true, 0},
      {"partly transparent pixels made opaque",
       Picture(
           5, 3,
           [](int x, int y) -> std::array<uint8_t, 4> {
             return {uint8_t(x * 40), uint8_t(y * 50), 3, uint8_t(x == 2 ? 128 : x == 4 ? 0 : 255)};
           }),
       true, true, 3},
      {"wholly transparent",
       Picture(3, 2,
               [](int, int) -> std::array<uint8_t, 4> {
                 return {5, 6, 7, 0};
               }),
       true, true, 0},
      {"1024 x 1024 of 200 colours",
       Picture(
           1024, 1024,
           [](int x, int y) { return Opaque((x / 64) * 16, (y / 128) * 20, (x + y) % 2 * 100); }),
       true, false, 0},
      {"gradient of 4096 colours",
       Picture(64, 64, [](int x, int y) { return Opaque(x * 4, y * 4, (x + y) * 2); }), false,
       false, 0, SmoothMeanErrorBound},
      {"photo-like noise with transparent corner",
       Picture(97, 61,
               [](int x, int y) -> std::array<uint8_t, 4> {
                 if (x < 10 && y < 10) return {0, 0, 0, 0};
                 return Opaque((x * x + y * 13) % 256, (y * y + x * 5) % 256, (x * y) % 256);
               }),
       false, true, 0, NoiseMeanErrorBound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTexQuantised quantised = QuantiseTEX(c.Image, {});
    EXPECT_EQ(quantised.Exact, c.Exact);
    EXPECT_EQ(quantised.PartlyTransparent, c.Partly);
    EXPECT_EQ(quantised.Image.ColourKey, c.Keyed);
    EXPECT_LE(quantised.Image.Palette.size(), 256u);
    const std::string tex = WriteTEX(DefaultTEXHeader(), quantised.Image);
    EXPECT_EQ(tex.size(), 236 + quantised.Image.Palette.size() * 4 +
                              size_t(c.Image.Width) * size_t(c.Image.Height));
    TTexImage back = Decode(tex);
    ASSERT_EQ(back.Width, c.Image.Width);
    ASSERT_EQ(back.Height, c.Image.Height);
    const std::vector<uint8_t> shown = AsShown(c.Image);
    if (c.Exact)
      EXPECT_EQ(back.Pixels, shown);
    else
      EXPECT_LT(MeanError(back.Pixels, shown), c.Bound);
    // Transparent pixels stay transparent and nothing else becomes so.
    for (size_t i = 3; i < shown.size(); i += 4) ASSERT_EQ(back.Pixels[i], shown[i]) << i / 4;
  }
}

TEST(WriteTEX, FewerColoursAskedForAreKeptToAndDitheringChangesTheIndices) {
  TTexImage gradient = Picture(64, 16, [](int x, int y) { return Opaque(x * 4, y * 16, 90); });
  TTexQuantised sixteen = QuantiseTEX(gradient, {16, false});
  EXPECT_LE(sixteen.Image.Palette.size(), 16u);
  EXPECT_FALSE(sixteen.Exact);
  TTexQuantised dithered = QuantiseTEX(gradient, {16, true});
  EXPECT_LE(dithered.Image.Palette.size(), 16u);
  EXPECT_NE(dithered.Image.Indices, sixteen.Image.Indices);

  // Two colours with a key: the key and one opaque colour.
  TTexImage keyed = Picture(4, 4, [](int x, int y) -> std::array<uint8_t, 4> {
    return {uint8_t(x * 60), uint8_t(y * 60), 0, uint8_t(x == 0 ? 0 : 255)};
  });
  TTexQuantised two = QuantiseTEX(keyed, {2, false});
  EXPECT_EQ(two.Image.Palette.size(), 2u);
  TTexImage back = Decode(WriteTEX(DefaultTEXHeader(), two.Image));
  for (int y = 0; y < 4; ++y) EXPECT_EQ(back.Pixels[size_t(y) * 16 + 3], 0);
}

TEST(WriteTEX, KeepsEveryHeaderByteButTheFieldsThatDescribeThePicture) {
  // A header of the game's kind: every byte its own value.
  std::string header = palkor::fixtures::PatternBytes(236, 7) + "old data after the header";
  TTexQuantised quantised = QuantiseTEX(
      Picture(3, 2,
              [](int x, int y) -> std::array<uint8_t, 4> {
                return {uint8_t(x * 80), uint8_t(y), 0, uint8_t(x == 1 && y == 1 ? 0 : 255)};
              }),
      {});
  const std::string tex = WriteTEX(header, quantised.Image);
  const std::set<size_t> named = {8, 48, 52, 60, 64, 68, 88, 92};
  for (size_t i = 0; i < 236; ++i)
    if (!named.count(i & ~size_t(3))) {
      ASSERT_EQ(tex[i], header[i]) << i;
    }
  const int32_t colours = int32_t(quantised.Image.Palette.size());
  EXPECT_EQ(colours, 6); // the key and five colours
  const std::pair<size_t, int32_t> fields[] = {{8, 1},  {48, 1}, {52, colours}, {60, 3},
                                               {64, 2}, {68, 3}, {88, colours}, {92, colours}};
  for (auto [offset, value] : fields) EXPECT_EQ(FieldAt(tex, offset), value) << offset;

  // Direct colour: the palette fields 0, bytes per row two a pixel.
  TTexImage picture = Picture(3, 2, [](int x, int y) { return Opaque(x * 100, y * 255, 8); });
  const std::string direct = WriteTEX(header, ToDirectColour(picture));
  for (size_t i = 0; i < 236; ++i)
    if (!named.count(i & ~size_t(3))) {
      ASSERT_EQ(direct[i], header[i]) << i;
    }
  const std::pair<size_t, int32_t> directFields[] = {{8, 0},  {48, 0}, {52, 0}, {60, 3},
                                                     {64, 2}, {68, 6}, {88, 0}, {92, 0}};
  for (auto [offset, value] : directFields) EXPECT_EQ(FieldAt(direct, offset), value) << offset;
  EXPECT_EQ(direct.size(), 236u + 12);

  // A member that changed under the writer lends its header; the picture stays.
  std::string other = palkor::fixtures::PatternBytes(300, 9);
  const std::string moved = WithTEXHeader(tex, other);
  for (size_t i = 0; i < 236; ++i)
    ASSERT_EQ(moved[i], named.count(i & ~size_t(3)) ? tex[i] : other[i]) << i;
  EXPECT_EQ(moved.substr(236), tex.substr(236));
}

TEST(WriteTEX, DirectColourRoundsEachChannelToTheNearestLevel) {
  TTexImage picture = Picture(256, 1, [](int x, int) { return Opaque(x, 255 - x, x / 2); });
  picture.Pixels[3] = 0; // no key in direct colour: the pixel shows as it is
  TTexImage back = Decode(WriteTEX(DefaultTEXHeader(), ToDirectColour(picture)));
  ASSERT_EQ(back.Width, 256);
  for (size_t i = 0; i < picture.Pixels.size(); i += 4) {
    for (size_t c = 0; c < 3; ++c)
      ASSERT_LE(std::abs(int(back.Pixels[i + c]) - int(picture.Pixels[i + c])), 4) << i / 4;
    ASSERT_EQ(back.Pixels[i + 3], 255);
  }
  // The widened levels themselves come back exactly.
  TTexImage levels = Picture(32, 1, [](int v, int) {
    int w = (v << 3) | (v >> 2);
    return Opaque(w, w, w);
  });
  EXPECT_EQ(Decode(WriteTEX(DefaultTEXHeader(), ToDirectColour(levels))).Pixels, levels.Pixels);
}

TEST(WriteTEX, RefusesWhatTheFormatCannotHold) {
  TTexIndexedImage image;
  image.Width = image.Height = 1;
  image.Palette = {{0, 0, 0}};
  image.Indices = {0};
  EXPECT_EQ(ErrorOf([&] { WriteTEX(std::string(235, '\0'), image); }),
            "A TEX header of 235 bytes is shorter than 236");
  image.Indices = {1};
  EXPECT_EQ(ErrorOf([&] { WriteTEX(DefaultTEXHeader(), image); }),
            "Palette index 1 beyond the 1 colours of the palette");
  image.Palette.assign(257, {0, 0, 0});
  EXPECT_EQ(ErrorOf([&] { WriteTEX(DefaultTEXHeader(), image); }),
            "A TEX palette holds 1 to 256 colours, not 257");
  EXPECT_EQ(
      ErrorOf([] { CheckTEXSize("big.png", 30000, 30000); }),
      "big.png: 30000x30000 pixels, more than a TEX texture holds (at most 536870911 pixels)");
  EXPECT_EQ(ErrorOf([] { CheckTEXSize("big.png", 23170, 23170); }), "(no error)");
  TTexImage empty;
  EXPECT_EQ(ErrorOf([&] { QuantiseTEX(empty, {}); }), "picture: 0x0 pixels, no picture to write");
  TTexImage one = Picture(1, 1, [](int, int) { return Opaque(0, 0, 0); });
  EXPECT_EQ(ErrorOf([&] {
              QuantiseTEX(one, {1, false});
            }),
            "A TEX palette holds 2 to 256 colours, not 1");
  EXPECT_EQ(ErrorOf([&] { IsDirectColourTEX("short"); }), "Stream read error");
}
