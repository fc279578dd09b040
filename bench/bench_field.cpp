// Building every model of a synthetic field archive the size of the game's (1,200
// models, 12 bones each, one part per bone, a 64 x 64 texture on every third part),
// against the floor of only reading those members and decoding their textures.
#include "field/FieldModel.h"
#include "field/tex.h"
#include "fixtures/SyntheticArchive.h"
#include "fixtures/TempDir.h"
#include "render/offscreen.h"
#include "render/textures.h"

#include <benchmark/benchmark.h>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

constexpr int ModelCount = 1200;

struct TSyntheticArchive : TSyntheticFieldArchive {
  TTempDir Dir;
};

const TSyntheticArchive& Archive() {
  static TSyntheticArchive archive;
  static bool made = (static_cast<TSyntheticFieldArchive&>(archive) =
                          WriteSyntheticFieldArchive(archive.Dir.Path(), {}),
                      true);
  (void)made;
  return archive;
}

TOffscreenContext& Context() {
  static TOffscreenContext context(64, 64);
  context.MakeCurrent();
  return context;
}

void BM_BuildEveryModel(benchmark::State& state) {
  const TSyntheticArchive& a = Archive();
  Context();
  auto lgp = TLGPFile::Create(a.Path, false);
  for (auto _ : state) {
    for (int m = 0; m < ModelCount; ++m) {
      // What the viewer does to show a model: build it and make its textures.
      TFieldModel model(*lgp, a.Skeletons[size_t(m)], a.Animations[size_t(m)][0]);
      TTextureSet textures;
      textures.Add(model);
      // The textures go with the model so that iterations do not pile them up.
      state.PauseTiming();
      textures.Clear();
      state.ResumeTiming();
    }
  }
  state.counters["models/s"] =
      benchmark::Counter(double(ModelCount), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_BuildEveryModel)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same without making textures: the models' own share.
void BM_BuildEveryModelNoTextures(benchmark::State& state) {
  const TSyntheticArchive& a = Archive();
  auto lgp = TLGPFile::Create(a.Path, false);
  for (auto _ : state)
    for (int m = 0; m < ModelCount; ++m) {
      TFieldModel model(*lgp, a.Skeletons[size_t(m)], a.Animations[size_t(m)][0]);
      benchmark::DoNotOptimize(model.BoneCount());
    }
}
BENCHMARK(BM_BuildEveryModelNoTextures)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadAndDecodeFloor(benchmark::State& state) {
  const TSyntheticArchive& a = Archive();
  auto lgp = TLGPFile::Create(a.Path, false);
  for (auto _ : state) {
    // The cheapest way to the bytes: one opening of the archive for the whole pass.
    auto reader = lgp->OpenMemberReader();
    for (const auto& members : a.Members)
      for (const auto& [name, texture] : members) {
        auto data = std::make_unique<TMemoryStream>();
        reader->Read(lgp->IndexOf(name), *data);
        if (texture) {
          data->SetPosition(0);
          benchmark::DoNotOptimize(LoadTEX(*data, TEXDataOffset));
        }
      }
  }
}
BENCHMARK(BM_ReadAndDecodeFloor)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same floor with every member read as a single archive operation, opening the file
// each time, as model building once read them.
void BM_ReadAndDecodeFloorOpeningEach(benchmark::State& state) {
  const TSyntheticArchive& a = Archive();
  auto lgp = TLGPFile::Create(a.Path, false);
  for (auto _ : state) {
    for (const auto& members : a.Members)
      for (const auto& [name, texture] : members) {
        auto data = lgp->ReadMemberToMemory(lgp->IndexOf(name));
        if (texture) {
          data->SetPosition(0);
          benchmark::DoNotOptimize(LoadTEX(*data, TEXDataOffset));
        }
      }
  }
}
BENCHMARK(BM_ReadAndDecodeFloorOpeningEach)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
