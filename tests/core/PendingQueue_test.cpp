// The pending queue: id assignment and wrap, batch-close exclusivity, copies in and
// out, lookups of ids that are gone, delivery wakers, and concurrent use.
#include "core/PendingQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace paxelle {

// Moves the id counter so the wrap can be reached without a million enqueues.
class PendingQueueTestAccess {
 public:
  static void SetLastId(PendingQueue& queue, int lastId) {
    MutexLock lock(queue.mutex_);
    queue.lastId_ = lastId;
  }
};

namespace {

CRequest Waiting(int tranCodeId = kCreditSale, RequestDisposition disposition = kDispositionProcess,
                 const std::string& client = "127.0.0.1:0005") {
  CRequest record;
  record.TranCodeId = tranCodeId;
  record.Disposition = disposition;
  record.ClientAddress = client;
  record.State = kStateWaitingForHost;
  return record;
}

CRequest BatchClose() {
  return Waiting(kBatchClose, kDispositionBatchClose);
}

std::vector<int> IdsOf(const RequestList& records) {
  std::vector<int> ids;
  for (const CRequest& record : records) ids.push_back(record.QueueId);
  return ids;
}

TEST(PendingQueueIdTest, IdsCountUpInArrivalOrderAndReachTheCaller) {
  PendingQueue queue;
  CRequest first = Waiting(), second = Waiting(kDebitSale), third = Waiting(kEbtFoodSale);
  ASSERT_EQ(queue.Enqueue(first), PendingQueue::kAccepted);
  ASSERT_EQ(queue.Enqueue(second), PendingQueue::kAccepted);
  ASSERT_EQ(queue.Enqueue(third), PendingQueue::kAccepted);
  EXPECT_EQ(first.QueueId, 1);
  EXPECT_EQ(second.QueueId, 2);
  EXPECT_EQ(third.QueueId, 3);
  EXPECT_EQ(queue.ActiveCount(), 3);

  RequestList snapshot(2, CRequest());  // stale content must go
  queue.Snapshot(snapshot);
  EXPECT_EQ(IdsOf(snapshot), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(snapshot.back().TranCodeId, kEbtFoodSale);
  EXPECT_EQ(queue.ActiveCount(), 3) << "reading must not change the count";
}

TEST(PendingQueueIdTest, MillionthIdWrapsToOne) {
  PendingQueue queue;
  CRequest record;
  // The first ids are counted out for real; the hook then skips the long middle run.
  for (int expected = 1; expected <= 1000; ++expected) {
    ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
    ASSERT_EQ(record.QueueId, expected);
    ASSERT_TRUE(queue.RemoveById(record.QueueId));
  }
  PendingQueueTestAccess::SetLastId(queue, 999998);
  ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
  EXPECT_EQ(record.QueueId, 999999);
  ASSERT_TRUE(queue.RemoveById(record.QueueId));
  ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
  EXPECT_EQ(record.QueueId, 1) << "the 1000000th id";
  ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
  EXPECT_EQ(record.QueueId, 2);
}

TEST(PendingQueueIdTest, WrapSkipsIdsStillQueued) {
  PendingQueue queue;
  CRequest oldest = Waiting(), older = Waiting();
  ASSERT_EQ(queue.Enqueue(oldest), PendingQueue::kAccepted);  // 1
  ASSERT_EQ(queue.Enqueue(older), PendingQueue::kAccepted);   // 2, both never collected

  PendingQueueTestAccess::SetLastId(queue, PendingQueue::kMaxQueueId - 1);
  CRequest last = Waiting(), wrapped = Waiting(), next = Waiting();
  ASSERT_EQ(queue.Enqueue(last), PendingQueue::kAccepted);
  ASSERT_EQ(queue.Enqueue(wrapped), PendingQueue::kAccepted);
  ASSERT_EQ(queue.Enqueue(next), PendingQueue::kAccepted);
  EXPECT_EQ(last.QueueId, PendingQueue::kMaxQueueId);
  EXPECT_EQ(wrapped.QueueId, 3);
  EXPECT_EQ(next.QueueId, 4);

  // Each id still names exactly the record it was given to.
  CRequest found;
  ASSERT_TRUE(queue.FindById(1, found));
  EXPECT_EQ(found.QueueId, 1);
  RequestList snapshot;
  queue.Snapshot(snapshot);
  EXPECT_EQ(IdsOf(snapshot), (std::vector<int>{1, 2, PendingQueue::kMaxQueueId, 3, 4}));
}

TEST(PendingQueueIdTest, ClearKeepsIdsCounting) {
  PendingQueue queue;
  CRequest record = Waiting();
  ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
  ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
  queue.Clear();
  EXPECT_EQ(queue.ActiveCount(), 0);
  ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
  EXPECT_EQ(record.QueueId, 3) << "a session may still hold ids from before the clear";
}

TEST(PendingQueueExclusiveTest, SaleRefusedWhileBatchCloseQueuedThenAcceptedAfterRemoval) {
  PendingQueue queue;
  CRequest close = BatchClose();
  ASSERT_EQ(queue.EnqueueExclusive(close), PendingQueue::kAccepted);
  EXPECT_TRUE(queue.IsExclusive());
  ASSERT_TRUE(queue.WorkQueued().Wait(std::chrono::milliseconds(0)));

  CRequest sale = Waiting();
  EXPECT_EQ(queue.Enqueue(sale), PendingQueue::kRefused);
  EXPECT_EQ(sale.QueueId, -1) << "a refused record is left as it was";
  EXPECT_EQ(queue.ActiveCount(), 1);
  EXPECT_FALSE(queue.WorkQueued().IsSet()) << "nothing new to work on";
  RequestList snapshot;
  queue.Snapshot(snapshot);
  EXPECT_EQ(IdsOf(snapshot), std::vector<int>{close.QueueId});

  CRequest secondClose = BatchClose();
  EXPECT_EQ(queue.EnqueueExclusive(secondClose), PendingQueue::kRefused);
  EXPECT_EQ(secondClose.QueueId, -1);
  EXPECT_EQ(queue.ActiveCount(), 1);

  ASSERT_TRUE(queue.RemoveBatchById(close.QueueId));
  EXPECT_FALSE(queue.IsExclusive());
  ASSERT_EQ(queue.Enqueue(sale), PendingQueue::kAccepted);
  EXPECT_EQ(sale.QueueId, close.QueueId + 1) << "refusals use up no ids";
}

TEST(PendingQueueExclusiveTest, BatchCloseMayJoinRecordsAlreadyQueued) {
  PendingQueue queue;
  CRequest sale = Waiting(), close = BatchClose();
  ASSERT_EQ(queue.Enqueue(sale), PendingQueue::kAccepted);
  EXPECT_EQ(queue.EnqueueExclusive(close), PendingQueue::kAccepted);
  EXPECT_TRUE(queue.IsExclusive());
  EXPECT_EQ(queue.ActiveCount(), 2);
  ASSERT_TRUE(queue.RemoveById(sale.QueueId));
  EXPECT_TRUE(queue.IsExclusive()) << "removing another record leaves the close pending";
}

TEST(PendingQueueExclusiveTest, ClearEndsExclusiveState) {
  PendingQueue queue;
  CRequest close = BatchClose();
  ASSERT_EQ(queue.EnqueueExclusive(close), PendingQueue::kAccepted);
  queue.Clear();
  EXPECT_FALSE(queue.IsExclusive());
  EXPECT_EQ(queue.ActiveCount(), 0);
  CRequest sale = Waiting();
  EXPECT_EQ(queue.Enqueue(sale), PendingQueue::kAccepted);
}

TEST(PendingQueueExclusiveTest, ExclusiveStateFollowsTheCloseRecordItself) {
  struct Case {
    const char* what;
    bool useBatchRemoval;
    bool removeTheClose;
    bool exclusiveAfter;
  } cases[] = {
      {"close removed with the batch removal", true, true, false},
      {"close removed with the plain removal", false, true, false},
      {"a sale removed with the batch removal", true, false, true},
      {"a sale removed with the plain removal", false, false, true},
  };
  for (const Case& c : cases) {
    PendingQueue queue;
    CRequest sale = Waiting(), close = BatchClose();
    ASSERT_EQ(queue.Enqueue(sale), PendingQueue::kAccepted);
    ASSERT_EQ(queue.EnqueueExclusive(close), PendingQueue::kAccepted);
    const int id = c.removeTheClose ? close.QueueId : sale.QueueId;
    EXPECT_TRUE(c.useBatchRemoval ? queue.RemoveBatchById(id) : queue.RemoveById(id)) << c.what;
    EXPECT_EQ(queue.IsExclusive(), c.exclusiveAfter) << c.what;
  }
}

TEST(PendingQueueExclusiveTest, BatchRemovalOfUnknownIdChangesNothing) {
  PendingQueue queue;
  CRequest close = BatchClose();
  ASSERT_EQ(queue.EnqueueExclusive(close), PendingQueue::kAccepted);
  EXPECT_FALSE(queue.RemoveBatchById(close.QueueId + 1));
  EXPECT_FALSE(queue.RemoveBatchById(0));
  EXPECT_TRUE(queue.IsExclusive());
  EXPECT_EQ(queue.ActiveCount(), 1);
}

TEST(PendingQueueExclusiveTest, SnapshotWithExclusiveReportsFlagAndRecordsTogether) {
  PendingQueue queue;
  CRequest sale = Waiting(), close = BatchClose();
  ASSERT_EQ(queue.Enqueue(sale), PendingQueue::kAccepted);
  RequestList snapshot;
  EXPECT_FALSE(queue.SnapshotWithExclusive(snapshot));
  EXPECT_EQ(IdsOf(snapshot), std::vector<int>{sale.QueueId});

  ASSERT_EQ(queue.EnqueueExclusive(close), PendingQueue::kAccepted);
  EXPECT_TRUE(queue.SnapshotWithExclusive(snapshot));
  EXPECT_EQ(IdsOf(snapshot), (std::vector<int>{sale.QueueId, close.QueueId}));
}

TEST(PendingQueueCopyTest, StoredRecordIsIndependentOfEveryCopy) {
  PendingQueue queue;
  CRequest record = Waiting();
  record.HostText = "original";
  ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
  record.HostText = "caller changed its own";

  CRequest found;
  ASSERT_TRUE(queue.FindById(record.QueueId, found));
  EXPECT_EQ(found.HostText, "original");
  found.HostText = "finder changed its copy";

  RequestList snapshot;
  queue.Snapshot(snapshot);
  snapshot.front().State = kStateParsed;
  RequestList collected;
  queue.CollectByIds({record.QueueId}, collected);
  collected.front().HostText = "collector changed its copy";

  CRequest again;
  ASSERT_TRUE(queue.FindById(record.QueueId, again));
  EXPECT_EQ(again.HostText, "original");
  EXPECT_EQ(again.State, kStateWaitingForHost);

  CRequest update = again;
  update.HostText = "written back";
  ASSERT_TRUE(queue.UpdateById(record.QueueId, update));
  update.HostText = "changed after writing";
  ASSERT_TRUE(queue.FindById(record.QueueId, again));
  EXPECT_EQ(again.HostText, "written back");
}

TEST(PendingQueueCopyTest, UpdateKeepsTheQueueIdOfTheSlot) {
  PendingQueue queue;
  CRequest record = Waiting();
  ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
  CRequest stray = record;
  stray.QueueId = 777;
  stray.State = kStateSending;
  ASSERT_TRUE(queue.UpdateById(record.QueueId, stray));
  CRequest found;
  ASSERT_TRUE(queue.FindById(record.QueueId, found));
  EXPECT_EQ(found.QueueId, record.QueueId);
  EXPECT_EQ(found.State, kStateSending);
  EXPECT_FALSE(queue.FindById(777, found));
}

TEST(PendingQueueCopyTest, ConditionalUpdateOnlyWhileTheStateIsUnchanged) {
  PendingQueue queue;
  CRequest record = Waiting();
  record.State = kStateDialHandOver;
  ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
  CRequest answered = record;
  answered.State = kStateDialAnswered;
  CRequest failed = record;
  failed.State = kStateHostFailed;
  failed.HostErrorText = "too late";
  ASSERT_TRUE(queue.UpdateByIdIfState(record.QueueId, kStateDialHandOver, answered));
  EXPECT_FALSE(queue.UpdateByIdIfState(record.QueueId, kStateDialHandOver, failed)) << "already answered";
  CRequest found;
  ASSERT_TRUE(queue.FindById(record.QueueId, found));
  EXPECT_EQ(found.State, kStateDialAnswered);
  EXPECT_EQ(found.HostErrorText, "");
  EXPECT_FALSE(queue.UpdateByIdIfState(999, kStateDialAnswered, failed));
}

TEST(PendingQueueLookupTest, CollectByIdsReturnsQueueOrderAndSkipsGoneIds) {
  PendingQueue queue;
  std::vector<CRequest> records(4, Waiting());
  for (CRequest& record : records) ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
  ASSERT_TRUE(queue.RemoveById(2));

  RequestList out(3, CRequest());
  queue.CollectByIds({4, 2, 1, 99}, out);
  EXPECT_EQ(IdsOf(out), (std::vector<int>{1, 4}));

  queue.CollectByIds({}, out);
  EXPECT_TRUE(out.empty());
  queue.CollectByIds({2}, out);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(queue.ActiveCount(), 3);
}

TEST(PendingQueueLookupTest, OperationsOnGoneIdsReportAbsenceAndChangeNothing) {
  PendingQueue queue;
  CRequest kept = Waiting(), gone = Waiting();
  ASSERT_EQ(queue.Enqueue(kept), PendingQueue::kAccepted);
  ASSERT_EQ(queue.Enqueue(gone), PendingQueue::kAccepted);
  ASSERT_TRUE(queue.RemoveById(gone.QueueId));

  CRequest out;
  out.HostText = "untouched";
  EXPECT_FALSE(queue.FindById(gone.QueueId, out));
  EXPECT_EQ(out.HostText, "untouched");
  CRequest update = gone;
  update.State = kStateParsed;
  EXPECT_FALSE(queue.UpdateById(gone.QueueId, update));
  EXPECT_FALSE(queue.RemoveById(gone.QueueId));
  EXPECT_FALSE(queue.RemoveById(-1));
  EXPECT_EQ(queue.ActiveCount(), 1);

  RequestList snapshot;
  queue.Snapshot(snapshot);
  ASSERT_EQ(IdsOf(snapshot), std::vector<int>{kept.QueueId});
  EXPECT_EQ(snapshot.front().State, kStateWaitingForHost);
}

TEST(PendingQueueWakerTest, FiresExactlyForStatesASessionAnswers) {
  for (int number = static_cast<int>(kStateCreated); number <= static_cast<int>(kStateDialWorking); ++number) {
    const auto state = static_cast<RequestState>(number);
    const bool deliverable = state == kStateAborted || state == kStateTimedOut ||
                             state == kStateHostFailed || state == kStateFinishedLocally ||
                             state == kStateParsed || state == kStateReceivedUnparsed;
    PendingQueue queue;
    auto calls = std::make_shared<int>(0);
    CRequest record = Waiting();
    ASSERT_EQ(queue.Enqueue(record, [calls] { ++*calls; }), PendingQueue::kAccepted);
    EXPECT_EQ(*calls, 0) << "queuing is not a delivery";
    record.State = state;
    ASSERT_TRUE(queue.UpdateById(record.QueueId, record));
    EXPECT_EQ(*calls, deliverable ? 1 : 0) << "state " << state;
  }
}

TEST(PendingQueueWakerTest, StaysWithItsRecordAcrossUpdates) {
  PendingQueue queue;
  auto firstCalls = std::make_shared<int>(0), secondCalls = std::make_shared<int>(0);
  CRequest first = Waiting(), second = Waiting(), plain = Waiting();
  ASSERT_EQ(queue.Enqueue(first, [firstCalls] { ++*firstCalls; }), PendingQueue::kAccepted);
  ASSERT_EQ(queue.Enqueue(second, [secondCalls] { ++*secondCalls; }), PendingQueue::kAccepted);
  ASSERT_EQ(queue.Enqueue(plain), PendingQueue::kAccepted);

  first.State = kStateSending;
  ASSERT_TRUE(queue.UpdateById(first.QueueId, first));
  first.State = kStateDialHandOver;
  ASSERT_TRUE(queue.UpdateById(first.QueueId, first));
  EXPECT_EQ(*firstCalls, 0);
  first.State = kStateParsed;
  ASSERT_TRUE(queue.UpdateById(first.QueueId, first));
  EXPECT_EQ(*firstCalls, 1);
  EXPECT_EQ(*secondCalls, 0) << "only the updated record's waker runs";
  first.State = kStateDelivered;
  ASSERT_TRUE(queue.UpdateById(first.QueueId, first));
  EXPECT_EQ(*firstCalls, 1);

  plain.State = kStateParsed;
  EXPECT_TRUE(queue.UpdateById(plain.QueueId, plain)) << "a record without a waker updates fine";

  ASSERT_TRUE(queue.RemoveById(second.QueueId));
  second.State = kStateParsed;
  EXPECT_FALSE(queue.UpdateById(second.QueueId, second));
  EXPECT_EQ(*secondCalls, 0);
  EXPECT_EQ(secondCalls.use_count(), 1) << "removal releases the waker";
}

TEST(PendingQueueWakerTest, WorkQueuedIsSetOncePerAcceptedEnqueue) {
  PendingQueue queue;
  EXPECT_FALSE(queue.WorkQueued().IsSet());
  CRequest record = Waiting();
  ASSERT_EQ(queue.Enqueue(record), PendingQueue::kAccepted);
  EXPECT_TRUE(queue.WorkQueued().Wait(std::chrono::milliseconds(0)));
  EXPECT_FALSE(queue.WorkQueued().Wait(std::chrono::milliseconds(0))) << "auto reset";
}

// Lanes, a batch-closing lane, a host poller and an observer share one queue the way
// sessions and the host thread do; every record must come back to its own lane once.
TEST(PendingQueueThreadedTest, SessionsAndHostShareTheQueue) {
  constexpr int kLanes = 4;
  constexpr int kSalesPerLane = 150;
  constexpr int kCloses = 15;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  auto late = [&] { return std::chrono::steady_clock::now() > deadline; };

  PendingQueue queue;
  Event hostStop(Event::Reset::kManual);
  std::atomic<bool> observerStop{false};
  std::atomic<int> inconsistencies{0};
  std::atomic<int> duplicateIds{0};

  auto answerOf = [](const CRequest& record) {
    return record.ClientAddress + "#" + std::to_string(record.QueueId);
  };

  std::thread host([&] {
    RequestList snapshot;
    while (!hostStop.IsSet()) {
      Event::WaitAny({&hostStop, &queue.WorkQueued()}, std::chrono::milliseconds(20));
      queue.Snapshot(snapshot);
      for (CRequest& record : snapshot) {
        if (record.State != kStateWaitingForHost) continue;
        record.State = kStateSending;
        if (!queue.UpdateById(record.QueueId, record)) continue;
        record.HostText = answerOf(record);
        record.State = kStateParsed;
        queue.UpdateById(record.QueueId, record);
      }
    }
  });

  std::thread observer([&] {
    RequestList snapshot;
    CRequest found;
    while (!observerStop.load()) {
      const bool exclusive = queue.SnapshotWithExclusive(snapshot);
      const bool closeQueued =
          std::any_of(snapshot.begin(), snapshot.end(), [](const CRequest& record) {
            return record.Disposition == kDispositionBatchClose;
          });
      if (exclusive != closeQueued) ++inconsistencies;
      const std::vector<int> ids = IdsOf(snapshot);
      if (std::set<int>(ids.begin(), ids.end()).size() != ids.size()) ++duplicateIds;
      if (!ids.empty() && queue.FindById(ids.front(), found) && found.QueueId != ids.front()) {
        ++inconsistencies;
      }
      std::this_thread::yield();
    }
  });

  struct LaneResult {
    int delivered = 0;
    int wrongAnswers = 0;
    int refused = 0;
    std::shared_ptr<std::atomic<int>> wakes = std::make_shared<std::atomic<int>>(0);
  };
  std::vector<LaneResult> results(kLanes + 1);

  auto runLane = [&](int lane, int toSend, bool closes) {
    LaneResult& result = results[lane];
    const std::string client = "10.0.0." + std::to_string(lane) + ":0100";
    auto wake = std::make_shared<Event>(Event::Reset::kAuto);
    auto wakes = result.wakes;
    std::vector<int> pending;
    RequestList fetched;
    int sent = 0;
    while ((sent < toSend || !pending.empty()) && !late()) {
      if (sent < toSend && pending.size() < 3) {
        CRequest record = closes ? BatchClose() : Waiting(kCreditSale, kDispositionProcess, client);
        record.ClientAddress = client;
        auto waker = [wake, wakes] {
          ++*wakes;
          wake->Set();
        };
        const int rc = closes ? queue.EnqueueExclusive(record, waker) : queue.Enqueue(record, waker);
        if (rc == PendingQueue::kAccepted) {
          pending.push_back(record.QueueId);
          ++sent;
        } else {
          ++result.refused;
        }
      }
      queue.CollectByIds(pending, fetched);
      for (CRequest& record : fetched) {
        if (record.State != kStateParsed) continue;
        if (record.HostText != answerOf(record) || record.ClientAddress != client) {
          ++result.wrongAnswers;
        }
        record.State = kStateDelivered;
        queue.UpdateById(record.QueueId, record);
      }
      queue.CollectByIds(pending, fetched);
      for (const CRequest& record : fetched) {
        if (record.State != kStateDelivered) continue;
        const bool removed = record.TranCodeId == kBatchClose ? queue.RemoveBatchById(record.QueueId)
                                                             : queue.RemoveById(record.QueueId);
        if (removed) ++result.delivered;
        pending.erase(std::find(pending.begin(), pending.end(), record.QueueId));
      }
      wake->Wait(std::chrono::milliseconds(pending.empty() ? 1 : 5));
    }
  };

  std::vector<std::thread> lanes;
  for (int lane = 0; lane < kLanes; ++lane) lanes.emplace_back(runLane, lane, kSalesPerLane, false);
  lanes.emplace_back(runLane, kLanes, kCloses, true);
  for (std::thread& lane : lanes) lane.join();
  hostStop.Set();
  host.join();
  observerStop = true;
  observer.join();

  ASSERT_FALSE(late()) << "lanes did not finish";
  for (int lane = 0; lane <= kLanes; ++lane) {
    const int expected = lane == kLanes ? kCloses : kSalesPerLane;
    EXPECT_EQ(results[lane].delivered, expected) << "lane " << lane;
    EXPECT_EQ(results[lane].wrongAnswers, 0) << "lane " << lane;
    EXPECT_EQ(results[lane].wakes->load(), expected) << "one wake per answered record, lane " << lane;
  }
  EXPECT_EQ(inconsistencies.load(), 0);
  EXPECT_EQ(duplicateIds.load(), 0);
  EXPECT_EQ(queue.ActiveCount(), 0);
  EXPECT_FALSE(queue.IsExclusive());
}

}  // namespace
}  // namespace paxelle
