#pragma once

#include <string>
#include <utility>
#include <vector>

namespace palkor::testing {

struct TCliResult {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

// Runs the built palkor-cli with args and collects what it printed.
TCliResult RunCli(const std::vector<std::string>& args);

// Runs each case and expects it to fail with exit 1, nothing on standard output and the
// one line "palkor-cli: MESSAGE" on standard error.
void ExpectFailures(const std::vector<std::pair<std::vector<std::string>, std::string>>& cases);

} // namespace palkor::testing
