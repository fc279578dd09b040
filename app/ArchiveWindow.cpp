// View > Archive Members: the open archive's members listed, previewed and edited
// through the archive layer's own operations (the command line's add, remove, rename,
// compact, check, replace and tex-import).
#include "app/ArchiveWindow.h"

#include "app/TextureFiles.h"
#include "archive/FolderArchive.h"
#include "archive/LGPCheck.h"
#include "field/AnimLayout.h"
#include "field/RSD.h"
#include "field/tex.h"
#include "platform/Dialogs.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/StringList.h"
#include "platform/images.h"
#include "render/QtGuard.h"
#include "render/QtText.h"
#include "render/modeldraw.h"
#include "texturiser/TexturiserWindow.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QImageReader>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPixmap>
#include <QSplitter>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>

namespace palkor {

namespace {

enum TColumn { ColName, ColKind, ColSize, ColOffset, ColumnCount };

// The most of a text member the preview shows.
constexpr int64_t TextPreviewBytes = 64 * 1024;
// The bytes of another member shown as hex.
constexpr int64_t HexPreviewBytes = 512;

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return text;
}

std::string Extension(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? std::string() : Upper(name.substr(dot + 1));
}

bool IsPictureFile(const QString& file) {
  return QFileInfo(file).suffix().compare("tex", Qt::CaseInsensitive) != 0 &&
         !QImageReader::imageFormat(file).isEmpty();
}

int32_t HeaderI32(std::string_view bytes, size_t offset) {
  return bytes.size() >= offset + 4
             ? GetI32LE(reinterpret_cast<const uint8_t*>(bytes.data()) + offset)
             : 0;
}

QString HexDump(std::string_view bytes) {
  QString text;
  for (size_t line = 0; line < bytes.size(); line += 16) {
    text += QString("%1 ").arg(line, 6, 16, QChar('0'));
    QString chars;
    for (size_t i = line; i < line + 16; ++i) {
      if (i < bytes.size()) {
        const auto byte = uint8_t(bytes[i]);
        text += QString(" %1").arg(byte, 2, 16, QChar('0'));
        chars += byte >= 32 && byte < 127 ? QChar(byte) : QChar('.');
      } else {
        text += "   ";
      }
    }
    text += "  " + chars + "\n";
  }
  return text;
}

} // namespace

std::string MemberKind(const std::string& name, bool battle) {
  if (battle && name.size() == 4) {
    const char first = char(name[2] | 0x20), second = char(name[3] | 0x20);
    if (first == 'a' && second == 'a') return "Battle skeleton";
    if (first == 'a' && second == 'b') return "Battle data";
    if (first == 'a' && second >= 'c' && second <= 'l') return "Battle texture";
    if (first == 'd' && second == 'a') return "Battle animations";
    return "Battle part";
  }
  const std::string extension = Extension(name);
  if (extension == "HRC") return "Skeleton";
  if (extension == "RSD") return "Resource";
  if (extension == "P") return "Part";
  if (extension == "A") return "Animation";
  if (extension == "TEX") return "Texture";
  return extension.empty() ? "Other" : extension;
}

void TArchiveMemberModel::SetRows(std::vector<TArchiveRow> rows) {
  beginResetModel();
  FRows = std::move(rows);
  endResetModel();
}

int TArchiveMemberModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(FRows.size());
}

int TArchiveMemberModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant TArchiveMemberModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(FRows.size())) return {};
  const TArchiveRow& row = FRows[size_t(index.row())];
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
    case ColName:
      return Text(row.Name);
    case ColKind:
      return Text(row.Kind);
    case ColSize:
      return row.Size < 0 ? QString("?") : QString::number(row.Size);
    case ColOffset:
      return QString::number(row.Offset);
    }
  } else if (role == SortRole) {
    switch (index.column()) {
    case ColName:
      return Text(Upper(row.Name));
    case ColKind:
      return Text(row.Kind);
    case ColSize:
      return qlonglong(row.Size);
    case ColOffset:
      return qlonglong(row.Offset);
    }
  } else if (role == Qt::TextAlignmentRole &&
             (index.column() == ColSize || index.column() == ColOffset)) {
    return int(Qt::AlignRight | Qt::AlignVCenter);
  }
  return {};
}

QVariant TArchiveMemberModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const titles[] = {"Name", "Kind", "Size", "Offset"};
  return section >= 0 && section < ColumnCount ? QString(titles[section]) : QVariant();
}

Qt::ItemFlags TArchiveMemberModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractTableModel::flags(index);
  if (index.isValid()) flags |= Qt::ItemIsDragEnabled;
  return flags;
}

QStringList TArchiveMemberModel::mimeTypes() const {
  return {"text/uri-list"};
}

QMimeData* TArchiveMemberModel::mimeData(const QModelIndexList& indexes) const {
  std::vector<int> rows;
  for (const QModelIndex& index : indexes)
    if (index.isValid() && std::find(rows.begin(), rows.end(), index.row()) == rows.end())
      rows.push_back(index.row());
  if (rows.empty() || !ExtractForDrag) return nullptr;
  QStringList files;
  Guarded([&] { files = ExtractForDrag(rows); });
  if (files.isEmpty()) return nullptr;
  auto* mime = new QMimeData();
  QList<QUrl> urls;
  for (const QString& file : files) urls.push_back(QUrl::fromLocalFile(file));
  mime->setUrls(urls);
  return mime;
}

TPartPreview::TPartPreview(QWidget* parent) : TCGForm(TSurfaceRequest(), parent) {}

TPartPreview::~TPartPreview() {
  MakeCurrent();
  FTextures.Clear();
  ReleaseGL();
}

void TPartPreview::ShowPart(std::unique_ptr<TFF7PPart> part) {
  // The textures of the part before go with it, in this view's context.
  MakeCurrent();
  FTextures.Clear();
  FPart = std::move(part);
  update();
}

void TPartPreview::initializeGL() {
  glEnable(GL_DEPTH_TEST);
  glShadeModel(GL_SMOOTH);
  glDisable(GL_LIGHTING);
}

void TPartPreview::resizeGL(int width, int height) {
  glViewport(0, 0, int(width * devicePixelRatio()), int(height * devicePixelRatio()));
}

void TPartPreview::paintGL() {
  glClearColor(0.15f, 0.15f, 0.2f, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (!FPart || FPart->Vertices.empty()) return;
  // Framed by the part's bounding sphere about the middle of its box.
  TVec3 low = FPart->Vertices.front(), high = low;
  for (const TVec3& v : FPart->Vertices) {
    low = {std::min(low.X, v.X), std::min(low.Y, v.Y), std::min(low.Z, v.Z)};
    high = {std::max(high.X, v.X), std::max(high.Y, v.Y), std::max(high.Z, v.Z)};
  }
  const TVec3 middle{(low.X + high.X) / 2, (low.Y + high.Y) / 2, (low.Z + high.Z) / 2};
  double radius = 0;
  for (const TVec3& v : FPart->Vertices)
    radius = std::max(
        radius, std::hypot(double(v.X - middle.X), double(v.Y - middle.Y), double(v.Z - middle.Z)));
  if (!std::isfinite(radius)) return;
  radius = std::max(radius, 1e-3);
  const double distance = radius / std::sin(std::numbers::pi / 6) * 1.1;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(60.0, height() > 0 ? double(width()) / height() : 1.0, distance / 100,
                 distance + 2 * radius);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslated(0, 0, -distance);
  glRotated(20, 1, 0, 0);
  glRotated(-35, 0, 1, 0);
  // Parts are stored upside down to the viewer's eye (their vertices negated on load).
  glRotated(180, 0, 0, 1);
  glTranslatef(-middle.X, -middle.Y, -middle.Z);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  try {
    FTextures.Add(*FPart);
  } catch (const std::exception&) {
    // A texture that cannot be made draws untextured.
  }
  DrawPart(*FPart, FTextures, TViewOptions());
}

TArchiveWindow::TArchiveWindow(TArchiveHost& host, QWidget* parent)
    : QWidget(parent, Qt::Window), FHost(host) {
  setObjectName("frmArchive");
  setWindowTitle("Archive Members");
  resize(900, 560);
  FModel = new TArchiveMemberModel(this);
  FModel->ExtractForDrag = [this](const std::vector<int>& rows) { return ExtractForDrag(rows); };
  FProxy = new QSortFilterProxyModel(this);
  FProxy->setSourceModel(FModel);
  FProxy->setSortRole(TArchiveMemberModel::SortRole);
  FProxy->setFilterKeyColumn(ColName);
  FProxy->setFilterCaseSensitivity(Qt::CaseInsensitive);

  auto action = [this](const char* text, const char* name, QKeySequence key, const char* tip,
                       void (TArchiveWindow::*run)()) {
    auto* a = new QAction(text, this);
    a->setObjectName(name);
    a->setToolTip(tip);
    if (!key.isEmpty()) {
      a->setShortcut(key);
      a->setShortcutContext(Qt::WindowShortcut);
    }
    ConnectGuarded(a, &QAction::triggered, this, [this, run] { (this->*run)(); });
    addAction(a);
    return a;
  };
  actExtract = action("E&xtract...", "actExtract", QKeySequence("Ctrl+E"),
                      "Write the chosen members into files (or drag them out)",
                      &TArchiveWindow::ExtractChosen);
  actAdd = action("&Add...", "actAdd", QKeySequence("Ctrl+N"),
                  "Add a file as a member (or drop files on the list)", &TArchiveWindow::AddFile);
  actReplace = action("Re&place...", "actReplace", {},
                      "Replace the chosen member's data with a file; a texture also takes a "
                      "picture",
                      &TArchiveWindow::ReplaceChosen);
  actExportPicture =
      action("Export &Picture...", "actExportPicture", {},
             "Write the chosen texture as a PNG picture", &TArchiveWindow::ExportPicture);
  actRename = action("&Rename...", "actRename", QKeySequence(Qt::Key_F2),
                     "Give the chosen member another name", &TArchiveWindow::RenameChosen);
  actRemove = action("Re&move", "actRemove", QKeySequence(QKeySequence::Delete),
                     "Take the chosen members out of the archive", &TArchiveWindow::RemoveChosen);
  actCompact = action("&Compact", "actCompact", {},
                      "Drop the old copies that replacing members leaves in the file",
                      &TArchiveWindow::Compact);
  actCheck = action("C&heck", "actCheck", {}, "Look for damage and stale lookup tables",
                    &TArchiveWindow::Check);

  auto* tools = new QToolBar(this);
  tools->setObjectName("tbArchive");
  tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
  for (QAction* a : {actExtract, actAdd, actReplace, actExportPicture, actRename, actRemove})
    tools->addAction(a);
  tools->addSeparator();
  tools->addAction(actCompact);
  tools->addAction(actCheck);

  edFilter = new QLineEdit(this);
  edFilter->setObjectName("edFilter");
  edFilter->setPlaceholderText("Filter by name");
  edFilter->setClearButtonEnabled(true);
  connect(edFilter, &QLineEdit::textChanged, this,
          [this](const QString& text) { FProxy->setFilterFixedString(text); });

  tblMembers = new QTableView(this);
  tblMembers->setObjectName("tblMembers");
  tblMembers->setModel(FProxy);
  tblMembers->setSortingEnabled(true);
  tblMembers->sortByColumn(ColOffset, Qt::AscendingOrder);
  tblMembers->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblMembers->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tblMembers->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblMembers->setDragEnabled(true);
  tblMembers->setDragDropMode(QAbstractItemView::DragOnly);
  tblMembers->setDefaultDropAction(Qt::CopyAction);
  tblMembers->verticalHeader()->hide();
  // Rows of one height, so that the view does not measure 16,000 of them.
  tblMembers->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  tblMembers->verticalHeader()->setDefaultSectionSize(tblMembers->fontMetrics().height() + 4);
  tblMembers->horizontalHeader()->setStretchLastSection(true);
  tblMembers->setColumnWidth(ColName, 180);
  tblMembers->setColumnWidth(ColKind, 130);
  tblMembers->setColumnWidth(ColSize, 90);
  tblMembers->setToolTip("Drag members out to extract them; drop files here to add them, or a "
                         "picture on a texture to replace it");
  tblMembers->viewport()->setAcceptDrops(true);
  tblMembers->viewport()->installEventFilter(this);
  setAcceptDrops(true);
  connect(tblMembers->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    UpdateActions();
    ShowPreview();
  });
  // A double-click extracts the member (a texture as a picture).
  ConnectGuarded(tblMembers, &QTableView::doubleClicked, this, [this] {
    const TArchiveRow* row = ChosenRow();
    if (row && (row->Kind == "Texture" || row->Kind == "Battle texture"))
      ExportPicture();
    else
      ExtractChosen();
  });

  stkPreview = new QStackedWidget(this);
  stkPreview->setObjectName("stkPreview");
  lblPicture = new QLabel(this);
  lblPicture->setObjectName("lblPicture");
  lblPicture->setAlignment(Qt::AlignCenter);
  lblPicture->setMinimumSize(64, 64);
  txtPreview = new QPlainTextEdit(this);
  txtPreview->setObjectName("txtPreview");
  txtPreview->setReadOnly(true);
  txtPreview->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont fixed("Monospace");
  fixed.setStyleHint(QFont::TypeWriter);
  txtPreview->setFont(fixed);
  glPart = new TPartPreview(this);
  glPart->setObjectName("glPart");
  stkPreview->addWidget(lblPicture);
  stkPreview->addWidget(txtPreview);
  stkPreview->addWidget(glPart);
  lblPreviewInfo = new QLabel(this);
  lblPreviewInfo->setObjectName("lblPreviewInfo");
  lblPreviewInfo->setWordWrap(true);
  lblPreviewInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* previewBox = new QWidget(this);
  auto* previewColumn = new QVBoxLayout(previewBox);
  previewColumn->setContentsMargins(0, 0, 0, 0);
  previewColumn->addWidget(stkPreview, 1);
  previewColumn->addWidget(lblPreviewInfo);
  auto* listBox = new QWidget(this);
  auto* listColumn = new QVBoxLayout(listBox);
  listColumn->setContentsMargins(0, 0, 0, 0);
  listColumn->addWidget(edFilter);
  listColumn->addWidget(tblMembers, 1);
  auto* split = new QSplitter(this);
  split->addWidget(listBox);
  split->addWidget(previewBox);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);

  lblStatus = new QLabel(this);
  lblStatus->setObjectName("lblStatus");
  lblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* column = new QVBoxLayout(this);
  column->addWidget(tools);
  column->addWidget(split, 1);
  column->addWidget(lblStatus);
  ClearPreview();
  UpdateActions();
}

TArchiveWindow::~TArchiveWindow() = default;

void TArchiveWindow::SetArchive(const TArchiveKind& archive) {
  FArchive = archive;
  edFilter->clear();
  Reload();
  ShowStatus("");
}

bool TArchiveWindow::Stale() const {
  if (FArchive.Path.empty()) return false;
  const QFileInfo info(QFile::decodeName(FArchive.Path.c_str()));
  return info.lastModified() != FListedTime || (info.isFile() && info.size() != FListedSize);
}

void TArchiveWindow::Reload() {
  const TArchiveRow* chosen = ChosenRow();
  const std::string chosenName = chosen ? chosen->Name : std::string();
  std::vector<TArchiveRow> rows;
  const QFileInfo info(QFile::decodeName(FArchive.Path.c_str()));
  FListedTime = info.lastModified();
  FListedSize = info.size();
  QString shown = QFile::decodeName(FArchive.Path.c_str());
  while (shown.size() > 1 && shown.endsWith('/')) shown.chop(1);
  setWindowTitle(FArchive.Path.empty() ? QString("Archive Members")
                                       : "Archive Members \u2014 " + QFileInfo(shown).fileName());
  struct TClearOnFailure {
    TArchiveMemberModel* Model;
    bool Done = false;
    ~TClearOnFailure() {
      if (!Done) Model->SetRows({});
    }
  } clear{FModel};
  if (!FArchive.Path.empty()) {
    std::unique_ptr<TLGPFile> archive = FArchive.Open();
    const int32_t count = archive->Count();
    rows.resize(size_t(count));
    std::set<std::string> battleCodes;
    for (int32_t i = 0; i < count; ++i) {
      const std::string& name = archive->EntryAt(i).Name;
      if (name.size() == 4 && (name[2] | 0x20) == 'a' && (name[3] | 0x20) == 'a')
        battleCodes.insert(Upper(name.substr(0, 2)));
    }
    std::vector<TMemberHead> heads(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
      const TLGPEntry& entry = archive->EntryAt(i);
      TArchiveRow& row = rows[size_t(i)];
      row.Index = i;
      row.Name = entry.Name;
      row.Offset = entry.Offset;
      row.Size = entry.Size;
      row.Kind = MemberKind(entry.Name, entry.Name.size() == 4 &&
                                            battleCodes.count(Upper(entry.Name.substr(0, 2))));
      heads[size_t(i)].Index = i;
    }
    // The sizes stand in the members' headers (a folder's are its files' sizes already).
    if (count > 0 && !dynamic_cast<TFolderArchive*>(archive.get())) {
      archive->OpenMemberReader()->ReadHeads(heads);
      for (int32_t i = 0; i < count; ++i)
        rows[size_t(i)].Size = heads[size_t(i)].Done ? heads[size_t(i)].Size : -1;
    }
  }
  FModel->SetRows(std::move(rows));
  clear.Done = true;
  ClearPreview();
  if (!chosenName.empty()) ChooseMember(chosenName);
  UpdateActions();
}

const TArchiveRow* TArchiveWindow::RowAt(int sourceRow) const {
  return sourceRow >= 0 && sourceRow < int(FModel->Rows().size())
             ? &FModel->Rows()[size_t(sourceRow)]
             : nullptr;
}

const TArchiveRow* TArchiveWindow::ChosenRow() const {
  const QModelIndexList chosen = tblMembers->selectionModel()->selectedRows();
  if (chosen.size() != 1) return nullptr;
  return RowAt(FProxy->mapToSource(chosen.front()).row());
}

std::vector<int32_t> TArchiveWindow::ChosenMembers() const {
  QModelIndexList chosen = tblMembers->selectionModel()->selectedRows();
  std::sort(chosen.begin(), chosen.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<int32_t> members;
  for (const QModelIndex& index : chosen)
    if (const TArchiveRow* row = RowAt(FProxy->mapToSource(index).row()))
      members.push_back(row->Index);
  return members;
}

bool TArchiveWindow::ChooseMember(const std::string& name) {
  for (int r = 0; r < FProxy->rowCount(); ++r) {
    const QModelIndex index = FProxy->index(r, ColName);
    const TArchiveRow* row = RowAt(FProxy->mapToSource(index).row());
    if (row && SameTextASCII(row->Name, name)) {
      tblMembers->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
      tblMembers->scrollTo(index);
      return true;
    }
  }
  return false;
}

void TArchiveWindow::UpdateActions() {
  const bool open = !FArchive.Path.empty();
  const std::vector<int32_t> chosen = open ? ChosenMembers() : std::vector<int32_t>();
  const TArchiveRow* one = chosen.size() == 1 ? ChosenRow() : nullptr;
  const bool folder = open && FArchive.Class == &TFolderArchive::Class();
  actExtract->setEnabled(!chosen.empty());
  actAdd->setEnabled(open);
  actReplace->setEnabled(one != nullptr);
  actExportPicture->setEnabled(one && (one->Kind == "Texture" || one->Kind == "Battle texture"));
  actRename->setEnabled(one != nullptr);
  actRemove->setEnabled(!chosen.empty());
  // A folder has no table to compact or check.
  actCompact->setEnabled(open && !folder);
  actCheck->setEnabled(open && !folder);
}

void TArchiveWindow::ShowStatus(const std::string& text) {
  lblStatus->setText(Text(text));
}

void TArchiveWindow::ClearPreview() {
  lblPicture->clear();
  lblPicture->setText("Choose a member to see it here");
  stkPreview->setCurrentWidget(lblPicture);
  glPart->ShowPart(nullptr);
  txtPreview->clear();
  lblPreviewInfo->clear();
}

void TArchiveWindow::ShowPreview() {
  const TArchiveRow* row = ChosenRow();
  if (!row) {
    ClearPreview();
    return;
  }
  // A member that does not read as its kind says why under the preview: choosing a
  // damaged member is no error worth a message box.
  try {
    std::unique_ptr<TLGPFile> archive = FArchive.Open();
    const int32_t index =
        archive->IndexOf(row->Name) == row->Index ? row->Index : archive->IndexOf(row->Name);
    if (index < 0) throw Exception(row->Name + " is no longer in the archive");
    const std::string& kind = row->Kind;
    QString info =
        QString("%1: %2, %3 bytes").arg(Text(row->Name), Text(kind), QString::number(row->Size));
    if (kind == "Texture" || kind == "Battle texture") {
      const std::unique_ptr<TMemoryStream> data = archive->ReadMemberToMemory(index);
      const std::string_view bytes = data->View();
      const TTexImage image = ReadTexture(*archive, index);
      QImage picture(image.Pixels.data(), image.Width, image.Height, image.Width * 4,
                     QImage::Format_RGBA8888);
      QPixmap pixmap = QPixmap::fromImage(picture.copy());
      const QSize room = stkPreview->size() - QSize(8, 8);
      if (pixmap.width() > room.width() || pixmap.height() > room.height())
        pixmap = pixmap.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
      else if (pixmap.width() * 2 <= room.width() && pixmap.height() * 2 <= room.height())
        pixmap =
            pixmap.scaled(pixmap.size() * std::max(1, std::min(room.width() / pixmap.width(),
                                                               room.height() / pixmap.height())),
                          Qt::KeepAspectRatio, Qt::FastTransformation);
      lblPicture->setPixmap(pixmap);
      stkPreview->setCurrentWidget(lblPicture);
      const int32_t colours = HeaderI32(bytes, 88);
      const int32_t palettes = HeaderI32(bytes, 48);
      info += QString("\n%1 \u00D7 %2 pixels, ").arg(image.Width).arg(image.Height);
      info += colours == 0
                  ? QString("direct colour")
                  : (palettes > 1 ? QString("%1 palettes of %2 colours").arg(palettes)
                                  : QString("a palette of %2 colours"))
                            .arg(colours) +
                        QString(", colour key %1").arg(HeaderI32(bytes, 8) > 0 ? "on" : "off");
    } else if (kind == "Part" || kind == "Battle part") {
      std::unique_ptr<TMemoryStream> data = archive->ReadMemberToMemory(index);
      data->SetPosition(0);
      std::unique_ptr<TFF7PPart> part = TFF7PPart::CreateFromStream(*data);
      // A field part's textures are named by the resource of the same name, when there
      // is one; without them (or where they fail) the part is drawn untextured.
      if (kind == "Part" && row->Name.size() > 2) {
        const int32_t rsd = archive->IndexOf(row->Name.substr(0, row->Name.size() - 2) + ".RSD");
        try {
          if (rsd >= 0) {
            std::unique_ptr<TMemoryStream> text = archive->ReadMemberToMemory(rsd);
            text->SetPosition(0);
            const TRSDResource resource(*text, archive->EntryAt(rsd).Name, TRSDRules());
            std::vector<std::shared_ptr<const TTexImage>> textures;
            for (int32_t n = 0; n < std::min(resource.TextureCount(), 256); ++n) {
              const int32_t tex = archive->IndexOf(resource.TextureName(n));
              if (tex < 0) throw Exception("missing texture");
              textures.push_back(std::make_shared<TTexImage>(ReadTexture(*archive, tex)));
            }
            part->Textures = std::move(textures);
          }
        } catch (const std::bad_alloc&) {
          throw;
        } catch (const std::exception&) {
          part->Textures.clear();
        }
      }
      info += QString("\n%1 vertices, %2 polygons in %3 groups, %4 texture coordinates")
                  .arg(part->VertexCount())
                  .arg(part->PolyCount())
                  .arg(part->GroupCount())
                  .arg(part->TexCoordCount());
      glPart->ShowPart(std::move(part));
      stkPreview->setCurrentWidget(glPart);
    } else if (kind == "Skeleton" || kind == "Resource") {
      std::unique_ptr<TMemoryStream> data = archive->ReadMemberToMemory(index);
      std::string_view bytes = data->View();
      const bool cut = int64_t(bytes.size()) > TextPreviewBytes;
      if (cut) bytes = bytes.substr(0, size_t(TextPreviewBytes));
      txtPreview->setPlainText(QString::fromLatin1(bytes.data(), qsizetype(bytes.size())) +
                               (cut ? QString("\n...") : QString()));
      stkPreview->setCurrentWidget(txtPreview);
    } else if (kind == "Animation") {
      std::unique_ptr<TMemoryStream> data = archive->ReadMemberToMemory(index);
      const std::string_view bytes = data->View();
      if (int64_t(bytes.size()) < AnimHeaderSize)
        throw Exception("shorter than an animation's header");
      const int32_t bones = HeaderI32(bytes, 8);
      if (bones < 0 || bones > 100000) throw Exception(Format("a bone count of %d", bones));
      const int32_t frames = AnimFrameCount(int64_t(bytes.size()), bones + 1);
      info += QString("\n%1 bones, %2 frames").arg(bones).arg(frames);
      const int32_t written = AnimHeaderFrameCount(bytes);
      if (written != frames) info += QString(" (the header says %1)").arg(written);
      lblPicture->clear();
      lblPicture->setText(QString("%1 bones\n%2 frames").arg(bones).arg(frames));
      stkPreview->setCurrentWidget(lblPicture);
    } else {
      std::unique_ptr<TMemoryStream> data = archive->ReadMemberToMemory(index);
      std::string_view bytes = data->View();
      if (row->Kind.rfind("Battle", 0) == 0)
        info += QString("\nOf the battle model %1").arg(Text(Upper(row->Name.substr(0, 2))));
      txtPreview->setPlainText(
          HexDump(bytes.substr(0, std::min<size_t>(bytes.size(), HexPreviewBytes))) +
          (int64_t(bytes.size()) > HexPreviewBytes ? "..." : ""));
      stkPreview->setCurrentWidget(txtPreview);
    }
    lblPreviewInfo->setText(info);
  } catch (const std::bad_alloc&) {
    ClearPreview();
    lblPreviewInfo->setText("Not enough memory to show this member");
  } catch (const std::exception& e) {
    ClearPreview();
    lblPicture->setText("No preview");
    lblPreviewInfo->setText(Text(row->Name + ": " + e.what()));
  }
}

void TArchiveWindow::ReplaceTexture(const std::string& member, const std::string& file) {
  const TTexImage picture = ReadPictureFile(file);
  Change(
      [&] {
        std::unique_ptr<TLGPFile> archive = FArchive.Open();
        ImportTexture(*archive, member, picture, {});
      },
      Format("Replaced the texture %s with %s", member, file));
}

bool TArchiveWindow::Change(const std::function<void()>& change, const std::string& done) {
  if (!FHost.ArchiveChanging()) return false;
  struct TTellHost {
    TArchiveWindow& Window;
    ~TTellHost() {
      // The archive is read again whether the change was made or not: a failure leaves
      // it as it was, which the list then shows.
      Guarded([this] { Window.Reload(); });
      Window.FHost.ArchiveChanged();
    }
  } tell{*this};
  QApplication::setOverrideCursor(Qt::WaitCursor);
  struct TRestoreCursor {
    ~TRestoreCursor() { QApplication::restoreOverrideCursor(); }
  } restore;
  change();
  ShowStatus(done);
  return true;
}

bool TArchiveWindow::ApplyEdit(const TArchiveEdit& edit, const std::string& done) {
  return Change([&] { EditArchive(FArchive, edit); }, done);
}

void TArchiveWindow::ExtractChosen() {
  const std::vector<int32_t> members = ChosenMembers();
  if (members.empty()) return;
  std::unique_ptr<TLGPFile> archive = FArchive.Open();
  if (members.size() == 1) {
    std::string file = archive->EntryAt(members.front()).Name;
    CheckMemberFileName(file);
    if (!Dialogs().SaveFile("All files|*", "", file)) return;
    ReplaceFileWithBytes(file, archive->ReadMemberToMemory(members.front())->View());
    ShowStatus(Format("Extracted %s into %s", archive->EntryAt(members.front()).Name, file));
    return;
  }
  std::string folder;
  if (!Dialogs().ChooseFolder("", folder)) return;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  // Every name is checked before the first file is written.
  for (int32_t index : members) CheckMemberFileName(archive->EntryAt(index).Name);
  for (int32_t index : members)
    ReplaceFileWithBytes(folder + archive->EntryAt(index).Name,
                         archive->ReadMemberToMemory(index)->View());
  ShowStatus(Format("Extracted %d members into %s", int32_t(members.size()), folder));
}

QStringList TArchiveWindow::ExtractForDrag(const std::vector<int>& rows) {
  // A fresh folder for each drag: the file manager copies the files when the drop ends,
  // and the folder goes with the window or the next drag.
  FDragFolder = std::make_unique<QTemporaryDir>();
  if (!FDragFolder->isValid())
    throw Exception("Cannot make a temporary folder: " + Bytes(FDragFolder->errorString()));
  const std::string folder = QFile::encodeName(FDragFolder->path()).toStdString() + "/";
  std::unique_ptr<TLGPFile> archive = FArchive.Open();
  QStringList files;
  for (int sourceRow : rows) {
    const TArchiveRow* row = RowAt(sourceRow);
    if (!row || row->Index >= archive->Count()) continue;
    CheckMemberFileName(row->Name);
    const std::string file = folder + row->Name;
    ReplaceFileWithBytes(file, archive->ReadMemberToMemory(row->Index)->View());
    files.push_back(QFile::decodeName(file.c_str()));
  }
  return files;
}

void TArchiveWindow::AddFile() {
  if (FArchive.Path.empty()) return;
  std::string file;
  if (!Dialogs().OpenFile("All files|*", "", file)) return;
  DropFiles({QFile::decodeName(file.c_str())}, -1);
}

void TArchiveWindow::DropFiles(const QStringList& files, int32_t onRow) {
  if (FArchive.Path.empty() || files.isEmpty()) return;
  // A picture dropped on a texture: that texture replaced, as tex-import does.
  const TArchiveRow* target = RowAt(onRow);
  if (target && files.size() == 1 && IsPictureFile(files.front()) &&
      (target->Kind == "Texture" || target->Kind == "Battle texture")) {
    const std::string file = QFile::encodeName(files.front()).toStdString();
    if (!Dialogs().Confirm(Format("Replace the texture %s with the picture %s?", target->Name,
                                  QFileInfo(files.front()).fileName().toStdString())))
      return;
    const std::string member = target->Name;
    ReplaceTexture(member, file);
    ChooseMember(member);
    return;
  }
  TArchiveEdit edit;
  std::unique_ptr<TLGPFile> archive = FArchive.Open();
  std::string last;
  for (const QString& path : files) {
    const QFileInfo info(path);
    if (!info.isFile()) throw Exception(Format("%s is not a file", FileName(path)));
    TArchiveEdit::TAdd add;
    add.Name = QFile::encodeName(info.fileName()).toStdString();
    add.Data.Path = QFile::encodeName(path).toStdString();
    if (archive->IndexOf(add.Name) >= 0) {
      switch (Dialogs().Ask(Format("%s is already in the archive. Replace it?", add.Name), true,
                            true)) {
      case TDialogs::TAnswer::Cancel:
        return;
      case TDialogs::TAnswer::No:
        continue;
      case TDialogs::TAnswer::Yes:
        add.Replace = true;
        break;
      }
    }
    last = add.Name;
    edit.Adds.push_back(std::move(add));
  }
  if (edit.Adds.empty()) return;
  archive.reset();
  ApplyEdit(edit, edit.Adds.size() == 1 ? Format("Added %s", last)
                                        : Format("Added %d members", int32_t(edit.Adds.size())));
  ChooseMember(last);
}

void TArchiveWindow::ReplaceChosen() {
  const TArchiveRow* row = ChosenRow();
  if (!row) return;
  const std::string member = row->Name;
  const bool texture = row->Kind == "Texture" || row->Kind == "Battle texture";
  std::string file;
  if (!Dialogs().OpenFile(texture ? "Pictures and textures|*.png *.bmp *.jpg *.jpeg *.gif *.tga "
                                    "*.webp *.tex *.TEX|All files|*"
                                  : "All files|*",
                          "", file))
    return;
  const QString path = QFile::decodeName(file.c_str());
  if (texture && IsPictureFile(path)) {
    ReplaceTexture(member, file);
  } else {
    TMemoryStream data;
    {
      TFileStream source(file, TFileMode::OpenRead);
      data.CopyFrom(source, 0);
    }
    // As replace does: the new data appended, the table pointed at it.
    Change(
        [&] {
          std::unique_ptr<TLGPFile> archive = FArchive.Open();
          const int32_t index = archive->IndexOf(member);
          if (index < 0) throw Exception("no member named " + member);
          archive->WriteMember(index, data);
        },
        Format("Replaced %s with %s", member, file));
  }
  ChooseMember(member);
}

void TArchiveWindow::ExportPicture() {
  const TArchiveRow* row = ChosenRow();
  if (!row) return;
  std::unique_ptr<TLGPFile> archive = FArchive.Open();
  const int32_t index = archive->IndexOf(row->Name);
  if (index < 0) throw Exception("no member named " + row->Name);
  const TTexImage image = ReadTexture(*archive, index);
  std::string file = TexPictureName(row->Name);
  if (!Dialogs().SaveFile("PNG pictures|*.png", "png", file)) return;
  WritePNG(file, image.Width, image.Height, image.Pixels.data(), 4);
  ShowStatus(Format("Wrote %s as %s", row->Name, file));
}

void TArchiveWindow::RenameChosen() {
  const TArchiveRow* row = ChosenRow();
  if (!row) return;
  const std::string old = row->Name;
  std::string name = old;
  if (!Dialogs().InputBox("Rename", "New name of " + old + ":", name) || name == old) return;
  TArchiveEdit edit;
  edit.Renames.emplace_back(old, name);
  ApplyEdit(edit, Format("Renamed %s to %s", old, name));
  ChooseMember(name);
}

void TArchiveWindow::RemoveChosen() {
  const std::vector<int32_t> members = ChosenMembers();
  if (members.empty()) return;
  std::unique_ptr<TLGPFile> archive = FArchive.Open();
  TArchiveEdit edit;
  for (int32_t index : members) edit.Removes.push_back(archive->EntryAt(index).Name);
  archive.reset();
  const std::string what = members.size() == 1
                               ? edit.Removes.front()
                               : Format("these %d members", int32_t(members.size()));
  if (!Dialogs().Confirm(Format("Remove %s from the archive? This cannot be undone.", what), true))
    return;
  ApplyEdit(edit, "Removed " + what);
}

void TArchiveWindow::Compact() {
  TEditResult result;
  const bool done = Change([&] { result = EditArchive(FArchive, {}); }, "");
  if (done)
    ShowStatus(Format("Compacted: saved %d bytes",
                      int64_t(std::max<int64_t>(0, result.OldSize - result.NewSize))));
}

void TArchiveWindow::Check() {
  const std::vector<std::string> problems = CheckArchive(FArchive);
  if (problems.empty()) {
    ShowStatus("Check: no problems found");
    Dialogs().ShowMessage("The archive is sound: no problems found.");
    return;
  }
  std::string text = Format("%d problems found:", int32_t(problems.size()));
  for (const std::string& problem : problems) text += "\n" + problem;
  ShowStatus(Format("Check: %d problems found", int32_t(problems.size())));
  Dialogs().ShowMessage(text);
}

bool TArchiveWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched != tblMembers->viewport()) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
  case QEvent::DragEnter:
  case QEvent::DragMove: {
    auto* drag = static_cast<QDragMoveEvent*>(event);
    // Rows dragged from this list are not dropped back into it.
    if (drag->source() != tblMembers && drag->mimeData()->hasUrls() && !FArchive.Path.empty())
      drag->acceptProposedAction();
    else
      drag->ignore();
    return true;
  }
  case QEvent::Drop: {
    auto* drop = static_cast<QDropEvent*>(event);
    if (drop->source() == tblMembers || !drop->mimeData()->hasUrls()) return true;
    QStringList files;
    for (const QUrl& url : drop->mimeData()->urls())
      if (url.isLocalFile()) files.push_back(url.toLocalFile());
    if (files.isEmpty()) return true;
    drop->acceptProposedAction();
    const QModelIndex at = tblMembers->indexAt(drop->position().toPoint());
    const int row = at.isValid() ? FProxy->mapToSource(at).row() : -1;
    Guarded([&] { DropFiles(files, row); });
    return true;
  }
  default:
    return QWidget::eventFilter(watched, event);
  }
}

void TArchiveWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Another program, or the viewer's save, may have changed the archive meanwhile.
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && Stale())
    Guarded([this] { Reload(); });
}

} // namespace palkor
