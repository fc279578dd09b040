#include "platform/BatchedFiles.h"

#include "platform/Threads.h"

#include <algorithm>
#include <utility>

namespace palkor {

TBatchedFiles::TBatchedFiles(const std::string& folder, size_t batchSize)
    : FFolder(folder), FBatchSize(std::max<size_t>(batchSize, 1)),
      FFilling(std::make_unique<TReplacedFiles>(folder)) {
  FCommitter = StartThread([this] { CommitBatches(); });
}

TBatchedFiles::~TBatchedFiles() {
  if (!FCommitter.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FFinishing = true;
  }
  FChanged.notify_all();
  FCommitter.join();
}

void TBatchedFiles::Add(const std::string& name, std::string_view bytes) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FFilling->Add(name, bytes);
    ++FFilled;
  }
  FChanged.notify_all();
}

void TBatchedFiles::Finish() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FFinishing = true;
  }
  FChanged.notify_all();
  if (FCommitter.joinable()) FCommitter.join();
  if (FFailure) std::rethrow_exception(FFailure);
}

void TBatchedFiles::CommitBatches() {
  std::unique_lock<std::mutex> guard(FLock);
  for (;;) {
    FChanged.wait(guard, [&] { return FFilled >= FBatchSize || FFinishing; });
    if (FFilled == 0) return;
    try {
      // The next batch is made before this one leaves, so that Add always has one.
      auto next = std::make_unique<TReplacedFiles>(FFolder);
      std::unique_ptr<TReplacedFiles> full = std::exchange(FFilling, std::move(next));
      FFilled = 0;
      guard.unlock();
      full->Commit();
      full.reset();
      guard.lock();
    } catch (...) {
      if (!guard.owns_lock()) guard.lock();
      FFailure = std::current_exception();
      return; // what is added from now on stays out of place
    }
  }
}

} // namespace palkor
