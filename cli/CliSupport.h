#pragma once

#include "archive/LGPFile.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace palkor::cli {

// Opens ARCHIVE: an existing folder as a folder archive, anything else as an LGP file.
std::unique_ptr<TLGPFile> OpenArchive(const std::string& path, bool verify = false);

// Table position of MEMBER in any letter case; "no member named MEMBER" when missing.
int32_t FindMember(const TLGPFile& archive, const std::string& member);

// One output record: the fields joined by TAB, ending in LF, on standard output.
void PrintFields(std::initializer_list<std::string_view> fields);
void PrintLine(std::string_view line);
// Raw bytes to standard output; "Stream write error" when they cannot be written.
void WriteStdout(std::string_view bytes);

// A float in the shortest form that reads back to the same value, with ".".
std::string FloatText(float value);

// Parses the command line and runs the command chosen, as palkor-cli answers: usage and
// version on standard output (0), wrong usage with the usage on standard error (2), a
// failure as one line "palkor-cli: MESSAGE" (1).
int RunCommandLine(CLI::App& app, int argc, char** argv);

// Subcommands a program adds to its app together: their names, and the function that adds
// them.
struct TCommandGroup {
  std::vector<std::string_view> Names;
  std::function<void(CLI::App&)> Add;
};

// RunCommandLine over the app MAKEAPP makes with every group of commands added. A command
// line that starts with a subcommand's name, or asks for the version alone, is parsed
// first by an app that has only the group it names, so that the other commands are not
// set up; a usage error found before the command runs is then judged again by the whole
// app, so that every message and help text is the same as the whole program's.
int RunCommandLine(const std::function<std::unique_ptr<CLI::App>()>& makeApp,
                   const std::vector<TCommandGroup>& groups, int argc, char** argv);

// Ends a command with exit status 1 when it has already said what went wrong.
struct TQuietFailure {};

// A bar on standard error while it is a terminal.
class TProgressBar {
public:
  explicit TProgressBar(int32_t total);
  ~TProgressBar();
  void Step() { Show(FDone + 1); }
  void Show(int32_t done);
  // A line on standard error, above the bar when one is shown, its control bytes escaped.
  void Message(const std::string& line);

private:
  int32_t FTotal, FDone = 0;
  bool FShow;
};

// The commands, each group adding its subcommands to the program.
void AddArchiveCommands(CLI::App& app);
void AddArchiveEditCommands(CLI::App& app);
void AddTexCommands(CLI::App& app);
void AddFieldCommands(CLI::App& app);
void AddBattleCommands(CLI::App& app);
void AddCatalogueCommands(CLI::App& app);
void AddTexturiseCommands(CLI::App& app);
void AddExportCommands(CLI::App& app);

} // namespace palkor::cli
