// render: the frames of File > Render Animation, drawn headless by the viewer's scene.
#include "cli/CliSupport.h"

#include "app/catalogue.h"
#include "app/frameoutput.h"
#include "battle/FF7Battle.h"
#include "field/ff73d.h"
#include "platform/Convert.h"
#include "render/modeldraw.h"
#include "render/offscreen.h"
#include "render/scene.h"
#include "render/textures.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace palkor::cli {

namespace {

struct TRenderArgs {
  std::string Archive, Model, Anim, Out, Size = "640x480", Inc = "0,0,0", Filter,
                                         Background = "008033";
  int32_t Repeat = 1, Zoom = 30;
  bool Png = false, All = false, Reflections = false, Bones = false, NoBodies = false,
       Crosshairs = false, Wireframe = false, Lighting = false;
  int32_t Width = 640, Height = 480, IncX = 0, IncY = 0, IncZ = 0;
  uint32_t BackColour = 0x338000;
};

struct TPass {
  std::string AnimPart;
  std::function<void()> Select; // makes the animation current
  std::function<int32_t()> LastFrame;
};

void RunRender(TRenderArgs& args) {
  TOffscreenContext context(args.Width, args.Height);
  SetupScene();
  ResizeScene(args.Width, args.Height);
  SetWireframe(args.Wireframe);
  SetLighting(args.Lighting);
  ShowCrosshairs = args.Crosshairs;

  TSceneState state;
  state.BackColour = args.BackColour;
  state.Zoom = args.Zoom;
  state.Reflections = args.Reflections;
  TTextureSet textures;
  state.Textures = &textures;
  std::unique_ptr<TFF7Model> field;
  std::unique_ptr<TBattleModel> battle;
  std::string modelPart;
  std::vector<TPass> passes;
  auto archive = OpenArchive(args.Archive);

  const bool isBattle = args.Model.size() == 2 && args.Model.find('.') == std::string::npos;
  if (isBattle) {
    battle = std::make_unique<TBattleModel>();
    battle->LoadFromArchive(*archive, args.Model);
    textures.Add(*battle);
    state.BattleModel = battle.get();
    modelPart = FrameModelPart("[Battle] " + UpperCaseASCII(args.Model) + "AA");
    std::vector<int32_t> indexes;
    if (args.All) {
      for (int32_t a = 0; a < battle->AnimCount(); ++a) indexes.push_back(a);
    } else {
      int32_t number = 0;
      if (!TryStrToInt(args.Anim, number) || number < 1 || number > battle->AnimCount())
        throw Exception(
            Format("no animation %s: the model has %d", args.Anim, battle->AnimCount()));
      indexes.push_back(number - 1);
    }
    for (int32_t a : indexes)
      passes.push_back({FrameAnimPart("", true, a),
                        [&, a] {
                          battle->AnimIndex = a;
                          battle->Frame = 0;
                        },
                        [&] { return battle->FrameCount(); }});
  } else {
    TCatalogue catalogue;
    catalogue.ArchivePath = args.Archive;
    catalogue.AnalyseArchive(*archive);
    if (!args.Filter.empty()) catalogue.FilterList.LoadFromFile(args.Filter);
    int32_t k = catalogue.IndexOfModel(args.Model);
    if (k < 0) throw Exception("no model named " + args.Model);
    const std::string hrc = catalogue.ModelList[size_t(k)].Name;
    modelPart = FrameModelPart(catalogue.ModelItems[size_t(k)]);
    std::vector<std::string> anims;
    if (args.All) {
      anims = catalogue.AnimationsFor(k, !args.Filter.empty());
    } else {
      int32_t index = archive->IndexOf(args.Anim);
      anims.push_back(index >= 0 ? archive->GetEntry(index).Name : args.Anim);
    }
    for (const std::string& anim : anims)
      passes.push_back({FrameAnimPart(anim, false, 0),
                        [&, anim, hrc] {
                          state.FieldModel = nullptr;
                          textures.Clear();
                          field = std::make_unique<TFF7Model>(*archive, hrc, anim);
                          textures.Add(*field);
                          field->ShowBones = args.Bones;
                          field->ShowBodies = !args.NoBodies;
                          state.FieldModel = field.get();
                        },
                        [&] { return field->FrameCount - 1; }});
  }

  TFrameOutputOptions options;
  options.Prefix = args.Out;
  options.Repeat = args.Repeat;
  options.IncX = args.IncX;
  options.IncY = args.IncY;
  options.IncZ = args.IncZ;
  options.Png = args.Png;
  TSceneFrameTarget target(state, context);
  // The total for the bar is known once each model is loaded; count passes as they come.
  std::unique_ptr<TProgressBar> bar;
  for (TPass& pass : passes) {
    pass.Select();
    int32_t last = pass.LastFrame();
    bar = std::make_unique<TProgressBar>((last + 1) * options.Repeat);
    RenderAnimationFrames(target, options, modelPart, pass.AnimPart, last, [&] { bar->Step(); });
  }
}

// "WxH", both positive: false otherwise.
bool ParseSize(const std::string& text, int32_t& width, int32_t& height) {
  size_t x = text.find('x');
  return x != std::string::npos && TryStrToInt(text.substr(0, x), width) &&
         TryStrToInt(text.substr(x + 1), height) && width > 0 && height > 0 && width <= 16384 &&
         height <= 16384;
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

void AddRenderCommands(CLI::App& app) {
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
  render->callback([args, render] {
    if (!ParseSize(args->Size, args->Width, args->Height))
      throw CLI::ValidationError("--size", "must be WxH with positive whole numbers");
    if (!ParseIncrements(args->Inc, args->IncX, args->IncY, args->IncZ))
      throw CLI::ValidationError("--inc", "must be X,Y,Z with each 0 to 359");
    if (!ParseColour(args->Background, args->BackColour))
      throw CLI::ValidationError("--background", "must be six hexadecimal digits RRGGBB");
    if (args->Anim.empty() && !args->All)
      throw CLI::ValidationError("ANIM", "is required without --all");
    (void)render;
    RunRender(*args);
  });
}

} // namespace palkor::cli
