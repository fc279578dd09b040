#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace palkor {

// The region after an archive's table of contents, through which the game finds its
// members: a lookup table of 30 x 30 slots, each the 1-based table position of the
// first member whose name falls in the slot and how many do (they stand together in the
// table), then the conflict table of names that occur more than once.
constexpr int32_t LookupSlotCount = 30 * 30;
constexpr int32_t LookupTableSize = LookupSlotCount * 4;
constexpr int32_t ConflictFolderSize = 128;
// The 14 bytes the game's archives end with.
constexpr std::string_view LGPTerminator = "FINAL FANTASY7";
// Table entry byte 24 of a new member: the value the game's archives mostly hold.
constexpr uint8_t NewMemberByte24 = 14;

// The slot of a name, from its first two characters: 30 * v(c1) + v(c2) + 1, where v
// of a letter (either case) is its place in the alphabet from 0, of a digit its value,
// v('_') = 10, v('-') = 11, and v('.') = -1, as is the end of a one-character name. -1
// when the name has no slot (empty, or a character outside those).
int32_t LookupSlot(std::string_view name);

// Why name cannot be a member name, or empty when it can: at most 20 bytes, only
// letters, digits, "_", "-" and ".", not starting with ".".
std::string MemberNameProblem(std::string_view name);
// Fails with "\"NAME\" is not a member name: REASON" unless name can be one.
void CheckMemberName(std::string_view name);

struct TLookupSlot {
  uint16_t First = 0; // 1-based table position; 0 for an empty slot
  uint16_t Count = 0;
  bool operator==(const TLookupSlot&) const = default;
};

struct TConflictMember {
  std::string Folder;    // the folder of the game's sources it came from, to its first NUL
  uint16_t Position = 0; // table position, from 0
  bool operator==(const TConflictMember&) const = default;
};

struct TLGPTables {
  std::array<TLookupSlot, LookupSlotCount> Lookup{};
  // One list a name that occurs more than once, in the order the names first occur.
  std::vector<std::vector<TConflictMember>> Conflicts;
  bool operator==(const TLGPTables&) const = default;
};

// The tables that are true for these member names in table order. folders[i] (when
// given) is member i's folder for the conflict table. conflictNumbers receives, per
// member, the 1-based number of its name in the conflict table (table entry bytes 25-26),
// 0 for a unique name. Fails when the table cannot be described: a name without a slot,
// the members of a slot not standing together, or more members than 16 bits count.
TLGPTables MakeLGPTables(const std::vector<std::string>& names,
                         const std::vector<std::string>& folders,
                         std::vector<uint16_t>& conflictNumbers);
// The same for names read in place, with member i's folder given by folderOf(i) (asked
// only for names that occur more than once).
TLGPTables MakeLGPTables(std::span<const std::string_view> names,
                         const std::function<std::string_view(size_t)>& folderOf,
                         std::vector<uint16_t>& conflictNumbers);
// The tables' bytes: the lookup table, then the conflict table.
std::string EncodeLGPTables(const TLGPTables& tables);
// Reads tables from the bytes after the table of contents; false when they do not hold
// a whole lookup table and conflict table. length receives the bytes the tables took.
bool DecodeLGPTables(std::string_view bytes, TLGPTables& tables, size_t& length);

} // namespace palkor
