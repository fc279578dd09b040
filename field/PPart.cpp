// P polygon part (little-endian; counts signed 32-bit; floats IEEE single):
//
//   header, 128 bytes: 12 vertex count V, 16 normal count N, 24 texture-coordinate count
//     T, 28 normal-index count C, 32 edge count E, 36 polygon count P, 48 count H of
//     100-byte records and of groups (52 holds the same group count); the rest unread
//   then packed from 128: V vertices (x y z), N normals (x y z), T texture coordinates
//     (u v), V + P colours (blue green red alpha bytes), E edges of 4 bytes (skipped),
//     P polygons of 24 bytes, H records of 100 bytes (skipped), H groups of 56 bytes,
//     28 bytes (skipped), C normal indices (32-bit)
//   polygon: 2 unused, three unsigned 16-bit vertex indices, 16 unused
//   group: fourteen 32-bit words: type, first polygon, polygon count, vertex base, seven
//     unused, texture-coordinate base, texture flag, texture index
#include "field/FieldModel.h"

#include "geometry/Conventions.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace palkor {

namespace {

constexpr int64_t PHeaderSize = 128;

TVec3 ReadVec3(const uint8_t* p) {
  return {GetF32LE(p), GetF32LE(p + 4), GetF32LE(p + 8)};
}

} // namespace

std::unique_ptr<TFF7PPart> TFF7PPart::CreateFromStream(TStream& stream) {
  auto part = std::make_unique<TFF7PPart>();
  part->LoadFromStream(stream);
  return part;
}

void TFF7PPart::Clear() {
  Vertices.clear();
  Normals.clear();
  Colours.clear();
  TexCoords.clear();
  Groups.clear();
  NormalIndex.clear();
  Polys.clear();
  Textures.clear();
}

void TFF7PPart::LoadFromStream(TStream& stream) {
  Clear();
  Blended = false;

  uint8_t header[PHeaderSize];
  stream.SetPosition(0);
  stream.ReadBuffer(header, PHeaderSize);
  auto count = [&](int offset) {
    int32_t value = GetI32LE(header + offset);
    if (value < 0)
      throw Exception(Format("Invalid P file: negative count %d at offset %d", value, offset));
    return int64_t(value);
  };
  int64_t v = count(12), n = count(16), t = count(24), c = count(28), e = count(32), p = count(36),
          h = count(48);

  // The whole layout must be there before anything is allocated.
  int64_t size = PHeaderSize + v * 12 + n * 12 + t * 8 + (v + p) * 4 + e * 4 + p * 24 + h * 100 +
                 h * 56 + 28 + c * 4;
  if (size > stream.Size()) throw EReadError();
  std::string bytes = stream.ReadBytes(size - PHeaderSize);
  const uint8_t* q = reinterpret_cast<const uint8_t*>(bytes.data());

  Vertices.resize(size_t(v));
  for (TVec3& vertex : Vertices) {
    TVec3 file = ReadVec3(q);
    vertex = FieldVertex(file.X, file.Y, file.Z);
    q += 12;
  }
  Normals.resize(size_t(n));
  for (TVec3& normal : Normals) {
    normal = ReadVec3(q);
    q += 12;
  }
  TexCoords.resize(size_t(t));
  for (TTexCoord& uv : TexCoords) {
    uv = {GetF32LE(q), GetF32LE(q + 4)};
    q += 8;
  }
  Colours.resize(size_t(v + p));
  for (TRGBA& colour : Colours) {
    colour = {q[2], q[1], q[0], q[3]};
    if (colour.A < 255) Blended = true;
    q += 4;
  }
  q += e * 4;
  Polys.resize(size_t(p));
  for (TPPoly& poly : Polys) {
    poly.Tag = GetU16LE(q);
    for (int k = 0; k < 3; ++k) poly.Vertices[size_t(k)] = GetU16LE(q + 2 + 2 * k);
    std::memcpy(poly.Rest.data(), q + 8, 16);
    q += 24;
  }
  q += h * 100;
  Groups.resize(size_t(h));
  for (TPGroup& group : Groups) {
    group.PrimType = GetI32LE(q);
    group.FirstPoly = GetI32LE(q + 4);
    group.NumPolys = GetI32LE(q + 8);
    group.VertBase = GetI32LE(q + 12);
    for (int k = 0; k < 7; ++k) group.Unused[size_t(k)] = GetI32LE(q + 16 + 4 * k);
    group.TexBase = GetI32LE(q + 44);
    group.TexFlag = GetI32LE(q + 48);
    group.TexIndex = GetI32LE(q + 52);
    q += 56;
  }
  q += 28;
  NormalIndex.resize(size_t(c));
  for (int32_t& index : NormalIndex) {
    index = GetI32LE(q);
    q += 4;
  }
}

int32_t TFF7PPart::PolyTotal() const {
  int64_t total = 0;
  for (const TPGroup& group : Groups) total += group.NumPolys;
  return int32_t(std::clamp<int64_t>(total, std::numeric_limits<int32_t>::min(),
                                     std::numeric_limits<int32_t>::max()));
}

void WalkPartPass(
    const TFF7PPart& part, int pass, const std::function<void(size_t)>& group,
    const std::function<void(size_t, const TIndexTriple&, const TIndexTriple&)>& polygon,
    int32_t displayGroup, bool everyGroup) {
  const int64_t vertexCount = int64_t(part.Vertices.size());
  const int64_t colourCount = int64_t(part.Colours.size());
  const int64_t polyCount = int64_t(part.Polys.size());
  for (size_t g = 0; g < part.Groups.size(); ++g) {
    const TPGroup& grp = part.Groups[g];
    group(g);
    if (grp.Textured() && uint32_t(grp.TexIndex) >= part.Textures.size()) return;
    if (displayGroup != 0 && displayGroup != int32_t(g + 1)) continue;
    if (grp.TexFlag != pass && !everyGroup) continue;

    const int64_t first = std::max<int64_t>(grp.FirstPoly, 0);
    const int64_t last = std::min<int64_t>(int64_t(grp.FirstPoly) + grp.NumPolys, polyCount);
    for (int64_t p = first; p < last; ++p) {
      const TPPoly& poly = part.Polys[size_t(p)];
      TIndexTriple vertices, uvs;
      bool inside = true;
      for (size_t k = 0; k < 3; ++k) {
        vertices[k] = int64_t(grp.VertBase) + poly.Vertices[k];
        uvs[k] = int64_t(grp.TexBase) + poly.Vertices[k];
        inside =
            inside && vertices[k] >= 0 && vertices[k] < colourCount && vertices[k] < vertexCount;
      }
      if (inside) polygon(g, vertices, uvs);
    }
  }
}

} // namespace palkor
