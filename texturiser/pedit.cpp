// P file offsets the edits use (see the part reader for the whole layout): vertex count V
// at 12, normals N at 16, texture coordinates T at 24, edges E at 32, polygons P at 36,
// 100-byte records H at 48, groups G at 52. Texture coordinates start at
// 128 + 12 (V + N); the group table at that + 8 T + 4 (V + P + E) + 24 P + 100 H. A group
// record is 56 bytes: PrimType at 0, VertBase at 12, TexBase at 44, TexFlag at 48.
#include "texturiser/pedit.h"

#include "platform/Exceptions.h"

#include <cstring>

namespace palkor {

namespace {

constexpr int64_t GroupRecordSize = 56;

} // namespace

int32_t TPFileImage::HeaderWord(int offset) const {
  if (FBytes.size() < 128) throw EReadError();
  return GetI32LE(reinterpret_cast<const uint8_t*>(FBytes.data()) + offset);
}

int64_t TPFileImage::TexCoordStart() const {
  return 128 + 12 * (int64_t(HeaderWord(12)) + HeaderWord(16));
}

int64_t TPFileImage::GroupTableStart() const {
  int64_t v = HeaderWord(12), t = HeaderWord(24), e = HeaderWord(32), p = HeaderWord(36),
          h = HeaderWord(48);
  return TexCoordStart() + 8 * t + 4 * (v + p + e) + 24 * p + 100 * h;
}

int64_t TPFileImage::GroupRecord(int32_t group) const {
  CheckListIndex(group, HeaderWord(52));
  int64_t at = GroupTableStart() + GroupRecordSize * group;
  if (at < 0 || at + GroupRecordSize > int64_t(FBytes.size())) throw EReadError();
  return at;
}

void TPFileImage::PutWord(int64_t offset, uint32_t value) {
  PutU32LE(reinterpret_cast<uint8_t*>(FBytes.data()) + offset, value);
}

TFF7PPart TPFileImage::Part() const {
  TMemoryStream stream(FBytes);
  TFF7PPart part;
  part.LoadFromStream(stream);
  return part;
}

std::vector<std::string> TPFileImage::GroupRows() const {
  // The count is the file's word: a table it claims beyond the file's end is refused
  // before any row is made.
  const int32_t groups = HeaderWord(52);
  if (groups > 0 && (GroupTableStart() < 0 ||
                     GroupTableStart() + GroupRecordSize * groups > int64_t(FBytes.size())))
    throw EReadError();
  std::vector<std::string> rows;
  for (int32_t g = 1; g <= groups; ++g) rows.push_back("Group " + std::to_string(g));
  return rows;
}

std::vector<std::string> TPFileImage::VertRows() const {
  TFF7PPart part = Part();
  if (part.TexCoords.empty()) return {"(Unsuitable)"};
  std::vector<std::string> rows;
  for (size_t i = 0; i < part.TexCoords.size(); ++i)
    rows.push_back(
        Format("Vert %d - %.2f/%.2f", int(i + 1), part.TexCoords[i].U, part.TexCoords[i].V));
  return rows;
}

void TPFileImage::AddTexData() {
  if (HeaderWord(24) != 0) throw Exception("This part already has texture data");
  const int32_t v = HeaderWord(12), g = HeaderWord(52);
  if (v < 0 || g < 0) throw Exception(Format("Invalid P file: negative count %d", std::min(v, g)));
  const int64_t texStart = TexCoordStart(), groupStart = GroupTableStart();
  const int64_t groupEnd = groupStart + GroupRecordSize * g;
  if (texStart < 128 || groupStart < texStart || groupEnd > int64_t(FBytes.size()))
    throw EReadError();

  std::string image = FBytes.substr(0, size_t(texStart));
  PutU32LE(reinterpret_cast<uint8_t*>(image.data()) + 24, uint32_t(v));
  uint8_t pair[8];
  const float u0 = 0.0f, v1 = 1.0f;
  std::memcpy(pair, &u0, 4);
  std::memcpy(pair + 4, &v1, 4);
  for (int32_t i = 0; i < v; ++i) image.append(reinterpret_cast<const char*>(pair), 8);
  image += FBytes.substr(size_t(texStart), size_t(groupStart - texStart));
  for (int32_t i = 0; i < g; ++i) {
    std::string record =
        FBytes.substr(size_t(groupStart + GroupRecordSize * i), size_t(GroupRecordSize));
    std::memcpy(record.data() + 44, record.data() + 12, 4); // TexBase := VertBase
    image += record;
  }
  image += FBytes.substr(size_t(groupEnd));
  FBytes = std::move(image);
}

void TPFileImage::SetTexCoord(int32_t row, float u, float v) {
  CheckListIndex(row, HeaderWord(24));
  int64_t at = TexCoordStart() + 8 * int64_t(row);
  if (at + 8 > int64_t(FBytes.size())) throw EReadError();
  uint32_t bits;
  std::memcpy(&bits, &u, 4);
  PutWord(at, bits);
  std::memcpy(&bits, &v, 4);
  PutWord(at + 4, bits);
}

void TPFileImage::TextureOn(int32_t group, bool normals) {
  int64_t at = GroupRecord(group);
  PutWord(at + 48, 1);
  PutWord(at, normals ? 2 : 3);
}

void TPFileImage::TextureOff(int32_t group) {
  int64_t at = GroupRecord(group);
  PutWord(at + 48, 0);
  PutWord(at, 1);
}

} // namespace palkor
