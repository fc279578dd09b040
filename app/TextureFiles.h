#pragma once

#include "archive/LGPFile.h"
#include "field/texquantise.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace palkor {

// Pictures into TEX members and TEX members out as pictures: the work of tex-import and
// tex --all, and of the viewer's Replace Texture and Export Texture.

// Whether the member name names a texture: one ending in ".TEX" (any letter case), or a
// battle model's texture, a member CODE + "ac" to "al" beside the model's skeleton
// CODE + "aa".
bool IsTexMemberName(const TLGPFile& archive, const std::string& name);
// The table positions of the archive's texture members, in table order.
std::vector<int32_t> TexMembers(const TLGPFile& archive);

// The name of the picture file a texture member is written to: the member's name with a
// ".TEX" extension dropped, then ".png". Fails as CheckMemberFileName does for a member
// name that cannot name a file.
std::string TexPictureName(const std::string& member);

struct TTexImportOptions {
  // Direct colour (16-bit) even when the member replaced is palettised.
  bool Direct = false;
  TTexQuantiseOptions Quantise;
};

struct TTexImportResult {
  bool Direct = false;
  // Palettised: the number of palette entries written, and whether every colour was
  // kept exactly.
  int32_t Colours = 0;
  bool Exact = false;
  // Pixels neither opaque nor fully transparent, written as opaque; for direct colour,
  // the fully transparent pixels too (the format has no colour key there).
  int64_t PartlyTransparent = 0;
  int64_t TransparentMadeOpaque = 0;
};

// The TEX file that picture becomes, its header taken from header (the member replaced,
// or NewTEXHeader's): direct colour when options.Direct or when header is a direct-colour
// texture, palettised otherwise. Fails as WriteTEX and QuantiseTEX do.
std::string EncodeTexture(const TTexImage& picture, std::string_view header,
                          const TTexImportOptions& options, TTexImportResult& result);

// The header a texture added to the archive takes: that of the first palettised texture
// member in table order, else DefaultTEXHeader.
std::string NewTEXHeader(TLGPFile& archive);

// Writes picture as the archive's texture member: a member that is there is replaced
// (under the archive's lock, its header kept but for the fields describing the picture);
// a missing one is added. Fails with one line, the archive unchanged: "MEMBER is not a
// TEX texture (REASON)" for a member that does not decode as one, the writer's and the
// quantiser's errors, and the archive's own.
TTexImportResult ImportTexture(TLGPFile& archive, const std::string& member,
                               const TTexImage& picture, const TTexImportOptions& options);

// The picture of the archive's texture member at index ("NAME is not a TEX texture
// (REASON)" when it does not decode as one, or decodes to no pixels).
TTexImage ReadTexture(TLGPFile& archive, int32_t index);

// How far ExportTextures is: textures done of the total, and the failures so far (member
// name, message).
struct TTexExportProgress {
  int32_t Done = 0, Total = 0;
  std::vector<std::pair<std::string, std::string>> Failures;
};

// Writes every texture member of the archive as folder/NAME.png (TexPictureName; folder
// made when missing), an 8-bit RGBA PNG each, replaced whole. A member that fails (not a
// texture, a name that cannot name a file, a second member of a name already written)
// is a failure of its own and the others go on. progress is called after each member.
TTexExportProgress ExportTextures(TLGPFile& archive, const std::string& folder,
                                  const std::function<void(const TTexExportProgress&)>& progress);

// Adds a member to the archive, as one rebuild of it (see EditArchive); the archive
// object given reads the file as it was before.
void AddArchiveMember(TLGPFile& archive, const std::string& name, std::string_view data);

} // namespace palkor
