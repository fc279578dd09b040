#include "tests/cli/CliRunner.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::RunCli;

namespace {

class ArchiveEditCommands : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Lgp = Dir.File("char.lgp");
  std::string Source = Dir.File("source");

  void SetUp() override {
    std::filesystem::create_directory(Source);
    WriteFile(Source + "/KNIG.HRC", "skeleton");
    WriteFile(Source + "/KNWA.A", PatternBytes(3000, 1));
    WriteFile(Source + "/HOUN.HRC", "hound");
    WriteFile(Source + "/A.P", "one letter");
    WriteFile(Source + "/_U.TEX", PatternBytes(256, 2));
    std::filesystem::create_directory(Source + "/sub"); // not entered
  }
  std::string File(const std::string& name, const std::string& bytes) {
    WriteFile(Dir.File(name), bytes);
    return Dir.File(name);
  }
  void ExpectOk(const std::vector<std::string>& args, const std::string& out = "") {
    auto r = RunCli(args);
    EXPECT_EQ(r.ExitCode, 0) << args[0] << ": " << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.Out, out);
  }
};

// The members of an LGP file as its table lists them, in table order.
std::vector<std::pair<std::string, int32_t>> Table(const std::string& bytes) {
  std::vector<std::pair<std::string, int32_t>> table;
  const int32_t count = GetI32LE(reinterpret_cast<const uint8_t*>(bytes.data()) + 12);
  for (int32_t i = 0; i < count; ++i) {
    const char* item = bytes.data() + 16 + 27 * i;
    table.push_back({std::string(item, strnlen(item, 20)),
                     GetI32LE(reinterpret_cast<const uint8_t*>(item) + 20)});
  }
  return table;
}

// Finds name as the game does: its slot in the lookup table, then the slot's entries.
bool FoundThroughLookup(const std::string& bytes, const std::string& name) {
  const auto table = Table(bytes);
  std::vector<std::string> names;
  for (const auto& entry : table) names.push_back(entry.first);
  const std::string lookup = LookupTables({name}); // name alone: its own slot holds it
  const size_t start = 16 + 27 * table.size();
  for (size_t slot = 0; slot < 900; ++slot) {
    const auto* mine = reinterpret_cast<const uint8_t*>(lookup.data()) + 4 * slot;
    if (GetU16LE(mine + 2) == 0) continue;
    const auto* theirs = reinterpret_cast<const uint8_t*>(bytes.data()) + start + 4 * slot;
    const int first = GetU16LE(theirs), count = GetU16LE(theirs + 2);
    for (int k = first; k < first + count && k >= 1 && size_t(k) <= names.size(); ++k)
      if (names[size_t(k - 1)] == name) return true;
  }
  return false;
}

} // namespace

TEST_F(ArchiveEditCommands, PackedArchiveChangedByEachCommandStaysSound) {
  ExpectOk({"pack", Source, Lgp});
  ExpectOk({"check", Lgp});
  std::string bytes = ReadFileBytes(Lgp);
  EXPECT_EQ(bytes.substr(0, 12), std::string(2, '\0') + "SQUARESOFT");
  EXPECT_EQ(bytes.substr(bytes.size() - 14), "FINAL FANTASY7");
  // Name order, then ordered by slot: A.P (slot 0) before HOUN, KNIG, KNWA, _U.
  EXPECT_EQ(RunCli({"members", Lgp}).Out.find("0\t"), 0u);
  auto names = Table(bytes);
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(names[0].first, "A.P");
  EXPECT_EQ(names[4].first, "_U.TEX");

  ExpectOk({"add", Lgp, File("knwv.a", "wave"), File("extra.bin", "x")});
  ExpectOk({"add", Lgp, File("other", "the hound's walk"), "--as", "HOWA.A"});
  ExpectOk({"add", Lgp, File("k2", "skeleton 2"), "--as", "knig.hrc", "--replace"});
  ExpectOk({"remove", Lgp, "extra.bin", "a.p"});
  ExpectOk({"rename", Lgp, "houn.hrc", "DOGG.HRC"});
  ExpectOk({"replace", Lgp, "KNWA.A", File("walk", "new walk")});
  const size_t grown = ReadFileBytes(Lgp).size();
  auto compact = RunCli({"compact", Lgp});
  EXPECT_EQ(compact.ExitCode, 0) << compact.Err;
  const size_t compacted = ReadFileBytes(Lgp).size();
  EXPECT_EQ(compact.Out, "saved " + std::to_string(grown - compacted) + " bytes\n");
  EXPECT_EQ(grown - compacted, 24u + 3000u); // the old walk
  ExpectOk({"check", Lgp});

  const std::map<std::string, std::string> expected = {
      {"KNIG.HRC", "skeleton 2"}, {"KNWA.A", "new walk"},         {"DOGG.HRC", "hound"},
      {"knwv.a", "wave"},         {"HOWA.A", "the hound's walk"}, {"_U.TEX", PatternBytes(256, 2)}};
  bytes = ReadFileBytes(Lgp);
  EXPECT_EQ(Table(bytes).size(), expected.size());
  for (const auto& [name, data] : expected) {
    EXPECT_EQ(RunCli({"extract", Lgp, name}).Out, data) << name;
    EXPECT_TRUE(FoundThroughLookup(bytes, name)) << name;
  }

  const std::string out = Dir.File("out");
  ExpectOk({"unpack", Lgp, out});
  EXPECT_EQ(ListFolderFiles(out).size(), expected.size());
  for (const auto& [name, data] : expected) EXPECT_EQ(ReadFileBytes(out + "/" + name), data);
  // Packed again, the same members.
  ExpectOk({"pack", out, Dir.File("again.lgp")});
  ExpectOk({"check", Dir.File("again.lgp")});
  EXPECT_EQ(Table(ReadFileBytes(Dir.File("again.lgp"))).size(), expected.size());
  ExpectOk({"compact", out}, "saved 0 bytes\n");
  ExpectOk({"check", out});
}

TEST_F(ArchiveEditCommands, RefusalsAreOneLineAndChangeNothing) {
  ExpectOk({"pack", Source, Lgp});
  const std::string before = ReadFileBytes(Lgp);
  const std::string data = File("data", "d");
  std::filesystem::create_directory(Dir.File("bad"));
  WriteFile(Dir.File("bad") + "/GOOD.P", "g");
  WriteFile(Dir.File("bad") + "/NOT GOOD.P", "b");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"add", Lgp, data, "--as", "KNIG.HRC"}, "KNIG.HRC is already in " + Lgp},
      {{"add", Lgp, data, "--as", "twenty-one-bytes.long"},
       "\"twenty-one-bytes.long\" is not a member name: it is longer than 20 bytes"},
      {{"add", Lgp, Dir.File("missing")},
       "Cannot open file \"" + Dir.File("missing") + "\". No such file or directory"},
      {{"remove", Lgp, "KNIG.HRC", "NOPE.P"}, "no member named NOPE.P"},
      {{"rename", Lgp, "NOPE.P", "X.P"}, "no member named NOPE.P"},
      {{"rename", Lgp, "KNIG.HRC", "houn.hrc"}, "houn.hrc is already in " + Lgp},
      {{"rename", Lgp, "KNIG.HRC", ".HRC"}, "\".HRC\" is not a member name: it starts with \".\""},
      {{"pack", Dir.File("bad"), Dir.File("bad.lgp")},
       "\"NOT GOOD.P\" is not a member name: only letters, digits, \"_\", \"-\" and \".\" may be "
       "in it"},
      {{"pack", Dir.File("nowhere"), Dir.File("bad.lgp")},
       "\"" + Dir.File("nowhere") + "\" is not a folder"},
      {{"compact", Dir.File("missing.lgp")},
       "Cannot open file \"" + Dir.File("missing.lgp") + "\". No such file or directory"},
  };
  palkor::testing::ExpectFailures({std::begin(cases), std::end(cases)});
  EXPECT_EQ(ReadFileBytes(Lgp), before);
  EXPECT_FALSE(FileExists(Dir.File("bad.lgp")));
  auto usage = RunCli({"add", Lgp, data, data, "--as", "X.P"});
  EXPECT_EQ(usage.ExitCode, 2);
  EXPECT_EQ(ReadFileBytes(Lgp), before);

  // Unpack refuses a name that would put a file elsewhere, before writing any.
  TLGPFixture odd;
  odd.Add("AAAA.P", "a").Add("../ESCAPE", "e");
  odd.Gap = std::string(3602, '\0');
  WriteFile(Dir.File("odd.lgp"), BuildLGP(odd));
  palkor::testing::ExpectFailures(
      {{{"unpack", Dir.File("odd.lgp"), Dir.File("odd")},
        "member ../ESCAPE cannot be unpacked: \"../ESCAPE\" is not a plain file name"}});
  EXPECT_FALSE(DirectoryExists(Dir.File("odd")));
  EXPECT_FALSE(FileExists(Dir.File("ESCAPE")));
}

TEST_F(ArchiveEditCommands, CompactSaysWhyAnArchiveWithoutALookupTableGrows) {
  TLGPFixture f;
  f.Add("AAAA.P", "a").Add("BBBB.P", "b");
  f.Gap = "";
  f.Trailer = "";
  WriteFile(Lgp, BuildLGP(f));
  const size_t before = ReadFileBytes(Lgp).size();
  ExpectOk({"compact", Lgp}, "saved 0 bytes (the archive grew by 3616 bytes: it lacked the "
                             "lookup table or end mark the game reads)\n");
  EXPECT_EQ(ReadFileBytes(Lgp).size(), before + 3616);
  ExpectOk({"check", Lgp});
  ExpectOk({"compact", Lgp}, "saved 0 bytes\n");
}

TEST_F(ArchiveEditCommands, CheckPrintsEachProblemOfADamagedArchive) {
  TLGPFixture f;
  f.Add("AAAA.P", "a").Add("BBBB.P", "b");
  f.Members[1].HeaderName = "CCCC.P";
  f.Trailer = "";
  WriteFile(Lgp, BuildLGP(f));
  auto r = RunCli({"check", Lgp});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err, "palkor-cli: " + Lgp + ": member \"BBBB.P\": its header names it \"CCCC.P\"\n" +
                       "palkor-cli: " + Lgp +
                       ": it does not end with \"FINAL FANTASY7\" right after its last member\n");
}

TEST_F(ArchiveEditCommands, ARebuildEndedAnywhereLeavesTheOldArchiveWhole) {
  ExpectOk({"pack", Source, Lgp});
  ExpectOk({"replace", Lgp, "KNWA.A", File("walk", "new walk")});
  const std::string before = ReadFileBytes(Lgp);
  // The file size limit ends the process (SIGXFSZ) at that point of writing the new
  // archive; ignored, the write fails as on a full disk.
  // The new archive is some 3,900 bytes; the limit also cuts what the process can say
  // on standard error, so the message is looked at where it fits.
  for (uint64_t limit : {1, 16, 200, 3700, 3800}) {
    for (bool ignore : {false, true}) {
      palkor::testing::TCliSetup setup;
      setup.FileSize = limit;
      setup.IgnoreFileSize = ignore;
      auto r = RunCli({"compact", Lgp}, setup);
      EXPECT_NE(r.ExitCode, 0) << limit;
      if (ignore && limit >= 200) {
        EXPECT_EQ(r.Err.rfind("palkor-cli: Stream write error", 0), 0u) << r.Err;
      }
      EXPECT_EQ(ReadFileBytes(Lgp), before) << limit;
    }
  }
  // The next rebuild removes what the ended ones left.
  ExpectOk({"compact", Lgp}, "saved " + std::to_string(24 + 3000) + " bytes\n");
  for (const auto& entry : std::filesystem::directory_iterator(Dir.Path()))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
  ExpectOk({"check", Lgp});
}

TEST_F(ArchiveEditCommands, UnpackEndedBySignalsLeavesEachFileOldOrNewWhole) {
  // Many members, so that the signals come part of the way through.
  const std::string many = Dir.File("many");
  std::filesystem::create_directory(many);
  std::map<std::string, std::string> fresh, old;
  for (int i = 0; i < 2000; ++i) {
    const std::string name = "M" + std::to_string(i) + ".P";
    fresh[name] = PatternBytes(2000 + i, uint8_t(i));
    old[name] = "old " + name;
    WriteFile(many + "/" + name, fresh[name]);
  }
  ExpectOk({"pack", many, Lgp});
  const std::string out = Dir.File("out");
  const std::vector<std::string> args{"unpack", Lgp, out};
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(palkor::testing::WaitCli(palkor::testing::StartCli(args)), 0);
  const auto whole = std::chrono::steady_clock::now() - start;
  // Killed outright last: what that leaves is for the next run to remove.
  const std::pair<int, double> kills[] = {
      {SIGTERM, 0.2}, {SIGINT, 0.5}, {SIGHUP, 0.7}, {SIGTERM, 0.9}, {SIGKILL, 0.5}};
  for (const auto& [signal, part] : kills) {
    for (const auto& [name, bytes] : old) WriteFile(out + "/" + name, bytes);
    const int code = palkor::testing::SignalCliPartWay(args, whole, part, signal);
    EXPECT_TRUE(code == 128 + signal || code == 0) << code;
    for (const auto& [name, bytes] : fresh) {
      const std::string now = ReadFileBytes(out + "/" + name);
      EXPECT_TRUE(now == bytes || now == old[name]) << name << " after signal " << signal;
    }
    int temporary = 0;
    for (const auto& entry : std::filesystem::directory_iterator(out))
      temporary += entry.path().filename().string()[0] == '.';
    // Killed outright, the batch folder may stay until the next run.
    if (signal != SIGKILL) {
      EXPECT_EQ(temporary, 0) << "signal " << signal << " at " << part;
    }
  }
  ExpectOk(args);
  for (const auto& [name, bytes] : fresh) EXPECT_EQ(ReadFileBytes(out + "/" + name), bytes);
  for (const auto& entry : std::filesystem::directory_iterator(out))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}
