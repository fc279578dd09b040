// palkor-cli: the viewer's core operations without a display. The render command, the
// only one that draws, is carried out by palkor-render, so that the others do not load
// the GL libraries at all. palkor-render is a helper, not a command of its own: installed,
// it is in the libexec folder (PALKOR_RENDER_FROM_BIN, relative to palkor-cli's folder);
// in the build folder it is beside palkor-cli.
#include "cli/CliSupport.h"
#include "cli/RenderArgs.h"
#include "cli/ThumbnailArgs.h"

#include "platform/Exceptions.h"
#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>
#include <vector>

namespace {

char** Arguments = nullptr;

// palkor-render beside palkor-cli, else where it is installed.
std::string RenderHelper() {
  const std::string folder = palkor::ProgramFolder();
  const std::string beside = folder + "palkor-render";
  return ::access(beside.c_str(), X_OK) == 0 ? beside : folder + PALKOR_RENDER_FROM_BIN;
}

// Runs palkor-render with the same arguments, once palkor-cli has found them valid.
void ExecHelper() {
  const std::string helper = RenderHelper();
  std::fflush(stdout);
  std::vector<char*> arguments;
  arguments.push_back(const_cast<char*>(helper.c_str()));
  for (char** a = Arguments + 1; *a; ++a) arguments.push_back(*a);
  arguments.push_back(nullptr);
  ::execv(helper.c_str(), arguments.data());
  throw palkor::Exception(palkor::Format("Cannot run \"%s\". %s", helper, std::strerror(errno)));
}

void ExecRender(palkor::cli::TRenderArgs&) {
  ExecHelper();
}

void ExecThumbnails(palkor::cli::TThumbnailArgs&) {
  ExecHelper();
}

} // namespace

int main(int argc, char** argv) {
  using namespace palkor;
  Arguments = argv;
  try {
    auto makeApp = [] {
      auto app = std::make_unique<CLI::App>(
          "palkor-cli: the viewer's work on the game's model archives, without a display",
          "palkor-cli");
      app->set_version_flag("--version", std::string("palkor-cli ") + PALKOR_VERSION);
      app->require_subcommand(1);
      return app;
    };
    // In the order of the help text.
    const std::vector<cli::TCommandGroup> groups = {
        {{"members", "extract", "replace"}, cli::AddArchiveCommands},
        {{"add", "remove", "rename", "compact", "pack", "unpack", "check"},
         cli::AddArchiveEditCommands},
        {{"tex", "tex-import"}, cli::AddTexCommands},
        {{"pose"}, cli::AddFieldCommands},
        {{"battle"}, cli::AddBattleCommands},
        {{"catalogue", "anims", "details"}, cli::AddCatalogueCommands},
        {{"render"}, [](CLI::App& app) { cli::AddRenderCommand(app, ExecRender); }},
        {{"thumbnails", "contact-sheet"},
         [](CLI::App& app) { cli::AddThumbnailCommands(app, ExecThumbnails, ExecThumbnails); }},
        {{"texturise"}, cli::AddTexturiseCommands},
        {{"export", "export-all", "import-anim", "import-model"}, cli::AddExportCommands},
    };
    return cli::RunCommandLine(makeApp, groups, argc, argv);
  } catch (const std::bad_alloc&) {
    // Not even the commands could be set up.
    std::fputs("palkor-cli: Not enough memory\n", stderr);
    return 1;
  }
}
