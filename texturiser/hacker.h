#pragma once

#include "field/ff73d.h"
#include "render/CgWindow.h"
#include "render/textures.h"
#include "texturiser/pedit.h"

#include <QCheckBox>
#include <QDialog>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSlider>

#include <functional>
#include <string>

namespace palkor {

class TfrmTex;

// The Texturiser's picture: the part being edited, in a GL context of its own.
class TTexView : public TCGForm {
  Q_OBJECT
public:
  explicit TTexView(TfrmTex& owner, QWidget* parent = nullptr);

protected:
  void initializeGL() override;
  void resizeGL(int width, int height) override;
  void paintGL() override;

private:
  TfrmTex& FOwner;
};

// "Texturiser": a modal editor for one P file on disk. Its edits are made on a copy of
// the file's bytes and written back with Save P; after each the part is read again for
// the picture. Made once and kept, so it keeps its state between openings.
class TfrmTex : public QDialog {
  Q_OBJECT
public:
  explicit TfrmTex(QWidget* parent = nullptr);
  ~TfrmTex() override;

  // The commands with their answers known (the buttons ask through the dialogs).
  void OpenP(const std::string& fileName);
  void SaveP();
  void AddTexData();
  void LoadRSD(const std::string& fileName);
  void SetTexCoord(int row);
  void TextureOn(bool on);
  void DisplayGroup(bool selectedOnly);
  void SetWireframe(bool on);
  // The part's lists again, after the bytes changed. The part's textures are gone then:
  // Load RSD has to be repeated to see them.
  void RefreshLists();

  TPFileImage PData;
  TFF7PPart EditPart;
  // The textures Load RSD made, in the view's context.
  TTextureSet EditTextures;
  std::string PFileName; // the file Open P chose
  QPushButton *bOpenP, *bSaveP, *bAddTexData, *bLoadRSD;
  QListWidget *lbGroups, *lbVerts;
  QSlider *TrkX, *TrkY, *TrkZ, *trkZoom;
  QCheckBox* chkWire;
  QMenu* popGroups;
  QAction *mDisplayThis, *mDisplayAll, *mTextureOn, *mTextureOff;
  TTexView* View;
};

} // namespace palkor
