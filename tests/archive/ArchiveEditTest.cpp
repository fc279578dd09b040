#include "archive/ArchiveEdit.h"

#include "archive/FolderArchive.h"
#include "archive/LGPCheck.h"
#include "archive/LGPTables.h"

#include "fixtures/Bytes.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"

#include "platform/Files.h"
#include "platform/StringList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

TArchiveKind LgpKind(const std::string& path) {
  return {&TLGPFile::Class(), path};
}

// Every member of the archive by name, read through the table.
std::map<std::string, std::string> Contents(const std::string& path) {
  std::map<std::string, std::string> contents;
  auto archive = TLGPFile::Create(path, false);
  for (int32_t i = 0; i < archive->Count(); ++i)
    contents[archive->GetEntry(i).Name] = std::string(archive->ReadMemberToMemory(i)->View());
  return contents;
}

std::vector<std::string> TableNames(const std::string& path) {
  std::vector<std::string> names;
  auto archive = TLGPFile::Create(path, false);
  for (int32_t i = 0; i < archive->Count(); ++i) names.push_back(archive->GetEntry(i).Name);
  return names;
}

// The lookup and conflict tables are those the fixtures work out on their own for the
// table as it stands, and the file ends with the terminator.
void ExpectTrueTables(const std::string& path, const std::vector<std::string>& folders = {}) {
  const std::string bytes = ReadFileBytes(path);
  const std::vector<std::string> names = TableNames(path);
  std::vector<std::string> byPosition(names.size());
  for (size_t i = 0; i < folders.size() && i < names.size(); ++i) byPosition[i] = folders[i];
  const std::string expected = LookupTables(names, byPosition);
  const size_t tableEnd = 16 + 27 * names.size();
  EXPECT_EQ(bytes.substr(tableEnd, expected.size()), expected);
  EXPECT_EQ(bytes.substr(bytes.size() - 14), "FINAL FANTASY7");
  EXPECT_EQ(CheckArchive(LgpKind(path)), std::vector<std::string>{});
}

class ArchiveEditTest : public ::testing::Test {
public:
  TTempDir Dir;
  std::string Path = Dir.File("char.lgp");
  TLGPFixture Fixture;

  void SetUp() override {
    Fixture.Add("BBAA.P", PatternBytes(700, 1))
        .Add("AAAA.HRC", "skeleton")
        .Add("AAAB.A", PatternBytes(500, 2))
        .Add("A.P", "one-letter part")
        .Add("_X.TEX", PatternBytes(64, 3))
        .Add("0Z.RSD", "resource");
    Fixture.Members[2].TableExtra = {0x2a, 0, 0};
    WriteFile(Path, BuildLGP(Fixture));
  }
  std::string File(const std::string& name, const std::string& bytes) {
    std::string path = Dir.File(name);
    WriteFile(path, bytes);
    return path;
  }
};

} // namespace

TEST(LookupSlot, FollowsTheFirstTwoCharacters) {
  const std::pair<const char*, int32_t> cases[] = {
      {"AAAA.HRC", 1}, {"aaaa.hrc", 1}, {"AB", 2},   {"BA", 31},  {"A.P", 0},       {"A", 0},
      {"Z9", 760},     {"ZZ", 776},     {"09X", 10}, {"9_", 281}, {"_A", 301},      {"-_", 341},
      {"K-", 312},     {".A", -1},      {"", -1},    {"A$", -1},  {"\xc3\xa9", -1}, {"A B", -1},
  };
  for (auto [name, slot] : cases) EXPECT_EQ(LookupSlot(name), slot) << name;
}

TEST(MemberNames, FollowTheRules) {
  for (const char* good : {"A", "KNIG.HRC", "a-b_c.9", "12345678901234567890"})
    EXPECT_EQ(MemberNameProblem(good), "") << good;
  const std::pair<std::string, const char*> bad[] = {
      {"", "it is empty"},
      {"123456789012345678901", "it is longer than 20 bytes"},
      {".HRC", "it starts with \".\""},
      {"A B", "only letters"},
      {"A/B", "only letters"},
      {std::string("A\0B", 3), "only letters"},
  };
  for (const auto& [name, problem] : bad)
    EXPECT_EQ(MemberNameProblem(name).rfind(problem, 0), 0u) << EscapeControls(name);
  EXPECT_THROW(CheckMemberName(".."), Exception);
}

TEST(LGPTables, FixtureArchivesCarryTheirTrueTables) {
  TLGPFixture f;
  f.Add("AAAA.HRC", "a").Add("aaab.a", "b").Add("BBBB.P", "c").Add("A.P", "d");
  const std::string bytes = BuildLGP(f);
  TLGPTables tables;
  size_t length = 0;
  ASSERT_TRUE(DecodeLGPTables(std::string_view(bytes).substr(16 + 4 * 27), tables, length));
  EXPECT_EQ(length, 3602u);
  for (int32_t slot = 0; slot < LookupSlotCount; ++slot) {
    TLookupSlot want = slot == 1    ? TLookupSlot{1, 2}
                       : slot == 32 ? TLookupSlot{3, 1}
                       : slot == 0  ? TLookupSlot{4, 1}
                                    : TLookupSlot{};
    EXPECT_EQ(tables.Lookup[size_t(slot)], want) << slot;
  }
  EXPECT_TRUE(tables.Conflicts.empty());
  // The core's tables for the same names encode to the same bytes.
  std::vector<uint16_t> numbers;
  EXPECT_EQ(EncodeLGPTables(MakeLGPTables({"AAAA.HRC", "aaab.a", "BBBB.P", "A.P"}, {}, numbers)),
            bytes.substr(16 + 4 * 27, length));
  EXPECT_EQ(numbers, std::vector<uint16_t>(4, 0));
}

TEST(LGPTables, DuplicateNamesMakeTheConflictTable) {
  TLGPFixture f;
  f.Add("AAAA.P", "one")
      .Add("AAAA.P", "two")
      .Add("BBBB.P", "x")
      .Add("bbbb.p", "y")
      .Add("AAAA.P", "three");
  // Not standing together: the AA slot is split by BB.
  std::vector<uint16_t> numbers;
  EXPECT_THROW(MakeLGPTables({"AAAA.P", "BBBB.P", "AAAB.P"}, {}, numbers), Exception);
  f.Members.erase(f.Members.begin() + 4);
  f.Members[0].Folder = "field/char";
  f.Members[1].Folder = "field/char2";
  f.Members[3].Folder = std::string(130, 'f'); // cut at 128 bytes
  const std::string bytes = BuildLGP(f);
  TLGPTables tables;
  size_t length = 0;
  ASSERT_TRUE(DecodeLGPTables(std::string_view(bytes).substr(16 + 4 * 27), tables, length));
  ASSERT_EQ(tables.Conflicts.size(), 2u);
  EXPECT_EQ(tables.Conflicts[0],
            (std::vector<TConflictMember>{{"field/char", 0}, {"field/char2", 1}}));
  EXPECT_EQ(tables.Conflicts[1],
            (std::vector<TConflictMember>{{"", 2}, {std::string(128, 'f'), 3}}));
  EXPECT_EQ(length, 3600 + 2 + 2 * (2 + 2 * 130));
  // Entry bytes 25-26 number the names from 1.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(uint8_t(bytes[size_t(16 + 27 * i + 25)]), i < 2 ? 1 : 2);
  TTempDir d;
  WriteFile(d.File("dup.lgp"), bytes);
  EXPECT_EQ(CheckArchive(LgpKind(d.File("dup.lgp"))), std::vector<std::string>{});
}

TEST_F(ArchiveEditTest, EachChangeIsOneRebuildWithEveryOtherMemberIntact) {
  const std::map<std::string, std::string> before = Contents(Path);
  struct TCase {
    const char* What;
    std::function<TArchiveEdit(ArchiveEditTest&)> Edit;
    std::function<void(std::map<std::string, std::string>&)> Expect;
    std::map<std::string, int> Byte24 = {}; // where it is not 14 new, else kept
  };
  const TCase cases[] = {
      {"add",
       [](ArchiveEditTest& t) {
         TArchiveEdit e;
         e.Adds.push_back({"ABCD.P", {t.File("new.p", "new part"), {}}, false});
         return e;
       },
       [](auto& m) { m["ABCD.P"] = "new part"; }},
      {"add from memory, a new slot",
       [](ArchiveEditTest&) {
         TArchiveEdit e;
         e.Adds.push_back({"zz-top.a", {"", std::string("bytes")}, false});
         return e;
       },
       [](auto& m) { m["zz-top.a"] = "bytes"; }},
      {"add --replace keeps the name's place",
       [](ArchiveEditTest& t) {
         TArchiveEdit e;
         e.Adds.push_back({"aaab.a", {t.File("r.a", "replaced"), {}}, true});
         return e;
       },
       [](auto& m) { m["AAAB.A"] = "replaced"; }},
      {"remove",
       [](ArchiveEditTest&) {
         TArchiveEdit e;
         e.Removes = {"aaaa.hrc", "0Z.RSD"};
         return e;
       },
       [](auto& m) {
         m.erase("AAAA.HRC");
         m.erase("0Z.RSD");
       }},
      {"rename across slots",
       [](ArchiveEditTest&) {
         TArchiveEdit e;
         e.Renames.push_back({"bbaa.p", "AAAZ.P"});
         return e;
       },
       [](auto& m) {
         m["AAAZ.P"] = m["BBAA.P"];
         m.erase("BBAA.P");
       },
       {{"AAAZ.P", 0}}},
      {"rename within its slot: the header is written anew, the data copied",
       [](ArchiveEditTest&) {
         TArchiveEdit e;
         e.Renames.push_back({"AAAB.A", "AAAC.A"});
         return e;
       },
       [](auto& m) {
         m["AAAC.A"] = m["AAAB.A"];
         m.erase("AAAB.A");
       },
       {{"AAAC.A", 0x2a}}},
      {"compact", [](ArchiveEditTest&) { return TArchiveEdit{}; }, [](auto&) {}},
      {"several at once",
       [](ArchiveEditTest& t) {
         TArchiveEdit e;
         e.Removes = {"A.P"};
         e.Renames.push_back({"AAAB.A", "B.A"});
         e.Adds.push_back({"A.P", {t.File("a.p", "a new A.P"), {}}, false});
         return e;
       },
       [](auto& m) {
         m["B.A"] = m["AAAB.A"];
         m.erase("AAAB.A");
         m["A.P"] = "a new A.P";
       },
       {{"B.A", 0x2a}, {"A.P", 14}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    WriteFile(Path, BuildLGP(Fixture));
    // A replaced member leaves its old copy behind, which the rebuild drops.
    {
      auto archive = TLGPFile::Create(Path, false);
      TMemoryStream data(std::string_view("skeleton"));
      archive->WriteMember(archive->IndexOf("AAAA.HRC"), data);
    }
    const int64_t oldSize = int64_t(ReadFileBytes(Path).size());
    TEditResult result = EditArchive(LgpKind(Path), c.Edit(*this));
    std::map<std::string, std::string> expected = before;
    c.Expect(expected);
    EXPECT_EQ(Contents(Path), expected);
    EXPECT_EQ(result.OldSize, oldSize);
    EXPECT_EQ(result.NewSize, int64_t(ReadFileBytes(Path).size()));
    ExpectTrueTables(Path);
    // Ordered by slot, the old order kept within one; the creator and byte 24 kept.
    std::vector<std::string> names = TableNames(Path);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(),
                               [](auto& a, auto& b) { return LookupSlot(a) < LookupSlot(b); }));
    const std::string bytes = ReadFileBytes(Path);
    EXPECT_EQ(bytes.substr(0, 12), std::string(2, '\0') + "SQUARESOFT");
    for (size_t i = 0; i < names.size(); ++i) {
      const int want = c.Byte24.count(names[i])  ? c.Byte24.at(names[i])
                       : !before.count(names[i]) ? 14
                       : names[i] == "AAAB.A"    ? 0x2a
                                                 : 0;
      EXPECT_EQ(uint8_t(bytes[16 + 27 * i + 24]), want) << names[i];
    }
  }
  // Nothing of the rebuilds is left in the folder.
  EXPECT_EQ(ListFolderFiles(Dir.Path()).size(), 4u); // char.lgp, new.p, r.a, a.p
  for (const auto& entry : std::filesystem::directory_iterator(Dir.Path()))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST_F(ArchiveEditTest, RefusalsChangeNothing) {
  const std::string before = ReadFileBytes(Path);
  const std::string data = File("d.p", "data");
  const std::pair<std::function<TArchiveEdit()>, std::string> cases[] = {
      {[] {
         TArchiveEdit e;
         e.Removes = {"NOPE.P"};
         return e;
       },
       "no member named NOPE.P"},
      {[] {
         TArchiveEdit e;
         e.Renames.push_back({"NOPE.P", "X.P"});
         return e;
       },
       "no member named NOPE.P"},
      {[] {
         TArchiveEdit e;
         e.Renames.push_back({"A.P", "aaaa.HRC"});
         return e;
       },
       "aaaa.HRC is already in " + Path},
      {[&] {
         TArchiveEdit e;
         e.Adds.push_back({"a.p", {data, {}}, false});
         return e;
       },
       "a.p is already in " + Path},
      {[&] {
         TArchiveEdit e;
         e.Adds.push_back({"NEW.P", {data, {}}, false});
         e.Adds.push_back({"new.p", {data, {}}, false});
         return e;
       },
       "new.p is already in " + Path},
      {[&] {
         TArchiveEdit e;
         e.Adds.push_back({".HIDDEN", {data, {}}, false});
         return e;
       },
       "\".HIDDEN\" is not a member name: it starts with \".\""},
      {[&] {
         TArchiveEdit e;
         e.Renames.push_back({"A.P", "TWENTY-ONE-BYTES.LONG"});
         return e;
       },
       "\"TWENTY-ONE-BYTES.LONG\" is not a member name: it is longer than 20 bytes"},
      {[&] {
         TArchiveEdit e;
         e.Adds.push_back({"M.P", {Dir.File("missing"), {}}, false});
         return e;
       },
       "Cannot open file \"" + Dir.File("missing") + "\". No such file or directory"},
  };
  for (const auto& [edit, message] : cases) {
    try {
      EditArchive(LgpKind(Path), edit());
      ADD_FAILURE() << "no failure for " << message;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), message);
    }
    EXPECT_EQ(ReadFileBytes(Path), before);
  }
  // A member that runs past the end of the file is not silently dropped.
  TLGPFixture broken = Fixture;
  broken.Members[1].HeaderSize = 1 << 20;
  WriteFile(Path, BuildLGP(broken));
  const std::string brokenBytes = ReadFileBytes(Path);
  try {
    EditArchive(LgpKind(Path), {});
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Archive \"" + Path +
                               "\" cannot be rebuilt: member \"AAAA.HRC\" runs past the end of "
                               "the file");
  }
  EXPECT_EQ(ReadFileBytes(Path), brokenBytes);
}

TEST_F(ArchiveEditTest, DuplicateNamesKeepTheirConflictFolders) {
  TLGPFixture f;
  f.Add("AAAA.P", "one").Add("AAAA.P", "two").Add("BBBB.P", "b");
  f.Members[0].Folder = "field/a";
  f.Members[1].Folder = "field/b";
  WriteFile(Path, BuildLGP(f));
  TArchiveEdit e;
  e.Adds.push_back({"AAAB.P", {"", std::string("new")}, false});
  EditArchive(LgpKind(Path), e);
  EXPECT_EQ(TableNames(Path), (std::vector<std::string>{"AAAA.P", "AAAA.P", "AAAB.P", "BBBB.P"}));
  ExpectTrueTables(Path, {"field/a", "field/b"});
  auto archive = TLGPFile::Create(Path, false);
  EXPECT_EQ(archive->ReadMemberToMemory(1)->View(), "two");
}

TEST_F(ArchiveEditTest, NewArchivesAndWritersThatRaceARebuild) {
  const std::string made = Dir.File("made.lgp");
  CreateArchive(made, {{"ZZ.P", {"", std::string("z")}, false},
                       {"AB.P", {File("ab", "ab data"), {}}, false}});
  EXPECT_EQ(TableNames(made), (std::vector<std::string>{"AB.P", "ZZ.P"}));
  const std::string bytes = ReadFileBytes(made);
  EXPECT_EQ(bytes.substr(0, 12), std::string(2, '\0') + "SQUARESOFT");
  EXPECT_EQ(uint8_t(bytes[16 + 24]), 14);
  ExpectTrueTables(made);

  // A member written through an archive opened before a rebuild moved it lands in the
  // rebuilt file, found by its name.
  auto stale = TLGPFile::Create(Path, false);
  const int32_t index = stale->IndexOf("_X.TEX");
  TArchiveEdit e;
  e.Removes = {"BBAA.P", "AAAA.HRC"};
  EditArchive(LgpKind(Path), e);
  TMemoryStream data(std::string_view("written after"));
  stale->WriteMember(index, data);
  std::map<std::string, std::string> expected = Contents(Path);
  EXPECT_EQ(expected["_X.TEX"], "written after");
  EXPECT_EQ(expected["0Z.RSD"], "resource");
  EXPECT_EQ(expected.size(), 4u);
  // One that was removed is not written anywhere.
  auto staler = TLGPFile::Create(Path, false);
  TArchiveEdit removeAll;
  removeAll.Removes = {"A.P"};
  EditArchive(LgpKind(Path), removeAll);
  EXPECT_THROW(staler->WriteMember(staler->IndexOf("A.P"), data), Exception);
}

TEST_F(ArchiveEditTest, FolderArchivesChangeTheirFiles) {
  const std::string folder = Dir.File("loose");
  std::filesystem::create_directory(folder);
  WriteFile(folder + "/AAAA.HRC", "skeleton");
  WriteFile(folder + "/AAAB.A", "anim");
  const TArchiveKind kind{&TFolderArchive::Class(), folder};
  TArchiveEdit e;
  e.Removes = {"aaaa.hrc"};
  e.Renames.push_back({"aaab.a", "ZZZZ.A"});
  e.Adds.push_back({"NEW.P", {File("n.p", "new"), {}}, false});
  EditArchive(kind, e);
  EXPECT_EQ(ReadFileBytes(folder + "/ZZZZ.A"), "anim");
  EXPECT_EQ(ReadFileBytes(folder + "/NEW.P"), "new");
  EXPECT_FALSE(FileExists(folder + "/AAAA.HRC"));
  EXPECT_FALSE(FileExists(folder + "/AAAB.A"));
  TArchiveEdit again;
  again.Adds.push_back({"new.p", {"", std::string("other")}, false});
  EXPECT_THROW(EditArchive(kind, again), Exception);
  again.Adds[0].Replace = true;
  EditArchive(kind, again);
  EXPECT_EQ(ReadFileBytes(folder + "/NEW.P"), "other");
  EXPECT_EQ(ListFolderFiles(folder).size(), 2u);
  EXPECT_EQ(CheckArchive(kind), std::vector<std::string>{});
}

TEST_F(ArchiveEditTest, CheckSaysWhatIsWrong) {
  EXPECT_EQ(CheckArchive(LgpKind(Path)), std::vector<std::string>{});
  struct TCase {
    std::function<void(TLGPFixture&)> Damage;
    std::string Problem;
  };
  const TCase cases[] = {
      {[](TLGPFixture& f) { f.TruncateAt = 10; }, "it ends inside its header"},
      {[](TLGPFixture& f) { f.CountOverride = -3; }, "its member count is negative (-3)"},
      {[](TLGPFixture& f) { f.CountOverride = 1000; },
       "its table of 1000 members runs past the end of the file"},
      {[](TLGPFixture& f) { f.Members[1].HeaderName = "OTHER.HRC"; },
       "member \"AAAA.HRC\": its header names it \"OTHER.HRC\""},
      {[](TLGPFixture& f) { f.Members[5].HeaderSize = 100000; },
       "member \"0Z.RSD\": its size 100000 runs past the end of the file"},
      {[](TLGPFixture& f) { f.Members[1].TableOffset = 5; },
       "member \"AAAA.HRC\": its header at 5 lies outside the member data"},
      {[](TLGPFixture& f) { f.Members[0].HeaderSize = 710; },
       "members \"BBAA.P\" and \"AAAA.HRC\" overlap"},
      {[](TLGPFixture& f) { f.Gap = std::string(3602, '\0'); },
       "its lookup table does not match its table of members (5 slots differ)"},
      {[](TLGPFixture& f) { f.Gap = ""; },
       "it has no whole lookup and conflict table after its table of members"},
      {[](TLGPFixture& f) {
         f.Members[3].TableExtra = {0, 1, 0};
       },
       "table entry bytes 25-26 of 1 members do not number their names in the conflict "
       "table"},
      {[](TLGPFixture& f) {
         f.Gap = LookupTables({"BBAA.P", "AAAA.HRC", "AAAB.A", "A.P", "_X.TEX", "0Z.RSD"});
         f.Members[3].Name = "AAAB.A"; // a duplicate the conflict table does not list
         f.Members[3].HeaderName = "AAAB.A";
       },
       "its conflict table does not list the names that occur more than once"},
      {[](TLGPFixture& f) { f.Trailer = ""; },
       "it does not end with \"FINAL FANTASY7\" right after its last member"},
      {[](TLGPFixture& f) { f.Trailer = "FINAL FANTASY7!"; },
       "it does not end with \"FINAL FANTASY7\" right after its last member"},
      {[](TLGPFixture& f) { f.Members[4].Name = "$X.TEX"; },
       "member \"$X.TEX\" has no place in the lookup table"},
      {[](TLGPFixture& f) {
         std::swap(f.Members[1], f.Members[0]);
         std::swap(f.Members[0], f.Members[5]);
       },
       "the members whose names begin as \"AA\" do not stand together in the table"},
  };
  for (const TCase& c : cases) {
    TLGPFixture damaged = Fixture;
    c.Damage(damaged);
    WriteFile(Path, BuildLGP(damaged));
    std::vector<std::string> problems = CheckArchive(LgpKind(Path));
    EXPECT_NE(std::find(problems.begin(), problems.end(), c.Problem), problems.end())
        << c.Problem << "\n got: " << (problems.empty() ? "" : problems[0]);
  }
}
