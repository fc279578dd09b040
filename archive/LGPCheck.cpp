#include "archive/LGPCheck.h"

#include "archive/FolderArchive.h"
#include "archive/LGPTables.h"
#include "platform/StringList.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include <sys/mman.h>

namespace palkor {

namespace {

struct TCheckedMember {
  int32_t Position;
  int64_t Offset, End; // header start; end of data (-1 when the header is unusable)
};

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

// A message as the rest of a sentence.
std::string LowerFirst(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = char(text[0] - 'A' + 'a');
  return text;
}

// The tables of the largest archive the table can count, with every name in the
// conflict table, are less than this.
constexpr int64_t MaxRegion = 16 * 1024 * 1024;

// The archive's bytes for the check. Member headers lie a few kilobytes apart all through
// the file: one read each costs a system call per member, so the file is mapped whole with
// its pages populated at once (no fault per page); where mapping fails the reads go to
// the file.
class TCheckedBytes {
public:
  TCheckedBytes(TFileStream& file, int64_t size) : FFile(file), FSize(size) {
    void* mapped =
        ::mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, file.Handle(), 0);
    if (mapped != MAP_FAILED) FMapped = static_cast<const uint8_t*>(mapped);
  }
  ~TCheckedBytes() {
    if (FMapped) ::munmap(const_cast<uint8_t*>(FMapped), size_t(FSize));
  }
  TCheckedBytes(const TCheckedBytes&) = delete;
  TCheckedBytes& operator=(const TCheckedBytes&) = delete;

  // count bytes at offset, which the caller has checked lie inside the file.
  void Read(int64_t offset, void* buffer, int64_t count) {
    if (FMapped) {
      std::memcpy(buffer, FMapped + offset, size_t(count));
    } else {
      FFile.SetPosition(offset);
      FFile.ReadBuffer(buffer, count);
    }
  }
  std::string ReadBytes(int64_t offset, int64_t count) {
    std::string bytes(size_t(count), '\0');
    Read(offset, bytes.data(), count);
    return bytes;
  }

private:
  TFileStream& FFile;
  int64_t FSize;
  const uint8_t* FMapped = nullptr;
};

} // namespace

std::vector<std::string> CheckArchive(const TArchiveKind& kind) {
  std::vector<std::string> problems;
  if (kind.Class == &TFolderArchive::Class()) return problems;
  TFileStream file(kind.Path, TFileMode::OpenRead);
  const int64_t fileSize = file.Size();
  if (fileSize < LGPHeaderSize) {
    problems.push_back("it ends inside its header");
    return problems;
  }
  TCheckedBytes bytes(file, fileSize);
  uint8_t header[LGPHeaderSize];
  bytes.Read(0, header, LGPHeaderSize);
  const int32_t count = GetI32LE(header + 12);
  if (count < 0) {
    problems.push_back(Format("its member count is negative (%d)", count));
    return problems;
  }
  const int64_t tableEnd = LGPHeaderSize + int64_t(count) * LGPTableEntrySize;
  if (tableEnd > fileSize) {
    problems.push_back(Format("its table of %d members runs past the end of the file", count));
    return problems;
  }
  const std::string table = bytes.ReadBytes(LGPHeaderSize, tableEnd - LGPHeaderSize);
  const auto* entries = reinterpret_cast<const uint8_t*>(table.data());

  std::vector<std::string> names(static_cast<size_t>(count));
  std::vector<TCheckedMember> members;
  int64_t firstOffset = fileSize, lastEnd = tableEnd;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* item = entries + size_t(i) * LGPTableEntrySize;
    const auto* nameField = reinterpret_cast<const char*>(item);
    names[size_t(i)].assign(nameField, strnlen(nameField, LGPNameSize));
    const std::string& name = names[size_t(i)];
    if (LookupSlot(name) < 0)
      problems.push_back(Format("member %s has no place in the lookup table", Quoted(name)));
    const int64_t offset = GetI32LE(item + LGPNameSize);
    firstOffset = std::min(firstOffset, std::max<int64_t>(offset, tableEnd));
    if (offset < tableEnd || offset + LGPMemberHeaderSize > fileSize) {
      problems.push_back(
          Format("member %s: its header at %d lies outside the member data", Quoted(name), offset));
      continue;
    }
    uint8_t memberHeader[LGPMemberHeaderSize];
    bytes.Read(offset, memberHeader, LGPMemberHeaderSize);
    const auto* headerName = reinterpret_cast<const char*>(memberHeader);
    const std::string inHeader(headerName, strnlen(headerName, LGPNameSize));
    if (UpperCaseASCII(inHeader) != UpperCaseASCII(name))
      problems.push_back(
          Format("member %s: its header names it %s", Quoted(name), Quoted(inHeader)));
    const int32_t size = GetI32LE(memberHeader + LGPNameSize);
    if (size < 0 || size > fileSize - offset - LGPMemberHeaderSize) {
      problems.push_back(
          Format("member %s: its size %d runs past the end of the file", Quoted(name), size));
      continue;
    }
    const int64_t end = offset + LGPMemberHeaderSize + size;
    members.push_back({i, offset, end});
    lastEnd = std::max(lastEnd, end);
  }

  std::sort(members.begin(), members.end(), [](const TCheckedMember& a, const TCheckedMember& b) {
    return a.Offset != b.Offset ? a.Offset < b.Offset : a.Position < b.Position;
  });
  int64_t reach = -1;
  int32_t reacher = -1;
  for (const TCheckedMember& member : members) {
    if (member.Offset < reach)
      problems.push_back(Format("members %s and %s overlap", Quoted(names[size_t(reacher)]),
                                Quoted(names[size_t(member.Position)])));
    if (member.End > reach) {
      reach = member.End;
      reacher = member.Position;
    }
  }

  // The lookup and conflict tables lie between the table of members and the first member.
  const std::string region =
      bytes.ReadBytes(tableEnd, std::clamp<int64_t>(firstOffset - tableEnd, 0, MaxRegion));
  TLGPTables found;
  size_t length = 0;
  if (!DecodeLGPTables(region, found, length)) {
    problems.push_back("it has no whole lookup and conflict table after its table of members");
  } else {
    std::vector<std::string> folders(static_cast<size_t>(count));
    for (const auto& conflict : found.Conflicts)
      for (const TConflictMember& member : conflict)
        if (member.Position < folders.size()) folders[member.Position] = member.Folder;
    try {
      std::vector<uint16_t> numbers;
      const TLGPTables expected = MakeLGPTables(names, folders, numbers);
      int32_t wrongSlots = 0;
      for (int32_t slot = 0; slot < LookupSlotCount; ++slot)
        if (!(expected.Lookup[size_t(slot)] == found.Lookup[size_t(slot)])) ++wrongSlots;
      if (wrongSlots > 0)
        problems.push_back(Format("its lookup table does not match its table of members "
                                  "(%d slots differ)",
                                  wrongSlots));
      if (expected.Conflicts != found.Conflicts)
        problems.push_back("its conflict table does not list the names that occur more than once");
      int32_t wrongNumbers = 0;
      for (int32_t i = 0; i < count; ++i)
        if (GetU16LE(entries + size_t(i) * LGPTableEntrySize + 25) != numbers[size_t(i)])
          ++wrongNumbers;
      if (wrongNumbers > 0)
        problems.push_back(Format("table entry bytes 25-26 of %d members do not number their "
                                  "names in the conflict table",
                                  wrongNumbers));
    } catch (const Exception& e) {
      // A name without a slot is said above, member by member.
      if (std::all_of(names.begin(), names.end(),
                      [](const std::string& name) { return LookupSlot(name) >= 0; }))
        problems.push_back(LowerFirst(e.Message()));
    }
  }

  if (fileSize - lastEnd != int64_t(LGPTerminator.size()) ||
      bytes.ReadBytes(lastEnd, int64_t(LGPTerminator.size())) != LGPTerminator)
    problems.push_back(Format("it does not end with \"%s\" right after its last member",
                              std::string(LGPTerminator)));
  return problems;
}

} // namespace palkor
