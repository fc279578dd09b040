#include "tests/render/ImageBaseline.h"

#include "fixtures/PNGReader.h"
#include "platform/Files.h"
#include "platform/images.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace palkor::testing {

TBaselineResult CompareWithBaseline(const std::string& name, int width, int height,
                                    const std::vector<uint8_t>& pixels, int channels) {
  const std::string baseline = std::string(PALKOR_BASELINES) + "/" + name + ".png";
  TBaselineResult result;
  const size_t step = size_t(channels);
  if ((channels != 3 && channels != 4) || pixels.size() != size_t(width) * size_t(height) * step) {
    result.Message = "the picture's size does not match its pixels";
    return result;
  }
  if (!std::filesystem::exists(baseline)) {
    WritePNG(baseline, width, height, pixels.data(), channels);
    result.Message = "no baseline: the picture was written to " + baseline +
                     "; look at it, and commit it when it is right";
    return result;
  }
  fixtures::TPNGFile expected = fixtures::ReadPNGFile(baseline);
  std::ostringstream why;
  std::vector<uint8_t> diff(size_t(width) * size_t(height) * 3, 0);
  int64_t differing = 0;
  if (expected.Width != uint32_t(width) || expected.Height != uint32_t(height)) {
    why << "the picture is " << width << "x" << height << ", the baseline " << expected.Width << "x"
        << expected.Height;
    differing = int64_t(width) * height;
  } else {
    for (size_t p = 0; p < size_t(width) * size_t(height); ++p) {
      int most = 0;
      // An RGB picture is compared with an opaque baseline.
      for (size_t c = 0; c < 4; ++c)
        most = std::max(most, std::abs(int(c < step ? pixels[p * step + c] : 255) -
                                       int(expected.RGBA[p * 4 + c])));
      if (most > MaxChannelDifference) {
        ++differing;
        diff[p * 3] = 255;
      }
    }
    why << differing << " of " << int64_t(width) * height << " pixels differ from " << baseline
        << " by more than " << MaxChannelDifference << " (at most "
        << int64_t(MaxDifferingShare * width * height) << " may)";
  }
  result.Matches = differing <= int64_t(MaxDifferingShare * width * height);
  if (!result.Matches) {
    const std::string folder = PALKOR_BASELINE_OUTPUT;
    std::filesystem::create_directories(folder);
    WritePNG(folder + "/" + name + ".actual.png", width, height, pixels.data(), channels);
    WritePNG(folder + "/" + name + ".diff.png", width, height, diff.data(), 3);
    why << "; the picture is " << folder << "/" << name
        << ".actual.png, the differing pixels red in " << name << ".diff.png";
  }
  result.Message = why.str();
  return result;
}

} // namespace palkor::testing
