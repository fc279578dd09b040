#pragma once

#include "app/exportjobs.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <string>
#include <vector>

namespace palkor {

// "Export glTF": which animations go with the shown model, the bind pose, and the file
// to write. Made once and kept, so the choices last for the run.
class TfrmExport : public QDialog {
  Q_OBJECT
public:
  explicit TfrmExport(QWidget* parent = nullptr);

  // Fills the dialog for the model on show: the number of animations offered with it,
  // the current animation's name ("" when there is none: only the offered ones can be
  // exported) and the file name proposed.
  void Prepare(bool battle, int32_t offered, const std::string& current,
               const std::string& fileName);
  bool OnlyCurrent() const { return rbCurrent->isChecked(); }
  // The bind pose chosen; Export All Models shares the choice.
  TBindPose BindPose() const;
  void SetBindPose(TBindPose pose);
  // The file name as typed, in the system's encoding.
  std::string FileName() const;
  // True while the file name is the one the save dialog gave: the user has already been
  // asked there about replacing the file.
  bool ReplaceAsked() const;

private:
  QRadioButton *rbAll, *rbCurrent;
  QRadioButton *rbBindZero, *rbBindFirstFrame;
  QLineEdit* eFileName;
  QPushButton *btnBrowse, *btnOK, *btnCancel;
  QString FAsked;
};

// The summary after Export All Models: "Exported N of M models to FOLDER." and a line
// "NAME: MESSAGE" for each failure, at most 20, then "... and K more".
// The bind poses as Export All Models offers them, in TBindPose's order.
std::vector<std::string> BindPoseNames();

std::string ExportAllSummary(const TExportAllProgress& result, const std::string& folder);

} // namespace palkor
