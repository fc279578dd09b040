#pragma once

#include <fmt/printf.h>

#include <cstdint>
#include <exception>
#include <string>

namespace palkor {

// printf-style formatting (%d, %s, %.2f ...), as the runtime's Format does.
template <typename... Args>
std::string Format(const char* format, const Args&... args) {
  return fmt::sprintf(format, args...);
}

// The one exception base: a failure carrying the message text shown to the user
// (error box in the viewer, "palkor-cli: MESSAGE" on the command line).
class Exception : public std::exception {
public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }
  // Says after the message which file or member it concerns and why: "MESSAGE: cause".
  // Only the first cause is added: the reader nearest the fault knows it best.
  void AddCause(const std::string& cause) {
    if (FHasCause) return;
    FMessage += ": " + cause;
    FHasCause = true;
  }
  bool HasCause() const noexcept { return FHasCause; }

private:
  std::string FMessage;
  bool FHasCause = false;
};

// "Stream read error", "Stream write error".
class EStreamError : public Exception {
  using Exception::Exception;
};
class EReadError : public EStreamError {
public:
  EReadError() : EStreamError("Stream read error") {}
};
class EWriteError : public EStreamError {
public:
  EWriteError() : EStreamError("Stream write error") {}
  // "Stream write error: CAUSE writing "PATH"", CAUSE the system's reason for errorNumber
  // ("no space left on the device" for a full disk).
  EWriteError(const std::string& fileName, int errorNumber);
};

// "Cannot open file "%s". %s" and "Cannot create file "%s". %s".
class EFOpenError : public EStreamError {
public:
  EFOpenError(const std::string& fileName, const std::string& reason)
      : EStreamError(Format("Cannot open file \"%s\". %s", fileName, reason)) {}
};
class EFCreateError : public EStreamError {
public:
  EFCreateError(const std::string& fileName, const std::string& reason)
      : EStreamError(Format("Cannot create file \"%s\". %s", fileName, reason)) {}
};

// "List index out of bounds (%d)".
class EListError : public Exception {
public:
  explicit EListError(int64_t index) : Exception(Format("List index out of bounds (%d)", index)) {}
};

// "'%s' is not a valid integer value" and friends.
class EConvertError : public Exception {
  using Exception::Exception;
};

// Throws EListError unless 0 <= index < count.
inline void CheckListIndex(int64_t index, int64_t count) {
  if (index < 0 || index >= count) throw EListError(index);
}

// The system's text for an errno value, as shown after "Cannot open file ...".
std::string SystemErrorText(int errorNumber);

// Runs read, a reader of the member or file called name, and says why when it fails
// with the runtime's bare "Stream read error": the data ends before what it describes.
template <typename F>
decltype(auto) ReadingMember(const std::string& name, F&& read) {
  try {
    return read();
  } catch (EReadError& e) {
    e.AddCause(name + " ends before the data it describes");
    throw;
  }
}

} // namespace palkor
