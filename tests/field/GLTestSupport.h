#pragma once

#include "render/offscreen.h"

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <array>
#include <memory>

namespace palkor::testing {

// A 64 x 64 offscreen context looking down -Z at the square -16 .. 16 (two pixels a
// unit), cleared to black, with depth testing, blending and texturing off.
class GLTest : public ::testing::Test {
protected:
  static constexpr int Size = 64;
  static constexpr float Half = 16;

  void SetUp() override {
    Context = std::make_unique<TOffscreenContext>(Size, Size);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-Half, Half, -Half, Half, -100, 100);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  }

  // The colour at world point (x, y) after drawing.
  std::array<int, 3> At(float x, float y) {
    if (Pixels.empty()) Pixels = Context->ReadPixelsRGB();
    int column = int((x + Half) / (2 * Half) * Size);
    int row = int((Half - y) / (2 * Half) * Size);
    const uint8_t* p = &Pixels[size_t(row * Size + column) * 3];
    return {p[0], p[1], p[2]};
  }
  // Forgets the pixels read, after drawing more.
  void Refresh() { Pixels.clear(); }

  static bool Near(std::array<int, 3> a, std::array<int, 3> b, int tolerance = 8) {
    for (int i = 0; i < 3; ++i)
      if (std::abs(a[size_t(i)] - b[size_t(i)]) > tolerance) return false;
    return true;
  }

  std::unique_ptr<TOffscreenContext> Context;
  std::vector<uint8_t> Pixels;
};

} // namespace palkor::testing
