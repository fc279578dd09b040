#include "texturiser/TexturiserWindow.h"

#include "render/QtGuard.h"
#include "render/QtText.h"

#include "field/RSD.h"
#include "field/tex.h"
#include "field/texquantise.h"
#include "geometry/Conventions.h"
#include "platform/Convert.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/StringList.h"
#include "render/modeldraw.h"
#include "render/scene.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace palkor {

namespace {

QSlider* Trackbar(const char* name, int maximum, int position, int tick, QWidget* parent) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setObjectName(name);
  slider->setRange(0, maximum);
  slider->setValue(position);
  slider->setTickInterval(tick);
  slider->setTickPosition(QSlider::TicksBelow);
  return slider;
}

// The folder of path, ending with "/", or "" for a bare name.
std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The Texturiser's rules for an RSD the user chose: NTEX must be an integer, and each
// texture is the file beside the RSD with its name's extension changed to TEX.
constexpr TRSDRules FileResource{TRSDCount::Strict, TRSDTextureNames::FileWithTEXExtension};

// The file at folder + name, or one whose name differs only in letter case: names in RSD
// files are written for a system that ignores case.
std::string FindInFolder(const std::string& folder, const std::string& name) {
  if (FileExists(folder + name)) return folder + name;
  for (const TFolderFile& file : ListFolderFiles(folder.empty() ? "." : folder))
    if (SameTextASCII(file.Name, name)) return folder + file.Name;
  return folder + name;
}

// A part is made around its bone, which runs along the part's +Z. The Texturiser shows
// it on a bone pointing up, as a standing model carries its spine and head: the part's
// +Z up and its -Y towards the eye, so that a chest or a face reads the right way up.
const TMatrix4 StandUp = FieldBoneTurn({-90, 0, 0});

// The share of the view's height (or width, where that is shorter) the part fills when
// framed.
constexpr double FrameFill = 0.9;

// The text of a texture coordinate that reads back as the same float.
std::string CoordText(float value) {
  char text[32];
  auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::string("0.0");
}

// The float of a typed coordinate: "'%s' is not a valid floating point value", or too
// large for the file's single precision.
float CoordValue(const std::string& text) {
  float value = float(StrToFloat(text));
  if (!std::isfinite(value))
    throw Exception(Format("'%s' is too large for a texture coordinate", text));
  return value;
}

std::string Plural(int64_t count, const char* one, const char* many) {
  return Format("%d %s", count, count == 1 ? one : many);
}

} // namespace

TTexView::TTexView(TTexturiserWindow& owner, QWidget* parent)
    : TCGForm(TSurfaceRequest(), parent), FOwner(owner) {}

void TTexView::initializeGL() {
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_DITHER);
  glShadeModel(GL_SMOOTH);
  glDisable(GL_LIGHTING);
}

void TTexView::resizeGL(int width, int height) {
  glViewport(0, 0, int(width * devicePixelRatio()), int(height * devicePixelRatio()));
}

void TTexView::paintGL() {
  FOwner.Paint();
}

TTexturiserWindow::TTexturiserWindow(QWidget* parent)
    : QDialog(parent), FDocument(new TPFileDocument(this)) {
  setWindowTitle("Texturiser");
  setModal(true);

  auto button = [this](const char* caption, const char* name) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    return button;
  };
  bOpenP = button("Open P", "bOpenP");
  bSaveP = button("Save P", "bSaveP");
  bAddTexData = button("Add Tex Data", "bAddTexData");
  bLoadRSD = button("Load RSD", "bLoadRSD");
  bLoadImage = button("Load Image...", "bLoadImage");
  lbGroups = new QListWidget(this);
  lbGroups->setObjectName("lbGroups");
  lbVerts = new QListWidget(this);
  lbVerts->setObjectName("lbVerts");
  chkWire = new QCheckBox("Wireframe", this);
  chkWire->setObjectName("chkWire");
  TrkX = Trackbar("TrkX", 360, 0, 15, this);
  TrkY = Trackbar("TrkY", 360, 0, 15, this);
  TrkZ = Trackbar("TrkZ", 360, 0, 15, this);
  trkZoom = Trackbar("trkZoom", 150, 30, 5, this);
  View = new TTexView(*this, this);
  View->setObjectName("View");
  View->setMinimumSize(320, 240);

  auto* left = new QVBoxLayout();
  for (QPushButton* button : {bOpenP, bSaveP, bAddTexData}) left->addWidget(button);
  left->addWidget(lbGroups, 1);
  left->addWidget(bLoadRSD);
  left->addWidget(bLoadImage);
  auto* controls = new QGridLayout();
  int column = 0;
  for (auto [caption, slider] :
       {std::pair{"Rotate X", TrkX}, {"Rotate Y", TrkY}, {"Rotate Z", TrkZ}, {"Zoom", trkZoom}}) {
    controls->addWidget(new QLabel(caption, this), 0, column);
    controls->addWidget(slider, 1, column++);
  }
  auto* middle = new QVBoxLayout();
  middle->addLayout(controls);
  middle->addWidget(View, 1);
  auto* right = new QVBoxLayout();
  right->addWidget(lbVerts, 1);
  right->addWidget(chkWire);
  lblStatus = new QLabel(this);
  lblStatus->setObjectName("lblStatus");
  auto* panes = new QHBoxLayout();
  panes->addLayout(left);
  panes->addLayout(middle, 1);
  panes->addLayout(right);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(panes, 1);
  layout->addWidget(lblStatus);
  lbGroups->setMaximumWidth(120);
  lbVerts->setMaximumWidth(150);

  // Edit: the document's steps. The actions belong to the window too, so that their keys
  // work wherever the focus is in it.
  auto* menus = new QMenuBar(this);
  QMenu* edit = menus->addMenu("&Edit");
  edit->setObjectName("menuEdit");
  mUndo = FDocument->UndoStack().createUndoAction(this, "&Undo");
  mUndo->setObjectName("mUndo");
  mUndo->setShortcuts(QKeySequence::Undo);
  mRedo = FDocument->UndoStack().createRedoAction(this, "&Redo");
  mRedo->setObjectName("mRedo");
  mRedo->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  edit->addActions({mUndo, mRedo});
  addActions({mUndo, mRedo});
  layout->setMenuBar(menus);
  // The panes keep the size they had without the menu bar.
  resize(638, 450 + menus->sizeHint().height());

  popGroups = new QMenu(this);
  popGroups->setObjectName("popGroups");
  auto groupAction = [this](const char* caption, const char* name) {
    QAction* action = popGroups->addAction(caption);
    action->setObjectName(name);
    return action;
  };
  mDisplayThis = groupAction("Display This...", "mDisplayThis");
  mDisplayAll = groupAction("Display All", "mDisplayAll");
  mTextureOn = groupAction("Texture On", "mTextureOn");
  mTextureOff = groupAction("Texture Off", "mTextureOff");
  for (QListWidget* list : {lbGroups, lbVerts}) {
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this, list](const QPoint& at) { popGroups->popup(list->mapToGlobal(at)); });
  }
  ConnectGuarded(mDisplayThis, &QAction::triggered, this, [this] { DisplayGroup(true); });
  ConnectGuarded(mDisplayAll, &QAction::triggered, this, [this] { DisplayGroup(false); });
  ConnectGuarded(mTextureOn, &QAction::triggered, this, [this] { TextureOn(true); });
  ConnectGuarded(mTextureOff, &QAction::triggered, this, [this] { TextureOn(false); });

  ConnectGuarded(bOpenP, &QPushButton::clicked, this, [this] {
    std::string fileName = FDocument->IsOpen() ? FDocument->FileName() : FLastPFile;
    if (Dialogs().OpenFile("P files|*.P|All files|*.*", "P", fileName)) OpenP(fileName);
  });
  ConnectGuarded(bSaveP, &QPushButton::clicked, this, [this] { SaveP(); });
  ConnectGuarded(bAddTexData, &QPushButton::clicked, this, [this] { AddTexData(); });
  ConnectGuarded(bLoadRSD, &QPushButton::clicked, this, [this] {
    if (FDocument->Image().Empty()) throw Exception("No P file is open: use Open P first");
    std::string fileName = FDocument->FileName();
    if (Dialogs().OpenFile("RSD File|*.RSD|All files|*.*", "RSD", fileName)) LoadRSD(fileName);
  });
  ConnectGuarded(bLoadImage, &QPushButton::clicked, this, [this] {
    if (FTextureFiles.empty()) throw Exception("No textures are loaded: use Load RSD first");
    int index = 0;
    if (FTextureFiles.size() > 1 &&
        !Dialogs().ChooseItem("Load Image", "Texture to replace:", FTextureFiles, index))
      return;
    std::string fileName = FTextureFiles[size_t(index)];
    if (Dialogs().OpenFile("Pictures|*.png *.bmp *.jpg *.jpeg *.gif *.tga *.webp|All files|*",
                           "png", fileName))
      LoadImage(index, fileName);
  });
  ConnectGuarded(lbVerts, &QListWidget::itemDoubleClicked, this,
                 [this](QListWidgetItem* item) { SetTexCoord(lbVerts->row(item)); });
  ConnectGuarded(chkWire, &QCheckBox::toggled, this, [this](bool on) { SetWireframe(on); });
  ConnectGuarded(FDocument, &TPFileDocument::Changed, this, [this] { StepDone(); });
  // The picture changes only through these and the commands; each asks for a repaint.
  connect(lbVerts, &QListWidget::currentRowChanged, View, [this] { View->update(); });
  for (QSlider* slider : {TrkX, TrkY, TrkZ, trkZoom})
    connect(slider, &QSlider::valueChanged, View, [this] { View->update(); });
  // Nothing is open yet: nothing to save or to give texture coordinates.
  bSaveP->setEnabled(false);
  bAddTexData->setEnabled(false);
}

TTexturiserWindow::~TTexturiserWindow() {
  View->MakeCurrent();
  FTextures.Clear();
  View->ReleaseGL();
}

bool TTexturiserWindow::QuerySave() {
  if (!Modified()) return true;
  switch (Dialogs().Ask("The P file has been changed. Save it?", true)) {
  case TDialogs::TAnswer::Yes:
    SaveP();
    return true;
  case TDialogs::TAnswer::No:
    FDocument->Revert();
    RefreshLists(false);
    lblStatus->setText(Text("Changes to " + FDocument->FileName() + " dropped"));
    return true;
  case TDialogs::TAnswer::Cancel:
    break;
  }
  return false;
}

void TTexturiserWindow::done(int result) {
  bool leave = false;
  Guarded([&] { leave = QuerySave(); });
  if (leave) QDialog::done(result);
}

void TTexturiserWindow::RefreshLists(bool keepRows) {
  const int groupRow = lbGroups->currentRow(), vertRow = lbVerts->currentRow();
  TMemoryStream stream(FDocument->Bytes());
  TFF7PPart part;
  part.LoadFromStream(stream);
  part.Textures = std::move(FPart.Textures);
  part.Blended = part.Blended || !part.Textures.empty();
  FPart = std::move(part);
  lbGroups->clear();
  for (const std::string& row : FDocument->Image().GroupRows()) lbGroups->addItem(Text(row));
  lbVerts->clear();
  for (const std::string& row : FDocument->Image().VertRows()) lbVerts->addItem(Text(row));
  // The one row of a part without texture coordinates says why it cannot be edited.
  if (FPart.TexCoords.empty() && lbVerts->count() == 1)
    lbVerts->item(0)->setToolTip("This part has no texture coordinates: Add Tex Data gives it "
                                 "one per vertex");
  if (keepRows) {
    if (groupRow >= 0 && groupRow < lbGroups->count()) lbGroups->setCurrentRow(groupRow);
    if (vertRow >= 0 && vertRow < lbVerts->count()) lbVerts->setCurrentRow(vertRow);
  }
  // Save P needs a file open; Add Tex Data a part without texture coordinates yet.
  bSaveP->setEnabled(FDocument->IsOpen());
  bAddTexData->setEnabled(FDocument->IsOpen() && FPart.TexCoords.empty());
  View->update();
}

void TTexturiserWindow::StepDone() {
  RefreshLists(true);
  EditDone();
}

void TTexturiserWindow::EditDone() {
  lblStatus->setText(
      Text(FDocument->FileName() + (Modified() ? " changed: not saved yet" : " as saved")));
}

TFF7PPart TTexturiserWindow::ShownPart() const {
  TFF7PPart part = FPart;
  for (TPGroup& group : part.Groups)
    if (group.Textured() && uint32_t(group.TexIndex) >= part.Textures.size()) group.TexFlag = 0;
  return part;
}

TMatrix4 TTexturiserWindow::ViewTransform(double distance) const {
  return TMatrix4::Translation(0, 0, -float(distance)) *
         TMatrix4::Rotation(float(TrkX->value()), 1, 0, 0) *
         TMatrix4::Rotation(float(TrkY->value()), 0, 1, 0) *
         TMatrix4::Rotation(float(TrkZ->value()), 0, 0, 1) * StandUp *
         TMatrix4::Translation(-FCentre.X, -FCentre.Y, -FCentre.Z);
}

// The eye looks along -Z at the part's centre from the Zoom distance, through a 90 degree
// perspective of the view's shape; near and far planes close around the part. The
// switches are applied here, on every paint.
void TTexturiserWindow::Paint() {
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  const double distance = std::max(double(trkZoom->value()), 1e-3);
  const double reach = 2 * FRadius + 1;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(90.0, View->height() > 0 ? double(View->width()) / View->height() : 1.0,
                 std::max(distance - reach, 1e-3 * (distance + reach)), distance + reach);
  glMatrixMode(GL_MODELVIEW);
  glLoadMatrixf(ViewTransform(distance).M);
  TViewOptions options;
  options.Wireframe = FSwitches.Wireframe;
  options.DisplayGroup = FSwitches.DisplayGroup;
  ApplyViewSwitches(options);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  // Textures loaded before this context existed are made here. One that cannot be made
  // draws untextured: Load RSD reports such failures where the context exists.
  try {
    FTextures.Add(FPart);
  } catch (const std::exception&) {
  }
  // The vertex of the chosen row of the coordinate list, marked by three white lines; a
  // part without texture coordinates has no such row (its one row says so).
  const int row = lbVerts->currentRow();
  if (row >= 0 && row < FPart.TexCoordCount() && row < FPart.VertexCount()) {
    const TVec3& v = FPart.Vertices[size_t(row)];
    glDisable(GL_TEXTURE_2D);
    glColor3f(1, 1, 1);
    glBegin(GL_LINES);
    glVertex3f(v.X, v.Y, v.Z - 50);
    glVertex3f(v.X, v.Y, v.Z + 50);
    glVertex3f(v.X, v.Y - 50, v.Z);
    glVertex3f(v.X, v.Y + 50, v.Z);
    glVertex3f(v.X - 50, v.Y, v.Z);
    glVertex3f(v.X + 50, v.Y, v.Z);
    glEnd();
  }
  DrawPart(ShownPart(), FTextures, options);
}

// The eye must see every vertex v (turned and centred: q) within FrameFill of the view's
// half-extents: |q.y| <= (d - q.z) tan 45 FrameFill, and as much across, times the view's
// width over its height. Vertices that are no numbers are left out.
void TTexturiserWindow::FrameView() {
  TVec3 low{0, 0, 0}, high{0, 0, 0};
  bool any = false;
  for (const TVec3& v : FPart.Vertices) {
    if (!std::isfinite(v.X) || !std::isfinite(v.Y) || !std::isfinite(v.Z)) continue;
    low = any ? TVec3{std::min(low.X, v.X), std::min(low.Y, v.Y), std::min(low.Z, v.Z)} : v;
    high = any ? TVec3{std::max(high.X, v.X), std::max(high.Y, v.Y), std::max(high.Z, v.Z)} : v;
    any = true;
  }
  FCentre = {(low.X + high.X) / 2, (low.Y + high.Y) / 2, (low.Z + high.Z) / 2};
  FRadius = std::hypot(double(high.X) - low.X, double(high.Y) - low.Y, double(high.Z) - low.Z) / 2;
  if (!std::isfinite(FRadius)) FRadius = 0;

  if (!View->isVisible()) layout()->activate();
  const double aspect = View->height() > 0 ? double(View->width()) / View->height() : 4.0 / 3.0;
  const TMatrix4 place = StandUp * TMatrix4::Translation(-FCentre.X, -FCentre.Y, -FCentre.Z);
  double fit = 1;
  for (const TVec3& v : FPart.Vertices) {
    TVec3 q = place.TransformPoint(v);
    if (!std::isfinite(q.X) || !std::isfinite(q.Y) || !std::isfinite(q.Z)) continue;
    fit = std::max(
        {fit, q.Z + std::fabs(q.Y) / FrameFill, q.Z + std::fabs(q.X) / (FrameFill * aspect)});
  }
  // Zoom holds whole units: rounded up, the part stays inside the view.
  const double zoom = std::ceil(std::min(fit, 1e6));
  trkZoom->setMaximum(std::max(150, int(zoom) * 5));
  trkZoom->setValue(int(zoom));
  for (QSlider* slider : {TrkX, TrkY, TrkZ}) slider->setValue(0);
}

void TTexturiserWindow::OpenP(const std::string& fileName) {
  FLastPFile = fileName;
  std::string bytes = ReadFileBytes(fileName);
  TMemoryStream check(bytes);
  TFF7PPart().LoadFromStream(check); // a file the part reader refuses is not taken
  if (!QuerySave()) return;
  // The textures belong to the part that was open.
  View->MakeCurrent();
  FTextures.Clear();
  FPart.Textures.clear();
  FTextureFiles.clear();
  FSwitches.DisplayGroup = 0;
  FDocument->Open(fileName, std::move(bytes));
  setWindowTitle(QFileInfo(QFile::decodeName(fileName.c_str())).fileName() + " \u2014 Texturiser");
  RefreshLists(false);
  FrameView();
  lblStatus->setText(Text(
      Format("Opened %s: %s, %s", fileName, Plural(FPart.GroupCount(), "group", "groups"),
             FPart.TexCoords.empty()
                 ? std::string("no texture coordinates")
                 : Plural(FPart.TexCoordCount(), "texture coordinate", "texture coordinates"))));
}

void TTexturiserWindow::SaveP() {
  FDocument->Save();
  lblStatus->setText(Text(
      Format("Saved %s (%d bytes)", FDocument->FileName(), int64_t(FDocument->Bytes().size()))));
}

void TTexturiserWindow::AddTexData() {
  FDocument->AddTexData();
  EditDone();
}

void TTexturiserWindow::SetTexCoord(int row) {
  if (row < 0 || row >= FPart.TexCoordCount()) return;
  const TTexCoord current = FPart.TexCoords[size_t(row)];
  // A value that is not a number is said and asked for again, as typed; what was typed
  // before it stays. Cancel changes nothing.
  auto ask = [](const char* prompt, std::string text, float& value) {
    for (;;) {
      if (!Dialogs().InputBox("Change TexCoord", prompt, text)) return false;
      try {
        value = CoordValue(text);
        return true;
      } catch (const Exception& e) {
        Dialogs().ShowError(e.what());
      }
    }
  };
  float uValue = 0, vValue = 0;
  if (!ask("Enter new U (X) coord:", CoordText(current.U), uValue) ||
      !ask("Enter new V (Y) coord:", CoordText(current.V), vValue))
    return;
  FDocument->SetTexCoord(row, uValue, vValue);
  lbVerts->setCurrentRow(row);
  EditDone();
}

void TTexturiserWindow::TextureOn(bool on) {
  int group = lbGroups->currentRow();
  if (group < 0) return;
  if (on) {
    // Cancel leaves the group as it was.
    const TDialogs::TAnswer normals = Dialogs().Ask("Normals on?", true);
    if (normals == TDialogs::TAnswer::Cancel) return;
    FDocument->TextureOn(group, normals == TDialogs::TAnswer::Yes);
  } else
    FDocument->TextureOff(group);
  lbGroups->setCurrentRow(group);
  EditDone();
}

void TTexturiserWindow::DisplayGroup(bool selectedOnly) {
  FSwitches.DisplayGroup = selectedOnly ? lbGroups->currentRow() + 1 : 0;
  View->update();
}

void TTexturiserWindow::SetWireframe(bool on) {
  FSwitches.Wireframe = on;
  View->update();
}

// Every texture is read before the old ones go, so a missing or broken TEX file leaves
// the part as it was shown.
void TTexturiserWindow::LoadRSD(const std::string& fileName) {
  if (FDocument->Image().Empty()) throw Exception("No P file is open: use Open P first");
  const TRSDResource rsd = [&] {
    TFileStream file(fileName, TFileMode::OpenRead);
    return TRSDResource(file, fileName, FileResource);
  }();
  const std::string folder = FolderOf(fileName);
  std::vector<std::shared_ptr<const TTexImage>> images;
  std::vector<std::string> files;
  for (int32_t i = 0; i < rsd.TextureCount(); ++i) {
    TMemoryStream data;
    files.push_back(FindInFolder(folder, rsd.TextureName(i)));
    data.LoadFromFile(files.back());
    images.push_back(LoadTEX(data, TEXDataOffset));
  }
  View->MakeCurrent();
  const std::vector<std::shared_ptr<const TTexImage>> old = FPart.Textures;
  FTextures.Clear();
  if (View->context()) {
    try {
      for (const auto& image : images) FTextures.Add(image);
    } catch (...) {
      FTextures.Clear();
      for (const auto& image : old) FTextures.Add(image);
      throw;
    }
  }
  FPart.Textures = images;
  FTextureFiles = files;
  FPart.Blended = FPart.Blended || !images.empty();
  View->update();
  lblStatus->setText(Text(Format("Loaded %s from %s",
                                 Plural(int64_t(images.size()), "texture", "textures"), fileName)));
}

// The new file is written first; the texture shown changes only once it is on disk.
void TTexturiserWindow::LoadImage(int32_t texture, const std::string& fileName) {
  CheckListIndex(texture, int64_t(FTextureFiles.size()));
  const std::string& texFile = FTextureFiles[size_t(texture)];
  const TTexImage picture = ReadPictureFile(fileName);
  TMemoryStream current;
  current.LoadFromFile(texFile);
  std::string bytes = IsDirectColourTEX(current.View())
                          ? WriteTEX(current.View(), ToDirectColour(picture))
                          : WriteTEX(current.View(), QuantiseTEX(picture, {}).Image);
  TMemoryStream written(bytes);
  std::shared_ptr<const TTexImage> image = LoadTEX(written, TEXDataOffset);
  ReplaceFileWithBytes(texFile, bytes);
  View->MakeCurrent();
  if (View->context()) FTextures.Add(image);
  FPart.Textures[size_t(texture)] = image;
  View->update();
  lblStatus->setText(Text(Format("Wrote %s into %s", fileName, texFile)));
}

TTexImage ReadPictureFile(const std::string& fileName) {
  QImageReader reader(Text(fileName));
  const QSize size = reader.size();
  if (size.isValid()) CheckTEXSize(fileName, size.width(), size.height());
  const QImage read = reader.read();
  if (read.isNull()) throw Exception(Format("%s: %s", fileName, Bytes(reader.errorString())));
  const QImage rgba = read.convertToFormat(QImage::Format_RGBA8888);
  CheckTEXSize(fileName, rgba.width(), rgba.height());
  TTexImage picture;
  picture.Width = rgba.width();
  picture.Height = rgba.height();
  picture.Pixels.resize(size_t(picture.Width) * size_t(picture.Height) * 4);
  for (int y = 0; y < rgba.height(); ++y)
    std::memcpy(picture.Pixels.data() + size_t(y) * size_t(picture.Width) * 4,
                rgba.constScanLine(y), size_t(picture.Width) * 4);
  return picture;
}

} // namespace palkor
