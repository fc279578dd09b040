#include "archive/LGPFile.h"

#include "archive/FolderArchive.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"

#include "platform/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <thread>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

class WriteMemberTest : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Path = Dir.File("char.lgp");
  TLGPFixture Fixture;

  void SetUp() override {
    Fixture.Add("AAAA.HRC", "skeleton").Add("AAAB.A", PatternBytes(500, 2)).Add("AAAC.P", "part");
    Fixture.Members[1].TableExtra = {0x0e, 0x01, 0x00};
    Fixture.Members[1].Name = std::string("AAAB.A\0junk", 11); // bytes after the NUL
    WriteFile(Path, BuildLGP(Fixture));
  }
  std::string Bytes() const { return ReadFileBytes(Path); }
  static std::string Read(TLGPFile& archive, int32_t index) {
    return std::string(archive.ReadMemberToMemory(index)->View());
  }
  void ExpectOthersIntact(TLGPFile& archive) {
    EXPECT_EQ(Read(archive, 0), "skeleton");
    EXPECT_EQ(Read(archive, 2), "part");
  }
};

} // namespace

TEST_F(WriteMemberTest, AppendsTheNewCopyAndRepointsOnlyThatTableEntry) {
  std::string before = Bytes();
  auto archive = TLGPFile::Create(Path, false);
  TMemoryStream data(std::string_view("a new animation"));
  data.SetPosition(5); // the whole source is written whatever its position
  archive->WriteMember(archive->IndexOf("aaab.a"), data);

  std::string after = Bytes();
  ASSERT_EQ(after.size(), before.size() + 24 + 15);
  EXPECT_EQ(archive->GetEntry(1).Offset, int32_t(before.size()));
  EXPECT_EQ(archive->GetEntry(1).Size, 15);
  EXPECT_EQ(data.Position(), 15);
  // Everything up to the old end is unchanged but for the entry's offset field.
  size_t field = 16 + 27 + 20;
  EXPECT_EQ(after.substr(0, field), before.substr(0, field));
  EXPECT_EQ(after.substr(field + 4, before.size() - field - 4), before.substr(field + 4));
  // The new header carries the table's 20 name bytes exactly, junk after the NUL too.
  EXPECT_EQ(after.substr(before.size(), 20),
            std::string("AAAB.A\0junk", 11) + std::string(9, '\0'));
  EXPECT_EQ(after.substr(before.size() + 24), "a new animation");
  EXPECT_EQ(after.substr(16 + 27 + 24, 3), std::string("\x0e\x01\0", 3)); // kept as they were

  EXPECT_EQ(Read(*archive, 1), "a new animation");
  ExpectOthersIntact(*archive);
  // The order by offset stays the one the archive was opened with, though first asked
  // for now; a new opening sees the moved member last.
  auto order = [](TLGPFile& a) {
    std::string names;
    for (int32_t r = 0; r < a.Count(); ++r) names += a.GetEntryByOffset(r).Name + " ";
    return names;
  };
  EXPECT_EQ(order(*archive), "AAAA.HRC AAAB.A AAAC.P ");
  auto reopened = TLGPFile::Create(Path, true);
  EXPECT_EQ(order(*reopened), "AAAA.HRC AAAC.P AAAB.A ");
  EXPECT_EQ(Read(*reopened, 1), "a new animation");
  EXPECT_EQ(reopened->GetEntry(1).Size, 15);
}

TEST_F(WriteMemberTest, ReplacingTwiceGrowsTwiceAndEmptyDataIsAZeroSizeMember) {
  auto archive = TLGPFile::Create(Path, false);
  size_t size0 = Bytes().size();
  TMemoryStream first(std::string_view("first"));
  archive->WriteMember(1, first);
  TMemoryStream empty;
  archive->WriteMember(1, empty);
  EXPECT_EQ(Bytes().size(), size0 + 24 + 5 + 24);
  EXPECT_EQ(archive->GetEntry(1).Offset, int32_t(size0 + 24 + 5));
  EXPECT_EQ(Read(*archive, 1), "");
  auto reopened = TLGPFile::Create(Path, false);
  EXPECT_EQ(reopened->GetEntry(1).Offset, int32_t(size0 + 24 + 5));
  ExpectOthersIntact(*reopened);
}

TEST_F(WriteMemberTest, AVerifiedArchiveWritesItsTrailerAgainAfterTheNewMember) {
  std::string before = Bytes();
  auto archive = TLGPFile::Create(Path, true);
  ASSERT_EQ(archive->Trailer(), "FINAL FANTASY7");
  TMemoryStream data(std::string_view("xyz"));
  archive->WriteMember(0, data);
  std::string after = Bytes();
  size_t newOffset = before.size() - 14;
  EXPECT_EQ(archive->GetEntry(0).Offset, int32_t(newOffset));
  EXPECT_EQ(after.size(), before.size() + 24 + 3);
  EXPECT_EQ(after.substr(newOffset + 24), "xyzFINAL FANTASY7");
  auto reopened = TLGPFile::Create(Path, true);
  EXPECT_EQ(reopened->Trailer(), "FINAL FANTASY7");
  EXPECT_EQ(Read(*reopened, 0), "xyz");
}

TEST_F(WriteMemberTest, FailuresLeaveTheFileAsItWas) {
  std::string before = Bytes();
  auto archive = TLGPFile::Create(Path, true);
  TMemoryStream data(std::string_view("data"));
  try {
    archive->WriteMember(-1, data); // what a missing name gives the save path
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (-1)");
  }
  // A source that breaks off part-way through the copy.
  struct TBroken : TMemoryStream {
    using TMemoryStream::TMemoryStream;
    int64_t Read(void* buffer, int64_t count) override {
      return TMemoryStream::Read(buffer, std::min<int64_t>(count, 2));
    }
  } broken(std::string_view("broken data"));
  EXPECT_THROW(archive->WriteMember(1, broken), EReadError);
  EXPECT_EQ(Bytes(), before);
  EXPECT_EQ(archive->GetEntry(1).Offset, MemberOffsets(Fixture)[1]);
  EXPECT_EQ(Read(*archive, 1), Fixture.Members[1].Data);

  // The archive file gone: "Cannot open file", nothing created.
  auto stale = TLGPFile::Create(Path, false);
  std::string moved = Dir.File("moved.lgp");
  std::rename(Path.c_str(), moved.c_str());
  EXPECT_THROW(stale->WriteMember(0, data), EFOpenError);
  EXPECT_FALSE(FileExists(Path));
}

TEST_F(WriteMemberTest, WritersRacingOnOneArchiveLoseNothing) {
  // Each round two writers, each with its own opening of the archive, replace different
  // members at the same moment; both new copies must be there after.
  for (int round = 0; round < 200; ++round) {
    const std::string first = "first " + std::to_string(round) + PatternBytes(4000, 1);
    const std::string third = "third " + std::to_string(round) + PatternBytes(3000, 2);
    std::atomic<int> ready{0};
    auto writer = [&](int32_t index, const std::string& bytes) {
      auto archive = TLGPFile::Create(Path, false);
      TMemoryStream data(bytes);
      ++ready;
      while (ready < 2) {
      }
      archive->WriteMember(index, data);
    };
    std::thread a(writer, 0, first), b(writer, 2, third);
    a.join();
    b.join();
    auto archive = TLGPFile::Create(Path, true);
    ASSERT_EQ(Read(*archive, 0), first) << "round " << round;
    ASSERT_EQ(Read(*archive, 2), third) << "round " << round;
    ASSERT_EQ(Read(*archive, 1), Fixture.Members[1].Data);
  }
}

TEST_F(WriteMemberTest, ModifyingAMemberBuildsOnWhatAnotherWriterChangedMeanwhile) {
  // The same archive as a folder of its files.
  const std::string folder = Dir.File("folder/");
  std::filesystem::create_directory(folder);
  for (const auto& member : Fixture.Members) WriteFile(folder + member.Name.c_str(), member.Data);

  for (const std::string& path : {Path, folder}) {
    SCOPED_TRACE(path);
    // Each writer adds its letter to one member many times over, through an opening of
    // its own made before the other's changes: every letter must be there after.
    constexpr int Rounds = 100;
    auto writer = [&](char letter) {
      auto archive = ArchiveKindForPath(path).Open();
      const int32_t index = archive->IndexOf("aaac.p");
      for (int i = 0; i < Rounds; ++i)
        archive->ModifyMember(
            index, [&](std::string_view current) { return std::string(current) + letter; });
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    auto archive = ArchiveKindForPath(path).Open();
    const std::string part = Read(*archive, archive->IndexOf("AAAC.P"));
    EXPECT_EQ(part.substr(0, 4), "part");
    EXPECT_EQ(std::count(part.begin(), part.end(), 'a'), Rounds + 1); // "part" has one
    EXPECT_EQ(std::count(part.begin(), part.end(), 'b'), Rounds);
    EXPECT_EQ(Read(*archive, archive->IndexOf("AAAA.HRC")), "skeleton");

    // A change that fails leaves the archive as it was.
    const std::string before = path == Path ? Bytes() : ReadFileBytes(folder + "AAAC.P");
    EXPECT_THROW(archive->ModifyMember(archive->IndexOf("AAAC.P"),
                                       [](std::string_view) -> std::string { throw EReadError(); }),
                 EReadError);
    EXPECT_EQ(path == Path ? Bytes() : ReadFileBytes(folder + "AAAC.P"), before);
  }
}

TEST_F(WriteMemberTest, AWriteTheSystemRefusesSaysWhyAndChangesNothing) {
  // A file size limit stands in for a full disk: the system refuses the bytes past it.
  const std::string before = Bytes();
  auto archive = TLGPFile::Create(Path, false);
  TMemoryStream data(PatternBytes(1000, 3));
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = old;
  limit.rlim_cur = before.size() + 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  std::string message;
  try {
    archive->WriteMember(1, data);
  } catch (const EWriteError& e) {
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(message, "Stream write error: the file would grow beyond what the system allows "
                     "writing \"" +
                         Path + "\"");
  EXPECT_EQ(Bytes(), before);
}
