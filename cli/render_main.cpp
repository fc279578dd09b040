// palkor-render: palkor-cli's commands that draw (render, thumbnails, contact-sheet), run
// by palkor-cli with its own arguments. It alone of the two draws, and so loads the GL
// libraries (and Qt, for the contact sheet's text).
#include "cli/CliSupport.h"
#include "cli/RenderArgs.h"
#include "cli/ThumbnailArgs.h"

#include <cstdio>
#include <new>

int main(int argc, char** argv) {
  using namespace palkor;
  try {
    CLI::App app{"palkor-cli render, thumbnails and contact-sheet: pictures drawn headless",
                 "palkor-cli"};
    app.require_subcommand(1);
    cli::AddRenderCommand(app, cli::RunRender);
    cli::AddThumbnailCommands(app, cli::RunThumbnails, cli::RunContactSheet);
    return cli::RunCommandLine(app, argc, argv);
  } catch (const std::bad_alloc&) {
    // Not even the command could be set up.
    std::fputs("palkor-cli: Not enough memory\n", stderr);
    return 1;
  }
}
