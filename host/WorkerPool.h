// The threads the host workers run on, kept between records: a record is handed
// to a thread that waits for one instead of a thread being started for it.
#pragma once

#include "common/Mutex.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

namespace paxelle {

class CWorkerPool {
 public:
  // At most `limit` threads, made as they are first needed.
  explicit CWorkerPool(std::size_t limit);
  // Waits for the jobs that run (each bounded by its own time limits), then ends
  // every thread.
  ~CWorkerPool();
  CWorkerPool(const CWorkerPool&) = delete;
  CWorkerPool& operator=(const CWorkerPool&) = delete;

  // Runs `job` on a waiting thread, on a new one while fewer than the limit exist,
  // or else on the first thread to finish its job. False, and `job` not run, only
  // when the pool is ending or no thread at all can be made.
  bool Run(std::function<void()> job);
  // Threads made so far.
  std::size_t Threads() const;

 private:
  void Serve();

  const std::size_t limit_;
  mutable Mutex mutex_;
  std::condition_variable_any jobArrived_;
  std::deque<std::function<void()>> jobs_ GUARDED_BY(mutex_);  // handed, not yet taken
  std::size_t waiting_ GUARDED_BY(mutex_) = 0;  // threads waiting for a job
  bool ending_ GUARDED_BY(mutex_) = false;
  std::vector<std::thread> threads_ GUARDED_BY(mutex_);
};

}  // namespace paxelle
