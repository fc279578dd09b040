// LGP archive layout (little-endian, offsets from the start of the file):
//
//   0    12  creator field: NUL bytes, then the creator text ("SQUARESOFT")
//   12   4   member count, signed
//   16   27 x count  table: 20-byte name (to its first NUL), signed 32-bit offset of the
//            member header, 3 bytes we never interpret but preserve
//   ...      bytes up to the members (the game's own lookup data): never read or changed
//   member:  20-byte name, signed 32-bit data size N, N bytes of data
//   trailer: whatever follows the member with the highest offset (the game's files end
//            in a short text); read only by the verifying open, 255 bytes at most
#include "archive/LGPFile.h"

#include "archive/LGPTables.h"
#include "archive/MemberLog.h"
#include "platform/FilePieces.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/StringList.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace palkor {

namespace {

std::string NameField(const uint8_t* field) {
  size_t length = 0;
  while (length < size_t(LGPNameSize) && field[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(field), length);
}

class TLGPFileClassImpl : public TLGPFileClass {};

// Reads one member header; checks the size against what the file holds.
int32_t ReadMemberHeader(TStream& file, int32_t offset, uint8_t header[LGPMemberHeaderSize]) {
  file.SetPosition(offset);
  file.ReadBuffer(header, LGPMemberHeaderSize);
  return GetI32LE(header + LGPNameSize);
}

// Steps 1-3 of verifying a member: the header must lie inside the stream; its name is
// compared with the table's and its size recorded.
bool VerifyEntry(TStream& stream, int64_t streamSize, TLGPEntry& entry) {
  if (entry.Offset < 0 || int64_t(entry.Offset) + LGPMemberHeaderSize > streamSize) {
    entry.Size = -2;
    return false;
  }
  uint8_t header[LGPMemberHeaderSize];
  entry.Size = ReadMemberHeader(stream, entry.Offset, header);
  if (UpperCaseASCII(NameField(header)) != UpperCaseASCII(entry.Name)) entry.NameMismatch = true;
  return true;
}

std::function<void(const std::string&, bool)>& LockWaitHandler() {
  static std::function<void(const std::string&, bool)> handler;
  return handler;
}

} // namespace

void SetArchiveLockWaitHandler(std::function<void(const std::string&, bool)> handler) {
  LockWaitHandler() = std::move(handler);
}

std::function<void(bool)> ArchiveLockWaiter(const std::string& path) {
  return [path](bool waiting) {
    if (LockWaitHandler()) LockWaitHandler()(path, waiting);
  };
}

void TNameIndex::Clear() {
  FKeys.clear();
  FItems.clear();
}

void TNameIndex::Reserve(size_t count) {
  FKeys.reserve(count * 12);
  FItems.reserve(count);
}

TNameIndex::TProbe TNameIndex::MakeProbe(std::string_view upperName) {
  uint8_t prefix[16] = {};
  std::memcpy(prefix, upperName.data(), std::min<size_t>(16, upperName.size()));
  uint64_t key[2];
  std::memcpy(key, prefix, 16);
  // Big-endian, so that comparing the numbers compares the bytes in order.
  return {__builtin_bswap64(key[0]), __builtin_bswap64(key[1]), upperName};
}

void TNameIndex::Add(std::string_view name, int32_t position) {
  size_t start = FKeys.size();
  FKeys += UpperCaseASCII(name);
  TProbe probe = MakeProbe(std::string_view(FKeys).substr(start));
  FItems.push_back({probe.Key0, probe.Key1, uint32_t(start), uint32_t(name.size()), position});
}

// Orders as comparing the whole texts byte by byte (unsigned) would: the zero padding
// of the prefix only ties, and a tie is settled by the texts.
int TNameIndex::Compare(const TItem& item, const TProbe& probe) const {
  if (item.Key0 != probe.Key0) return item.Key0 < probe.Key0 ? -1 : 1;
  if (item.Key1 != probe.Key1) return item.Key1 < probe.Key1 ? -1 : 1;
  if (item.Length <= 16 && item.Length == probe.Text.size()) return 0;
  return Text(item).compare(probe.Text);
}

void TNameIndex::Sort() {
  std::sort(FItems.begin(), FItems.end(), [this](const TItem& a, const TItem& b) {
    int c = Compare(a, {b.Key0, b.Key1, Text(b)});
    return c != 0 ? c < 0 : a.Position < b.Position;
  });
}

int32_t TNameIndex::Find(std::string_view name) const {
  std::string upper = UpperCaseASCII(name);
  TProbe probe = MakeProbe(upper);
  auto it =
      std::lower_bound(FItems.begin(), FItems.end(), probe,
                       [this](const TItem& item, const TProbe& p) { return Compare(item, p) < 0; });
  if (it == FItems.end() || Compare(*it, probe) != 0) return -1;
  return it->Position;
}

void TLGPMemberReader::ReadHeads(std::span<TMemberHead> heads) {
  for (TMemberHead& head : heads) head.Done = false;
}

const char* TLGPFileClass::ClassName() const {
  return "TLGPFile";
}

std::unique_ptr<TLGPFile> TLGPFileClass::Create(const std::string& fileName, bool verify) const {
  return TLGPFile::Create(fileName, verify);
}

std::unique_ptr<TLGPFile> TLGPFileClass::CreateFromStream(TStream& stream, bool verify) const {
  return TLGPFile::CreateFromStream(stream, verify);
}

const TLGPFileClass& TLGPFile::Class() {
  static const TLGPFileClassImpl instance;
  return instance;
}

std::unique_ptr<TLGPFile> TLGPFile::Create(const std::string& fileName, bool verify) {
  std::unique_ptr<TLGPFile> archive(new TLGPFile());
  archive->Open(fileName, verify);
  return archive;
}

std::unique_ptr<TLGPFile> TLGPFile::CreateFromStream(TStream& stream, bool verify) {
  std::unique_ptr<TLGPFile> archive(new TLGPFile());
  archive->LoadFromStream(stream, verify);
  return archive;
}

TLGPFile::~TLGPFile() = default;

void TLGPFile::Open(const std::string& fileName, bool verify) {
  TReadingScope reading("archive \"" + fileName + "\"");
  TFileStream file(fileName, TFileMode::OpenRead);
  try {
    if (verify) {
      LoadFromStream(file, verify);
    } else {
      // The header only: the table is read when it is needed, and a single member found
      // by name needs only its slot of the lookup table. The table must lie inside the
      // file all the same.
      FEntries.clear();
      FEntriesByOffset.clear();
      FTrailer.clear();
      FCount = ReadHeader(file);
      if (int64_t(FCount) * LGPTableEntrySize > file.Size() - LGPHeaderSize) throw EReadError();
      FTableRead = FCount == 0;
      FFoundIndex = -1;
      InvalidateNameIndex();
    }
  } catch (EReadError& e) {
    e.AddCause(Format("\"%s\" ends before its table of members does", fileName));
    throw;
  }
  FFileName = fileName;
}

void TLGPFile::ReadTable() const {
  if (FTableRead) return;
  TReadingScope reading("archive \"" + FFileName + "\"");
  TFileStream file(FFileName, TFileMode::OpenRead);
  try {
    const_cast<TLGPFile*>(this)->LoadFromStream(file, false);
  } catch (EReadError& e) {
    e.AddCause(Format("\"%s\" ends before its table of members does", FFileName));
    throw;
  }
}

int32_t TLGPFile::FindThroughLookup(const std::string& name) const {
  const int32_t slot = LookupSlot(name);
  if (slot < 0) return -1;
  try {
    TFileStream file(FFileName, TFileMode::OpenRead);
    const int64_t tableEnd = LGPHeaderSize + int64_t(FCount) * LGPTableEntrySize;
    if (file.Size() < tableEnd + LookupTableSize) return -1;
    uint8_t record[4];
    file.SetPosition(tableEnd + 4 * int64_t(slot));
    file.ReadBuffer(record, 4);
    const int32_t first = GetU16LE(record), count = GetU16LE(record + 2);
    if (first < 1 || count == 0 || first - 1 + count > FCount) return -1;
    file.SetPosition(LGPHeaderSize + int64_t(first - 1) * LGPTableEntrySize);
    const std::string entries = file.ReadBytes(int64_t(count) * LGPTableEntrySize);
    for (int32_t k = 0; k < count; ++k) {
      const auto* item = reinterpret_cast<const uint8_t*>(entries.data()) + k * LGPTableEntrySize;
      if (!SameTextASCII(NameField(item), name)) continue;
      FFoundIndex = first - 1 + k;
      FFoundEntry = TLGPEntry();
      FFoundEntry.Name = NameField(item);
      FFoundEntry.Offset = GetI32LE(item + LGPNameSize);
      return FFoundIndex;
    }
  } catch (const EStreamError&) {
    // The table walk answers instead, and says what is wrong if anything is.
  }
  return -1;
}

const TLGPEntry& TLGPFile::EntryAt(int32_t index) const {
  if (!FTableRead) {
    CheckListIndex(index, FCount);
    if (index == FFoundIndex) return FFoundEntry;
    ReadTable();
  }
  CheckListIndex(index, int64_t(FEntries.size()));
  return FEntries[size_t(index)];
}

TLGPEntry TLGPFile::GetEntry(int32_t index) const {
  return EntryAt(index);
}

bool TLGPFile::GetEntryByName(const std::string& name, TLGPEntry& entry) const {
  int32_t index = IndexOf(name);
  if (index < 0) return false;
  entry = EntryAt(index);
  return true;
}

int32_t TLGPFile::IndexOf(const std::string& name) const {
  if (!FTableRead) {
    // The first lookup goes through the game's lookup table; a name not found there is
    // looked for in the whole table, so that a lookup table that is absent or stale
    // never hides a member.
    if (!FNameLookedUp) {
      FNameLookedUp = true;
      if (const int32_t found = FindThroughLookup(name); found >= 0) return found;
    }
    ReadTable();
  }
  if (!FNameIndexSorted) {
    // One lookup is answered by a pass over the table: sorting every name costs more
    // than comparing them once. The index is built on the second lookup.
    if (!FNameLookedUp) {
      FNameLookedUp = true;
      for (size_t i = 0; i < FEntries.size(); ++i)
        if (SameTextASCII(FEntries[i].Name, name)) return int32_t(i);
      return -1;
    }
    FNameIndex.Clear();
    FNameIndex.Reserve(FEntries.size());
    for (size_t i = 0; i < FEntries.size(); ++i) FNameIndex.Add(FEntries[i].Name, int32_t(i));
    FNameIndex.Sort();
    FNameIndexSorted = true;
  }
  return FNameIndex.Find(name);
}

TLGPEntry TLGPFile::GetEntryByOffset(int32_t rank) const {
  OrderByOffset();
  CheckListIndex(rank, int64_t(FEntriesByOffset.size()));
  return *FEntriesByOffset[size_t(rank)];
}

// Ascending offset; an entry lands before earlier table entries of the same offset, as
// inserting each new entry just after the last one with a strictly smaller offset does.
// The game's tables are usually in offset order already. The order is that of the
// offsets as they were read: it is made before any of them changes.
void TLGPFile::OrderByOffset() const {
  ReadTable();
  if (FEntriesByOffset.size() == FEntries.size()) return;
  FEntriesByOffset.clear();
  FEntriesByOffset.reserve(FEntries.size());
  bool ascending = true;
  for (size_t i = 0; i < FEntries.size(); ++i) {
    FEntriesByOffset.push_back(&FEntries[i]);
    ascending = ascending && (i == 0 || FEntries[i].Offset > FEntries[i - 1].Offset);
  }
  if (!ascending) {
    std::reverse(FEntriesByOffset.begin(), FEntriesByOffset.end());
    std::stable_sort(FEntriesByOffset.begin(), FEntriesByOffset.end(),
                     [](const TLGPEntry* a, const TLGPEntry* b) { return a->Offset < b->Offset; });
  }
}

std::unique_ptr<TMemoryStream> TLGPFile::ReadMemberToMemory(int32_t index) {
  auto stream = std::make_unique<TMemoryStream>();
  ReadMember(index, *stream);
  return stream;
}

void TLGPFile::InvalidateNameIndex() {
  FNameIndex.Clear();
  FNameIndexSorted = false;
  FNameLookedUp = false;
}

int32_t TLGPFile::ReadHeader(TStream& stream) {
  uint8_t header[LGPHeaderSize];
  stream.ReadBuffer(header, LGPHeaderSize);
  int32_t count = GetI32LE(header + 12);
  if (count < 0) throw Exception(Format("Invalid archive: negative member count (%d)", count));

  // The creator text runs from the first non-zero byte to the end of the field, NULs and all.
  int first = 0;
  while (first < 12 && header[first] == 0) ++first;
  FCreator.assign(reinterpret_cast<const char*>(header) + first, size_t(12 - first));
  return count;
}

void TLGPFile::LoadFromStream(TStream& stream, bool verify) {
  FEntries.clear();
  FEntriesByOffset.clear();
  FNameIndex.Clear();
  FCount = 0;
  FCreator.clear();
  FTrailer.clear();

  const int32_t count = ReadHeader(stream);

  // The table is read in pieces of whole entries through one small buffer, after checking
  // that the stream holds all of it.
  int64_t tableBytes = int64_t(count) * LGPTableEntrySize;
  int64_t position = stream.Position();
  if (tableBytes > stream.Size() - position) throw EReadError();
  constexpr int32_t entriesPerRead = 2048;
  std::vector<uint8_t> table(size_t(std::min(count, entriesPerRead)) * LGPTableEntrySize);

  FEntries.reserve(size_t(count));
  PrefaultForWrite(FEntries.data(), size_t(count) * sizeof(TLGPEntry));
  FEntries.resize(size_t(count));
  int32_t highestOffset = std::numeric_limits<int32_t>::min();
  for (int32_t start = 0; start < count; start += entriesPerRead) {
    int32_t n = std::min(entriesPerRead, count - start);
    stream.ReadBuffer(table.data(), int64_t(n) * LGPTableEntrySize);
    for (int32_t k = 0; k < n; ++k) {
      const uint8_t* item = table.data() + size_t(k) * LGPTableEntrySize;
      TLGPEntry& entry = FEntries[size_t(start + k)];
      const void* nul = std::memchr(item, 0, LGPNameSize);
      entry.Name.assign(reinterpret_cast<const char*>(item),
                        nul ? size_t(static_cast<const uint8_t*>(nul) - item) : LGPNameSize);
      entry.Offset = GetI32LE(item + LGPNameSize);
      highestOffset = std::max(highestOffset, entry.Offset);
    }
  }
  FCount = count;
  FTableRead = true;
  FFoundIndex = -1;

  InvalidateNameIndex();

  if (!verify) return;
  int64_t streamSize = stream.Size();
  for (TLGPEntry& entry : FEntries) {
    if (!VerifyEntry(stream, streamSize, entry)) continue;
    if (entry.Offset != highestOffset) continue;
    // The trailer follows the data of the member with the highest offset.
    int64_t trailerStart = int64_t(entry.Offset) + LGPMemberHeaderSize + entry.Size;
    if (trailerStart < 0 || trailerStart >= streamSize) continue;
    int64_t n = std::min<int64_t>(255 - int64_t(FTrailer.size()), streamSize - trailerStart);
    if (n <= 0) continue;
    stream.SetPosition(trailerStart);
    FTrailer += stream.ReadBytes(n);
  }
}

namespace {

// Member reads on one open archive file. A member's header and data come in one read
// of the file into a window; the window reads ahead when members are read one after
// another as they lie (a pass over the whole archive), and takes only what is asked for
// when reads jump about (the catalogue's), so neither costs a call to the system a
// member nor copies the whole file.
class TLGPFileMemberReader : public TLGPMemberReader {
public:
  TLGPFileMemberReader(const TLGPFile& archive, const std::string& fileName)
      : FArchive(archive), FFile(fileName, TFileMode::OpenRead), FFileSize(FFile.Size()),
        FPieces(FFile.Handle()) {}

  // Each head's member header and wanted bytes are one piece of the file; pieces of
  // members that lie close together are joined, so that neighbours cost one read. The
  // pieces go to the system in one batch where it takes batches, else in the order the
  // members lie.
  void ReadHeads(std::span<TMemberHead> heads) override {
    FOrder.clear();
    for (uint32_t k = 0; k < heads.size(); ++k) {
      TMemberHead& head = heads[k];
      head.Done = false;
      head.Size = 0;
      head.Data = {};
      if (head.Index >= 0 && head.Index < FArchive.Count()) FOrder.push_back(k);
    }
    auto lies = [&](uint32_t a, uint32_t b) {
      const int32_t oa = FArchive.EntryAt(heads[a].Index).Offset;
      const int32_t ob = FArchive.EntryAt(heads[b].Index).Offset;
      return oa != ob ? oa < ob : a < b;
    };
    if (!std::is_sorted(FOrder.begin(), FOrder.end(), lies))
      std::sort(FOrder.begin(), FOrder.end(), lies);

    FPieceList.clear();
    FHeadPiece.assign(heads.size(), -1);
    int64_t length = 0; // of all pieces
    for (uint32_t k : FOrder) {
      const int64_t offset = FArchive.EntryAt(heads[k].Index).Offset;
      if (offset < 0 || offset + LGPMemberHeaderSize > FFileSize) continue;
      const int64_t end =
          std::min(FFileSize, offset + LGPMemberHeaderSize + std::max(heads[k].Want, 0));
      TFilePiece* last = FPieceList.empty() ? nullptr : &FPieceList.back();
      const int64_t lastEnd = last ? last->Offset + last->Length : 0;
      if (last && offset - lastEnd <= JoinGap && end - last->Offset <= MaxPiece) {
        const int64_t grown = std::max(lastEnd, end);
        length += grown - lastEnd;
        last->Length = int32_t(grown - last->Offset);
      } else {
        FPieceList.push_back({offset, int32_t(end - offset), nullptr, 0});
        length += end - offset;
      }
      FHeadPiece[k] = int32_t(FPieceList.size() - 1);
    }
    if (int64_t(FHeads.size()) < length) {
      // The reads fill it whole: its pages are made present at once.
      FHeads.resize(size_t(length));
      PrefaultForWrite(FHeads.data(), FHeads.size());
    }
    uint8_t* dest = FHeads.data();
    for (TFilePiece& piece : FPieceList) {
      piece.Dest = dest;
      dest += piece.Length;
    }
    if (!FPieceList.empty()) FPieces.Read(FPieceList);

    for (uint32_t k : FOrder) {
      if (FHeadPiece[k] < 0) continue;
      TMemberHead& head = heads[k];
      const TFilePiece& piece = FPieceList[size_t(FHeadPiece[k])];
      const int64_t offset = FArchive.EntryAt(head.Index).Offset;
      const int64_t at = offset - piece.Offset, got = piece.Done - at;
      if (got < LGPMemberHeaderSize) continue;
      const uint8_t* header = piece.Dest + at;
      const int32_t size = GetI32LE(header + LGPNameSize);
      // Sizes that Read refuses are left to it, for its message.
      if (size < 0 || size > FFileSize - offset - LGPMemberHeaderSize) continue;
      const int64_t take = std::min<int64_t>(std::max(head.Want, 0), size);
      if (got - LGPMemberHeaderSize < take) continue;
      head.Done = true;
      head.Size = size;
      head.Data = {reinterpret_cast<const char*>(header + LGPMemberHeaderSize), size_t(take)};
    }
  }

  void Read(int32_t index, TStream& dest, int64_t maxBytes) override {
    const TLGPEntry& entry = FArchive.EntryAt(index);
    const int64_t offset = entry.Offset;
    // Reading ahead doubles with every read in order, up to a limit, and stops when
    // reads jump: a short run of members in order reads little beyond them.
    const bool inOrder = offset == FLastEnd;
    FAhead = inOrder ? std::clamp(FAhead * 2, FirstAhead, MaxAhead) : 0;
    if (!InWindow(offset, LGPMemberHeaderSize)) Fill(offset, LGPMemberHeaderSize, FAhead);
    const uint8_t* header = FWindow.data() + (offset - FWindowStart);
    int32_t size = GetI32LE(header + LGPNameSize);
    if (size < 0)
      throw Exception(
          Format("Invalid archive: member \"%s\" has a negative size (%d)", entry.Name, size));
    // A size beyond the end of the file fails before anything is copied.
    const int64_t dataStart = offset + LGPMemberHeaderSize;
    if (size > FFileSize - dataStart) throw EReadError();
    TMemberReadLog::Note({entry.Name, offset, size, 0});
    const int64_t want = maxBytes < 0 ? size : std::min<int64_t>(size, maxBytes);
    FLastEnd = dataStart + size;
    // A member that is not wholly at hand is fetched into the window when reads run in
    // order or it is small; otherwise the rest of it is read straight into dest.
    const int64_t whole = LGPMemberHeaderSize + want;
    if (!InWindow(dataStart, want) && whole <= (inOrder ? MaxWindow : MinWindow))
      Fill(offset, whole, FAhead);
    if (InWindow(dataStart, want)) {
      dest.WriteBuffer(FWindow.data() + (dataStart - FWindowStart), want);
      return;
    }
    const int64_t buffered = std::max<int64_t>(0, FWindowStart + FWindowLength - dataStart);
    if (buffered > 0) dest.WriteBuffer(FWindow.data() + (dataStart - FWindowStart), buffered);
    FFile.SetPosition(dataStart + buffered);
    dest.CopyFrom(FFile, want - buffered);
  }

private:
  static constexpr int64_t MinWindow = 4096;
  static constexpr int64_t FirstAhead = 16 * 1024;
  static constexpr int64_t MaxAhead = 256 * 1024;
  static constexpr int64_t MaxWindow = 1024 * 1024;
  // Heads whose members lie at most this far apart are read as one piece, of at most
  // MaxPiece bytes: a page of bytes between costs less than another read.
  static constexpr int64_t JoinGap = 4096;
  static constexpr int64_t MaxPiece = 64 * 1024;

  bool InWindow(int64_t start, int64_t length) const {
    return start >= FWindowStart && start + length <= FWindowStart + FWindowLength;
  }
  // Reads from start at least need bytes (or to the end of the file), and ahead as asked.
  void Fill(int64_t start, int64_t need, int64_t ahead) {
    const int64_t length = std::min(std::max({need, MinWindow, ahead}), MaxWindow);
    if (int64_t(FWindow.size()) < length) FWindow.resize(size_t(length));
    FWindowStart = start;
    FWindowLength = 0;
    FFile.SetPosition(start);
    FWindowLength = FFile.Read(FWindow.data(), length);
    if (FWindowLength < LGPMemberHeaderSize) {
      FWindowLength = 0;
      throw EReadError();
    }
  }

  const TLGPFile& FArchive;
  TFileStream FFile;
  const int64_t FFileSize;
  int64_t FWindowStart = -1;
  int64_t FWindowLength = 0;
  int64_t FLastEnd = -1;
  int64_t FAhead = 0;
  std::vector<uint8_t, TUninitialisedAllocator<uint8_t>> FWindow;
  // ReadHeads: the pieces, the heads in the order they lie, each head's piece and the
  // bytes the heads' Data point into.
  TFilePieceReader FPieces;
  std::vector<TFilePiece> FPieceList;
  std::vector<uint32_t> FOrder;
  std::vector<int32_t> FHeadPiece;
  std::vector<uint8_t, TUninitialisedAllocator<uint8_t>> FHeads;
};

} // namespace

std::unique_ptr<TLGPMemberReader> TLGPFile::OpenMemberReader() {
  return std::make_unique<TLGPFileMemberReader>(*this, FFileName);
}

namespace {

// A member's data read from the archive file in large blocks as it is used, so that a
// pass over a member of megabytes costs neither the member in memory nor a call to the
// system for every small read.
class TLGPMemberStream : public TStream {
public:
  explicit TLGPMemberStream(const std::string& fileName) : FFile(fileName, TFileMode::OpenRead) {}

  // Checks the member header as the member reader does; the data follows it.
  void Open(const TLGPEntry& entry) {
    uint8_t header[LGPMemberHeaderSize];
    FFile.SetPosition(entry.Offset);
    if (entry.Offset < 0 || FFile.Read(header, LGPMemberHeaderSize) < LGPMemberHeaderSize)
      throw EReadError();
    const int32_t size = GetI32LE(header + LGPNameSize);
    if (size < 0)
      throw Exception(
          Format("Invalid archive: member \"%s\" has a negative size (%d)", entry.Name, size));
    FStart = int64_t(entry.Offset) + LGPMemberHeaderSize;
    if (size > FFile.Size() - FStart) throw EReadError();
    FSize = size;
    TMemberReadLog::Note({entry.Name, entry.Offset, size, 0});
  }

  int64_t Read(void* buffer, int64_t count) override {
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count && FPosition >= 0 && FPosition < FSize) {
      if (FPosition < FBlockStart || FPosition >= FBlockStart + FBlockLength) {
        // The block holding the position, up to the end of the member.
        FBlock.resize(size_t(BlockSize));
        FBlockStart = FPosition;
        FFile.SetPosition(FStart + FPosition);
        FBlockLength = FFile.Read(FBlock.data(), std::min(BlockSize, FSize - FPosition));
        if (FBlockLength <= 0) throw EReadError(); // the file shrank under us
      }
      const int64_t n = std::min(count - done, FBlockStart + FBlockLength - FPosition);
      std::memcpy(out + done, FBlock.data() + (FPosition - FBlockStart), size_t(n));
      done += n;
      FPosition += n;
    }
    return done;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    FPosition = SeekTarget(FPosition, FSize, offset, origin);
    return FPosition;
  }
  int64_t Size() override { return FSize; }
  bool FileBytes(int& handle, int64_t& offset, int64_t& length) override {
    handle = FFile.Handle();
    offset = FStart;
    length = FSize;
    return true;
  }

private:
  static constexpr int64_t BlockSize = 64 * 1024;
  TFileStream FFile;
  int64_t FStart = 0, FSize = 0, FPosition = 0;
  int64_t FBlockStart = 0, FBlockLength = 0;
  std::vector<uint8_t, TUninitialisedAllocator<uint8_t>> FBlock;
};

} // namespace

std::unique_ptr<TStream> TLGPFile::OpenMemberStream(int32_t index) {
  const TLGPEntry& entry = EntryAt(index);
  auto stream = std::make_unique<TLGPMemberStream>(FFileName);
  try {
    stream->Open(entry);
  } catch (EReadError& e) {
    e.AddCause(Format("%s runs past the end of \"%s\"", entry.Name, FFileName));
    throw;
  }
  return stream;
}

void TLGPFile::ReadMember(int32_t index, TStream& dest) {
  const std::string name = EntryAt(index).Name;
  try {
    OpenMemberReader()->Read(index, dest);
  } catch (EReadError& e) {
    e.AddCause(Format("%s runs past the end of \"%s\"", name, FFileName));
    throw;
  }
}

namespace {

// Opens the archive for writing and waits for its exclusive lock. An archive rebuilt
// meanwhile is a new file in the old one's place, the lock had being that of the old
// one: the new file is opened and locked in turn.
std::unique_ptr<TFileStream> OpenLocked(const std::string& fileName) {
  for (;;) {
    auto file = std::make_unique<TFileStream>(fileName, TFileMode::OpenReadWrite);
    file->LockExclusive(ArchiveLockWaiter(fileName));
    if (PathNamesHandle(fileName, file->Handle())) return file;
  }
}

} // namespace

int32_t TLGPFile::FindAgainLocked(TFileStream& file, int32_t index, const std::string& name) {
  uint8_t tableEntry[LGPTableEntrySize];
  if (size_t(index) < FEntries.size() && SameTextASCII(FEntries[size_t(index)].Name, name) &&
      file.Size() >= LGPHeaderSize + int64_t(index + 1) * LGPTableEntrySize) {
    file.SetPosition(LGPHeaderSize + int64_t(index) * LGPTableEntrySize);
    file.ReadBuffer(tableEntry, LGPTableEntrySize);
    if (UpperCaseASCII(NameField(tableEntry)) == UpperCaseASCII(name)) return index;
  }
  // Members were added, removed or renamed since this archive was opened: the table is
  // read again, and the member found by its name.
  file.SetPosition(0);
  LoadFromStream(file, false);
  OrderByOffset();
  const int32_t found = IndexOf(name);
  if (found < 0)
    throw Exception(Format("Archive \"%s\" was changed by another program: it no longer holds %s",
                           FFileName, name));
  return found;
}

void TLGPFile::WriteMember(int32_t index, TStream& source) {
  const std::string name = EntryAt(index).Name;
  OrderByOffset();
  // Writers of one archive take turns from here to the table entry: two appending at
  // the same old end would overwrite each other's members.
  std::unique_ptr<TFileStream> file = OpenLocked(FFileName);
  WriteMemberLocked(*file, FindAgainLocked(*file, index, name), source);
}

void TLGPFile::ModifyMember(int32_t index,
                            const std::function<std::string(std::string_view)>& change) {
  const std::string name = EntryAt(index).Name;
  OrderByOffset();
  std::unique_ptr<TFileStream> file = OpenLocked(FFileName);
  // The member as the file holds it now: another writer may have moved it since the
  // table was read.
  index = FindAgainLocked(*file, index, name);
  const int64_t size = file->Size();
  uint8_t tableEntry[LGPTableEntrySize];
  file->SetPosition(LGPHeaderSize + int64_t(index) * LGPTableEntrySize);
  file->ReadBuffer(tableEntry, LGPTableEntrySize);
  const int32_t offset = GetI32LE(tableEntry + LGPNameSize);
  uint8_t header[LGPMemberHeaderSize];
  if (offset < 0 || int64_t(offset) + LGPMemberHeaderSize > size) throw EReadError();
  const int32_t dataSize = ReadMemberHeader(*file, offset, header);
  if (dataSize < 0 || dataSize > size - offset - LGPMemberHeaderSize) throw EReadError();
  std::string current = file->ReadBytes(dataSize);
  TMemoryStream changed(change(current));
  WriteMemberLocked(*file, index, changed);
}

void TLGPFile::WriteMemberLocked(TFileStream& file, int32_t index, TStream& source) {
  TLGPEntry& entry = FEntries[size_t(index)];
  int64_t oldSize = file.Size();
  int64_t newOffset = oldSize - int64_t(FTrailer.size());
  int64_t sourceSize = source.Size();
  if (newOffset < 0 || newOffset > std::numeric_limits<int32_t>::max() ||
      sourceSize > std::numeric_limits<int32_t>::max() - LGPMemberHeaderSize)
    throw Exception(Format("Archive \"%s\" cannot grow beyond 2 GB", FFileName));

  int64_t tablePosition = LGPHeaderSize + int64_t(index) * LGPTableEntrySize;
  uint8_t tableEntry[LGPTableEntrySize];
  file.SetPosition(tablePosition);
  file.ReadBuffer(tableEntry, LGPTableEntrySize);

  // The new copy goes to the end of the file (over the remembered trailer, which follows
  // it again) and reaches the disk before the table entry is pointed at it. A failure
  // before that leaves the table on the old copy; the file is then cut back.
  try {
    uint8_t header[LGPMemberHeaderSize];
    std::memcpy(header, tableEntry, LGPNameSize);
    PutU32LE(header + LGPNameSize, uint32_t(int32_t(sourceSize)));
    file.SetPosition(newOffset);
    file.WriteBuffer(header, LGPMemberHeaderSize);
    source.SetPosition(0);
    if (sourceSize > 0) file.CopyFrom(source, sourceSize);
    file.WriteBytes(FTrailer);
    file.Flush();
  } catch (...) {
    try {
      file.SetPosition(newOffset);
      file.WriteBytes(FTrailer);
      file.SetSize(oldSize);
      file.Flush();
    } catch (...) {
      // The old members are intact whatever happens here; only the trailer may suffer.
    }
    throw;
  }

  PutU32LE(tableEntry + LGPNameSize, uint32_t(int32_t(newOffset)));
  file.SetPosition(tablePosition);
  file.WriteBuffer(tableEntry, LGPTableEntrySize);
  file.Flush();

  entry.Offset = int32_t(newOffset);
  entry.Size = int32_t(sourceSize);
}

void TLGPFile::ReloadOffsets() {
  OrderByOffset();
  TFileStream file(FFileName, TFileMode::OpenReadWrite);
  file.SetPosition(LGPHeaderSize);
  for (TLGPEntry& entry : FEntries) {
    uint8_t item[LGPTableEntrySize];
    file.ReadBuffer(item, LGPTableEntrySize);
    entry.Offset = GetI32LE(item + LGPNameSize);
    entry.Size = -1;
  }
}

void TLGPFile::VerifyMembers() {
  ReadTable();
  TFileStream file(FFileName, TFileMode::OpenReadWrite);
  int64_t size = file.Size();
  for (TLGPEntry& entry : FEntries) VerifyEntry(file, size, entry);
}

} // namespace palkor
