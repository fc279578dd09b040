// thumbnails and contact-sheet: their options and checks, shared by palkor-cli and
// palkor-render.
#include "cli/ThumbnailArgs.h"

#include "render/Thumbnails.h"

namespace palkor::cli {

namespace {

// The options both commands take.
void AddCommonOptions(CLI::App& command, TThumbnailArgs& args, const char* size) {
  command.add_option("--size", args.Size, size)->check(CLI::Range(16, MaxThumbnailSize));
  command.add_option("--filter", args.Filter,
                     "Filter file: each model posed by the first animation it names, and "
                     "its display names");
  command
      .add_option("--jobs", args.Jobs,
                  "Models drawn at a time, 1 to 64 (default: the number of processors)")
      ->check(CLI::Range(1, 64));
}

} // namespace

void AddThumbnailCommands(CLI::App& app, const std::function<void(TThumbnailArgs&)>& thumbnails,
                          const std::function<void(TThumbnailArgs&)>& contactSheet) {
  auto args = std::make_shared<TThumbnailArgs>();
  CLI::App* command = app.add_subcommand(
      "thumbnails", "Draw every model as OUTDIR/NAME.png, a square picture on a transparent "
                    "background");
  command->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  command->add_option("OUTDIR", args->Out, "Output folder, made when missing")->required();
  AddCommonOptions(*command, *args, "Side of each picture in pixels, 16 to 4096 (default 128)");
  command->callback([args, thumbnails] { thumbnails(*args); });

  auto sheetArgs = std::make_shared<TThumbnailArgs>();
  CLI::App* sheet = app.add_subcommand(
      "contact-sheet", "Draw every model into one PNG picture, a grid of thumbnails with "
                       "each model's file and display name under it");
  sheet->add_option("ARCHIVE", sheetArgs->Archive, "LGP file or folder")->required();
  sheet->add_option("OUT", sheetArgs->Out, "Output PNG file")->required();
  AddCommonOptions(*sheet, *sheetArgs,
                   "Side of each model's picture in pixels, 16 to 4096 "
                   "(default 128)");
  sheet
      ->add_option("--columns", sheetArgs->Columns,
                   "Models a row, 1 to 1000 (default: about as many as there are rows)")
      ->check(CLI::Range(1, 1000));
  sheet->callback([sheetArgs, contactSheet] { contactSheet(*sheetArgs); });
}

} // namespace palkor::cli
