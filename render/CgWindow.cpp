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

} // namespace palkor
