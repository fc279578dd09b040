// File > Render Animation: the render job run over the viewer's session, its pictures
// taken from the viewer's own drawing.
#include "app/MainWindow.h"

#include "app/RenderJob.h"
#include "platform/StringList.h"

#include <QApplication>

namespace palkor {

namespace {

// Frames of the viewer's session, taken from the viewer's own drawing.
class TViewerFrames : public TFrameTarget {
public:
  explicit TViewerFrames(TfrmViewer& viewer) : FViewer(viewer) {}
  void SetView(int32_t x, int32_t y, int32_t z) override {
    TViewCamera& camera = FViewer.Session().Camera;
    camera.RotateX = x;
    camera.RotateY = y;
    camera.RotateZ = z;
  }
  void ShowFrame(int32_t frame) override { FViewer.Session().SetFrame(frame); }
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
  if (!frmViewer->Session().HasModel()) throw Exception("No model selected");
  if (showDialog && frmRenderOptions->exec() != QDialog::Accepted) return;
  TRenderJob job;
  job.Output = frmRenderOptions->Options();
  job.AllAnimations = frmRenderOptions->AllAnimations();
  if (job.AllAnimations) {
    // Every animation is the model list's: the list must be the shown model's.
    if (!ShowsChosenModel())
      throw Exception("Process all animations renders the animations listed: choose the model "
                      "on show in the model list first");
    job.FieldAnimations = ListedAnimations();
    // Each loaded as the list loads it: an edited animation is asked about first.
    job.ShowAnimation = [this](int32_t pass) { return ChooseListedAnimation(pass); };
  }
  // The panels are not part of the picture; they come back however the run ends, and
  // the trackbars show where the run left the view and the frame.
  frmViewer->SetPanelsShown(false);
  struct TViewerBack {
    TfrmViewer& Viewer;
    ~TViewerBack() {
      Viewer.SetPanelsShown(true);
      Viewer.ShowSession();
    }
  } viewerBack{*frmViewer};
  QApplication::processEvents();
  aAnimation->setChecked(false);

  TViewerFrames target(*frmViewer);
  const int32_t written = RunRenderJob(frmViewer->Session(), target, job);
  StatusText(Format("Wrote %d images to %s", written, job.Output.Prefix));
}

} // namespace palkor
