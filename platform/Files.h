#pragma once

#include "platform/Streams.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
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

// Checks a name made from an archive member's name before a file is named with it: a
// member name may hold any byte, and a name that is empty, "." or "..", or that holds
// "/", "\" or a NUL byte would put the file elsewhere or under a name cut short. Such a
// name fails with "\"NAME\" is not a plain file name", one longer than any file system
// here takes (255 bytes) with "\"NAME\" is too long for a file name".
void CheckMemberFileName(std::string_view name);

// Replaces the file at path with the whole of source (from its position 0), so that
// the old file stays whole until the new one is complete on disk. A path that is a
// symbolic link replaces the file it names (made when missing); the link stays. An
// existing output that is not a regular file (a FIFO, a device) is written into
// instead, and a path that names one of the process's own open descriptors
// (/dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N, or a link to one of those) is
// written through that descriptor, at its offset and in its append mode. Fails with
// "Cannot create file "%s". %s" when the file cannot be written (read-only, no access)
// and "Stream write error" when writing fails; the old file is then unchanged.
void ReplaceFileFromStream(const std::string& path, TStream& source);
void ReplaceFileWithBytes(const std::string& path, std::string_view bytes);

// The same in two steps, for a caller that learns at once whether the file can be made
// and writes it later (perhaps on another thread): the constructor makes the new file
// beside the old one or fails with "Cannot create file"; Commit writes bytes and puts
// the new file in the old one's place. A file never committed is removed again and the
// old one stays as it was; so is the new file when the process is ended by SIGINT,
// SIGTERM or SIGHUP meanwhile (see RemoveTemporaryFiles).
class TReplacedFile {
public:
  explicit TReplacedFile(const std::string& path);
  // The same with the temporary file named ".STEM-XXXXXX" beside the file, so that the
  // ones a writer killed outright leaves behind can be found again
  // (RemoveLeftTemporaryFiles); a stem too long for a file name gets the usual name.
  TReplacedFile(const std::string& path, std::string_view tempStem);
  ~TReplacedFile();
  TReplacedFile(const TReplacedFile&) = delete;
  TReplacedFile& operator=(const TReplacedFile&) = delete;

  void Commit(std::string_view bytes);
  // The same with a writer of its own given the file descriptor; false is a failure.
  void Commit(const std::function<bool(int)>& write);

  // The file that is replaced: path with its symbolic links followed.
  const std::string& Target() const { return FTarget; }

private:
  void Forget() noexcept;

  std::string FPath, FTarget, FTemp;
  bool FExists = false;
  bool FInPlace = false; // not a regular file, or one of our descriptors: written as it is
  uint32_t FOldMode = 0, FOldUid = 0, FOldGid = 0;
  int FHandle = -1;
  int FDescriptor = -1; // the process's own descriptor written through, -1 for none
  int FSlot = -1;       // the temporary file's place among the live ones, -1 for none
};

// Many files of one folder replaced as one batch, each kept as ReplaceFileWithBytes keeps
// a file (the old file whole until the new one is complete on disk, its mode and owner
// kept, a symbolic link written through), at the cost of one sync for them all: every new
// file is written under its own name into a hidden temporary folder beside them
// (".palkor-batch-XXXXXX", made at the first Add), Commit syncs the file system once,
// renames the files into place and syncs the folder. Killed at any point, each file holds
// its old contents or its new ones, whole; ended by SIGINT, SIGTERM or SIGHUP, the
// temporary folder and what it holds are removed (see RemoveTemporaryFiles), and one that a
// process killed outright left behind is removed by the next batch committed in the same
// folder. A name that is a symbolic link leading out of the folder, or an output that is not
// a regular file, is written at once by ReplaceFileWithBytes.
class TReplacedFiles {
public:
  explicit TReplacedFiles(const std::string& folder);
  // Whatever was not committed is removed: the old files stay as they are.
  ~TReplacedFiles();
  TReplacedFiles(const TReplacedFiles&) = delete;
  TReplacedFiles& operator=(const TReplacedFiles&) = delete;

  // Writes bytes as the new contents of the file name of the folder. Fails as
  // ReplaceFileWithBytes does, naming FOLDER/NAME, with every old file unchanged (but one
  // written at once as said above). A name given again is written again: the last wins.
  void Add(const std::string& name, std::string_view bytes);
  // Puts every new file in place. A failure names a file (FOLDER/NAME, its name then in
  // FailedName) or, when no one file is at fault, the folder; the files renamed before it
  // hold their new contents, the others their old ones.
  void Commit();
  const std::string& FailedName() const { return FFailedName; }

private:
  struct TEntry {
    std::string File; // the name in the folder, links followed
    std::string Name; // as given to Add
  };
  void MakeTemporaryFolder(const std::string& path);
  void Discard() noexcept;

  std::string FFolder; // ending with "/" unless empty
  std::string FTemp;   // the temporary folder's path
  std::string FFailedName;
  std::vector<TEntry> FEntries;
  std::unordered_map<std::string, size_t> FEntryOf; // File -> its entry
  int FFolderHandle = -1;
  int FTempHandle = -1;
  int FSlot = -1;
  uint32_t FNewUid = 0, FNewGid = 0, FNewMode = 0;
};

// Removes every temporary file that a TReplacedFile has made and not yet put in place
// or removed. Uses only calls that are safe in a signal handler: the handlers that the
// first TReplacedFile installs for SIGINT, SIGTERM and SIGHUP (where the signal's action
// is still the default) call it and then end the process by the signal as before, and a
// program ending itself at once may call it too.
void RemoveTemporaryFiles() noexcept;

// Removes the temporary files ".STEM-XXXXXX" beside the file target that writers named
// so (see TReplacedFile) and did not put in place. Only for a caller that knows no such
// writer runs meanwhile (it holds the lock every one of them takes).
void RemoveLeftTemporaryFiles(const std::string& target, std::string_view tempStem);

// Writes all of bytes to the file descriptor at its position; false on failure (errno
// says why).
bool WriteToHandle(int fd, std::string_view bytes);
// Reads exactly count bytes at offset of the open file (its position left alone), or
// throws "Stream read error" where the file ends first or the read fails.
void ReadHandleAt(int fd, void* buffer, int64_t count, int64_t offset);
// Copies length bytes of the file open as from, from offset on, to the position of the
// file open as to, through the kernel's copy where it has one; false on failure (errno
// says why; ENODATA when from ends first).
bool CopyFileBytes(int from, int64_t offset, int to, int64_t length);

// Renames a file, failing with "Cannot create file "%s". %s" (to) when to exists
// already (unless both name the same file, as a change of letter case does on a file
// system that ignores case) or the system refuses.
void RenameFileNoReplace(const std::string& from, const std::string& to);
// Removes a file; "Cannot open file "%s". %s" when the system refuses.
void RemoveFile(const std::string& path);
// True when path names the file open as handle.
bool PathNamesHandle(const std::string& path, int handle);

// Milliseconds of a steady clock, wrapping at 2^32.
uint32_t GetTickCount();

} // namespace palkor
