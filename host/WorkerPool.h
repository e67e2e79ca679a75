// The threads the host workers run on, kept between records: a record is handed
// to a thread that waits for one instead of a thread being started for it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
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
  mutable std::mutex mutex_;
  std::condition_variable jobArrived_;
  std::deque<std::function<void()>> jobs_;  // guarded by mutex_: handed, not yet taken
  std::size_t waiting_ = 0;                 // guarded by mutex_: threads waiting for a job
  bool ending_ = false;                     // guarded by mutex_
  std::vector<std::thread> threads_;        // guarded by mutex_
};

}  // namespace paxelle
