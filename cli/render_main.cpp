// palkor-render: palkor-cli's render command, run by palkor-cli with its own arguments.
// It alone of the two draws, and so loads the GL libraries.
#include "cli/CliSupport.h"
#include "cli/RenderArgs.h"

int main(int argc, char** argv) {
  using namespace palkor;
  CLI::App app{"palkor-cli render: an animation's frames as image files, headless", "palkor-cli"};
  app.require_subcommand(1);
  cli::AddRenderCommand(app, cli::RunRender);
  return cli::RunCommandLine(app, argc, argv);
}
