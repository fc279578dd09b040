#include "archive/FolderArchive.h"

#include "archive/MemberLog.h"
#include "platform/DebugLog.h"
#include "platform/Files.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>

namespace palkor {

namespace {

class TFolderArchiveClass : public TLGPFileClass {
public:
  const char* ClassName() const override { return "TFolderArchive"; }
  std::unique_ptr<TLGPFile> Create(const std::string& fileName, bool verify) const override {
    return TFolderArchive::CreateFromFolder(fileName);
  }
};

} // namespace

const TLGPFileClass& TFolderArchive::Class() {
  static const TFolderArchiveClass instance;
  return instance;
}

std::unique_ptr<TFolderArchive> TFolderArchive::CreateFromFolder(const std::string& folder) {
  std::unique_ptr<TFolderArchive> archive(new TFolderArchive());
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path != "/") path += '/';
  archive->FFileName = path;
  archive->FCreator = "Quenmark";
  archive->FTrailer = "Null LGP";
  for (TFolderFile& file : ListFolderFiles(path)) {
    TLGPEntry& entry = archive->FEntries.emplace_back();
    entry.Name = std::move(file.Name);
    entry.Offset = 0;
    entry.Size = int32_t(std::min<int64_t>(file.Size, std::numeric_limits<int32_t>::max()));
  }
  for (TLGPEntry& entry : archive->FEntries) archive->FEntriesByOffset.push_back(&entry);
  archive->InvalidateNameIndex();
  archive->FCount = int32_t(archive->FEntries.size());
  return archive;
}

namespace {

class TFolderArchiveMemberReader : public TLGPMemberReader {
public:
  explicit TFolderArchiveMemberReader(const TFolderArchive& archive) : FArchive(archive) {}

  void Read(int32_t index, TStream& dest, int64_t maxBytes) override {
    TLGPEntry entry = FArchive.GetEntry(index);
    TFileStream file(FArchive.FileName() + entry.Name, TFileMode::OpenRead);
    struct stat info;
    if (::fstat(file.Handle(), &info) == 0)
      TMemberReadLog::Note({entry.Name, 0, int64_t(info.st_size),
                            int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec});
    int64_t size = maxBytes < 0 ? file.Size() : std::min(file.Size(), maxBytes);
    if (size > 0) dest.CopyFrom(file, size);
  }

private:
  const TFolderArchive& FArchive;
};

} // namespace

std::unique_ptr<TLGPMemberReader> TFolderArchive::OpenMemberReader() {
  return std::make_unique<TFolderArchiveMemberReader>(*this);
}

void TFolderArchive::ReadMember(int32_t index, TStream& dest) {
  CheckListIndex(index, Count());
  OpenMemberReader()->Read(index, dest);
}

std::unique_ptr<TStream> TFolderArchive::OpenMemberStream(int32_t index) {
  std::unique_ptr<TStream> stream = ReadMemberToMemory(index);
  stream->SetPosition(0);
  return stream;
}

namespace {

// A member's file is replaced by a new file beside it, renamed over it, so that the old
// one stays whole until the new one is. A folder that refuses a new file (the user may
// write the file but not the folder) gets the file written in place instead, as the
// member would be in an archive; should that fail part way, the old bytes are put back
// as far as the disk allows. A file that cannot be written either way fails with the
// refusal. The debug log says when a file was written in place.
void WriteInPlace(const std::string& path, const EFCreateError& refused, std::string_view bytes) {
  std::unique_ptr<TFileStream> file;
  try {
    file = std::make_unique<TFileStream>(path, TFileMode::OpenReadWrite);
  } catch (const Exception&) {
    throw refused;
  }
  const std::string old = file->ReadBytes(file->Size());
  auto write = [&](std::string_view data) {
    file->SetPosition(0);
    file->WriteBytes(data);
    file->SetSize(int64_t(data.size()));
    file->Flush();
  };
  try {
    write(bytes);
  } catch (const Exception&) {
    try {
      write(old);
    } catch (const Exception&) {
      // The first failure is the one to report.
    }
    throw;
  }
  Log("WriteMember: " + path + " written in place, its folder takes no new file");
}

} // namespace

// Writers of one folder take turns under a lock on the folder itself: its files are
// replaced by renaming, so a lock on one of them would be lost with it.
void TFolderArchive::WriteMember(int32_t index, TStream& source) {
  TLGPEntry entry = GetEntry(index);
  TPathLock lock(FileName(), ArchiveLockWaiter(FileName()));
  const std::string path = FileName() + entry.Name;
  try {
    ReplaceFileFromStream(path, source);
  } catch (const EFCreateError& refused) {
    source.SetPosition(0);
    WriteInPlace(path, refused, source.ReadBytes(source.Size()));
  }
}

void TFolderArchive::ModifyMember(int32_t index,
                                  const std::function<std::string(std::string_view)>& change) {
  TLGPEntry entry = GetEntry(index);
  TPathLock lock(FileName(), ArchiveLockWaiter(FileName()));
  const std::string path = FileName() + entry.Name;
  const std::string bytes = change(ReadFileBytes(path));
  try {
    ReplaceFileWithBytes(path, bytes);
  } catch (const EFCreateError& refused) {
    WriteInPlace(path, refused, bytes);
  }
}

TArchiveKind ArchiveKindForPath(const std::string& path) {
  TArchiveKind kind;
  kind.Class = DirectoryExists(path) ? &TFolderArchive::Class() : &TLGPFile::Class();
  kind.Path = path;
  return kind;
}

} // namespace palkor
