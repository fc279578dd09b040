// Analysing a synthetic archive the size of the game's field archive (1,200 skeletons,
// 4,000 animations, 8,000 other members, about 30 MB), against one read of the whole
// file; and loading the cache of that catalogue.
#include "app/catalogue.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"

#include <benchmark/benchmark.h>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

struct TBenchArchive {
  TTempDir Dir;
  std::string Path, Cache;
};

const TBenchArchive& Archive() {
  static TBenchArchive a;
  static bool made = [] {
    TLGPFixture lgp;
    int name = 0;
    for (int m = 0; m < 1200; ++m) {
      THRCFixture hrc;
      hrc.Skeleton = Letters(m, 4);
      for (int b = 0; b < 12; ++b)
        hrc.Bones.push_back({"bone" + std::to_string(b),
                             b ? "bone" + std::to_string(b - 1) : "root",
                             "1.5",
                             {Letters(name + b, 4)},
                             {}});
      lgp.Add(Letters(name++, 4) + ".HRC", BuildHRC(hrc));
      for (int o = 0; o < 7; ++o, ++name)
        lgp.Add(Letters(name, 4) + (o % 2 ? ".P" : ".RSD"), PatternBytes(3000, uint32_t(name)));
      int anims = m % 3 == 2 ? 4 : 3; // 4,000 in all, with the extra 400 spread over
      for (int n = 0; n < anims && name < 30000; ++n) {
        TAFixture anim;
        anim.HeaderBoneCount = 12;
        anim.Frames.assign(3, std::vector<std::array<float, 3>>(12, {1, 2, 3}));
        lgp.Add(Letters(name++, 4) + ".A", BuildA(anim));
      }
    }
    for (int extra = 0; extra < 8000 - 1200 * 7; ++extra)
      lgp.Add(Letters(name++, 4) + ".TEX", PatternBytes(3000, 9));
    a.Path = a.Dir.File("char.lgp");
    WriteFile(a.Path, BuildLGP(lgp));
    TCatalogue catalogue;
    catalogue.ArchivePath = a.Path;
    auto archive = TLGPFile::Create(a.Path, false);
    catalogue.AnalyseArchive(*archive);
    a.Cache = a.Dir.File("palkor.cache");
    catalogue.SaveCatalogueCache(a.Cache);
    return true;
  }();
  (void)made;
  return a;
}

void BM_AnalyseFieldArchive(benchmark::State& state) {
  const TBenchArchive& a = Archive();
  for (auto _ : state) {
    TCatalogue catalogue;
    auto archive = TLGPFile::Create(a.Path, false);
    catalogue.AnalyseArchive(*archive);
    benchmark::DoNotOptimize(catalogue.Models.data());
  }
}
BENCHMARK(BM_AnalyseFieldArchive)->Unit(benchmark::kMillisecond);

void BM_ReadWholeArchiveFile(benchmark::State& state) {
  const TBenchArchive& a = Archive();
  for (auto _ : state) {
    TMemoryStream whole;
    whole.LoadFromFile(a.Path);
    benchmark::DoNotOptimize(whole.Memory());
  }
  state.counters["MB"] = double(TFileStream(a.Path, TFileMode::OpenRead).Size()) / 1e6;
}
BENCHMARK(BM_ReadWholeArchiveFile)->Unit(benchmark::kMillisecond);

void BM_LoadCatalogueCache(benchmark::State& state) {
  const TBenchArchive& a = Archive();
  for (auto _ : state) {
    TCatalogue catalogue;
    catalogue.LoadCatalogueCache(a.Cache);
    benchmark::DoNotOptimize(catalogue.AnimList.data());
  }
}
BENCHMARK(BM_LoadCatalogueCache)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
