#include "platform/DebugLog.h"

#include "fixtures/TempDir.h"
#include "platform/Files.h"
#include "platform/StringList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

using namespace palkor;
using palkor::fixtures::TTempDir;

TEST(DebugLog, KeepsLinesInMemoryAndWritesThemWithCrLf) {
  TTempDir dir;
  TDebugLog log(dir.File("LOG.TXT"), "/opt/palkor/palkor");
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_TRUE(std::regex_match(
      log.Lines()[0], std::regex("Debug log created at .+ for program /opt/palkor/palkor")))
      << log.Lines()[0];
  log.Log("LoadModel begin");
  log.Log("");
  EXPECT_FALSE(FileExists(dir.File("LOG.TXT"))); // nothing on disk before the end
  ASSERT_TRUE(log.WriteToFile());
  EXPECT_EQ(ReadFileBytes(dir.File("LOG.TXT")), log.Lines()[0] + "\r\nLoadModel begin\r\n\r\n");
  log.ClearLines();
  EXPECT_EQ(log.Lines().size(), 1u); // the header stays
}

TEST(DebugLog, TakesLinesFromSeveralThreadsAtOnce) {
  TTempDir dir;
  TDebugLog log(dir.File("LOG.TXT"), "palkor");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 5000; ++i) log.Log("thread " + std::to_string(t));
    });
  for (std::thread& t : threads) t.join();
  ASSERT_EQ(log.Lines().size(), 1u + 4 * 5000);
  for (size_t i = 1; i < log.Lines().size(); ++i) ASSERT_EQ(log.Lines()[i].rfind("thread ", 0), 0u);
}

// Log and LogFmt add to the run's own log, in the order called.
TEST(DebugLog, LogAndLogFmtAddLinesToTheRunsLog) {
  const size_t before = DebugLog().Lines().size();
  Log("first");
  LogFmt("then %d and %s", 2, std::string("text"));
  ASSERT_EQ(DebugLog().Lines().size(), before + 2);
  EXPECT_EQ(DebugLog().Lines()[before], "first");
  EXPECT_EQ(DebugLog().Lines()[before + 1], "then 2 and text");
}

TEST(DebugLog, NumbersLinesKeepTheirPlaceAmongTextLines) {
  TTempDir dir;
  TDebugLog log(dir.File("LOG.TXT"), "palkor");
  log.LogNumbers("OS {} {}", 14, 2);
  log.Log("between");
  log.LogNumbers("Oh noes! {}/{}/{}/{}/{}", 1, -20, 3, 2, 4);
  log.LogNumbers("Oh noes! {}/{}/{}/{}/{}", 1, 21, 0, 0, 0);
  log.Log("after");
  ASSERT_TRUE(log.WriteToFile());
  const std::vector<std::string> expected{
      log.Lines()[0], "OS 14 2", "between", "Oh noes! 1/-20/3/2/4", "Oh noes! 1/21/0/0/0", "after"};
  EXPECT_EQ(log.Lines(), expected);
  std::string text;
  for (const std::string& line : expected) text += line + "\r\n";
  EXPECT_EQ(ReadFileBytes(dir.File("LOG.TXT")), text);
  log.LogNumbers("OS {} {}", 1, 1);
  log.ClearLines();
  EXPECT_EQ(log.Lines().size(), 1u);
}

TEST(DebugLog, AnUnwritableLogIsSkipped) {
  TTempDir dir;
  std::filesystem::create_directory(dir.File("LOG.TXT")); // a folder in the way
  TDebugLog blocked(dir.File("LOG.TXT"), "p");
  EXPECT_FALSE(blocked.WriteToFile());
  TDebugLog noFolder(dir.File("missing/LOG.TXT"), "p");
  noFolder.SetWriteAtEnd(true); // and at the end: no crash, no file
  EXPECT_FALSE(noFolder.WriteToFile());
}

// The program's own log: written beside the executable when the run ends, replacing
// the previous run's.
TEST(DebugLog, EachRunReplacesLogTxtBesideTheProgram) {
  TTempDir dir;
  std::string program = dir.File("logprog");
  std::filesystem::copy_file(PALKOR_LOG_PROGRAM, program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  ASSERT_EQ(std::system((program + " first-run-line").c_str()), 0);
  ASSERT_EQ(std::system((program + " 'second run' 'OS 3 7'").c_str()), 0);
  TStringList lines;
  lines.LoadFromFile(dir.File("LOG.TXT"));
  ASSERT_EQ(lines.Count(), 3);
  EXPECT_EQ(lines[0].rfind("Debug log created at ", 0), 0u);
  EXPECT_NE(lines[0].find(" for program " + program), std::string::npos);
  EXPECT_EQ(lines[1], "second run");
  EXPECT_EQ(lines[2], "OS 3 7");
  std::string text = ReadFileBytes(dir.File("LOG.TXT"));
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

  // A run that logs nothing still leaves the header line; a run that cannot write ends
  // normally.
  ASSERT_EQ(std::system(program.c_str()), 0);
  lines.LoadFromFile(dir.File("LOG.TXT"));
  EXPECT_EQ(lines.Count(), 1);
  std::filesystem::remove(dir.File("LOG.TXT"));
  std::filesystem::create_directory(dir.File("LOG.TXT"));
  EXPECT_EQ(std::system(program.c_str()), 0);
}
