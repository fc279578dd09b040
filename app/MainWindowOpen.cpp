// Opening archives: File > Open LGP and Open Folder, the command line, File > Open Recent
// and archives dropped on the window; the title that names the open archive.
#include "app/MainWindow.h"

#include "app/exportjobs.h"
#include "archive/FolderArchive.h"
#include "platform/Convert.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/StringList.h"
#include "render/QtGuard.h"
#include "render/QtText.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QSignalBlocker>
#include <QUrl>

namespace palkor {

namespace {

// Why a file dropped on the window is not taken as an archive, or "" when it may be one:
// an LGP archive starts with its creator (NUL bytes, then text such as "SQUARESOFT") and
// its member count. Only these 16 bytes are read.
std::string NotAnArchiveReason(const std::string& path) {
  const QString name = QFileInfo(QFile::decodeName(path.c_str())).fileName();
  QFile file(QFile::decodeName(path.c_str()));
  if (!QFileInfo(file).isFile())
    return Format("\"%s\" is neither an LGP archive nor a folder: it was not opened.", Bytes(name));
  if (!file.open(QIODevice::ReadOnly))
    return Format("Cannot open file \"%s\". %s", path, Bytes(file.errorString()));
  const QByteArray head = file.read(16);
  bool archive = head.size() == 16 && (uint8_t(head[15]) & 0x80) == 0;
  bool text = false;
  for (int i = 0; i < 12 && archive; ++i) {
    const uint8_t byte = uint8_t(head[i]);
    text = text || byte != 0;
    archive = text ? byte >= 0x20 && byte < 0x7F : true;
  }
  if (archive) return {};
  return Format("\"%s\" is not an LGP archive: it does not begin as one does (its creator, "
                "such as \"SQUARESOFT\", and its member count), so it was not opened.",
                Bytes(name));
}

} // namespace

void TMainWindow::OpenLGP(const std::string& fileName) {
  OpenCatalogue(fileName, false);
}

void TMainWindow::OpenFolder(const std::string& folder) {
  OpenCatalogue(folder.empty() || folder.back() != '/' ? folder + "/" : folder, true);
}

void TMainWindow::OpenCatalogue(const std::string& path, bool folder) {
  // Unsaved edits are asked about before anything else: Cancel opens nothing.
  if (!OfferToSave()) return;
  TCatalogue next;
  next.ArchivePath = path;
  pProgress->Follow(next);
  struct TFollowBack {
    TMainWindow& Main;
    ~TFollowBack() {
      Main.pProgress->Follow(Main.Catalogue);
      Main.pProgress->Finish();
    }
  } followBack{*this};
  try {
    std::unique_ptr<TLGPFile> archive =
        folder ? std::unique_ptr<TLGPFile>(TFolderArchive::CreateFromFolder(path))
               : TLGPFile::Create(path, false);
    next.AnalyseArchive(*archive, this);
  } catch (const Exception& e) {
    // The status text stays at the last step reached. A file that is there but does not
    // read as an archive: the reader's message first, then what it means and why. A file
    // that cannot be opened at all is named, with the reason, by its message already.
    if (folder || !FileExists(path) || dynamic_cast<const EFOpenError*>(&e)) throw;
    const bool cutShort = dynamic_cast<const EReadError*>(&e) && !e.HasCause();
    throw Exception(Format("%s\n\n\"%s\" is not an LGP archive%s.", e.Message(), path,
                           cutShort ? ": a member runs past the end of the file" : ""));
  }
  // Nothing of the archive before stays on show: its model goes with its lists.
  frmViewer->ClearModel();
  Catalogue = std::move(next);
  LoadFilter();
  FShownModelIndex = -1;
  {
    QSignalBlocker blockAnims(cmbAnims), blockDetails(cmbDetails), blockModels(cmbModels);
    cmbAnims->clear();
    cmbDetails->clear();
    cmbModels->setCurrentIndex(-1);
  }
  BrowseCatalogue();
  FillModelList();
  AddRecentArchive(path);
  UpdateTitle();
  if (frmArchive && frmArchive->Archive().Path != path)
    frmArchive->SetArchive(ArchiveKindForPath(path));
}

void TMainWindow::OpenArchive(const std::string& path) {
  Guarded([&] {
    if (DirectoryExists(path))
      OpenFolder(path);
    else
      OpenLGP(path);
  });
}

void TMainWindow::ShowModel(const std::string& model, const std::string& anim) {
  Guarded([&] {
    const int k = IsBattleModelName(model) ? Catalogue.IndexOfBattleModel(model)
                                           : Catalogue.IndexOfModel(model);
    if (k < 0) throw Exception("no model named " + model);
    edFindModel->clear();
    cmbModels->setCurrentIndex(RowOfModel(k));
    if (anim.empty()) return;
    int row = -1;
    int32_t number = 0;
    if (frmViewer->Session().BattleModel() && TryStrToInt(anim, number))
      row = number >= 1 && number <= cmbAnims->count() ? number - 1 : -1;
    else
      for (int a = 0; a < cmbAnims->count() && row < 0; ++a)
        if (SameTextASCII(Bytes(cmbAnims->itemText(a)), anim)) row = a;
    if (row < 0) throw Exception("no animation named " + anim);
    cmbAnims->setCurrentIndex(row);
    aAnimation->setChecked(true);
  });
}

void TMainWindow::UpdateTitle() {
  // The archive's file name, or the folder's name; the mark shows unsaved edits.
  QString name;
  if (!Catalogue.ArchivePath.empty()) {
    QString path = QFile::decodeName(Catalogue.ArchivePath.c_str());
    while (path.size() > 1 && path.endsWith('/')) path.chop(1);
    name = QFileInfo(path).fileName();
  }
  setWindowTitle(name.isEmpty() ? QString("Quenmark: Palkor")
                                : name + "[*] \u2014 Quenmark: Palkor");
}

void TMainWindow::LoadFilter() {
  std::vector<std::string> candidates;
  const std::string& archive = Catalogue.ArchivePath;
  if (!archive.empty()) {
    std::string path = archive;
    if (path.size() > 1 && path.back() == '/') {
      candidates.push_back(path + "palkor.filter");
      path.pop_back();
    }
    const size_t slash = path.rfind('/');
    candidates.push_back((slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
                         "palkor.filter");
  }
  candidates.push_back(FPaths.Filter);
  FFilterFile.clear();
  for (const std::string& candidate : candidates)
    if (FileExists(candidate)) {
      FFilterFile = candidate;
      break;
    }
  Catalogue.LoadFilterFile(FFilterFile);
}

void TMainWindow::FilterSwitched() {
  if (FShown && chkFilter->isChecked() && FFilterFile.empty())
    StatusText("No filter file (palkor.filter): every animation is offered");
  const int model = ChosenModel();
  if (model < 0 || size_t(model) >= Catalogue.Models.size() ||
      Catalogue.Models[size_t(model)].IsBattle())
    return;
  // The animation on show stays on show, and chosen when the list offers it.
  const TFieldModel* shown = frmViewer->Session().FieldModel();
  const QString current = shown && ShowsChosenModel() ? Text(shown->AnimName) : QString();
  QSignalBlocker block(cmbAnims);
  cmbAnims->clear();
  for (const std::string& name : Catalogue.AnimationsFor(model, FilterAnims()))
    cmbAnims->addItem(Text(name));
  cmbAnims->setCurrentIndex(current.isEmpty() ? -1 : cmbAnims->findText(current));
}

void TMainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.front().isLocalFile()) event->acceptProposedAction();
}

void TMainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.front().isLocalFile()) return;
  event->acceptProposedAction();
  const std::string path = QFile::encodeName(urls.front().toLocalFile()).toStdString();
  // A file that is not an archive is refused with the reason, before anything is asked
  // or let go.
  if (!DirectoryExists(path))
    if (const std::string reason = NotAnArchiveReason(path); !reason.empty()) {
      Dialogs().ShowError(reason);
      return;
    }
  OpenArchive(path);
}

void TMainWindow::FillRecentMenu() {
  mnuOpenRecent->clear();
  const QStringList recent = RecentArchives();
  for (int i = 0; i < recent.size(); ++i) {
    const QString path = recent[i];
    // A mnemonic for each: 1 to 8.
    QAction* item = mnuOpenRecent->addAction(QString("&%1 %2").arg(i + 1).arg(path));
    ConnectGuarded(item, &QAction::triggered, this, [this, path] {
      const std::string local = QFile::encodeName(path).toStdString();
      if (!QFileInfo::exists(path)) {
        ForgetRecentArchive(local);
        Dialogs().ShowMessage(
            Format("\"%s\" is no longer there: it has been taken off the list.", local));
        return;
      }
      OpenArchive(local);
    });
  }
  mnuOpenRecent->setEnabled(!recent.isEmpty());
}

} // namespace palkor
