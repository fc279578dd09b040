#include "render/CgWindow.h"

#include <QSurfaceFormat>

namespace palkor {

TCGForm::TCGForm(const TSurfaceRequest& surface, QWidget* parent) : QOpenGLWidget(parent) {
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setDepthBufferSize(surface.DepthBits);
  format.setStencilBufferSize(surface.StencilBits);
  format.setSwapBehavior(surface.DoubleBuffer ? QSurfaceFormat::DoubleBuffer
                                              : QSurfaceFormat::SingleBuffer);
  setFormat(format);
}

TCGForm::~TCGForm() {
  ReleaseGL();
}

void TCGForm::MakeCurrent() {
  if (context()) makeCurrent();
}

void TCGForm::ReleaseGL() {
  if (context()) doneCurrent();
}

std::vector<std::array<uint8_t, 3>> MakeLogicalPalette(int colourBits, int redBits, int redShift,
                                                       int greenBits, int greenShift, int blueBits,
                                                       int blueShift) {
  std::vector<std::array<uint8_t, 3>> palette(size_t(1) << colourBits);
  auto channel = [](size_t i, int bits, int shift) {
    uint8_t mask = uint8_t((1u << bits) - 1);
    return mask == 0 ? uint8_t(0) : uint8_t(((i >> shift) & mask) * 255 / mask);
  };
  for (size_t i = 0; i < palette.size(); ++i)
    palette[i] = {channel(i, redBits, redShift), channel(i, greenBits, greenShift),
                  channel(i, blueBits, blueShift)};
  return palette;
}

} // namespace palkor
