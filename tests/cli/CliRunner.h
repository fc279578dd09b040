#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace palkor::testing {

struct TCliResult {
  int ExitCode = -1; // 128 + the signal for a process ended by one
  std::string Out;
  std::string Err;
};

// How palkor-cli is started, beyond its arguments.
struct TCliSetup {
  // Standard output opened on this file for appending, kept after the run (Out is then
  // empty); empty: a file of the runner's own, read back into Out.
  std::string AppendOut;
  // The address space the process may have (RLIMIT_AS), set in the child before it
  // runs palkor-cli; 0 for no limit.
  uint64_t AddressSpace = 0;
  // The largest file the process may write (RLIMIT_FSIZE), 0 for no limit: a write past
  // it ends the process by SIGXFSZ, as if killed there, or with IgnoreFileSize fails as
  // writing to a full disk does.
  uint64_t FileSize = 0;
  bool IgnoreFileSize = false;
};

// Runs the built palkor-cli with args and collects what it printed.
TCliResult RunCli(const std::vector<std::string>& args, const TCliSetup& setup = {});

// palkor-cli started and not yet waited for: standard input, output and error on
// /dev/null; SIGINT, SIGTERM and SIGHUP with their default actions.
pid_t StartCli(const std::vector<std::string>& args);
// Waits for it; its exit code, or 128 + the signal that ended it.
int WaitCli(pid_t pid);
// Starts palkor-cli with args, sends it signal once part of whole (a whole run's
// length) has passed, and waits for it: as WaitCli.
int SignalCliPartWay(const std::vector<std::string>& args,
                     std::chrono::steady_clock::duration whole, double part, int signal);

// Runs each case and expects it to fail with exit 1, nothing on standard output and the
// one line "palkor-cli: MESSAGE" on standard error.
void ExpectFailures(const std::vector<std::pair<std::vector<std::string>, std::string>>& cases);

} // namespace palkor::testing
