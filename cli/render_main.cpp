// palkor-render: palkor-cli's render command, run by palkor-cli with its own arguments.
// It alone of the two draws, and so loads the GL libraries.
#include "cli/CliSupport.h"
#include "cli/RenderArgs.h"

#include <cstdio>
#include <new>

int main(int argc, char** argv) {
  using namespace palkor;
  try {
    CLI::App app{"palkor-cli render: an animation's frames as image files, headless", "palkor-cli"};
    app.require_subcommand(1);
    cli::AddRenderCommand(app, cli::RunRender);
    return cli::RunCommandLine(app, argc, argv);
  } catch (const std::bad_alloc&) {
    // Not even the command could be set up.
    std::fputs("palkor-cli: Not enough memory\n", stderr);
    return 1;
  }
}
