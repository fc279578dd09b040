// Rendering the demo knight's animations to files as `palkor-cli render --all` does
// (640 x 480, every frame of both animations), against encoding the same frames alone.
#include "app/RenderJob.h"
#include "field/FieldModel.h"
#include "fixtures/Demo.h"
#include "fixtures/TempDir.h"
#include "platform/images.h"

#include <benchmark/benchmark.h>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

struct TKnight {
  TTempDir Dir;
  TOffscreenContext Context{640, 480};
  std::unique_ptr<TLGPFile> Archive;
  TKnight() {
    WriteFile(Dir.File("char.lgp"), BuildLGP(BuildDemoFieldArchive()));
    Archive = TLGPFile::Create(Dir.File("char.lgp"), false);
    SetupScene();
    ResizeScene(640, 480);
  }
};

TKnight& Knight() {
  static TKnight knight;
  knight.Context.MakeCurrent();
  return knight;
}

// What render --all does for the knight: both animations, every frame, into files.
void RenderAll(TKnight& knight, bool png, int32_t& frames) {
  TViewerSession session;
  TRenderJob job;
  job.Output.Prefix = knight.Dir.File("out_");
  job.Output.Png = png;
  job.AllAnimations = true;
  job.FieldAnimations = {"KNWA.A", "KNWV.A"};
  job.ShowAnimation = [&](int32_t pass) {
    session.LoadFieldModel(*knight.Archive, TModelRef::OfFieldMember("KNIG.HRC"), job.FieldAnimations[size_t(pass)]);
    return true;
  };
  TSessionFrameTarget target(session, knight.Context);
  frames += RunRenderJob(session, target, job);
}

void BM_RenderAllToPNG(benchmark::State& state) {
  TKnight& knight = Knight();
  int32_t frames = 0;
  for (auto _ : state) RenderAll(knight, true, frames);
  state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderAllToPNG)->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_RenderAllToBMP(benchmark::State& state) {
  TKnight& knight = Knight();
  int32_t frames = 0;
  for (auto _ : state) RenderAll(knight, false, frames);
  state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderAllToBMP)->Unit(benchmark::kMillisecond)->MinTime(3);

// The same 48 pictures, drawn once beforehand, only encoded and written.
void BM_EncodePNGOnly(benchmark::State& state) {
  TKnight& knight = Knight();
  std::vector<std::vector<uint8_t>> pictures;
  TViewerSession session;
  for (const char* anim : {"KNWA.A", "KNWV.A"}) {
    session.LoadFieldModel(*knight.Archive, TModelRef::OfFieldMember("KNIG.HRC"), anim);
    TSessionFrameTarget target(session, knight.Context);
    for (int32_t f = 0; f < session.FrameCount(); ++f) {
      target.ShowFrame(f);
      int32_t w, h;
      pictures.push_back(target.Capture(w, h));
    }
  }
  int32_t frames = 0;
  for (auto _ : state)
    for (size_t i = 0; i < pictures.size(); ++i, ++frames)
      WritePNG(knight.Dir.File("enc_" + std::to_string(i) + ".png"), 640, 480, pictures[i].data(),
               3);
  state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodePNGOnly)->Unit(benchmark::kMillisecond)->MinTime(3);

} // namespace

BENCHMARK_MAIN();
