#include "render/offscreen.h"

#include "platform/Exceptions.h"

#include <EGL/eglext.h>
#include <GL/glu.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <system_error>

namespace palkor {

namespace {

// Every context shares the one surfaceless display; eglTerminate would also kill the
// other contexts on it, so it is terminated only when the last context goes.
std::mutex DisplayLock;
int DisplayUsers = 0;

std::string EGLErrorText() {
  return Format("EGL error 0x%04X", unsigned(eglGetError()));
}

[[noreturn]] void CreateFailed(const std::string& reason) {
  throw Exception("Cannot create an offscreen OpenGL context: " + reason);
}

EGLDisplay AcquireDisplay() {
  std::lock_guard<std::mutex> lock(DisplayLock);
  EGLDisplay display =
      eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (display == EGL_NO_DISPLAY)
    CreateFailed("no surfaceless EGL display (" + EGLErrorText() + ")");
  EGLint major = 0, minor = 0;
  if (!eglInitialize(display, &major, &minor))
    CreateFailed("the EGL display cannot be initialised (" + EGLErrorText() + ")");
  ++DisplayUsers;
  return display;
}

void ReleaseDisplay(EGLDisplay display) {
  std::lock_guard<std::mutex> lock(DisplayLock);
  if (--DisplayUsers == 0) eglTerminate(display);
}

} // namespace

TOffscreenContext::TOffscreenContext(int width, int height) {
  if (width <= 0 || height <= 0) CreateFailed(Format("invalid size %dx%d", width, height));
  FDisplay = AcquireDisplay();
  try {
    if (!eglBindAPI(EGL_OPENGL_API))
      CreateFailed("desktop OpenGL is not available (" + EGLErrorText() + ")");
    // The context draws only into its own framebuffer object: no surface is needed. The
    // surface-type mask must be cleared, as its default asks for window surfaces, which the
    // surfaceless platform has none of.
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(FDisplay, configAttributes, &config, 1, &configCount) || configCount < 1)
      CreateFailed("no OpenGL configuration (" + EGLErrorText() + ")");
    const EGLint contextAttributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                        EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    FContext = eglCreateContext(FDisplay, config, EGL_NO_CONTEXT, contextAttributes);
    if (FContext == EGL_NO_CONTEXT)
      CreateFailed("no compatibility-profile context (" + EGLErrorText() + ")");
    if (!eglMakeCurrent(FDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, FContext))
      CreateFailed("the context cannot be made current (" + EGLErrorText() + ")");

    glGenFramebuffers(1, &FFramebuffer);
    glGenRenderbuffers(1, &FColourBuffer);
    glGenRenderbuffers(1, &FDepthStencilBuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, FFramebuffer);
    if (std::string error = AllocateBuffers(width, height); !error.empty()) CreateFailed(error);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, FColourBuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                              FDepthStencilBuffer);
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE)
      CreateFailed(Format("the framebuffer is incomplete (status 0x%04X)", unsigned(status)));
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
  } catch (...) {
    Release();
    throw;
  }
}

TOffscreenContext::~TOffscreenContext() {
  Release();
}

void TOffscreenContext::Release() {
  if (FContext != EGL_NO_CONTEXT) {
    if (eglGetCurrentContext() == FContext) {
      glBindFramebuffer(GL_FRAMEBUFFER, 0);
      glDeleteFramebuffers(1, &FFramebuffer);
      glDeleteRenderbuffers(1, &FColourBuffer);
      glDeleteRenderbuffers(1, &FDepthStencilBuffer);
      eglMakeCurrent(FDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    // When another context is current we leave it so: the framebuffer and renderbuffers
    // belong to this context alone and go with it.
    eglDestroyContext(FDisplay, FContext);
    FContext = EGL_NO_CONTEXT;
  }
  if (FDisplay != EGL_NO_DISPLAY) {
    ReleaseDisplay(FDisplay);
    FDisplay = EGL_NO_DISPLAY;
  }
}

void TOffscreenContext::MakeCurrent() {
  if (eglGetCurrentContext() != FContext &&
      !eglMakeCurrent(FDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, FContext))
    throw Exception("Cannot make the offscreen OpenGL context current: " + EGLErrorText());
  glBindFramebuffer(GL_FRAMEBUFFER, FFramebuffer);
}

// Gives both renderbuffers storage of the new size, with the framebuffer bound and the
// context current. On failure the old size is allocated again and the reason returned.
std::string TOffscreenContext::AllocateBuffers(int width, int height) {
  GLint maxSize = 0, maxViewport[2] = {0, 0};
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, maxViewport);
  if (width <= 0 || height <= 0 || width > maxSize || height > maxSize || width > maxViewport[0] ||
      height > maxViewport[1])
    return Format("a buffer of %dx%d pixels is beyond the limits", width, height);

  while (glGetError() != GL_NO_ERROR) {
  }
  glBindRenderbuffer(GL_RENDERBUFFER, FColourBuffer);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  glBindRenderbuffer(GL_RENDERBUFFER, FDepthStencilBuffer);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  if (GLenum error = glGetError(); error != GL_NO_ERROR) {
    if (FWidth > 0 && FHeight > 0) AllocateBuffers(FWidth, FHeight);
    return Format("a buffer of %dx%d pixels cannot be allocated (%s)", width, height,
                  reinterpret_cast<const char*>(gluErrorString(error)));
  }
  FWidth = width;
  FHeight = height;
  glViewport(0, 0, width, height);
  return {};
}

void TOffscreenContext::Resize(int width, int height) {
  MakeCurrent();
  if (std::string error = AllocateBuffers(width, height); !error.empty())
    throw Exception("Cannot resize the offscreen OpenGL buffer: " + error);
}

std::vector<uint8_t> TOffscreenContext::ReadPixelsRGB(bool bottomUp) {
  return ReadPixels(GL_RGB, 3, bottomUp);
}

std::vector<uint8_t> TOffscreenContext::ReadPixelsRGBA(bool bottomUp) {
  return ReadPixels(GL_RGBA, 4, bottomUp);
}

std::vector<uint8_t> TOffscreenContext::ReadPixels(GLenum format, size_t channels, bool bottomUp) {
  if (eglGetCurrentContext() != FContext) MakeCurrent();
  GLint oldReadFramebuffer = 0, oldAlignment = 4;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &oldReadFramebuffer);
  glGetIntegerv(GL_PACK_ALIGNMENT, &oldAlignment);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, FFramebuffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);

  size_t rowBytes = size_t(FWidth) * channels;
  std::vector<uint8_t> pixels(rowBytes * size_t(FHeight));
  glReadPixels(0, 0, FWidth, FHeight, format, GL_UNSIGNED_BYTE, pixels.data());

  glPixelStorei(GL_PACK_ALIGNMENT, oldAlignment);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(oldReadFramebuffer));

  // glReadPixels gives the bottom row first: rows are swapped in place.
  if (!bottomUp)
    for (int top = 0, bottom = FHeight - 1; top < bottom; ++top, --bottom)
      std::swap_ranges(pixels.data() + size_t(top) * rowBytes,
                       pixels.data() + size_t(top + 1) * rowBytes,
                       pixels.data() + size_t(bottom) * rowBytes);
  return pixels;
}

TOffscreenDisplayWarmUp::TOffscreenDisplayWarmUp() {
  try {
    FThread = std::thread([this] {
      try {
        FDisplay = AcquireDisplay();
      } catch (const std::exception&) {
        // The contexts say why.
      }
    });
  } catch (const std::system_error&) {
    // No thread: the first context loads the driver.
  }
}

TOffscreenDisplayWarmUp::~TOffscreenDisplayWarmUp() {
  if (FThread.joinable()) FThread.join();
  if (FDisplay != EGL_NO_DISPLAY) ReleaseDisplay(FDisplay);
}

} // namespace palkor
