// The region after the table of contents (little-endian):
//
//   0      3600  lookup table: 900 slots of two unsigned 16-bit words, the 1-based table
//                position of the slot's first member and the slot's member count
//   3600   2     conflict count C: names that occur more than once
//   per conflict:
//          2     member count K
//          K x   128-byte folder name (NUL-padded), unsigned 16-bit table position
//
// The members of one slot stand together in the table; table entry bytes 25-26 give a
// duplicated name's 1-based number in the conflict table (0 for a unique name).
#include "archive/LGPTables.h"

#include "platform/Exceptions.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace palkor {

namespace {

// A character's value in the slot rule; -2 for one without a value.
int32_t SlotValue(char c) {
  if (c >= 'a' && c <= 'z') return c - 'a';
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= '0' && c <= '9') return c - '0';
  if (c == '_') return 10;
  if (c == '-') return 11;
  if (c == '.') return -1;
  return -2;
}

void AppendU16LE(std::string& out, uint16_t value) {
  out += char(value & 0xFF);
  out += char(value >> 8);
}

} // namespace

int32_t LookupSlot(std::string_view name) {
  if (name.empty()) return -1;
  const int32_t first = SlotValue(name[0]);
  const int32_t second = name.size() < 2 ? -1 : SlotValue(name[1]);
  if (first < 0 || second < -1) return -1;
  return 30 * first + second + 1;
}

std::string MemberNameProblem(std::string_view name) {
  if (name.empty()) return "it is empty";
  if (name.size() > 20) return "it is longer than 20 bytes";
  if (name[0] == '.') return "it starts with \".\"";
  for (char c : name)
    if (SlotValue(c) == -2) return "only letters, digits, \"_\", \"-\" and \".\" may be in it";
  return {};
}

void CheckMemberName(std::string_view name) {
  const std::string problem = MemberNameProblem(name);
  if (!problem.empty())
    throw Exception(Format("\"%s\" is not a member name: %s", std::string(name), problem));
}

namespace {

// A name's hash in any letter case.
uint32_t NameHash(std::string_view name) {
  uint32_t hash = 2166136261u;
  for (char c : name) hash = (hash ^ uint8_t(c >= 'a' && c <= 'z' ? c - 32 : c)) * 16777619u;
  return hash;
}

} // namespace

TLGPTables MakeLGPTables(std::span<const std::string_view> names,
                         const std::function<std::string_view(size_t)>& folderOf,
                         std::vector<uint16_t>& conflictNumbers) {
  if (names.size() > 0xFFFF)
    throw Exception(Format("An archive's lookup table counts at most 65535 members, not %d",
                           int64_t(names.size())));
  TLGPTables tables;
  int32_t lastSlot = -1;
  for (size_t i = 0; i < names.size(); ++i) {
    const int32_t slot = LookupSlot(names[i]);
    if (slot < 0)
      throw Exception(
          Format("Member \"%s\" has no place in the lookup table", std::string(names[i])));
    TLookupSlot& record = tables.Lookup[size_t(slot)];
    if (record.Count > 0 && slot != lastSlot)
      throw Exception(Format("The members whose names begin as \"%s\" do not stand together in "
                             "the table",
                             std::string(names[i].substr(0, 2))));
    if (record.Count == 0) record.First = uint16_t(i + 1);
    ++record.Count;
    lastSlot = slot;
  }

  // Names that occur more than once (in any letter case), numbered in the order their
  // second members stand in the table. Each member's first of its name is found through
  // a hash table of positions: no name is copied.
  constexpr uint16_t Empty = 0xFFFF;
  size_t capacity = 16;
  while (capacity < names.size() * 2) capacity *= 2;
  std::vector<uint16_t> slots(capacity, Empty);
  std::vector<uint16_t> firstOf(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    size_t k = NameHash(names[i]) & (capacity - 1);
    while (slots[k] != Empty && !SameTextASCII(names[slots[k]], names[i]))
      k = (k + 1) & (capacity - 1);
    if (slots[k] == Empty) slots[k] = uint16_t(i);
    firstOf[i] = slots[k];
  }
  // A name's number, kept at its first member, given when its second member is met.
  conflictNumbers.assign(names.size(), 0);
  for (size_t i = 0; i < names.size(); ++i) {
    const uint16_t first = firstOf[i];
    if (first == i) continue;
    if (conflictNumbers[first] == 0) {
      tables.Conflicts.emplace_back();
      conflictNumbers[first] = uint16_t(tables.Conflicts.size());
    }
    conflictNumbers[i] = conflictNumbers[first];
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (conflictNumbers[i] == 0) continue;
    std::string_view folder = folderOf(i);
    folder = folder.substr(0, std::min(folder.find('\0'), size_t(ConflictFolderSize)));
    tables.Conflicts[conflictNumbers[i] - 1].push_back({std::string(folder), uint16_t(i)});
  }
  return tables;
}

TLGPTables MakeLGPTables(const std::vector<std::string>& names,
                         const std::vector<std::string>& folders,
                         std::vector<uint16_t>& conflictNumbers) {
  const std::vector<std::string_view> views(names.begin(), names.end());
  return MakeLGPTables(
      views,
      [&folders](size_t i) { return i < folders.size() ? std::string_view(folders[i]) : ""; },
      conflictNumbers);
}

std::string EncodeLGPTables(const TLGPTables& tables) {
  std::string out;
  out.reserve(LookupTableSize + 2);
  for (const TLookupSlot& slot : tables.Lookup) {
    AppendU16LE(out, slot.First);
    AppendU16LE(out, slot.Count);
  }
  AppendU16LE(out, uint16_t(tables.Conflicts.size()));
  for (const std::vector<TConflictMember>& conflict : tables.Conflicts) {
    AppendU16LE(out, uint16_t(conflict.size()));
    for (const TConflictMember& member : conflict) {
      std::string folder = member.Folder.substr(0, ConflictFolderSize);
      folder.resize(ConflictFolderSize, '\0');
      out += folder;
      AppendU16LE(out, member.Position);
    }
  }
  return out;
}

bool DecodeLGPTables(std::string_view bytes, TLGPTables& tables, size_t& length) {
  tables = {};
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  if (bytes.size() < size_t(LookupTableSize) + 2) return false;
  for (int32_t slot = 0; slot < LookupSlotCount; ++slot)
    tables.Lookup[size_t(slot)] = {GetU16LE(p + 4 * slot), GetU16LE(p + 4 * slot + 2)};
  size_t at = LookupTableSize;
  const uint16_t conflictCount = GetU16LE(p + at);
  at += 2;
  for (uint16_t c = 0; c < conflictCount; ++c) {
    if (bytes.size() - at < 2) return false;
    const uint16_t memberCount = GetU16LE(p + at);
    at += 2;
    if ((bytes.size() - at) / (ConflictFolderSize + 2) < memberCount) return false;
    std::vector<TConflictMember>& conflict = tables.Conflicts.emplace_back();
    for (uint16_t k = 0; k < memberCount; ++k) {
      const char* folder = bytes.data() + at;
      conflict.push_back({std::string(folder, strnlen(folder, ConflictFolderSize)),
                          GetU16LE(p + at + ConflictFolderSize)});
      at += ConflictFolderSize + 2;
    }
  }
  length = at;
  return true;
}

} // namespace palkor
