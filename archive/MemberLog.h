#pragma once

#include "archive/LGPFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace palkor {

// Where a member lay when it was read, to tell later whether it has changed: replacing a
// member of an LGP archive moves it to the end of the file, and a folder's file gets a
// new modification time.
struct TMemberStamp {
  std::string Name;     // as the archive spells it
  int64_t Offset = -1;  // of its member header; 0 in a folder; -1 when it is missing
  int64_t Size = -1;    // of its data; -1 when it cannot be read
  int64_t Modified = 0; // a folder member's modification time in nanoseconds; 0 in an LGP

  bool operator==(const TMemberStamp&) const = default;
};

// Collects every member read on the calling thread while it lives, through any archive's
// member reads, readers and member streams, each once in the order first read. Logs
// nest: the innermost one collects.
class TMemberReadLog {
public:
  TMemberReadLog();
  ~TMemberReadLog();
  TMemberReadLog(const TMemberReadLog&) = delete;
  TMemberReadLog& operator=(const TMemberReadLog&) = delete;

  const std::vector<TMemberStamp>& Members() const { return FMembers; }

  // Called by the archives for each member they read.
  static void Note(TMemberStamp stamp);

private:
  TMemberReadLog* FOuter;
  std::vector<TMemberStamp> FMembers;
};

// The members of archive named as they are now, in the order given: an LGP member's
// offset and the size in its member header (all read in one pass), a folder file's size
// and modification time. A member that is gone, or whose header cannot be read, has
// Offset or Size -1. Fails only when the archive cannot be opened.
std::vector<TMemberStamp> StampMembers(TLGPFile& archive, const std::vector<std::string>& names);

} // namespace palkor
