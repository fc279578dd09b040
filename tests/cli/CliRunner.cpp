#include "tests/cli/CliRunner.h"

#include "fixtures/TempDir.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>

extern char** environ;

namespace palkor::testing {

TCliResult RunCli(const std::vector<std::string>& args) {
  fixtures::TTempDir dir;
  std::string outPath = dir.File("out"), errPath = dir.File("err");
  std::vector<std::string> argv{PALKOR_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid;
  int rc = posix_spawn(&pid, PALKOR_CLI, &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start palkor-cli");
  int status = 0;
  waitpid(pid, &status, 0);

  TCliResult result;
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.Out = ReadFileBytes(outPath);
  result.Err = ReadFileBytes(errPath);
  return result;
}

void ExpectFailures(const std::vector<std::pair<std::vector<std::string>, std::string>>& cases) {
  for (const auto& [args, message] : cases) {
    TCliResult r = RunCli(args);
    EXPECT_EQ(r.ExitCode, 1) << message;
    EXPECT_EQ(r.Err, "palkor-cli: " + message + "\n");
    EXPECT_EQ(r.Out, "");
  }
}

} // namespace palkor::testing
