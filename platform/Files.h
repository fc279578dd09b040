#pragma once

#include "platform/Streams.h"

#include <cstdint>
#include <functional>
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
// the old file stays whole until the new one is complete on disk. An existing output
// that is not a regular file (a FIFO, a device, /dev/stdout) is written into instead. Fails with
// "Cannot create file "%s". %s" when the file cannot be written (read-only, no access)
// and "Stream write error" when writing fails; the old file is then unchanged.
void ReplaceFileFromStream(const std::string& path, TStream& source);
void ReplaceFileWithBytes(const std::string& path, std::string_view bytes);

// The same in two steps, for a caller that learns at once whether the file can be made
// and writes it later (perhaps on another thread): the constructor makes the new file
// beside the old one or fails with "Cannot create file"; Commit writes bytes and puts
// the new file in the old one's place. A file never committed is removed again and the
// old one stays as it was.
class TReplacedFile {
public:
  explicit TReplacedFile(const std::string& path);
  ~TReplacedFile();
  TReplacedFile(const TReplacedFile&) = delete;
  TReplacedFile& operator=(const TReplacedFile&) = delete;

  void Commit(std::string_view bytes);
  // The same with a writer of its own given the file descriptor; false is a failure.
  void Commit(const std::function<bool(int)>& write);

private:
  std::string FPath, FTarget, FTemp;
  bool FExists = false;
  bool FInPlace = false; // not a regular file: written as it is
  uint32_t FOldMode = 0, FOldUid = 0, FOldGid = 0;
  int FHandle = -1;
};

// Milliseconds of a steady clock, wrapping at 2^32.
uint32_t GetTickCount();

} // namespace palkor
