#pragma once

#include "platform/Streams.h"

#include <cstdint>
#include <string>
#include <vector>

namespace palkor {

struct TFolderFile {
  std::string Name;
  int64_t Size = 0;
};

// The ordinary files directly inside folder, in the order the system lists them.
// Hidden files (a name starting with ".") and anything that is not a regular file are
// left out. A folder that cannot be listed yields no files.
std::vector<TFolderFile> ListFolderFiles(const std::string& folder);

bool FileExists(const std::string& path);
// A search for path as an ordinary file: not a folder, not hidden (a name starting
// with "."). Gives its size when found.
bool FindOrdinaryFile(const std::string& path, int64_t& size);
bool DirectoryExists(const std::string& path);

// The path of the running executable, and its folder ending with "/".
std::string ProgramPath();
std::string ProgramFolder();

// Replaces the file at path with the whole of source (from its position 0), so that
// the old file stays whole until the new one is complete on disk. Fails with
// "Cannot create file "%s". %s" when the file cannot be written (read-only, no access)
// and "Stream write error" when writing fails; the old file is then unchanged.
void ReplaceFileFromStream(const std::string& path, TStream& source);
void ReplaceFileWithBytes(const std::string& path, std::string_view bytes);

// Milliseconds of a steady clock, wrapping at 2^32.
uint32_t GetTickCount();

} // namespace palkor
