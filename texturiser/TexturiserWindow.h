#pragma once

#include "field/FieldModel.h"
#include "geometry/Matrix.h"
#include "render/CgWindow.h"
#include "render/ViewOptions.h"
#include "render/textures.h"
#include "texturiser/PFileDocument.h"

#include <QDialog>

#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QSlider;

namespace palkor {

// The picture in fileName, of any format Qt's image reader knows, as RGBA. Fails with
// "FILE: REASON" for a file that is not such a picture, and as CheckTEXSize does for one
// larger than a texture holds (before its pixels are read).
TTexImage ReadPictureFile(const std::string& fileName);

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

// How the Texturiser draws the part, besides the view's turn and zoom: plain data read
// on every paint, kept with the window and left alone by edits.
struct TTexturiserSwitches {
  // 0 draws every group; n only group n (from 1): Display This... and Display All.
  int32_t DisplayGroup = 0;
  // The polygons' outlines only.
  bool Wireframe = false;
};

// "Texturiser": a modal editor for one P file on disk. Its edits are steps on the
// document's copy of the file's bytes, undone and redone from the Edit menu, and written
// back with Save P; after each the part is read again for the picture, keeping the
// textures Load RSD gave it. Made once and kept, so it keeps its state between openings;
// it is not closed, nor another file opened, over edits not saved without asking.
// Its controls carry object names for tests: bOpenP, bSaveP, bAddTexData, bLoadRSD,
// lbGroups, lbVerts, TrkX, TrkY, TrkZ, trkZoom, chkWire, lblStatus, View, the pop-up
// menu's mDisplayThis, mDisplayAll, mTextureOn, mTextureOff and the Edit menu's mUndo,
// mRedo.
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
  // Load Image...: the picture in fileName (any format Qt reads) written into the TEX
  // file of the part's texture (from 0, as Load RSD found it beside the RSD), its header
  // and kind kept and a picture of more colours than a palette holds quantised, and
  // shown at once. The file is replaced whole or not at all.
  void LoadImage(int32_t texture, const std::string& fileName);
  // The TEX files of the textures Load RSD loaded, in order.
  const std::vector<std::string>& TextureFiles() const { return FTextureFiles; }
  // Asks for U, then V, each starting at the row's value; a cancelled box, or a value
  // that is no number, changes nothing (V is not asked after a bad U).
  void SetTexCoord(int row);
  void TextureOn(bool on);
  void DisplayGroup(bool selectedOnly);
  void SetWireframe(bool on);

  // The bytes differ from the file as it was opened or last saved, by steps not undone.
  bool Modified() const { return FDocument->Modified(); }
  // Before the open file is let go: when it has edits not saved, asks whether to save
  // them. Yes saves (a failed save throws, the edits kept), No drops them; false for
  // Cancel.
  bool QuerySave();

  const TPFileDocument& Document() const { return *FDocument; }
  // The part as read from the document's bytes, with the textures Load RSD made.
  const TFF7PPart& Part() const { return FPart; }
  // The textures of Part() in the view's context.
  const TTextureSet& Textures() const { return FTextures; }
  const TTexturiserSwitches& Switches() const { return FSwitches; }

  // Closing (also by Escape or the title bar) asks about unsaved edits first.
  void done(int result) override;

private:
  friend class TTexView;

  // The part and its lists again, after the bytes changed; the part keeps its textures.
  // The lists keep their chosen rows where these still exist when keepRows.
  void RefreshLists(bool keepRows);
  // The document made, undid or redid a step.
  void StepDone();
  // The status line after an edit: whether the file has edits not saved.
  void EditDone();
  // Centre and radius of the part's vertices; the trackbars reset and Zoom set so that
  // the whole part fills the view.
  void FrameView();
  // The view's picture, in its current context.
  void Paint();
  // The part as drawn: a textured group whose texture is not loaded is drawn in its
  // colours, and only the group on display.
  TFF7PPart ShownPart() const;
  // From the part's coordinates to the eye's, at the given distance from the part's
  // centre, with the Rotate trackbars applied.
  TMatrix4 ViewTransform(double distance) const;

  TPFileDocument* FDocument;
  TFF7PPart FPart;
  TTextureSet FTextures;
  std::vector<std::string> FTextureFiles;
  TTexturiserSwitches FSwitches;
  std::string FLastPFile; // the last file Open P was given, where the next one starts
  TVec3 FCentre;
  double FRadius = 0; // half the diagonal of the box around the part's vertices

  QPushButton *bOpenP, *bSaveP, *bAddTexData, *bLoadRSD, *bLoadImage;
  QListWidget *lbGroups, *lbVerts;
  QSlider *TrkX, *TrkY, *TrkZ, *trkZoom;
  QCheckBox* chkWire;
  QLabel* lblStatus; // what the last command did
  QMenu* popGroups;
  QAction *mDisplayThis, *mDisplayAll, *mTextureOn, *mTextureOff, *mUndo, *mRedo;
  TTexView* View;
};

} // namespace palkor
