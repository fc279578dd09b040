// render: its options and their checks, shared by palkor-cli and palkor-render.
#include "cli/RenderArgs.h"

#include "platform/Convert.h"
#include "platform/Exceptions.h"

namespace palkor::cli {

namespace {

// The largest picture side drawn.
constexpr int32_t MaxPictureSide = 16384;

// "WxH", each 1 to MaxPictureSide; the reason in why otherwise.
bool ParseSize(const std::string& text, int32_t& width, int32_t& height, std::string& why) {
  size_t x = text.find('x');
  if (x == std::string::npos || !TryStrToInt(text.substr(0, x), width) ||
      !TryStrToInt(text.substr(x + 1), height)) {
    why = "must be WxH with whole numbers";
    return false;
  }
  if (width < 1 || height < 1 || width > MaxPictureSide || height > MaxPictureSide) {
    why = Format("width and height must be 1 to %d", MaxPictureSide);
    return false;
  }
  return true;
}

bool ParseIncrements(const std::string& text, int32_t& x, int32_t& y, int32_t& z) {
  size_t first = text.find(','),
         second = first == std::string::npos ? first : text.find(',', first + 1);
  if (second == std::string::npos) return false;
  int32_t* values[3] = {&x, &y, &z};
  std::string parts[3] = {text.substr(0, first), text.substr(first + 1, second - first - 1),
                          text.substr(second + 1)};
  for (int i = 0; i < 3; ++i)
    if (!TryStrToInt(parts[i], *values[i]) || *values[i] < 0 || *values[i] > 359) return false;
  return true;
}

bool ParseColour(const std::string& text, uint32_t& colour) {
  if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return false;
  uint32_t rgb = uint32_t(std::stoul(text, nullptr, 16));
  colour = (rgb >> 16) | (rgb & 0x00FF00) | ((rgb & 0xFF) << 16); // to 0x00BBGGRR
  return true;
}

} // namespace

void AddRenderCommand(CLI::App& app, const std::function<void(TRenderArgs&)>& run) {
  auto args = std::make_shared<TRenderArgs>();
  CLI::App* render =
      app.add_subcommand("render", "Render an animation's frames to BMP or PNG files, headless");
  render->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  render->add_option("MODEL", args->Model, "HRC member name (field) or two-letter code (battle)")
      ->required();
  render->add_option("ANIM", args->Anim,
                     "A member name (field) or 1-based animation number (battle)");
  render->add_option("--out", args->Out, "Prefix of every file name")->required();
  render->add_flag("--png", args->Png, "PNG files instead of BMP");
  render->add_option("--size", args->Size, "Picture size WxH (default 640x480)");
  render->add_option("--repeat", args->Repeat, "Passes over each animation, 1 to 50 (default 1)")
      ->check(CLI::Range(1, 50));
  render->add_option("--inc", args->Inc,
                     "Degrees X,Y,Z added to the view before each frame (0 to 359)");
  render->add_flag("--all", args->All, "Every animation offered for the model");
  render->add_option("--filter", args->Filter, "Filter file: with --all, the animations it names");
  render->add_option("--zoom", args->Zoom, "Distance of the eye, 0 to 100 (default 30)")
      ->check(CLI::Range(0, 100));
  render->add_option("--background", args->Background, "Background colour RRGGBB (default 008033)");
  render->add_flag("--reflections", args->Reflections, "Floor and mirror image (field models)");
  render->add_flag("--bones", args->Bones, "Bone lines and joints (field models)");
  render->add_flag("--no-bodies", args->NoBodies, "No bodies (field models)");
  render->add_flag("--crosshairs", args->Crosshairs, "Axis lines through every part");
  render->add_flag("--wireframe", args->Wireframe, "Polygons as lines");
  render->add_flag("--lighting", args->Lighting, "Lighting");
  render->callback([args, render, run] {
    std::string why;
    if (!ParseSize(args->Size, args->Width, args->Height, why))
      throw CLI::ValidationError("--size", why);
    if (!ParseIncrements(args->Inc, args->IncX, args->IncY, args->IncZ))
      throw CLI::ValidationError("--inc", "must be X,Y,Z with each 0 to 359");
    if (!ParseColour(args->Background, args->BackColour))
      throw CLI::ValidationError("--background", "must be six hexadecimal digits RRGGBB");
    if (args->Anim.empty() && !args->All)
      throw CLI::ValidationError("ANIM", "is required without --all");
    (void)render;
    run(*args);
  });
}

} // namespace palkor::cli
