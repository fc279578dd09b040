#pragma once

#include "app/frameoutput.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

namespace palkor {

// "Animation Output": the options of File > Render Animation. Made once and kept, so
// its settings last for the run.
class TfrmPakMove : public QDialog {
  Q_OBJECT
public:
  explicit TfrmPakMove(QWidget* parent = nullptr);

  TFrameOutputOptions Options() const;
  bool AllAnimations() const { return chkAll->isChecked(); }

  QLineEdit* eOutput;
  QPushButton* Button1;
  QSlider *trkAnim, *trkX, *trkY, *trkZ;
  QLabel *lAnim, *lX, *lY, *lZ;
  QCheckBox *chkPng, *chkAll;
  QPushButton *BitBtn1, *BitBtn2;
};

} // namespace palkor
