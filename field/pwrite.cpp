// P polygon part as written (little-endian; counts signed 32-bit; floats IEEE single):
//
//   header, 128 bytes: kept from the part replaced but for 12 vertex count V, 16 normal
//     count N (= V), 24 texture-coordinate count T (the textured groups' vertices), 28
//     normal-index count C (= V), 32 edge count E, 36 polygon count P, 48 and 52 the group
//     count G
//   then packed from 128:
//     V vertices (x y z, the file's numbers: the reader negates them)
//     N normals: per vertex, the unit sum of the area-weighted normals of the triangles
//       around it (0 0 0 for a vertex of none)
//     T texture coordinates (u v), the textured groups' vertices in group order
//     V + P colours (blue green red alpha): the vertices', then each polygon's first
//       corner's
//     E edges: per group, each triangle edge once in the order met, two unsigned 16-bit
//       vertex indices relative to the group's first vertex
//     P polygons of 24 bytes: 2 bytes 0, three unsigned 16-bit vertex indices relative
//       to the group's first vertex, 16 bytes 0
//     G records of 100 bytes, kept from the part replaced (plain and textured apart)
//     G groups of 56 bytes: type (1 plain, 2 textured with normals), first polygon,
//       polygon count, first vertex, vertex count, first edge, edge count, four words 0,
//       first texture coordinate (0 for a plain group), texture flag, texture index
//     28 bytes: a word kept from the part replaced, the largest x y z and the smallest
//       x y z of the vertices (the file's numbers; all 0 for a part of none)
//     C normal indices: vertex k's normal is normal k
#include "field/pwrite.h"

#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace palkor {

namespace {

constexpr size_t PHeaderSize = 128;
constexpr size_t PRecordSize = 100;

// A group as written: at most MaxPGroupVertices vertices.
struct TOutGroup {
  int32_t TexIndex = -1;
  std::vector<const TPMeshVertex*> Vertices;
  std::vector<std::array<uint32_t, 3>> Triangles;
  std::vector<std::array<uint16_t, 2>> Edges;
};

std::vector<TOutGroup> SplitGroups(const std::vector<TPMeshGroup>& groups) {
  std::vector<TOutGroup> out;
  for (const TPMeshGroup& group : groups) {
    const size_t n = group.Vertices.size();
    for (const auto& triangle : group.Triangles)
      for (uint32_t corner : triangle)
        if (corner >= n)
          throw Exception(Format("Cannot write the part: a triangle names vertex %d of %d",
                                 int64_t(corner), int64_t(n)));
    if (n <= MaxPGroupVertices) {
      TOutGroup whole;
      whole.TexIndex = group.TexIndex;
      for (const TPMeshVertex& vertex : group.Vertices) whole.Vertices.push_back(&vertex);
      whole.Triangles = group.Triangles;
      out.push_back(std::move(whole));
      continue;
    }
    // Too many vertices for 16-bit indices: triangles in order, each group as full as its
    // triangles' corners let it be.
    std::vector<int32_t> local(n, -1);
    TOutGroup piece;
    auto flush = [&] {
      for (const TPMeshVertex* vertex : piece.Vertices)
        local[size_t(vertex - group.Vertices.data())] = -1;
      if (!piece.Triangles.empty()) out.push_back(std::move(piece));
      piece = {};
      piece.TexIndex = group.TexIndex;
    };
    piece.TexIndex = group.TexIndex;
    for (const auto& triangle : group.Triangles) {
      size_t fresh = 0;
      for (size_t k = 0; k < 3; ++k) {
        bool seenBefore = false;
        for (size_t j = 0; j < k; ++j) seenBefore = seenBefore || triangle[j] == triangle[k];
        if (!seenBefore && local[triangle[k]] < 0) ++fresh;
      }
      if (piece.Vertices.size() + fresh > MaxPGroupVertices) flush();
      std::array<uint32_t, 3> mapped{};
      for (size_t k = 0; k < 3; ++k) {
        int32_t& index = local[triangle[k]];
        if (index < 0) {
          index = int32_t(piece.Vertices.size());
          piece.Vertices.push_back(&group.Vertices[triangle[k]]);
        }
        mapped[k] = uint32_t(index);
      }
      piece.Triangles.push_back(mapped);
    }
    flush();
  }
  return out;
}

// Each edge of the group's triangles once, in the order the triangles meet them.
void FindEdges(TOutGroup& group) {
  std::unordered_map<uint32_t, bool> seen;
  for (const auto& triangle : group.Triangles)
    for (size_t k = 0; k < 3; ++k) {
      uint32_t a = triangle[k], b = triangle[(k + 1) % 3];
      if (a > b) std::swap(a, b);
      if (seen.emplace((a << 16) | b, true).second)
        group.Edges.push_back({uint16_t(a), uint16_t(b)});
    }
}

TVec3 FileNumbers(const TVec3& held) {
  return {-held.X, -held.Y, -held.Z};
}

class TBytes {
public:
  explicit TBytes(size_t reserve) { FData.reserve(reserve); }
  void Raw(const void* data, size_t size) { FData.append(static_cast<const char*>(data), size); }
  void U16(uint16_t v) {
    const uint8_t bytes[2] = {uint8_t(v), uint8_t(v >> 8)};
    Raw(bytes, 2);
  }
  void U32(uint32_t v) {
    uint8_t bytes[4];
    PutU32LE(bytes, v);
    Raw(bytes, 4);
  }
  void I32(int64_t v) { U32(uint32_t(v)); }
  void F32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    U32(bits);
  }
  void Vec3(const TVec3& v) {
    F32(v.X);
    F32(v.Y);
    F32(v.Z);
  }
  void Colour(const TRGBA& c) {
    const uint8_t bytes[4] = {c.B, c.G, c.R, c.A};
    Raw(bytes, 4);
  }
  std::string& Data() { return FData; }

private:
  std::string FData;
};

const std::string& RecordFor(const std::vector<std::string>& same,
                             const std::vector<std::string>& other, size_t k) {
  static const std::string zeros(PRecordSize, '\0');
  if (!same.empty()) return same[std::min(k, same.size() - 1)];
  if (!other.empty()) return other[0];
  return zeros;
}

} // namespace

TPKeptBytes KeptPBytes(std::string_view bytes) {
  TMemoryStream stream(bytes);
  TFF7PPart part;
  part.LoadFromStream(stream); // checks the counts against the size
  const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
  auto count = [&](size_t offset) { return size_t(GetI32LE(p + offset)); };
  const size_t v = count(12), n = count(16), t = count(24), e = count(32), polys = count(36),
               h = count(48);
  const size_t records =
      PHeaderSize + v * 12 + n * 12 + t * 8 + (v + polys) * 4 + e * 4 + polys * 24;
  TPKeptBytes kept;
  kept.Header.assign(bytes.substr(0, PHeaderSize));
  for (size_t g = 0; g < h; ++g) {
    std::string record(bytes.substr(records + g * PRecordSize, PRecordSize));
    (part.Groups[g].Textured() ? kept.TexturedRecords : kept.PlainRecords)
        .push_back(std::move(record));
  }
  kept.BoundsWord = GetU32LE(p + records + h * (PRecordSize + 56));
  return kept;
}

std::string WritePFile(const std::vector<TPMeshGroup>& groups, const TPKeptBytes& kept) {
  std::vector<TOutGroup> out = SplitGroups(groups);
  int64_t v = 0, t = 0, e = 0, polys = 0;
  for (TOutGroup& group : out) {
    FindEdges(group);
    v += int64_t(group.Vertices.size());
    if (group.TexIndex >= 0) t += int64_t(group.Vertices.size());
    e += int64_t(group.Edges.size());
    polys += int64_t(group.Triangles.size());
  }
  const int64_t h = int64_t(out.size());
  const int64_t size = int64_t(PHeaderSize) + v * 12 + v * 12 + t * 8 + (v + polys) * 4 + e * 4 +
                       polys * 24 + h * int64_t(PRecordSize + 56) + 28 + v * 4;
  if (size > std::numeric_limits<int32_t>::max())
    throw Exception(Format("Cannot write the part: %d bytes, more than a P file holds", size));

  TBytes bytes{size_t(size)};
  std::string header = kept.Header;
  header.resize(PHeaderSize, '\0');
  auto set = [&](size_t offset, int64_t value) {
    PutU32LE(reinterpret_cast<uint8_t*>(header.data()) + offset, uint32_t(value));
  };
  set(12, v), set(16, v), set(24, t), set(28, v), set(32, e), set(36, polys), set(48, h),
      set(52, h);
  bytes.Raw(header.data(), PHeaderSize);

  TVec3 largest{-INFINITY, -INFINITY, -INFINITY}, smallest{INFINITY, INFINITY, INFINITY};
  for (const TOutGroup& group : out)
    for (const TPMeshVertex* vertex : group.Vertices) {
      const TVec3 p = FileNumbers(vertex->Position);
      bytes.Vec3(p);
      largest = {std::max(largest.X, p.X), std::max(largest.Y, p.Y), std::max(largest.Z, p.Z)};
      smallest = {std::min(smallest.X, p.X), std::min(smallest.Y, p.Y), std::min(smallest.Z, p.Z)};
    }
  if (v == 0) largest = smallest = {};

  for (const TOutGroup& group : out) {
    std::vector<TVec3> normals(group.Vertices.size());
    for (const auto& triangle : group.Triangles) {
      const TVec3 a = FileNumbers(group.Vertices[triangle[0]]->Position),
                  b = FileNumbers(group.Vertices[triangle[1]]->Position),
                  c = FileNumbers(group.Vertices[triangle[2]]->Position);
      const TVec3 u{b.X - a.X, b.Y - a.Y, b.Z - a.Z}, w{c.X - a.X, c.Y - a.Y, c.Z - a.Z};
      const TVec3 cross{u.Y * w.Z - u.Z * w.Y, u.Z * w.X - u.X * w.Z, u.X * w.Y - u.Y * w.X};
      for (uint32_t corner : triangle) {
        TVec3& sum = normals[corner];
        sum = {sum.X + cross.X, sum.Y + cross.Y, sum.Z + cross.Z};
      }
    }
    for (TVec3& normal : normals) {
      const float length =
          std::sqrt(normal.X * normal.X + normal.Y * normal.Y + normal.Z * normal.Z);
      normal = length > 0 && std::isfinite(length)
                   ? TVec3{normal.X / length, normal.Y / length, normal.Z / length}
                   : TVec3{};
      bytes.Vec3(normal);
    }
  }

  for (const TOutGroup& group : out)
    if (group.TexIndex >= 0)
      for (const TPMeshVertex* vertex : group.Vertices) {
        bytes.F32(vertex->UV.U);
        bytes.F32(vertex->UV.V);
      }

  for (const TOutGroup& group : out)
    for (const TPMeshVertex* vertex : group.Vertices) bytes.Colour(vertex->Colour);
  for (const TOutGroup& group : out)
    for (const auto& triangle : group.Triangles) bytes.Colour(group.Vertices[triangle[0]]->Colour);

  for (const TOutGroup& group : out)
    for (const auto& edge : group.Edges) {
      bytes.U16(edge[0]);
      bytes.U16(edge[1]);
    }

  static const uint8_t zeros[16] = {};
  for (const TOutGroup& group : out)
    for (const auto& triangle : group.Triangles) {
      bytes.U16(0);
      for (uint32_t corner : triangle) bytes.U16(uint16_t(corner));
      bytes.Raw(zeros, 16);
    }

  size_t plain = 0, textured = 0;
  for (const TOutGroup& group : out) {
    const std::string& record = group.TexIndex >= 0
                                    ? RecordFor(kept.TexturedRecords, kept.PlainRecords, textured++)
                                    : RecordFor(kept.PlainRecords, kept.TexturedRecords, plain++);
    bytes.Raw(record.data(), PRecordSize);
  }

  int64_t firstPoly = 0, firstVertex = 0, firstEdge = 0, firstTexCoord = 0;
  for (const TOutGroup& group : out) {
    const bool isTextured = group.TexIndex >= 0;
    bytes.I32(isTextured ? 2 : 1);
    bytes.I32(firstPoly);
    bytes.I32(int64_t(group.Triangles.size()));
    bytes.I32(firstVertex);
    bytes.I32(int64_t(group.Vertices.size()));
    bytes.I32(firstEdge);
    bytes.I32(int64_t(group.Edges.size()));
    for (int k = 0; k < 4; ++k) bytes.I32(0);
    bytes.I32(isTextured ? firstTexCoord : 0);
    bytes.I32(isTextured ? 1 : 0);
    bytes.I32(isTextured ? group.TexIndex : 0);
    firstPoly += int64_t(group.Triangles.size());
    firstVertex += int64_t(group.Vertices.size());
    firstEdge += int64_t(group.Edges.size());
    if (isTextured) firstTexCoord += int64_t(group.Vertices.size());
  }

  bytes.U32(kept.BoundsWord);
  bytes.Vec3(largest);
  bytes.Vec3(smallest);
  for (int64_t k = 0; k < v; ++k) bytes.I32(k);
  return std::move(bytes.Data());
}

} // namespace palkor
