#pragma once

#include "texturiser/pedit.h"

#include <QObject>
#include <QUndoStack>

#include <string>

namespace palkor {

// The P file the Texturiser edits: its bytes, the file they belong to, and every edit as
// a step on an undo stack. The document is modified while the stack is away from its
// clean state, which opening and saving set; a step undone or redone puts back the very
// bytes it had before or after.
class TPFileDocument : public QObject {
  Q_OBJECT
public:
  explicit TPFileDocument(QObject* parent = nullptr);

  // Takes the bytes read from fileName (checked by the caller) as the saved state, with
  // no steps.
  void Open(const std::string& fileName, std::string bytes);
  // Writes the bytes over the file, which they then are the saved state of. "No P file
  // is open: use Open P first" before any Open; a write that fails keeps the edits.
  void Save();
  // Drops every edit since the file was opened or last saved, steps included.
  void Revert();

  bool IsOpen() const { return !FFileName.empty(); }
  const std::string& FileName() const { return FFileName; }
  const TPFileImage& Image() const { return FImage; }
  const std::string& Bytes() const { return FImage.Bytes(); }
  bool Modified() const { return IsOpen() && !FUndo->isClean(); }
  QUndoStack& UndoStack() { return *FUndo; }

  // The Texturiser's edits, each one step named as its command. "No P file is open: use
  // Open P first" before any Open. An edit that fails throws and changes nothing; one
  // that leaves every byte as it was makes no step.
  void AddTexData();
  void SetTexCoord(int32_t row, float u, float v);
  void TextureOn(int32_t group, bool normals);
  void TextureOff(int32_t group);

signals:
  // A step was made, undone or redone: the bytes and Modified() are the new ones. Open
  // and Revert, which drop the steps, do not signal.
  void Changed();

private:
  friend class TPFileStep;
  template <typename Edit>
  void MakeStep(const char* name, Edit edit);
  // The stack emptied, as clean, without Changed.
  void DropSteps();

  TPFileImage FImage;
  std::string FFileName;
  std::string FSavedBytes; // what Revert goes back to
  QUndoStack* FUndo;
  bool FDroppingSteps = false;
};

} // namespace palkor
