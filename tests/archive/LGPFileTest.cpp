#include "archive/LGPFile.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

using namespace palkor;
using palkor::testing::ErrorOf;
using namespace palkor::fixtures;

namespace {

class LGPFileTest : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Path = Dir.File("char.lgp");

  std::unique_ptr<TLGPFile> Open(const TLGPFixture& fixture, bool verify = false) {
    WriteFile(Path, BuildLGP(fixture));
    return TLGPFile::Create(Path, verify);
  }
  static std::string Read(TLGPFile& archive, int32_t index) {
    return std::string(archive.ReadMemberToMemory(index)->View());
  }
};

TLGPFixture ThreeMembers() {
  TLGPFixture f;
  f.Add("AAAA.HRC", "skeleton").Add("aaab.rsd", "resource").Add("AAAC.P", PatternBytes(1000, 1));
  return f;
}

} // namespace

TEST_F(LGPFileTest, OrdinaryOpenListsTheTableAndReadsMembersByTheirHeaders) {
  TLGPFixture f = ThreeMembers();
  f.Gap = std::string(100, '\x7f'); // the game's lookup data between table and members
  auto archive = Open(f);
  auto offsets = MemberOffsets(f);
  ASSERT_EQ(archive->Count(), 3);
  EXPECT_EQ(archive->FileName(), Path);
  EXPECT_EQ(archive->Creator(), "SQUARESOFT");
  EXPECT_EQ(archive->Trailer(), ""); // only the verifying open reads it
  for (int32_t i = 0; i < 3; ++i) {
    TLGPEntry e = archive->GetEntry(i);
    EXPECT_EQ(e.Name, f.Members[size_t(i)].Name);
    EXPECT_EQ(e.Offset, offsets[size_t(i)]);
    EXPECT_EQ(e.Size, -1); // not known until verified
    EXPECT_FALSE(e.NameMismatch);
    EXPECT_EQ(Read(*archive, i), f.Members[size_t(i)].Data);
  }
  // Two reads into one stream append; the position ends after the copy.
  TMemoryStream both;
  archive->ReadMember(0, both);
  archive->ReadMember(1, both);
  EXPECT_EQ(both.View(), "skeletonresource");
  EXPECT_EQ(both.Position(), 16);
  // The copy of an entry does not reach the archive.
  TLGPEntry copy = archive->GetEntry(0);
  copy.Name = "changed";
  EXPECT_EQ(archive->GetEntry(0).Name, "AAAA.HRC");
}

TEST_F(LGPFileTest, NamesAreFoundInAnyLetterCase) {
  TLGPFixture f = ThreeMembers();
  f.Add("ABCDEFGHIJKLMNOPQRST", "full"); // fills all 20 bytes
  f.Add("\xe9t\xe9.a", "accented");
  auto archive = Open(f);
  EXPECT_EQ(archive->IndexOf("aaaa.hrc"), 0);
  EXPECT_EQ(archive->IndexOf("AAAA.HRC"), 0);
  EXPECT_EQ(archive->IndexOf("AAAB.RSD"), 1); // stored in lower case, found in either
  EXPECT_EQ(archive->IndexOf("aaab.rsd"), 1);
  EXPECT_EQ(archive->IndexOf("abcdefghijklmnopqrst"), 3);
  EXPECT_EQ(archive->GetEntry(3).Name.size(), 20u);
  EXPECT_EQ(archive->IndexOf("\xe9T\xe9.A"), 4);
  EXPECT_EQ(archive->IndexOf("\xc9T\xc9.A"), -1); // only ASCII letters fold
  EXPECT_EQ(archive->IndexOf("missing"), -1);
  EXPECT_EQ(archive->IndexOf(""), -1);
  TLGPEntry entry;
  entry.Name = "untouched";
  EXPECT_FALSE(archive->GetEntryByName("missing", entry));
  EXPECT_EQ(entry.Name, "untouched");
  EXPECT_TRUE(archive->GetEntryByName("aaac.p", entry));
  EXPECT_EQ(entry.Name, "AAAC.P");
}

TEST_F(LGPFileTest, LongNamesSharingAPrefixAreToldApart) {
  TLGPFixture f;
  const char* names[] = {"ABCDEFGHIJKLMNOPQ2", "ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOPQ1",
                         "ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNOPQ"};
  for (const char* name : names) f.Add(name, name);
  auto archive = Open(f);
  for (int32_t i = 0; i < 5; ++i) {
    std::string lower = names[i];
    for (char& c : lower) c = char(std::tolower(c));
    EXPECT_EQ(archive->IndexOf(lower), i) << names[i];
  }
  EXPECT_EQ(archive->IndexOf("ABCDEFGHIJKLMNOPQ3"), -1);
  EXPECT_EQ(archive->IndexOf("ABCDEFGHIJKLMN"), -1);
  EXPECT_EQ(archive->IndexOf(std::string("ABCDEFGHIJKLMNO\0", 16)), -1);
}

TEST_F(LGPFileTest, DuplicateNamesFindTheFirstInTheTable) {
  TLGPFixture f;
  f.Add("B", "1").Add("DUP", "2").Add("A", "3").Add("dup", "4");
  // The first lookup walks the table; later ones use the sorted index. Both find the
  // first of equal names, and agree on every name.
  const std::pair<const char*, int32_t> cases[] = {{"Dup", 1}, {"dUP", 1}, {"a", 2},
                                                   {"B", 0},   {"DU", -1}, {"DUPE", -1}};
  for (const auto& [name, position] : cases) {
    auto archive = Open(f);
    EXPECT_EQ(archive->IndexOf(name), position) << name << ", first lookup";
    EXPECT_EQ(archive->IndexOf(name), position) << name << ", through the index";
  }
}

TEST_F(LGPFileTest, AMemberReaderGivesEveryMemberWhateverTheOrderOfReading) {
  // Sizes around the reader's windows: tiny, a few KB, and more than a megabyte.
  const size_t sizes[] = {0, 5, 4000, 4072, 4073, 10000, 300000, 1100000, 7, 70000};
  TLGPFixture f;
  for (size_t i = 0; i < std::size(sizes); ++i)
    f.Add("M" + std::to_string(i), PatternBytes(sizes[i], uint32_t(i)));
  auto archive = Open(f);
  const std::vector<std::vector<int32_t>> orders = {
      {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {9, 7, 5, 3, 1, 8, 6, 4, 2, 0}, {5, 6, 5, 6, 0, 9, 8}};
  for (const auto& order : orders) {
    auto reader = archive->OpenMemberReader();
    for (int32_t i : order) {
      TMemoryStream whole, start;
      start.WriteBuffer("x", 1); // appended at the position
      reader->Read(i, whole);
      reader->Read(i, start, 12);
      const std::string expected = f.Members[size_t(i)].Data;
      EXPECT_EQ(whole.View(), expected) << "member " << i;
      EXPECT_EQ(start.View(), "x" + expected.substr(0, 12)) << "member " << i;
    }
  }
  // A member whose size runs past the end of the file fails before anything is copied.
  f.Members[6].HeaderSize = 50000000;
  archive = Open(f);
  auto reader = archive->OpenMemberReader();
  TMemoryStream dest;
  EXPECT_EQ(ErrorOf([&] { reader->Read(6, dest); }), "Stream read error");
  EXPECT_EQ(dest.Size(), 0);
  reader->Read(7, dest);
  EXPECT_EQ(dest.View(), f.Members[7].Data);
}

// A member read from the file as it is used: the same bytes as reading it whole, read in
// pieces across the stream's blocks and after seeking back, and the same failures.
TEST_F(LGPFileTest, AMemberStreamReadsWhatReadingTheMemberGives) {
  const size_t sizes[] = {0, 5, 65536, 65537, 200000};
  TLGPFixture f;
  for (size_t i = 0; i < std::size(sizes); ++i)
    f.Add("M" + std::to_string(i), PatternBytes(sizes[i], uint32_t(i)));
  f.Add("NEG", "x").Members.back().HeaderSize = -3;
  f.Add("LONG", "x").Members.back().HeaderSize = 1 << 24;
  f.Add("AWAY", "x").Members.back().TableOffset = 1 << 24;
  auto archive = Open(f);
  for (int32_t i = 0; i < int32_t(std::size(sizes)); ++i) {
    auto stream = archive->OpenMemberStream(i);
    const std::string expected = f.Members[size_t(i)].Data;
    EXPECT_EQ(stream->Size(), int64_t(expected.size()));
    EXPECT_EQ(stream->Position(), 0);
    std::string pieces;
    for (int64_t n = 1; int64_t(pieces.size()) < stream->Size(); n = n * 3 + 7)
      pieces += stream->ReadBytes(std::min<int64_t>(n, stream->Size() - int64_t(pieces.size())));
    EXPECT_EQ(pieces, expected) << "member " << i;
    char past;
    EXPECT_EQ(stream->Read(&past, 1), 0);
    if (expected.size() > 10) {
      stream->SetPosition(int64_t(expected.size()) / 3);
      EXPECT_EQ(stream->ReadBytes(10), expected.substr(expected.size() / 3, 10));
    }
  }
  for (int32_t i = int32_t(std::size(sizes)); i < archive->Count(); ++i) {
    TMemoryStream whole;
    EXPECT_EQ(ErrorOf([&] { archive->OpenMemberStream(i); }),
              ErrorOf([&] { archive->ReadMember(i, whole); }))
        << f.Members[size_t(i)].Name;
  }
  EXPECT_EQ(ErrorOf([&] { archive->OpenMemberStream(4); }), "(no error)");
  EXPECT_EQ(ErrorOf([&] { archive->OpenMemberStream(9); }), "List index out of bounds (9)");
}

TEST_F(LGPFileTest, CreatorFieldKeepsEverythingFromItsFirstNonZeroByte) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string(2, '\0') + "SQUARESOFT", "SQUARESOFT"},
      {std::string("ABC") + std::string(9, '\0'), std::string("ABC") + std::string(9, '\0')},
      {std::string(12, '\0'), ""},
      {std::string("\0A\0B", 4) + std::string(8, 'x'),
       std::string("A\0B", 3) + std::string(8, 'x')},
  };
  for (const auto& [field, creator] : cases) {
    TLGPFixture f;
    f.CreatorField = field;
    auto archive = Open(f);
    EXPECT_EQ(archive->Creator(), creator);
    EXPECT_EQ(archive->Count(), 0); // a count of 0 is an empty archive
    EXPECT_EQ(archive->IndexOf("X"), -1);
  }
}

TEST_F(LGPFileTest, EntriesByOffsetAscendWithEqualOffsetsInReverseTableOrder) {
  TLGPFixture f;
  f.Add("A", "a").Add("B", "b").Add("C", "c").Add("D", "d").Add("E", "e");
  auto offsets = MemberOffsets(f);
  // Table: A->3rd, B->1st, C->1st, D->2nd, E->1st.
  f.Members[0].TableOffset = offsets[2];
  f.Members[1].TableOffset = offsets[0];
  f.Members[2].TableOffset = offsets[0];
  f.Members[3].TableOffset = offsets[1];
  f.Members[4].TableOffset = offsets[0];
  auto archive = Open(f);
  std::string order;
  for (int32_t r = 0; r < 5; ++r) order += archive->GetEntryByOffset(r).Name;
  EXPECT_EQ(order, "ECBDA");
  EXPECT_EQ(ErrorOf([&] { archive->GetEntryByOffset(5); }), "List index out of bounds (5)");
}

TEST_F(LGPFileTest, PositionsOutsideTheTableFailWithTheListMessage) {
  auto archive = Open(ThreeMembers());
  EXPECT_EQ(ErrorOf([&] { archive->GetEntry(3); }), "List index out of bounds (3)");
  EXPECT_EQ(ErrorOf([&] { archive->GetEntry(-1); }), "List index out of bounds (-1)");
  TMemoryStream dest;
  EXPECT_EQ(ErrorOf([&] { archive->ReadMember(-1, dest); }), "List index out of bounds (-1)");
  EXPECT_EQ(ErrorOf([&] { archive->WriteMember(7, dest); }), "List index out of bounds (7)");
}

TEST_F(LGPFileTest, BrokenFilesFailWithOneClearMessage) {
  // Each case: a fault in the file, and the message of the open (or of the member read).
  TLGPFixture truncatedHeader = ThreeMembers();
  truncatedHeader.TruncateAt = 10;
  TLGPFixture truncatedTable = ThreeMembers();
  truncatedTable.TruncateAt = 16 + 27 * 2;
  TLGPFixture negativeCount = ThreeMembers();
  negativeCount.CountOverride = -5;
  TLGPFixture hugeCount = ThreeMembers();
  hugeCount.CountOverride = 0x7fffffff;
  const std::string path = Dir.File("char.lgp");
  for (auto* f : {&truncatedHeader, &truncatedTable, &hugeCount})
    EXPECT_EQ(ErrorOf([&] { Open(*f); }),
              "Stream read error: \"" + path + "\" ends before its table of members does");
  EXPECT_EQ(ErrorOf([&] { Open(negativeCount); }), "Invalid archive: negative member count (-5)");

  EXPECT_EQ(ErrorOf([&] { TLGPFile::Create(Dir.File("missing.lgp"), false); }),
            "Cannot open file \"" + Dir.File("missing.lgp") + "\". No such file or directory");

  // Member faults show only when the member is read.
  TLGPFixture cutData = ThreeMembers();
  cutData.Trailer.clear();
  cutData.TruncateAt = size_t(MemberOffsets(cutData)[2]) + 24 + 500;
  auto archive = Open(cutData);
  EXPECT_EQ(Read(*archive, 1), "resource");
  const std::string pastTheEnd = " runs past the end of \"" + path + "\"";
  EXPECT_EQ(ErrorOf([&] { Read(*archive, 2); }), "Stream read error: AAAC.P" + pastTheEnd);

  TLGPFixture badSizes = ThreeMembers();
  badSizes.Members[0].HeaderSize = -3;
  badSizes.Members[1].HeaderSize = 0x7fffff00;
  badSizes.Members[2].TableOffset = 1 << 30;
  archive = Open(badSizes);
  EXPECT_EQ(ErrorOf([&] { Read(*archive, 0); }),
            "Invalid archive: member \"AAAA.HRC\" has a negative size (-3)");
  EXPECT_EQ(ErrorOf([&] { Read(*archive, 1); }), "Stream read error: aaab.rsd" + pastTheEnd);
  EXPECT_EQ(ErrorOf([&] { Read(*archive, 2); }), "Stream read error: AAAC.P" + pastTheEnd);
}

TEST_F(LGPFileTest, AnEmptyMemberAppendsNothing) {
  TLGPFixture f;
  f.Add("EMPTY.A", "").Add("NEXT.A", "n");
  auto archive = Open(f);
  TMemoryStream dest(std::string_view("x"));
  dest.SetPosition(1);
  archive->ReadMember(0, dest);
  EXPECT_EQ(dest.View(), "x");
  EXPECT_EQ(Read(*archive, 1), "n");
}

TEST_F(LGPFileTest, VerifyingOpenChecksHeadersSizesAndReadsTheTrailer) {
  TLGPFixture f = ThreeMembers();
  f.Add("POINTS.AT.A", "");
  f.Add("LOWER.P", "lower");
  f.Members[3].TableOffset = MemberOffsets(f)[0]; // another member's header
  f.Members[4].HeaderName = "lower.p";            // differs only in case: no mismatch
  auto archive = Open(f, true);
  EXPECT_EQ(archive->GetEntry(0).Size, 8);
  EXPECT_EQ(archive->GetEntry(2).Size, 1000);
  EXPECT_FALSE(archive->GetEntry(0).NameMismatch);
  EXPECT_TRUE(archive->GetEntry(3).NameMismatch);
  EXPECT_EQ(archive->GetEntry(3).Size, 8);
  EXPECT_FALSE(archive->GetEntry(4).NameMismatch);
  EXPECT_EQ(archive->Trailer(), "FINAL FANTASY7");
  // An ordinary open does not notice the wrong offset: the read follows it.
  auto plain = TLGPFile::Create(Path, false);
  EXPECT_EQ(Read(*plain, 3), "skeleton");
  EXPECT_FALSE(plain->GetEntry(3).NameMismatch);
}

TEST_F(LGPFileTest, VerifyingOpenMarksHeadersPastTheEndAndKeeps255TrailerBytes) {
  TLGPFixture f = ThreeMembers();
  f.Trailer = std::string(300, 'T') + std::string(1, '\0');
  f.Add("PAST.END", "");
  f.Add("NEGATIVE", "");
  f.Members[3].TableOffset = int32_t(BuildLGP(f).size()) - 23; // 23 bytes before the end
  f.Members[4].TableOffset = -50;
  auto archive = Open(f, true);
  EXPECT_EQ(archive->GetEntry(3).Size, -2);
  EXPECT_EQ(archive->GetEntry(4).Size, -2);
  // The highest-offset member is a -2 entry: the trailer then comes from nowhere.
  EXPECT_EQ(archive->Trailer(), "");

  f.Members.resize(3);
  archive = Open(f, true);
  EXPECT_EQ(archive->Trailer(), std::string(255, 'T'));
}

TEST_F(LGPFileTest, EveryEntryWithTheHighestOffsetAppendsToTheTrailer) {
  TLGPFixture f = ThreeMembers();
  f.Trailer = "END";
  f.Add("TWIN", "");
  f.Members[3].TableOffset = MemberOffsets(f)[2];
  auto archive = Open(f, true);
  // Both entries point at the last header; the bytes after its data (member 3's own
  // header as the fixture lays it out, then the trailer) are appended once for each.
  std::string after = std::string("TWIN") + std::string(20, '\0') + "END";
  EXPECT_EQ(archive->Trailer(), after + after);
  EXPECT_EQ(archive->GetEntry(3).Size, 1000);
}

TEST_F(LGPFileTest, StreamArchivesHaveNoFileName) {
  TMemoryStream stream(BuildLGP(ThreeMembers()));
  auto archive = TLGPFile::CreateFromStream(stream, true);
  EXPECT_EQ(archive->FileName(), "");
  EXPECT_EQ(archive->Count(), 3);
  EXPECT_EQ(archive->Trailer(), "FINAL FANTASY7");
  TMemoryStream dest;
  EXPECT_EQ(ErrorOf([&] { archive->ReadMember(0, dest); }),
            "Cannot open file \"\". No such file or directory");
}

TEST_F(LGPFileTest, ReloadOffsetsAndVerifyMembersRereadTheFile) {
  TLGPFixture f = ThreeMembers();
  auto archive = Open(f, true);
  ASSERT_EQ(archive->GetEntry(1).Size, 8);
  // Another program points entry 1 at member 0's header.
  auto offsets = MemberOffsets(f);
  f.Members[1].TableOffset = offsets[0];
  WriteFile(Path, BuildLGP(f));
  archive->ReloadOffsets();
  EXPECT_EQ(archive->GetEntry(1).Offset, offsets[0]);
  EXPECT_EQ(archive->GetEntry(1).Size, -1);
  EXPECT_FALSE(archive->GetEntry(1).NameMismatch);
  archive->VerifyMembers();
  EXPECT_EQ(archive->GetEntry(1).Size, 8);
  EXPECT_TRUE(archive->GetEntry(1).NameMismatch);
  EXPECT_EQ(archive->IndexOf("AAAB.RSD"), 1); // names and the index stay
  // Fixing the table does not clear a mismatch already found.
  f.Members[1].TableOffset.reset();
  WriteFile(Path, BuildLGP(f));
  archive->ReloadOffsets();
  archive->VerifyMembers();
  EXPECT_TRUE(archive->GetEntry(1).NameMismatch);
}

TEST_F(LGPFileTest, ArchiveClassReopensTheSameKind) {
  WriteFile(Path, BuildLGP(ThreeMembers()));
  TArchiveKind kind{&TLGPFile::Class(), Path};
  auto archive = kind.Open();
  EXPECT_EQ(&archive->ClassType(), &TLGPFile::Class());
  EXPECT_STREQ(archive->ClassType().ClassName(), "TLGPFile");
  EXPECT_EQ(archive->Count(), 3);
}
