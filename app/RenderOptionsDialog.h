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
class TRenderOptionsDialog : public QDialog {
  Q_OBJECT
public:
  explicit TRenderOptionsDialog(QWidget* parent = nullptr);

  TFrameOutputOptions Options() const;
  bool AllAnimations() const { return chkAll->isChecked(); }

private:
  QLineEdit* eOutput;
  QPushButton* btnChooseOutput;
  QSlider *trkRepeat, *trkX, *trkY, *trkZ;
  QLabel *lRepeat, *lX, *lY, *lZ;
  QCheckBox *chkPng, *chkAll;
  QPushButton *btnOK, *btnCancel;
};

} // namespace palkor
