#pragma once

#include <QOpenGLWidget>

#include <array>
#include <cstdint>
#include <vector>

namespace palkor {

// The surface a GL window asks for: depth and stencil bits, and double buffering. Each
// window states its own when it is made; colour is always true colour.
struct TSurfaceRequest {
  uint8_t DepthBits = 16;
  uint8_t StencilBits = 0;
  bool DoubleBuffer = true;
};

// A window that draws with OpenGL in a context of its own, of the surface it asked for.
// Subclasses call MakeCurrent before every change of GL state outside their paint.
class TCGForm : public QOpenGLWidget {
  Q_OBJECT
public:
  explicit TCGForm(const TSurfaceRequest& surface, QWidget* parent = nullptr);
  ~TCGForm() override;

  // Makes this window's context current (once it exists).
  void MakeCurrent();
  void ReleaseGL();
};

// The logical palette of a palette-based format: 2^colourBits entries, each channel
// (i >> shift) & mask scaled to 0..255, mask = 2^bits - 1 in 8 bits.
std::vector<std::array<uint8_t, 3>> MakeLogicalPalette(int colourBits, int redBits, int redShift,
                                                       int greenBits, int greenShift, int blueBits,
                                                       int blueShift);

} // namespace palkor
