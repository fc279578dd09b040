#pragma once

#include "platform/Exceptions.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace palkor {

// The trace of one run, kept in memory and written to LOG.TXT in one go at the end.
// The first line is "Debug log created at <date time> for program <executable>".
class TDebugLog {
public:
  TDebugLog(std::string logFileName, const std::string& programPath);
  ~TDebugLog();
  TDebugLog(const TDebugLog&) = delete;
  TDebugLog& operator=(const TDebugLog&) = delete;

  // Safe to call from several threads at once (models are built on worker threads).
  void Log(std::string text) {
    std::lock_guard<std::mutex> guard(FMutex);
    FLines.push_back(std::move(text));
  }
  // A line of up to five whole numbers put into pattern ("{}" each, in order), kept as
  // the numbers and made into text only when the lines are read or written: decoding
  // may log a line for every value it reads. pattern must live as long as the program
  // (a string literal).
  template <typename... Ints>
  void LogNumbers(const char* pattern, Ints... values) {
    static_assert(sizeof...(Ints) <= 5, "at most five numbers a line");
    std::lock_guard<std::mutex> guard(FMutex);
    AddPending({uint32_t(FLines.size()), PatternIndex(pattern), {int32_t(values)...}});
  }
  // Forgets every line after the header (for long-running tools that log without end).
  void ClearLines() {
    std::lock_guard<std::mutex> guard(FMutex);
    MakeLines();
    FLines.resize(std::min<size_t>(FLines.size(), 1));
  }
  // Every line, numbers lines made into text. Not to be called while other threads log.
  const std::vector<std::string>& Lines() const {
    std::lock_guard<std::mutex> guard(FMutex);
    MakeLines();
    return FLines;
  }
  const std::string& LogFileName() const { return FLogFileName; }
  // Where the log is written: a program installed where it may not write puts it in the
  // user's folders.
  void SetLogFileName(std::string name) { FLogFileName = std::move(name); }

  // Replaces LogFileName with every line, each ending in CR LF. Returns false, and
  // changes nothing else, when the file cannot be written.
  bool WriteToFile() const noexcept;
  // Write the file when this log is destroyed (the program's end, for the process log).
  void SetWriteAtEnd(bool value) { FWriteAtEnd = value; }

private:
  // A numbers line waiting to be made: it goes before the text line at position Before.
  // Kept small and in blocks that never move, for there may be a great many.
  struct TPendingLine {
    uint32_t Before;
    uint32_t Pattern; // its place in FPatterns
    int32_t Values[5];
  };
  static constexpr size_t PendingBlock = 4096;
  uint32_t PatternIndex(const char* pattern) {
    for (size_t i = FPatterns.size(); i-- > 0;)
      if (FPatterns[i] == pattern) return uint32_t(i);
    FPatterns.push_back(pattern);
    return uint32_t(FPatterns.size() - 1);
  }
  void AddPending(const TPendingLine& line) {
    if (FPendingCount % PendingBlock == 0)
      FPending.push_back(std::make_unique<TPendingLine[]>(PendingBlock));
    FPending.back()[FPendingCount % PendingBlock] = line;
    ++FPendingCount;
  }
  // Puts the pending lines into FLines in the order they were logged.
  void MakeLines() const;

  mutable std::mutex FMutex;
  mutable std::vector<std::string> FLines;
  std::vector<const char*> FPatterns;
  mutable std::vector<std::unique_ptr<TPendingLine[]>> FPending;
  mutable size_t FPendingCount = 0;
  std::string FLogFileName;
  bool FWriteAtEnd = false;
};

// The process-wide log, created on first use with LOG.TXT beside the executable.
// It reaches the disk at the end of the run only where the program asked for it with
// SetWriteAtEnd (the viewer does; palkor-cli keeps its log in memory).
TDebugLog& DebugLog();

inline void Log(std::string text) {
  DebugLog().Log(std::move(text));
}

template <typename... Ints>
void LogNumbers(const char* pattern, Ints... values) {
  DebugLog().LogNumbers(pattern, values...);
}

template <typename... Args>
void LogFmt(const char* format, const Args&... args) {
  Log(Format(format, args...));
}

} // namespace palkor
