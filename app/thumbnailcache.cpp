// Thumbnail cache file (little-endian):
//   0   8  "PKTHUMB1"
//   8   4  picture side N, unsigned
//   then   the archive's path, the model's member and the animation, each a 4-byte length
//          and its bytes
//   then   4-byte member count, and per member its name (as above), then offset, size and
//          modification time, 8 bytes each, signed
//   then   4-byte length and the N x N RGBA pixels compressed by zlib
#include "app/thumbnailcache.h"

#include "app/exportjobs.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Streams.h"

#include <zlib.h>

#include <cstring>

namespace palkor {

namespace {

constexpr char Magic[8] = {'P', 'K', 'T', 'H', 'U', 'M', 'B', '1'};
// Pictures of more are not kept.
constexpr uint32_t MaxKeptSide = 4096;

void PutU32LE(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out += char((value >> (8 * i)) & 0xFF);
}
void PutI64LE(std::string& out, int64_t value) {
  for (int i = 0; i < 8; ++i) out += char((uint64_t(value) >> (8 * i)) & 0xFF);
}
void PutText(std::string& out, const std::string& text) {
  PutU32LE(out, uint32_t(text.size()));
  out += text;
}

// Reads the file's fields in order; any read past its end makes it unreadable.
class TFields {
public:
  explicit TFields(std::string_view bytes) : FBytes(bytes) {}
  bool Ok() const { return FOk; }
  std::string_view Take(uint64_t count) {
    if (!FOk || count > FBytes.size() - FAt) {
      FOk = false;
      return {};
    }
    std::string_view part = FBytes.substr(FAt, size_t(count));
    FAt += size_t(count);
    return part;
  }
  uint32_t ReadU32LE() {
    std::string_view b = Take(4);
    uint32_t value = 0;
    for (size_t i = 0; i < b.size(); ++i) value |= uint32_t(uint8_t(b[i])) << (8 * i);
    return value;
  }
  int64_t ReadI64LE() {
    std::string_view b = Take(8);
    uint64_t value = 0;
    for (size_t i = 0; i < b.size(); ++i) value |= uint64_t(uint8_t(b[i])) << (8 * i);
    return int64_t(value);
  }
  std::string ReadText() { return std::string(Take(ReadU32LE())); }

private:
  std::string_view FBytes;
  size_t FAt = 0;
  bool FOk = true;
};

// FNV-1a, 64 bits.
uint64_t Hash(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
  return hash;
}

} // namespace

std::string TThumbnailCache::FileOf(const TThumbnailKey& key) const {
  std::string identity = key.Archive;
  identity += '\0' + key.Member + '\0' + key.Anim + '\0' + std::to_string(key.Size);
  const std::string prefix = FFolder.empty() || FFolder.back() == '/' ? FFolder : FFolder + "/";
  return prefix + Format("%016llx.thumb", (unsigned long long)Hash(identity));
}

std::vector<uint8_t> TThumbnailCache::Find(TLGPFile& archive, const TThumbnailKey& key) const {
  std::string bytes;
  try {
    const std::string file = FileOf(key);
    if (!FileExists(file)) return {};
    bytes = ReadFileBytes(file);
  } catch (const Exception&) {
    return {};
  }
  TFields fields(bytes);
  if (fields.Take(8) != std::string_view(Magic, 8)) return {};
  const uint32_t side = fields.ReadU32LE();
  if (side != uint32_t(key.Size) || side > MaxKeptSide || fields.ReadText() != key.Archive ||
      fields.ReadText() != key.Member || fields.ReadText() != key.Anim)
    return {};
  const uint32_t count = fields.ReadU32LE();
  std::vector<TMemberStamp> kept;
  std::vector<std::string> names;
  for (uint32_t k = 0; k < count && fields.Ok(); ++k) {
    TMemberStamp stamp;
    stamp.Name = fields.ReadText();
    stamp.Offset = fields.ReadI64LE();
    stamp.Size = fields.ReadI64LE();
    stamp.Modified = fields.ReadI64LE();
    names.push_back(stamp.Name);
    kept.push_back(std::move(stamp));
  }
  const std::string_view packed = fields.Take(fields.ReadU32LE());
  if (!fields.Ok() || kept.empty()) return {};
  try {
    if (StampMembers(archive, names) != kept) return {};
  } catch (const Exception&) {
    return {};
  }
  std::vector<uint8_t> rgba(size_t(side) * side * 4);
  uLongf length = uLongf(rgba.size());
  if (uncompress(rgba.data(), &length, reinterpret_cast<const Bytef*>(packed.data()),
                 uLong(packed.size())) != Z_OK ||
      length != rgba.size())
    return {};
  return rgba;
}

void TThumbnailCache::Store(const TThumbnailKey& key, const std::vector<TMemberStamp>& members,
                            const std::vector<uint8_t>& rgba) const {
  if (key.Size <= 0 || uint32_t(key.Size) > MaxKeptSide ||
      rgba.size() != size_t(key.Size) * size_t(key.Size) * 4)
    throw Exception(Format("Invalid thumbnail of %d pixels a side", key.Size));
  std::string out(Magic, sizeof Magic);
  PutU32LE(out, uint32_t(key.Size));
  PutText(out, key.Archive);
  PutText(out, key.Member);
  PutText(out, key.Anim);
  PutU32LE(out, uint32_t(members.size()));
  for (const TMemberStamp& member : members) {
    PutText(out, member.Name);
    PutI64LE(out, member.Offset);
    PutI64LE(out, member.Size);
    PutI64LE(out, member.Modified);
  }
  std::string packed(compressBound(uLong(rgba.size())), '\0');
  uLongf length = uLongf(packed.size());
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &length, rgba.data(), uLong(rgba.size()),
                Z_BEST_SPEED) != Z_OK)
    throw Exception("Cannot compress a thumbnail");
  packed.resize(length);
  PutText(out, packed);
  MakeFolders(FFolder);
  ReplaceFileWithBytes(FileOf(key), out);
}

} // namespace palkor
