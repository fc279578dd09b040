// One paint of the viewer's picture at 640 x 480 on the software renderer: the demo
// knight with Reflections on (the model drawn twice, the floor twice).
#include "field/FieldModel.h"
#include "fixtures/Demo.h"
#include "fixtures/TempDir.h"
#include "render/offscreen.h"
#include "render/scene.h"

#include <benchmark/benchmark.h>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

void BM_PaintDemoKnightWithReflections(benchmark::State& state) {
  TOffscreenContext context(640, 480);
  SetupScene();
  ResizeScene(640, 480);
  TTempDir dir;
  WriteFile(dir.File("char.lgp"), BuildLGP(BuildDemoFieldArchive()));
  auto archive = TLGPFile::Create(dir.File("char.lgp"), false);
  TFieldModel model(*archive, "KNIG.HRC", "KNWA.A");
  TSceneState scene;
  scene.FieldModel = &model;
  scene.Options.Reflections = true;
  scene.RotateY = 30;
  int32_t frame = 0;
  for (auto _ : state) {
    model.SetFrame(frame++ % model.FrameCount);
    PaintScene(scene);
    glFinish(); // the picture is complete, as a swap would need it
  }
}
BENCHMARK(BM_PaintDemoKnightWithReflections)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
