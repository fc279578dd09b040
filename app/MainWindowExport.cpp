// File > Export glTF, Export All Models and Import Animation: the main window's side of
// the export and import jobs that palkor-cli export, export-all and import-anim run too.
#include "app/MainWindow.h"

#include "render/QtText.h"

#include "archive/FolderArchive.h"
#include "platform/Convert.h"
#include "platform/Dialogs.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/StringList.h"

#include <QApplication>
#include <QFileInfo>
#include <QProgressDialog>
#include <QThread>

#include <algorithm>
#include <filesystem>

namespace palkor {

namespace {

// Both paths name one existing file or folder.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error);
}

// The folder holding an archive file, or a folder archive itself; absolute, no "/" at
// the end.
std::string ArchiveFolder(const TArchiveKind& kind) {
  QFileInfo info(QFile::decodeName(kind.Path.c_str()));
  return FileName(info.isDir() ? info.absoluteFilePath() : info.absolutePath());
}

// A name typed without extension is written as binary glTF, as the save dialog names it.
std::string WithGltfExtension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ".glb";
  return path;
}

struct TWaitCursor {
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

bool TMainWindow::ShowsChosenModel() const {
  const TModelRef* chosen = ChosenModelRef();
  const TViewerSession& session = frmViewer->Session();
  if (!chosen || !session.HasModel() || !(session.Model() == *chosen)) return false;
  // The viewer may still show a model of an archive opened before, listed alike.
  const std::string shownArchive = session.Archive().Path;
  const std::string archive = ArchiveKindForPath(Catalogue.ArchivePath).Path;
  return !shownArchive.empty() && (shownArchive == archive || SameFile(shownArchive, archive));
}

TShownModels TMainWindow::ShownForExport(TModelRef& model, std::string& current) const {
  // The viewer's model, when it is the one chosen in the list: its animations are the
  // catalogue's.
  if (!ShowsChosenModel()) throw Exception("No model selected");
  const TViewerSession& session = frmViewer->Session();
  model = session.Model();
  TShownModels shown;
  if (model.IsBattle()) {
    shown.Battle = session.BattleModel();
    const int32_t count = shown.Battle->AnimCount();
    current = count > 0 ? std::to_string(std::clamp(session.BattleAnimation(), 0, count - 1) + 1)
                        : std::string();
  } else {
    shown.Field = session.FieldModel();
    current = shown.Field->AnimName;
  }
  return shown;
}

void TMainWindow::ExportGltf() {
  TModelRef model;
  std::string current;
  ShownForExport(model, current);
  const TArchiveKind kind = ArchiveKindForPath(Catalogue.ArchivePath);
  const bool battle = model.IsBattle();
  const bool filter = FilterAnims();
  std::unique_ptr<TLGPFile> archive = kind.Open();
  const TExportItem offered = ResolveExportItem(*archive, Catalogue, model, {}, filter);
  frmExport->Prepare(battle,
                     battle ? frmViewer->Session().BattleModel()->AnimCount()
                            : int32_t(offered.Anims.size()),
                     battle && !current.empty() ? "Animation " + current : current,
                     ArchiveFolder(kind) + "/" + offered.Name() + ".glb");
  if (frmExport->exec() != QDialog::Accepted) return;

  const std::string path = WithGltfExtension(frmExport->FileName());
  if (SameFile(path, kind.Path))
    throw Exception(Format("Cannot export over the archive \"%s\"", kind.Path));
  if (FileExists(path) && (path != frmExport->FileName() || !frmExport->ReplaceAsked()) &&
      !Dialogs().Confirm(Format("%s already exists.\nDo you want to replace it?", path)))
    return;
  // Taken again after the dialog: the shown model is exported as it is now, edits and all.
  const TShownModels shown = ShownForExport(model, current);
  const TExportItem item = frmExport->OnlyCurrent()
                               ? ResolveExportItem(*archive, Catalogue, model, {current}, filter)
                               : offered;
  TGltfOptions options;
  options.BindPose = frmExport->BindPose();
  {
    TWaitCursor wait;
    ExportItemToFile(*archive, item, options, path, shown);
  }
  StatusText("Exported " + FileName(QFileInfo(QFile::decodeName(path.c_str())).fileName()));
}

void TMainWindow::ExportAllModels() {
  if (Catalogue.Models.empty()) throw Exception("No archive open");
  const TArchiveKind kind = ArchiveKindForPath(Catalogue.ArchivePath);
  // The bind pose, chosen as in Export glTF, and kept for both.
  int pose = frmExport->BindPose() == TBindPose::FirstFrame ? 1 : 0;
  if (!Dialogs().ChooseItem("Export All Models", "Bind pose of every model:", BindPoseNames(),
                            pose))
    return;
  frmExport->SetBindPose(pose == 1 ? TBindPose::FirstFrame : TBindPose::Zero);
  TGltfOptions options;
  options.BindPose = frmExport->BindPose();
  std::string folder;
  if (!Dialogs().ChooseFolder(ArchiveFolder(kind), folder)) return;
  std::vector<TExportItem> items;
  {
    std::unique_ptr<TLGPFile> archive = kind.Open();
    items = ExportItemsOf(*archive, Catalogue, FilterAnims());
  }
  QProgressDialog progress("Exporting models...", "Cancel", 0, int(items.size()), this);
  progress.setWindowTitle("Export All Models");
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setAutoReset(false);
  progress.setAutoClose(false);
  progress.setValue(0);
  const int32_t jobs = std::max(1, QThread::idealThreadCount());
  const TExportAllProgress result =
      ExportAll(kind, items, folder, options, jobs, [&](const TExportAllProgress& now) {
        progress.setValue(now.Done);
        QApplication::processEvents();
        return !progress.wasCanceled();
      });
  progress.close();
  Dialogs().ShowMessage(ExportAllSummary(result, folder));
}

void TMainWindow::ImportAnimation() {
  TModelRef model;
  std::string current;
  const TShownModels shown = ShownForExport(model, current);
  const bool battle = shown.Battle != nullptr;
  if (current.empty())
    throw Exception(
        Format("%s has no animation to import into", battle ? model.Code() : model.Member));
  const std::string target = battle ? "Animation " + current : current;
  // The chooser starts in the folder a file was imported from last, else beside the
  // archive.
  std::string path = KeptFolder("ImportFolder");
  if (path.empty() || !DirectoryExists(path))
    path = ArchiveFolder(ArchiveKindForPath(Catalogue.ArchivePath)) + "/";
  if (!Dialogs().OpenFile("glTF files|*.glb;*.gltf|All files|*.*", "glb", path)) return;
  KeepFolder("ImportFolder",
             FileName(QFileInfo(QFile::decodeName(path.c_str())).absolutePath()) + "/");
  std::unique_ptr<TGltfAnimationFile> file;
  {
    TWaitCursor wait;
    file = std::make_unique<TGltfAnimationFile>(path);
  }
  const std::vector<std::string> names = file->AnimationNames();
  if (names.empty()) throw Exception(Format("no animations in %s", path));
  int chosen = 0;
  if (!Dialogs().ChooseItem("Import Animation", "Animation to import into " + target + ":", names,
                            chosen))
    return;
  // Taken again after the dialogs: the model on show is the one that takes the animation.
  const TShownModels now = ShownForExport(model, current);
  if (now.Field != shown.Field || now.Battle != shown.Battle || current.empty())
    throw Exception("No model selected");
  // Sampled at the rate the exporter writes frames, so that a file exported from this
  // program comes back frame for frame. Everything is made before the model takes it: a
  // failure leaves the model and its animation as they were.
  const int32_t fps = TGltfOptions().Fps;
  {
    TWaitCursor wait;
    if (battle) {
      // A step that Edit > Undo takes back, as the field animation's edits are.
      TBattleModel& shownBattle = *frmViewer->Session().BattleModel();
      const int32_t anim = std::stoi(current) - 1;
      FDocument.ReplaceBattleAnimation(anim,
                                       ImportBattleAnimation(shownBattle, anim, *file, chosen, fps),
                                       "Import " + QString::fromStdString(names[size_t(chosen)]));
      frmViewer->Session().ChooseBattleAnimation(anim);
    } else {
      // A step that Edit > Undo takes back, as any edit of the animation. The file's bind
      // pose may be frame 0 of any animation offered for the model.
      TFieldModel& shownField = *frmViewer->Session().FieldModel();
      std::unique_ptr<TLGPFile> archive = ArchiveKindForPath(Catalogue.ArchivePath).Open();
      FDocument.ReplaceAnimation(
          ImportFieldAnimation(shownField, shownField.AnimData.View(), *file, chosen, fps,
                               FieldAnimationsOf(*archive, Catalogue, model)),
          "Import " + QString::fromStdString(names[size_t(chosen)]),
          frmViewer->Session().Options.SelectedBone);
    }
  }
  frmViewer->AnimationReplaced();
  // Played over and over, not once as a Quick Animation under way would.
  frmViewer->Playback().PlayOver();
  aAnimation->setChecked(true);
  // The names may be longer than the status panel: cut in the middle, whole in the tip.
  const QString status =
      "Imported " + QString::fromStdString(names[size_t(chosen)]) + " into " + Text(target);
  pStatus->setText(pStatus->fontMetrics().elidedText(status, Qt::ElideMiddle, pStatus->width()));
  pStatus->setToolTip(status);
}

// What an import will write, as the question before it.
std::string ImportSummary(const TModelImport& plan, const std::string& model,
                          const std::string& file) {
  std::string text = Format("Put the mesh of %s on %s?\n\n", file, model);
  for (const TModelImportSummary::TBone& bone : plan.Summary.Bones)
    text += Format("%s: %d triangles, %d textures\n", Latin1ToUTF8(bone.Name), bone.Triangles,
                   bone.Textures);
  text += Format("\n%d triangles on %d bones; %d new textures.", plan.Summary.Triangles,
                 int64_t(plan.Summary.Bones.size()), plan.Summary.Textures);
  for (const std::string& warning : plan.Summary.Warnings) text += "\nWarning: " + warning;
  text += "\n\nThe model's parts in the archive are replaced (this cannot be undone).";
  return text;
}

void TMainWindow::ImportModel() {
  if (Catalogue.Models.empty()) throw Exception("No archive open");
  // The model on show, or the one chosen in the list.
  TModelRef model;
  std::string current;
  if (ShowsChosenModel()) {
    ShownForExport(model, current);
  } else {
    const int k = ChosenModel();
    if (k < 0) throw Exception("No model selected");
    model = Catalogue.Models[size_t(k)];
  }
  const std::string name = model.IsBattle() ? model.Code() : model.Member;
  std::string path;
  if (!Dialogs().OpenFile("glTF files|*.glb;*.gltf|All files|*.*", "glb", path)) return;
  TModelImport plan;
  {
    TWaitCursor wait;
    std::unique_ptr<TLGPFile> archive = ArchiveKindForPath(Catalogue.ArchivePath).Open();
    plan = PlanModelImport(*archive, Catalogue, model, path, false);
  }
  if (!Dialogs().Confirm(ImportSummary(plan, name, path))) return;
  // Edited animations are saved or let go first, as when another model is chosen.
  if (!ReleaseModel()) return;
  const std::string archivePath = Catalogue.ArchivePath;
  {
    TWaitCursor wait;
    ApplyModelImport(archivePath, plan);
  }
  // The archive's table changed: it is read again, and the model shown as written.
  OpenArchive(archivePath);
  ShowModel(name, current);
  StatusText(Format("Imported %s into %s",
                    FileName(QFileInfo(QFile::decodeName(path.c_str())).fileName()), name));
}

} // namespace palkor
