#include "cli/CliSupport.h"

#include "archive/LGPNull.h"

#include <charconv>
#include <cstdio>

namespace palkor::cli {

std::unique_ptr<TLGPFile> OpenArchive(const std::string& path, bool verify) {
  TArchiveKind kind = ArchiveKindForPath(path);
  return kind.Class->Create(kind.Path, verify);
}

int32_t FindMember(const TLGPFile& archive, const std::string& member) {
  int32_t index = archive.IndexOf(member);
  if (index < 0) throw Exception("no member named " + member);
  return index;
}

void WriteStdout(std::string_view bytes) {
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
    throw EWriteError();
}

void PrintLine(std::string_view line) {
  std::string text(line);
  text += '\n';
  WriteStdout(text);
}

void PrintFields(std::initializer_list<std::string_view> fields) {
  std::string line;
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) line += '\t';
    line += field;
    first = false;
  }
  PrintLine(line);
}

std::string FloatText(float value) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

} // namespace palkor::cli
