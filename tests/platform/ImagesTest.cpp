#include "platform/images.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/PNGReader.h"
#include "fixtures/TempDir.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Streams.h"

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace palkor;
using palkor::testing::ErrorOf;
using namespace palkor::fixtures;

namespace {

using TPixels = std::vector<uint8_t>;

uint32_t U32At(const std::string& bytes, size_t offset) {
  return GetU32LE(reinterpret_cast<const uint8_t*>(bytes.data() + offset));
}
uint16_t U16At(const std::string& bytes, size_t offset) {
  return GetU16LE(reinterpret_cast<const uint8_t*>(bytes.data() + offset));
}

// 3x2 RGB pixels, each different: top row first.
const TPixels Rgb3x2 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};

} // namespace

TEST(WriteBMP32, WritesHeadersAndBottomUpBGRXRows) {
  TTempDir dir;
  std::string path = dir.File("frame.bmp");
  WriteBMP32(path, 3, 2, Rgb3x2.data());
  std::string bmp = ReadFileBytes(path);
  ASSERT_EQ(bmp.size(), 54u + 3 * 2 * 4);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(U32At(bmp, 2), bmp.size());
  EXPECT_EQ(U32At(bmp, 6), 0u);
  EXPECT_EQ(U32At(bmp, 10), 54u);
  EXPECT_EQ(U32At(bmp, 14), 40u);
  EXPECT_EQ(U32At(bmp, 18), 3u);
  EXPECT_EQ(U32At(bmp, 22), 2u); // positive: bottom-up
  EXPECT_EQ(U16At(bmp, 26), 1);
  EXPECT_EQ(U16At(bmp, 28), 32);
  EXPECT_EQ(U32At(bmp, 30), 0u); // BI_RGB
  EXPECT_EQ(U32At(bmp, 34), 24u);
  for (size_t offset = 38; offset < 54; offset += 4) EXPECT_EQ(U32At(bmp, offset), 0u);
  EXPECT_EQ(TPixels(bmp.begin() + 54, bmp.end()),
            (TPixels{12, 11, 10, 0, 15, 14, 13, 0, 18, 17, 16, 0, // bottom input row
                     3,  2,  1,  0, 6,  5,  4,  0, 9,  8,  7,  0}));
}

TEST(WritePNG, WritesEightBitRGBOrRGBAWithoutInterlacingTopRowFirst) {
  TTempDir dir;
  TPixels rgba = {255, 0, 0, 255, 0, 255, 0, 128, 0,   0,   255, 0,
                  9,   8, 7, 6,   1, 1,   1, 1,   200, 100, 50,  25};
  const struct {
    int Channels;
    const TPixels& Pixels;
    int ColourType;
  } cases[] = {{3, Rgb3x2, 2}, {4, rgba, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Channels);
    std::string path = dir.File("image.png");
    WritePNG(path, 3, 2, c.Pixels.data(), c.Channels);
    TPNGFile png = ReadPNGFile(path);
    EXPECT_EQ(png.Width, 3u);
    EXPECT_EQ(png.Height, 2u);
    EXPECT_EQ(png.BitDepth, 8);
    EXPECT_EQ(png.ColourType, c.ColourType);
    EXPECT_EQ(png.Interlace, 0);
    TPixels expected;
    for (size_t i = 0; i < c.Pixels.size(); i += size_t(c.Channels)) {
      expected.insert(expected.end(), c.Pixels.begin() + i, c.Pixels.begin() + i + 3);
      expected.push_back(c.Channels == 4 ? c.Pixels[i + 3] : 255);
    }
    EXPECT_EQ(png.RGBA, expected);
  }
}

TEST(ImageWriters, FailuresLeaveNoFileAndKeepAnOldOne) {
  TTempDir dir;
  std::string old = dir.File("old.png");
  WriteFile(old, "old contents");
  EXPECT_EQ(ErrorOf([&] { WritePNG(old, 0, 2, Rgb3x2.data(), 3); }),
            "Cannot write an image of 0x2 pixels");
  EXPECT_EQ(ErrorOf([&] { WritePNG(old, 3, 2, Rgb3x2.data(), 2); }),
            "Cannot write a PNG image of 2 channels");
  EXPECT_EQ(ErrorOf([&] { WriteBMP32(old, 3, -2, Rgb3x2.data()); }),
            "Cannot write an image of 3x-2 pixels");
  EXPECT_EQ(ErrorOf([&] { WriteBMP32(old, 65536, 65536, Rgb3x2.data()); }),
            "Cannot write an image of 65536x65536 pixels");
  EXPECT_EQ(ReadFileBytes(old), "old contents");

  std::string missing = dir.File("no/such/folder/x.png");
  EXPECT_EQ(ErrorOf([&] {
              WritePNG(missing, 3, 2, Rgb3x2.data(), 3);
            }).rfind("Cannot create file \"" + missing + "\". ", 0),
            0u);
  EXPECT_EQ(ErrorOf([&] {
              WriteBMP32(missing, 3, 2, Rgb3x2.data());
            }).rfind("Cannot create file \"" + missing + "\". ", 0),
            0u);
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    ++files;
  EXPECT_EQ(files, 1u); // no temporary file left either
}
