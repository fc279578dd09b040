#include "cli/CliSupport.h"

#include "archive/FolderArchive.h"
#include "platform/Memory.h"
#include "platform/StringList.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <unistd.h>

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
  std::string text = EscapeControls(line);
  text += '\n';
  WriteStdout(text);
}

void PrintFields(std::initializer_list<std::string_view> fields) {
  std::string line;
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) line += '\t';
    line += EscapeControls(field);
    first = false;
  }
  line += '\n';
  WriteStdout(line);
}

std::string FloatText(float value) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

int RunCommandLine(CLI::App& app, int argc, char** argv) {
  SetArchiveLockWaitHandler([](const std::string& archive, bool waiting) {
    if (waiting && ::isatty(2))
      std::cerr << "palkor-cli: waiting for another program writing to " << EscapeControls(archive)
                << "\n";
  });
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e); // --help, --version: to standard output
  } catch (const CLI::ParseError& e) {
    std::cerr << "palkor-cli: " << e.what() << "\n" << app.help();
    return 2;
  } catch (const TQuietFailure&) {
    std::fflush(stdout);
    return 1;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::cerr << "palkor-cli: " << OutOfMemoryText() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::cerr << "palkor-cli: " << EscapeControls(e.what()) << "\n";
    return 1;
  }
  if (std::fflush(stdout) != 0) {
    std::cerr << "palkor-cli: Stream write error\n";
    return 1;
  }
  return 0;
}

TProgressBar::TProgressBar(int32_t total) : FTotal(std::max(total, 1)), FShow(::isatty(2)) {}

TProgressBar::~TProgressBar() {
  if (FShow) std::fputs("\n", stderr);
}

void TProgressBar::Show(int32_t done) {
  FDone = done;
  if (!FShow) return;
  int filled = int(40LL * std::clamp(FDone, 0, FTotal) / FTotal);
  std::fprintf(stderr, "\r[%s%s] %d/%d", std::string(size_t(filled), '#').c_str(),
               std::string(size_t(40 - filled), ' ').c_str(), FDone, FTotal);
}

void TProgressBar::Message(const std::string& line) {
  if (FShow) std::fputs("\r\033[K", stderr);
  std::fprintf(stderr, "%s\n", line.c_str());
  if (FShow) Show(FDone);
}

} // namespace palkor::cli
