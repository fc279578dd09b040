#include "platform/Files.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

using namespace palkor;
using fixtures::WriteFile;

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
  // A folder in the way cannot be replaced.
  std::filesystem::create_directory(dir.File("folder"));
  try {
    ReplaceFileWithBytes(dir.File("folder"), "x");
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + dir.File("folder") + "\". Is a directory");
  }
}
