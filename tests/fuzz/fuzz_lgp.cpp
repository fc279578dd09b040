// Archive bytes from the fuzzer: the ordinary and the verifying open, every lookup, and
// every member read must either succeed inside the file or fail with a message.
#include "archive/LGPFile.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

using namespace palkor;

namespace {

const std::string& ArchivePath() {
  static const std::string path = "/dev/shm/palkor-fuzz-" + std::to_string(::getpid()) + ".lgp";
  return path;
}

void Exercise(TLGPFile& archive, bool readMembers) {
  for (int32_t i = 0; i < archive.Count(); ++i) {
    TLGPEntry entry = archive.GetEntry(i);
    if (archive.IndexOf(entry.Name) < 0) __builtin_trap();
    archive.GetEntryByOffset(i);
    if (!readMembers || i >= 64) continue;
    try {
      TMemoryStream data;
      archive.ReadMember(i, data);
      if (data.Size() > 64 * 1024 * 1024) __builtin_trap();
    } catch (const Exception&) {
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (bool verify : {false, true}) {
    try {
      TMemoryStream stream(bytes);
      auto archive = TLGPFile::CreateFromStream(stream, verify);
      Exercise(*archive, false);
    } catch (const Exception&) {
    }
  }
  if (FILE* f = std::fopen(ArchivePath().c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  for (bool verify : {false, true}) {
    try {
      auto archive = TLGPFile::Create(ArchivePath(), verify);
      Exercise(*archive, true);
      archive->ReloadOffsets();
      archive->VerifyMembers();
    } catch (const Exception&) {
    }
  }
  return 0;
}
