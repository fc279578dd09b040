#pragma once

#include "battle/BattleModel.h"
#include "field/FieldModel.h"

#include <QObject>
#include <QUndoStack>

#include <map>
#include <memory>

#include <string>
#include <vector>

namespace palkor {

// The animations of the model on show and their edits: a field model's animation (pose
// edits, an import) or a battle model's animations (imports). Every edit is a command on
// the undo stack, so that it can be taken back and done again; the animations are
// modified exactly while the stack is away from the state last saved (or loaded).
class TAnimationDocument : public QObject {
  Q_OBJECT
public:
  explicit TAnimationDocument(QObject* parent = nullptr);

  QUndoStack& UndoStack() { return FUndo; }
  // The model whose animations are edited: a field model, a battle model, or none; the
  // history starts afresh.
  void Attach(TFieldModel* field, TBattleModel* battle = nullptr);
  TFieldModel* Model() const { return FModel; }
  TBattleModel* BattleModel() const { return FBattle; }

  // Bone's rotation at frame. Steps for the same bone and frame with merge set, made
  // between one BeginDrag and the next (a trackbar being dragged), become one step.
  // Undone or done again, the step selects bone again (BoneSelected).
  void SetRotation(int32_t bone, int32_t frame, const TVec3& rotation, bool merge);
  void BeginDrag() { ++FDrag; }
  // Every frame's bone rotations made those of frame (each frame's two leading triples
  // stay its own): one step, made with selectedBone selected (-1 for none), which undoing
  // or doing it again selects again.
  void CopyPoseToEveryFrame(int32_t frame, int32_t selectedBone = -1);
  // A whole A file in place of the field animation (an import): one step named text, as
  // CopyPoseToEveryFrame for selectedBone.
  void ReplaceAnimation(std::string bytes, const QString& text, int32_t selectedBone = -1);
  // Frames in place of the battle model's animation index (an import): one step named
  // text. Nothing changes when the model cannot take them.
  void ReplaceBattleAnimation(int32_t index, std::vector<TBattleFrame> frames, const QString& text);

  // The field model's texture member shows image (decoded from bytes, the member's new
  // TEX file) in every part that uses it: one step named text. Nothing without a field
  // model.
  void ReplaceTexture(const std::string& member, std::shared_ptr<const TTexImage> image,
                      std::string bytes, const QString& text);
  // The image the model on show has for the texture member (any letter case); none when
  // no part uses it.
  std::shared_ptr<const TTexImage> TextureOf(const std::string& member) const;
  // The TEX file a replaced texture member has now, not yet saved; empty for a member
  // not replaced since the last save.
  std::string TextureBytes(const std::string& member) const;
  // Writes the texture members replaced since the last save into archive, each under
  // the archive's lock with the header the member then has.
  void SaveTextures(TLGPFile& archive) const;

  bool Modified() const { return (FModel || FBattle) && !FUndo.isClean(); }
  // The animations and textures are as the archive now holds them.
  void MarkSaved() {
    FTextureEdits.clear();
    FUndo.setClean();
  }

signals:
  // The animations changed: by an edit, an undo or a redo.
  void Changed();
  // A step of a field animation was undone or done again: the bone selected when it was
  // made (-1 for none) is selected again. Comes before the step's Changed.
  void BoneSelected(int32_t bone);
  void ModifiedChanged(bool modified);

private:
  friend class TRotationCommand;
  friend class TAnimationBytesCommand;
  friend class TBattleAnimationCommand;
  friend class TTextureCommand;
  // The parts' images of member become image, and the member's file to save bytes.
  void SetTexture(const std::string& member, const std::shared_ptr<const TTexImage>& image,
                  const std::string& bytes);
  void Notify() { emit Changed(); }
  void Select(int32_t bone) { emit BoneSelected(bone); }
  // Pushes a command whose first redo may fail: then it is neither kept nor leaked.
  void Push(std::unique_ptr<QUndoCommand> command);

  TFieldModel* FModel = nullptr;
  TBattleModel* FBattle = nullptr;
  QUndoStack FUndo;
  int FDrag = 0;
  // Texture members replaced since the last save, by upper-case name: the archive's name
  // and the new TEX file.
  std::map<std::string, std::pair<std::string, std::string>> FTextureEdits;
};

} // namespace palkor
