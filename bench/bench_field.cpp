// Building every model of a synthetic field archive the size of the game's (1,200
// models, 12 bones each, one part per bone, a 64 x 64 texture on every third part),
// against the floor of only reading those members and decoding their textures.
#include "field/ff73d.h"
#include "field/tex.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "fixtures/TexWriter.h"
#include "render/offscreen.h"
#include "render/textures.h"

#include <benchmark/benchmark.h>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

constexpr int ModelCount = 1200;
constexpr int BonesPerModel = 12;

std::string Letters(int value, int count) {
  std::string text(size_t(count), 'A');
  for (int k = count - 1; k >= 0; --k, value /= 26) text[size_t(k)] = char('A' + value % 26);
  return text;
}

struct TSyntheticArchive {
  TTempDir Dir;
  std::string Path;
  std::vector<std::string> Skeletons, Animations;
  // Per model: the members a build reads, and which of them are textures.
  std::vector<std::vector<std::pair<std::string, bool>>> Members;
};

void MakeArchive(TSyntheticArchive& a) {
  std::vector<uint8_t> pixels(64 * 64 * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t((i * 37) ^ (i >> 7));
  for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;
  const std::string texture = BuildPaletteTEX(64, 64, pixels);

  TLGPFixture lgp;
  int counter = 0;
  for (int m = 0; m < ModelCount; ++m) {
    std::vector<TModelBoneFixture> bones;
    std::vector<std::pair<std::string, bool>> members;
    for (int b = 0; b < BonesPerModel; ++b) {
      TModelPartFixture part;
      bool textured = b % 3 == 0;
      part.P.AddBox(0, 0, 1, 2, 2, 3, {200, 150, 100, 255}, textured ? 0 : -1);
      part.P.AddBox(1, 0, 2, 1, 1, 1, {100, 100, 200, 255});
      part.P.AddBox(-1, 0, 2, 1, 1, 1, {100, 100, 200, 255});
      if (textured) part.Textures.push_back(texture);
      bones.push_back(
          {"b" + std::to_string(b), b == 0 ? "root" : "b" + std::to_string(b - 1), 2, {part}});
    }
    std::string code = "M" + Letters(m, 3);
    std::vector<std::string> names;
    AddFieldModel(lgp, code, bones, [&] {
      names.push_back("N" + Letters(counter++, 3));
      return names.back();
    });
    // The names come in the order resource, texture(s), per part.
    for (size_t i = 0, b = 0; i < names.size(); ++b) {
      members.push_back({names[i] + ".RSD", false});
      members.push_back({names[i] + ".P", false});
      ++i;
      if (b % 3 == 0) members.push_back({names[i++] + ".TEX", true});
    }
    std::vector<std::vector<std::array<float, 3>>> frames(
        4, std::vector<std::array<float, 3>>(BonesPerModel, {10, 20, 30}));
    lgp.Add(code + ".A", BuildAnimation(BonesPerModel, frames));
    a.Skeletons.push_back(code + ".HRC");
    a.Animations.push_back(code + ".A");
    members.push_back({code + ".HRC", false});
    members.push_back({code + ".A", false});
    a.Members.push_back(members);
  }
  a.Path = a.Dir.File("char.lgp");
  WriteFile(a.Path, BuildLGP(lgp));
}

const TSyntheticArchive& Archive() {
  static TSyntheticArchive archive;
  static bool made = (MakeArchive(archive), true);
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
      TFF7Model model(*lgp, a.Skeletons[size_t(m)], a.Animations[size_t(m)]);
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

void BM_ReadAndDecodeFloor(benchmark::State& state) {
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
BENCHMARK(BM_ReadAndDecodeFloor)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
