// RSD resource (8-bit text, lines split at CR, LF or CR LF; name=value entries, the name
// before the first "=", the value after it as it stands; names in any case, first match):
//   PLY=<p file>.PLY      the P part: the value without its last two characters
//   NTEX=<count>          the number of textures, decimal
//   TEX[n]=<texture>.TIM  texture n, n from 0 to the count minus 1 in decimal without
//                         leading zeros; its name is made by the caller's rules
// Every other line is ignored; entries at or beyond the count are never read.
#include "field/RSD.h"

#include "platform/Convert.h"

namespace palkor {

namespace {

// name with the text after its last period (when that comes after the last path
// separator) replaced by "TEX", or ".TEX" appended.
std::string WithTEXExtension(const std::string& name) {
  size_t dot = name.rfind('.'), separator = name.find_last_of("/\\");
  if (dot != std::string::npos && (separator == std::string::npos || dot > separator))
    return name.substr(0, dot) + ".TEX";
  return name + ".TEX";
}

} // namespace

TRSDResource::TRSDResource(TStream& stream, std::string name, const TRSDRules& rules)
    : FName(std::move(name)), FRules(rules) {
  FLines.LoadFromStream(stream);
  const std::string ply = FLines.Values("PLY");
  if (ply.size() >= 2) FPName = ply.substr(0, ply.size() - 2);
  const std::string count = FLines.Values("NTEX");
  FTextureCount = FRules.Count == TRSDCount::Strict ? StrToInt(count) : StrToIntDef(count, 0);
}

std::string TRSDResource::TextureName(int32_t n) const {
  std::string value = FLines.Values(Format("TEX[%d]", n));
  switch (FRules.TextureNames) {
  case TRSDTextureNames::ArchiveMember:
    if (value.size() < 2)
      throw Exception(Format("Invalid resource %s: TEX[%d] names no texture", FName, n));
    value.replace(value.size() - 2, 2, "EX");
    return value;
  case TRSDTextureNames::FileWithTEXExtension:
    return WithTEXExtension(value);
  }
  return value;
}

} // namespace palkor
