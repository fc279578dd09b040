#include "app/TextureFiles.h"

#include "archive/ArchiveEdit.h"

#include "app/exportjobs.h"
#include "field/tex.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/StringList.h"
#include "platform/images.h"

#include <set>

namespace palkor {

namespace {

bool EndsWithTEX(const std::string& name) {
  return name.size() > 4 && SameTextASCII(std::string_view(name).substr(name.size() - 4), ".TEX");
}

// A battle texture's suffix: "ac" to "al", the members the battle loader reads as
// textures between the skeleton's "aa" and "ab" and the first part's "am".
bool IsBattleTextureName(const TLGPFile& archive, const std::string& name) {
  if (name.size() != 4) return false;
  const char first = char(name[2] | 0x20), second = char(name[3] | 0x20);
  if (first != 'a' || second < 'c' || second > 'l') return false;
  return archive.IndexOf(name.substr(0, 2) + "aa") >= 0;
}

// Decodes bytes as a texture, or fails naming the member.
TTexImage DecodeMember(const std::string& name, std::string_view bytes) {
  try {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    auto image = LoadTEX(stream, TEXDataOffset);
    if (image->Width <= 0 || image->Height <= 0) throw Exception("no pixels");
    return std::move(*image);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw Exception(Format("%s is not a TEX texture (%s)", name, e.what()));
  }
}

} // namespace

bool IsTexMemberName(const TLGPFile& archive, const std::string& name) {
  return EndsWithTEX(name) || IsBattleTextureName(archive, name);
}

std::vector<int32_t> TexMembers(const TLGPFile& archive) {
  std::vector<int32_t> members;
  for (int32_t i = 0; i < archive.Count(); ++i)
    if (IsTexMemberName(archive, archive.EntryAt(i).Name)) members.push_back(i);
  return members;
}

std::string TexPictureName(const std::string& member) {
  CheckMemberFileName(member);
  const std::string base = EndsWithTEX(member) ? member.substr(0, member.size() - 4) : member;
  return base + ".png";
}

std::string EncodeTexture(const TTexImage& picture, std::string_view header,
                          const TTexImportOptions& options, TTexImportResult& result) {
  result = {};
  result.Direct = options.Direct || IsDirectColourTEX(header);
  if (result.Direct) {
    CheckTEXSize("picture", picture.Width, picture.Height);
    const size_t count = picture.Pixels.size() / 4;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t alpha = picture.Pixels[i * 4 + 3];
      result.PartlyTransparent += alpha != 0 && alpha != 255;
      result.TransparentMadeOpaque += alpha == 0;
    }
    return WriteTEX(header, ToDirectColour(picture));
  }
  TTexQuantised quantised = QuantiseTEX(picture, options.Quantise);
  result.Colours = int32_t(quantised.Image.Palette.size());
  result.Exact = quantised.Exact;
  result.PartlyTransparent = quantised.PartlyTransparent;
  return WriteTEX(header, quantised.Image);
}

std::string NewTEXHeader(TLGPFile& archive) {
  for (int32_t index : TexMembers(archive)) {
    const TLGPEntry& entry = archive.EntryAt(index);
    if (!EndsWithTEX(entry.Name)) continue;
    std::unique_ptr<TMemoryStream> data;
    try {
      data = archive.ReadMemberToMemory(index);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception&) {
      continue; // a member that cannot be read lends no header
    }
    const std::string_view bytes = data->View();
    if (bytes.size() < size_t(TEXDataOffset) || IsDirectColourTEX(bytes)) continue;
    const int32_t count = GetI32LE(reinterpret_cast<const uint8_t*>(bytes.data()) + 88);
    if (count <= 0 || count > 256) continue;
    // Only a texture that decodes lends its header: a damaged member's bytes could say
    // anything about the picture.
    try {
      DecodeMember(entry.Name, bytes);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception&) {
      continue;
    }
    return std::string(bytes.substr(0, size_t(TEXDataOffset)));
  }
  return DefaultTEXHeader();
}

TTexImportResult ImportTexture(TLGPFile& archive, const std::string& member,
                               const TTexImage& picture, const TTexImportOptions& options) {
  TTexImportResult result;
  const int32_t index = archive.IndexOf(member);
  if (index < 0) {
    const std::string bytes = EncodeTexture(picture, NewTEXHeader(archive), options, result);
    AddArchiveMember(archive, member, bytes);
    return result;
  }
  const std::string name = archive.EntryAt(index).Name;
  // The picture is made ready outside the archive's lock; under it, the member as it is
  // then lends its header (and is encoded anew only if it changed between palettised
  // and direct colour meanwhile).
  const std::string before(archive.ReadMemberToMemory(index)->View());
  DecodeMember(name, before);
  std::string encoded = EncodeTexture(picture, before, options, result);
  archive.ModifyMember(index, [&](std::string_view current) {
    DecodeMember(name, current);
    if (!options.Direct && IsDirectColourTEX(current) != result.Direct)
      encoded = EncodeTexture(picture, current, options, result);
    return WithTEXHeader(encoded, current);
  });
  return result;
}

TTexImage ReadTexture(TLGPFile& archive, int32_t index) {
  const std::string name = archive.EntryAt(index).Name;
  return DecodeMember(name, archive.ReadMemberToMemory(index)->View());
}

TTexExportProgress ExportTextures(TLGPFile& archive, const std::string& folder,
                                  const std::function<void(const TTexExportProgress&)>& progress) {
  const std::vector<int32_t> members = TexMembers(archive);
  TTexExportProgress state;
  state.Total = int32_t(members.size());
  MakeFolders(folder);
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  std::set<std::string> written;
  std::unique_ptr<TLGPMemberReader> reader = archive.OpenMemberReader();
  TMemoryStream data;
  for (int32_t index : members) {
    const std::string name = archive.EntryAt(index).Name;
    try {
      const std::string file = TexPictureName(name);
      if (!written.insert(file).second)
        throw Exception(file + " is written already, for an earlier member of the same name");
      data.Clear();
      reader->Read(index, data);
      const TTexImage image = DecodeMember(name, data.View());
      WritePNG(prefix + file, image.Width, image.Height, image.Pixels.data(), 4);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      state.Failures.emplace_back(name, e.what());
    }
    ++state.Done;
    if (progress) progress(state);
  }
  return state;
}

void AddArchiveMember(TLGPFile& archive, const std::string& name, std::string_view data) {
  // One rebuild of the archive with the new member (a folder archive writes the file).
  TArchiveEdit edit;
  TArchiveEdit::TAdd add;
  add.Name = name;
  add.Data.Bytes = std::string(data);
  edit.Adds.push_back(std::move(add));
  EditArchive(TArchiveKind{&archive.ClassType(), archive.FileName()}, edit);
}

} // namespace palkor
