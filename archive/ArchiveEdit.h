#pragma once

#include "archive/LGPFile.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace palkor {

// The data of a member being added: the whole of a file, or bytes at hand.
struct TMemberData {
  std::string Path;
  std::optional<std::string> Bytes;
};

// Changes made to an archive at once: members removed, then renamed, then added, each
// name in any letter case.
struct TArchiveEdit {
  struct TAdd {
    std::string Name;
    TMemberData Data;
    // A member of the name already there gets the data (keeping its place); without
    // Replace that is refused.
    bool Replace = false;
  };
  std::vector<std::string> Removes;
  std::vector<std::pair<std::string, std::string>> Renames; // old name, new name
  std::vector<TAdd> Adds;
};

struct TEditResult {
  int64_t OldSize = 0, NewSize = 0; // of the archive file (0 for a folder)
};

// Applies edit to the archive as one rebuild, under the archive's exclusive lock: an LGP
// archive is written anew beside the old one under a temporary name (the members copied
// in table order, the table ordered by lookup slot keeping the old order within a slot,
// the lookup and conflict tables made true for it, creator and entry byte 24 kept, the
// game's terminator last), pushed to the disk and renamed over the old file. Programs
// that have the old file open go on reading the old file whole. Unreferenced copies
// that replacing members left behind are dropped, so an empty edit compacts. A folder
// archive adds, removes and renames its files, each atomically.
//
// Failures change nothing: "no member named NAME", "NAME is already in ARCHIVE", a
// name that is not a member name, an archive whose members cannot be read whole.
TEditResult EditArchive(const TArchiveKind& kind, const TArchiveEdit& edit);

// Writes a new LGP archive at path (replacing what is there, under its lock when it is
// an archive already) holding the members in the order given, then ordered by slot;
// its creator field is two NULs and "SQUARESOFT".
void CreateArchive(const std::string& path, const std::vector<TArchiveEdit::TAdd>& members);

} // namespace palkor
