#pragma once

#include "field/FieldModel.h"
#include "geometry/Matrix.h"
#include "render/CgWindow.h"
#include "render/ViewOptions.h"
#include "render/textures.h"
#include "texturiser/pedit.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSlider>

#include <functional>
#include <string>

namespace palkor {

class TTexturiserWindow;

// The Texturiser's picture: the part being edited, in a GL context of its own.
class TTexView : public TCGForm {
  Q_OBJECT
public:
  explicit TTexView(TTexturiserWindow& owner, QWidget* parent = nullptr);

protected:
  void initializeGL() override;
  void resizeGL(int width, int height) override;
  void paintGL() override;

private:
  TTexturiserWindow& FOwner;
};

// "Texturiser": a modal editor for one P file on disk. Its edits are made on a copy of
// the file's bytes and written back with Save P; after each the part is read again for
// the picture, keeping the textures Load RSD gave it. Made once and kept, so it keeps its
// state between openings; it is not closed, nor another file opened, over edits not
// saved without asking.
class TTexturiserWindow : public QDialog {
  Q_OBJECT
public:
  explicit TTexturiserWindow(QWidget* parent = nullptr);
  ~TTexturiserWindow() override;

  // The commands with their answers known (the buttons ask through the dialogs). Open P
  // reads and checks the new file first, then asks about the open one's unsaved edits
  // (Cancel keeps it open); it frames the new part. Load RSD replaces the textures only
  // when every one named was read.
  void OpenP(const std::string& fileName);
  void SaveP();
  void AddTexData();
  void LoadRSD(const std::string& fileName);
  // Asks for U, then V, each starting at the row's value; a cancelled box, or a value
  // that is no number, changes nothing (V is not asked after a bad U).
  void SetTexCoord(int row);
  void TextureOn(bool on);
  void DisplayGroup(bool selectedOnly);
  void SetWireframe(bool on);
  // The part and its lists again, after the bytes changed; the part keeps its textures
  // and the group on display.
  void RefreshLists();

  // The bytes differ from the file as it was opened or last saved.
  bool Modified() const;
  // Before the open file is let go: when it has edits not saved, asks whether to save
  // them. Yes saves (a failed save throws, the edits kept), No drops them; false for
  // Cancel.
  bool QuerySave();
  // The part as the view draws it: a textured group whose texture is not loaded is
  // drawn in its colours.
  TFF7PPart ShownPart() const;
  // From the part's coordinates to the eye's, at the given distance from the part's
  // centre, with the Rotate trackbars applied.
  TMatrix4 ViewTransform(double distance) const;
  // Half the diagonal of the box around the part's vertices.
  double PartRadius() const { return FRadius; }

  TPFileImage PData;
  TFF7PPart EditPart;
  // The textures Load RSD made, in the view's context.
  TTextureSet EditTextures;
  // How the view draws the part: the group on display and the wireframe switch.
  TViewOptions ViewOptions;
  std::string PFileName; // the file open
  std::string LastPFile; // the last file Open P was given, where the next one starts
  QPushButton *bOpenP, *bSaveP, *bAddTexData, *bLoadRSD;
  QListWidget *lbGroups, *lbVerts;
  QSlider *TrkX, *TrkY, *TrkZ, *trkZoom;
  QCheckBox* chkWire;
  QLabel* lblStatus; // what the last command did
  QMenu* popGroups;
  QAction *mDisplayThis, *mDisplayAll, *mTextureOn, *mTextureOff;
  TTexView* View;

  // Closing (also by Escape or the title bar) asks about unsaved edits first.
  void done(int result) override;

private:
  // Centre and radius of the part's vertices; the trackbars reset and Zoom set so that
  // the whole part fills the view.
  void FrameView();
  void EditDone();

  std::string FSavedBytes; // the file as opened or last saved
  TVec3 FCentre;
  double FRadius = 0;
};

} // namespace palkor
