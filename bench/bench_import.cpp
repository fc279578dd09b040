// Reading an animation back from glTF files (import-anim's work): the demo knight's walk
// as exported; the walk under a chain of 200,000 nodes above the model's node, against
// the glTF library loading that file alone; and an hour of frames (one key at 3,599 s)
// with and without 3,000 animated nodes beside the skeleton, which cost nothing once only
// the joints and the nodes above them are posed.
#include "export/gltf.h"
#include "export/gltfimport.h"
#include "field/FieldModel.h"
#include "fixtures/Demo.h"
#include "fixtures/GltfParts.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"

#include <benchmark/benchmark.h>
#include <tiny_gltf.h>

#include <cstring>
#include <memory>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

struct TKnight {
  TTempDir Dir;
  std::unique_ptr<TLGPFile> Char;
  std::unique_ptr<TFieldModel> Model;
  std::string Wave; // the animation the imports replace
  TGlbParts Walk;   // the knight exported with its walk

  TKnight() {
    WriteDemoFiles(Dir.Path());
    Char = TLGPFile::Create(Dir.File("char.lgp"), false);
    Model = std::make_unique<TFieldModel>(*Char, "KNIG.HRC", "KNWA.A");
    auto member = [&](const char* name) {
      return std::string(Char->ReadMemberToMemory(Char->IndexOf(name))->View());
    };
    Wave = member("KNWV.A");
    const std::string walk = member("KNWA.A");
    Walk = SplitGlb(ExportFieldModel(*Model, "KNIG", {{"KNWA.A", walk}}, {}).Bytes(true));
  }

  // parts written as name; its path.
  std::string Write(const std::string& name, const TGlbParts& parts) const {
    WriteFile(Dir.File(name), JoinGlb(parts));
    return Dir.File(name);
  }
};

const TKnight& Knight() {
  static TKnight knight;
  return knight;
}

void Import(const TKnight& k, const std::string& path) {
  TGltfAnimationFile file(path);
  benchmark::DoNotOptimize(ImportFieldAnimation(*k.Model, k.Wave, file, 0, 30));
}

void BM_ImportWalk(benchmark::State& state) {
  const TKnight& k = Knight();
  const std::string path = k.Write("walk.glb", k.Walk);
  for (auto _ : state) Import(k, path);
}
BENCHMARK(BM_ImportWalk)->Unit(benchmark::kMillisecond);

// The walk with a chain of 200,000 nodes above the model's node.
std::string LongChain(const TKnight& k) {
  TGlbParts parts = k.Walk;
  nlohmann::json& nodes = parts.Document["nodes"];
  const int top = parts.Document["scenes"][0]["nodes"][0], first = int(nodes.size());
  const int chain = 200000;
  for (int i = 0; i < chain; ++i) nodes.push_back({{"children", {i == 0 ? top : first + i - 1}}});
  parts.Document["scenes"][0]["nodes"][0] = first + chain - 1;
  return k.Write("chain.glb", parts);
}

void BM_ImportUnderLongChain(benchmark::State& state) {
  const TKnight& k = Knight();
  const std::string path = LongChain(k);
  for (auto _ : state) Import(k, path);
}
BENCHMARK(BM_ImportUnderLongChain)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: the glTF library loading the same file, nothing else.
void BM_LibraryLoadsLongChain(benchmark::State& state) {
  const TKnight& k = Knight();
  const std::string bytes = ReadFileBytes(LongChain(k));
  for (auto _ : state) {
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader([](tinygltf::Image*, const int, std::string*, std::string*, int, int,
                             const unsigned char*, int, void*) { return true; },
                          nullptr);
    tinygltf::Model model;
    std::string error, warning;
    benchmark::DoNotOptimize(loader.LoadBinaryFromMemory(
        &model, &error, &warning, reinterpret_cast<const unsigned char*>(bytes.data()),
        static_cast<unsigned int>(bytes.size())));
  }
}
BENCHMARK(BM_LibraryLoadsLongChain)->Unit(benchmark::kMillisecond)->UseRealTime();

// The walk lasting an hour (its first rotation's last key at 3,599 s), with range(0)
// nodes beside the skeleton, each turned by a channel of two keys.
void BM_ImportAnHour(benchmark::State& state) {
  const TKnight& k = Knight();
  TGlbParts parts = k.Walk;
  nlohmann::json& document = parts.Document;
  nlohmann::json& walk = document["animations"][0];
  // The times get a view of their own, the last key moved to 3,599 s.
  const int times = walk["samplers"][0]["input"];
  const size_t keys = document["accessors"][times]["count"];
  const size_t timesAt = parts.AccessorOffset(times);
  const std::string walkTimes = parts.Binary.substr(timesAt, keys * 4);
  auto view = [&](const std::string& bytes) {
    parts.Binary.resize((parts.Binary.size() + 3) / 4 * 4);
    document["bufferViews"].push_back(
        {{"buffer", 0}, {"byteOffset", parts.Binary.size()}, {"byteLength", bytes.size()}});
    parts.Binary += bytes;
    return int(document["bufferViews"].size()) - 1;
  };
  nlohmann::json longTimes = document["accessors"][times];
  longTimes["bufferView"] = view(walkTimes);
  longTimes.erase("byteOffset");
  longTimes["max"] = {3599.0};
  document["accessors"].push_back(longTimes);
  const int hour = int(document["accessors"].size()) - 1;
  parts.PutF32LE(parts.AccessorOffset(hour) + (keys - 1) * 4, 3599.0f);
  walk["samplers"][0]["input"] = hour;
  // Two keys, 0 s and 3,599 s, of two rotations.
  std::string twoKeys(8, '\0'), twoTurns(32, '\0');
  const float timesOf[] = {0, 3599}, turnsOf[] = {0, 0, 0, 1, 0, 1, 0, 0};
  std::memcpy(twoKeys.data(), timesOf, 8);
  std::memcpy(twoTurns.data(), turnsOf, 32);
  document["accessors"].push_back({{"bufferView", view(twoKeys)},
                                   {"componentType", 5126},
                                   {"count", 2},
                                   {"type", "SCALAR"},
                                   {"min", {0.0}},
                                   {"max", {3599.0}}});
  document["accessors"].push_back(
      {{"bufferView", view(twoTurns)}, {"componentType", 5126}, {"count", 2}, {"type", "VEC4"}});
  const int accessors = int(document["accessors"].size());
  walk["samplers"].push_back({{"input", accessors - 2}, {"output", accessors - 1}});
  const int sampler = int(walk["samplers"].size()) - 1;
  for (int64_t i = 0; i < state.range(0); ++i) {
    const int node = int(document["nodes"].size());
    document["nodes"].push_back({{"name", "prop" + std::to_string(i)}});
    document["scenes"][0]["nodes"].push_back(node);
    walk["channels"].push_back(
        {{"sampler", sampler}, {"target", {{"node", node}, {"path", "rotation"}}}});
  }
  document["buffers"][0]["byteLength"] = parts.Binary.size();
  const std::string path = k.Write("hour.glb", parts);
  for (auto _ : state) Import(k, path);
}
BENCHMARK(BM_ImportAnHour)->Arg(0)->Arg(3000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
