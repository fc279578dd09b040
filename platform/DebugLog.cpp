#include "platform/DebugLog.h"

#include "platform/Files.h"

#include <fmt/format.h>

#include <clocale>
#include <ctime>
#include <fcntl.h>
#include <locale.h>
#include <unistd.h>

namespace palkor {

namespace {

// The local date and time in the user's short date and long time formats.
std::string NowText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[128];
  size_t n = 0;
  locale_t userLocale = newlocale(LC_TIME_MASK, "", nullptr);
  if (userLocale) {
    n = strftime_l(buffer, sizeof buffer, "%x %X", &local, userLocale);
    freelocale(userLocale);
  } else {
    n = std::strftime(buffer, sizeof buffer, "%x %X", &local);
  }
  return std::string(buffer, n);
}

} // namespace

TDebugLog::TDebugLog(std::string logFileName, const std::string& programPath)
    : FLogFileName(std::move(logFileName)) {
  Log("Debug log created at " + NowText() + " for program " + programPath);
}

TDebugLog::~TDebugLog() {
  if (FWriteAtEnd) WriteToFile();
}

void TDebugLog::MakeLines() const {
  if (FPendingCount == 0) return;
  std::vector<std::string> lines;
  lines.reserve(FLines.size() + FPendingCount);
  size_t next = 0;
  for (size_t k = 0; k < FPendingCount; ++k) {
    const TPendingLine& pending = FPending[k / PendingBlock][k % PendingBlock];
    for (; next < pending.Before; ++next) lines.push_back(std::move(FLines[next]));
    const int32_t* v = pending.Values;
    lines.push_back(
        fmt::format(fmt::runtime(FPatterns[pending.Pattern]), v[0], v[1], v[2], v[3], v[4]));
  }
  for (; next < FLines.size(); ++next) lines.push_back(std::move(FLines[next]));
  FLines = std::move(lines);
  FPending.clear();
  FPendingCount = 0;
}

bool TDebugLog::WriteToFile() const noexcept {
  try {
    std::lock_guard<std::mutex> guard(FMutex);
    MakeLines();
    std::string text;
    for (const std::string& line : FLines) {
      text += line;
      text += "\r\n";
    }
    ReplaceFileWithBytes(FLogFileName, text);
    return true;
  } catch (...) {
    return false;
  }
}

TDebugLog& DebugLog() {
  static TDebugLog log(ProgramFolder() + "LOG.TXT", ProgramPath());
  return log;
}

} // namespace palkor
