#pragma once

#include "archive/LGPFile.h"

#include <string>
#include <vector>

namespace palkor {

// What is wrong with an archive, one sentence a problem, none for a sound one: the table
// of members inside the file, each member's header inside it with the table's name and
// a size the file holds, no two members overlapping, the lookup and conflict tables true
// for the table, and the file ending with the game's terminator right after its last
// member. A folder archive has none. Fails only when the file cannot be read.
std::vector<std::string> CheckArchive(const TArchiveKind& kind);

} // namespace palkor
