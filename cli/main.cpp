// palkor-cli: the viewer's core operations without a display.
#include "cli/CliSupport.h"

#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
  using namespace palkor;
  CLI::App app{"palkor-cli: the viewer's work on the game's model archives, without a display",
               "palkor-cli"};
  app.set_version_flag("--version", std::string("palkor-cli ") + PALKOR_VERSION);
  app.require_subcommand(1);
  cli::AddArchiveCommands(app);
  cli::AddTexCommands(app);
  cli::AddFieldCommands(app);
  cli::AddBattleCommands(app);
  cli::AddCatalogueCommands(app);
  cli::AddRenderCommands(app);
  cli::AddTexturiseCommands(app);
  cli::AddExportCommands(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e); // --help, --version: to standard output
  } catch (const CLI::ParseError& e) {
    std::cerr << "palkor-cli: " << e.what() << "\n" << app.help();
    return 2;
  } catch (const cli::TQuietFailure&) {
    std::fflush(stdout);
    return 1;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::cerr << "palkor-cli: " << e.what() << "\n";
    return 1;
  }
  if (std::fflush(stdout) != 0) {
    std::cerr << "palkor-cli: Stream write error\n";
    return 1;
  }
  return 0;
}
