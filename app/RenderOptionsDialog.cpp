#include "app/RenderOptionsDialog.h"

#include "platform/Dialogs.h"
#include "render/QtGuard.h"

#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>

namespace palkor {

TRenderOptionsDialog::TRenderOptionsDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Animation Output");
  setFixedSize(371, 231);
  auto* grid = new QGridLayout(this);

  grid->addWidget(new QLabel("Output folder:", this), 0, 0);
  eOutput = new QLineEdit(this);
  grid->addWidget(eOutput, 0, 1, 1, 2);
  btnChooseOutput = new QPushButton("...", this);
  btnChooseOutput->setFixedWidth(30);
  grid->addWidget(btnChooseOutput, 0, 3);
  // The prefix is used as typed; the chooser fills in a folder ending with "/".
  ConnectGuarded(btnChooseOutput, &QPushButton::clicked, this, [this] {
    ChooseOutput(eOutput->text().isEmpty() ? FStartFolder
                                           : QFile::encodeName(eOutput->text()).toStdString());
  });

  auto row = [&](const char* caption, QSlider*& slider, QLabel*& label, int minimum, int maximum,
                 int tick, int line) {
    grid->addWidget(new QLabel(caption, this), line, 0);
    slider = new QSlider(Qt::Horizontal, this);
    slider->setRange(minimum, maximum);
    if (tick > 0) {
      slider->setTickInterval(tick);
      slider->setTickPosition(QSlider::TicksBelow);
    }
    label = new QLabel(QString::number(minimum), this);
    label->setMinimumWidth(28);
    grid->addWidget(slider, line, 1, 1, 2);
    grid->addWidget(label, line, 3);
    connect(slider, &QSlider::valueChanged, label, [label](int value) { label->setNum(value); });
  };
  row("# animations:", trkRepeat, lRepeat, 1, 50, 0, 1);
  row("X increment:", trkX, lX, 0, 359, 10, 2);
  row("Y increment:", trkY, lY, 0, 359, 10, 3);
  row("Z increment:", trkZ, lZ, 0, 359, 10, 4);

  chkPng = new QCheckBox("Output PNGs", this);
  chkAll = new QCheckBox("Process all animations", this);
  grid->addWidget(chkPng, 5, 0, 1, 2);
  grid->addWidget(chkAll, 5, 2, 1, 2);
  auto* buttons = new QHBoxLayout();
  btnOK = new QPushButton("OK", this);
  btnCancel = new QPushButton("Cancel", this);
  btnOK->setDefault(true);
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  grid->addLayout(buttons, 6, 0, 1, 4);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  for (auto [widget, name] : {std::pair<QWidget*, const char*>{eOutput, "eOutput"},
                              {btnChooseOutput, "btnChooseOutput"},
                              {trkRepeat, "trkRepeat"},
                              {trkX, "trkX"},
                              {trkY, "trkY"},
                              {trkZ, "trkZ"},
                              {lRepeat, "lRepeat"},
                              {lX, "lX"},
                              {lY, "lY"},
                              {lZ, "lZ"},
                              {chkPng, "chkPng"},
                              {chkAll, "chkAll"},
                              {btnOK, "btnOK"},
                              {btnCancel, "btnCancel"}})
    widget->setObjectName(name);
}

bool TRenderOptionsDialog::ChooseOutput(const std::string& start) {
  std::string folder;
  if (!Dialogs().ChooseFolder(start, folder)) return false;
  if (folder.empty() || folder.back() != '/') folder += '/';
  eOutput->setText(QFile::decodeName(folder.c_str()));
  return true;
}

bool TRenderOptionsDialog::ChooseOutputIfEmpty() {
  return !eOutput->text().isEmpty() || ChooseOutput(FStartFolder);
}

TFrameOutputOptions TRenderOptionsDialog::Options() const {
  TFrameOutputOptions options;
  options.Prefix = QFile::encodeName(eOutput->text()).toStdString();
  options.Repeat = trkRepeat->value();
  options.IncX = trkX->value();
  options.IncY = trkY->value();
  options.IncZ = trkZ->value();
  options.Png = chkPng->isChecked();
  return options;
}

} // namespace palkor
