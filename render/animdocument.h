#pragma once

#include "field/FieldModel.h"

#include <QObject>
#include <QUndoStack>

#include <string>

namespace palkor {

// The field animation on show and its edits. Every edit is a command on the undo stack,
// so that it can be taken back and done again; the animation is modified exactly while
// the stack is away from the state last saved (or loaded).
class TAnimationDocument : public QObject {
  Q_OBJECT
public:
  explicit TAnimationDocument(QObject* parent = nullptr);

  QUndoStack& UndoStack() { return FUndo; }
  // The model whose animation is edited, or none; the history starts afresh.
  void Attach(TFieldModel* model);
  TFieldModel* Model() const { return FModel; }

  // Bone's rotation at frame. Steps for the same bone and frame with merge set, made
  // between one BeginDrag and the next (a trackbar being dragged), become one step.
  void SetRotation(int32_t bone, int32_t frame, const TVec3& rotation, bool merge);
  void BeginDrag() { ++FDrag; }
  // Every frame's bone rotations made those of frame (each frame's two leading triples
  // stay its own): one step.
  void CopyPoseToEveryFrame(int32_t frame);
  // A whole A file in place of the animation (an import): one step named text.
  void ReplaceAnimation(std::string bytes, const QString& text);

  bool Modified() const { return FModel && !FUndo.isClean(); }
  // The animation is as the archive now holds it.
  void MarkSaved() { FUndo.setClean(); }

signals:
  // The animation changed: by an edit, an undo or a redo.
  void Changed();
  void ModifiedChanged(bool modified);

private:
  friend class TRotationCommand;
  friend class TAnimationBytesCommand;
  void Notify() { emit Changed(); }

  TFieldModel* FModel = nullptr;
  QUndoStack FUndo;
  int FDrag = 0;
};

} // namespace palkor
