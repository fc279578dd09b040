#pragma once

#include "platform/Exceptions.h"

#include <system_error>
#include <thread>
#include <utility>

namespace palkor {

// A thread running f, or "Cannot start a thread. %s" with the system's reason when the
// system cannot make one (no memory for its stack, too many threads).
template <typename F>
std::thread StartThread(F&& f) {
  try {
    return std::thread(std::forward<F>(f));
  } catch (const std::system_error& e) {
    throw Exception(Format("Cannot start a thread. %s", SystemErrorText(e.code().value())));
  }
}

} // namespace palkor
