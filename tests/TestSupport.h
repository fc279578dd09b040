#pragma once

#include "platform/Exceptions.h"

#include <functional>
#include <string>

namespace palkor::testing {

// The message of the failure action raises, or "(no error)".
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

} // namespace palkor::testing
