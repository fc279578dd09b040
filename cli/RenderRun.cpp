// render: the frames of File > Render Animation, drawn headless by a viewer session.
#include "cli/CliSupport.h"
#include "cli/RenderArgs.h"

#include "app/RenderJob.h"
#include "app/catalogue.h"
#include "app/exportjobs.h"
#include "battle/BattleModel.h"
#include "platform/Convert.h"
#include "platform/StringList.h"
#include "render/ViewerSession.h"
#include "render/offscreen.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace palkor::cli {

void RunRender(TRenderArgs& args) {
  TOffscreenContext context(args.Width, args.Height);
  SetupScene();
  ResizeScene(args.Width, args.Height);

  TViewerSession session;
  session.Options.Wireframe = args.Wireframe;
  session.Options.Lighting = args.Lighting;
  session.Options.Crosshairs = args.Crosshairs;
  session.Options.Bones = args.Bones;
  session.Options.Bodies = !args.NoBodies;
  session.Options.BackColour = args.BackColour;
  session.Options.Reflections = args.Reflections;
  session.Camera.Zoom = args.Zoom;

  TRenderJob job;
  job.Output.Prefix = args.Out;
  job.Output.Repeat = args.Repeat;
  job.Output.IncX = args.IncX;
  job.Output.IncY = args.IncY;
  job.Output.IncZ = args.IncZ;
  job.Output.Png = args.Png;
  job.AllAnimations = args.All;

  auto archive = OpenArchive(args.Archive);
  if (IsBattleModelName(args.Model)) {
    session.LoadBattleModel(*archive, TModelRef::OfBattleCode(args.Model));
    if (!args.All) {
      const int32_t count = session.BattleModel()->AnimCount();
      int32_t number = 0;
      if (!TryStrToInt(args.Anim, number) || number < 1 || number > count)
        throw Exception(Format("no animation %s: the model has %d", args.Anim, count));
      session.ChooseBattleAnimation(number - 1);
    }
  } else {
    TCatalogue catalogue;
    catalogue.ArchivePath = args.Archive;
    catalogue.AnalyseArchive(*archive);
    if (!args.Filter.empty()) catalogue.FilterList.LoadFromFile(args.Filter);
    const TModelRef model = ModelNamed(catalogue, args.Model);
    if (args.All) {
      job.FieldAnimations = catalogue.AnimationsFor(model.Index, !args.Filter.empty());
      job.ShowAnimation = [&](int32_t pass) {
        session.LoadFieldModel(*archive, model, job.FieldAnimations[size_t(pass)]);
        return true;
      };
    } else {
      int32_t index = archive->IndexOf(args.Anim);
      session.LoadFieldModel(*archive, model,
                             index >= 0 ? archive->GetEntry(index).Name : args.Anim);
    }
  }

  // The total for the bar is known once each animation is on show: a bar a pass.
  std::unique_ptr<TProgressBar> bar;
  job.PassBegins = [&](int32_t images) { bar = std::make_unique<TProgressBar>(images); };
  job.AfterFrame = [&] { bar->Step(); };
  TSessionFrameTarget target(session, context);
  RunRenderJob(session, target, job);
}

} // namespace palkor::cli
