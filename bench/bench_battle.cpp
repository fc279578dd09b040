// Decoding a 10 MB battle animation member, against a plain loop that takes the same
// bits out of memory one at a time.
#include "battle/BattleModel.h"
#include "fixtures/BattleWriters.h"

#include <benchmark/benchmark.h>

#include <cmath>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

// Records of 20 rotation triples (a skeleton of 19 bones and the root) moving smoothly,
// with now and then a large jump of the root (raw codes), until the member reaches 10 MB.
const std::string& Member() {
  static const std::string member = [] {
    std::vector<std::string> records;
    size_t total = 4;
    for (int a = 0; total < 10'000'000; ++a) {
      TBattleAnimFixture anim;
      anim.Shift = a % 3;
      const int32_t step = 1 << anim.Shift;
      for (int f = 0; f < 400; ++f) {
        TBattleFrame frame;
        frame.OffsetX = f ? int32_t(40 * std::sin(f * 0.1)) : 0;
        frame.OffsetY = f ? int32_t(f % 50 == 0 ? 900 : 10 * std::cos(f * 0.2)) : 0;
        frame.OffsetZ = f ? f * 3 : 0;
        for (int r = 0; r < 20; ++r) {
          auto angle = [&](double phase, double amplitude) {
            double v = 2048 + amplitude * std::sin(f * 0.01 * (r % 5 + 1) + phase);
            if (f % 97 == 0 && r == 0) v += 1500; // a jump that needs a raw code
            return int16_t(((int32_t(v) % 4096 + 4096) % 4096) / step * step);
          };
          frame.Rotations.push_back({angle(0, 300), angle(1, 120), angle(2, 40)});
        }
        anim.Frames.push_back(std::move(frame));
      }
      records.push_back(EncodeBattleAnimation(anim));
      total += records.back().size();
    }
    return BuildBattleAnimations(records);
  }();
  return member;
}

void BM_DecodeBattleAnimations10MB(benchmark::State& state) {
  const std::string& member = Member();
  for (auto _ : state) {
    TMemoryStream stream(member);
    TBattleAnims anims(stream);
    benchmark::DoNotOptimize(anims.Anims.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(member.size()));
}
BENCHMARK(BM_DecodeBattleAnimations10MB)->Unit(benchmark::kMillisecond)->MinTime(2);

// Every bit of the member, most significant first, folded into a value as ReadBits does.
void BM_ExtractBitsLoop10MB(benchmark::State& state) {
  const std::string& member = Member();
  for (auto _ : state) {
    std::string copy = member; // the decoder's stream holds its own copy too
    uint32_t value = 0;
    for (unsigned char byte : copy)
      for (int bit = 7; bit >= 0; --bit) {
        value = (value << 1) | ((byte >> bit) & 1u);
        benchmark::DoNotOptimize(value);
      }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(member.size()));
}
BENCHMARK(BM_ExtractBitsLoop10MB)->Unit(benchmark::kMillisecond)->MinTime(2);

} // namespace

BENCHMARK_MAIN();
