// PendingQueue: the locked queue of transaction records shared by the client
// sessions, the host thread and the dial link, exchanged only as copies.
#pragma once

#include "common/Event.h"
#include "core/Request.h"
#include "core/RequestList.h"
#include "common/Mutex.h"

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

namespace paxelle {

class PendingQueue {
 public:
  // Called (outside the queue's lock) when a record of this caller reaches a state the
  // session answers (3, 4, 5, 6, 8, 10) through UpdateById. Must be cheap and must not
  // call back into the queue. It may run just after its record left the queue, so it
  // should hold what it touches by shared ownership.
  using DeliveryWaker = std::function<void()>;

  static constexpr int kAccepted = 0;
  static constexpr int kRefused = 2;
  // Queue ids run 1..kMaxQueueId and then wrap to 1.
  static constexpr int kMaxQueueId = 999999;

  PendingQueue();
  PendingQueue(const PendingQueue&) = delete;
  PendingQueue& operator=(const PendingQueue&) = delete;
  ~PendingQueue();

  // Gives `record` the next free QueueId (in the caller's copy too) and stores a copy.
  // Returns kAccepted, or kRefused (record untouched) while a batch close is queued.
  int Enqueue(CRequest& record, DeliveryWaker waker = {});
  // As Enqueue, but also refused when a batch close is already queued; on success the
  // queue turns exclusive until this record is removed or the queue cleared.
  int EnqueueExclusive(CRequest& record, DeliveryWaker waker = {});

  // Replaces `out` with copies of every queued record in arrival order.
  void Snapshot(RequestList& out) const;
  // Snapshot plus the exclusive flag, read in the same locked step so they agree.
  bool SnapshotWithExclusive(RequestList& out) const;
  // Replaces `out` with copies, in queue order, of the queued records whose QueueId is
  // in `ids`; ids no longer queued are skipped silently. Costs what `ids` holds, not
  // the size of the queue.
  void CollectByIds(const std::vector<int>& ids, RequestList& out) const;
  // Copies the record with QueueId `id` into `out`; false (out untouched) when absent.
  bool FindById(int id, CRequest& out) const;
  // Overwrites the stored record with QueueId `id` by a copy of `record` (which keeps
  // QueueId `id`); false when the id is no longer queued. Runs the record's waker
  // afterwards when the new State is one a session answers.
  bool UpdateById(int id, const CRequest& record);
  // As UpdateById, but only while the stored record is in State `expectedState`;
  // false (nothing changed) otherwise. Two threads handing a record to each other
  // use it so that neither overwrites a result the other has already written.
  bool UpdateByIdIfState(int id, RequestState expectedState, const CRequest& record);
  // Called by a host worker just before the record's message leaves (to the host, or
  // to the dial link): true, and the record counts as sent from now on, while it is
  // queued in State 2 (Sending) and its lane has not gone; false means nobody is left
  // to receive the answer, and nothing may be sent.
  bool MarkSent(int id);
  // Called by a session whose lane has gone: a record not yet sent (State 1, or
  // State 2 not yet marked sent) turns to State 3 (Aborted) and true is returned;
  // false for any other record, which goes on as it is.
  bool AbandonUnsent(int id);
  // Removes the record with QueueId `id`; false when absent. Removing the queued batch
  // close, by either call, ends the exclusive state.
  bool RemoveById(int id);
  // The removal a session uses for a delivered batch close; same result as RemoveById.
  bool RemoveBatchById(int id);

  // Number of records queued and not yet removed.
  int ActiveCount() const;
  // True while a batch close is queued.
  bool IsExclusive() const;
  // Drops every record and ends the exclusive state; queue ids keep counting on.
  void Clear();

  // Set (auto reset) by every successful enqueue, so the host thread can wait on it
  // together with its stop event instead of polling blindly.
  Event& WorkQueued();

 private:
  friend class PendingQueueTestAccess;

  struct Slot {
    RequestList::iterator position;
    DeliveryWaker waker;
    std::uint64_t arrival = 0;  // orders records found through the index as the queue does
    bool sent = false;          // MarkSent: its message has left, or is leaving
  };

  int Add(CRequest& record, DeliveryWaker waker, bool exclusive) EXCLUDES(mutex_);
  // UpdateById, only while the stored State is *expectedState when that is given.
  bool Update(int id, const RequestState* expectedState, const CRequest& record) EXCLUDES(mutex_);
  // The id after lastId_ that no queued record holds; 0 when every id is taken.
  int NextFreeIdLocked() REQUIRES(mutex_);
  // Unlinks the record into `removed` so the caller destroys it after unlocking.
  bool RemoveLocked(int id, RequestList& removed, DeliveryWaker& waker) REQUIRES(mutex_);

  mutable Mutex mutex_;
  RequestList records_ GUARDED_BY(mutex_);
  std::unordered_map<int, Slot> index_ GUARDED_BY(mutex_);  // QueueId -> stored record and its waker
  int lastId_ GUARDED_BY(mutex_) = 0;
  std::uint64_t arrivals_ GUARDED_BY(mutex_) = 0;
  int exclusiveId_ GUARDED_BY(mutex_) = 0;  // QueueId of the queued batch close, 0 when none
  Event workQueued_;
};

}  // namespace paxelle
