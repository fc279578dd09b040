#pragma once

// The render command's options, parsed by palkor-cli and carried out by palkor-render,
// which alone of the two loads the GL libraries.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <string>

namespace palkor::cli {

struct TRenderArgs {
  std::string Archive, Model, Anim, Out, Size = "640x480", Inc = "0,0,0", Filter,
                                         Background = "008033";
  int32_t Repeat = 1, Zoom = 30;
  bool Png = false, All = false, Reflections = false, Bones = false, NoBodies = false,
       Crosshairs = false, Wireframe = false, Lighting = false;
  int32_t Width = 640, Height = 480, IncX = 0, IncY = 0, IncZ = 0;
  uint32_t BackColour = 0x338000;
};

// Adds the render subcommand; run is called with the options once they are valid.
void AddRenderCommand(CLI::App& app, const std::function<void(TRenderArgs&)>& run);

// Draws and writes the frames (palkor-render).
void RunRender(TRenderArgs& args);

} // namespace palkor::cli
