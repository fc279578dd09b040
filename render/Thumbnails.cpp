#include "render/Thumbnails.h"

#include "platform/Exceptions.h"
#include "render/scene.h"

#include <GL/gl.h>

#include <algorithm>

namespace palkor {

namespace {

int32_t CheckedSize(int32_t size) {
  if (size < 1 || size > MaxThumbnailSize)
    throw Exception(Format("Invalid thumbnail size %d", size));
  return size;
}

// Framing never brings the eye nearer than this, nor takes it farther than the far
// plane allows.
constexpr int32_t NearestZoom = 1;
constexpr int32_t FarthestZoom = 9000;

} // namespace

TThumbnailRenderer::TThumbnailRenderer(int32_t size) : FContext(CheckedSize(size), size) {
  SetupScene();
  ResizeScene(size, size);
  // The middle of the scene's view magnified to fill the picture, as framing into that
  // area expects.
  glMatrixMode(GL_PROJECTION);
  GLfloat projection[16];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  glLoadIdentity();
  glScalef(float(1 / ThumbnailViewShare), float(1 / ThumbnailViewShare), 1);
  glMultMatrixf(projection);
  glMatrixMode(GL_MODELVIEW);
  FSession.Options.TransparentBackground = true;
}

std::vector<uint8_t> TThumbnailRenderer::Render(TLGPFile& archive, const TModelRef& model,
                                                const std::string& animName) {
  FContext.MakeCurrent();
  // The model of the last picture goes first, so that a failure leaves none behind.
  FSession.Clear();
  struct TLetGo {
    TViewerSession& Session;
    ~TLetGo() { Session.Clear(); }
  } letGo{FSession};
  if (model.IsBattle())
    FSession.LoadBattleModel(archive, model);
  else
    FSession.LoadFieldModel(archive, model, animName);
  FSession.Camera = {};
  FSession.Camera.RotateX = ThumbnailRotateX;
  FSession.Camera.RotateY = ThumbnailRotateY;
  const double edge = ThumbnailViewShare;
  FSession.FrameWholeModel(1.0, ThumbnailFill, {-edge, edge, -edge, edge}, NearestZoom,
                           FarthestZoom);
  FSession.Paint();
  std::vector<uint8_t> pixels = FContext.ReadPixelsRGBA();
  UnpremultiplyRGBA(pixels);
  return pixels;
}

void UnpremultiplyRGBA(std::vector<uint8_t>& pixels) {
  for (size_t p = 0; p + 3 < pixels.size(); p += 4) {
    const unsigned alpha = pixels[p + 3];
    if (alpha == 0) {
      pixels[p] = pixels[p + 1] = pixels[p + 2] = 0;
    } else if (alpha < 255) {
      for (size_t c = 0; c < 3; ++c)
        pixels[p + c] = uint8_t(std::min(255u, (pixels[p + c] * 255u + alpha / 2) / alpha));
    }
  }
}

} // namespace palkor
