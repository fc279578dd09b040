#include "platform/Exceptions.h"

#include <cerrno>
#include <cstring>

namespace palkor {

std::string SystemErrorText(int errorNumber) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
  return text;
}

EWriteError::EWriteError(const std::string& fileName, int errorNumber) : EWriteError() {
  std::string cause;
  switch (errorNumber) {
  case ENOSPC:
    cause = "no space left on the device";
    break;
  case EDQUOT:
    cause = "the disk quota is used up";
    break;
  case EFBIG:
    cause = "the file would grow beyond what the system allows";
    break;
  default:
    cause = SystemErrorText(errorNumber);
    if (!cause.empty() && cause[0] >= 'A' && cause[0] <= 'Z' &&
        !(cause.size() > 1 && cause[1] >= 'A' && cause[1] <= 'Z'))
      cause[0] = char(cause[0] - 'A' + 'a');
  }
  AddCause(Format("%s writing \"%s\"", cause, fileName));
}

} // namespace palkor
