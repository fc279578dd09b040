#pragma once

#include <EGL/egl.h>
#include <GL/gl.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace palkor {

// A headless OpenGL context (EGL on Mesa's surfaceless platform, compatibility profile)
// drawing into a framebuffer object with an RGBA8 colour buffer and a 24-bit depth,
// 8-bit stencil buffer. Drawing code never makes contexts: this is how tests and
// the command line get one to draw into.
class TOffscreenContext {
public:
  // Creates the context, makes it current, binds the framebuffer and sets the viewport
  // to the full size. Throws Exception "Cannot create an offscreen OpenGL context: ..."
  // when EGL, the context or the framebuffer cannot be had or the size is not positive.
  TOffscreenContext(int width, int height);
  // Releases the framebuffer and the context; another context made current on this
  // thread meanwhile stays current.
  ~TOffscreenContext();
  TOffscreenContext(const TOffscreenContext&) = delete;
  TOffscreenContext& operator=(const TOffscreenContext&) = delete;

  // Makes this context current on the calling thread and binds its framebuffer.
  void MakeCurrent();
  // Makes the context current, reallocates the buffers at the new size (their contents
  // are lost) and sets the viewport to it. Throws Exception when the size cannot be had;
  // the old size is then kept.
  void Resize(int width, int height);
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }

  // The colour buffer as RGB bytes, 3 per pixel, rows packed, top row first (with
  // bottomUp, the bottom row first, as GL reads it). Makes the context current first
  // when it is not.
  std::vector<uint8_t> ReadPixelsRGB(bool bottomUp = false);
  // The same with alpha: RGBA bytes, 4 per pixel.
  std::vector<uint8_t> ReadPixelsRGBA(bool bottomUp = false);

private:
  std::string AllocateBuffers(int width, int height);
  std::vector<uint8_t> ReadPixels(GLenum format, size_t channels, bool bottomUp);
  void Release();

  EGLDisplay FDisplay = EGL_NO_DISPLAY;
  EGLContext FContext = EGL_NO_CONTEXT;
  GLuint FFramebuffer = 0;
  GLuint FColourBuffer = 0;
  GLuint FDepthStencilBuffer = 0;
  int FWidth = 0;
  int FHeight = 0;
};

// Makes the display that every context shares ready on a thread of its own while the
// caller goes on: loading the driver takes about a tenth of a second, which a caller
// that will make contexts can spend on other work. Contexts made meanwhile wait for it.
// The display stays ready while this lives. One that cannot be had is left to the
// contexts to report.
class TOffscreenDisplayWarmUp {
public:
  TOffscreenDisplayWarmUp();
  ~TOffscreenDisplayWarmUp();
  TOffscreenDisplayWarmUp(const TOffscreenDisplayWarmUp&) = delete;
  TOffscreenDisplayWarmUp& operator=(const TOffscreenDisplayWarmUp&) = delete;

private:
  EGLDisplay FDisplay = EGL_NO_DISPLAY;
  std::thread FThread;
};

} // namespace palkor
