#pragma once

#include "platform/Streams.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace palkor {

// One member as listed.
struct TLGPEntry {
  std::string Name;
  // Where the member's header begins in the file (0 for folder members).
  int32_t Offset = 0;
  // -1: not yet known (after an ordinary open); -2: the member header would run past
  // the end of the file; otherwise the data size from the member header.
  int32_t Size = -1;
  // The verifying open found a different name in the member header.
  bool NameMismatch = false;
};

class TLGPFile;

// The start of one member's data, for a pass that looks at the start of many members.
// Index and Want are the caller's; ReadHeads fills the rest.
struct TMemberHead {
  int32_t Index = 0;
  // Bytes wanted from the start of the member's data.
  int32_t Want = 0;
  // The member was read. One that was not (the reader reads no heads, or the member
  // runs past the end of the file) is read with Read, which fails as it should.
  bool Done = false;
  // The member's data size.
  int32_t Size = 0;
  // Its first min(Want, Size) bytes, held by the reader until its next call.
  std::string_view Data;
};

// Reads members one after another through a single opening of the archive, for a pass
// over many of them; the archive is closed again when the reader goes.
class TLGPMemberReader {
public:
  virtual ~TLGPMemberReader() = default;
  // Appends the member's data, or only its first maxBytes when maxBytes is not negative,
  // at dest's position; fails as ReadMember does.
  virtual void Read(int32_t index, TStream& dest, int64_t maxBytes = -1) = 0;
  // Reads the heads of many members at once, sets Done for each and never fails: a head
  // not done is read with Read. This reader reads none.
  virtual void ReadHeads(std::span<TMemberHead> heads);
};

// The upper-cased member names (ASCII letters only) with their table positions, filled
// unsorted, sorted once, and searched by halving. Duplicate names are all kept; a search
// finds the lowest position of a name.
class TNameIndex {
public:
  void Clear();
  void Reserve(size_t count);
  void Add(std::string_view name, int32_t position);
  void Sort();
  // The position stored with name (in any letter case), or -1.
  int32_t Find(std::string_view name) const;
  size_t Count() const { return FItems.size(); }

private:
  // The first 16 bytes of the key, big-endian and zero-padded, decide most comparisons
  // without touching the text.
  struct TItem {
    uint64_t Key0, Key1;
    uint32_t Start, Length; // the key text in FKeys
    int32_t Position;
  };
  struct TProbe {
    uint64_t Key0, Key1;
    std::string_view Text;
  };
  static TProbe MakeProbe(std::string_view upperName);
  int Compare(const TItem& item, const TProbe& probe) const;
  std::string_view Text(const TItem& item) const {
    return {FKeys.data() + item.Start, item.Length};
  }

  std::string FKeys;
  std::vector<TItem> FItems;
};

// The class of an archive as a value, with its virtual constructors: the catalogue and
// the model loaders keep it together with a path and reopen the archive from it.
class TLGPFileClass {
public:
  virtual ~TLGPFileClass() = default;
  virtual const char* ClassName() const;
  // Opens the archive at fileName (a folder archive ignores verify).
  virtual std::unique_ptr<TLGPFile> Create(const std::string& fileName, bool verify) const;
  // Builds the table from an open stream that the caller owns and keeps open.
  virtual std::unique_ptr<TLGPFile> CreateFromStream(TStream& stream, bool verify) const;
};

// A game archive: a 16-byte header (12-byte creator field, signed 32-bit member count),
// a table of 27-byte entries, then the members, each a 24-byte header (20-byte name,
// signed 32-bit size) and its data. The file is opened for each operation and closed
// again, never held.
//
// Failures: "Cannot open file "%s". %s" when the file cannot be opened, "Stream read
// error" when it ends inside the header, table, a member header or a member's data,
// "List index out of bounds (%d)" for a position outside the table.
class TLGPFile {
public:
  static const TLGPFileClass& Class();
  // Opens the archive file fileName; reads only the header and the table unless verify.
  static std::unique_ptr<TLGPFile> Create(const std::string& fileName, bool verify);
  static std::unique_ptr<TLGPFile> CreateFromStream(TStream& stream, bool verify);

  virtual ~TLGPFile();
  TLGPFile(const TLGPFile&) = delete;
  TLGPFile& operator=(const TLGPFile&) = delete;

  virtual const TLGPFileClass& ClassType() const { return Class(); }

  // A copy of the entry at table position index.
  virtual TLGPEntry GetEntry(int32_t index) const;
  // Fills entry from the member found by IndexOf; false (entry untouched) when not found.
  virtual bool GetEntryByName(const std::string& name, TLGPEntry& entry) const;
  // Table position of the member, found by name regardless of ASCII letter case; -1 when
  // missing. Of several members with one name, the first in the table.
  virtual int32_t IndexOf(const std::string& name) const;
  // A copy of the entry at position rank in ascending offset order.
  virtual TLGPEntry GetEntryByOffset(int32_t rank) const;
  // A new memory stream holding the member's data; its position is at its end.
  virtual std::unique_ptr<TMemoryStream> ReadMemberToMemory(int32_t index);
  // Reads header and table from stream's position (the start of the archive).
  virtual void LoadFromStream(TStream& stream, bool verify);
  // Appends the member's data, sized by its member header, at dest's position.
  virtual void ReadMember(int32_t index, TStream& dest);
  // Opens the archive for reading many members in one pass ("Cannot open file "%s". %s").
  virtual std::unique_ptr<TLGPMemberReader> OpenMemberReader();
  // A stream of the member's data, at position 0, read from the archive as it is used
  // (for a member too large to want in memory while it is looked through); the archive
  // stays open while the stream lives. Fails as ReadMember does before anything is read.
  virtual std::unique_ptr<TStream> OpenMemberStream(int32_t index);
  // Replaces the member's data with the whole of source, keeping name and position.
  virtual void WriteMember(int32_t index, TStream& source);
  // Replaces the member's data with what change makes of it, the data read again under
  // the archive's exclusive lock: a change another writer made since this archive was
  // opened is built on, never lost. Whatever change throws leaves the archive unchanged.
  virtual void ModifyMember(int32_t index,
                            const std::function<std::string(std::string_view)>& change);
  // Re-reads every entry's offset from the file's table; sizes become -1.
  virtual void ReloadOffsets();
  // Re-reads every member header: sizes and the name check.
  virtual void VerifyMembers();

  int32_t Count() const { return FCount; }
  const std::string& FileName() const { return FFileName; }
  const std::string& Creator() const { return FCreator; }
  const std::string& Trailer() const { return FTrailer; }

protected:
  TLGPFile() = default;
  // Opens fileName and reads it through LoadFromStream, then remembers fileName.
  void Open(const std::string& fileName, bool verify);
  // Drops NameIndex; it is rebuilt from Entries and sorted once, on the first lookup by
  // name (a pass over the table, such as the catalogue's, needs none).
  void InvalidateNameIndex();
  // Reads the 16-byte header: the creator into Creator; returns the member count.
  int32_t ReadHeader(TStream& stream);
  // Reads the table of an archive opened without it (FTableRead false), once.
  void ReadTable() const;
  // The table position of name found through the lookup table after the table of
  // contents, reading only it and the entries of the name's slot; -1 when the lookup
  // table does not lead to it (absent, stale, or written by another program).
  int32_t FindThroughLookup(const std::string& name) const;
  void OrderByOffset() const;
  // The table position of the member name, at index when this archive was opened, in
  // the locked archive file: index when the file's table still has it there, else (the
  // archive was rebuilt meanwhile) the table read again and the member found by name;
  // fails when it is gone.
  int32_t FindAgainLocked(TFileStream& file, int32_t index, const std::string& name);
  // WriteMember's work once file is open and locked.
  void WriteMemberLocked(TFileStream& file, int32_t index, TStream& source);

  int32_t FCount = 0;
  // The table is in Entries. An archive opened without verification reads it only when
  // something asks for more than one member found by name (FoundEntry).
  mutable bool FTableRead = true;
  mutable int32_t FFoundIndex = -1;
  mutable TLGPEntry FFoundEntry;
  // Table order; owns the entries. Filled once by the constructor, never resized after.
  std::vector<TLGPEntry> FEntries;
  // The same entries in ascending Offset order, made on first use (OrderByOffset) unless
  // the archive fills it itself.
  mutable std::vector<const TLGPEntry*> FEntriesByOffset;
  mutable TNameIndex FNameIndex;
  mutable bool FNameIndexSorted = false;
  // A lookup by name has been answered without the index.
  mutable bool FNameLookedUp = false;
  std::string FFileName;
  std::string FCreator;
  std::string FTrailer;

public:
  // The entry at table position index, without a copy ("List index out of bounds").
  const TLGPEntry& EntryAt(int32_t index) const;
};

// Called when a member replacement has to wait for another writer of the archive for
// more than a moment (waiting true), and again when it goes on (false). Set by the
// program: palkor-cli says so on a terminal, the viewer shows a busy cursor.
void SetArchiveLockWaitHandler(std::function<void(const std::string& archive, bool waiting)>);
// What waiting for the lock of the archive at path tells that handler.
std::function<void(bool)> ArchiveLockWaiter(const std::string& path);

// Size of the archive header and of one table entry, and of a member header.
constexpr int32_t LGPHeaderSize = 16;
constexpr int32_t LGPTableEntrySize = 27;
constexpr int32_t LGPMemberHeaderSize = 24;
constexpr int32_t LGPNameSize = 20;

// An archive's class together with its path: enough to open the archive again.
struct TArchiveKind {
  const TLGPFileClass* Class = &TLGPFile::Class();
  std::string Path;

  std::unique_ptr<TLGPFile> Open() const { return Class->Create(Path, false); }
};

} // namespace palkor
