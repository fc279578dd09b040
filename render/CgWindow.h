#pragma once

#include <QOpenGLWidget>

#include <cstdint>

namespace palkor {

// The pixel-format request of the next window to set up GL: depth and stencil bits,
// double buffering, colour-index (never granted: surfaces here are true colour).
extern uint8_t PFDDepthBits;
extern uint8_t PFDStencilBits;
extern bool PFDDoubleBuffer;
extern bool PFDColourIndex;

// A window that draws with OpenGL in a context of its own. Subclasses call InitGL in their
// constructor, MakeCurrent before every change of GL state outside their paint, and
// ReleaseGL when they go.
class TCGForm : public QOpenGLWidget {
  Q_OBJECT
public:
  explicit TCGForm(QWidget* parent = nullptr);
  ~TCGForm() override;

  // Requests the pixel format of the PFD settings for this window's context.
  void InitGL();
  // Makes this window's context current (once it exists).
  void MakeCurrent();
  // The picture is presented by the toolkit after each paint.
  void SwapGLBuffers() {}
  void ReleaseGL();
};

} // namespace palkor
