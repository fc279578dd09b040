#pragma once

#include "platform/Files.h"

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace palkor {

// Many new files of one folder written as they come, from any thread, and put in place in
// batches of TReplacedFiles by a thread of its own: each file goes into the batch being
// filled, and once that batch holds batchSize files (or Finish is called) and the batch
// before is in place, it is committed (one sync of the file system, then the renames)
// while the writing goes on. At Finish only the files written during the last commit are
// left to be put in place. Killed at any point, each file is its old one or its new one,
// whole; the files of a batch not yet committed are the old ones.
class TBatchedFiles {
public:
  TBatchedFiles(const std::string& folder, size_t batchSize);
  // Whatever was written and not yet committed is committed, its failure dropped (Finish
  // reports it).
  ~TBatchedFiles();
  TBatchedFiles(const TBatchedFiles&) = delete;
  TBatchedFiles& operator=(const TBatchedFiles&) = delete;

  // Any thread. Fails as TReplacedFiles::Add does, with the batch left as it was.
  void Add(const std::string& name, std::string_view bytes);
  // Puts every file written in place, then throws the first failure of a commit (as
  // TReplacedFiles::Commit fails); the batches after a failed one are not put in place.
  void Finish();

private:
  void CommitBatches();

  const std::string FFolder;
  const size_t FBatchSize;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::unique_ptr<TReplacedFiles> FFilling; // the batch being filled
  size_t FFilled = 0;                       // files added to it
  bool FFinishing = false;
  std::exception_ptr FFailure;
  std::thread FCommitter;
};

} // namespace palkor
