#include "archive/FolderArchive.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <filesystem>

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
