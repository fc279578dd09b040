#include "render/offscreen.h"

#include "platform/Exceptions.h"

#include "tests/TestSupport.h"
#include <EGL/egl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace palkor;
using palkor::testing::ErrorOf;

namespace {

using TPixels = std::vector<uint8_t>;

// Pixel (x, y) of a top-down RGB buffer of the given width.
TPixels At(const TPixels& rgb, int width, int x, int y) {
  const uint8_t* p = rgb.data() + (size_t(y) * width + x) * 3;
  return {p[0], p[1], p[2]};
}

void ExpectColour(const TPixels& actual, const TPixels& expected, const char* where) {
  const int tolerance = 1; // 8-bit rounding of float colours
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(actual[c], expected[c], tolerance) << where;
}

void Quad(float x0, float y0, float x1, float y1, float z = 0) {
  glBegin(GL_QUADS);
  glVertex3f(x0, y0, z);
  glVertex3f(x1, y0, z);
  glVertex3f(x1, y1, z);
  glVertex3f(x0, y1, z);
  glEnd();
}

} // namespace

TEST(OffscreenContext, ClearsAndReadsBackEveryPixelOfAnOddSize) {
  TOffscreenContext context(37, 23);
  EXPECT_EQ(context.Width(), 37);
  EXPECT_EQ(context.Height(), 23);
  GLint viewport[4] = {};
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, 37, 23}));

  glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  TPixels rgb = context.ReadPixelsRGB();
  ASSERT_EQ(rgb.size(), size_t(37 * 23 * 3));
  for (int y : {0, 11, 22})
    for (int x : {0, 18, 36}) ExpectColour(At(rgb, 37, x, y), {51, 102, 153}, "cleared");
}

TEST(OffscreenContext, RowsComeTopRowFirst) {
  TOffscreenContext context(40, 20);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glColor3f(1, 0, 0);
  Quad(-1, 0, 0, 1); // the top-left quarter in GL's coordinates (y up)
  TPixels rgb = context.ReadPixelsRGB();
  ExpectColour(At(rgb, 40, 2, 2), {255, 0, 0}, "top left");
  ExpectColour(At(rgb, 40, 19, 9), {255, 0, 0}, "inner corner of the quad");
  ExpectColour(At(rgb, 40, 2, 17), {0, 0, 0}, "bottom left");
  ExpectColour(At(rgb, 40, 37, 2), {0, 0, 0}, "top right");
}

TEST(OffscreenContext, HasAWorkingDepthBufferAndAnEightBitStencilBuffer) {
  TOffscreenContext context(16, 16);
  GLint stencilBits = 0, depthBits = 0;
  glGetIntegerv(GL_STENCIL_BITS, &stencilBits);
  glGetIntegerv(GL_DEPTH_BITS, &depthBits);
  EXPECT_EQ(stencilBits, 8);
  EXPECT_EQ(depthBits, 24);

  glClearColor(0, 0, 0, 1);
  glClearStencil(0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  // Depth: the far quad drawn second stays hidden behind the near one on the right half.
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glColor3f(1, 0, 0);
  Quad(0, -1, 1, 1, -0.5f);
  glColor3f(0, 1, 0);
  Quad(-1, -1, 1, 1, 0.5f);
  glDisable(GL_DEPTH_TEST);
  // Stencil: mark the top half with 200, then paint blue only where the mark is.
  glEnable(GL_STENCIL_TEST);
  glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
  glStencilFunc(GL_ALWAYS, 200, 0xFF);
  glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
  Quad(-1, 0, 1, 1);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glStencilFunc(GL_EQUAL, 200, 0xFF);
  glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
  glColor3f(0, 0, 1);
  Quad(-1, -1, 0, 1);
  glDisable(GL_STENCIL_TEST);

  TPixels rgb = context.ReadPixelsRGB();
  ExpectColour(At(rgb, 16, 3, 3), {0, 0, 255}, "top left: stencil mark");
  ExpectColour(At(rgb, 16, 3, 12), {0, 255, 0}, "bottom left: far quad");
  ExpectColour(At(rgb, 16, 12, 12), {255, 0, 0}, "bottom right: near quad wins");
  ExpectColour(At(rgb, 16, 12, 3), {255, 0, 0}, "top right: near quad wins");
}

TEST(OffscreenContext, ResizesAndRefusesSizesItCannotHave) {
  TOffscreenContext context(8, 8);
  context.Resize(20, 10);
  EXPECT_EQ(context.Width(), 20);
  EXPECT_EQ(context.Height(), 10);
  GLint viewport[4] = {};
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 20);
  EXPECT_EQ(viewport[3], 10);
  glClearColor(1, 1, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  TPixels rgb = context.ReadPixelsRGB();
  ASSERT_EQ(rgb.size(), size_t(20 * 10 * 3));
  ExpectColour(At(rgb, 20, 19, 9), {255, 255, 0}, "last pixel");

  EXPECT_EQ(ErrorOf([&] { context.Resize(0, 5); }).rfind("Cannot resize the offscreen", 0), 0u);
  EXPECT_EQ(ErrorOf([&] { context.Resize(1 << 30, 5); }).rfind("Cannot resize", 0), 0u);
  EXPECT_EQ(context.Width(), 20);
  EXPECT_EQ(context.ReadPixelsRGB().size(), size_t(20 * 10 * 3));

  for (auto [w, h] : {std::pair{0, 10}, std::pair{10, -1}, std::pair{1 << 30, 1}})
    EXPECT_EQ(ErrorOf([w = w, h = h] {
                TOffscreenContext bad(w, h);
              }).rfind("Cannot create an offscreen OpenGL context: ", 0),
              0u)
        << w << "x" << h;
}

TEST(OffscreenContext, DestroyingOneContextLeavesAnotherCurrentAndWorking) {
  auto first = std::make_unique<TOffscreenContext>(8, 8);
  auto second = std::make_unique<TOffscreenContext>(8, 8);
  EGLContext current = eglGetCurrentContext();
  first.reset();
  EXPECT_EQ(eglGetCurrentContext(), current);
  glClearColor(0, 1, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  ExpectColour(At(second->ReadPixelsRGB(), 8, 4, 4), {0, 255, 0}, "second context");

  // Reading from a context that is not current makes it current first.
  auto third = std::make_unique<TOffscreenContext>(8, 8);
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  ExpectColour(At(second->ReadPixelsRGB(), 8, 4, 4), {0, 255, 0}, "second again");
  third->MakeCurrent();
  ExpectColour(At(third->ReadPixelsRGB(), 8, 4, 4), {255, 0, 0}, "third");

  second.reset();
  third.reset();
  EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
  // The display survives the last context going and serves a new one.
  TOffscreenContext again(4, 4);
  glClearColor(0, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  ExpectColour(At(again.ReadPixelsRGB(), 4, 0, 0), {0, 0, 255}, "new context");
}
