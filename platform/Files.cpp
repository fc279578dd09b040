#include "platform/Files.h"

#include "platform/Exceptions.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <typeinfo>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace palkor {

std::vector<TFolderFile> ListFolderFiles(const std::string& folder) {
  std::vector<TFolderFile> files;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return files;
  int dirHandle = ::dirfd(dir);
  while (dirent* item = ::readdir(dir)) {
    if (item->d_name[0] == '.') continue;
    struct stat st;
    if (::fstatat(dirHandle, item->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    files.push_back({item->d_name, int64_t(st.st_size)});
  }
  ::closedir(dir);
  return files;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FindOrdinaryFile(const std::string& path, int64_t& size) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  struct stat st;
  if (name.empty() || name[0] == '.' || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  size = int64_t(st.st_size);
  return true;
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ProgramPath() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, size_t(n));
}

std::string ProgramFolder() {
  std::string path = ProgramPath();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

namespace {

bool WriteAll(int fd, std::string_view bytes);

// Writes everything to fd; false on failure. A stream in memory is written as it lies,
// one over bytes of a file is copied from that file.
bool WriteAll(int fd, TStream& source) {
  if (typeid(source) == typeid(TMemoryStream))
    return WriteAll(fd, static_cast<TMemoryStream&>(source).View());
  int from = -1;
  int64_t offset = 0, length = 0;
  if (source.FileBytes(from, offset, length)) return CopyFileBytes(from, offset, fd, length);
  source.SetPosition(0);
  std::vector<uint8_t> chunk(64 * 1024);
  for (;;) {
    int64_t n = source.Read(chunk.data(), int64_t(chunk.size()));
    if (n <= 0) return source.Position() >= source.Size();
    for (int64_t done = 0; done < n;) {
      ssize_t w = ::write(fd, chunk.data() + done, size_t(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w == 0) errno = ENOSPC; // a write that takes nothing has met a full device
      if (w <= 0) return false;
      done += w;
    }
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w == 0) errno = ENOSPC; // a write that takes nothing has met a full device
    if (w <= 0) return false;
    done += size_t(w);
  }
  return true;
}

// The process's file mode creation mask, read without changing it: setting it to learn
// it would let files that other threads create meanwhile take the wrong mode.
mode_t CurrentUmask() {
  static const mode_t mask = [] {
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
      char line[256];
      unsigned value = 0;
      bool found = false;
      while (!found && std::fgets(line, sizeof line, status))
        found = std::sscanf(line, "Umask: %o", &value) == 1;
      std::fclose(status);
      if (found) return mode_t(value);
    }
    mode_t old = ::umask(022);
    ::umask(old);
    return old;
  }();
  return mask;
}

} // namespace

void CheckMemberFileName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
    throw Exception(Format("\"%s\" is not a plain file name", std::string(name)));
  if (name.size() > NAME_MAX)
    throw Exception(Format("\"%s\" is too long for a file name", std::string(name)));
}

namespace {

// The temporary files that TReplacedFile has made and not yet put in place, kept where a
// signal handler can find them: fixed buffers, each with an atomic state, so that the
// handler needs neither memory nor locks. A slot is claimed (Claimed) and its name
// written, the file is made under that name (Making), and the slot is Live until the
// file is renamed or removed. The handler takes each Making or Live slot (Taken) and
// removes the file named there; a slot it took is never given out again, as the process
// is ending.
enum : int { SlotFree, SlotClaimed, SlotMaking, SlotLive, SlotTaken };

struct TTemporarySlot {
  std::atomic<int> State{SlotFree};
  bool Folder = false; // a temporary folder, removed with the files in it
  char Name[PATH_MAX] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);

// Enough for export-all's most jobs (256) at a time, with the frame writer's few beside;
// a file made while every slot is in use is made all the same, unwatched. All zero
// bytes and made by the compiler: the slots cost a process its pages only once used
// (filled at start, their 1.3 MB cost every run hundreds of page faults).
constexpr int TemporarySlotCount = 320;
constinit TTemporarySlot TemporarySlots[TemporarySlotCount];
// Set once the files are being removed for a process that is ending.
std::atomic<bool> RemovingTemporaryFiles{false};

void OnTerminatingSignal(int signal) {
  RemoveTemporaryFiles();
  // Dies of the signal as it would have without the handler: the signal, raised again
  // with its default action, is delivered as soon as the handler returns.
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  ::raise(signal);
}

// Installs the handlers once, for the signals that still have their default action: a
// signal the process ignores (nohup's SIGHUP) or handles its own way is left so.
void WatchTerminatingSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction action = {};
    action.sa_handler = OnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : signals) sigaddset(&action.sa_mask, signal);
    for (int signal : signals) {
      struct sigaction old;
      if (::sigaction(signal, nullptr, &old) == 0 && !(old.sa_flags & SA_SIGINFO) &&
          old.sa_handler == SIG_DFL)
        ::sigaction(signal, &action, nullptr);
    }
  });
}

// Removes the folder at path and the files in it, with calls that are safe in a signal
// handler: its entries read by getdents64 into a buffer on the stack. A file made in it
// meanwhile by another thread is removed on the next pass; once the folder is gone, none
// can be made in it.
void RemoveFolderAndFiles(const char* path) noexcept {
  for (int pass = 0; pass < 64; ++pass) {
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    alignas(8) char buffer[8192];
    for (;;) {
      const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* item = reinterpret_cast<const dirent64*>(buffer + at);
        const char* name = item->d_name;
        if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))))
          ::unlinkat(fd, name, 0);
        at += item->d_reclen;
      }
    }
    ::close(fd);
    if (::rmdir(path) == 0 || errno != ENOTEMPTY) return;
  }
}

// Makes the temporary file named by the template temp (its last six characters
// "XXXXXX", replaced by the name made) and records it among the live ones; returns the
// descriptor, or -1 with errno set. slot is the slot used, or -1 when none was free.
// With folder, a temporary folder is made instead (0 for the descriptor).
int MakeTemporaryFile(std::string& temp, int& slot, bool folder = false) {
  WatchTerminatingSignals();
  slot = -1;
  if (temp.size() < PATH_MAX) {
    for (int k = 0; k < TemporarySlotCount; ++k) {
      int expected = SlotFree;
      if (TemporarySlots[k].State.compare_exchange_strong(expected, SlotClaimed)) {
        slot = k;
        break;
      }
    }
  }
  const auto make = [folder](char* name) {
    return folder ? (::mkdtemp(name) ? 0 : -1) : ::mkostemp(name, O_CLOEXEC);
  };
  if (slot < 0) return make(temp.data());
  TTemporarySlot& entry = TemporarySlots[slot];
  if (RemovingTemporaryFiles) {
    // The process is ending of a signal and its files are being removed: none is made
    // now, and this thread waits for the end.
    entry.State.store(SlotFree);
    for (;;) ::pause();
  }
  std::memcpy(entry.Name, temp.c_str(), temp.size() + 1);
  entry.Folder = folder;
  entry.State.store(SlotMaking);
  const int fd = make(entry.Name);
  const int error = errno;
  std::memcpy(temp.data(), entry.Name, temp.size());
  int expected = SlotMaking;
  if (fd < 0) {
    if (entry.State.compare_exchange_strong(expected, SlotFree)) slot = -1;
    errno = error;
    return -1;
  }
  if (!entry.State.compare_exchange_strong(expected, SlotLive) || RemovingTemporaryFiles) {
    // The files are being removed for a process that is ending, perhaps before this one
    // was made: it goes too.
    if (folder)
      ::rmdir(temp.c_str());
    else
      ::unlink(temp.c_str());
  }
  return fd;
}

// A slot given back once its file is renamed or removed.
void ReleaseTemporarySlot(int slot) noexcept {
  if (slot < 0) return;
  int expected = SlotLive;
  TemporarySlots[slot].State.compare_exchange_strong(expected, SlotFree);
}

// The descriptor path names when it is a name the system gives one of the process's own
// descriptors (/dev/stdout, /dev/fd/1, /proc/self/fd/1, ...); -1 when it is not such a
// name, whether the descriptor is open or not.
int DescriptorNamed(const std::string& path) {
  if (path == "/dev/stdin") return 0;
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  std::string_view rest;
  const std::string self = "/proc/" + std::to_string(::getpid()) + "/fd/";
  for (std::string_view folder :
       {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
        std::string_view("/proc/thread-self/fd/"), std::string_view(self)})
    if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0)
      rest = std::string_view(path).substr(folder.size());
  if (rest.empty() || rest.size() > 9 || rest.find_first_not_of("0123456789") != rest.npos)
    return -1;
  return std::stoi(std::string(rest));
}

// The path a symbolic link leads to: its text, taken from the link's folder when relative;
// false when path is not a link.
bool ReadLink(const std::string& path, std::string& target) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  if (n <= 0 || size_t(n) >= sizeof buffer) return false;
  target.assign(buffer, size_t(n));
  const size_t slash = path.rfind('/');
  if (target[0] != '/' && slash != std::string::npos) target.insert(0, path, 0, slash + 1);
  return true;
}

} // namespace

TReplacedFile::TReplacedFile(const std::string& path) : TReplacedFile(path, {}) {}

TReplacedFile::TReplacedFile(const std::string& path, std::string_view tempStem)
    : FPath(path), FTarget(path) {
  // Follow the path's links one at a time, so that a link to one of our descriptors
  // is seen as such and a link to a missing file makes that file, the link staying.
  for (int hops = 0;; ++hops) {
    // One of our own descriptors (/dev/stdout, perhaps a shell's "> log" or ">> log") is
    // written through: opening the name again would write from the start of the file
    // and without its append mode.
    if (const int fd = DescriptorNamed(FTarget); fd >= 0) {
      const int flags = ::fcntl(fd, F_GETFL);
      if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY)
        throw EFCreateError(path, SystemErrorText(EBADF));
      FHandle = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
      if (FHandle < 0) throw EFCreateError(path, SystemErrorText(errno));
      FInPlace = true;
      FDescriptor = fd;
      return;
    }
    // The kernel's files under /proc are written into as they are; they cannot be
    // replaced.
    if (FTarget.rfind("/proc/", 0) == 0) break;
    std::string next;
    if (!ReadLink(FTarget, next)) break;
    if (hops == 40) throw EFCreateError(path, SystemErrorText(ELOOP));
    FTarget = std::move(next);
  }

  // An output that is not a regular file (a FIFO, a device, a terminal) is written into
  // as it is: replacing it would put a regular file in its place and its reader would
  // get nothing.
  struct stat current;
  const bool exists = ::stat(FTarget.c_str(), &current) == 0;
  if (!exists && errno == ENAMETOOLONG) throw EFCreateError(path, SystemErrorText(errno));
  if (FTarget.rfind("/proc/", 0) == 0 ||
      (exists && !S_ISREG(current.st_mode) && !S_ISDIR(current.st_mode))) {
    FHandle = ::open(FTarget.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (FHandle < 0) throw EFCreateError(path, SystemErrorText(errno));
    FInPlace = true;
    return;
  }

  FExists = exists;
  if (FExists) {
    // The same refusals as overwriting in place: a read-only file or a folder.
    int probe = ::open(FTarget.c_str(), O_WRONLY | O_CLOEXEC);
    if (probe < 0) throw EFCreateError(path, SystemErrorText(errno));
    ::close(probe);
    FOldMode = current.st_mode & 07777;
    FOldUid = current.st_uid;
    FOldGid = current.st_gid;
  }

  size_t slash = FTarget.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : FTarget.substr(0, slash + 1);
  // A short name of its own, so that any name the file system takes for the file can
  // be replaced.
  FTemp = folder + (!tempStem.empty() && tempStem.size() + 8 <= NAME_MAX
                        ? "." + std::string(tempStem) + "-XXXXXX"
                        : std::string(".palkor-XXXXXX"));
  FHandle = MakeTemporaryFile(FTemp, FSlot);
  if (FHandle < 0) throw EFCreateError(path, SystemErrorText(errno));
}

TReplacedFile::~TReplacedFile() {
  if (FHandle < 0) return;
  ::close(FHandle);
  if (!FInPlace) {
    ::unlink(FTemp.c_str());
    Forget();
  }
}

void TReplacedFile::Forget() noexcept {
  ReleaseTemporarySlot(FSlot);
  FSlot = -1;
}

namespace {

// "Stream write error", with the system's reason and the file when the system gave one.
EWriteError WriteFailure(const std::string& path, int error) {
  return error != 0 ? EWriteError(QuotedPath(path), error) : EWriteError();
}

} // namespace

void TReplacedFile::Commit(std::string_view bytes) {
  Commit([&](int fd) { return WriteAll(fd, bytes); });
}

void TReplacedFile::Commit(const std::function<bool(int)>& write) {
  if (FHandle < 0) throw EWriteError();
  const int fd = FHandle;
  if (FInPlace) {
    // What this program printed before through the same descriptor comes first.
    if (FDescriptor == STDOUT_FILENO) std::fflush(stdout);
    if (FDescriptor == STDERR_FILENO) std::fflush(stderr);
    errno = 0;
    bool written = write(fd);
    int error = written ? 0 : errno;
    FHandle = -1;
    if (::close(fd) != 0 && errno != EINTR && written) {
      written = false;
      error = errno;
    }
    if (!written) throw WriteFailure(FPath, error);
    return;
  }
  errno = 0;
  bool written = write(fd);
  int error = written ? 0 : errno;
  if (written && ::fsync(fd) != 0) {
    written = false;
    error = errno;
  }
  if (written) {
    if (FExists) {
      ::fchmod(fd, mode_t(FOldMode));
      if (::fchown(fd, uid_t(FOldUid), gid_t(FOldGid)) != 0) {
        // Keeping the owner needs privileges; the contents are what matter.
      }
    } else {
      ::fchmod(fd, 0666 & ~CurrentUmask());
    }
  }
  ::close(fd);
  FHandle = -1;
  if (!written) {
    ::unlink(FTemp.c_str());
    Forget();
    throw WriteFailure(FPath, error);
  }
  if (::rename(FTemp.c_str(), FTarget.c_str()) != 0) {
    int error = errno;
    ::unlink(FTemp.c_str());
    Forget();
    throw EFCreateError(FPath, SystemErrorText(error));
  }
  Forget();
}

void RemoveTemporaryFiles() noexcept {
  RemovingTemporaryFiles = true;
  for (TTemporarySlot& slot : TemporarySlots) {
    // A file being made on another thread is waited for (a moment at most: the thread
    // may be this very one, stopped by the signal), so that it is not made after the
    // removal and left behind when the process ends.
    int state = slot.State.load();
    for (int wait = 0; (state == SlotClaimed || state == SlotMaking) && wait < 200; ++wait) {
      const struct timespec pause = {0, 1000000};
      ::nanosleep(&pause, nullptr);
      state = slot.State.load();
    }
    while ((state == SlotMaking || state == SlotLive) &&
           !slot.State.compare_exchange_weak(state, SlotTaken)) {
    }
    if (state != SlotMaking && state != SlotLive) continue;
    if (slot.Folder)
      RemoveFolderAndFiles(slot.Name);
    else
      ::unlink(slot.Name);
  }
}

namespace {

// Replaces the file at path with what write puts into the file descriptor it is given.
void ReplaceFileWith(const std::string& path, const std::function<bool(int)>& write) {
  TReplacedFile(path).Commit(write);
}

} // namespace

void ReplaceFileFromStream(const std::string& path, TStream& source) {
  ReplaceFileWith(path, [&](int fd) { return WriteAll(fd, source); });
}

void ReplaceFileWithBytes(const std::string& path, std::string_view bytes) {
  ReplaceFileWith(path, [&](int fd) { return WriteAll(fd, bytes); });
}

namespace {

// The temporary folders of batches: ".palkor-batch-XXXXXX".
constexpr std::string_view BatchPrefix = ".palkor-batch-";

// Removes the temporary folders that batches of the folder (open as folderHandle) left
// when their processes were killed: a batch holds its folder's lock while it runs, so a
// folder whose lock is free has no writer.
void RemoveLeftBatchFolders(const std::string& folder, int folderHandle) {
  const int listed = ::openat(folderHandle, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listed < 0) return;
  DIR* dir = ::fdopendir(listed);
  if (!dir) {
    ::close(listed);
    return;
  }
  std::vector<std::string> left;
  while (dirent* item = ::readdir(dir)) {
    const std::string_view name = item->d_name;
    if (name.size() == BatchPrefix.size() + 6 &&
        name.substr(0, BatchPrefix.size()) == BatchPrefix &&
        (item->d_type == DT_DIR || item->d_type == DT_UNKNOWN))
      left.emplace_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : left) {
    const int fd =
        ::openat(folderHandle, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) RemoveFolderAndFiles((folder + name).c_str());
    ::close(fd);
  }
}

} // namespace

TReplacedFiles::TReplacedFiles(const std::string& folder) : FFolder(folder) {
  if (!FFolder.empty() && FFolder.back() != '/') FFolder += '/';
}

TReplacedFiles::~TReplacedFiles() {
  Discard();
}

void TReplacedFiles::Discard() noexcept {
  if (FTempHandle >= 0) {
    // Removed before its slot is given back, so that a signal meanwhile removes it too.
    RemoveFolderAndFiles(FTemp.c_str());
    ::close(FTempHandle);
    FTempHandle = -1;
    ReleaseTemporarySlot(FSlot);
    FSlot = -1;
  }
  if (FFolderHandle >= 0) ::close(FFolderHandle);
  FFolderHandle = -1;
  FEntries.clear();
  FEntryOf.clear();
}

void TReplacedFiles::MakeTemporaryFolder(const std::string& path) {
  for (;;) {
    FTemp = FFolder + std::string(BatchPrefix) + "XXXXXX";
    if (MakeTemporaryFile(FTemp, FSlot, true) < 0)
      throw EFCreateError(path, SystemErrorText(errno));
    // Locked while the batch lives, and still there once locked: a batch removing the
    // folders left behind may have taken this one between its making and its locking.
    FTempHandle = ::open(FTemp.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    struct stat st;
    const bool locked =
        FTempHandle >= 0 && ::flock(FTempHandle, LOCK_EX) == 0 && ::fstat(FTempHandle, &st) == 0;
    if (locked && st.st_nlink > 0) return;
    const int error = errno;
    if (FTempHandle >= 0) ::close(FTempHandle);
    FTempHandle = -1;
    if (!locked) ::rmdir(FTemp.c_str());
    ReleaseTemporarySlot(FSlot);
    FSlot = -1;
    if (!locked) throw EFCreateError(path, SystemErrorText(error));
  }
}

void TReplacedFiles::Add(const std::string& name, std::string_view bytes) {
  const std::string path = FFolder + name;
  if (FFolderHandle < 0) {
    // One look at the folder for the batch: what a new file's owner and mode will be.
    FFolderHandle =
        ::open(FFolder.empty() ? "." : FFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat folder;
    if (FFolderHandle < 0 || ::fstat(FFolderHandle, &folder) != 0) {
      const int error = errno;
      if (FFolderHandle >= 0) ::close(FFolderHandle);
      FFolderHandle = -1;
      throw EFCreateError(path, SystemErrorText(error));
    }
    FNewUid = ::geteuid();
    FNewGid = (folder.st_mode & S_ISGID) ? folder.st_gid : ::getegid();
    FNewMode = 0666 & ~CurrentUmask();
  }
  // The file the name leads to: a link to another name of the folder is followed here; a
  // link leading anywhere else, and an output that is not a regular file, are written at
  // once as one file.
  std::string file = name;
  struct stat st;
  bool exists = false;
  for (int hops = 0;; ++hops) {
    if (::fstatat(FFolderHandle, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) throw EFCreateError(path, SystemErrorText(errno));
      break;
    }
    if (S_ISREG(st.st_mode)) {
      exists = true;
      break;
    }
    if (S_ISDIR(st.st_mode)) throw EFCreateError(path, SystemErrorText(EISDIR));
    char text[NAME_MAX + 1];
    const ssize_t n = S_ISLNK(st.st_mode) && hops < 40
                          ? ::readlinkat(FFolderHandle, file.c_str(), text, sizeof text)
                          : -1;
    const std::string_view next(text, size_t(std::max<ssize_t>(n, 0)));
    if (n <= 0 || size_t(n) >= sizeof text || next.find('/') != next.npos || next == "." ||
        next == "..") {
      ReplaceFileWithBytes(path, bytes);
      return;
    }
    file = next;
  }
  // The same refusal as overwriting in place: a file that may not be written.
  if (exists && ::faccessat(FFolderHandle, file.c_str(), W_OK, AT_EACCESS) != 0)
    throw EFCreateError(path, SystemErrorText(errno));
  if (FTempHandle < 0) MakeTemporaryFolder(path);

  // The temporary folder is the batch's alone: the file is made with its final mode.
  const int fd =
      ::openat(FTempHandle, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw EFCreateError(path, SystemErrorText(errno));
  errno = 0;
  bool written = WriteAll(fd, bytes);
  int error = written ? 0 : errno;
  if (written && exists) {
    // The replaced file's mode and owner, where they differ from a new file's.
    if (uint32_t(st.st_mode & 07777) != FNewMode) ::fchmod(fd, st.st_mode & 07777);
    if ((st.st_uid != FNewUid || st.st_gid != FNewGid) && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Keeping the owner needs privileges; the contents are what matter.
    }
  }
  if (::close(fd) != 0 && errno != EINTR && written) {
    written = false;
    error = errno;
  }
  const auto [at, added] = FEntryOf.try_emplace(file, FEntries.size());
  if (added) FEntries.push_back({file, name});
  FEntries[at->second].Name = name;
  if (!written) {
    ::unlinkat(FTempHandle, file.c_str(), 0);
    FEntries[at->second].File.clear(); // nothing of it is put in place
    throw WriteFailure(path, error);
  }
}

void TReplacedFiles::Commit() {
  FFailedName.clear();
  if (FTempHandle < 0) {
    Discard();
    return;
  }
  const std::string folder = FFolder.empty() ? "." : FFolder;
  // Every new file whole on disk before the first takes an old one's place: one sync of
  // the file system for them all.
  if (::syncfs(FTempHandle) != 0) {
    const int error = errno;
    // The file at fault, when one is: each synced on its own.
    for (const TEntry& entry : FEntries) {
      if (entry.File.empty()) continue;
      const int fd = ::openat(FTempHandle, entry.File.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0 && ::fsync(fd) != 0) {
        const int fileError = errno;
        ::close(fd);
        FFailedName = entry.Name;
        Discard();
        throw WriteFailure(FFolder + FFailedName, fileError);
      }
      if (fd >= 0) ::close(fd);
    }
    Discard();
    throw WriteFailure(folder, error);
  }
  for (const TEntry& entry : FEntries) {
    if (entry.File.empty()) continue;
    if (::renameat(FTempHandle, entry.File.c_str(), FFolderHandle, entry.File.c_str()) != 0) {
      const int error = errno;
      ::fsync(FFolderHandle); // the files renamed so far stay new
      FFailedName = entry.Name;
      Discard();
      throw EFCreateError(FFolder + FFailedName, SystemErrorText(error));
    }
  }
  const bool synced = ::fsync(FFolderHandle) == 0;
  const int error = errno;
  if (synced) RemoveLeftBatchFolders(FFolder, FFolderHandle);
  Discard();
  if (!synced) throw WriteFailure(folder, error);
}

void RemoveLeftTemporaryFiles(const std::string& target, std::string_view tempStem) {
  if (tempStem.empty() || tempStem.size() + 8 > NAME_MAX) return;
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string prefix = "." + std::string(tempStem) + "-";
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (dirent* item = ::readdir(dir)) {
    std::string_view name = item->d_name;
    if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix)
      ::unlinkat(::dirfd(dir), item->d_name, 0);
  }
  ::closedir(dir);
}

bool WriteToHandle(int fd, std::string_view bytes) {
  return WriteAll(fd, bytes);
}

void ReadHandleAt(int fd, void* buffer, int64_t count, int64_t offset) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t n = ::pread(fd, out, size_t(count), off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EReadError();
    out += n;
    count -= n;
    offset += n;
  }
}

bool CopyFileBytes(int from, int64_t offset, int to, int64_t length) {
  off_t at = off_t(offset);
  bool kernel = true;
  while (length > 0 && kernel) {
    const ssize_t n = ::copy_file_range(from, &at, to, nullptr, size_t(length), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                  errno == EBADF))
      kernel = false; // copied by hand below
    else if (n < 0)
      return false;
    else if (n == 0) {
      errno = ENODATA;
      return false;
    } else
      length -= n;
  }
  std::vector<char> buffer(size_t(std::min<int64_t>(length, 1 << 20)));
  while (length > 0) {
    const ssize_t n =
        ::pread(from, buffer.data(), size_t(std::min<int64_t>(length, int64_t(buffer.size()))), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENODATA;
      return false;
    }
    if (!WriteAll(to, std::string_view(buffer.data(), size_t(n)))) return false;
    at += n;
    length -= n;
  }
  return true;
}

namespace {

// True when both paths name the same file (the same inode of the same device).
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

} // namespace

bool PathNamesHandle(const std::string& path, int handle) {
  struct stat sp, sh;
  return ::stat(path.c_str(), &sp) == 0 && ::fstat(handle, &sh) == 0 && sp.st_dev == sh.st_dev &&
         sp.st_ino == sh.st_ino;
}

void RenameFileNoReplace(const std::string& from, const std::string& to) {
  if (SameFile(from, to)) {
    if (::rename(from.c_str(), to.c_str()) != 0) throw EFCreateError(to, SystemErrorText(errno));
    return;
  }
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  int error = errno;
  if (error == EINVAL || error == ENOSYS) {
    // A file system without the kernel's refusal: checked here, then renamed.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) throw EFCreateError(to, SystemErrorText(EEXIST));
    if (::rename(from.c_str(), to.c_str()) == 0) return;
    error = errno;
  }
  throw EFCreateError(to, SystemErrorText(error));
}

void RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) throw EFOpenError(path, SystemErrorText(errno));
}

uint32_t GetTickCount() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

} // namespace palkor
