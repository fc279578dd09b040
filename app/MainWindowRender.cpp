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

// The folder that holds an archive file or folder, ending with "/"; "" for none.
std::string FolderOf(std::string path) {
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

void TMainWindow::RenderAnimation(bool showDialog) {
  // What the viewer shows is what is rendered.
  if (!frmViewer->Session().HasModel()) throw Exception("No model selected");
  frmRenderOptions->SetStartFolder(FRenderFolder.empty() ? FolderOf(Catalogue.ArchivePath)
                                                         : FRenderFolder);
  if (showDialog && frmRenderOptions->exec() != QDialog::Accepted) return;
  // An empty output folder is asked for: the files never land unseen in the current folder.
  if (!frmRenderOptions->ChooseOutputIfEmpty()) return;
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
  // The panels are not part of the picture; they come back however the run ends, with
  // the view turned back to where it was and the trackbars showing the session.
  frmViewer->SetPanelsShown(false);
  struct TViewerBack {
    TfrmViewer& Viewer;
    TViewCamera View;
    ~TViewerBack() {
      TViewCamera& camera = Viewer.Session().Camera;
      camera.RotateX = View.RotateX;
      camera.RotateY = View.RotateY;
      camera.RotateZ = View.RotateZ;
      Viewer.SetPanelsShown(true);
      Viewer.ShowSession();
    }
  } viewerBack{*frmViewer, frmViewer->Session().Camera};
  const int shownRow = cmbAnims->currentIndex();
  QApplication::processEvents();
  aAnimation->setChecked(false);

  TViewerFrames target(*frmViewer);
  const int32_t written = RunRenderJob(frmViewer->Session(), target, job);
  // Every animation rendered: the one shown before is shown again.
  if (job.AllAnimations && shownRow >= 0 && shownRow < cmbAnims->count() &&
      cmbAnims->currentIndex() != shownRow)
    ChooseListedAnimation(shownRow);
  const std::string& prefix = job.Output.Prefix;
  const size_t slash = prefix.rfind('/');
  if (slash != std::string::npos) FRenderFolder = prefix.substr(0, slash + 1);
  StatusText(Format("Wrote %d images to %s", written, prefix));
}

} // namespace palkor
