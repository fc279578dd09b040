#pragma once

#include "archive/ArchiveEdit.h"
#include "archive/LGPFile.h"
#include "field/FieldModel.h"
#include "render/CgWindow.h"
#include "render/textures.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace palkor {

// What a member holds, told by its name: "Skeleton" (.HRC), "Resource" (.RSD), "Part"
// (.P), "Animation" (.A), "Texture" (.TEX), a battle model's members (battle is true for
// a four-letter name whose first two letters name a battle skeleton "..aa" of the same
// archive) "Battle skeleton", "Battle data", "Battle texture", "Battle part", "Battle
// animations"; any other the extension in capitals, or "Other" without one.
std::string MemberKind(const std::string& name, bool battle);

// One member as the Archive window lists it.
struct TArchiveRow {
  int32_t Index = 0; // table position
  std::string Name;
  std::string Kind;
  int64_t Size = -1; // data size; -1 when the member's header cannot be read
  int32_t Offset = 0;
};

// The archive's members as a table of name, kind, size and offset; sorted through
// SortRole (numbers for size and offset). Rows dragged out are extracted into files of a
// temporary folder, handed on as file URLs.
class TArchiveMemberModel : public QAbstractTableModel {
  Q_OBJECT
public:
  static constexpr int SortRole = Qt::UserRole + 1;
  explicit TArchiveMemberModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  void SetRows(std::vector<TArchiveRow> rows);
  const std::vector<TArchiveRow>& Rows() const { return FRows; }
  // Writes the members of the rows into files of their names in a temporary folder and
  // returns the files' paths; set by the window.
  std::function<QStringList(const std::vector<int>& rows)> ExtractForDrag;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

private:
  std::vector<TArchiveRow> FRows;
};

// The small picture of a part chosen in the Archive window, turned three quarters to the
// eye and framed to fill the view, drawn in a GL context of its own.
class TPartPreview : public TCGForm {
  Q_OBJECT
public:
  explicit TPartPreview(QWidget* parent = nullptr);
  ~TPartPreview() override;
  // Shows part (none: an empty picture).
  void ShowPart(std::unique_ptr<TFF7PPart> part);
  const TFF7PPart* Part() const { return FPart.get(); }

protected:
  void initializeGL() override;
  void resizeGL(int width, int height) override;
  void paintGL() override;

private:
  std::unique_ptr<TFF7PPart> FPart;
  TTextureSet FTextures;
};

// What the Archive window asks of the main window around a change of the archive.
class TArchiveHost {
public:
  virtual ~TArchiveHost() = default;
  // Before the archive is changed: edits not yet saved are asked about, as opening
  // another archive asks, and the model on show let go. False (Cancel) changes nothing.
  virtual bool ArchiveChanging() = 0;
  // The archive was changed: the model list is read from it again.
  virtual void ArchiveChanged() = 0;
};

// View > Archive Members: the members of the open archive (LGP file or folder) in a
// sortable table with a filter box, a preview of the member chosen, and the archive's
// edits: Extract (also by dragging rows out), Add (also by dropping files in; an image
// dropped on a texture's row replaces the texture), Replace, Export Picture (textures),
// Rename (F2), Remove (Delete), Compact and Check, each through the operation the
// command line's command uses.
class TArchiveWindow : public QWidget {
  Q_OBJECT
public:
  explicit TArchiveWindow(TArchiveHost& host, QWidget* parent = nullptr);
  ~TArchiveWindow() override;

  // Lists the members of the archive (none for an empty path).
  void SetArchive(const TArchiveKind& archive);
  // Reads the archive's table again, keeping the member chosen when it is still there.
  void Reload();
  const TArchiveKind& Archive() const { return FArchive; }

  // The table positions of the members chosen, in the order shown.
  std::vector<int32_t> ChosenMembers() const;
  // Chooses the member of name (any letter case) as a click would; false when it is not
  // listed.
  bool ChooseMember(const std::string& name);

  // The edits, each asking what it needs through the dialogs.
  void ExtractChosen();
  void AddFile();
  void ReplaceChosen();
  void ExportPicture();
  void RenameChosen();
  void RemoveChosen();
  void Compact();
  void Check();
  // Files dropped on the table: an image dropped on a texture's row (onRow, -1 for none)
  // replaces that texture after asking; otherwise the files are added, a name already
  // there asked about.
  void DropFiles(const QStringList& files, int32_t onRow);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  void ShowPreview();
  void ClearPreview();
  // Applies edit to the archive as one rebuild (EditArchive), the host asked first and
  // told after; false when the host said Cancel.
  bool ApplyEdit(const TArchiveEdit& edit, const std::string& done);
  // Runs change on the archive, the host asked first and told after.
  bool Change(const std::function<void()>& change, const std::string& done);
  // Replaces the texture member with the picture in file, as tex-import does.
  void ReplaceTexture(const std::string& member, const std::string& file);
  void UpdateActions();
  void ShowStatus(const std::string& text);
  // The member of row in the source model, or null.
  const TArchiveRow* RowAt(int sourceRow) const;
  const TArchiveRow* ChosenRow() const;
  QStringList ExtractForDrag(const std::vector<int>& rows);
  // When the file changed since it was listed (another program, a save of the viewer).
  bool Stale() const;

  TArchiveHost& FHost;
  TArchiveKind FArchive;
  QDateTime FListedTime;
  int64_t FListedSize = -1;
  TArchiveMemberModel* FModel;
  QSortFilterProxyModel* FProxy;
  std::unique_ptr<QTemporaryDir> FDragFolder;

  // The window's widgets: tests find them by their object names, which are these names.
  QLineEdit* edFilter;
  QTableView* tblMembers;
  QStackedWidget* stkPreview;
  QLabel* lblPicture;
  QPlainTextEdit* txtPreview;
  TPartPreview* glPart;
  QLabel* lblPreviewInfo;
  QLabel* lblStatus;
  QAction *actExtract, *actAdd, *actReplace, *actExportPicture, *actRename, *actRemove, *actCompact,
      *actCheck;
};

} // namespace palkor
