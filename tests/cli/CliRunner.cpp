#include "tests/cli/CliRunner.h"

#include "fixtures/TempDir.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace palkor::testing {

namespace {

// Starts palkor-cli with its standard streams opened on the files given (an empty
// name: /dev/null) and the address space limited when limit > 0. Between fork and exec
// the child makes only calls that are safe there, for the test may have threads.
pid_t Spawn(const std::vector<std::string>& args, const std::string& out, bool appendOut,
            const std::string& err, uint64_t limit, uint64_t fileSize = 0,
            bool ignoreFileSize = false) {
  std::vector<std::string> argv{PALKOR_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const char* outPath = out.empty() ? "/dev/null" : out.c_str();
  const char* errPath = err.empty() ? "/dev/null" : err.c_str();
  const int outFlags = O_WRONLY | O_CREAT | (appendOut ? O_APPEND : O_TRUNC);

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("cannot start palkor-cli");
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(outPath, outFlags, 0600);
    const int e = ::open(errPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0)
      ::_exit(126);
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (limit > 0) {
      struct rlimit capped;
      ::getrlimit(RLIMIT_AS, &capped);
      capped.rlim_cur = limit;
      if (::setrlimit(RLIMIT_AS, &capped) != 0) ::_exit(126);
    }
    if (fileSize > 0) {
      struct rlimit capped;
      ::getrlimit(RLIMIT_FSIZE, &capped);
      capped.rlim_cur = fileSize;
      if (::setrlimit(RLIMIT_FSIZE, &capped) != 0) ::_exit(126);
      struct sigaction action = {};
      action.sa_handler = ignoreFileSize ? SIG_IGN : SIG_DFL;
      ::sigaction(SIGXFSZ, &action, nullptr);
    }
    ::execve(PALKOR_CLI, cargv.data(), environ);
    ::_exit(127);
  }
  return pid;
}

} // namespace

pid_t StartCli(const std::vector<std::string>& args) {
  return Spawn(args, "", false, "", 0);
}

int WaitCli(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int SignalCliPartWay(const std::vector<std::string>& args,
                     std::chrono::steady_clock::duration whole, double part, int signal) {
  const pid_t pid = StartCli(args);
  std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::microseconds>(whole * part));
  ::kill(pid, signal);
  return WaitCli(pid);
}

TCliResult RunCli(const std::vector<std::string>& args, const TCliSetup& setup) {
  fixtures::TTempDir dir;
  const std::string outPath = setup.AppendOut.empty() ? dir.File("out") : setup.AppendOut;
  const std::string errPath = dir.File("err");
  TCliResult result;
  result.ExitCode = WaitCli(Spawn(args, outPath, !setup.AppendOut.empty(), errPath,
                                  setup.AddressSpace, setup.FileSize, setup.IgnoreFileSize));
  if (setup.AppendOut.empty()) result.Out = ReadFileBytes(outPath);
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
