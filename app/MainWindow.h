#pragma once

#include "app/AnimationDocument.h"
#include "app/ArchiveWindow.h"
#include "app/ModelBrowser.h"
#include "app/RenderOptionsDialog.h"
#include "app/catalogue.h"
#include "app/exportdialog.h"
#include "render/viewerform.h"
#include "texturiser/TexturiserWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QToolBar>

#include <functional>
#include <string>

namespace palkor {

// Where the main window keeps what lasts between runs.
struct TPalkorPaths {
  std::string Settings; // "quenmark.ini"
  std::string Filter;   // "palkor.filter" for an archive without one beside it
  std::string Cache;    // "palkor.cache"
  // The thumbnail cache's folder; empty: "thumbnails" beside the catalogue cache.
  std::string Thumbnails;
  // The settings in the user's configuration folder, the cache in the user's cache
  // folder; the filter file in the configuration folder when there is one there, else
  // beside the program (as the program's path with the extension ".filter").
  static TPalkorPaths Default();
};

// The status bar's progress panel: filled from the left as far as the analysis has got.
class TPosePanel;

class TProgressPanel : public QWidget {
  Q_OBJECT
public:
  explicit TProgressPanel(const TCatalogue& catalogue, QWidget* parent = nullptr);
  // The catalogue whose analysis the panel shows, from now on.
  void Follow(const TCatalogue& catalogue) {
    FCatalogue = &catalogue;
    FIdle = false;
  }
  // The analysis is over: the panel empties.
  void Finish() {
    FIdle = true;
    update();
  }

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  const TCatalogue* FCatalogue;
  bool FIdle = true;
};

// The program's icon, made into it: every window shows it.
QIcon PalkorIcon();

// The main window: menus, the three toolbars, the status bar, the eight display
// switches, the settings file, the catalogue and the one model viewer.
class TMainWindow : public QMainWindow,
                    public TViewerHost,
                    public TCatalogueListener,
                    public TArchiveHost {
  Q_OBJECT
public:
  explicit TMainWindow(TPalkorPaths paths = TPalkorPaths::Default(), QWidget* parent = nullptr);
  ~TMainWindow() override;

  // File > "&Open LGP..." and "Open &Folder..." with the answer already known. The
  // archive is analysed whole before it replaces the one listed: a failure leaves the
  // archive listed, and the model on show, as they were.
  void OpenLGP(const std::string& fileName);
  void OpenFolder(const std::string& folder);
  // Opens an archive file or folder as File > Open would (the command line, a file
  // dropped on the window, File > Open Recent); failures are shown.
  void OpenArchive(const std::string& path);
  // Chooses MODEL (an HRC name or a battle code, any letter case) in the model list and,
  // when given, its animation ANIM (an A member name, or a battle animation's number
  // from 1), and plays it: the command line's MODEL and ANIM. Failures are shown.
  void ShowModel(const std::string& model, const std::string& anim);
  // The catalogue index of the model chosen in the list (which a search may narrow), or
  // -1.
  int ChosenModel() const;
  // The archives and folders opened last, the newest first (at most 8).
  QStringList RecentArchives() const;
  // Writes the toolbar layout, the settings and the catalogue cache (once, at exit).
  void SaveOnExit();

  // TViewerHost
  void PlayingChanged(bool playing) override { aAnimation->setChecked(playing); }
  void FieldModelLoaded(bool showBones, bool showBodies) override;
  void ModelChanged() override;

  // TCatalogueListener
  void StatusText(const std::string& text) override;
  int32_t ProgressPanelWidth() const override { return pProgress->width(); }
  void RepaintProgress() override { pProgress->repaint(); }
  void ModelListUpdating(bool updating) override;

  // TArchiveHost
  bool ArchiveChanging() override;
  void ArchiveChanged() override;
  // View > Archive Members: the Archive window, on the open archive.
  void ShowArchiveWindow();

  // The viewer's background colour, 0x00BBGGRR: Options > Set Background, kept in the
  // settings.
  uint32_t BackColour() const { return frmViewer->Session().Options.BackColour; }

  TCatalogue Catalogue;
  // The animations of the model on show and their edits.
  TAnimationDocument& Document() { return FDocument; }
  // Offers to save edited animations ("Model animations have changed! Update LGP?") and
  // lets the model on show go, field or battle: Yes saves, No discards. Cancel keeps the
  // model and its edits and returns false. If saving fails the model stays and the error
  // goes on. Leaving a model: another model, another archive, the end of the program.
  bool ReleaseModel();
  // File > Save changes: the edited animations written into the archive without a
  // question; the model stays on show, now unmodified. If saving fails the edits stay
  // and the error goes on.
  void SaveChanges();
  // File > Render Animation; showDialog false takes the dialog's settings as they are.
  void RenderAnimation(bool showDialog = true);
  // File > Export glTF: the model on show, as shown, into one file.
  void ExportGltf();
  // File > Export All Models: every model of the catalogue into a folder.
  void ExportAllModels();
  // File > Import Animation: one animation of a glTF file, chosen from its list, in
  // place of the current animation of the model on show, in memory until saved.
  void ImportAnimation();
  // File > Import Model: the skinned mesh of a glTF file on the skeleton of the model on
  // show (or chosen in the list), told and asked about first, written into the archive
  // through one rebuild, then shown from the archive as written. Nothing to undo: the
  // question comes first.
  void ImportModel();

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  // The window's widgets: tests find them by their object names, which are these names.
  TfrmViewer* frmViewer;
  TRenderOptionsDialog* frmRenderOptions;
  TfrmExport* frmExport;
  TTexturiserWindow* frmTex;
  QMdiArea* Workspace;
  QMdiSubWindow* ViewerWindow;
  QAction *aAnimation, *aCrosshairs, *aWireframe, *aReflections, *aBones, *aBodies, *aLighting,
      *aEditable;
  QAction *mnuOpenLGP, *mnuOpenFolder, *mnuTexturiser, *mnuRenderAnimation, *mnuExportGltf,
      *mnuExportAll, *mnuImportAnimation, *mnuImportModel, *mnuSaveChanges, *mnuExit,
      *mnuSetBackground, *mnuAbout, *mnuHelpContents, *mnuUndo, *mnuRedo, *mnuPlay,
      *mnuPreviousFrame, *mnuNextFrame, *mnuFirstFrame, *mnuWholeModel;
  QMenu* mnuOpenRecent;
  QAction *mnuToolbarModels, *mnuToolbarDisplayOpts, *mnuToolbarDetails;
  QToolBar *tbPalkorModels, *tbPalkorDisplayOpts, *tbPalkorDetails;
  QComboBox *cmbModels, *cmbAnims, *cmbDetails;
  // Narrows the model list to the models whose file or display name holds its text.
  QLineEdit* edFindModel;
  QCheckBox* chkFilter;
  QLabel *pStatus, *pEmpty;
  TProgressPanel* pProgress;
  // View > Model Browser (its toggle action: mnuModelBrowser).
  TModelBrowser* dckModelBrowser;
  QAction* mnuModelBrowser;
  // View > Archive Members (mnuArchiveMembers): made when first asked for.
  TArchiveWindow* frmArchive = nullptr;
  QAction* mnuArchiveMembers;
  // The model and animation on show before the Archive window changed the archive,
  // shown again afterwards when they are still there.
  std::string FModelBeforeChange, FAnimBeforeChange;

  void CreateActions();
  void CreateMenus();
  void CreateToolbars();
  void CreateStatusBar();
  void SetTabOrder();
  void LoadSettings();
  void SaveSettings();
  void LoadToolbarLayout(QToolBar* toolbar, Qt::ToolBarArea defaultArea, int defaultRow = 0);
  void SaveToolbarLayout(QToolBar* toolbar);
  // The toolbars' rows, order, floating state and positions as they were left.
  void RestoreToolbarState();
  // A folder a file chooser starts at next time, kept in the settings under key
  // ("ImportFolder": File > Import Animation's); "" when none was kept.
  std::string KeptFolder(const char* key) const;
  void KeepFolder(const char* key, const std::string& folder);
  void AddRecentArchive(const std::string& path);
  void ForgetRecentArchive(const std::string& path);
  void FillRecentMenu();
  void OpenCatalogue(const std::string& path, bool folder);
  // Asks about unsaved edits of the model on show, saving them on Yes; false on Cancel.
  bool OfferToSave();
  // Writes the edited animations of the model on show into its archive.
  void SaveAnimations();
  void UpdateTitle();
  // The commands that need an archive, a model on show or an animation enabled just when
  // there is one: Render Animation, Export glTF, Export All Models, Import Animation.
  void UpdateCommands();
  // The filter file of the open archive: "palkor.filter" beside it (in a folder opened
  // as an archive, or beside that folder), else the one of FPaths; none when neither is
  // there.
  void LoadFilter();
  // "Filter anims" is ticked and a filter file was found.
  bool FilterAnims() const { return chkFilter->isChecked() && !FFilterFile.empty(); }
  // "Filter anims" switched: the animation list of the model chosen offered afresh.
  void FilterSwitched();
  void ShowHelpContents();
  void FindGameFolder();
  void FirstShow();
  void FillModelList();
  // The browser shows the catalogue's models, of the archive listed.
  void BrowseCatalogue();
  // The model at catalogue place k chosen in the list, as a user would; with show, its
  // first animation shown too.
  void ChooseFromBrowser(int k, bool show);
  // The list row of catalogue model k, or -1 when a search hides it.
  int RowOfModel(int k) const;
  void ModelChosen(int index);
  // False when the user kept an edited model instead.
  bool AnimationChosen();
  // The model on show let go (its edits asked about), then the field model with animName,
  // or the battle model, loaded from the open archive. False, and nothing changed, when
  // the user keeps an edited model instead.
  bool LoadFieldModel(const TModelRef& model, const std::string& animName);
  bool LoadBattleModel(const TModelRef& model);
  // The animation list's entries, in order.
  std::vector<std::string> ListedAnimations() const;
  // Chooses entry row of the animation list and shows it, as a user would; false when the
  // user kept an edited model instead.
  bool ChooseListedAnimation(int row);
  void SetBackground();
  void ShowAbout();
  // The catalogue's model chosen in the list, or none.
  const TModelRef* ChosenModelRef() const;
  // The viewer shows the model chosen in the list, read from the archive listed.
  bool ShowsChosenModel() const;
  // The model on show for export, the viewer's reference to it and its current animation
  // (A member name or 1-based number; "" for none). "No model selected" unless the
  // viewer shows the model chosen in the list.
  TShownModels ShownForExport(TModelRef& model, std::string& current) const;

  TPalkorPaths FPaths;
  std::string FFilterFile;   // the filter file loaded, or "" for none
  std::string FRenderFolder; // the folder Render Animation wrote into last
  TAnimationDocument FDocument;
  TPosePanel* FPosePanel = nullptr;
  bool FShown = false;
  bool FCentre = true;       // no place kept from a run before: centred when first shown
  int FShownModelIndex = -1; // the model list entry whose animations are listed
  bool FSaved = false;
};

} // namespace palkor
