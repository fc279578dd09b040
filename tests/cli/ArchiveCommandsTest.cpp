#include "tests/cli/CliRunner.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::RunCli;

namespace {

class ArchiveCommands : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Lgp = Dir.File("char.lgp");
  std::string Folder = Dir.File("loose");
  TLGPFixture Fixture;

  void SetUp() override {
    Fixture.Add("AAAA.HRC", "skeleton").Add("aaab.a", PatternBytes(300, 3)).Add("AAAC.P", "");
    WriteFile(Lgp, BuildLGP(Fixture));
    std::filesystem::create_directory(Folder);
    WriteFile(Folder + "/ONLY.HRC", "loose skeleton");
  }
};

} // namespace

TEST_F(ArchiveCommands, MembersListsTheTableWithOrWithoutVerification) {
  auto offsets = MemberOffsets(Fixture);
  auto plain = RunCli({"members", Lgp});
  EXPECT_EQ(plain.ExitCode, 0);
  EXPECT_EQ(plain.Err, "");
  EXPECT_EQ(plain.Out, fmt::format("0\t{}\tAAAA.HRC\n1\t{}\taaab.a\n2\t{}\tAAAC.P\n", offsets[0],
                                   offsets[1], offsets[2]));
  Fixture.Members[2].TableOffset = offsets[0];
  WriteFile(Lgp, BuildLGP(Fixture));
  auto verified = RunCli({"members", Lgp, "--verify"});
  EXPECT_EQ(verified.ExitCode, 0);
  EXPECT_EQ(verified.Out,
            fmt::format("0\t{}\t8\t0\tAAAA.HRC\n1\t{}\t300\t0\taaab.a\n2\t{}\t8\t1\tAAAC.P\n",
                        offsets[0], offsets[1], offsets[0]));
  auto folder = RunCli({"members", Folder});
  EXPECT_EQ(folder.Out, "0\t0\tONLY.HRC\n");
  EXPECT_EQ(RunCli({"members", Folder, "--verify"}).Out, "0\t0\t14\t0\tONLY.HRC\n");
}

TEST_F(ArchiveCommands, ExtractWritesTheMemberToAFileOrStandardOutput) {
  auto out = RunCli({"extract", Lgp, "AAAB.A"});
  EXPECT_EQ(out.ExitCode, 0);
  EXPECT_EQ(out.Out, Fixture.Members[1].Data);
  std::string target = Dir.File("out.a");
  WriteFile(target, std::string(1000, 'x')); // replaced, not overwritten in part
  EXPECT_EQ(RunCli({"extract", Lgp, "aaaa.hrc", target}).ExitCode, 0);
  EXPECT_EQ(ReadFileBytes(target), "skeleton");
  EXPECT_EQ(RunCli({"extract", Lgp, "aaac.p"}).Out, "");
  EXPECT_EQ(RunCli({"extract", Folder, "only.hrc"}).Out, "loose skeleton");
}

TEST_F(ArchiveCommands, ReplaceAppendsToAnArchiveAndRewritesAFolderFile) {
  std::string data = Dir.File("new.a");
  WriteFile(data, "replacement animation");
  size_t before = ReadFileBytes(Lgp).size();
  auto r = RunCli({"replace", Lgp, "AAAB.A", data});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(ReadFileBytes(Lgp).size(), before + 24 + 21);
  EXPECT_EQ(RunCli({"extract", Lgp, "aaab.a"}).Out, "replacement animation");
  EXPECT_EQ(RunCli({"extract", Lgp, "AAAA.HRC"}).Out, "skeleton");
  EXPECT_NE(RunCli({"members", Lgp}).Out.find("\n1\t" + std::to_string(before) + "\taaab.a\n"),
            std::string::npos);

  EXPECT_EQ(RunCli({"replace", Folder, "only.hrc", data}).ExitCode, 0);
  EXPECT_EQ(ReadFileBytes(Folder + "/ONLY.HRC"), "replacement animation");
}

TEST_F(ArchiveCommands, FailuresPrintOneLineExitOneAndChangeNothing) {
  std::string data = Dir.File("new.a");
  WriteFile(data, "x");
  TLGPFixture truncated = Fixture;
  truncated.TruncateAt = 16 + 27 + 5;
  std::string cut = Dir.File("cut.lgp");
  WriteFile(cut, BuildLGP(truncated));
  std::string outFile = Dir.File("never.bin");
  std::string lgpBefore = ReadFileBytes(Lgp);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"members", cut},
       "Stream read error: \"" + cut + "\" ends before its table of members does"},
      {{"extract", cut, "AAAA.HRC", outFile},
       "Stream read error: \"" + cut + "\" ends before its table of members does"},
      {{"members", Dir.File("missing.lgp")},
       "Cannot open file \"" + Dir.File("missing.lgp") + "\". No such file or directory"},
      {{"extract", Lgp, "NOPE.A", outFile}, "no member named NOPE.A"},
      {{"replace", Lgp, "NOPE.A", data}, "no member named NOPE.A"},
      {{"replace", Lgp, "AAAB.A", Dir.File("missing.a")},
       "Cannot open file \"" + Dir.File("missing.a") + "\". No such file or directory"},
      {{"replace", Folder, "nope", data}, "no member named nope"},
  };
  palkor::testing::ExpectFailures({std::begin(cases), std::end(cases)});
  EXPECT_FALSE(FileExists(outFile));
  EXPECT_EQ(ReadFileBytes(Lgp), lgpBefore);
  EXPECT_EQ(ListFolderFiles(Folder).size(), 1u);
}

TEST_F(ArchiveCommands, UsageHelpAndVersion) {
  auto help = RunCli({"--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_NE(help.Out.find("members"), std::string::npos);
  auto subHelp = RunCli({"extract", "--help"});
  EXPECT_EQ(subHelp.ExitCode, 0);
  EXPECT_NE(subHelp.Out.find("OUTFILE"), std::string::npos);
  EXPECT_EQ(RunCli({"--version"}).Out.rfind("palkor-cli ", 0), 0u);
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"members"},
                                               {"frobnicate"},
                                               {"extract", Lgp},
                                               {"members", Lgp, "--bogus"},
                                               {"replace", Lgp, "A", "B", "C"}}) {
    auto r = RunCli(args);
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Err.rfind("palkor-cli: ", 0), 0u);
    EXPECT_NE(r.Err.find("Usage"), std::string::npos);
    EXPECT_EQ(r.Out, "");
  }
}

TEST_F(ArchiveCommands, OutputsThatAreNotRegularFilesAreWrittenInPlace) {
  // A FIFO read by another process: it gets the member, and the FIFO stays one.
  std::string fifo = Dir.File("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] {
    FILE* in = std::fopen(fifo.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) received.append(buffer, n);
    std::fclose(in);
  });
  auto piped = RunCli({"extract", Lgp, "AAAB.A", fifo});
  reader.join();
  EXPECT_EQ(piped.ExitCode, 0) << piped.Err;
  EXPECT_EQ(received, Fixture.Members[1].Data);
  struct stat st;
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // A device node made here (as root; /dev/null's numbers): written, not replaced.
  std::string device = Dir.File("null");
  // (Only where device nodes may be made and opened: as root, on a file system
  // mounted with devices allowed.)
  int probe = -1;
  if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
      (probe = ::open(device.c_str(), O_WRONLY | O_CLOEXEC)) >= 0) {
    ::close(probe);
    auto written = RunCli({"extract", Lgp, "AAAA.HRC", device});
    EXPECT_EQ(written.ExitCode, 0) << written.Err;
    ASSERT_EQ(::stat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }
  // No temporary file is left anywhere.
  for (const auto& entry : std::filesystem::directory_iterator(Dir.Path()))
    EXPECT_EQ(entry.path().filename().string().rfind(".palkor-", 0), std::string::npos);
}

TEST_F(ArchiveCommands, TheLongestNameTheFileSystemTakesIsWrittenAndReplaced) {
  std::string name = Dir.File(std::string(255, 'n'));
  for (const char* member : {"AAAA.HRC", "AAAB.A"}) {
    auto result = RunCli({"extract", Lgp, member, name});
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
  }
  EXPECT_EQ(ReadFileBytes(name), Fixture.Members[1].Data);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), 3);
}

TEST_F(ArchiveCommands, ControlBytesInNamesAndMessagesAreEscaped) {
  TLGPFixture f;
  f.Add("A\nB.P", "x").Add("C\tD\x7f.A", "y");
  WriteFile(Lgp, BuildLGP(f));
  auto offsets = MemberOffsets(f);
  auto listed = RunCli({"members", Lgp});
  EXPECT_EQ(listed.Out,
            fmt::format("0\t{}\tA\\x0AB.P\n1\t{}\tC\\x09D\\x7F.A\n", offsets[0], offsets[1]));
  auto missing = RunCli({"extract", Lgp, "no\x1b[31mne"});
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_EQ(missing.Err, "palkor-cli: no member named no\\x1B[31mne\n");
}

TEST_F(ArchiveCommands, ATableLargerThanTheMemoryGivenFailsWithOneLine) {
  // A sparse archive whose table is really there: 200 million entries (5.4 GB of zeros)
  // need more memory than a process capped at 1 GB may have.
  std::string sparse = Dir.File("sparse.lgp");
  {
    std::string header(12, '\0');
    header += std::string("\x00\xc2\xeb\x0b", 4); // 200,000,000
    WriteFile(sparse, header);
    ASSERT_EQ(::truncate(sparse.c_str(), 16 + 27LL * 200000000 + 24), 0);
  }
  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_AS, &old), 0);
  struct rlimit capped = old;
  capped.rlim_cur = 1ULL << 30;
  ASSERT_EQ(::setrlimit(RLIMIT_AS, &capped), 0); // the child started now inherits it
  auto result = RunCli({"members", sparse});
  ::setrlimit(RLIMIT_AS, &old);
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_EQ(result.Out, "");
  const std::string start = "palkor-cli: Not enough memory to read archive \"" + sparse + "\": ";
  EXPECT_EQ(result.Err.rfind(start, 0), 0u) << result.Err;
  EXPECT_TRUE(result.Err.ends_with(" bytes asked for\n")) << result.Err;
  EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1);
}
