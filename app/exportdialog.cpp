#include "app/exportdialog.h"

#include "render/QtGuard.h"
#include "render/QtText.h"

#include "platform/Dialogs.h"
#include "platform/Exceptions.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace palkor {

TfrmExport::TfrmExport(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Export glTF");
  auto* layout = new QVBoxLayout(this);

  auto* anims = new QGroupBox("Animations", this);
  auto* animsLayout = new QVBoxLayout(anims);
  rbAll = new QRadioButton(anims);
  rbCurrent = new QRadioButton(anims);
  rbAll->setChecked(true);
  animsLayout->addWidget(rbAll);
  animsLayout->addWidget(rbCurrent);
  layout->addWidget(anims);

  // What a 3D program shows as the model's rest: lying flat with every rotation 0, or
  // standing as the first animation starts.
  auto* bind = new QGroupBox("Bind pose", this);
  auto* bindLayout = new QVBoxLayout(bind);
  const std::vector<std::string> poses = BindPoseNames();
  rbBindZero = new QRadioButton(QString::fromStdString(poses[0]), bind);
  rbBindFirstFrame = new QRadioButton(QString::fromStdString(poses[1]), bind);
  rbBindZero->setChecked(true);
  bindLayout->addWidget(rbBindZero);
  bindLayout->addWidget(rbBindFirstFrame);
  layout->addWidget(bind);

  auto* file = new QHBoxLayout();
  file->addWidget(new QLabel("File:", this));
  eFileName = new QLineEdit(this);
  eFileName->setMinimumWidth(320);
  file->addWidget(eFileName, 1);
  btnBrowse = new QPushButton("...", this);
  btnBrowse->setFixedWidth(30);
  file->addWidget(btnBrowse);
  layout->addLayout(file);
  ConnectGuarded(btnBrowse, &QPushButton::clicked, this, [this] {
    std::string name = FileName();
    if (!Dialogs().SaveFile("glTF binary|*.glb|glTF|*.gltf", "glb", name)) return;
    FAsked = QFile::decodeName(name.c_str());
    eFileName->setText(FAsked);
  });

  auto* buttons = new QHBoxLayout();
  btnOK = new QPushButton("OK", this);
  btnCancel = new QPushButton("Cancel", this);
  btnOK->setDefault(true);
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  layout->addLayout(buttons);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  // Nothing to write to without a name.
  connect(eFileName, &QLineEdit::textChanged, this,
          [this](const QString& text) { btnOK->setEnabled(!text.trimmed().isEmpty()); });
  layout->setSizeConstraint(QLayout::SetFixedSize);
  for (auto [widget, name] : {std::pair<QWidget*, const char*>{rbAll, "rbAll"},
                              {rbCurrent, "rbCurrent"},
                              {rbBindZero, "rbBindZero"},
                              {rbBindFirstFrame, "rbBindFirstFrame"},
                              {eFileName, "eFileName"},
                              {btnBrowse, "btnBrowse"},
                              {btnOK, "btnOK"},
                              {btnCancel, "btnCancel"}})
    widget->setObjectName(name);
}

void TfrmExport::Prepare(bool battle, int32_t offered, const std::string& current,
                         const std::string& fileName) {
  rbAll->setText(QString(battle ? "Every animation of the model (%1)"
                                : "Every animation offered for the model (%1)")
                     .arg(offered));
  rbCurrent->setText("Only the current animation (" + Text(current) + ")");
  rbCurrent->setEnabled(!current.empty());
  if (current.empty()) rbAll->setChecked(true);
  FAsked.clear();
  eFileName->setText(QFile::decodeName(fileName.c_str()));
  btnOK->setEnabled(!eFileName->text().trimmed().isEmpty());
}

std::string TfrmExport::FileName() const {
  return palkor::FileName(eFileName->text());
}

TBindPose TfrmExport::BindPose() const {
  return rbBindFirstFrame->isChecked() ? TBindPose::FirstFrame : TBindPose::Zero;
}

void TfrmExport::SetBindPose(TBindPose pose) {
  (pose == TBindPose::FirstFrame ? rbBindFirstFrame : rbBindZero)->setChecked(true);
}

std::vector<std::string> BindPoseNames() {
  return {"Every rotation 0", "Frame 0 of the first animation"};
}

bool TfrmExport::ReplaceAsked() const {
  return !FAsked.isEmpty() && eFileName->text() == FAsked;
}

std::string ExportAllSummary(const TExportAllProgress& result, const std::string& folder) {
  constexpr size_t Listed = 20;
  std::string text = Format("Exported %d of %d models to %s.",
                            result.Done - int32_t(result.Failures.size()), result.Total, folder);
  for (size_t k = 0; k < result.Failures.size() && k < Listed; ++k)
    text += "\n" + result.Failures[k].first + ": " + result.Failures[k].second;
  if (result.Failures.size() > Listed)
    text += Format("\n... and %d more", int32_t(result.Failures.size() - Listed));
  return text;
}

} // namespace palkor
