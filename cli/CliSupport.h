#pragma once

#include "archive/LGPFile.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <string_view>

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
