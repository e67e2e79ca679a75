#include "host/HostInterface.h"

#include "core/ReturnCodes.h"
#include "core/TranCodes.h"
#include "host/HostContext.h"
#include "host/HostLink.h"
#include "host/HostRequestBuilder.h"
#include "host/HostWorker.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <new>
#include <system_error>
#include <utility>

namespace paxelle {
namespace {

void FinishLocally(PendingQueue& queue, CRequest& record, int returnCode) {
  record.State = kStateFinishedLocally;
  record.ReturnCode = returnCode;
  queue.UpdateById(record.QueueId, record);
}

}  // namespace

CHostInterface::CHostInterface(CHostContext& host, HostInterfaceSettings settings)
    : host_(host), server_(host.server), settings_(settings), pool_(settings.maxWorkers) {}

CHostInterface::~CHostInterface() {
  MutexLock lifecycle(lifecycleMutex_);
  if (thread_.joinable()) StopLocked();
  // The pool, destroyed first, waits for the workers still running.
}

bool CHostInterface::Start() {
  MutexLock lifecycle(lifecycleMutex_);
  if (thread_.joinable()) return true;
  SetLastError({});
  started_.Pulse();
  failed_.Pulse();
  stop_.Pulse();
  server_.interfacesStopping.Pulse();
  shutdownRequested_ = false;
  host_.sessions.Clear();
  host_.addresses.Clear();
  // The numbers' write then runs while each message's worker connects.
  host_.counters.StartBackgroundCommits();

  threadEnded_ = false;
  try {
    thread_ = std::thread(&CHostInterface::PollingThread, this);
  } catch (const std::system_error&) {
    threadEnded_ = true;
    SetLastError("The WorldPay Processing thread could NOT be started.\r\nThis error is FATAL!");
    return false;
  }
  // The connection test ends on its own (every connect has a time-out), so the
  // thread always reports started or failed, or ends.
  for (;;) {
    const int signalled = Event::WaitAny({&failed_, &started_}, kHostStartWaitSlice);
    if (signalled == 1) return true;
    if (signalled == 0) break;
    if (threadEnded_) {
      if (started_.IsSet()) return true;
      break;
    }
  }
  thread_.join();
  StopLocked();
  return false;
}

int CHostInterface::Stop() {
  MutexLock lifecycle(lifecycleMutex_);
  return StopLocked();
}

int CHostInterface::StopLocked() {
  server_.interfacesStopping.Set();
  HostSequenceRegistry& tickets = server_.registry;
  const auto deadline = std::chrono::steady_clock::now() + settings_.stopWait;
  while (tickets.Count() > 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kHostStopPoll, deadline - now));
  }
  tickets.Clear();
  stop_.Set();
  if (thread_.joinable()) thread_.join();
  started_.ResetEvent();
  return 1;
}

std::string CHostInterface::LastErrorText() const {
  MutexLock lock(mutex_);
  return lastError_;
}

void CHostInterface::SetTrafficObserver(std::function<void(HostTrafficEvent)> observer) {
  MutexLock lock(mutex_);
  observer_ = std::move(observer);
}

void CHostInterface::SetShutdownRequest(std::function<void()> request) {
  MutexLock lock(mutex_);
  shutdownRequest_ = std::move(request);
}

void CHostInterface::SetLastError(std::string text) {
  MutexLock lock(mutex_);
  lastError_ = std::move(text);
}

void CHostInterface::PollingThread() {
  const CMerchantParams params = server_.params.GetParams();
  if (params.GetNumber(kParamTransportMethod) != kTransportDialOnly && !params.IsYes(kParamNoConnectOnStartup)) {
    if (!TestConnection()) {
      failed_.Set();
      threadEnded_ = true;
      return;
    }
  }
  started_.Set();
  Event& workQueued = server_.queue.WorkQueued();
  for (;;) {
    ProcessQueue();
    if (Event::WaitAny({&stop_, &workQueued}, settings_.pollInterval) == 0) break;
  }
  threadEnded_ = true;
}

bool CHostInterface::TestConnection() {
  const milliseconds timeout = ConnectTimeout(server_.params.GetParams());
  HostEndpoints& endpoints = host_.endpoints;
  HostEndpoint endpoint = endpoints.Current();
  std::string lastError = "Failed to Connect to WorldPay!";
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0) endpoint = endpoints.FailOver(endpoint);
    CHostLink link(host_.security, server_, &host_.sessions);
    const Status connected = ConnectToEndpoint(link, endpoint, timeout);
    if (connected.ok()) {
      link.Close();
      return true;
    }
    lastError += "\n" + connected.message();
  }
  SetLastError(std::move(lastError));
  return false;
}

void CHostInterface::ProcessQueue() {
  RequestList snapshot;
  server_.queue.Snapshot(snapshot);
  HandleAborts(snapshot);
  DispatchInTurn(snapshot);
  CheckBatchClose();
}

void CHostInterface::DispatchInTurn(const RequestList& snapshot) {
  // The rest wait for a worker, or for their lane's exchange, to end: that wakes this thread.
  const std::set<int> busy = BusyLanes();
  std::map<int, const CRequest*> next;  // lane -> its oldest waiting record
  for (const CRequest& record : snapshot) {
    if (record.State != kStateWaitingForHost || record.Disposition != kDispositionProcess) continue;
    const int lane = HostLaneNumber(record);
    if (busy.count(lane) == 0) next.emplace(lane, &record);
  }
  // Starting after the lane served last, so that every waiting lane has its turn.
  auto lane = next.upper_bound(lastLane_);
  for (std::size_t served = 0; served < next.size(); ++served, ++lane) {
    if (!WorkerAvailable()) return;
    if (lane == next.end()) lane = next.begin();
    lastLane_ = lane->first;
    Dispatch(*lane->second);
  }
}

void CHostInterface::HandleAborts(RequestList& snapshot) {
  PendingQueue& queue = server_.queue;
  for (auto abort = snapshot.begin(); abort != snapshot.end(); ++abort) {
    // Acted on once: afterwards it is delivered and waits for its session to remove it.
    if (abort->Disposition != kDispositionAbort || abort->State != kStateWaitingForHost) continue;
    // Only what the lane had queued before the abort: socket addresses are reused at
    // once, so a later record from the same address may be a new lane's work.
    for (auto earlier = snapshot.begin(); earlier != abort; ++earlier) {
      if (earlier->ClientAddress == abort->ClientAddress && earlier->Disposition != kDispositionAbort &&
          earlier->State == kStateWaitingForHost) {
        earlier->State = kStateAborted;
        queue.UpdateById(earlier->QueueId, *earlier);
      }
    }
    abort->State = kStateDelivered;
    queue.UpdateById(abort->QueueId, *abort);
  }
}

void CHostInterface::CheckBatchClose() {
  PendingQueue& queue = server_.queue;
  if (!queue.IsExclusive()) return;
  RequestList pending;
  // The flag and the list must agree: read them in one step.
  if (!queue.SnapshotWithExclusive(pending) || pending.size() != 1) return;
  const CRequest& only = pending.front();
  if (only.Disposition != kDispositionBatchClose && !shutdownRequested_) {
    shutdownRequested_ = true;
    server_.log.Log("Batch in Progress - Bad List Item Shutting down Server!!");
    std::function<void()> request;
    {
      MutexLock lock(mutex_);
      request = shutdownRequest_;
    }
    if (request) request();
  }
  // Every completion reaches the host before the batch is closed: a worker whose
  // record has left the queue may still be sending one.
  if (only.State == kStateWaitingForHost && only.TranCodeId == kBatchClose && !AnyWorkerRunning()) {
    Dispatch(only);
  }
}

void CHostInterface::Dispatch(CRequest record) {
  PendingQueue& queue = server_.queue;
  if (const int code = TranCodeInfoOf(record.TranCodeId).localAnswerCode; code != 0) {
    FinishLocally(queue, record, code);
    return;
  }
  NumberClaim numbers;
  HostMessageSources sources = HostMessageSourcesOf(host_);
  // The numbers are saved by the worker, one write for every message that
  // becomes ready meanwhile; this thread goes on to the next record.
  sources.claim = &numbers;
  Status refusal = Status::Ok();
  sources.refusal = &refusal;
  if (!BuildHostRequest(record, sources)) {
    // No layout for this id, or its layout refused it (4003 with the builder's text):
    // nothing the host could read would be sent.
    FinishLocally(queue, record, record.HostErrorText.empty() ? kRcInvalidCommand : kRcHostError);
    return;
  }
  if (!refusal.ok()) {
    // A number file that cannot be read hands out nothing, and a batch the file
    // cannot take opens nothing: nothing is sent.
    NoteNumbersSaved(false);
    record.HostRequest.clear();
    record.State = kStateHostFailed;
    queue.UpdateById(record.QueueId, record);
    return;
  }
  HostSequenceRegistry& tickets = server_.registry;
  const int ticket = tickets.Add();
  if (ticket == 0) {
    FinishLocally(queue, record, kRcShuttingDown);
    return;
  }
  record.State = kStateSending;
  if (!queue.UpdateByIdIfState(record.QueueId, kStateWaitingForHost, record)) {
    // Its session has gone, or cancelled it, since the snapshot: nobody would receive the answer.
    tickets.Remove(ticket);
    return;
  }
  if (!StartWorker(record, std::move(numbers), ticket)) {
    tickets.Remove(ticket);
    FinishLocally(queue, record, kRcWorkerFailed);
  }
}

void CHostInterface::NoteNumbersSaved(bool saved) {
  std::function<void(HostTrafficEvent)> observer;
  {
    MutexLock lock(mutex_);
    if (saved == !numbersNotSavedTold_) return;
    numbersNotSavedTold_ = !saved;
    observer = observer_;
  }
  if (saved) {
    server_.log.Log("Sequence numbers are saved again - transactions are sent to WorldPay.");
    return;
  }
  server_.log.Log(
      "*** Sequence numbers can NOT be saved - transactions are NOT being sent to WorldPay! Check the disk. ***");
  if (observer) observer(HostTrafficEvent::kNumbersNotSaved);
}

bool CHostInterface::StartWorker(CRequest record, NumberClaim numbers, int ticket) {
  const int lane = HostLaneNumber(record);
  HostWorkerSettings workerSettings;
  workerSettings.exchangeTimeout = settings_.exchangeTimeout;
  workerSettings.numbersSaved = [this](bool saved) { NoteNumbersSaved(saved); };
  {
    MutexLock lock(mutex_);
    workerSettings.observer = observer_;
    busyLanes_.insert(lane);
  }
  auto job = [this, record = std::move(record), numbers = std::move(numbers), ticket,
              workerSettings = std::move(workerSettings), lane]() mutable {
    {
      CHostWorker worker(host_, std::move(record), std::move(numbers), ticket, std::move(workerSettings));
      worker.Run();
    }
    {
      MutexLock lock(mutex_);
      busyLanes_.erase(busyLanes_.find(lane));
    }
    // The lane's next record, or one waiting for a worker, may go now.
    server_.queue.WorkQueued().Set();
  };
  bool started = false;
  try {
    started = pool_.Run(std::move(job));
  } catch (const std::bad_alloc&) {
    started = false;
  }
  if (!started) {
    MutexLock lock(mutex_);
    busyLanes_.erase(busyLanes_.find(lane));
  }
  return started;
}

bool CHostInterface::WorkerAvailable() const {
  MutexLock lock(mutex_);
  return busyLanes_.size() < settings_.maxWorkers;
}

std::set<int> CHostInterface::BusyLanes() const {
  MutexLock lock(mutex_);
  return std::set<int>(busyLanes_.begin(), busyLanes_.end());
}

bool CHostInterface::AnyWorkerRunning() const {
  MutexLock lock(mutex_);
  return !busyLanes_.empty();
}

}  // namespace paxelle
