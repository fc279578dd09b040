#include "cli/CliSupport.h"

#include "archive/FolderArchive.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/StringList.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
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
    throw EWriteError("standard output", errno != 0 ? errno : EIO);
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

namespace {

// A request for memory failed where the code running cannot fail safely (see
// TCannotFailScope): the process ends as a failure does, with one line and exit 1, its
// temporary files removed. Nothing here asks for memory.
[[noreturn]] void ExitOutOfMemory(const char* doing, size_t size) {
  static std::atomic<bool> exiting{false};
  if (exiting.exchange(true))
    for (;;) ::pause(); // another thread is ending the process
  RemoveTemporaryFiles();
  char escaped[512], line[640];
  EscapeControlsInto(doing, escaped, sizeof escaped);
  const int n = std::snprintf(line, sizeof line,
                              "%spalkor-cli: Not enough memory to %s: %zu bytes asked for\n",
                              ::isatty(2) ? "\r\033[K" : "", escaped, size);
  if (n > 0 && ::write(2, line, std::min(size_t(n), sizeof line - 1)) < 0) {
    // Nothing more can be said.
  }
  ::_exit(1);
}

void SetUpProcess() {
  SetOutOfMemoryExit(ExitOutOfMemory);
  SetArchiveLockWaitHandler([](const std::string& archive, bool waiting) {
    if (waiting && ::isatty(2))
      std::cerr << "palkor-cli: waiting for another program writing to " << EscapeControls(archive)
                << "\n";
  });
}

// Runs PARSE, which parses the command line with APP and runs the command chosen, and
// answers as palkor-cli does.
template <class TParse>
int Answer(CLI::App& app, TParse&& parse) {
  try {
    parse();
  } catch (const CLI::Success& e) {
    return app.exit(e); // --help, --version: to standard output
  } catch (const CLI::ParseError& e) {
    std::cerr << "palkor-cli: " << EscapeControls(e.what()) << "\n" << app.help();
    return 2;
  } catch (const TQuietFailure&) {
    std::fflush(stdout);
    return 1;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    try {
      std::cerr << "palkor-cli: " << EscapeControls(OutOfMemoryText()) << "\n";
    } catch (const std::bad_alloc&) {
      std::fputs("palkor-cli: Not enough memory\n", stderr); // not even for the message
    }
    return 1;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::cerr << "palkor-cli: " << EscapeControls(e.what()) << "\n";
    return 1;
  }
  if (std::fflush(stdout) != 0) {
    std::cerr << "palkor-cli: " << EWriteError("standard output", errno != 0 ? errno : EIO).what()
              << "\n";
    return 1;
  }
  return 0;
}

} // namespace

int RunCommandLine(CLI::App& app, int argc, char** argv) {
  SetUpProcess();
  return Answer(app, [&] { app.parse(argc, argv); });
}

int RunCommandLine(const std::function<std::unique_ptr<CLI::App>()>& makeApp,
                   const std::vector<TCommandGroup>& groups, int argc, char** argv) {
  SetUpProcess();
  const TCommandGroup* chosen = nullptr;
  for (const TCommandGroup& group : groups)
    for (std::string_view name : group.Names)
      if (argc >= 2 && name == argv[1]) chosen = &group;
  if (chosen != nullptr || (argc == 2 && std::string_view(argv[1]) == "--version")) {
    std::unique_ptr<CLI::App> app = makeApp();
    if (chosen != nullptr) chosen->Add(*app);
    // Set once the command line has been read whole and found valid, before the command
    // runs: a usage error after that comes from the command itself.
    bool parsed = false;
    app->parse_complete_callback([&parsed] { parsed = true; });
    bool again = false;
    const int status = Answer(*app, [&] {
      try {
        app->parse(argc, argv);
      } catch (const CLI::CallForVersion&) {
        throw;
      } catch (const CLI::ParseError&) {
        if (parsed) throw;
        again = true;
      }
    });
    if (!again) return status;
  }
  std::unique_ptr<CLI::App> app = makeApp();
  for (const TCommandGroup& group : groups) group.Add(*app);
  return Answer(*app, [&] { app->parse(argc, argv); });
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
  std::fprintf(stderr, "%s\n", EscapeControls(line).c_str());
  if (FShow) Show(FDone);
}

} // namespace palkor::cli
