#include "field/pwrite.h"

#include "fixtures/FieldWriters.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

TFF7PPart Load(const std::string& bytes) {
  TMemoryStream stream(bytes);
  TFF7PPart part;
  part.LoadFromStream(stream);
  // Stand-ins for the textures the groups name, so that the viewer's walk draws them.
  for (const TPGroup& group : part.Groups)
    if (group.Textured() && group.TexIndex >= 0)
      part.Textures.resize(std::max(part.Textures.size(), size_t(group.TexIndex) + 1));
  return part;
}

// A drawn corner: position, colour, texture coordinate (0 0 for a plain group), texture.
using TCorner = std::tuple<float, float, float, int, int, int, int, float, float, int>;

// Every triangle the viewer draws of part, corners in order, as a set of three corners.
std::multiset<std::array<TCorner, 3>> DrawnTriangles(const TFF7PPart& part) {
  std::multiset<std::array<TCorner, 3>> triangles;
  for (int pass = 0; pass < 2; ++pass)
    WalkPartPass(
        part, pass, [](size_t) {},
        [&](size_t g, const TIndexTriple& vertices, const TIndexTriple& uvs) {
          const TPGroup& group = part.Groups[g];
          std::array<TCorner, 3> triangle;
          for (size_t k = 0; k < 3; ++k) {
            const TVec3& p = part.Vertices[size_t(vertices[k])];
            const TRGBA& c = part.Colours[size_t(vertices[k])];
            TTexCoord uv;
            if (group.Textured()) uv = part.TexCoords.at(size_t(uvs[k]));
            triangle[k] = {p.X, p.Y, p.Z,  c.R,  c.G,
                           c.B, c.A, uv.U, uv.V, group.Textured() ? group.TexIndex : -1};
          }
          triangles.insert(triangle);
        },
        0);
  return triangles;
}

std::multiset<std::array<TCorner, 3>> MeshTriangles(const std::vector<TPMeshGroup>& groups) {
  std::multiset<std::array<TCorner, 3>> triangles;
  for (const TPMeshGroup& group : groups)
    for (const auto& t : group.Triangles) {
      std::array<TCorner, 3> triangle;
      for (size_t k = 0; k < 3; ++k) {
        const TPMeshVertex& v = group.Vertices[t[k]];
        const TTexCoord uv = group.TexIndex >= 0 ? v.UV : TTexCoord{};
        triangle[k] = {v.Position.X, v.Position.Y, v.Position.Z, v.Colour.R, v.Colour.G,
                       v.Colour.B,   v.Colour.A,   uv.U,         uv.V,       group.TexIndex};
      }
      triangles.insert(triangle);
    }
  return triangles;
}

// A plain quad of two triangles and a textured triangle on texture 1.
std::vector<TPMeshGroup> QuadAndTriangle() {
  TPMeshGroup plain;
  plain.Vertices = {{{0, 0, 0}, {255, 0, 0, 255}, {}},
                    {{2, 0, 0}, {0, 255, 0, 255}, {}},
                    {{2, 3, 0}, {0, 0, 255, 255}, {}},
                    {{0, 3, 0}, {9, 8, 7, 200}, {}}};
  plain.Triangles = {{0, 1, 2}, {0, 2, 3}};
  TPMeshGroup textured;
  textured.TexIndex = 1;
  textured.Vertices = {{{1, 1, -4}, {10, 20, 30, 255}, {0.25f, 0.5f}},
                       {{-1, 5, 6}, {40, 50, 60, 255}, {1, 0}},
                       {{7, -2, 1}, {70, 80, 90, 255}, {0, 1}}};
  textured.Triangles = {{0, 1, 2}};
  return {plain, textured};
}

int32_t Word(const std::string& bytes, size_t offset) {
  return GetI32LE(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
}

} // namespace

TEST(PWrite, ReadsBackToTheSameTrianglesWithNormalsEdgesAndBounds) {
  const std::vector<TPMeshGroup> groups = QuadAndTriangle();
  const std::string bytes = WritePFile(groups, {});
  const TFF7PPart part = Load(bytes);
  EXPECT_EQ(DrawnTriangles(part), MeshTriangles(groups));

  ASSERT_EQ(part.GroupCount(), 2);
  EXPECT_EQ(Word(bytes, 48), 2);
  EXPECT_EQ(Word(bytes, 52), 2);
  EXPECT_EQ(part.Groups[0].PrimType, 1);
  EXPECT_EQ(part.Groups[1].PrimType, 2);
  EXPECT_TRUE(part.Groups[1].Textured());
  EXPECT_EQ(part.Groups[1].TexIndex, 1);
  EXPECT_EQ(part.TexCoordCount(), 3); // the textured group's vertices only
  // Polygon colours: each polygon's first corner.
  ASSERT_EQ(part.ColourCount(), 7 + 3);
  EXPECT_EQ(part.Colours[7].R, 255);
  EXPECT_EQ(part.Colours[9].R, 10);
  EXPECT_TRUE(part.Blended); // one vertex has alpha 200

  // A normal a vertex, named by the index table. The quad lies in z = 0 of the reader's
  // numbers, so the file's normal is along z, pointing where the file's winding says.
  ASSERT_EQ(part.NormalCount(), 7);
  ASSERT_EQ(part.NormalIndexCount(), 7);
  for (int32_t k = 0; k < 7; ++k) EXPECT_EQ(part.NormalIndex[size_t(k)], k);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_FLOAT_EQ(part.Normals[k].X, 0);
    EXPECT_FLOAT_EQ(part.Normals[k].Y, 0);
    EXPECT_FLOAT_EQ(part.Normals[k].Z, 1); // corners (0,0,0) (-2,0,0) (-2,-3,0) in the file
  }

  // Edges: the quad's five and the triangle's three, each once.
  EXPECT_EQ(Word(bytes, 32), 8);
  // The bounds after the groups, in the file's numbers: largest x y z, then smallest.
  const size_t gap = bytes.size() - 7 * 4 - 28;
  const float expected[6] = {1, 2, 4, -7, -5, -6};
  for (size_t k = 0; k < 6; ++k)
    EXPECT_FLOAT_EQ(GetF32LE(reinterpret_cast<const uint8_t*>(bytes.data()) + gap + 4 + 4 * k),
                    expected[k]);
}

TEST(PWrite, KeepsTheHeaderWordsAndRecordsOfThePartReplaced) {
  TPFixture old;
  old.AddBox(0, 0, 0, 1, 1, 1, {200, 0, 0, 255});
  old.AddBox(0, 0, 0, 1, 1, 1, {0, 0, 200, 255}, 0);
  std::string oldBytes = BuildP(old);
  // Fill what the reader skips with recognisable bytes: header words, the records, the
  // word before the bounds.
  for (size_t k : {0, 4, 8, 20, 40, 44, 56, 100, 124}) oldBytes[k] = char(0x40 + k);
  const TFF7PPart oldPart = Load(oldBytes);
  const size_t records = 128 + size_t(oldPart.VertexCount()) * 12 + oldPart.Normals.size() * 12 +
                         oldPart.TexCoords.size() * 8 + oldPart.Colours.size() * 4 +
                         size_t(Word(oldBytes, 32)) * 4 + oldPart.Polys.size() * 24;
  ASSERT_EQ(oldPart.GroupCount(), 2);
  for (size_t k = 0; k < 200; ++k) oldBytes[records + k] = char(k < 100 ? 'p' : 't');
  oldBytes[records + 200 + 2 * 56] = 'w';

  const TPKeptBytes kept = KeptPBytes(oldBytes);
  ASSERT_EQ(kept.PlainRecords.size(), 1u);
  ASSERT_EQ(kept.TexturedRecords.size(), 1u);
  // New groups in the other order, and a second textured one: each takes its kind's record.
  std::vector<TPMeshGroup> groups = QuadAndTriangle();
  groups = {groups[1], groups[0], groups[1]};
  const std::string bytes = WritePFile(groups, kept);
  for (size_t k : {0, 4, 8, 20, 40, 44, 56, 100, 124}) EXPECT_EQ(bytes[k], char(0x40 + k)) << k;
  const TFF7PPart part = Load(bytes);
  const size_t newRecords = 128 + size_t(part.VertexCount()) * 12 + part.Normals.size() * 12 +
                            part.TexCoords.size() * 8 + part.Colours.size() * 4 +
                            size_t(Word(bytes, 32)) * 4 + part.Polys.size() * 24;
  EXPECT_EQ(bytes.substr(newRecords, 300),
            std::string(100, 't') + std::string(100, 'p') + std::string(100, 't'));
  EXPECT_EQ(bytes[newRecords + 300 + 3 * 56], 'w');
  EXPECT_EQ(DrawnTriangles(part), MeshTriangles(groups));
}

TEST(PWrite, SplitsAGroupPastSixteenBitVertexIndices) {
  // 23,000 triangles of their own three vertices each: 69,000 vertices, two groups.
  TPMeshGroup group;
  group.TexIndex = 0;
  for (uint32_t t = 0; t < 23000; ++t) {
    for (int k = 0; k < 3; ++k)
      group.Vertices.push_back(
          {{float(t), float(k), float(t % 7)}, {uint8_t(t), uint8_t(k), 1, 255}, {float(k), 0}});
    group.Triangles.push_back({3 * t, 3 * t + 1, 3 * t + 2});
  }
  const TFF7PPart part = Load(WritePFile({group}, {}));
  ASSERT_EQ(part.GroupCount(), 2);
  EXPECT_EQ(part.Groups[0].Unused[0], 65535); // vertices of the first group: whole triangles
  for (const TPGroup& g : part.Groups) {
    EXPECT_TRUE(g.Textured());
    EXPECT_LE(g.Unused[0], int32_t(MaxPGroupVertices));
  }
  EXPECT_EQ(part.Groups[1].VertBase, 65535);
  EXPECT_EQ(part.Groups[1].TexBase, 65535);
  EXPECT_EQ(DrawnTriangles(part), MeshTriangles({group}));
}

TEST(PWrite, RefusesATriangleOutsideItsGroupAndReadsNoBrokenPart) {
  std::vector<TPMeshGroup> groups = QuadAndTriangle();
  groups[1].Triangles.push_back({0, 1, 3});
  EXPECT_THROW(WritePFile(groups, {}), Exception);
  EXPECT_THROW(KeptPBytes(std::string(100, '\0')), Exception);
}
