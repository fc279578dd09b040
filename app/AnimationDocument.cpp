#include "app/AnimationDocument.h"

#include "platform/Exceptions.h"

#include <QUndoCommand>

#include <memory>

namespace palkor {

// One bone's rotation at one frame, from before to after.
class TRotationCommand : public QUndoCommand {
public:
  TRotationCommand(TAnimationDocument& document, int32_t bone, int32_t frame, const TVec3& before,
                   const TVec3& after, bool merge, int drag)
      : QUndoCommand(QString("Turn %1").arg(
            QString::fromLatin1(document.Model()->GetBone(bone).Name.c_str()))),
        FDocument(document), FBone(bone), FFrame(frame), FBefore(before), FAfter(after),
        FMerge(merge), FDrag(drag) {}

  void redo() override {
    Apply(FAfter, FDone);
    FDone = true;
  }
  void undo() override { Apply(FBefore, true); }
  int id() const override { return 1; }
  bool mergeWith(const QUndoCommand* other) override {
    const auto* next = static_cast<const TRotationCommand*>(other);
    if (!FMerge || !next->FMerge || next->FDrag != FDrag || next->FBone != FBone ||
        next->FFrame != FFrame)
      return false;
    FAfter = next->FAfter;
    return true;
  }

private:
  void Apply(const TVec3& rotation, bool again) {
    FDocument.Model()->SetRotation(FBone, FFrame, rotation);
    if (again) FDocument.Select(FBone);
    FDocument.Notify();
  }

  TAnimationDocument& FDocument;
  int32_t FBone, FFrame;
  TVec3 FBefore, FAfter;
  bool FMerge;
  int FDrag;
  bool FDone = false; // done once: a redo from now on is one done again
};

// The whole animation, from one A file to another.
class TAnimationBytesCommand : public QUndoCommand {
public:
  TAnimationBytesCommand(TAnimationDocument& document, std::string before, std::string after,
                         const QString& text, int32_t selectedBone)
      : QUndoCommand(text), FDocument(document), FBefore(std::move(before)),
        FAfter(std::move(after)), FSelectedBone(selectedBone) {}

  void redo() override {
    Apply(FAfter, FDone);
    FDone = true;
  }
  void undo() override { Apply(FBefore, true); }

private:
  void Apply(const std::string& bytes, bool again) {
    TFieldModel& model = *FDocument.Model();
    const int32_t frame = model.CurrentFrame;
    model.ReplaceAnimation(bytes);
    // The frame on show stays, where the animation still has it.
    if (frame < model.FrameCount) model.SetFrame(frame);
    if (again) FDocument.Select(FSelectedBone);
    FDocument.Notify();
  }

  TAnimationDocument& FDocument;
  std::string FBefore, FAfter;
  int32_t FSelectedBone;
  bool FDone = false;
};

// A battle animation's frames, from one set to another; undone, the animation is marked
// modified as it was before.
class TBattleAnimationCommand : public QUndoCommand {
public:
  TBattleAnimationCommand(TAnimationDocument& document, int32_t index,
                          std::vector<TBattleFrame> before, std::vector<TBattleFrame> after,
                          bool wasModified, const QString& text)
      : QUndoCommand(text), FDocument(document), FIndex(index), FBefore(std::move(before)),
        FAfter(std::move(after)), FWasModified(wasModified) {}

  void redo() override {
    FDocument.BattleModel()->SetAnimation(FIndex, FAfter);
    FDocument.Notify();
  }
  void undo() override {
    FDocument.BattleModel()->SetAnimation(FIndex, FBefore, FWasModified);
    FDocument.Notify();
  }

private:
  TAnimationDocument& FDocument;
  int32_t FIndex;
  std::vector<TBattleFrame> FBefore, FAfter;
  bool FWasModified;
};

TAnimationDocument::TAnimationDocument(QObject* parent) : QObject(parent) {
  connect(&FUndo, &QUndoStack::cleanChanged, this,
          [this](bool clean) { emit ModifiedChanged((FModel || FBattle) && !clean); });
}

void TAnimationDocument::Attach(TFieldModel* field, TBattleModel* battle) {
  const bool wasModified = Modified();
  FModel = field;
  FBattle = field ? nullptr : battle;
  FUndo.clear();
  FUndo.setClean();
  if (wasModified) emit ModifiedChanged(false);
}

void TAnimationDocument::SetRotation(int32_t bone, int32_t frame, const TVec3& rotation,
                                     bool merge) {
  if (!FModel) return;
  const TVec3 before = FModel->GetRotation(bone, frame);
  // Checked before it goes on the stack: a step that fails is not taken.
  FModel->SetRotation(bone, frame, rotation);
  FModel->SetRotation(bone, frame, before);
  FUndo.push(new TRotationCommand(*this, bone, frame, before, rotation, merge, FDrag));
}

void TAnimationDocument::CopyPoseToEveryFrame(int32_t frame, int32_t selectedBone) {
  if (!FModel) return;
  std::string before(FModel->AnimData.View()), after = before;
  const int32_t bones = FModel->BoneCount();
  for (int32_t f = 0; f < FModel->FrameCount; ++f)
    for (int32_t b = 1; b < bones; ++b)
      SetAnimRotation(after, bones, b, f, AnimRotation(before, bones, b, frame));
  FUndo.push(new TAnimationBytesCommand(*this, std::move(before), std::move(after),
                                        "Copy the pose to every frame", selectedBone));
}

void TAnimationDocument::ReplaceAnimation(std::string bytes, const QString& text,
                                          int32_t selectedBone) {
  if (!FModel) return;
  if (AnimFrameCount(int64_t(bytes.size()), FModel->BoneCount()) < 1) throw EReadError();
  Push(std::make_unique<TAnimationBytesCommand>(*this, std::string(FModel->AnimData.View()),
                                                std::move(bytes), text, selectedBone));
}

void TAnimationDocument::ReplaceBattleAnimation(int32_t index, std::vector<TBattleFrame> frames,
                                                const QString& text) {
  if (!FBattle) return;
  CheckListIndex(index, FBattle->AnimCount());
  std::vector<TBattleFrame> before = FBattle->Anims->Anims[size_t(index)].Frames;
  Push(std::make_unique<TBattleAnimationCommand>(*this, index, std::move(before), std::move(frames),
                                                 FBattle->AnimationModified(index), text));
}

void TAnimationDocument::Push(std::unique_ptr<QUndoCommand> command) {
  FUndo.push(command.get());
  command.release();
}

} // namespace palkor
