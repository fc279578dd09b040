#include "archive/FolderArchive.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/DebugLog.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

class FolderArchiveTest : public ::testing::Test {
protected:
  TTempDir Dir;
  void SetUp() override {
    WriteFile(Dir.File("AAAA.HRC"), "skeleton text");
    WriteFile(Dir.File("EMPTY.A"), "");
    WriteFile(Dir.File(".hidden"), "not a member");
    std::filesystem::create_directory(Dir.File("sub"));
  }
  static std::string Read(TLGPFile& archive, int32_t index) {
    return std::string(archive.ReadMemberToMemory(index)->View());
  }
};

} // namespace

TEST_F(FolderArchiveTest, TheFolderFilesAreTheMembers) {
  auto archive = TFolderArchive::CreateFromFolder(Dir.Path());
  EXPECT_EQ(archive->FileName(), Dir.Path() + "/");
  EXPECT_EQ(archive->Creator(), "Quenmark");
  EXPECT_EQ(archive->Trailer(), "Null LGP");
  ASSERT_EQ(archive->Count(), 2);
  for (int32_t i = 0; i < 2; ++i) {
    TLGPEntry e = archive->GetEntry(i);
    EXPECT_EQ(e.Offset, 0);
    EXPECT_FALSE(e.NameMismatch);
    EXPECT_EQ(archive->GetEntryByOffset(i).Name, e.Name); // same order in both lists
  }
  int32_t hrc = archive->IndexOf("aaaa.hrc");
  ASSERT_GE(hrc, 0);
  EXPECT_EQ(archive->IndexOf("AaAa.HrC"), hrc);
  EXPECT_EQ(archive->GetEntry(hrc).Size, 13);
  EXPECT_EQ(Read(*archive, hrc), "skeleton text");
  EXPECT_EQ(Read(*archive, archive->IndexOf("empty.a")), "");
  EXPECT_EQ(archive->IndexOf(".hidden"), -1);
  EXPECT_EQ(archive->IndexOf("sub"), -1);
  // Verification changes nothing for a folder.
  archive->VerifyMembers();
  archive->ReloadOffsets();
  EXPECT_EQ(archive->GetEntry(hrc).Size, 13);
}

TEST_F(FolderArchiveTest, MembersAreReadAsTheyAreNowAndReplacedWhole) {
  auto archive = TFolderArchive::CreateFromFolder(Dir.Path() + "//");
  EXPECT_EQ(archive->FileName(), Dir.Path() + "/");
  int32_t hrc = archive->IndexOf("AAAA.HRC");
  WriteFile(Dir.File("AAAA.HRC"), "skeleton text, grown since the scan");
  EXPECT_EQ(Read(*archive, hrc), "skeleton text, grown since the scan");
  EXPECT_EQ(archive->GetEntry(hrc).Size, 13);

  TMemoryStream shorter(std::string_view("short"));
  shorter.SetPosition(3);
  archive->WriteMember(hrc, shorter);
  EXPECT_EQ(ReadFileBytes(Dir.File("AAAA.HRC")), "short");
  EXPECT_EQ(archive->GetEntry(hrc).Size, 13); // the scanned size stays
  EXPECT_EQ(ListFolderFiles(Dir.Path()).size(), 2u);
}

TEST_F(FolderArchiveTest, MissingFilesAndFoldersGiveTheFileMessages) {
  auto archive = TFolderArchive::CreateFromFolder(Dir.Path());
  int32_t hrc = archive->IndexOf("AAAA.HRC");
  std::filesystem::remove(Dir.File("AAAA.HRC"));
  TMemoryStream dest;
  try {
    archive->ReadMember(hrc, dest);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot open file \"" + Dir.File("AAAA.HRC") + "\". No such file or directory");
  }
  // A folder standing where the member was cannot be replaced.
  std::filesystem::create_directory(Dir.File("AAAA.HRC"));
  EXPECT_THROW(archive->WriteMember(hrc, dest), EFCreateError);
  EXPECT_THROW(archive->ReadMember(5, dest), EListError);

  EXPECT_EQ(TFolderArchive::CreateFromFolder(Dir.File("no-such-folder"))->Count(), 0);
  EXPECT_EQ(TFolderArchive::CreateFromFolder(Dir.File("sub"))->Count(), 0);
}

// Runs body as a user that the folder's permissions bind: this process, or, run as root
// (whom permissions do not bind), a child process that has become "nobody". What body
// returns, empty when all went well, comes back.
static std::string AsAnOrdinaryUser(const std::function<std::string()>& body) {
  if (::geteuid() != 0) return body();
  int channel[2];
  if (::pipe(channel) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    std::string result = ::setgid(65534) == 0 && ::setuid(65534) == 0 ? body() : "no setuid";
    if (::write(channel[1], result.data(), result.size()) < 0) result.clear();
    ::_exit(0);
  }
  ::close(channel[1]);
  std::string result;
  char buffer[256];
  for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
    result.append(buffer, size_t(n));
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return result;
}

TEST_F(FolderArchiveTest, AFolderThatTakesNoNewFileHasItsMembersWrittenInPlace) {
  WriteFile(Dir.File("LOCKED.A"), "locked");
  ::chmod(Dir.File("AAAA.HRC").c_str(), 0666);
  ::chmod(Dir.File("LOCKED.A").c_str(), 0444);
  ::chmod(Dir.Path().c_str(), 0555);
  const std::string result = AsAnOrdinaryUser([&]() -> std::string {
    try {
      auto archive = TFolderArchive::CreateFromFolder(Dir.Path());
      TMemoryStream longer(std::string_view("skeleton text, longer now"));
      archive->WriteMember(archive->IndexOf("AAAA.HRC"), longer);
      if (ReadFileBytes(Dir.File("AAAA.HRC")) != "skeleton text, longer now") return "not written";
      if (DebugLog().Lines().back() != "WriteMember: " + Dir.File("AAAA.HRC") +
                                           " written in place, its folder takes no new file")
        return "not logged: " + DebugLog().Lines().back();
      archive->ModifyMember(archive->IndexOf("AAAA.HRC"),
                            [](std::string_view text) { return std::string(text.substr(0, 8)); });
      if (ReadFileBytes(Dir.File("AAAA.HRC")) != "skeleton") return "not cut short";
      if (ListFolderFiles(Dir.Path()).size() != 3) return "a file left beside";
      // A file that may not be written either way keeps the refusal, and its bytes.
      try {
        archive->WriteMember(archive->IndexOf("LOCKED.A"), longer);
        return "a read-only file written";
      } catch (const EFCreateError& e) {
        if (e.Message() != "Cannot create file \"" + Dir.File("LOCKED.A") + "\". Permission denied")
          return e.Message();
      }
      if (ReadFileBytes(Dir.File("LOCKED.A")) != "locked") return "a read-only file changed";
    } catch (const Exception& e) {
      return e.Message();
    }
    return "";
  });
  ::chmod(Dir.Path().c_str(), 0700);
  EXPECT_EQ(result, "");
}

TEST_F(FolderArchiveTest, TheArchiveKindFollowsThePath) {
  WriteFile(Dir.File("char.lgp"), BuildLGP(TLGPFixture().Add("X.P", "x")));
  TArchiveKind folder = ArchiveKindForPath(Dir.Path());
  TArchiveKind file = ArchiveKindForPath(Dir.File("char.lgp"));
  TArchiveKind missing = ArchiveKindForPath(Dir.File("missing"));
  EXPECT_EQ(folder.Class, &TFolderArchive::Class());
  EXPECT_EQ(file.Class, &TLGPFile::Class());
  EXPECT_EQ(missing.Class, &TLGPFile::Class());
  auto reopened = folder.Open();
  EXPECT_EQ(&reopened->ClassType(), &TFolderArchive::Class());
  EXPECT_STREQ(reopened->ClassType().ClassName(), "TFolderArchive");
  EXPECT_EQ(reopened->Count(), 3);
  EXPECT_EQ(file.Open()->Count(), 1);
  EXPECT_THROW(missing.Open(), EFOpenError);
}
