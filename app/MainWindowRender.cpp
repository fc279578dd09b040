// File > Render Animation: the viewer's own frames written as numbered image files.
#include "app/MainWindow.h"

#include "app/frameoutput.h"
#include "platform/StringList.h"
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

void TMainWindow::RenderAnimation(bool showDialog) {
  // What the viewer shows is what is rendered.
  if (!frmViewer->FieldModel && !frmViewer->BattleModel) throw Exception("No model selected");
  if (showDialog && frmRenderOptions->exec() != QDialog::Accepted) return;
  const bool all = frmRenderOptions->AllAnimations();
  // Every animation is the model list's: the list must be the shown model's.
  if (all && !ShowsChosenModel())
    throw Exception("Process all animations renders the animations listed: choose the model "
                    "on show in the model list first");
  // The panels are not part of the picture; they come back as the switches say however
  // the run ends.
  frmViewer->pControls->hide();
  frmViewer->SetEditable(false);
  struct TPanelsBack {
    TMainWindow& Main;
    ~TPanelsBack() {
      Main.frmViewer->pControls->show();
      Main.frmViewer->SetEditable(Main.aEditable->isChecked());
    }
  } panelsBack{*this};
  QApplication::processEvents();
  aAnimation->setChecked(false);

  const TFrameOutputOptions options = frmRenderOptions->Options();
  TViewerFrames target(*frmViewer);
  int32_t written = 0;
  for (int a = 0; a < (all ? cmbAnims->count() : 1); ++a) {
    if (all) {
      {
        QSignalBlocker block(cmbAnims);
        cmbAnims->setCurrentIndex(a);
      }
      if (!AnimationChosen()) break; // the user kept an edited model
    }
    const std::string model = FrameModelPart(frmViewer->ShownModel());
    std::string anim;
    if (frmViewer->FieldModel) {
      anim = FrameAnimPart(frmViewer->FieldModel->AnimName, false, 0);
    } else {
      frmViewer->BattleModel->FrameCount(); // brings the animation's index into range
      anim = FrameAnimPart("", true, frmViewer->BattleModel->AnimIndex);
    }
    written += RenderAnimationFrames(target, options, model, anim, frmViewer->trkFrame->maximum());
  }
  StatusText(Format("Wrote %d images to %s", written, options.Prefix));
}

} // namespace palkor
