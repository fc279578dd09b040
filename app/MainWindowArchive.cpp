// View > Archive Members: the Archive window over the open archive, and the model list
// read again after the window changed the archive.
#include "app/MainWindow.h"

#include "archive/FolderArchive.h"
#include "platform/Files.h"
#include "platform/StringList.h"
#include "render/QtGuard.h"
#include "render/QtText.h"

namespace palkor {

void TMainWindow::ShowArchiveWindow() {
  if (!frmArchive) {
    frmArchive = new TArchiveWindow(*this, this);
    frmArchive->SetArchive(
        Catalogue.ArchivePath.empty() ? TArchiveKind{} : ArchiveKindForPath(Catalogue.ArchivePath));
  }
  frmArchive->show();
  frmArchive->raise();
  frmArchive->activateWindow();
}

bool TMainWindow::ArchiveChanging() {
  // As opening another archive does: edits asked about first, Cancel changes nothing.
  const TViewerSession& session = frmViewer->Session();
  FModelBeforeChange = session.HasModel() ? Bytes(cmbModels->currentText()) : "";
  FAnimBeforeChange = session.HasModel() ? Bytes(cmbAnims->currentText()) : "";
  return ReleaseModel();
}

void TMainWindow::ArchiveChanged() {
  const std::string path = Catalogue.ArchivePath;
  if (path.empty()) return;
  TCatalogue::ArchiveWritten(FPaths.Cache, path);
  const std::string model = FModelBeforeChange, anim = FAnimBeforeChange;
  FModelBeforeChange.clear();
  FAnimBeforeChange.clear();
  Guarded([&] {
    OpenCatalogue(path, DirectoryExists(path));
    // The model that was on show comes back when the change left it there.
    const int row = model.empty() ? -1 : cmbModels->findText(Text(model));
    if (row < 0) return;
    cmbModels->setCurrentIndex(row);
    const int animRow = cmbAnims->findText(Text(anim));
    if (animRow >= 0) cmbAnims->setCurrentIndex(animRow);
  });
}

} // namespace palkor
