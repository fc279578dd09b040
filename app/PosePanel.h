#pragma once

#include "app/AnimationDocument.h"
#include "render/viewerform.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

#include <string>
#include <vector>

namespace palkor {

// Pose editing over the viewer: the bone list at the picture's left, and this panel at
// its right with the three rotation trackbars, their readouts and "Cpy". Choosing a bone
// loads the trackbars from it; moving one writes that component into the frame on show;
// "Cpy" copies the pose on show to every frame. Every edit goes through the animation
// document, so that it can be undone. Usable for a field model only.
class TPosePanel : public QWidget {
  Q_OBJECT
public:
  TPosePanel(TfrmViewer& viewer, TAnimationDocument& document);

  // The model on show changed: the bone tree listed afresh (bone i and, indented by one
  // more space, its children in index order), nothing selected, the trackbars at 0 and
  // enabled for a field model only.
  void ModelChanged();
  // The animation changed by an edit, an undo or a redo: the trackbars show the selected
  // bone as it now is.
  void ShowEdits();
  // The bone of list row row chosen: the trackbars show its rotation at the frame on
  // show, truncated toward zero; the root (which has no rotation of its own) leaves them
  // as they are. Loading them is not an edit.
  void ChooseBone(int row);
  // Trackbar tag (0 X, 1 Y, 2 Z) moved to position: that component of the selected
  // bone's rotation at the frame on show. Nothing without a bone from 1 on selected (the
  // trackbars are disabled then).
  void SetComponent(int tag, int position);
  // Asks, then writes the pose on show into every frame as one step; the last bone is
  // selected afterwards.
  void CopyPoseToEveryFrame();
  // Selects bone (-1 for none) in the list, the trackbars showing it: an undo or a redo
  // puts back the bone its step was made with.
  void SelectBone(int32_t bone);

  // The texture members of the parts on the bone of list row, each once, in part order;
  // the bone list's context menu offers "Replace Texture..." and "Export Texture..." for
  // each.
  std::vector<std::string> TexturesOfBone(int row) const;
  // The texture members of part (its place among the bone's parts) of bone, each once.
  std::vector<std::string> TexturesOfPart(int32_t bone, int32_t part) const;
  // A double-click on a part in the picture: the part's bone chosen in the list and
  // "Replace Texture..." and "Export Texture..." offered for each of the part's textures
  // at global; false (the click frames the model instead) for a part without textures.
  bool OfferPartTextures(int32_t bone, int32_t part, QPoint global);
  // Asks for a picture (any format Qt reads) and makes it the texture member's: written
  // as the member's TEX file (its header and kind kept, a picture of more colours than a
  // palette holds quantised) and shown at once; one step to undo, saved with the
  // animation.
  void ReplaceTexture(const std::string& member);
  // Asks for a PNG file and writes the texture member's picture, as shown, into it.
  void ExportTexture(const std::string& member);

private:
  void ShowTextureMenu(const QPoint& at);
  // The menu of Replace and Export for each of members, shown at global.
  void ShowTextureMenu(const std::vector<std::string>& members, QPoint global);
  // The trackbars enabled while a bone with a rotation (1 on) of a field model is
  // selected; "Cpy" while a field model is shown.
  void UpdateControls();
  void FillBoneList();
  void ShowReadouts();

  TfrmViewer& FViewer;
  TAnimationDocument& FDocument;
  QListWidget* lstParts;
  QSlider *trkRX, *trkRY, *trkRZ;
  // Each trackbar's value in degrees, under it.
  QLabel *lblRX, *lblRY, *lblRZ;
  // Shown in place of the controls, which are disabled, while a battle model is on show.
  QLabel* lblPoseNote;
  QPushButton* btnCopy;
  bool FEditing = false; // a trackbar's own edit is under way: it is not set back
};

} // namespace palkor
