// An archive rebuilt whole. The new file, written beside the old one:
//
//   0        12  creator field (the old one's; "\0\0SQUARESOFT" for a new archive)
//   12       4   member count
//   16       27 x count  table, ordered by lookup slot: name, offset, byte 24 (kept; 14 for
//                a new member), bytes 25-26 (the name's number in the conflict table)
//   ...      lookup table and conflict table (LGPTables)
//   members  in table order, each a 24-byte header and its data, with nothing between
//   end      "FINAL FANTASY7"
#include "archive/ArchiveEdit.h"

#include "archive/FolderArchive.h"
#include "archive/LGPTables.h"
#include "archive/MemberHeaders.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/StringList.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <memory_resource>
#include <numeric>

#include <unistd.h>

namespace palkor {

namespace {

// One member of the archive being built. A rebuild holds tens of thousands: each is
// kept small, its name in place and its folder (rare) in the archive's list.
struct TBuiltMember {
  // The name, NUL-padded as the table and the member's header hold it.
  std::array<char, LGPNameSize> NameField{};
  uint8_t NameLength = 0;
  uint8_t Byte24 = NewMemberByte24;
  // Whether the old archive's header of the member names it as the new one does (the
  // size is the same), so that the header is copied with the data.
  bool HeaderKept = false;
  int32_t Folder = -1; // its folder in the conflict table: an index of Folders, or none
  // The data: in the old archive at DataOffset, or a new member's (Source index).
  int32_t Source = -1;
  int32_t Size = 0;
  int64_t DataOffset = -1;

  std::string_view Name() const { return {NameField.data(), NameLength}; }
  // name has been checked to be a member name (at most 20 bytes).
  void SetName(std::string_view name) {
    NameField.fill('\0');
    NameLength = uint8_t(std::min(name.size(), NameField.size()));
    std::copy_n(name.begin(), NameLength, NameField.begin());
    HeaderKept = false;
  }
};

// The archive being built: its members and the folders they name. Rebuilding an
// archive of tens of thousands of members works through arrays of megabytes: they are
// taken from one block in huge pages (Memory), where one is made.
struct TBuiltArchive {
  explicit TBuiltArchive(size_t memoryBytes = 0)
      : Block(memoryBytes), Memory(Block.Data(), Block.Size(), std::pmr::new_delete_resource()),
        Members(&Memory) {}
  THugeBlock Block;
  std::pmr::monotonic_buffer_resource Memory;
  std::string CreatorField;
  std::pmr::vector<TBuiltMember> Members;
  std::vector<std::string> Folders;
};

// A new member's data, open until it is copied.
struct TOpenSource {
  std::unique_ptr<TFileStream> File;
  const std::string* Bytes = nullptr;
  int64_t Size = 0;
};

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The temporary file of a rebuild is named after the archive, so that one left by a
// rebuild killed outright is found and removed by the next.
std::string TempStem(const std::string& path) {
  return BaseName(path) + ".rebuild";
}

int32_t FindBuilt(const std::pmr::vector<TBuiltMember>& members, const std::string& name) {
  for (size_t i = 0; i < members.size(); ++i)
    if (SameTextASCII(members[i].Name(), name)) return int32_t(i);
  return -1;
}

TOpenSource OpenSource(const TMemberData& data) {
  TOpenSource source;
  if (data.Bytes) {
    source.Bytes = &*data.Bytes;
    source.Size = int64_t(data.Bytes->size());
  } else {
    source.File = std::make_unique<TFileStream>(data.Path, TFileMode::OpenRead);
    source.Size = source.File->Size();
  }
  if (source.Size > std::numeric_limits<int32_t>::max() - LGPMemberHeaderSize)
    throw Exception(Format("\"%s\" is too large for an archive member", data.Path));
  return source;
}

// Removes, renames and adds members as edit says; the new members' data is opened into
// sources.
void ApplyEdit(std::pmr::vector<TBuiltMember>& members, const TArchiveEdit& edit,
               const std::string& archive, std::vector<TOpenSource>& sources) {
  for (const std::string& name : edit.Removes) {
    int32_t k = FindBuilt(members, name);
    if (k < 0) throw Exception(Format("no member named %s", name));
    members.erase(members.begin() + k);
  }
  for (const auto& [from, to] : edit.Renames) {
    int32_t k = FindBuilt(members, from);
    if (k < 0) throw Exception(Format("no member named %s", from));
    CheckMemberName(to);
    int32_t there = FindBuilt(members, to);
    if (there >= 0 && there != k) throw Exception(Format("%s is already in %s", to, archive));
    members[size_t(k)].SetName(to);
  }
  for (const TArchiveEdit::TAdd& add : edit.Adds) {
    CheckMemberName(add.Name);
    int32_t k = FindBuilt(members, add.Name);
    if (k >= 0 && !add.Replace) throw Exception(Format("%s is already in %s", add.Name, archive));
    sources.push_back(OpenSource(add.Data));
    TBuiltMember* member = k >= 0 ? &members[size_t(k)] : &members.emplace_back();
    if (k < 0) member->SetName(add.Name);
    member->HeaderKept = false;
    member->DataOffset = -1;
    member->Source = int32_t(sources.size() - 1);
    member->Size = int32_t(sources.back().Size);
  }
}

// Takes the size of an old member from its header in the old archive of fileSize bytes,
// and whether the header names it as the new archive does; fails where the data runs
// past the end of the file.
void TakeOldHeader(const std::string& path, int64_t fileSize, const uint8_t* header,
                   TBuiltMember& member) {
  const int32_t size = GetI32LE(header + LGPNameSize);
  if (size < 0 || size > fileSize - member.DataOffset)
    throw Exception(
        Format("Archive \"%s\" cannot be rebuilt: member \"%s\" runs past the end of the file",
               path, std::string(member.Name())));
  member.Size = size;
  member.HeaderKept = std::memcmp(header, member.NameField.data(), LGPNameSize) == 0;
}

// The old archive's bytes copied to the new one through one buffer as they are read in
// order, the member headers taken from the same reads: a rebuild that keeps the members'
// order reads the old archive once. Bytes that follow one another in both archives are
// written as one run.
class TStreamedCopy {
public:
  TStreamedCopy(int from, int64_t fileSize, int to, std::pmr::memory_resource* memory)
      : FFrom(from), FTo(to), FFileSize(fileSize),
        FBuffer(static_cast<uint8_t*>(memory->allocate(size_t(ReadSize)))) {}

  // The member header at offset (inside the file, not before bytes already copied or
  // asked for); bytes of the run waiting to be written before it are written on the way.
  const uint8_t* Header(int64_t offset) {
    while (!(FStart <= offset && offset + LGPMemberHeaderSize <= FEnd)) {
      if (!WriteBuffered()) return nullptr;
      Fill(FRunStart < FRunEnd ? FRunStart : offset);
    }
    return FBuffer + (offset - FStart);
  }
  // Adds the old bytes [start, end) to what is written, after what was added before.
  bool Add(int64_t start, int64_t end) {
    if (FRunStart < FRunEnd && start == FRunEnd) {
      FRunEnd = end;
      return true;
    }
    if (!Flush()) return false;
    FRunStart = start;
    FRunEnd = end;
    return true;
  }
  // Writes every byte added so far.
  bool Flush() {
    while (FRunStart < FRunEnd) {
      if (!(FStart <= FRunStart && FRunStart < FEnd)) Fill(FRunStart);
      if (!WriteBuffered()) return false;
    }
    return true;
  }

private:
  static constexpr int64_t ReadSize = 256 * 1024;

  // Writes the bytes of the waiting run that the buffer holds.
  bool WriteBuffered() {
    const int64_t from = std::max(FRunStart, FStart), to = std::min(FRunEnd, FEnd);
    if (from >= to) return true;
    if (!WriteToHandle(
            FTo, {reinterpret_cast<const char*>(FBuffer + (from - FStart)), size_t(to - from)}))
      return false;
    FRunStart = to;
    return true;
  }
  // The buffer holds the file from at on.
  void Fill(int64_t at) {
    const int64_t count = std::min(ReadSize, FFileSize - at);
    if (count <= 0) throw EReadError();
    ReadHandleAt(FFrom, FBuffer, count, at); // fails where the locked archive shrank
    FStart = at;
    FEnd = at + count;
  }

  int FFrom, FTo;
  int64_t FFileSize;
  uint8_t* FBuffer;                   // ReadSize bytes, the memory resource's
  int64_t FStart = 0, FEnd = 0;       // the bytes of the file the buffer holds
  int64_t FRunStart = 0, FRunEnd = 0; // old bytes added and not yet written
};

// The sizes the old archive's member headers give (and whether they name the members as
// the new archive does), read in one pass over the file.
void ReadMemberSizes(TFileStream& file, const std::string& path,
                     std::pmr::vector<TBuiltMember>& members) {
  std::vector<int64_t> offsets;
  std::vector<uint32_t> which;
  for (size_t i = 0; i < members.size(); ++i)
    if (members[i].Source < 0) {
      offsets.push_back(members[i].DataOffset - LGPMemberHeaderSize);
      which.push_back(uint32_t(i));
    }
  const int64_t fileSize = file.Size();
  ReadMemberHeaders(file.Handle(), fileSize, offsets, [&](size_t k, const uint8_t* header) {
    TakeOldHeader(path, fileSize, header, members[which[k]]);
  });
}

// Writes the archive built (the old archive open as old, when there is one) in place of
// the file at path: a temporary file beside it, pushed to the disk, renamed over it.
// Returns the new size. The old archive's members come with their data offsets; their
// sizes are read here.
int64_t WriteArchive(const std::string& path, TBuiltArchive& built, TFileStream* old,
                     std::vector<TOpenSource>& sources) {
  std::pmr::vector<TBuiltMember>& members = built.Members;
  std::pmr::memory_resource* memory = &built.Memory;
  // Ordered by slot; members of one slot keep their order.
  std::pmr::vector<int32_t> slots(members.size(), memory);
  for (size_t i = 0; i < members.size(); ++i) slots[i] = LookupSlot(members[i].Name());
  std::pmr::vector<uint32_t> order(members.size(), memory);
  std::iota(order.begin(), order.end(), 0u);
  if (!std::is_sorted(slots.begin(), slots.end()))
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return slots[a] < slots[b]; });
  std::pmr::vector<std::string_view> names(members.size(), memory);
  for (size_t i = 0; i < order.size(); ++i) names[i] = members[order[i]].Name();
  std::vector<uint16_t> conflictNumbers;
  const TLGPTables tables = MakeLGPTables(
      names,
      [&](size_t i) {
        const int32_t folder = members[order[i]].Folder;
        return folder < 0 ? std::string_view() : std::string_view(built.Folders[size_t(folder)]);
      },
      conflictNumbers);
  const std::string encodedTables = EncodeLGPTables(tables);
  const int64_t headSize =
      LGPHeaderSize + int64_t(members.size()) * LGPTableEntrySize + int64_t(encodedTables.size());

  // The old members in the new order lie in the same order in the old archive (as in any
  // rebuild of an archive this program wrote that adds, removes or compacts): they are
  // copied in one pass that reads their headers as it goes. Otherwise their sizes are
  // read first.
  bool streamed = old != nullptr;
  int64_t lastOffset = -1;
  for (uint32_t k : order)
    if (members[k].Source < 0) {
      streamed = streamed && members[k].DataOffset > lastOffset;
      lastOffset = members[k].DataOffset;
    }
  if (old && !streamed) ReadMemberSizes(*old, path, members);

  // The table of members, its offsets from the members' sizes.
  auto makeHead = [&] {
    std::pmr::string head(built.CreatorField, memory);
    head.resize(12, '\0');
    head.resize(LGPHeaderSize + members.size() * LGPTableEntrySize, '\0');
    auto* bytes = reinterpret_cast<uint8_t*>(head.data());
    PutU32LE(bytes + 12, uint32_t(members.size()));
    int64_t offset = headSize;
    for (size_t i = 0; i < members.size(); ++i) {
      const TBuiltMember& member = members[order[i]];
      uint8_t* item = bytes + LGPHeaderSize + i * LGPTableEntrySize;
      std::memcpy(item, member.NameField.data(), member.NameField.size());
      if (offset > std::numeric_limits<int32_t>::max())
        throw Exception(Format("Archive \"%s\" cannot grow beyond 2 GB", path));
      PutU32LE(item + LGPNameSize, uint32_t(offset));
      item[24] = member.Byte24;
      item[25] = uint8_t(conflictNumbers[i] & 0xFF);
      item[26] = uint8_t(conflictNumbers[i] >> 8);
      offset += LGPMemberHeaderSize + int64_t(member.Size);
    }
    head += encodedTables;
    return head;
  };
  int64_t newSize = headSize + int64_t(LGPTerminator.size());

  const std::string stem = TempStem(path);
  TReplacedFile replaced(path, stem);
  replaced.Commit([&](int fd) {
    // The member's header as the new archive gives it.
    auto writeHeader = [&](const TBuiltMember& member) {
      uint8_t header[LGPMemberHeaderSize] = {};
      std::memcpy(header, member.NameField.data(), member.NameField.size());
      PutU32LE(header + LGPNameSize, uint32_t(member.Size));
      return WriteToHandle(fd, {reinterpret_cast<const char*>(header), sizeof header});
    };
    // A new member's header, then its data.
    auto writeNew = [&](const TBuiltMember& member) {
      if (!writeHeader(member)) return false;
      const TOpenSource& source = sources[size_t(member.Source)];
      return source.File ? CopyFileBytes(source.File->Handle(), 0, fd, member.Size)
                         : WriteToHandle(fd, *source.Bytes);
    };
    if (streamed) {
      // The members first, after room for the table, which their sizes give.
      if (::lseek(fd, headSize, SEEK_SET) != headSize) return false;
      TStreamedCopy copy(old->Handle(), old->Size(), fd, memory);
      for (uint32_t k : order) {
        TBuiltMember& member = members[k];
        if (member.Source >= 0) {
          if (!copy.Flush() || !writeNew(member)) return false;
        } else {
          const int64_t at = member.DataOffset - LGPMemberHeaderSize;
          const uint8_t* header = copy.Header(at);
          if (!header) return false;
          TakeOldHeader(path, old->Size(), header, member);
          const int64_t end = member.DataOffset + member.Size;
          if (member.HeaderKept) {
            if (!copy.Add(at, end)) return false;
          } else if (!copy.Flush() || !writeHeader(member) || !copy.Add(member.DataOffset, end)) {
            return false;
          }
        }
        newSize += LGPMemberHeaderSize + int64_t(member.Size);
      }
      if (!copy.Flush() || !WriteToHandle(fd, LGPTerminator)) return false;
      return ::lseek(fd, 0, SEEK_SET) == 0 && WriteToHandle(fd, makeHead());
    }
    for (const TBuiltMember& member : members)
      newSize += LGPMemberHeaderSize + int64_t(member.Size);
    if (!WriteToHandle(fd, makeHead())) return false;
    // Bytes of the old archive that follow one another there and in the new archive are
    // copied as one run: a compact archive's members take one copy, not three system
    // calls each.
    int64_t runStart = 0, runSize = 0;
    auto flushRun = [&] {
      const bool copied = runSize == 0 || CopyFileBytes(old->Handle(), runStart, fd, runSize);
      runSize = 0;
      return copied;
    };
    auto addRun = [&](int64_t start, int64_t size) {
      if (runSize > 0 && runStart + runSize == start) {
        runSize += size;
        return true;
      }
      if (!flushRun()) return false;
      runStart = start;
      runSize = size;
      return true;
    };
    for (uint32_t k : order) {
      const TBuiltMember& member = members[k];
      if (member.Source < 0 && member.HeaderKept) {
        if (!addRun(member.DataOffset - LGPMemberHeaderSize, LGPMemberHeaderSize + member.Size))
          return false;
        continue;
      }
      if (!flushRun()) return false;
      if (member.Source >= 0) {
        if (!writeNew(member)) return false;
        continue;
      }
      if (!writeHeader(member) || !addRun(member.DataOffset, member.Size)) return false;
    }
    return flushRun() && WriteToHandle(fd, LGPTerminator);
  });
  // No other rebuild of this archive runs while its lock is held.
  RemoveLeftTemporaryFiles(replaced.Target(), stem);
  return newSize;
}

// Opens the archive and takes its exclusive lock. A writer that waited while another
// rebuilt the archive holds the lock of a file no longer in its place: it opens the new
// one and waits again.
std::unique_ptr<TFileStream> OpenArchiveLocked(const std::string& path) {
  for (;;) {
    auto file = std::make_unique<TFileStream>(path, TFileMode::OpenReadWrite);
    file->LockExclusive(ArchiveLockWaiter(path));
    if (PathNamesHandle(path, file->Handle())) return file;
  }
}

// The members of the locked archive, each checked to begin inside the file; their sizes
// are read as the new archive is written.
// extraMembers: how many the edit may add.
void ReadMembers(TFileStream& file, const std::string& path, size_t extraMembers,
                 std::unique_ptr<TBuiltArchive>& built) {
  const int64_t fileSize = file.Size();
  auto fail = [&](const std::string& why) {
    return Exception(Format("Archive \"%s\" cannot be rebuilt: %s", path, why));
  };
  if (fileSize < LGPHeaderSize) throw fail("it ends inside its header");
  file.SetPosition(0);
  uint8_t header[LGPHeaderSize];
  file.ReadBuffer(header, LGPHeaderSize);
  const int32_t count = GetI32LE(header + 12);
  const int64_t tableEnd = LGPHeaderSize + int64_t(count) * LGPTableEntrySize;
  if (count < 0 || tableEnd > fileSize) throw fail("its table of members is not inside the file");
  // A member's share of the rebuild's arrays: itself, its table entry read and written,
  // its slot, place in the order and name.
  const size_t memberBytes = sizeof(TBuiltMember) + 2 * LGPTableEntrySize +
                             2 * sizeof(int32_t) + sizeof(std::string_view);
  built = std::make_unique<TBuiltArchive>((size_t(count) + extraMembers) * memberBytes +
                                          (size_t(1) << 20));
  built->CreatorField.assign(reinterpret_cast<const char*>(header), 12);
  std::pmr::memory_resource* memory = &built->Memory;
  std::pmr::vector<uint8_t> table(size_t(tableEnd - LGPHeaderSize), memory);
  file.ReadBuffer(table.data(), int64_t(table.size()));
  const uint8_t* entries = table.data();

  std::pmr::vector<TBuiltMember>& members = built->Members;
  members.reserve(size_t(count) + extraMembers);
  members.resize(size_t(count));
  int64_t firstOffset = fileSize;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* item = entries + size_t(i) * LGPTableEntrySize;
    TBuiltMember& member = members[size_t(i)];
    const auto* name = reinterpret_cast<const char*>(item);
    member.SetName(std::string_view(name, strnlen(name, LGPNameSize)));
    member.Byte24 = item[24];
    const int64_t offset = GetI32LE(item + LGPNameSize);
    if (offset < 0 || offset + LGPMemberHeaderSize > fileSize)
      throw fail(Format("member \"%s\" lies outside the file", std::string(member.Name())));
    member.DataOffset = offset + LGPMemberHeaderSize;
    firstOffset = std::min(firstOffset, std::max(tableEnd, offset));
  }

  // The conflict table's folders, where the old archive has a lookup table.
  TLGPTables tables;
  size_t length = 0;
  file.SetPosition(tableEnd);
  if (DecodeLGPTables(file.ReadBytes(std::min<int64_t>(firstOffset - tableEnd, 16 << 20)), tables,
                      length))
    for (const auto& conflict : tables.Conflicts)
      for (const TConflictMember& member : conflict)
        if (member.Position < members.size()) {
          members[member.Position].Folder = int32_t(built->Folders.size());
          built->Folders.push_back(member.Folder);
        }
}

TEditResult EditFolder(const std::string& folder, const TArchiveEdit& edit) {
  TPathLock lock(folder, ArchiveLockWaiter(folder));
  // The folder as it is now; names in any letter case find their files.
  std::vector<std::string> files;
  for (TFolderFile& file : ListFolderFiles(folder)) files.push_back(std::move(file.Name));
  auto find = [&](const std::string& name) {
    auto it = std::find_if(files.begin(), files.end(),
                           [&](const std::string& file) { return SameTextASCII(file, name); });
    return it;
  };
  // Everything is checked before the first file changes.
  std::vector<std::string> after = files;
  auto findAfter = [&](const std::string& name) {
    return std::find_if(after.begin(), after.end(),
                        [&](const std::string& file) { return SameTextASCII(file, name); });
  };
  for (const std::string& name : edit.Removes) {
    auto it = findAfter(name);
    if (it == after.end()) throw Exception(Format("no member named %s", name));
    after.erase(it);
  }
  for (const auto& [from, to] : edit.Renames) {
    auto it = findAfter(from);
    if (it == after.end()) throw Exception(Format("no member named %s", from));
    CheckMemberName(to);
    auto there = findAfter(to);
    if (there != after.end() && there != it)
      throw Exception(Format("%s is already in %s", to, folder));
    *it = to;
  }
  for (const TArchiveEdit::TAdd& add : edit.Adds) {
    CheckMemberName(add.Name);
    if (findAfter(add.Name) != after.end() && !add.Replace)
      throw Exception(Format("%s is already in %s", add.Name, folder));
    if (findAfter(add.Name) == after.end()) after.push_back(add.Name);
  }

  for (const std::string& name : edit.Removes) {
    auto it = find(name);
    RemoveFile(folder + *it);
    files.erase(it);
  }
  for (const auto& [from, to] : edit.Renames) {
    auto it = find(from);
    RenameFileNoReplace(folder + *it, folder + to);
    *it = to;
  }
  for (const TArchiveEdit::TAdd& add : edit.Adds) {
    auto it = find(add.Name);
    const std::string name = it != files.end() ? *it : add.Name;
    if (add.Data.Bytes) {
      ReplaceFileWithBytes(folder + name, *add.Data.Bytes);
    } else {
      TFileStream source(add.Data.Path, TFileMode::OpenRead);
      ReplaceFileFromStream(folder + name, source);
    }
    if (it == files.end()) files.push_back(name);
  }
  return {};
}

} // namespace

TEditResult EditArchive(const TArchiveKind& kind, const TArchiveEdit& edit) {
  if (kind.Class == &TFolderArchive::Class()) {
    std::string folder = kind.Path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder != "/") folder += '/';
    return EditFolder(folder, edit);
  }
  std::unique_ptr<TFileStream> file = OpenArchiveLocked(kind.Path);
  std::unique_ptr<TBuiltArchive> built;
  ReadMembers(*file, kind.Path, edit.Adds.size(), built);
  std::vector<TOpenSource> sources;
  ApplyEdit(built->Members, edit, kind.Path, sources);
  TEditResult result;
  result.OldSize = file->Size();
  result.NewSize = WriteArchive(kind.Path, *built, file.get(), sources);
  return result;
}

void CreateArchive(const std::string& path, const std::vector<TArchiveEdit::TAdd>& adds) {
  TArchiveEdit edit;
  edit.Adds = adds;
  TBuiltArchive built;
  built.CreatorField = std::string(2, '\0') + "SQUARESOFT";
  std::vector<TOpenSource> sources;
  ApplyEdit(built.Members, edit, path, sources);
  // An archive already there is replaced under its lock, as any change to it is.
  std::unique_ptr<TFileStream> old;
  if (FileExists(path)) old = OpenArchiveLocked(path);
  WriteArchive(path, built, nullptr, sources);
}

} // namespace palkor
