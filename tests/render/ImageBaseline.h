#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace palkor::testing {

// A picture compared with its baseline, tests/baselines/NAME.png. A pixel differs when
// one of its channels is off by more than MaxChannelDifference; the picture matches while
// at most MaxDifferingShare of its pixels differ, which lets rasterisation round an edge
// pixel another way but catches any part drawn elsewhere, in another colour or order.
constexpr int MaxChannelDifference = 24;
constexpr double MaxDifferingShare = 0.002;

struct TBaselineResult {
  bool Matches = false;
  std::string Message; // why not, and where the pictures were written
};

// pixels: height rows of width pixels, channels bytes each (3 RGB, 4 RGBA, whose alpha
// is compared as a colour is), top row first. A missing baseline is
// written from the picture (to be looked at and committed) and does not match; on a
// mismatch the picture and a map of the differing pixels are written to the test
// output's baseline-output folder as NAME.actual.png and NAME.diff.png.
TBaselineResult CompareWithBaseline(const std::string& name, int width, int height,
                                    const std::vector<uint8_t>& pixels, int channels = 3);

} // namespace palkor::testing
