#include "host/WorkerPool.h"

#include <system_error>

namespace paxelle {

CWorkerPool::CWorkerPool(std::size_t limit) : limit_(limit) {}

CWorkerPool::~CWorkerPool() {
  std::vector<std::thread> threads;
  {
    MutexLock lock(mutex_);
    ending_ = true;
    threads.swap(threads_);
  }
  jobArrived_.notify_all();
  for (std::thread& thread : threads) thread.join();
}

bool CWorkerPool::Run(std::function<void()> job) {
  MutexLock lock(mutex_);
  if (ending_) return false;
  jobs_.push_back(std::move(job));
  // Each waiting thread takes one job.
  if (waiting_ >= jobs_.size()) {
    lock.Unlock();
    jobArrived_.notify_one();
    return true;
  }
  if (threads_.size() < limit_) {
    try {
      threads_.emplace_back([this] { Serve(); });
      ++waiting_;  // the new thread counts as waiting until it takes a job
      return true;
    } catch (const std::system_error&) {
      if (threads_.empty()) {
        jobs_.pop_back();
        return false;
      }
    }
  }
  // Every thread is busy: the first to finish takes it (the caller bounds how
  // many jobs it hands at once).
  return true;
}

std::size_t CWorkerPool::Threads() const {
  MutexLock lock(mutex_);
  return threads_.size();
}

void CWorkerPool::Serve() {
  MutexLock lock(mutex_);
  bool counted = true;  // Run counted this thread as waiting when it made it
  for (;;) {
    if (!counted) ++waiting_;
    counted = false;
    // Woken by a job or the end; a job handed meanwhile is never missed.
    jobArrived_.wait(mutex_, [this]() REQUIRES(mutex_) { return ending_ || !jobs_.empty(); });
    --waiting_;
    if (jobs_.empty()) return;  // ending, nothing left to do
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.Unlock();
    job();
    job = nullptr;  // what the job holds goes before the thread waits again
    lock.Lock();
  }
}

}  // namespace paxelle
