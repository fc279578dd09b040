// File > Render Animation: the viewer's own frames written as numbered image files.
#include "app/pakmain.h"

#include "app/frameoutput.h"
#include "render/QtText.h"

#include <QApplication>
#include <QSignalBlocker>

namespace palkor {

namespace {

// Frames taken from the viewer's own drawing.
class TViewerFrames : public TFrameTarget {
public:
  explicit TViewerFrames(TfrmViewer& viewer) : FViewer(viewer) {}
  void SetView(int32_t x, int32_t y, int32_t z) override {
    FViewer.TrkX->setValue(x);
    FViewer.TrkY->setValue(y);
    FViewer.TrkZ->setValue(z);
  }
  void ShowFrame(int32_t frame) override { FViewer.trkFrame->setValue(frame); }
  std::vector<uint8_t> Capture(int32_t& width, int32_t& height) override {
    int w = 0, h = 0;
    std::vector<uint8_t> pixels = FViewer.CapturePixels(w, h);
    width = w;
    height = h;
    return pixels;
  }

private:
  TfrmViewer& FViewer;
};

} // namespace

void TfrmPalkorMain::RenderAnimation(bool showDialog) {
  if (cmbModels->currentIndex() < 0) throw Exception("No model selected");
  if (showDialog && frmPakMove->exec() != QDialog::Accepted) return;
  // The panels are not part of the picture; they come back as the switches say however
  // the run ends.
  frmViewer->pControls->hide();
  frmViewer->SetEditable(false);
  struct TPanelsBack {
    TfrmPalkorMain& Main;
    ~TPanelsBack() {
      Main.frmViewer->pControls->show();
      Main.frmViewer->SetEditable(Main.aEditable->isChecked());
    }
  } panelsBack{*this};
  QApplication::processEvents();
  aAnimation->setChecked(false);

  const TFrameOutputOptions options = frmPakMove->Options();
  const std::string model = FrameModelPart(Bytes(cmbModels->currentText()));
  const bool all = frmPakMove->AllAnimations();
  TViewerFrames target(*frmViewer);
  for (int a = 0; a < cmbAnims->count(); ++a) {
    if (all) {
      {
        QSignalBlocker block(cmbAnims);
        cmbAnims->setCurrentIndex(a);
      }
      if (!AnimationChosen()) return; // the user kept an edited model
    }
    const bool battle = frmViewer->BattleModel != nullptr;
    const std::string anim =
        FrameAnimPart(Bytes(cmbAnims->currentText()), battle, cmbAnims->currentIndex());
    RenderAnimationFrames(target, options, model, anim, frmViewer->trkFrame->maximum());
    if (!all) break;
  }
}

} // namespace palkor
