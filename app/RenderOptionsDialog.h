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
  // Where the folder chooser starts while the output folder is empty: the folder used
  // last, or the open archive's.
  void SetStartFolder(const std::string& folder) { FStartFolder = folder; }
  // With an empty output folder, asks for one (starting at the start folder) and puts it
  // in, ending with "/"; false when the user cancels. The output folder as typed stays.
  bool ChooseOutputIfEmpty();

private:
  // Asks for the output folder, starting at start; false when cancelled.
  bool ChooseOutput(const std::string& start);
  std::string FStartFolder;
  QLineEdit* eOutput;
  QPushButton* btnChooseOutput;
  QSlider *trkRepeat, *trkX, *trkY, *trkZ;
  QLabel *lRepeat, *lX, *lY, *lZ;
  QCheckBox *chkPng, *chkAll;
  QPushButton *btnOK, *btnCancel;
};

} // namespace palkor
