#include "texturiser/hacker.h"

#include "render/QtText.h"

#include "field/tex.h"
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

} // namespace

TTexView::TTexView(TfrmTex& owner, QWidget* parent) : TCGForm(parent), FOwner(owner) {
  InitGL();
}

void TTexView::initializeGL() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(90.0, 1.3333333333333333, 0.1, 1000.0);
  glMatrixMode(GL_MODELVIEW);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_DITHER);
  glShadeModel(GL_SMOOTH);
  glDisable(GL_LIGHTING);
}

void TTexView::resizeGL(int width, int height) {
  glViewport(0, 0, int(width * devicePixelRatio()), int(height * devicePixelRatio()));
}

void TTexView::paintGL() {
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(0, 20, std::max(double(FOwner.trkZoom->value()), 1e-3), 0, 20, 0, 0, 1, 0);
  // Lifted, then turned about X, Y and Z: not the viewer's order.
  glTranslatef(0, 25, 0);
  glRotatef(float(FOwner.TrkX->value()), 1, 0, 0);
  glRotatef(float(FOwner.TrkY->value()), 0, 1, 0);
  glRotatef(float(FOwner.TrkZ->value()), 0, 0, 1);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
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
  DrawPart(FOwner.EditPart, FOwner.EditTextures);
}

TfrmTex::TfrmTex(QWidget* parent) : QDialog(parent) {
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
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left);
  layout->addLayout(middle, 1);
  layout->addLayout(right);
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
      std::string fileName;
      if (Dialogs().OpenFile("P files|*.P|All files|*.*", "P", fileName)) OpenP(fileName);
    });
  });
  connect(bSaveP, &QPushButton::clicked, this, [this] { Guarded([&] { SaveP(); }); });
  connect(bAddTexData, &QPushButton::clicked, this, [this] { Guarded([&] { AddTexData(); }); });
  connect(bLoadRSD, &QPushButton::clicked, this, [this] {
    Guarded([&] {
      std::string fileName;
      if (Dialogs().OpenFile("RSD File|*.RSD|All files|*.*", "RSD", fileName)) LoadRSD(fileName);
    });
  });
  connect(lbVerts, &QListWidget::itemDoubleClicked, this,
          [this] { Guarded([&] { SetTexCoord(lbVerts->currentRow()); }); });
  connect(lbVerts, &QListWidget::currentRowChanged, View, [this] { View->update(); });
  connect(chkWire, &QCheckBox::toggled, this,
          [this](bool on) { Guarded([&] { SetWireframe(on); }); });
  // The picture changes only through these; each asks for a repaint.
  for (QSlider* slider : {TrkX, TrkY, TrkZ, trkZoom})
    connect(slider, &QSlider::valueChanged, View, [this] { View->update(); });
}

TfrmTex::~TfrmTex() {
  View->MakeCurrent();
  EditTextures.Clear();
  View->ReleaseGL();
}

void TfrmTex::RefreshLists() {
  TMemoryStream stream(PData.Bytes());
  EditPart.LoadFromStream(stream);
  int32_t display = EditPart.DisplayGroup;
  lbGroups->clear();
  for (const std::string& row : PData.GroupRows()) lbGroups->addItem(Text(row));
  lbVerts->clear();
  for (const std::string& row : PData.VertRows()) lbVerts->addItem(Text(row));
  EditPart.DisplayGroup = display;
  View->update();
}

void TfrmTex::OpenP(const std::string& fileName) {
  TPFileImage image;
  image.Load(ReadFileBytes(fileName));
  TMemoryStream check(image.Bytes());
  TFF7PPart().LoadFromStream(check); // a file the part reader refuses is not taken
  PData = image;
  PFileName = fileName;
  RefreshLists();
}

void TfrmTex::SaveP() {
  if (PFileName.empty()) throw Exception("No P file is open: use Open P first");
  ReplaceFileWithBytes(PFileName, PData.Bytes());
}

void TfrmTex::AddTexData() {
  if (PData.Empty()) throw Exception("No P file is open: use Open P first");
  PData.AddTexData();
  RefreshLists();
}

void TfrmTex::SetTexCoord(int row) {
  if (row < 0 || lbVerts->item(row) == nullptr || lbVerts->item(row)->text() == "(Unsuitable)")
    return;
  std::string u = "0.0", v = "0.0";
  if (!Dialogs().InputBox("Change TexCoord", "Enter new U (X) coord:", u)) u = "0.0";
  if (!Dialogs().InputBox("Change TexCoord", "Enter new V (Y) coord:", v)) v = "0.0";
  // Both are converted before anything is written.
  float uValue = float(StrToFloat(u)), vValue = float(StrToFloat(v));
  PData.SetTexCoord(row, uValue, vValue);
  RefreshLists();
  lbVerts->setCurrentRow(row);
}

void TfrmTex::TextureOn(bool on) {
  int group = lbGroups->currentRow();
  if (group < 0) return;
  if (on)
    PData.TextureOn(group, Dialogs().Confirm("Normals on?"));
  else
    PData.TextureOff(group);
  RefreshLists();
  lbGroups->setCurrentRow(group);
}

void TfrmTex::DisplayGroup(bool selectedOnly) {
  EditPart.DisplayGroup = selectedOnly ? lbGroups->currentRow() + 1 : 0;
  View->update();
}

void TfrmTex::LoadRSD(const std::string& fileName) {
  View->MakeCurrent();
  EditPart.Textures.clear();
  EditTextures.Clear();
  TStringList rsd;
  rsd.LoadFromFile(fileName);
  int32_t count = StrToInt(rsd.Values("NTEX"));
  const std::string folder = FolderOf(fileName);
  for (int32_t i = 0; i < count; ++i) {
    std::string name = WithTEXExtension(rsd.Values(Format("TEX[%d]", i)));
    TMemoryStream data;
    data.LoadFromFile(FindInFolder(folder, name));
    std::shared_ptr<const TTexImage> image = LoadTEX(data, TEXDataOffset);
    EditTextures.Add(image);
    EditPart.Textures.push_back(image);
    EditPart.Blended = true;
  }
  View->update();
}

void TfrmTex::SetWireframe(bool on) {
  View->MakeCurrent();
  palkor::SetWireframe(on);
  View->update();
}

} // namespace palkor
