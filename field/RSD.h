#pragma once

#include "platform/StringList.h"

#include <cstdint>
#include <string>

namespace palkor {

// How "NTEX" becomes the texture count.
enum class TRSDCount {
  ZeroUnlessInteger, // a missing value, or one that is no integer, names no texture
  Strict,            // a value that is no integer is the conversion error
};

// How a "TEX[n]" value becomes the name of the texture to load.
enum class TRSDTextureNames {
  // An archive member: the value's last two characters overwritten with "EX" (A.TIM
  // names A.TEX). A value shorter than two characters, as a missing entry below the
  // count has, names nothing and would shift every later texture: it is an error.
  ArchiveMember,
  // A file beside the RSD: the text after the value's last period (when that comes after
  // its last path separator) replaced by "TEX", or ".TEX" appended. Every value names a
  // file this way, a missing entry the file ".TEX".
  FileWithTEXExtension,
};

// A caller's rules for one RSD: the model loader reads resources from an archive, the
// Texturiser one file chosen by the user.
struct TRSDRules {
  TRSDCount Count = TRSDCount::ZeroUnlessInteger;
  TRSDTextureNames TextureNames = TRSDTextureNames::ArchiveMember;
};

// A parsed RSD resource: the P part it names and its textures, in the order the part's
// groups count them. Entries are name=value lines, names in any case, the first match
// winning; everything else in the text is ignored.
class TRSDResource {
public:
  // Reads the text from the stream's position to its end; name is the resource in
  // messages. With TRSDCount::Strict, a count that is no integer throws here.
  TRSDResource(TStream& stream, std::string name, const TRSDRules& rules);

  // The P member "PLY" names: its value without the last two characters (A.PLY names
  // A.P); empty when the entry is missing or shorter.
  const std::string& PName() const { return FPName; }
  // "NTEX" by the rules; 0 or less names no texture.
  int32_t TextureCount() const { return FTextureCount; }
  // The name texture n (0 <= n < TextureCount()) is loaded from, made by the rules from
  // "TEX[n]". Callers load the textures in order and ask for each name as they come to
  // it, so that a fault in an earlier texture is met first: "Invalid resource %s: TEX[%d]
  // names no texture" for a value an archive member cannot be named from.
  std::string TextureName(int32_t n) const;

private:
  TStringList FLines;
  std::string FName;
  TRSDRules FRules;
  std::string FPName;
  int32_t FTextureCount = 0;
};

} // namespace palkor
