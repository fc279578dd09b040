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
#include "field/ff73d.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace palkor {

bool ShowCrosshairs = false;

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
    vertex = {-file.X, -file.Y, -file.Z};
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

void TFF7PPart::Draw() const {
  if (ShowCrosshairs) {
    glBegin(GL_LINES);
    glVertex3f(-25, 0, 0);
    glVertex3f(25, 0, 0);
    glVertex3f(0, -25, 0);
    glVertex3f(0, 25, 0);
    glVertex3f(0, 0, -25);
    glVertex3f(0, 0, 25);
    glEnd();
  }
  DrawPass(0);
  DrawPass(1);
}

// Pass 0 emits the triangles of groups with TexFlag 0, pass 1 those with TexFlag 1; the
// GL state of every group is set in both passes, in group order. A textured group whose
// texture is missing ends the pass. Indices outside the part's arrays are invalid
// input: a polygon that would read outside them is skipped, and a texture coordinate
// outside them is not sent.
void TFF7PPart::DrawPass(int pass) const {
  const int64_t vertexCount = int64_t(Vertices.size());
  const int64_t colourCount = int64_t(Colours.size());
  const int64_t texCoordCount = int64_t(TexCoords.size());
  const int64_t polyCount = int64_t(Polys.size());
  for (size_t g = 0; g < Groups.size(); ++g) {
    const TPGroup& group = Groups[g];
    if (group.Textured()) {
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      glEnable(GL_TEXTURE_2D);
      glDepthFunc(GL_LEQUAL);
      if (uint32_t(group.TexIndex) >= Textures.size()) return;
      glBindTexture(GL_TEXTURE_2D, Textures[size_t(group.TexIndex)]);
    } else {
      glDisable(GL_TEXTURE_2D);
      glDisable(GL_BLEND);
    }
    if (DisplayGroup != 0 && DisplayGroup != int32_t(g + 1)) continue;

    const bool emit = group.TexFlag == pass;
    const int64_t first = std::max<int64_t>(group.FirstPoly, 0);
    const int64_t last = std::min<int64_t>(int64_t(group.FirstPoly) + group.NumPolys, polyCount);
    glBegin(GL_TRIANGLES);
    for (int64_t p = first; p < last; ++p) {
      const TPPoly& poly = Polys[size_t(p)];
      bool inside = true;
      for (uint16_t i : poly.Vertices) {
        int64_t vertex = int64_t(group.VertBase) + i;
        inside = inside && vertex >= 0 && vertex < colourCount && (!emit || vertex < vertexCount);
      }
      if (!inside) continue;
      for (uint16_t i : poly.Vertices) {
        int64_t vertex = int64_t(group.VertBase) + i;
        const TRGBA& colour = Colours[size_t(vertex)];
        glColor4ub(colour.R, colour.G, colour.B, colour.A);
        int64_t uv = int64_t(group.TexBase) + i;
        if (uv >= 0 && uv < texCoordCount)
          glTexCoord2f(TexCoords[size_t(uv)].U, TexCoords[size_t(uv)].V);
        if (emit) {
          const TVec3& position = Vertices[size_t(vertex)];
          glVertex3f(position.X, position.Y, position.Z);
        }
      }
    }
    glEnd();
  }
}

} // namespace palkor
