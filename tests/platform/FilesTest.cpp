#include "platform/Files.h"
#include "platform/BatchedFiles.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace palkor;
using fixtures::WriteFile;

namespace {

// The temporary files left in folder (ListFolderFiles does not list hidden files).
int TemporaryFilesIn(const std::string& folder) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    count += entry.path().filename().string().rfind(".palkor-", 0) == 0;
  return count;
}

} // namespace

TEST(Files, ListingTakesOnlyVisibleOrdinaryFiles) {
  fixtures::TTempDir dir;
  WriteFile(dir.File("AAAA.HRC"), "12345");
  WriteFile(dir.File(".hidden"), "x");
  std::filesystem::create_directory(dir.File("sub"));
  WriteFile(dir.File("sub/inner"), "x");
  std::filesystem::create_symlink(dir.File("AAAA.HRC"), dir.File("link.hrc"));
  auto files = ListFolderFiles(dir.Path() + "/");
  std::sort(files.begin(), files.end(), [](auto& a, auto& b) { return a.Name < b.Name; });
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].Name, "AAAA.HRC");
  EXPECT_EQ(files[0].Size, 5);
  EXPECT_EQ(files[1].Name, "link.hrc"); // a link to a file counts as that file
  EXPECT_TRUE(ListFolderFiles(dir.File("missing/")).empty());
}

TEST(Files, ReplacingAFileKeepsItsModeAndLinks) {
  fixtures::TTempDir dir;
  std::string path = dir.File("member.a");
  WriteFile(path, "old contents");
  ::chmod(path.c_str(), 0640);
  std::filesystem::create_symlink(path, dir.File("alias.a"));
  ReplaceFileWithBytes(dir.File("alias.a"), "new");
  EXPECT_EQ(ReadFileBytes(path), "new");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("alias.a")));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // No temporary file is left beside it.
  EXPECT_EQ(ListFolderFiles(dir.Path()).size(), 2u);
  EXPECT_EQ(TemporaryFilesIn(dir.Path()), 0);
}

TEST(Files, AFailedReplaceLeavesTheOldFileWhole) {
  fixtures::TTempDir dir;
  std::string path = dir.File("member.a");
  WriteFile(path, "old contents");
  // A source that breaks off part-way.
  struct TBroken : TMemoryStream {
    using TMemoryStream::TMemoryStream;
    int64_t Read(void* buffer, int64_t count) override {
      return Position() >= 3 ? 0 : TMemoryStream::Read(buffer, std::min<int64_t>(count, 3));
    }
  } broken(std::string_view("new contents"));
  EXPECT_THROW(ReplaceFileFromStream(path, broken), EWriteError);
  EXPECT_EQ(ReadFileBytes(path), "old contents");
  EXPECT_EQ(ListFolderFiles(dir.Path()).size(), 1u);
  EXPECT_EQ(TemporaryFilesIn(dir.Path()), 0);
  // A folder in the way cannot be replaced.
  std::filesystem::create_directory(dir.File("folder"));
  try {
    ReplaceFileWithBytes(dir.File("folder"), "x");
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + dir.File("folder") + "\". Is a directory");
  }
}

TEST(Files, MemberNamesThatCannotNameAFileAreRefused) {
  for (const std::string name : {"KNIG", "[Battle] RTAA", "..a", ".hidden", "a.b.c", "\x1b[31m"})
    EXPECT_NO_THROW(CheckMemberFileName(name)) << name;
  const std::string plain = "is not a plain file name";
  const std::pair<std::string, std::string> refused[] = {
      {"", "\"\" " + plain},
      {".", "\".\" " + plain},
      {"..", "\"..\" " + plain},
      {"../KNIG", "\"../KNIG\" " + plain},
      {"/etc/x", "\"/etc/x\" " + plain},
      {"a\\b", "\"a\\b\" " + plain},
      {std::string("a\0b", 3), std::string("\"a\0b\" ", 6) + plain},
      {std::string(256, 'n'), "\"" + std::string(256, 'n') + "\" is too long for a file name"},
  };
  for (const auto& [name, message] : refused)
    EXPECT_EQ(palkor::testing::ErrorOf([&] { CheckMemberFileName(name); }), message);
  EXPECT_NO_THROW(CheckMemberFileName(std::string(255, 'n')));
}

TEST(Files, ALinkToAMissingFileMakesThatFile) {
  fixtures::TTempDir dir;
  std::filesystem::create_directory(dir.File("sub"));
  // An absolute link, a relative one (from the link's own folder) and a link to a link.
  std::filesystem::create_symlink(dir.File("sub/absolute.a"), dir.File("absolute"));
  std::filesystem::create_symlink("relative.a", dir.File("sub/relative"));
  std::filesystem::create_symlink("sub/relative", dir.File("chain"));
  for (const char* link : {"absolute", "sub/relative", "chain"}) {
    ReplaceFileWithBytes(dir.File(link), link);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File(link))) << link;
  }
  EXPECT_EQ(ReadFileBytes(dir.File("sub/absolute.a")), "absolute");
  EXPECT_EQ(ReadFileBytes(dir.File("sub/relative.a")), "chain");
  // A link into a missing folder, and links in a loop, fail and leave the links.
  std::filesystem::create_symlink(dir.File("none/x"), dir.File("nowhere"));
  std::filesystem::create_symlink("loop2", dir.File("loop1"));
  std::filesystem::create_symlink("loop1", dir.File("loop2"));
  EXPECT_EQ(palkor::testing::ErrorOf([&] { ReplaceFileWithBytes(dir.File("nowhere"), "x"); }),
            "Cannot create file \"" + dir.File("nowhere") + "\". No such file or directory");
  EXPECT_EQ(palkor::testing::ErrorOf([&] { ReplaceFileWithBytes(dir.File("loop1"), "x"); }),
            "Cannot create file \"" + dir.File("loop1") + "\". Too many levels of symbolic links");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("nowhere")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("loop1")));
  EXPECT_EQ(TemporaryFilesIn(dir.Path()) + TemporaryFilesIn(dir.File("sub")), 0);
}

TEST(Files, ANameOfOneOfOurDescriptorsIsWrittenThroughIt) {
  fixtures::TTempDir dir;
  // Written at the descriptor's offset, and at the end in its append mode: never from the
  // start of the file as opening the name again would.
  const std::string plainPath = dir.File("plain"), appendPath = dir.File("append");
  WriteFile(plainPath, "");
  WriteFile(appendPath, "old;");
  const int plain = ::open(plainPath.c_str(), O_WRONLY | O_CLOEXEC);
  const int append = ::open(appendPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  const int readOnly = ::open(plainPath.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(plain, 0);
  ASSERT_GE(append, 0);
  ASSERT_EQ(::write(plain, "first;", 6), 6);
  std::filesystem::create_symlink("/dev/fd/" + std::to_string(append), dir.File("link"));
  ReplaceFileWithBytes("/dev/fd/" + std::to_string(plain), "second;");
  ReplaceFileWithBytes("/proc/self/fd/" + std::to_string(plain), "third");
  ReplaceFileWithBytes(dir.File("link"), "new");
  EXPECT_EQ(ReadFileBytes(plainPath), "first;second;third");
  EXPECT_EQ(ReadFileBytes(appendPath), "old;new");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link")));
  // The descriptors stay open, still the caller's.
  EXPECT_EQ(::write(plain, "!", 1), 1);
  EXPECT_EQ(ReadFileBytes(plainPath), "first;second;third!");
  // A descriptor open for reading only, or not open at all, cannot be written.
  const std::string closed = "/dev/fd/" + std::to_string(::dup(readOnly));
  ::close(std::stoi(closed.substr(8)));
  for (const std::string& name : {"/dev/fd/" + std::to_string(readOnly), closed})
    EXPECT_EQ(palkor::testing::ErrorOf([&] { ReplaceFileWithBytes(name, "x"); }),
              "Cannot create file \"" + name + "\". Bad file descriptor");
  ::close(plain);
  ::close(append);
  ::close(readOnly);
  EXPECT_EQ(TemporaryFilesIn(dir.Path()), 0);
}

TEST(Files, ABatchReplacesEveryFileOnlyWhenCommitted) {
  fixtures::TTempDir dir;
  std::filesystem::create_directory(dir.File("other"));
  WriteFile(dir.File("OLD.A"), "old a");
  ::chmod(dir.File("OLD.A").c_str(), 0640);
  WriteFile(dir.File("REAL.P"), "old real");
  std::filesystem::create_symlink("REAL.P", dir.File("ALIAS.P"));              // in the folder
  std::filesystem::create_symlink(dir.File("other/FAR.P"), dir.File("FAR.P")); // out of it
  // Each name, the bytes added, and what the folder then holds under the file named.
  const struct {
    std::string Name, Bytes, File;
  } cases[] = {
      {"NEW.A", "new", "NEW.A"},
      {"OLD.A", "new a", "OLD.A"},
      {"ALIAS.P", "through the link", "REAL.P"},
      {"FAR.P", "far", "other/FAR.P"},
  };
  {
    TReplacedFiles files(dir.Path());
    for (const auto& c : cases) files.Add(c.Name, c.Bytes);
    // Nothing in the folder changed before Commit (but the link leading out of it).
    EXPECT_FALSE(FileExists(dir.File("NEW.A")));
    EXPECT_EQ(ReadFileBytes(dir.File("OLD.A")), "old a");
    EXPECT_EQ(ReadFileBytes(dir.File("REAL.P")), "old real");
    // A folder in the way is refused, naming it, and the batch is left as it was.
    std::filesystem::create_directory(dir.File("DIR.P"));
    EXPECT_EQ(palkor::testing::ErrorOf([&] { files.Add("DIR.P", "x"); }),
              "Cannot create file \"" + dir.File("DIR.P") + "\". Is a directory");
    EXPECT_EQ(palkor::testing::ErrorOf([&] { files.Add(std::string(256, 'n'), "x"); }),
              "Cannot create file \"" + dir.File(std::string(256, 'n')) + "\". File name too long");
    files.Commit();
  }
  for (const auto& c : cases) EXPECT_EQ(ReadFileBytes(dir.File(c.File)), c.Bytes) << c.Name;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("ALIAS.P")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("FAR.P")));
  struct stat st;
  ASSERT_EQ(::stat(dir.File("OLD.A").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // A batch never committed changes nothing and leaves nothing; a batch folder left by a
  // process killed outright goes with the next commit.
  std::filesystem::create_directory(dir.File(".palkor-batch-Killed"));
  WriteFile(dir.File(".palkor-batch-Killed/NEW.A"), "half");
  {
    TReplacedFiles files(dir.Path());
    files.Add("NEW.A", "never");
  }
  EXPECT_EQ(ReadFileBytes(dir.File("NEW.A")), "new");
  EXPECT_TRUE(std::filesystem::exists(dir.File(".palkor-batch-Killed")));
  TReplacedFiles again(dir.Path());
  again.Add("NEW.A", "again");
  again.Commit();
  EXPECT_EQ(ReadFileBytes(dir.File("NEW.A")), "again");
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    EXPECT_NE(entry.path().filename().string().rfind(".palkor-", 0), 0u) << entry.path();
}

// Files written from several threads are put in place a batch at a time while more come;
// Finish puts the rest in place. A commit that fails is reported by Finish.
TEST(Files, BatchedFilesAreAllPutInPlaceAndAFailedCommitIsReported) {
  fixtures::TTempDir dir;
  WriteFile(dir.File("T0-0"), "old");
  {
    TBatchedFiles files(dir.Path(), 3);
    auto write = [&](int thread) {
      for (int i = 0; i < 20; ++i) {
        const std::string name = "T" + std::to_string(thread) + "-" + std::to_string(i);
        files.Add(name, name + " bytes");
      }
    };
    std::thread other(write, 1);
    write(0);
    other.join();
    files.Finish();
  }
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(ReadFileBytes(entry.path().string()), name + " bytes");
    ++count;
  }
  EXPECT_EQ(count, 40u);

  // A folder made where a file goes, after it was written: its rename fails at the commit.
  TBatchedFiles files(dir.Path(), 100);
  files.Add("T0-0", "new");
  files.Add("LATE", "late");
  std::filesystem::create_directory(dir.File("LATE"));
  EXPECT_EQ(palkor::testing::ErrorOf([&] { files.Finish(); }),
            "Cannot create file \"" + dir.File("LATE") + "\". Is a directory");
  EXPECT_EQ(ReadFileBytes(dir.File("T0-0")), "new"); // renamed before the failure
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    EXPECT_NE(entry.path().filename().string().rfind(".palkor-", 0), 0u) << entry.path();
}
