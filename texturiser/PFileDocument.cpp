#include "texturiser/PFileDocument.h"

#include "platform/Files.h"

#include <QUndoCommand>

namespace palkor {

// One edit: the whole image before and after it. P files are small, and whole images
// make undo exact whatever the edit moved (Add Tex Data shifts every later section).
class TPFileStep : public QUndoCommand {
public:
  TPFileStep(TPFileDocument& document, const char* name, std::string before, std::string after)
      : QUndoCommand(QString::fromLatin1(name)), FDocument(document), FBefore(std::move(before)),
        FAfter(std::move(after)) {}
  void undo() override { FDocument.FImage.Load(FBefore); }
  void redo() override { FDocument.FImage.Load(FAfter); }

private:
  TPFileDocument& FDocument;
  std::string FBefore, FAfter;
};

// The stack moves its index after it has run a step's undo or redo: only then is its
// clean state the new one.
TPFileDocument::TPFileDocument(QObject* parent) : QObject(parent), FUndo(new QUndoStack(this)) {
  connect(FUndo, &QUndoStack::indexChanged, this, [this] {
    if (!FDroppingSteps) emit Changed();
  });
}

void TPFileDocument::DropSteps() {
  FDroppingSteps = true;
  FUndo->clear();
  FDroppingSteps = false;
}

void TPFileDocument::Open(const std::string& fileName, std::string bytes) {
  DropSteps();
  FImage.Load(std::move(bytes));
  FSavedBytes = FImage.Bytes();
  FFileName = fileName;
}

void TPFileDocument::Save() {
  if (!IsOpen()) throw Exception("No P file is open: use Open P first");
  ReplaceFileWithBytes(FFileName, FImage.Bytes());
  FSavedBytes = FImage.Bytes();
  FUndo->setClean();
}

void TPFileDocument::Revert() {
  DropSteps();
  FImage.Load(FSavedBytes);
}

template <typename Edit>
void TPFileDocument::MakeStep(const char* name, Edit edit) {
  if (FImage.Empty()) throw Exception("No P file is open: use Open P first");
  TPFileImage edited = FImage;
  edit(edited);
  if (edited.Bytes() == FImage.Bytes()) return;
  FUndo->push(new TPFileStep(*this, name, FImage.Bytes(), edited.Bytes()));
}

void TPFileDocument::AddTexData() {
  MakeStep("Add Tex Data", [](TPFileImage& image) { image.AddTexData(); });
}

void TPFileDocument::SetTexCoord(int32_t row, float u, float v) {
  MakeStep("Change TexCoord", [&](TPFileImage& image) { image.SetTexCoord(row, u, v); });
}

void TPFileDocument::TextureOn(int32_t group, bool normals) {
  MakeStep("Texture On", [&](TPFileImage& image) { image.TextureOn(group, normals); });
}

void TPFileDocument::TextureOff(int32_t group) {
  MakeStep("Texture Off", [&](TPFileImage& image) { image.TextureOff(group); });
}

} // namespace palkor
