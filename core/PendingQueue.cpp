#include "core/PendingQueue.h"

#include <algorithm>
#include <utility>

namespace paxelle {
namespace {

// The states a client session picks up and answers.
bool IsDeliverable(RequestState state) {
  switch (state) {
    case kStateAborted:
    case kStateTimedOut:
    case kStateHostFailed:
    case kStateFinishedLocally:
    case kStateParsed:
    case kStateReceivedUnparsed:
      return true;
    default:
      return false;
  }
}

}  // namespace

PendingQueue::PendingQueue() : workQueued_(Event::Reset::kAuto) {}

PendingQueue::~PendingQueue() = default;

int PendingQueue::Enqueue(CRequest& record, DeliveryWaker waker) {
  return Add(record, std::move(waker), false);
}

int PendingQueue::EnqueueExclusive(CRequest& record, DeliveryWaker waker) {
  return Add(record, std::move(waker), true);
}

int PendingQueue::Add(CRequest& record, DeliveryWaker waker, bool exclusive) {
  {
    MutexLock lock(mutex_);
    if (exclusiveId_ != 0) return kRefused;
    const int id = NextFreeIdLocked();
    if (id == 0) return kRefused;
    const auto position = records_.insert(records_.end(), record);
    position->QueueId = id;
    index_.emplace(id, Slot{position, std::move(waker), ++arrivals_});
    lastId_ = id;
    if (exclusive) exclusiveId_ = id;
    record.QueueId = id;
  }
  workQueued_.Set();
  return kAccepted;
}

int PendingQueue::NextFreeIdLocked() {
  if (index_.size() >= static_cast<size_t>(kMaxQueueId)) return 0;
  int id = lastId_;
  // After a wrap an id may still belong to a record nobody has collected yet; handing
  // it out twice would mix up two transactions, so skip it.
  do {
    id = (id >= kMaxQueueId || id < 0) ? 1 : id + 1;
  } while (index_.count(id) != 0);
  return id;
}

void PendingQueue::Snapshot(RequestList& out) const {
  SnapshotWithExclusive(out);
}

bool PendingQueue::SnapshotWithExclusive(RequestList& out) const {
  out.clear();
  MutexLock lock(mutex_);
  out.insert(out.end(), records_.begin(), records_.end());
  return exclusiveId_ != 0;
}

void PendingQueue::CollectByIds(const std::vector<int>& ids, RequestList& out) const {
  out.clear();
  if (ids.empty()) return;
  std::vector<const Slot*> found;
  found.reserve(ids.size());
  MutexLock lock(mutex_);
  for (const int id : ids) {
    const auto slot = index_.find(id);
    if (slot == index_.end()) continue;
    if (std::find(found.begin(), found.end(), &slot->second) == found.end()) found.push_back(&slot->second);
  }
  std::sort(found.begin(), found.end(), [](const Slot* a, const Slot* b) { return a->arrival < b->arrival; });
  for (const Slot* slot : found) out.push_back(*slot->position);
}

bool PendingQueue::FindById(int id, CRequest& out) const {
  MutexLock lock(mutex_);
  const auto found = index_.find(id);
  if (found == index_.end()) return false;
  out = *found->second.position;
  return true;
}

bool PendingQueue::UpdateById(int id, const CRequest& record) { return Update(id, nullptr, record); }

bool PendingQueue::UpdateByIdIfState(int id, RequestState expectedState, const CRequest& record) {
  return Update(id, &expectedState, record);
}

bool PendingQueue::Update(int id, const RequestState* expectedState, const CRequest& record) {
  DeliveryWaker waker;
  {
    MutexLock lock(mutex_);
    const auto found = index_.find(id);
    if (found == index_.end()) return false;
    CRequest& stored = *found->second.position;
    if (expectedState != nullptr && stored.State != *expectedState) return false;
    stored = record;
    // The index is keyed by id; a stray QueueId in the copy must not detach the record.
    stored.QueueId = id;
    if (IsDeliverable(stored.State)) waker = found->second.waker;
  }
  if (waker) waker();
  return true;
}

bool PendingQueue::MarkSent(int id) {
  MutexLock lock(mutex_);
  const auto found = index_.find(id);
  if (found == index_.end() || found->second.position->State != kStateSending) return false;
  found->second.sent = true;
  return true;
}

bool PendingQueue::AbandonUnsent(int id) {
  DeliveryWaker waker;
  {
    MutexLock lock(mutex_);
    const auto found = index_.find(id);
    if (found == index_.end()) return false;
    CRequest& stored = *found->second.position;
    const bool unsent = stored.State == kStateWaitingForHost || (stored.State == kStateSending && !found->second.sent);
    if (!unsent) return false;
    stored.State = kStateAborted;
    waker = found->second.waker;
  }
  if (waker) waker();
  return true;
}

bool PendingQueue::RemoveLocked(int id, RequestList& removed, DeliveryWaker& waker) {
  const auto found = index_.find(id);
  if (found == index_.end()) return false;
  removed.splice(removed.end(), records_, found->second.position);
  waker = std::move(found->second.waker);
  index_.erase(found);
  // The exclusive state stands for "a batch close is queued": once that record is gone,
  // however it left, keeping the flag would refuse every sale for good.
  if (exclusiveId_ == id) exclusiveId_ = 0;
  return true;
}

bool PendingQueue::RemoveById(int id) {
  // Declared before the lock so the record and its waker are destroyed after unlocking.
  RequestList removed;
  DeliveryWaker waker;
  MutexLock lock(mutex_);
  return RemoveLocked(id, removed, waker);
}

bool PendingQueue::RemoveBatchById(int id) {
  return RemoveById(id);
}

int PendingQueue::ActiveCount() const {
  MutexLock lock(mutex_);
  return static_cast<int>(records_.size());
}

bool PendingQueue::IsExclusive() const {
  MutexLock lock(mutex_);
  return exclusiveId_ != 0;
}

void PendingQueue::Clear() {
  // Declared before the lock so the records are destroyed after unlocking.
  RequestList records;
  std::unordered_map<int, Slot> index;
  MutexLock lock(mutex_);
  records.swap(records_);
  index.swap(index_);
  exclusiveId_ = 0;
}

Event& PendingQueue::WorkQueued() {
  return workQueued_;
}

}  // namespace paxelle
