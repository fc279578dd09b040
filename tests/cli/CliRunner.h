#pragma once

#include <string>
#include <vector>

namespace palkor::testing {

struct TCliResult {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

// Runs the built palkor-cli with args and collects what it printed.
TCliResult RunCli(const std::vector<std::string>& args);

} // namespace palkor::testing
