// The main window: its actions, menus, toolbars and status bar, the catalogue shown in
// the model lists, and the viewer. Settings are in MainWindowSettings.cpp, frame output in
// MainWindowRender.cpp, glTF in MainWindowExport.cpp.
#include "app/MainWindow.h"

#include "render/QtGuard.h"
#include "render/QtText.h"

#include "app/PosePanel.h"
#include "app/exportjobs.h"
#include "app/thumbnailjobs.h"
#include "archive/FolderArchive.h"
#include "platform/Convert.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/StringList.h"
#include "render/scene.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include <GL/gl.h>

#include <clocale>
#include <unistd.h>

namespace palkor {

namespace {

// The viewer's window in the work area: closing it only minimises it.
class TViewerSubWindow : public QMdiSubWindow {
public:
  using QMdiSubWindow::QMdiSubWindow;

protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    showMinimized();
  }
};

} // namespace

QIcon PalkorIcon() {
  QIcon icon;
  for (int size : {32, 64, 256}) icon.addFile(QString(":/palkor/palkor-%1.png").arg(size));
  return icon;
}

TProgressPanel::TProgressPanel(const TCatalogue& catalogue, QWidget* parent)
    : QWidget(parent), FCatalogue(&catalogue) {}

void TProgressPanel::paintEvent(QPaintEvent*) {
  if (FIdle) return;
  QPainter painter(this);
  int filled =
      TCatalogue::ProgressWidth(width(), FCatalogue->ProgressPosition, FCatalogue->ProgressTotal);
  painter.fillRect(0, 0, filled, height(), palette().highlight());
}

TMainWindow::TMainWindow(TPalkorPaths paths, QWidget* parent)
    : QMainWindow(parent), FPaths(std::move(paths)) {
  setWindowTitle("Quenmark: Palkor");
  QFont font("Verdana", 8);
  setFont(font);
  resize(640, 452);

  Workspace = new QMdiArea(this);
  Workspace->setObjectName("Workspace");
  setCentralWidget(Workspace);
  frmViewer = new TfrmViewer(*this);
  FPosePanel = new TPosePanel(*frmViewer, FDocument);
  // Edits, undone and done again: the picture, the frame slider and the pose panel
  // follow; the title's mark follows the document's modified state.
  ConnectGuarded(&FDocument, &TAnimationDocument::Changed, this, [this] {
    frmViewer->TexturesEdited();
    frmViewer->AnimationEdited();
    FPosePanel->ShowEdits();
  });
  connect(&FDocument, &TAnimationDocument::ModifiedChanged, this,
          [this](bool modified) { setWindowModified(modified); });
  frmRenderOptions = new TRenderOptionsDialog(this);
  frmExport = new TfrmExport(this);
  frmTex = new TTexturiserWindow(this);
  frmViewer->setObjectName("frmViewer");
  frmRenderOptions->setObjectName("frmRenderOptions");
  frmExport->setObjectName("frmExport");
  frmTex->setObjectName("frmTex");
  auto* sub = new TViewerSubWindow();
  sub->setObjectName("ViewerWindow");
  sub->setWidget(frmViewer);
  sub->setWindowTitle("Model viewer");
  // The one viewer is not closed: its frame has no close button (closing it any other way
  // only shrinks it), and it shows the program's icon rather than the toolkit's, as every
  // window of the program does.
  sub->setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                      Qt::WindowMinMaxButtonsHint);
  if (QApplication::windowIcon().isNull()) QApplication::setWindowIcon(PalkorIcon());
  sub->setWindowIcon(QApplication::windowIcon());
  Workspace->addSubWindow(sub);
  // The frame's close button is the system menu's: without that menu it is not drawn,
  // whatever the window manager (or none) does.
  sub->setWindowFlags(sub->windowFlags() & ~(Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint));
  sub->setSystemMenu(nullptr);
  sub->show();
  // The viewer fills the work area and follows it as the main window is resized.
  ViewerWindow = sub;
  Workspace->viewport()->installEventFilter(this);
  setAcceptDrops(true);

  std::string thumbnails = FPaths.Thumbnails;
  if (thumbnails.empty()) {
    const size_t slash = FPaths.Cache.rfind('/');
    thumbnails = (slash == std::string::npos ? std::string() : FPaths.Cache.substr(0, slash + 1)) +
                 "thumbnails";
  }
  dckModelBrowser = new TModelBrowser(thumbnails, this);
  addDockWidget(Qt::RightDockWidgetArea, dckModelBrowser);
  dckModelBrowser->hide();
  mnuModelBrowser = dckModelBrowser->toggleViewAction();
  mnuModelBrowser->setText("&Model Browser");
  mnuModelBrowser->setShortcut(QKeySequence("Ctrl+B"));
  mnuModelBrowser->setObjectName("mnuModelBrowser");
  mnuArchiveMembers = new QAction("&Archive Members", this);
  mnuArchiveMembers->setObjectName("mnuArchiveMembers");
  mnuArchiveMembers->setShortcut(QKeySequence("Ctrl+M"));
  ConnectGuarded(mnuArchiveMembers, &QAction::triggered, this, [this] { ShowArchiveWindow(); });
  ConnectGuarded(dckModelBrowser, &TModelBrowser::ModelChosen, this,
                 [this](int32_t k) { ChooseFromBrowser(k, false); });
  ConnectGuarded(dckModelBrowser, &TModelBrowser::ModelActivated, this,
                 [this](int32_t k) { ChooseFromBrowser(k, true); });

  CreateActions();
  CreateMenus();
  CreateToolbars();
  CreateStatusBar();
  UpdateCommands();
  SetTabOrder();

  Catalogue.ProgressPosition = 0;
  Catalogue.ProgressTotal = 1;
  LoadFilter();
  LoadToolbarLayout(tbPalkorModels, Qt::TopToolBarArea);
  LoadToolbarLayout(tbPalkorDisplayOpts, Qt::BottomToolBarArea);
  // A row of its own at first: beside the model lists it would not fit a window of the
  // first size, and would be hidden behind the toolbar's overflow button.
  LoadToolbarLayout(tbPalkorDetails, Qt::TopToolBarArea, 1);
  RestoreToolbarState();
  LoadSettings();
  FindGameFolder();
  std::setlocale(LC_NUMERIC, "C");
}

TMainWindow::~TMainWindow() {
  SaveOnExit();
}

void TMainWindow::CreateActions() {
  auto option = [&](const char* caption, const std::function<void(bool)>& handler) {
    auto* action = new QAction(caption, this);
    action->setCheckable(true);
    ConnectGuarded(action, &QAction::toggled, this, handler);
    return action;
  };
  aAnimation = option("&Animation", [this](bool on) { frmViewer->SetPlaying(on); });
  // The display switches are the viewer's options, applied on its next paint.
  auto viewSwitch = [&](const char* caption, bool TViewOptions::*field) {
    return option(caption, [this, field](bool on) {
      frmViewer->Session().Options.*field = on;
      frmViewer->update();
    });
  };
  aCrosshairs = viewSwitch("&Crosshairs", &TViewOptions::Crosshairs);
  aWireframe = viewSwitch("&Wireframe", &TViewOptions::Wireframe);
  aReflections = viewSwitch("&Reflections", &TViewOptions::Reflections);
  aBones = viewSwitch("&Bones", &TViewOptions::Bones);
  aBodies = viewSwitch("B&odies", &TViewOptions::Bodies);
  aLighting = viewSwitch("&Lighting", &TViewOptions::Lighting);
  aEditable = option("&Editable", [this](bool on) { frmViewer->SetEditable(on); });

  auto command = [&](const char* caption, const std::function<void()>& handler,
                     QKeySequence shortcut = {}) {
    auto* action = new QAction(caption, this);
    action->setShortcut(shortcut);
    ConnectGuarded(action, &QAction::triggered, this, handler);
    return action;
  };
  mnuOpenLGP = command(
      "&Open LGP...",
      [this] {
        std::string fileName = Catalogue.ArchivePath; // the dialog starts at the open archive
        if (Dialogs().OpenFile("FF7 Model Archives|CHAR.LGP;WORLD*.LGP;BATTLE.LGP|All FF7 "
                               "Archives|*.LGP|All files|*.*",
                               "lgp", fileName))
          OpenLGP(fileName);
      },
      QKeySequence::Open);
  mnuOpenFolder = command(
      "Open &Folder...",
      [this] {
        std::string folder;
        if (Dialogs().ChooseFolder(Catalogue.ArchivePath, folder)) OpenFolder(folder);
      },
      QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  mnuTexturiser = command("&Texturiser Tool...", [this] { frmTex->exec(); });
  mnuRenderAnimation = command("Re&nder Animation...", [this] { RenderAnimation(); });
  mnuExportGltf = command("Export &glTF...", [this] { ExportGltf(); });
  mnuExportAll = command("Export All &Models...", [this] { ExportAllModels(); });
  mnuImportAnimation = command("&Import Animation...", [this] { ImportAnimation(); });
  mnuImportModel = command("Import Mo&del...", [this] { ImportModel(); });
  mnuSaveChanges = command(
      "&Save changes", [this] { SaveChanges(); }, QKeySequence::Save);
  mnuExit = command(
      "E&xit", [this] { close(); }, QKeySequence::Quit);
  mnuSetBackground = command("Set Back&ground...", [this] { SetBackground(); });
  mnuHelpContents = command(
      "&Contents...", [this] { ShowHelpContents(); }, QKeySequence::HelpContents);
  mnuAbout = command("&About Palkor...", [this] { ShowAbout(); });

  // Pose edits, step by step.
  mnuUndo = FDocument.UndoStack().createUndoAction(this, "&Undo");
  mnuUndo->setShortcut(QKeySequence::Undo);
  mnuRedo = FDocument.UndoStack().createRedoAction(this, "&Redo");
  mnuRedo->setShortcut(QKeySequence::Redo);
  // Space plays and pauses wherever the focus is in the window, except in the search box,
  // which takes its text first. The arrows and Home are the viewer's own keys, named in
  // the menu: as shortcuts of the window they would take them from the lists.
  mnuPlay = command(
      "&Play/Pause", [this] { frmViewer->TogglePlay(); }, QKeySequence(Qt::Key_Space));
  mnuPlay->setShortcutContext(Qt::WindowShortcut);
  mnuPreviousFrame = command("Pre&vious Frame\tLeft", [this] { frmViewer->StepFrame(-1); });
  mnuNextFrame = command("&Next Frame\tRight", [this] { frmViewer->StepFrame(1); });
  mnuFirstFrame = command("&First Frame\tHome", [this] { frmViewer->FirstFrame(); });
  mnuWholeModel =
      command("Show the &Whole Model\tDouble-click", [this] { frmViewer->FrameWholeModel(); });
  // Each action named as its member, as the window's other widgets are.
  for (auto [action, name] : {std::pair<QAction*, const char*>{aAnimation, "aAnimation"},
                              {aCrosshairs, "aCrosshairs"},
                              {aWireframe, "aWireframe"},
                              {aReflections, "aReflections"},
                              {aBones, "aBones"},
                              {aBodies, "aBodies"},
                              {aLighting, "aLighting"},
                              {aEditable, "aEditable"},
                              {mnuOpenLGP, "mnuOpenLGP"},
                              {mnuOpenFolder, "mnuOpenFolder"},
                              {mnuTexturiser, "mnuTexturiser"},
                              {mnuRenderAnimation, "mnuRenderAnimation"},
                              {mnuExportGltf, "mnuExportGltf"},
                              {mnuExportAll, "mnuExportAll"},
                              {mnuImportAnimation, "mnuImportAnimation"},
                              {mnuImportModel, "mnuImportModel"},
                              {mnuSaveChanges, "mnuSaveChanges"},
                              {mnuExit, "mnuExit"},
                              {mnuSetBackground, "mnuSetBackground"},
                              {mnuAbout, "mnuAbout"},
                              {mnuHelpContents, "mnuHelpContents"},
                              {mnuUndo, "mnuUndo"},
                              {mnuRedo, "mnuRedo"},
                              {mnuPlay, "mnuPlay"},
                              {mnuPreviousFrame, "mnuPreviousFrame"},
                              {mnuNextFrame, "mnuNextFrame"},
                              {mnuFirstFrame, "mnuFirstFrame"},
                              {mnuWholeModel, "mnuWholeModel"}})
    action->setObjectName(name);
}

void TMainWindow::CreateMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction(mnuOpenLGP);
  file->addAction(mnuOpenFolder);
  mnuOpenRecent = file->addMenu("Open &Recent");
  mnuOpenRecent->setObjectName("mnuOpenRecent");
  connect(mnuOpenRecent, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
  FillRecentMenu();
  file->addSeparator();
  file->addAction(mnuTexturiser);
  file->addAction(mnuRenderAnimation);
  file->addAction(mnuExportGltf);
  file->addAction(mnuExportAll);
  file->addAction(mnuImportAnimation);
  file->addAction(mnuImportModel);
  file->addAction(mnuSaveChanges);
  file->addSeparator();
  file->addAction(mnuExit);
  QMenu* edit = menuBar()->addMenu("&Edit");
  edit->addAction(mnuUndo);
  edit->addAction(mnuRedo);
  QMenu* view = menuBar()->addMenu("&View");
  for (QAction* a : {mnuPlay, mnuPreviousFrame, mnuNextFrame, mnuFirstFrame, mnuWholeModel})
    view->addAction(a);
  view->addSeparator();
  view->addAction(mnuModelBrowser);
  view->addAction(mnuArchiveMembers);
  QMenu* options = menuBar()->addMenu("&Options");
  for (QAction* a :
       {aAnimation, aCrosshairs, aWireframe, aReflections, aBones, aBodies, aLighting, aEditable})
    options->addAction(a);
  options->addSeparator();
  QMenu* toolbars = options->addMenu("&Toolbars");
  mnuToolbarModels = toolbars->addAction("&Models/Anims");
  mnuToolbarDisplayOpts = toolbars->addAction("Display &Options");
  mnuToolbarDetails = toolbars->addAction("&Details");
  mnuToolbarModels->setObjectName("mnuToolbarModels");
  mnuToolbarDisplayOpts->setObjectName("mnuToolbarDisplayOpts");
  mnuToolbarDetails->setObjectName("mnuToolbarDetails");
  options->addAction(mnuSetBackground);
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction(mnuHelpContents);
  help->addAction(mnuAbout);
}

void TMainWindow::CreateToolbars() {
  tbPalkorModels = new QToolBar("Models/Animations", this);
  tbPalkorModels->setObjectName("tbPalkorModels");
  cmbModels = new QComboBox(tbPalkorModels);
  cmbModels->setObjectName("cmbModels");
  cmbModels->setFixedWidth(200);
  cmbModels->setToolTip("List of models in the current archive");
  cmbAnims = new QComboBox(tbPalkorModels);
  cmbAnims->setObjectName("cmbAnims");
  cmbAnims->setMinimumWidth(120);
  cmbAnims->setToolTip("List of animations applicable to this model");
  edFindModel = new QLineEdit(tbPalkorModels);
  edFindModel->setObjectName("edFindModel");
  edFindModel->setPlaceholderText("Find model");
  edFindModel->setClearButtonEnabled(true);
  edFindModel->setFixedWidth(110);
  edFindModel->setToolTip("Show only the models whose file or display name holds this text");
  tbPalkorModels->addWidget(edFindModel);
  tbPalkorModels->addWidget(cmbModels);
  tbPalkorModels->addWidget(cmbAnims);

  tbPalkorDisplayOpts = new QToolBar("Display Options", this);
  tbPalkorDisplayOpts->setObjectName("tbPalkorDisplayOpts");
  for (QAction* a :
       {aAnimation, aCrosshairs, aWireframe, aReflections, aBones, aBodies, aLighting, aEditable}) {
    const QString caption = QString(a->text()).remove('&');
    auto* box = new QCheckBox(caption, tbPalkorDisplayOpts);
    box->setObjectName("chk" + caption);
    // A click leaves the focus where it was, so that Space goes on playing and pausing.
    box->setFocusPolicy(Qt::TabFocus);
    connect(box, &QCheckBox::toggled, a, &QAction::setChecked);
    connect(a, &QAction::toggled, box, &QCheckBox::setChecked);
    tbPalkorDisplayOpts->addWidget(box);
  }

  tbPalkorDetails = new QToolBar("Model details", this);
  tbPalkorDetails->setObjectName("tbPalkorDetails");
  chkFilter = new QCheckBox("Filter anims", tbPalkorDetails);
  chkFilter->setObjectName("chkFilter");
  chkFilter->setToolTip("Display only anims associated with model");
  chkFilter->setFocusPolicy(Qt::TabFocus);
  cmbDetails = new QComboBox(tbPalkorDetails);
  cmbDetails->setObjectName("cmbDetails");
  cmbDetails->setMinimumWidth(150);
  cmbDetails->setToolTip("Details of current model");
  tbPalkorDetails->addWidget(chkFilter);
  tbPalkorDetails->addWidget(cmbDetails);

  for (QToolBar* toolbar : {tbPalkorModels, tbPalkorDisplayOpts, tbPalkorDetails}) {
    toolbar->setMovable(true);
    toolbar->setFloatable(true);
    toolbar->setAllowedAreas(Qt::AllToolBarAreas);
  }
  // The Toolbars menu's check marks follow the toolbars, however they were hidden.
  for (auto [item, toolbar] : {std::pair{mnuToolbarModels, tbPalkorModels},
                               {mnuToolbarDisplayOpts, tbPalkorDisplayOpts},
                               {mnuToolbarDetails, tbPalkorDetails}}) {
    item->setCheckable(true);
    item->setChecked(true);
    connect(item, &QAction::triggered, toolbar, &QToolBar::setVisible);
    connect(toolbar, &QToolBar::visibilityChanged, item, &QAction::setChecked);
  }

  ConnectGuarded(cmbModels, &QComboBox::currentIndexChanged, this, [this](int row) {
    dckModelBrowser->Choose(ChosenModel());
    ModelChosen(row);
    UpdateCommands();
  });
  ConnectGuarded(cmbAnims, &QComboBox::currentIndexChanged, this, [this] { AnimationChosen(); });
  // Choosing the animation already chosen shows it too, when the viewer no longer does
  // (after Save changes let the model go).
  ConnectGuarded(cmbAnims, &QComboBox::activated, this, [this] {
    const TViewerSession& session = frmViewer->Session();
    const bool shown =
        ShowsChosenModel() &&
        ((session.FieldModel() &&
          SameTextASCII(session.FieldModel()->AnimName, Bytes(cmbAnims->currentText()))) ||
         (session.BattleModel() && session.BattleAnimation() == cmbAnims->currentIndex()));
    if (!shown) AnimationChosen();
  });
  ConnectGuarded(edFindModel, &QLineEdit::textChanged, this, [this] { FillModelList(); });
  // The browser's pictures pose each model by its first offered animation.
  ConnectGuarded(chkFilter, &QCheckBox::toggled, this, [this] {
    BrowseCatalogue();
    FillModelList();
    FilterSwitched();
  });
  ConnectGuarded(cmbDetails, &QComboBox::currentIndexChanged, this, [this] { AnimationChosen(); });
}

void TMainWindow::CreateStatusBar() {
  pStatus = new QLabel(this);
  pStatus->setObjectName("pStatus");
  pStatus->setFixedWidth(200);
  pStatus->setAlignment(Qt::AlignCenter);
  pProgress = new TProgressPanel(Catalogue, this);
  pProgress->setObjectName("pProgress");
  pEmpty = new QLabel(this);
  pEmpty->setObjectName("pEmpty");
  pEmpty->setFixedWidth(50);
  statusBar()->addWidget(pStatus);
  statusBar()->addWidget(pProgress);
  statusBar()->addWidget(pEmpty);
  statusBar()->installEventFilter(this);
}

void TMainWindow::SetTabOrder() {
  // The lists of the top toolbars, the viewer with its trackbars and side panels, then
  // the display switches of the bottom toolbar: Tab follows the window as it is laid out.
  std::vector<QWidget*> order{edFindModel, cmbModels, cmbAnims, chkFilter, cmbDetails, frmViewer};
  QWidget* next = frmViewer->nextInFocusChain();
  for (int guard = 0; next != frmViewer && guard < 10000; ++guard, next = next->nextInFocusChain())
    if (frmViewer->isAncestorOf(next) && (next->focusPolicy() & Qt::TabFocus))
      order.push_back(next);
  for (QAction* a :
       {aAnimation, aCrosshairs, aWireframe, aReflections, aBones, aBodies, aLighting, aEditable})
    order.push_back(
        tbPalkorDisplayOpts->findChild<QCheckBox*>("chk" + QString(a->text()).remove('&')));
  for (size_t i = 1; i < order.size(); ++i)
    if (order[i - 1] && order[i]) setTabOrder(order[i - 1], order[i]);
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Workspace->viewport() && event->type() == QEvent::Resize &&
      !ViewerWindow->isMinimized() && !ViewerWindow->isMaximized())
    ViewerWindow->setGeometry(Workspace->viewport()->rect());
  // The progress panel takes what the status bar's width leaves.
  if (watched == statusBar() && event->type() == QEvent::Resize)
    pProgress->setFixedWidth(std::max(0, statusBar()->width() - pStatus->width() - 75));
  return QMainWindow::eventFilter(watched, event);
}

// The game's field data folder (AppPath followed by "data\field") becomes the current
// folder, where File > Open starts. Without it, or when it is not there, the start
// folder stays.
void TMainWindow::FindGameFolder() {
  std::string appPath = ReadGameAppPath();
  if (appPath.empty()) return;
  std::string folder = WindowsPathToLocal(appPath + "data\\field", WinePrefix());
  if (!folder.empty() && DirectoryExists(folder)) (void)::chdir(folder.c_str());
}

void TMainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!FShown) {
    FShown = true;
    Guarded([this] { FirstShow(); });
  }
}

void TMainWindow::FirstShow() {
  // Centred at the first run; afterwards where it was left.
  if (FCentre && !isMaximized() && !isMinimized()) {
    QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    move(screen.center() - rect().center());
  }
  if (!FileExists(FPaths.Cache)) return;
  StatusText("Loading cache...");
  try {
    Catalogue.LoadCatalogueCache(FPaths.Cache);
  } catch (...) {
    LoadFilter();
    BrowseCatalogue();
    FillModelList();
    throw;
  }
  LoadFilter();
  BrowseCatalogue();
  FillModelList();
  UpdateTitle();
  StatusText("Complete!");
}

void TMainWindow::closeEvent(QCloseEvent* event) {
  // Edits are not lost without the user saying so: Cancel, or a save that fails, keeps
  // the program running.
  bool released = false;
  Guarded([&] { released = ReleaseModel(); });
  if (!released) {
    event->ignore();
    return;
  }
  SaveOnExit();
  QMainWindow::closeEvent(event);
}

void TMainWindow::SaveOnExit() {
  if (FSaved) return;
  FSaved = true;
  Guarded([this] {
    for (QToolBar* toolbar : {tbPalkorModels, tbPalkorDisplayOpts, tbPalkorDetails})
      SaveToolbarLayout(toolbar);
    SaveSettings();
    Catalogue.SaveCatalogueCache(FPaths.Cache);
  });
}

void TMainWindow::StatusText(const std::string& text) {
  // Too long for the panel (a path, mostly): cut in the middle, whole in the tip.
  const QString whole = Text(text);
  const QString shown =
      pStatus->fontMetrics().elidedText(whole, Qt::ElideMiddle, pStatus->width() - 4);
  pStatus->setText(shown);
  pStatus->setToolTip(shown == whole ? QString() : whole);
  pStatus->repaint();
}

void TMainWindow::ModelListUpdating(bool updating) {
  cmbModels->setUpdatesEnabled(!updating);
}

void TMainWindow::FillModelList() {
  // The model kept chosen, when the search still shows it; nothing is loaded again.
  const int chosen = ChosenModel();
  QSignalBlocker block(cmbModels);
  cmbModels->clear();
  const QString find = edFindModel->text().trimmed();
  std::vector<int32_t> shown;
  for (const TModelRef& model : Catalogue.Models) {
    const QString item = Text(model.DisplayText());
    bool found = find.isEmpty() || item.contains(find, Qt::CaseInsensitive);
    if (!found)
      for (const std::string& name : Catalogue.NamesFor(model.Index))
        found = found || Text(name).contains(find, Qt::CaseInsensitive);
    // The item's data is the model's place in the catalogue.
    if (found) {
      cmbModels->addItem(item, int(model.Index));
      shown.push_back(model.Index);
    }
  }
  // A search that finds nothing says so in the list it emptied. Set before the row is:
  // taking the text away chooses the first row.
  cmbModels->setPlaceholderText(
      shown.empty() && !find.isEmpty() ? QString("No model matches \"%1\"").arg(find) : QString());
  cmbModels->setCurrentIndex(RowOfModel(chosen));
  dckModelBrowser->ShowModels(shown);
  dckModelBrowser->Choose(ChosenModel());
  UpdateCommands();
}

void TMainWindow::BrowseCatalogue() {
  std::vector<TBrowserModel> models;
  for (const TModelRef& model : Catalogue.Models) {
    TBrowserModel shown;
    shown.Model = model;
    TThumbnailItem item;
    item.Model = model;
    if (!model.IsBattle()) {
      // The thumbnail's pose: the first animation offered, not the thousands after it.
      const std::vector<std::string> anims =
          Catalogue.AnimationsFor(model.Index, chkFilter->isChecked(), 1);
      if (!anims.empty()) shown.Anim = anims.front();
      item.Names = Catalogue.NamesFor(model.Index);
    }
    shown.Label = model.Member + "\n" + item.DisplayName();
    models.push_back(std::move(shown));
  }
  TArchiveKind kind = ArchiveKindForPath(Catalogue.ArchivePath);
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(kind.Path, error);
  if (!error) kind.Path = absolute.string();
  dckModelBrowser->SetArchive(kind, std::move(models));
}

void TMainWindow::ChooseFromBrowser(int k, bool show) {
  const int row = RowOfModel(k);
  if (row < 0) return;
  if (cmbModels->currentIndex() != row) cmbModels->setCurrentIndex(row);
  // A battle model is shown once chosen; a field model with its first animation.
  if (show && cmbModels->currentIndex() == row && !ShowsChosenModel() && cmbAnims->count() > 0)
    ChooseListedAnimation(0);
}

int TMainWindow::RowOfModel(int k) const {
  return k < 0 ? -1 : cmbModels->findData(k);
}

int TMainWindow::ChosenModel() const {
  const int row = cmbModels->currentIndex();
  return row < 0 ? -1 : cmbModels->itemData(row).toInt();
}

const TModelRef* TMainWindow::ChosenModelRef() const {
  const int k = ChosenModel();
  return k >= 0 && size_t(k) < Catalogue.Models.size() ? &Catalogue.Models[size_t(k)] : nullptr;
}

void TMainWindow::ModelChosen(int row) {
  QSignalBlocker blockAnims(cmbAnims), blockDetails(cmbDetails);
  const int index = row < 0 ? -1 : cmbModels->itemData(row).toInt();
  if (index < 0 || size_t(index) >= Catalogue.Models.size()) {
    cmbAnims->clear();
    return;
  }
  // The model on show goes first, its unsaved edits asked about: Cancel keeps it, and the
  // list goes back to it.
  if (!ReleaseModel()) {
    QSignalBlocker blockModels(cmbModels);
    cmbModels->setCurrentIndex(RowOfModel(FShownModelIndex));
    return;
  }
  const TModelRef& model = Catalogue.Models[size_t(index)];
  FShownModelIndex = index;
  cmbAnims->clear();
  cmbDetails->clear();
  const TArchiveKind kind = ArchiveKindForPath(Catalogue.ArchivePath);
  if (model.IsBattle()) {
    frmViewer->LoadBattleModel(*kind.Class, kind.Path, model);
    for (int32_t a = 0; a < frmViewer->Session().BattleModel()->AnimCount(); ++a)
      cmbAnims->addItem(QString("Animation %1").arg(a + 1));
    // Shown at once, playing its first animation, which the list names.
    cmbAnims->setCurrentIndex(cmbAnims->count() > 0 ? 0 : -1);
    frmViewer->SelectBattleAnimation(0);
    cmbDetails->addItem(Text(model.DisplayText()));
    cmbDetails->addItem(
        QString("Total # Polygons: %1").arg(frmViewer->Session().BattleModel()->PolyTotal));
    cmbDetails->setCurrentIndex(-1);
    return;
  }
  for (const std::string& name : Catalogue.AnimationsFor(index, FilterAnims()))
    cmbAnims->addItem(Text(name));
  for (const std::string& line : Catalogue.DetailsFor(index)) cmbDetails->addItem(Text(line));
  cmbDetails->setCurrentIndex(-1);
  // Shown at once with its first offered animation (without one when none is offered).
  cmbAnims->setCurrentIndex(cmbAnims->count() > 0 ? 0 : -1);
  frmViewer->LoadModel(*kind.Class, kind.Path, model,
                       cmbAnims->count() > 0 ? Bytes(cmbAnims->itemText(0)) : std::string());
}

bool TMainWindow::AnimationChosen() {
  int model = ChosenModel(), anim = cmbAnims->currentIndex();
  if (model < 0 || anim < 0) return true;
  if (size_t(model) >= Catalogue.Models.size()) return true;
  const TModelRef& chosen = Catalogue.Models[size_t(model)];
  if (!frmViewer->Session().BattleModel() && chosen.IsBattle()) {
    // The battle model was let go (Save changes): it comes back from the archive.
    if (!LoadBattleModel(chosen)) return false;
    FShownModelIndex = model;
  }
  if (frmViewer->Session().BattleModel()) {
    frmViewer->SelectBattleAnimation(anim);
    return true;
  }
  if (LoadFieldModel(chosen, Bytes(cmbAnims->itemText(anim)))) return true;
  // Kept: the list shows the animation still loaded, if it is in it.
  QSignalBlocker block(cmbAnims);
  cmbAnims->setCurrentIndex(
      frmViewer->Session().FieldModel()
          ? cmbAnims->findText(Text(frmViewer->Session().FieldModel()->AnimName))
          : -1);
  return false;
}

bool TMainWindow::OfferToSave() {
  if (!FDocument.Modified()) return true;
  switch (Dialogs().Ask("Model animations have changed! Update LGP?", true)) {
  case TDialogs::TAnswer::Cancel:
    return false;
  case TDialogs::TAnswer::Yes:
    SaveAnimations();
    break;
  case TDialogs::TAnswer::No:
    break;
  }
  return true;
}

void TMainWindow::SaveAnimations() {
  const TViewerSession& session = frmViewer->Session();
  if (TFieldModel* field = session.FieldModel()) {
    FDocument.SaveTextures(*session.Archive().Open());
    field->SaveAnimation();
    TCatalogue::ArchiveWritten(FPaths.Cache, field->LGPFileName);
    StatusText(Format("Saved %s into %s", field->AnimName, field->LGPFileName));
  } else if (TBattleModel* battle = session.BattleModel()) {
    battle->SaveAnimations();
    TCatalogue::ArchiveWritten(FPaths.Cache, battle->LGPFileName);
    StatusText(Format("Saved the animations of %s into %s", battle->Code, battle->LGPFileName));
  }
  FDocument.MarkSaved();
}

bool TMainWindow::ReleaseModel() {
  if (!frmViewer->Session().HasModel()) return true;
  if (!OfferToSave()) return false;
  frmViewer->ClearModel();
  return true;
}

void TMainWindow::SaveChanges() {
  if (!FDocument.Modified()) {
    StatusText("No changes to save");
    return;
  }
  SaveAnimations();
}

// The previous model goes first, so that an animation it saves is read back as saved.
bool TMainWindow::LoadFieldModel(const TModelRef& model, const std::string& animName) {
  if (!ReleaseModel()) return false;
  const TArchiveKind kind = ArchiveKindForPath(Catalogue.ArchivePath);
  frmViewer->LoadModel(*kind.Class, kind.Path, model, animName);
  return true;
}

bool TMainWindow::LoadBattleModel(const TModelRef& model) {
  if (!ReleaseModel()) return false;
  const TArchiveKind kind = ArchiveKindForPath(Catalogue.ArchivePath);
  frmViewer->LoadBattleModel(*kind.Class, kind.Path, model);
  return true;
}

void TMainWindow::ModelChanged() {
  const TViewerSession& session = frmViewer->Session();
  FDocument.Attach(session.FieldModel(), session.BattleModel());
  FPosePanel->ModelChanged();
  UpdateCommands();
}

void TMainWindow::UpdateCommands() {
  const TViewerSession& session = frmViewer->Session();
  const bool chosenShown = ShowsChosenModel();
  const bool animated = session.FieldModel()    ? !session.FieldModel()->AnimName.empty()
                        : session.BattleModel() ? session.BattleModel()->AnimCount() > 0
                                                : false;
  mnuRenderAnimation->setEnabled(session.HasModel());
  mnuExportGltf->setEnabled(chosenShown);
  mnuExportAll->setEnabled(!Catalogue.Models.empty());
  mnuImportAnimation->setEnabled(chosenShown && animated);
}

void TMainWindow::FieldModelLoaded(bool showBones, bool showBodies) {
  aBones->setChecked(showBones);
  aBodies->setChecked(showBodies);
}

std::vector<std::string> TMainWindow::ListedAnimations() const {
  std::vector<std::string> names;
  for (int a = 0; a < cmbAnims->count(); ++a) names.push_back(Bytes(cmbAnims->itemText(a)));
  return names;
}

bool TMainWindow::ChooseListedAnimation(int row) {
  {
    QSignalBlocker block(cmbAnims);
    cmbAnims->setCurrentIndex(row);
  }
  return AnimationChosen();
}

void TMainWindow::SetBackground() {
  uint32_t colour = frmViewer->Session().Options.BackColour;
  if (!Dialogs().ChooseColour(colour)) return;
  frmViewer->Session().Options.BackColour = colour & 0xFFFFFF;
  frmViewer->update();
}

} // namespace palkor
