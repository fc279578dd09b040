#include "platform/Files.h"

#include <functional>
#include <typeinfo>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
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

// Writes everything to fd; false on failure. A stream in memory is written as it lies.
bool WriteAll(int fd, TStream& source) {
  if (typeid(source) == typeid(TMemoryStream))
    return WriteAll(fd, static_cast<TMemoryStream&>(source).View());
  source.SetPosition(0);
  std::vector<uint8_t> chunk(64 * 1024);
  for (;;) {
    int64_t n = source.Read(chunk.data(), int64_t(chunk.size()));
    if (n <= 0) return source.Position() >= source.Size();
    for (int64_t done = 0; done < n;) {
      ssize_t w = ::write(fd, chunk.data() + done, size_t(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
    }
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
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

TReplacedFile::TReplacedFile(const std::string& path) : FPath(path), FTarget(path) {
  // An output that is not a regular file (a FIFO, a device, a terminal, /dev/stdout) is
  // written into as it is: replacing it would put a regular file in its place and its
  // reader would get nothing. Names under /dev and /proc are always taken so, for
  // /dev/stdout may lead to the very file a shell opened for the output.
  struct stat current;
  const bool exists = ::stat(path.c_str(), &current) == 0;
  if (path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0 ||
      (exists && !S_ISREG(current.st_mode) && !S_ISDIR(current.st_mode))) {
    FHandle = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (FHandle < 0) throw EFCreateError(path, SystemErrorText(errno));
    FInPlace = true;
    return;
  }

  // Follow a link so that the link itself stays a link to the rewritten file.
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    FTarget = real;
    std::free(real);
  }

  struct stat old;
  FExists = ::stat(FTarget.c_str(), &old) == 0;
  if (FExists) {
    // The same refusals as overwriting in place: a read-only file or a folder.
    int probe = ::open(FTarget.c_str(), O_WRONLY | O_CLOEXEC);
    if (probe < 0) throw EFCreateError(path, SystemErrorText(errno));
    ::close(probe);
    FOldMode = old.st_mode & 07777;
    FOldUid = old.st_uid;
    FOldGid = old.st_gid;
  }

  size_t slash = FTarget.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : FTarget.substr(0, slash + 1);
  // A short name of its own, so that any name the file system takes for the file can
  // be replaced.
  FTemp = folder + ".palkor-XXXXXX";
  FHandle = ::mkstemp(FTemp.data());
  if (FHandle < 0) throw EFCreateError(path, SystemErrorText(errno));
}

TReplacedFile::~TReplacedFile() {
  if (FHandle < 0) return;
  ::close(FHandle);
  if (!FInPlace) ::unlink(FTemp.c_str());
}

void TReplacedFile::Commit(std::string_view bytes) {
  Commit([&](int fd) { return WriteAll(fd, bytes); });
}

void TReplacedFile::Commit(const std::function<bool(int)>& write) {
  if (FHandle < 0) throw EWriteError();
  const int fd = FHandle;
  if (FInPlace) {
    bool written = write(fd);
    FHandle = -1;
    if (::close(fd) != 0 && errno != EINTR) written = false;
    if (!written) throw EWriteError();
    return;
  }
  bool written = write(fd) && ::fsync(fd) == 0;
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
    throw EWriteError();
  }
  if (::rename(FTemp.c_str(), FTarget.c_str()) != 0) {
    int error = errno;
    ::unlink(FTemp.c_str());
    throw EFCreateError(FPath, SystemErrorText(error));
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

uint32_t GetTickCount() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

} // namespace palkor
