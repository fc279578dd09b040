#pragma once

#include "field/FieldModel.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace palkor {

// A corner of a part's mesh: its position as TFF7PPart holds it (negated from the file's
// numbers), its colour as drawn and its texture coordinate.
struct TPMeshVertex {
  TVec3 Position;
  TRGBA Colour;
  TTexCoord UV;
};

// Triangles of one material on one part: plain (TexIndex -1) or textured with the part's
// texture TexIndex. Triangles index Vertices; their corners are written in the order given.
struct TPMeshGroup {
  int32_t TexIndex = -1;
  std::vector<TPMeshVertex> Vertices;
  std::vector<std::array<uint32_t, 3>> Triangles;
};

// The bytes of a P file that the reader skips and a new file keeps: the 128-byte header
// (all but the counts the writer sets) and the 100-byte records of its plain and textured
// groups, in group order, and the word before the bounds after the groups.
struct TPKeptBytes {
  std::string Header = std::string(128, '\0');
  std::vector<std::string> PlainRecords, TexturedRecords;
  uint32_t BoundsWord = 0;
};

// The kept bytes of the P file bytes: "Invalid P file: ..." or "Stream read error" when
// they do not hold a whole P file.
TPKeptBytes KeptPBytes(std::string_view bytes);

// The most vertices one group addresses: its polygons index them in 16 bits.
constexpr size_t MaxPGroupVertices = 65536;

// The P file of groups. A group of more than MaxPGroupVertices vertices is written as
// several, each with the triangles whose corners fit it. The k-th plain (textured) group
// written takes the k-th plain (textured) 100-byte record of kept, or the last one there
// is, or the other kind's first, or zeros. Throws Exception for a triangle whose corner
// is not one of its group's vertices, and for a file too large for the format's counts.
std::string WritePFile(const std::vector<TPMeshGroup>& groups, const TPKeptBytes& kept);

} // namespace palkor
