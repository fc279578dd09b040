#include "archive/LGPCheck.h"

#include "archive/FolderArchive.h"
#include "archive/LGPTables.h"
#include "archive/MemberHeaders.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/StringList.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <span>
#include <string_view>

namespace palkor {

namespace {

std::string Quoted(std::string_view name) {
  return "\"" + std::string(name) + "\"";
}

// A message as the rest of a sentence.
std::string LowerFirst(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = char(text[0] - 'A' + 'a');
  return text;
}

// The tables of the largest archive the table can count, with every name in the
// conflict table, are less than this.
constexpr int64_t MaxRegion = 16 * 1024 * 1024;

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
  // count bytes at offset, which the caller has checked lie inside the file.
  auto readBytes = [&file](int64_t offset, int64_t count) {
    file.SetPosition(offset);
    return file.ReadBytes(count);
  };
  uint8_t header[LGPHeaderSize];
  ReadHandleAt(file.Handle(), header, LGPHeaderSize, 0);
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
  // The table and the arrays a member each, in one block.
  const size_t members = static_cast<size_t>(count);
  THugeBlock block(size_t(tableEnd - LGPHeaderSize) + 64 +
                   members * (sizeof(std::string_view) + sizeof(int64_t) + 2 * sizeof(int32_t)));
  uint8_t* const entries = block.Take<uint8_t>(size_t(tableEnd - LGPHeaderSize));
  ReadHandleAt(file.Handle(), entries, tableEnd - LGPHeaderSize, LGPHeaderSize);

  // The names as the table holds them, and the members whose headers lie inside the
  // member data.
  const std::span<std::string_view> names(block.Take<std::string_view>(members), members);
  int32_t* const insideAt = block.Take<int32_t>(members);
  int64_t* const offsetsAt = block.Take<int64_t>(members);
  size_t insideCount = 0;
  int64_t firstOffset = fileSize, lastEnd = tableEnd;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* item = entries + size_t(i) * LGPTableEntrySize;
    const auto* nameField = reinterpret_cast<const char*>(item);
    names[size_t(i)] = std::string_view(nameField, strnlen(nameField, LGPNameSize));
    const int64_t offset = GetI32LE(item + LGPNameSize);
    firstOffset = std::min(firstOffset, std::max<int64_t>(offset, tableEnd));
    if (offset >= tableEnd && offset + LGPMemberHeaderSize <= fileSize) {
      insideAt[insideCount] = i;
      offsetsAt[insideCount++] = offset;
    }
  }
  const std::span<const int32_t> inside(insideAt, insideCount);
  const std::span<const int64_t> headerOffsets(offsetsAt, insideCount);

  // Their headers, in one pass in the order they lie: the size each gives, the names of
  // those that name another member, and members that overlap the ones before them.
  int32_t* const sizes = block.Take<int32_t>(members);
  std::vector<std::pair<int32_t, std::string>> misnamed;
  std::vector<std::string> overlaps;
  int64_t reach = -1;
  int32_t reacher = -1;
  ReadMemberHeaders(file.Handle(), fileSize, headerOffsets, [&](size_t k, const uint8_t* header) {
    const int32_t i = inside[k];
    const auto* headerName = reinterpret_cast<const char*>(header);
    const std::string_view inHeader(headerName, strnlen(headerName, LGPNameSize));
    if (!SameTextASCII(inHeader, names[size_t(i)])) misnamed.emplace_back(i, inHeader);
    const int32_t size = GetI32LE(header + LGPNameSize);
    sizes[size_t(i)] = size;
    const int64_t offset = headerOffsets[k];
    if (size < 0 || size > fileSize - offset - LGPMemberHeaderSize) return;
    const int64_t end = offset + LGPMemberHeaderSize + size;
    if (offset < reach)
      overlaps.push_back(Format("members %s and %s overlap", Quoted(names[size_t(reacher)]),
                                Quoted(names[size_t(i)])));
    if (end > reach) {
      reach = end;
      reacher = i;
    }
    lastEnd = std::max(lastEnd, end);
  });
  std::sort(misnamed.begin(), misnamed.end());

  // Each member's problems in table order, then the overlaps in the order members lie.
  size_t nextInside = 0, nextMisnamed = 0;
  for (int32_t i = 0; i < count; ++i) {
    const std::string_view name = names[size_t(i)];
    if (LookupSlot(name) < 0)
      problems.push_back(Format("member %s has no place in the lookup table", Quoted(name)));
    if (nextInside == inside.size() || inside[nextInside] != i) {
      const int64_t offset = GetI32LE(entries + size_t(i) * LGPTableEntrySize + LGPNameSize);
      problems.push_back(
          Format("member %s: its header at %d lies outside the member data", Quoted(name), offset));
      continue;
    }
    const int64_t offset = headerOffsets[nextInside++];
    if (nextMisnamed < misnamed.size() && misnamed[nextMisnamed].first == i)
      problems.push_back(Format("member %s: its header names it %s", Quoted(name),
                                Quoted(misnamed[nextMisnamed++].second)));
    const int32_t size = sizes[size_t(i)];
    if (size < 0 || size > fileSize - offset - LGPMemberHeaderSize)
      problems.push_back(
          Format("member %s: its size %d runs past the end of the file", Quoted(name), size));
  }
  problems.insert(problems.end(), overlaps.begin(), overlaps.end());

  // The lookup and conflict tables lie between the table of members and the first member.
  const std::string region =
      readBytes(tableEnd, std::clamp<int64_t>(firstOffset - tableEnd, 0, MaxRegion));
  TLGPTables found;
  size_t length = 0;
  if (!DecodeLGPTables(region, found, length)) {
    problems.push_back("it has no whole lookup and conflict table after its table of members");
  } else {
    // The folders the conflict table gives, by table position (the last where it gives
    // several).
    std::vector<std::pair<size_t, std::string_view>> folders;
    for (const auto& conflict : found.Conflicts)
      for (const TConflictMember& member : conflict)
        folders.emplace_back(member.Position, member.Folder);
    std::stable_sort(folders.begin(), folders.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    auto folderOf = [&folders](size_t position) {
      auto it = std::upper_bound(folders.begin(), folders.end(), position,
                                 [](size_t p, const auto& entry) { return p < entry.first; });
      return it != folders.begin() && (--it)->first == position ? it->second : std::string_view();
    };
    try {
      std::vector<uint16_t> numbers;
      const TLGPTables expected = MakeLGPTables(names, folderOf, numbers);
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
                      [](std::string_view name) { return LookupSlot(name) >= 0; }))
        problems.push_back(LowerFirst(e.Message()));
    }
  }

  if (fileSize - lastEnd != int64_t(LGPTerminator.size()) ||
      readBytes(lastEnd, int64_t(LGPTerminator.size())) != LGPTerminator)
    problems.push_back(Format("it does not end with \"%s\" right after its last member",
                              std::string(LGPTerminator)));
  return problems;
}

} // namespace palkor
