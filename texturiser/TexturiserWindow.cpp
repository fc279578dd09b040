#include "texturiser/TexturiserWindow.h"

#include "render/QtText.h"

#include "field/tex.h"
#include "geometry/Conventions.h"
#include "platform/Convert.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/StringList.h"
#include "render/modeldraw.h"
#include "render/scene.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace palkor {

namespace {

QSlider* Trackbar(int maximum, int position, int tick, QWidget* parent) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
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

// name with the text after its last period (when that comes after the last path
// separator) replaced by "TEX", or ".TEX" appended.
std::string WithTEXExtension(const std::string& name) {
  size_t dot = name.rfind('.'), separator = name.find_last_of("/\\");
  if (dot != std::string::npos && (separator == std::string::npos || dot > separator))
    return name.substr(0, dot) + ".TEX";
  return name + ".TEX";
}

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

// The eye looks along -Z at the part's centre from the Zoom distance, through a 90 degree
// perspective of the view's shape; near and far planes close around the part.
void TTexView::paintGL() {
  ApplyViewSwitches(FOwner.ViewOptions);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  const double distance = std::max(double(FOwner.trkZoom->value()), 1e-3);
  const double reach = 2 * FOwner.PartRadius() + 1;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(90.0, height() > 0 ? double(width()) / height() : 1.0,
                 std::max(distance - reach, 1e-3 * (distance + reach)), distance + reach);
  glMatrixMode(GL_MODELVIEW);
  glLoadMatrixf(FOwner.ViewTransform(distance).M);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  // Textures loaded before this context existed are made here. One that cannot be made
  // draws untextured: Load RSD reports such failures where the context exists.
  try {
    FOwner.EditTextures.Add(FOwner.EditPart);
  } catch (const std::exception&) {
  }
  int row = FOwner.lbVerts->currentRow();
  if (row >= 0 && row < int(FOwner.EditPart.Vertices.size())) {
    const TVec3& v = FOwner.EditPart.Vertices[size_t(row)];
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
  DrawPart(FOwner.ShownPart(), FOwner.EditTextures, FOwner.ViewOptions);
}

TTexturiserWindow::TTexturiserWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Texturiser");
  setModal(true);
  resize(638, 450);

  bOpenP = new QPushButton("Open P", this);
  bSaveP = new QPushButton("Save P", this);
  bAddTexData = new QPushButton("Add Tex Data", this);
  bLoadRSD = new QPushButton("Load RSD", this);
  lbGroups = new QListWidget(this);
  lbGroups->setObjectName("lbGroups");
  lbVerts = new QListWidget(this);
  lbVerts->setObjectName("lbVerts");
  chkWire = new QCheckBox("Wireframe", this);
  TrkX = Trackbar(360, 0, 15, this);
  TrkY = Trackbar(360, 0, 15, this);
  TrkZ = Trackbar(360, 0, 15, this);
  trkZoom = Trackbar(150, 30, 5, this);
  View = new TTexView(*this, this);
  View->setMinimumSize(320, 240);

  auto* left = new QVBoxLayout();
  for (QPushButton* button : {bOpenP, bSaveP, bAddTexData}) left->addWidget(button);
  left->addWidget(lbGroups, 1);
  left->addWidget(bLoadRSD);
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

  popGroups = new QMenu(this);
  mDisplayThis = popGroups->addAction("Display This...");
  mDisplayAll = popGroups->addAction("Display All");
  mTextureOn = popGroups->addAction("Texture On");
  mTextureOff = popGroups->addAction("Texture Off");
  for (QListWidget* list : {lbGroups, lbVerts}) {
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this, list](const QPoint& at) { popGroups->popup(list->mapToGlobal(at)); });
  }
  connect(mDisplayThis, &QAction::triggered, this,
          [this] { Guarded([&] { DisplayGroup(true); }); });
  connect(mDisplayAll, &QAction::triggered, this,
          [this] { Guarded([&] { DisplayGroup(false); }); });
  connect(mTextureOn, &QAction::triggered, this, [this] { Guarded([&] { TextureOn(true); }); });
  connect(mTextureOff, &QAction::triggered, this, [this] { Guarded([&] { TextureOn(false); }); });

  connect(bOpenP, &QPushButton::clicked, this, [this] {
    Guarded([&] {
      std::string fileName = PFileName.empty() ? LastPFile : PFileName;
      if (Dialogs().OpenFile("P files|*.P|All files|*.*", "P", fileName)) OpenP(fileName);
    });
  });
  connect(bSaveP, &QPushButton::clicked, this, [this] { Guarded([&] { SaveP(); }); });
  connect(bAddTexData, &QPushButton::clicked, this, [this] { Guarded([&] { AddTexData(); }); });
  connect(bLoadRSD, &QPushButton::clicked, this, [this] {
    Guarded([&] {
      if (PData.Empty()) throw Exception("No P file is open: use Open P first");
      std::string fileName = PFileName;
      if (Dialogs().OpenFile("RSD File|*.RSD|All files|*.*", "RSD", fileName)) LoadRSD(fileName);
    });
  });
  connect(lbVerts, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { Guarded([&] { SetTexCoord(lbVerts->row(item)); }); });
  connect(lbVerts, &QListWidget::currentRowChanged, View, [this] { View->update(); });
  connect(chkWire, &QCheckBox::toggled, this,
          [this](bool on) { Guarded([&] { SetWireframe(on); }); });
  // The picture changes only through these; each asks for a repaint.
  for (QSlider* slider : {TrkX, TrkY, TrkZ, trkZoom})
    connect(slider, &QSlider::valueChanged, View, [this] { View->update(); });
}

TTexturiserWindow::~TTexturiserWindow() {
  View->MakeCurrent();
  EditTextures.Clear();
  View->ReleaseGL();
}

bool TTexturiserWindow::Modified() const {
  return !PFileName.empty() && PData.Bytes() != FSavedBytes;
}

bool TTexturiserWindow::QuerySave() {
  if (!Modified()) return true;
  switch (Dialogs().Ask("The P file has been changed. Save it?", true)) {
  case TDialogs::TAnswer::Yes:
    SaveP();
    return true;
  case TDialogs::TAnswer::No:
    PData.Load(FSavedBytes);
    RefreshLists();
    lblStatus->setText(Text("Changes to " + PFileName + " dropped"));
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

void TTexturiserWindow::RefreshLists() {
  TMemoryStream stream(PData.Bytes());
  std::vector<std::shared_ptr<const TTexImage>> textures = std::move(EditPart.Textures);
  EditPart.LoadFromStream(stream);
  EditPart.Textures = std::move(textures);
  EditPart.Blended = EditPart.Blended || !EditPart.Textures.empty();
  lbGroups->clear();
  for (const std::string& row : PData.GroupRows()) lbGroups->addItem(Text(row));
  lbVerts->clear();
  for (const std::string& row : PData.VertRows()) lbVerts->addItem(Text(row));
  View->update();
}

TFF7PPart TTexturiserWindow::ShownPart() const {
  TFF7PPart part = EditPart;
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

// The eye must see every vertex v (turned and centred: q) within FrameFill of the view's
// half-extents: |q.y| <= (d - q.z) tan 45 FrameFill, and as much across, times the view's
// width over its height. Vertices that are no numbers are left out.
void TTexturiserWindow::FrameView() {
  TVec3 low{0, 0, 0}, high{0, 0, 0};
  bool any = false;
  for (const TVec3& v : EditPart.Vertices) {
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
  for (const TVec3& v : EditPart.Vertices) {
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

void TTexturiserWindow::EditDone() {
  lblStatus->setText(Text(PFileName + (Modified() ? " changed: not saved yet" : " as saved")));
}

void TTexturiserWindow::OpenP(const std::string& fileName) {
  LastPFile = fileName;
  TPFileImage image;
  image.Load(ReadFileBytes(fileName));
  TMemoryStream check(image.Bytes());
  TFF7PPart().LoadFromStream(check); // a file the part reader refuses is not taken
  if (!QuerySave()) return;
  // The textures belong to the part that was open.
  View->MakeCurrent();
  EditTextures.Clear();
  EditPart.Textures.clear();
  ViewOptions.DisplayGroup = 0;
  PData = image;
  FSavedBytes = image.Bytes();
  PFileName = fileName;
  RefreshLists();
  FrameView();
  lblStatus->setText(Text(
      Format("Opened %s: %s, %s", fileName, Plural(EditPart.GroupCount(), "group", "groups"),
             EditPart.TexCoords.empty()
                 ? std::string("no texture coordinates")
                 : Plural(EditPart.TexCoordCount(), "texture coordinate", "texture coordinates"))));
}

void TTexturiserWindow::SaveP() {
  if (PFileName.empty()) throw Exception("No P file is open: use Open P first");
  ReplaceFileWithBytes(PFileName, PData.Bytes());
  FSavedBytes = PData.Bytes();
  lblStatus->setText(Text(Format("Saved %s (%d bytes)", PFileName, int64_t(FSavedBytes.size()))));
}

void TTexturiserWindow::AddTexData() {
  if (PData.Empty()) throw Exception("No P file is open: use Open P first");
  PData.AddTexData();
  RefreshLists();
  EditDone();
}

void TTexturiserWindow::SetTexCoord(int row) {
  if (row < 0 || row >= EditPart.TexCoordCount()) return;
  const TTexCoord current = EditPart.TexCoords[size_t(row)];
  std::string u = CoordText(current.U);
  if (!Dialogs().InputBox("Change TexCoord", "Enter new U (X) coord:", u)) return;
  const float uValue = CoordValue(u);
  std::string v = CoordText(current.V);
  if (!Dialogs().InputBox("Change TexCoord", "Enter new V (Y) coord:", v)) return;
  const float vValue = CoordValue(v);
  PData.SetTexCoord(row, uValue, vValue);
  RefreshLists();
  lbVerts->setCurrentRow(row);
  EditDone();
}

void TTexturiserWindow::TextureOn(bool on) {
  int group = lbGroups->currentRow();
  if (group < 0) return;
  if (on)
    PData.TextureOn(group, Dialogs().Confirm("Normals on?"));
  else
    PData.TextureOff(group);
  RefreshLists();
  lbGroups->setCurrentRow(group);
  EditDone();
}

void TTexturiserWindow::DisplayGroup(bool selectedOnly) {
  ViewOptions.DisplayGroup = selectedOnly ? lbGroups->currentRow() + 1 : 0;
  View->update();
}

// Every texture is read before the old ones go, so a missing or broken TEX file leaves
// the part as it was shown.
void TTexturiserWindow::LoadRSD(const std::string& fileName) {
  if (PData.Empty()) throw Exception("No P file is open: use Open P first");
  TStringList rsd;
  rsd.LoadFromFile(fileName);
  int32_t count = StrToInt(rsd.Values("NTEX"));
  const std::string folder = FolderOf(fileName);
  std::vector<std::shared_ptr<const TTexImage>> images;
  for (int32_t i = 0; i < count; ++i) {
    std::string name = WithTEXExtension(rsd.Values(Format("TEX[%d]", i)));
    TMemoryStream data;
    data.LoadFromFile(FindInFolder(folder, name));
    images.push_back(LoadTEX(data, TEXDataOffset));
  }
  View->MakeCurrent();
  const std::vector<std::shared_ptr<const TTexImage>> old = EditPart.Textures;
  EditTextures.Clear();
  if (View->context()) {
    try {
      for (const auto& image : images) EditTextures.Add(image);
    } catch (...) {
      EditTextures.Clear();
      for (const auto& image : old) EditTextures.Add(image);
      throw;
    }
  }
  EditPart.Textures = images;
  EditPart.Blended = EditPart.Blended || !images.empty();
  View->update();
  lblStatus->setText(Text(Format("Loaded %s from %s",
                                 Plural(int64_t(images.size()), "texture", "textures"), fileName)));
}

void TTexturiserWindow::SetWireframe(bool on) {
  ViewOptions.Wireframe = on;
  View->update();
}

} // namespace palkor
