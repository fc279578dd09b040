#pragma once

#include "field/FieldModel.h"

#include <cstdint>
#include <string>
#include <vector>

namespace palkor {

// The bytes of a P file being edited, and the Texturiser's edits on them. Every edit
// works on the file layout alone, so each byte the part reader skips is carried through;
// an edit that cannot be completed changes nothing.
class TPFileImage {
public:
  // Takes the bytes of a P file (as read, not checked).
  void Load(std::string bytes) { FBytes = std::move(bytes); }
  const std::string& Bytes() const { return FBytes; }
  bool Empty() const { return FBytes.empty(); }

  // The part as the reader sees it ("Stream read error" when the bytes are short).
  TFF7PPart Part() const;
  // "Group 1" ... "Group G", G from the header's group count at offset 52.
  std::vector<std::string> GroupRows() const;
  // The part has texture coordinates ("Stream read error" when the bytes are short).
  bool HasTexCoords() const { return !Part().TexCoords.empty(); }
  // "Vert %d - %.2f/%.2f" per texture coordinate (from 1), or one row "(Unsuitable)"
  // when it has none.
  std::vector<std::string> VertRows() const;

  // Gives each vertex a texture coordinate (0, 1), inserted after the normals, and points
  // each group's TexBase at its VertBase. "This part already has texture data" when the
  // part has texture coordinates.
  void AddTexData();
  // Texture coordinate row (from 0) := (u, v).
  void SetTexCoord(int32_t row, float u, float v);
  // Group (from 0) textured: TexFlag 1 and PrimType 2 with normals, 3 without.
  void TextureOn(int32_t group, bool normals);
  // Group (from 0) plain: TexFlag 0, PrimType 1.
  void TextureOff(int32_t group);

private:
  int32_t HeaderWord(int offset) const;
  int64_t TexCoordStart() const;
  int64_t GroupTableStart() const;
  // The byte offset of group's record, checked against the header's count and the data.
  int64_t GroupRecord(int32_t group) const;
  void PutWord(int64_t offset, uint32_t value);

  std::string FBytes;
};

} // namespace palkor
