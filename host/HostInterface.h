// The host processing engine: one polling thread that takes newly queued records
// from the pending queue and hands each to a worker thread of its own.
#pragma once

#include "common/Event.h"
#include "common/TimeLimits.h"
#include "core/Request.h"
#include "core/RequestList.h"
#include "host/HostTraffic.h"
#include "host/SequenceCounters.h"
#include "host/WorkerPool.h"
#include "common/Mutex.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace paxelle {

class CServerContext;
struct CHostContext;

struct HostInterfaceSettings {
  milliseconds exchangeTimeout{kHostExchangeLimit};  // longest wait for a host answer
  milliseconds pollInterval{kHostQueuePoll};        // longest sleep between queue passes
  seconds stopWait{kHostStopWait};                  // how long Stop waits for workers
  // Workers at once, completions and dial hand-overs included: each holds a thread, a
  // host connection and its buffers. Records past it wait in the queue for a worker.
  std::size_t maxWorkers{32};
};

class CHostInterface {
 public:
  // `host` (and its server context) must outlive this object and its workers.
  explicit CHostInterface(CHostContext& host, HostInterfaceSettings settings = {});
  // Stops if running, then joins every thread it started; workers end soon after
  // the interfaces-stopping event because every wait of theirs watches it.
  ~CHostInterface();
  CHostInterface(const CHostInterface&) = delete;
  CHostInterface& operator=(const CHostInterface&) = delete;

  // Clears the interfaces-stopping event and starts the polling thread, which first
  // tests the connection to the host unless the merchant parameters say not to.
  // True once the thread runs; false when the connection test failed or the thread
  // could not start (LastErrorText says which). Call from one controlling thread.
  bool Start() EXCLUDES(lifecycleMutex_);
  // Sets the interfaces-stopping event, waits (bounded) for the workers in flight,
  // then ends the polling thread. Returns 1. Workers still busy after the wait keep
  // running until their exchange ends and are joined by the destructor.
  int Stop() EXCLUDES(lifecycleMutex_);
  // Why the last Start failed; empty after a successful one.
  std::string LastErrorText() const;

  // Receives the progress events of workers dispatched from now on; called on
  // worker threads, so it must be thread-safe and outlive this object's workers.
  void SetTrafficObserver(std::function<void(HostTrafficEvent)> observer);
  // Called on the polling thread when the queue is found inconsistent during a batch
  // close ("Bad List Item"): the application must close. Must not call Stop itself.
  void SetShutdownRequest(std::function<void()> request);

 private:
  void PollingThread();
  bool TestConnection();
  // One pass over a queue snapshot: aborts, dispatch, batch close.
  void ProcessQueue();
  void HandleAborts(RequestList& snapshot);
  // Gives the oldest waiting record of each lane without a worker one, lanes in turn
  // while workers are free: the host sees one lane's exchanges (request, answer,
  // completion) one after another, and one lane cannot hold every worker.
  void DispatchInTurn(const RequestList& snapshot);
  void Dispatch(CRequest record);
  // The worker saves `numbers` before it sends the record's message.
  bool StartWorker(CRequest record, NumberClaim numbers, int ticket) EXCLUDES(mutex_);
  // Tells the operator and the log, once while it lasts, that the numbers of
  // a message could not be saved (`saved` false), and again once they are.
  // Called by the polling thread and the workers.
  void NoteNumbersSaved(bool saved) EXCLUDES(mutex_);
  void CheckBatchClose();
  // Fewer workers are running than settings_.maxWorkers.
  bool WorkerAvailable() const EXCLUDES(mutex_);
  // The lanes whose worker is still running.
  std::set<int> BusyLanes() const EXCLUDES(mutex_);
  bool AnyWorkerRunning() const EXCLUDES(mutex_);
  int StopLocked() REQUIRES(lifecycleMutex_);
  void SetLastError(std::string text) EXCLUDES(mutex_);

  CHostContext& host_;
  CServerContext& server_;
  const HostInterfaceSettings settings_;
  Event started_{Event::Reset::kManual};
  Event failed_{Event::Reset::kAuto};
  Event stop_{Event::Reset::kAuto};
  std::thread thread_ GUARDED_BY(lifecycleMutex_);
  std::atomic<bool> threadEnded_{true};
  bool shutdownRequested_ = false;  // polling thread only
  int lastLane_ = 0;                // polling thread only: the lane dispatched last

  Mutex lifecycleMutex_;  // Start, Stop and the destructor
  mutable Mutex mutex_;
  // The operator was told that numbers cannot be saved; cleared when one is
  // saved again.
  bool numbersNotSavedTold_ GUARDED_BY(mutex_) = false;
  std::string lastError_ GUARDED_BY(mutex_);
  HostTrafficObserver observer_ GUARDED_BY(mutex_);
  std::function<void()> shutdownRequest_ GUARDED_BY(mutex_);
  std::multiset<int> busyLanes_ GUARDED_BY(mutex_);  // the lane of every worker running
  // Last: destroyed first, so its threads end while everything they use exists.
  CWorkerPool pool_;
};

}  // namespace paxelle
