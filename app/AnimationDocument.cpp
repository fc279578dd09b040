#include "app/AnimationDocument.h"

#include "field/texwrite.h"
#include "platform/Exceptions.h"
#include "platform/StringList.h"

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

// One texture member's picture, from one image and TEX file to another. The file before
// is what the member held, so that a save after an undo writes it back.
class TTextureCommand : public QUndoCommand {
public:
  TTextureCommand(TAnimationDocument& document, std::string member,
                  std::shared_ptr<const TTexImage> before, std::string beforeBytes,
                  std::shared_ptr<const TTexImage> after, std::string afterBytes,
                  const QString& text)
      : QUndoCommand(text), FDocument(document), FMember(std::move(member)),
        FBefore(std::move(before)), FAfter(std::move(after)), FBeforeBytes(std::move(beforeBytes)),
        FAfterBytes(std::move(afterBytes)) {}

  void redo() override { FDocument.SetTexture(FMember, FAfter, FAfterBytes); }
  void undo() override { FDocument.SetTexture(FMember, FBefore, FBeforeBytes); }

private:
  TAnimationDocument& FDocument;
  std::string FMember;
  std::shared_ptr<const TTexImage> FBefore, FAfter;
  std::string FBeforeBytes, FAfterBytes;
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
  FTextureEdits.clear();
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

std::shared_ptr<const TTexImage> TAnimationDocument::TextureOf(const std::string& member) const {
  if (!FModel) return nullptr;
  for (int32_t b = 0; b < FModel->BoneCount(); ++b)
    for (const auto& part : FModel->GetBone(b).Parts)
      for (size_t t = 0; t < part->Textures.size() && t < part->TextureNames.size(); ++t)
        if (SameTextASCII(part->TextureNames[t], member)) return part->Textures[t];
  return nullptr;
}

std::string TAnimationDocument::TextureBytes(const std::string& member) const {
  auto edit = FTextureEdits.find(UpperCaseASCII(member));
  return edit == FTextureEdits.end() ? std::string() : edit->second.second;
}

void TAnimationDocument::ReplaceTexture(const std::string& member,
                                        std::shared_ptr<const TTexImage> image, std::string bytes,
                                        const QString& text) {
  if (!FModel) return;
  std::shared_ptr<const TTexImage> before = TextureOf(member);
  if (!before) throw Exception(Format("The model shows no texture %s", member));
  std::string beforeBytes = TextureBytes(member);
  if (beforeBytes.empty()) {
    std::unique_ptr<TLGPFile> archive = FModel->LGPClass->Create(FModel->LGPFileName, false);
    const int32_t index = archive->IndexOf(member);
    if (index < 0) throw EListError(index);
    beforeBytes = archive->ReadMemberToMemory(index)->View();
  }
  Push(std::make_unique<TTextureCommand>(*this, member, std::move(before), std::move(beforeBytes),
                                         std::move(image), std::move(bytes), text));
}

void TAnimationDocument::SetTexture(const std::string& member,
                                    const std::shared_ptr<const TTexImage>& image,
                                    const std::string& bytes) {
  for (int32_t b = 0; b < FModel->BoneCount(); ++b)
    for (auto& part : FModel->GetBone(b).Parts)
      for (size_t t = 0; t < part->Textures.size() && t < part->TextureNames.size(); ++t)
        if (SameTextASCII(part->TextureNames[t], member)) part->Textures[t] = image;
  FTextureEdits[UpperCaseASCII(member)] = {member, bytes};
  Notify();
}

void TAnimationDocument::SaveTextures(TLGPFile& archive) const {
  for (const auto& [key, edit] : FTextureEdits) {
    const int32_t index = archive.IndexOf(edit.first);
    if (index < 0) throw EListError(index);
    archive.ModifyMember(
        index, [&](std::string_view current) { return WithTEXHeader(edit.second, current); });
  }
}

void TAnimationDocument::Push(std::unique_ptr<QUndoCommand> command) {
  FUndo.push(command.get());
  command.release();
}

} // namespace palkor
