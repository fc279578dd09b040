#pragma once

#include <QOpenGLWidget>

#include <cstdint>

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

} // namespace palkor
