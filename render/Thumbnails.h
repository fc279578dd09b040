#pragma once

#include "archive/LGPFile.h"
#include "archive/ModelRef.h"
#include "render/ViewerSession.h"
#include "render/offscreen.h"

#include <cstdint>
#include <string>
#include <vector>

namespace palkor {

// The side of a thumbnail unless asked otherwise, in pixels.
constexpr int32_t DefaultThumbnailSize = 128;
// The largest side a thumbnail may have.
constexpr int32_t MaxThumbnailSize = 4096;

// The standard pose's turn: three quarters towards the eye, seen a little from above.
constexpr int32_t ThumbnailRotateX = 15;
constexpr int32_t ThumbnailRotateY = -35;
// The share of the square that the model fills.
constexpr double ThumbnailFill = 0.92;
// The picture is the middle of the viewer's wide view, this share of it across, seen
// from as far as that needs: a narrower view, which distorts the model less than the
// viewer's does when it fills the picture from near by.
constexpr double ThumbnailViewShare = 0.3;

// Square pictures of models in a standard pose, drawn by a viewer session into an
// offscreen context of the renderer's own that serves every picture of a run. The
// renderer belongs to the thread that made it: its context is current there.
class TThumbnailRenderer {
public:
  // A renderer of size x size pictures (1 to MaxThumbnailSize); makes its context current
  // on the calling thread. Throws as TOffscreenContext does, and "Invalid thumbnail size
  // %d" for a size outside the range.
  explicit TThumbnailRenderer(int32_t size = DefaultThumbnailSize);

  int32_t Size() const { return FContext.Width(); }

  // The model of archive at frame 0 of the field animation animName ("" draws the
  // skeleton unturned) or of a battle model's first animation, turned as the standard
  // pose turns it, framed to fill the square: RGBA bytes, 4 a pixel, top row first, the
  // colour not multiplied by the alpha, the background transparent (alpha 0). Fails with
  // the model's own errors; a model that draws nothing gives a wholly transparent
  // picture. The renderer is ready for the next model either way.
  std::vector<uint8_t> Render(TLGPFile& archive, const TModelRef& model,
                              const std::string& animName);

private:
  TOffscreenContext FContext;
  TViewerSession FSession;
};

// Turns premultiplied RGBA pixels (as drawn over a transparent background) into straight
// alpha, as image files keep it.
void UnpremultiplyRGBA(std::vector<uint8_t>& pixels);

} // namespace palkor
