// export-all of a synthetic field archive the size of the game's (1,200 models of 12
// bones, a 64 x 64 texture on every third part, three animations of 24 frames each
// offered to every model by the filter file), with one and with two jobs, against the
// floor of reading every member the export uses, decoding the textures and encoding them
// as PNG, on one thread.
//
// bench_export --write-archive FOLDER writes the archive and its filter file and exits,
// for timing and measuring palkor-cli export-all as a whole process.
#include "app/catalogue.h"
#include "app/exportjobs.h"
#include "field/tex.h"
#include "fixtures/SyntheticArchive.h"
#include "fixtures/TempDir.h"
#include "platform/images.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

const TSyntheticFieldOptions Options{1200, 12, 3, 24};

struct TBenchArchive : TSyntheticFieldArchive {
  TTempDir Dir;
};

const TBenchArchive& Archive() {
  static TBenchArchive archive;
  static bool made = (static_cast<TSyntheticFieldArchive&>(archive) =
                          WriteSyntheticFieldArchive(archive.Dir.Path(), Options),
                      true);
  (void)made;
  return archive;
}

void BM_ReadDecodeEncodeFloor(benchmark::State& state) {
  const TBenchArchive& a = Archive();
  auto lgp = TLGPFile::Create(a.Path, false);
  for (auto _ : state) {
    for (const auto& members : a.Members)
      for (const auto& [name, texture] : members) {
        auto data = lgp->ReadMemberToMemory(lgp->IndexOf(name));
        if (!texture) continue;
        data->SetPosition(0);
        auto image = LoadTEX(*data, TEXDataOffset);
        benchmark::DoNotOptimize(EncodePNG(image->Width, image->Height, image->Pixels.data(), 4));
      }
  }
  state.counters["models/s"] =
      benchmark::Counter(double(a.Members.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReadDecodeEncodeFloor)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// What palkor-cli export-all ARCHIVE OUTDIR --filter FILTER --jobs N does: analyse the
// archive, then export every model to OUTDIR.
void BM_ExportAll(benchmark::State& state) {
  const TBenchArchive& a = Archive();
  const int32_t jobs = int32_t(state.range(0));
  // Each pass writes into a folder of its own, as a first export does. The files go under
  // $PALKOR_BENCH_OUT when set (a tmpfs leaves the disk file system's own costs out).
  const char* base = std::getenv("PALKOR_BENCH_OUT");
  TTempDir scratch;
  const std::string out = base ? std::string(base) : scratch.Path();
  int pass = 0;
  int64_t exported = 0;
  for (auto _ : state) {
    TArchiveKind kind{&TLGPFile::Class(), a.Path};
    std::vector<TExportItem> items;
    {
      auto archive = kind.Open();
      TCatalogue catalogue;
      catalogue.AnalyseArchive(*archive);
      catalogue.FilterList.LoadFromFile(a.FilterPath);
      items = ExportItemsOf(*archive, catalogue, true);
    }
    TExportAllProgress result =
        ExportAll(kind, items, out + "/pass" + std::to_string(pass++), {}, jobs, {});
    if (!result.Failures.empty()) state.SkipWithError(result.Failures[0].second.c_str());
    exported = result.Done;
  }
  state.counters["models/s"] =
      benchmark::Counter(double(exported), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ExportAll)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-archive") == 0) {
    std::filesystem::create_directories(argv[2]);
    TSyntheticFieldArchive a = WriteSyntheticFieldArchive(argv[2], Options);
    std::printf("%s\n%s\n", a.Path.c_str(), a.FilterPath.c_str());
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
