#pragma once

#include "platform/Exceptions.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

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

// What the threads of one run share: items are taken in order from Next (below Count)
// while not Stopping; Running counts the items under way. Everything is guarded by Lock,
// and Changed is notified when an item ends or the run stops.
struct TWorkQueue {
  std::mutex Lock;
  std::condition_variable Changed;
  size_t Next = 0;
  size_t Count = 0;
  bool Stopping = false;
  int32_t Running = 0;
};

// Runs worker on up to jobs threads (at least one, at most one per item) and, on the
// calling thread, hands progress a copy of state (taken under the queue's lock) whenever
// an item ends, at least every 100 ms, and once more at the end; false from progress
// stops the run: no further item is taken. Every thread is joined before this returns.
// A failure on the calling side (a thread that cannot be made, the progress call) stops
// the run the same way and is thrown after the join.
template <typename TProgress>
void RunWorkers(TWorkQueue& queue, int32_t jobs, const std::function<void()>& worker,
                const TProgress& state, const std::function<bool(const TProgress&)>& progress) {
  const int32_t threads =
      int32_t(std::max<int64_t>(1, std::min<int64_t>(jobs, int64_t(queue.Count))));
  std::vector<std::thread> pool;
  std::exception_ptr failure;
  try {
    pool.reserve(size_t(threads));
    for (int32_t t = 0; t < threads; ++t) pool.push_back(StartThread(worker));
    std::unique_lock<std::mutex> guard(queue.Lock);
    for (;;) {
      const bool finished = (queue.Stopping || queue.Next >= queue.Count) && queue.Running == 0;
      const TProgress now = state;
      guard.unlock();
      const bool goOn = !progress || progress(now);
      guard.lock();
      if (!goOn) queue.Stopping = true;
      if (finished) break;
      queue.Changed.wait_for(guard, std::chrono::milliseconds(100), [&] {
        return state.Done != now.Done || (queue.Stopping && queue.Running == 0);
      });
    }
  } catch (...) {
    failure = std::current_exception();
    std::lock_guard<std::mutex> guard(queue.Lock);
    queue.Stopping = true;
  }
  for (std::thread& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
}

} // namespace palkor
