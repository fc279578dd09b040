#include "render/CgWindow.h"

#include <QSurfaceFormat>

namespace palkor {

uint8_t PFDDepthBits = 16;
uint8_t PFDStencilBits = 0;
bool PFDDoubleBuffer = true;
bool PFDColourIndex = false;

TCGForm::TCGForm(QWidget* parent) : QOpenGLWidget(parent) {}

TCGForm::~TCGForm() {
  ReleaseGL();
}

void TCGForm::InitGL() {
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setDepthBufferSize(PFDDepthBits);
  format.setStencilBufferSize(PFDStencilBits);
  format.setSwapBehavior(PFDDoubleBuffer ? QSurfaceFormat::DoubleBuffer
                                         : QSurfaceFormat::SingleBuffer);
  setFormat(format);
  PFDDoubleBuffer = true;
  PFDColourIndex = false;
}

void TCGForm::MakeCurrent() {
  if (context()) makeCurrent();
}

void TCGForm::ReleaseGL() {
  if (context()) doneCurrent();
}

} // namespace palkor
