#pragma once

#include "archive/ArchiveEdit.h"
#include "export/gltfimport.h"
#include "field/tex.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace palkor {

class TLGPFile;

// What a model import writes, told before it is written.
struct TModelImportSummary {
  struct TBone {
    std::string Name;
    int64_t Triangles = 0;
    int32_t Textures = 0; // the textures its part names
  };
  std::vector<TBone> Bones; // that got triangles, in skeleton order
  int64_t Triangles = 0;
  int32_t Textures = 0;              // TEX members written
  std::vector<std::string> Warnings; // one line each
  std::vector<std::string> Members;  // members written, in the order added
};

// A model import ready to go into the archive through one rebuild.
struct TModelImport {
  TArchiveEdit Edit;
  TModelImportSummary Summary;
};

// How an imported picture becomes a TEX file (the archive's own choice of header and
// palette); it throws to refuse the picture.
using TTextureEncoder = std::function<std::string(const TTexImage& picture)>;

struct TModelImportOptions {
  // Remove the model's own TEX members that no RSD of the archive names afterwards.
  bool Prune = false;
  TTextureEncoder EncodeTexture;
  // The animations whose frame 0 the file may be bound in, besides every rotation 0.
  TFieldAnimations Animations;
};

// The members that put the first skinned mesh of file on the field model hrcName of
// archive, whose bones the skin's joints are named after: each triangle goes to the joint
// of the largest summed weight over its corners (ties: the lower joint), taken into that
// bone's frame through the model's bind pose; a bone's triangles are grouped by material
// into a P part (textured groups with the material's base colour texture), written over
// the bone's first resource (its RSD and P member) or under new names of the model's
// own; a bone without triangles keeps no part (its HRC resource line becomes "0"). The
// skeleton and the animations are unchanged. Fails with one line: "no skinned mesh in
// FILE", "no joint of the skin in FILE is named as a bone of MODEL", the file's and the
// archive's own errors, and the image's.
TModelImport PlanFieldModelImport(TLGPFile& archive, const std::string& hrcName,
                                  const TGltfAnimationFile& file,
                                  const TModelImportOptions& options);

// The same for a battle model by its two-letter code (joints "root", "bone0", ...): the
// part members, named in bone order from "am", written anew, each keeping the skipped
// bytes of the bone's old part; a bone that had a part and gets no triangles keeps an
// empty one, a bone that gets its first part is marked so in the skeleton member and the
// part members after it move up a name. New pictures become texture members after the
// model's last (at most to "al"). Triangles bound to the root are left out (a warning).
TModelImport PlanBattleModelImport(TLGPFile& archive, const std::string& code,
                                   const TGltfAnimationFile& file,
                                   const TModelImportOptions& options);

// The HRC text with the resource lines of its bones (entries 1, 2, ... of the bone list:
// resources[b - 1]) replaced: "COUNT NAME NAME ...", or "0" for none. Every other byte is
// kept. Fails as the model loader does for a text that is not a skeleton ("HRC fail").
std::string RewriteHRCResources(std::string_view text,
                                const std::vector<std::vector<std::string>>& resources);

// The resource names on each bone's resource line (entries 1, 2, ...), as the loader
// reads them.
std::vector<std::vector<std::string>> HRCResources(std::string_view text);

} // namespace palkor
