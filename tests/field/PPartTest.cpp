#include "field/FieldModel.h"

#include "fixtures/FieldWriters.h"

#include <gtest/gtest.h>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

TPFixture TwoGroups() {
  TPFixture f;
  f.Vertices = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {0, 0, 1}};
  f.Normals = {{0, 0, 1}};
  f.TexCoords = {{0.25f, 0.75f}, {1, 0}};
  f.VertexColours = {{30, 20, 10, 255}, {1, 2, 3, 255}, {4, 5, 6, 255}, {7, 8, 9, 255}};
  f.Polys = {{0, 1, 2}, {1, 2, 3}, {0, 2, 3}};
  f.Groups = {{1, 0, 2, 0, 0, 0, 0}, {2, 2, 1, 1, 0, 1, 0}};
  f.NormalIndex = {5, 6};
  f.EdgeCount = 3;
  return f;
}

TFF7PPart Load(const std::string& bytes) {
  TMemoryStream stream(bytes);
  TFF7PPart part;
  part.LoadFromStream(stream);
  return part;
}

std::string ErrorOf(const std::string& bytes) {
  try {
    Load(bytes);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

} // namespace

TEST(PPart, ReadsEverySectionNegatingVerticesAndReorderingColours) {
  TFF7PPart part = Load(BuildP(TwoGroups()));
  ASSERT_EQ(part.VertexCount(), 4);
  EXPECT_EQ(part.Vertices[0].X, -1);
  EXPECT_EQ(part.Vertices[0].Y, -2);
  EXPECT_EQ(part.Vertices[0].Z, -3);
  EXPECT_EQ(part.Normals.size(), 1u);
  EXPECT_EQ(part.Normals[0].Z, 1); // normals are kept as they are
  ASSERT_EQ(part.TexCoordCount(), 2);
  EXPECT_EQ(part.TexCoords[0].U, 0.25f);
  EXPECT_EQ(part.TexCoords[0].V, 0.75f);
  // Four vertex colours, then three polygon colours; file bytes B G R A become R G B A.
  ASSERT_EQ(part.ColourCount(), 7);
  EXPECT_EQ(part.Colours[0].R, 30);
  EXPECT_EQ(part.Colours[0].G, 20);
  EXPECT_EQ(part.Colours[0].B, 10);
  EXPECT_EQ(part.Colours[0].A, 255);
  EXPECT_FALSE(part.Blended);
  ASSERT_EQ(part.PolyCount(), 3);
  EXPECT_EQ(part.Polys[1].Vertices, (std::array<uint16_t, 3>{1, 2, 3}));
  ASSERT_EQ(part.GroupCount(), 2);
  EXPECT_EQ(part.Groups[1].PrimType, 2);
  EXPECT_EQ(part.Groups[1].FirstPoly, 2);
  EXPECT_EQ(part.Groups[1].VertBase, 1);
  EXPECT_EQ(part.Groups[1].TexFlag, 1);
  EXPECT_TRUE(part.Groups[1].Textured());
  EXPECT_FALSE(part.Groups[0].Textured());
  EXPECT_EQ(part.PolyTotal(), 3);
  EXPECT_EQ(part.NormalIndex, (std::vector<int32_t>{5, 6}));
  EXPECT_TRUE(part.Textures.empty());
}

TEST(PPart, AnyTranslucentColourMakesThePartBlended) {
  TPFixture f = TwoGroups();
  f.VertexColours[2][3] = 254;
  EXPECT_TRUE(Load(BuildP(f)).Blended);
  f = TwoGroups();
  f.PolyColours = {{0, 0, 0, 255}, {0, 0, 0, 255}, {0, 0, 0, 0}};
  EXPECT_TRUE(Load(BuildP(f)).Blended);
  // Loading again starts afresh.
  TMemoryStream translucent(BuildP(f)), opaque(BuildP(TwoGroups()));
  TFF7PPart part;
  part.LoadFromStream(translucent);
  part.Textures.push_back(std::make_shared<TTexImage>());
  part.LoadFromStream(opaque);
  EXPECT_FALSE(part.Blended);
  EXPECT_TRUE(part.Textures.empty());
}

TEST(PPart, ShortOrAbsurdFilesFailWithOneMessage) {
  std::string whole = BuildP(TwoGroups());
  // Cut inside each section: header, vertices, groups, the gap, the normal index table.
  for (size_t cut :
       {size_t(100), size_t(140), whole.size() - 8 - 28 - 20, whole.size() - 10, whole.size() - 1})
    EXPECT_EQ(ErrorOf(whole.substr(0, cut)), "Stream read error") << cut;
  TPFixture f = TwoGroups();
  f.CountOverrides = std::array<int32_t, 7>{4, 1, 2, 2, 3, -3, 2};
  EXPECT_EQ(ErrorOf(BuildP(f)), "Invalid P file: negative count -3 at offset 36");
  f.CountOverrides = std::array<int32_t, 7>{0x7fffffff, 0x7fffffff, 2, 2, 3, 3, 0x7fffffff};
  EXPECT_EQ(ErrorOf(BuildP(f)), "Stream read error");
  EXPECT_EQ(ErrorOf(""), "Stream read error");
}

TEST(PPart, AnEmptyPartHasNothing) {
  TFF7PPart part = Load(BuildP(TPFixture()));
  EXPECT_EQ(part.VertexCount() + part.GroupCount() + part.PolyTotal(), 0);
}
