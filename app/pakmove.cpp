#include "app/pakmove.h"

#include "platform/Dialogs.h"

#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>

namespace palkor {

TfrmPakMove::TfrmPakMove(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Animation Output");
  setFixedSize(371, 231);
  auto* grid = new QGridLayout(this);

  grid->addWidget(new QLabel("Output folder:", this), 0, 0);
  eOutput = new QLineEdit(this);
  grid->addWidget(eOutput, 0, 1, 1, 2);
  Button1 = new QPushButton("...", this);
  Button1->setFixedWidth(30);
  grid->addWidget(Button1, 0, 3);
  // The prefix is used as typed; the chooser fills in a folder ending with "/".
  connect(Button1, &QPushButton::clicked, this, [this] {
    std::string folder;
    if (Dialogs().ChooseFolder(QFile::encodeName(eOutput->text()).toStdString(), folder))
      eOutput->setText(QFile::decodeName(folder.c_str()) + "/");
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
  row("# animations:", trkAnim, lAnim, 1, 50, 0, 1);
  row("X increment:", trkX, lX, 0, 359, 10, 2);
  row("Y increment:", trkY, lY, 0, 359, 10, 3);
  row("Z increment:", trkZ, lZ, 0, 359, 10, 4);

  chkPng = new QCheckBox("Output PNGs", this);
  chkAll = new QCheckBox("Process all animations", this);
  grid->addWidget(chkPng, 5, 0, 1, 2);
  grid->addWidget(chkAll, 5, 2, 1, 2);
  auto* buttons = new QHBoxLayout();
  BitBtn1 = new QPushButton("OK", this);
  BitBtn2 = new QPushButton("Cancel", this);
  BitBtn1->setDefault(true);
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  grid->addLayout(buttons, 6, 0, 1, 4);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

TFrameOutputOptions TfrmPakMove::Options() const {
  TFrameOutputOptions options;
  options.Prefix = QFile::encodeName(eOutput->text()).toStdString();
  options.Repeat = trkAnim->value();
  options.IncX = trkX->value();
  options.IncY = trkY->value();
  options.IncZ = trkZ->value();
  options.Png = chkPng->isChecked();
  return options;
}

} // namespace palkor
