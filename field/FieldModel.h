#pragma once

#include "archive/LGPFile.h"
#include "field/AnimLayout.h"
#include "field/tex.h"
#include "geometry/Matrix.h"
#include "geometry/Skeleton.h"
#include "platform/Streams.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace palkor {

struct TTexCoord {
  float U = 0, V = 0;
};

// A colour as drawn: bytes red, green, blue, alpha.
struct TRGBA {
  uint8_t R = 0, G = 0, B = 0, A = 0;
};

// One 24-byte polygon record: three vertex indices relative to the group's bases, and
// the bytes around them, kept as they were.
struct TPPoly {
  uint16_t Tag = 0;
  std::array<uint16_t, 3> Vertices{};
  std::array<uint8_t, 16> Rest{};
};

// One 56-byte group record.
struct TPGroup {
  int32_t PrimType = 0; // 1 plain, 2 textured with normals, 3 textured without
  int32_t FirstPoly = 0;
  int32_t NumPolys = 0;
  int32_t VertBase = 0;
  std::array<int32_t, 7> Unused{};
  int32_t TexBase = 0;
  int32_t TexFlag = 0;  // 1 textured, 0 plain
  int32_t TexIndex = 0; // into the part's Textures

  bool Textured() const { return (PrimType == 2 || PrimType == 3) && TexFlag == 1; }
};

// A polygon part read from a P file, with the decoded textures its resource names.
class TFF7PPart {
public:
  TFF7PPart() = default;
  // Reads a P file that the stream holds from offset 0. "Stream read error" when the
  // stream is shorter than its counts require; the part is then empty.
  static std::unique_ptr<TFF7PPart> CreateFromStream(TStream& stream);
  void LoadFromStream(TStream& stream);
  void Clear();

  int32_t VertexCount() const { return int32_t(Vertices.size()); }
  int32_t ColourCount() const { return int32_t(Colours.size()); }
  int32_t NormalCount() const { return int32_t(Normals.size()); }
  int32_t TexCoordCount() const { return int32_t(TexCoords.size()); }
  int32_t NormalIndexCount() const { return int32_t(NormalIndex.size()); }
  int32_t GroupCount() const { return int32_t(Groups.size()); }
  int32_t PolyCount() const { return int32_t(Polys.size()); }
  // The sum of the groups' polygon counts.
  int32_t PolyTotal() const;

  std::vector<TVec3> Vertices; // negated on load
  std::vector<TVec3> Normals;
  std::vector<TRGBA> Colours; // one per vertex, then one per polygon
  std::vector<TTexCoord> TexCoords;
  std::vector<TPGroup> Groups;
  std::vector<int32_t> NormalIndex;
  std::vector<TPPoly> Polys;
  // Some colour is translucent, or a texture was added.
  bool Blended = false;
  // Decoded textures, in the order the groups' TexIndex counts them. Parts that name
  // the same texture member share its image.
  std::vector<std::shared_ptr<const TTexImage>> Textures;
  // The archive members of Textures, as the resource names them, when the part was
  // loaded from an archive (empty otherwise).
  std::vector<std::string> TextureNames;
};

// How the viewer draws a part, without drawing: pass 0 draws the groups with TexFlag 0,
// pass 1 those with TexFlag 1 (a part is drawn pass 0 then pass 1). group(g) is called
// for every group whose drawing state the pass sets, in group order; a textured group
// whose texture the part lacks ends the pass right after. polygon(g, vertices, uvs) is
// called for each polygon the pass draws, with its vertex indices into Vertices and
// Colours and its texture-coordinate indices into TexCoords (which may lie outside;
// such a coordinate is not sent). Polygons outside the part's list, and polygons with a
// vertex index outside Vertices or Colours, are skipped whole. With displayGroup n (from
// 1), only group n's polygons are drawn; 0 draws every group's. With everyGroup, polygon
// is also called for the polygons of the groups the pass reaches but does not draw (their
// TexFlag is not the pass): drawing sets their colours and coordinates, which later
// drawing inherits, without their vertices.
using TIndexTriple = std::array<int64_t, 3>;
void WalkPartPass(
    const TFF7PPart& part, int pass, const std::function<void(size_t)>& group,
    const std::function<void(size_t, const TIndexTriple&, const TIndexTriple&)>& polygon,
    int32_t displayGroup = 0, bool everyGroup = false);

// The resource names of an HRC resource line: the count before the first blank is
// dropped; the rest splits at single blanks. A line without a blank is one name,
// whatever it reads as ("12" names 12.rsd), except "0": a bone without parts has that
// line, and it names no resource.
std::vector<std::string> ResourceNames(std::string line);

// One bone of a field model, with the parts that hang on it.
class TFieldBone {
public:
  void AddPart(std::unique_ptr<TFF7PPart> part);
  void SetRotation(float x, float y, float z);

  std::vector<std::unique_ptr<TFF7PPart>> Parts;
  float RotX = 0, RotY = 0, RotZ = 0; // degrees, from the current frame
  std::string Name;
  float Length = 0;     // from this joint to the children's joints, along Z
  int32_t Parent = -1;  // in the model's bone list; -1 for none
  bool Blended = false; // some part is Blended: drawn in the second pass
};

// A field model: an HRC skeleton whose bones carry the parts and textures their RSD
// resources name, posed by one A animation held whole in memory.
class TFieldModel {
public:
  // Builds the model from the members hrcName and animName of an open archive (the
  // caller keeps and frees it), with its textures decoded. An empty animName builds the
  // model without an animation: FrameCount 0, every bone at rotation 0. Throws on any
  // fault: "HRC fail", "List index out of bounds (%d)" (a missing member is -1),
  // "Stream read error", "'%s' is not a valid floating point value".
  TFieldModel(TLGPFile& lgp, const std::string& hrcName, const std::string& animName);

  // Poses every bone from frame; "Stream read error" outside the animation. The frame
  // posed and the bones' rotations are the model's pose: what PoseFrom, export and the
  // pose command read.
  void SetFrame(int32_t frame);
  // Bone-list entry bone's rotation at frame, as stored; "Stream read error" outside
  // the animation. The root's is the frame's second leading triple, never drawn.
  TVec3 GetRotation(int32_t bone, int32_t frame) const;
  // Writes rotation into the animation for entry bone at frame, and poses the current
  // frame again. "Stream write error" outside the animation (it never grows).
  void SetRotation(int32_t bone, int32_t frame, const TVec3& rotation);
  int32_t BoneCount() const { return int32_t(Bones.size()); }
  TFieldBone& GetBone(int32_t index);
  const TFieldBone& GetBone(int32_t index) const;
  // Bone and everything hanging from it, posed at the current frame from base (the
  // root's joint is base itself: the root never turns), in drawing order.
  std::vector<TPosedJoint> PoseFrom(int32_t bone, const TMatrix4& base) const;
  // The turn of a bone as posed now, and the distance from its joint to its children's.
  TMatrix4 BoneTurn(int32_t bone) const;
  const std::vector<std::vector<int32_t>>& Children() const { return FChildren; }
  // Writes AnimData back over the member AnimName in the archive it came from.
  void SaveAnimation();
  // Takes bytes as the whole A file in place of AnimData and shows its frame 0; "Stream
  // read error", and nothing changed, when they hold no whole frame.
  void ReplaceAnimation(std::string_view bytes);

  std::vector<std::unique_ptr<TFieldBone>> Bones; // 0 is the root
  TMemoryStream AnimData;                         // the whole A file
  int32_t FrameCount = 0;
  int32_t CurrentFrame = 0;
  std::string LGPFileName;
  std::string HRCName;
  std::string AnimName;
  const TLGPFileClass* LGPClass = nullptr;

private:
  // Children of each bone in list order, found once: the parents never change.
  std::vector<std::vector<int32_t>> FChildren;
};

} // namespace palkor
