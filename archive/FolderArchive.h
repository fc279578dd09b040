#pragma once

#include "archive/LGPFile.h"

namespace palkor {

// A folder of loose files served as an archive: each ordinary file directly inside the
// folder is one member, read whole and replaced whole. FileName is the folder path
// ending with exactly one "/"; every Offset is 0 and Size is the file's size when the
// folder was scanned.
class TFolderArchive : public TLGPFile {
public:
  static const TLGPFileClass& Class();
  // Scans folder now; a missing folder or one without files gives no members.
  static std::unique_ptr<TFolderArchive> CreateFromFolder(const std::string& folder);

  const TLGPFileClass& ClassType() const override { return Class(); }

  // Copies the whole current file. "Cannot open file "%s". %s" when it is gone.
  void ReadMember(int32_t index, TStream& dest) override;
  // Each member is a file of its own: the reader opens them one at a time.
  std::unique_ptr<TLGPMemberReader> OpenMemberReader() override;
  // The member's file read into memory.
  std::unique_ptr<TStream> OpenMemberStream(int32_t index) override;
  // Replaces the file with the whole of source. "Cannot create file "%s". %s" when the
  // file cannot be written; Size keeps the scanned value.
  void WriteMember(int32_t index, TStream& source) override;
  // Reads and replaces the file under a lock on the folder.
  void ModifyMember(int32_t index,
                    const std::function<std::string(std::string_view)>& change) override;
  void ReloadOffsets() override {}
  void VerifyMembers() override {}

protected:
  TFolderArchive() = default;
};

// A path that names an existing folder is a folder archive, anything else an LGP file.
TArchiveKind ArchiveKindForPath(const std::string& path);

} // namespace palkor
