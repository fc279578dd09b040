// render: the frames of File > Render Animation, drawn headless by the viewer's scene.
#include "cli/CliSupport.h"
#include "cli/RenderArgs.h"

#include "app/catalogue.h"
#include "app/exportjobs.h"
#include "app/frameoutput.h"
#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "platform/Convert.h"
#include "platform/StringList.h"
#include "render/modeldraw.h"
#include "render/offscreen.h"
#include "render/scene.h"
#include "render/textures.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace palkor::cli {

namespace {

struct TPass {
  std::string AnimPart;
  std::function<void()> Select; // makes the animation current
  std::function<int32_t()> LastFrame;
};

} // namespace

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
  std::unique_ptr<TFieldModel> field;
  std::unique_ptr<TBattleModel> battle;
  std::string modelPart;
  std::vector<TPass> passes;
  auto archive = OpenArchive(args.Archive);

  if (IsBattleModelName(args.Model)) {
    const TModelRef model = TModelRef::OfBattleCode(args.Model);
    battle = std::make_unique<TBattleModel>();
    battle->LoadFromArchive(*archive, args.Model);
    textures.Add(*battle);
    state.BattleModel = battle.get();
    modelPart = FrameModelPart(model);
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
    const TModelRef model = ModelNamed(catalogue, args.Model);
    const std::string hrc = model.Member;
    modelPart = FrameModelPart(model);
    std::vector<std::string> anims;
    if (args.All) {
      anims = catalogue.AnimationsFor(model.Index, !args.Filter.empty());
    } else {
      int32_t index = archive->IndexOf(args.Anim);
      anims.push_back(index >= 0 ? archive->GetEntry(index).Name : args.Anim);
    }
    for (const std::string& anim : anims)
      passes.push_back({FrameAnimPart(anim, false, 0),
                        [&, anim, hrc] {
                          state.FieldModel = nullptr;
                          textures.Clear();
                          field = std::make_unique<TFieldModel>(*archive, hrc, anim);
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

} // namespace palkor::cli
