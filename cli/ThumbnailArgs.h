#pragma once

// The thumbnails and contact-sheet commands' options, parsed by palkor-cli and carried
// out by palkor-render, which alone of the two draws.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <string>

namespace palkor::cli {

struct TThumbnailArgs {
  std::string Archive, Out, Filter;
  int32_t Size = 128;
  // Models drawn at a time; 0 for the number of processors.
  int32_t Jobs = 0;
  // Cells a row of the contact sheet; 0 for about as many as rows.
  int32_t Columns = 0;
};

// Adds the thumbnails and contact-sheet subcommands; each run function is called with the
// options once they are valid.
void AddThumbnailCommands(CLI::App& app, const std::function<void(TThumbnailArgs&)>& thumbnails,
                          const std::function<void(TThumbnailArgs&)>& contactSheet);

// Draws and writes the pictures (palkor-render).
void RunThumbnails(TThumbnailArgs& args);
void RunContactSheet(TThumbnailArgs& args);

} // namespace palkor::cli
