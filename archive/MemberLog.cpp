#include "archive/MemberLog.h"

#include "archive/FolderArchive.h"

#include <sys/stat.h>

namespace palkor {

namespace {

thread_local TMemberReadLog* CurrentLog = nullptr;

} // namespace

TMemberReadLog::TMemberReadLog() : FOuter(CurrentLog) {
  CurrentLog = this;
}

TMemberReadLog::~TMemberReadLog() {
  CurrentLog = FOuter;
}

void TMemberReadLog::Note(TMemberStamp stamp) {
  if (!CurrentLog) return;
  for (const TMemberStamp& member : CurrentLog->FMembers)
    if (member.Name == stamp.Name) return;
  CurrentLog->FMembers.push_back(std::move(stamp));
}

std::vector<TMemberStamp> StampMembers(TLGPFile& archive, const std::vector<std::string>& names) {
  std::vector<TMemberStamp> stamps(names.size());
  std::vector<int32_t> indexes(names.size());
  for (size_t k = 0; k < names.size(); ++k) {
    stamps[k].Name = names[k];
    indexes[k] = archive.IndexOf(names[k]);
  }
  if (&archive.ClassType() == &TFolderArchive::Class()) {
    for (size_t k = 0; k < names.size(); ++k) {
      struct stat info;
      if (indexes[k] < 0 ||
          ::stat((archive.FileName() + archive.EntryAt(indexes[k]).Name).c_str(), &info) != 0)
        continue;
      stamps[k].Offset = 0;
      stamps[k].Size = int64_t(info.st_size);
      stamps[k].Modified = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    }
    return stamps;
  }
  std::vector<TMemberHead> heads;
  for (size_t k = 0; k < names.size(); ++k)
    if (indexes[k] >= 0) {
      TMemberHead head;
      head.Index = indexes[k];
      heads.push_back(std::move(head));
    }
  if (!heads.empty()) archive.OpenMemberReader()->ReadHeads(heads);
  size_t next = 0;
  for (size_t k = 0; k < names.size(); ++k) {
    if (indexes[k] < 0) continue;
    const TMemberHead& head = heads[next++];
    stamps[k].Offset = archive.EntryAt(indexes[k]).Offset;
    if (head.Done) stamps[k].Size = head.Size;
  }
  return stamps;
}

} // namespace palkor
