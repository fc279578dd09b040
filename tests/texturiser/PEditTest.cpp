#include "texturiser/pedit.h"

#include "fixtures/FieldWriters.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::ErrorOf;

namespace {

// V = 4 vertices, 2 normals, no texture coordinates, 3 edges, 2 polygons, 2 groups.
TPFixture Plain() {
  TPFixture f;
  f.Vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  f.Normals = {{0, 0, 1}, {0, 0, -1}};
  f.Polys = {{0, 1, 2}, {0, 2, 3}};
  f.Groups = {{1, 0, 1, 0, 0, 0, 0}, {1, 1, 1, 2, 0, 0, 1}};
  f.NormalIndex = {7, 8};
  f.EdgeCount = 3;
  return f;
}

float FloatAt(const std::string& bytes, size_t at) {
  float f;
  std::memcpy(&f, bytes.data() + at, 4);
  return f;
}

int32_t WordAt(const std::string& bytes, size_t at) {
  return GetI32LE(reinterpret_cast<const uint8_t*>(bytes.data()) + at);
}

} // namespace

TEST(PEdit, AddTexDataInsertsACoordinatePerVertexAfterTheNormals) {
  std::string original = BuildP(Plain());
  original.replace(0, 4, "\x11\x22\x33\x44"); // header words nobody reads are kept
  TPFileImage image;
  image.Load(original);
  EXPECT_EQ(image.VertRows(), (std::vector<std::string>{"(Unsuitable)"}));
  EXPECT_FALSE(image.HasTexCoords());
  EXPECT_EQ(image.GroupRows(), (std::vector<std::string>{"Group 1", "Group 2"}));
  image.AddTexData();
  EXPECT_TRUE(image.HasTexCoords());
  const std::string& added = image.Bytes();
  const size_t texStart = 128 + 12 * (4 + 2);
  ASSERT_EQ(added.size(), original.size() + 32);
  EXPECT_EQ(WordAt(added, 24), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(FloatAt(added, texStart + 8 * i), 0.0f);
    EXPECT_EQ(FloatAt(added, texStart + 8 * i + 4), 1.0f);
  }
  // Everything else is the same, in the same order, but each group's TexBase (offset 44
  // of its 56-byte record), now its VertBase.
  std::string expected = original;
  expected.replace(24, 4, added.substr(24, 4));
  expected.insert(texStart, added.substr(texStart, 32));
  const size_t groups = added.size() - 2 * 4 - 28 - 2 * 56;
  for (size_t g = 0; g < 2; ++g)
    expected.replace(groups + 56 * g + 44, 4, expected.substr(groups + 56 * g + 12, 4));
  EXPECT_EQ(added, expected);
  EXPECT_EQ(WordAt(added, groups + 56 + 44), 2);
  EXPECT_EQ(image.VertRows()[3], "Vert 4 - 0.00/1.00");

  const std::string before = image.Bytes();
  EXPECT_EQ(ErrorOf([&] { image.AddTexData(); }), "This part already has texture data");
  EXPECT_EQ(image.Bytes(), before);
}

TEST(PEdit, CoordinatesAndTextureSwitchesWriteTheirFields) {
  TPFileImage image;
  image.Load(BuildP(Plain()));
  image.AddTexData();
  image.SetTexCoord(2, 0.5f, 0.25f);
  EXPECT_EQ(FloatAt(image.Bytes(), 128 + 12 * 6 + 16), 0.5f);
  EXPECT_EQ(FloatAt(image.Bytes(), 128 + 12 * 6 + 20), 0.25f);
  EXPECT_EQ(image.VertRows()[2], "Vert 3 - 0.50/0.25");

  const size_t groups = image.Bytes().size() - 2 * 4 - 28 - 2 * 56;
  const struct {
    bool On, Normals;
    int32_t PrimType, TexFlag;
  } cases[] = {{true, false, 3, 1}, {true, true, 2, 1}, {false, false, 1, 0}};
  for (const auto& c : cases) {
    if (c.On)
      image.TextureOn(1, c.Normals);
    else
      image.TextureOff(1);
    EXPECT_EQ(WordAt(image.Bytes(), groups + 56), c.PrimType);
    EXPECT_EQ(WordAt(image.Bytes(), groups + 56 + 48), c.TexFlag);
    EXPECT_EQ(WordAt(image.Bytes(), groups + 56 + 52), 1); // TexIndex untouched
    EXPECT_EQ(WordAt(image.Bytes(), groups), 1);           // group 1 untouched
  }
  EXPECT_TRUE(image.Part().Groups[1].TexFlag == 0);
}

TEST(PEdit, EditsThatCannotCompleteChangeNothing) {
  TPFileImage image;
  image.Load(BuildP(Plain()));
  const std::string plain = image.Bytes();
  EXPECT_EQ(ErrorOf([&] { image.SetTexCoord(0, 1, 1); }), "List index out of bounds (0)");
  EXPECT_EQ(ErrorOf([&] { image.TextureOn(2, true); }), "List index out of bounds (2)");
  EXPECT_EQ(ErrorOf([&] { image.TextureOff(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(image.Bytes(), plain);
  // A file shorter than its header says.
  image.Load(plain.substr(0, plain.size() - 100));
  EXPECT_EQ(ErrorOf([&] { image.AddTexData(); }), "Stream read error");
  EXPECT_EQ(ErrorOf([&] { image.TextureOn(1, true); }), "Stream read error");
  EXPECT_EQ(ErrorOf([&] { image.VertRows(); }), "Stream read error");
  EXPECT_EQ(image.Bytes(), plain.substr(0, plain.size() - 100));
  image.Load("");
  EXPECT_EQ(ErrorOf([&] { image.GroupRows(); }), "Stream read error");
}
