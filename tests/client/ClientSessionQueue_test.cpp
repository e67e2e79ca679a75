// The client session and the pending queue: the interim reply, delivery of
// finished records (woken at once, not at the next poll), aborts, the batch
// close's exclusivity, and what happens to the records of a lane that goes.
// The tests play the host thread themselves through the queue.
#include "client/ClientSession.h"

#include "config/MerchantParams.h"
#include "core/PendingQueue.h"
#include "core/ReturnCodes.h"
#include "tests/client/SessionTestSupport.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

using namespace std::chrono_literals;
using testing::kPatience;
using testing::SessionTest;
using testing::TestLane;
using testing::WaitFor;

// With a 30 s poll interval, only the wake-up can bring a result within the
// tests' patience.
ClientSessionSettings SlowPolling() {
  ClientSessionSettings settings;
  settings.pollInterval = 30s;
  return settings;
}

ClientSessionSettings FastPolling() {
  ClientSessionSettings settings;
  settings.pollInterval = 50ms;
  settings.drainStep = 20ms;
  return settings;
}

TEST_F(SessionTest, QueuedRequestIsAnsweredAsSoonAsTheHostFinishesIt) {
  StartListener(SlowPolling());
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  ASSERT_TRUE(lane.SendRequest(testing::CreditSalePayload(), "sale-1"));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 0);
  EXPECT_EQ(reply.cmdStatus, "Success");
  EXPECT_EQ(reply.textResponse, "Queued:045:000");

  CRequest record;
  ASSERT_TRUE(WaitFor("the sale on the queue", [&] { return FindQueued("sale-1", record); }, kPatience));
  EXPECT_EQ(record.State, kStateWaitingForHost);
  EXPECT_EQ(record.TranCodeId, kCreditSale);
  EXPECT_EQ(record.ClientAddress.rfind("127.0.0.1:", 0), 0u);
  FinishApproved(record);

  lane::LaneResponse response;
  ASSERT_TRUE(lane.ReadReply(reply, kPatience, &response));
  EXPECT_EQ(response.frameType, lane::kTypeEncrypted);
  EXPECT_EQ(reply.cmdStatus, "Approved");
  EXPECT_EQ(reply.responseOrigin, "Processor");
  EXPECT_EQ(reply.userTraceData, "sale-1");
  EXPECT_TRUE(WaitFor("the queue to empty", [this] { return Queue().ActiveCount() == 0; }, kPatience));
}

TEST_F(SessionTest, InterimReplyCountsTheRecordsAlreadyQueued) {
  StartListener(SlowPolling());
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  CRequest first;
  QueueSale(lane, "one", first);
  ASSERT_TRUE(lane.SendRequest(testing::CreditSalePayload(), "two"));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.textResponse, "Queued:045:001");
}

TEST_F(SessionTest, LocallyFinishedAndCancelledRecordsGetTheirErrorAnswers) {
  StartListener(SlowPolling());
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  CRequest failed;
  CRequest cancelled;
  CRequest timedOut;
  QueueSale(lane, "failed", failed);
  QueueSale(lane, "cancelled", cancelled);
  QueueSale(lane, "late", timedOut);

  struct Case {
    CRequest* record;
    RequestState state;
    int returnCode;
    std::string code;
    std::string text;
  };
  for (const Case& c : {Case{&failed, kStateFinishedLocally, kRcGeneralFailure, "001001", ""},
                        Case{&cancelled, kStateAborted, 0, "001010", "User Abort."},
                        Case{&timedOut, kStateTimedOut, 0, "001007", ""}}) {
    FinishWithState(*c.record, c.state, c.returnCode);
    lane::CommandResponse reply;
    lane::LaneResponse response;
    ASSERT_TRUE(lane.ReadReply(reply, kPatience, &response)) << c.code;
    EXPECT_EQ(response.frameType, lane::kTypeClear);
    EXPECT_EQ(reply.returnCodeText, c.code);
    EXPECT_EQ(reply.cmdStatus, "Error");
    EXPECT_EQ(reply.userTraceData, c.record->UserTraceData);
    if (!c.text.empty()) {
      EXPECT_EQ(reply.textResponse, c.text);
    }
  }
  EXPECT_TRUE(WaitFor("the queue to empty", [this] { return Queue().ActiveCount() == 0; }, kPatience));
}

TEST_F(SessionTest, AbortFrameIsQueuedWithoutAReply) {
  StartListener(FastPolling());
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  CRequest sale;
  QueueSale(lane, "waiting", sale);
  ASSERT_TRUE(lane.Connection().SendAbort("stop"));

  CRequest abort;
  ASSERT_TRUE(WaitFor("the request on the queue", [&] { return FindQueued("stop", abort); }, kPatience));
  EXPECT_EQ(abort.Disposition, kDispositionAbort);
  EXPECT_EQ(abort.State, kStateWaitingForHost);
  EXPECT_EQ(abort.ClientAddress, sale.ClientAddress);

  // The host cancels the sale and marks the abort done.
  FinishWithState(sale, kStateAborted);
  FinishWithState(abort, kStateDelivered);
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCodeText, "001010");
  EXPECT_EQ(reply.userTraceData, "waiting");
  EXPECT_TRUE(WaitFor("the queue to empty", [this] { return Queue().ActiveCount() == 0; }, kPatience));
  // Nothing answered the abort itself.
  std::string frame;
  EXPECT_EQ(lane.Connection().ReadFrame(200ms, frame), lane::ReadStatus::kTimeout);
}

TEST_F(SessionTest, BatchCloseHoldsOffOtherLanesUntilItIsDelivered) {
  Configure({{kParamBatchCloseOption, "N"}});
  StartListener(SlowPolling());
  TestLane closer;
  TestLane seller;
  ASSERT_TRUE(closer.LogIn(Port()));
  ASSERT_TRUE(seller.LogIn(Port()));

  ASSERT_TRUE(closer.SendRequest(testing::BatchClosePayload(), "close"));
  lane::CommandResponse reply;
  ASSERT_TRUE(closer.ReadReply(reply));
  ASSERT_TRUE(lane::IsQueuedReply(reply));
  CRequest close;
  ASSERT_TRUE(WaitFor("the close on the queue", [&] { return FindQueued("close", close); }, kPatience));
  EXPECT_TRUE(Queue().IsExclusive());

  ASSERT_TRUE(seller.SendRequest(testing::CreditSalePayload(), "refused-sale"));
  ASSERT_TRUE(seller.ReadReply(reply));
  EXPECT_TRUE(lane::IsQueuedReply(reply));
  EXPECT_EQ(reply.textResponse.substr(0, 11), "Queued:045:");
  ASSERT_TRUE(seller.ReadReply(reply));
  EXPECT_EQ(reply.returnCodeText, "004015");
  EXPECT_EQ(reply.textResponse, "Batch Settlement in Progress.");
  CRequest absent;
  EXPECT_FALSE(FindQueued("refused-sale", absent));

  FinishApproved(close);
  ASSERT_TRUE(closer.ReadReply(reply));
  EXPECT_EQ(reply.cmdStatus, "Success");
  EXPECT_EQ(reply.userTraceData, "close");
  ASSERT_TRUE(WaitFor("the exclusive hold to end", [this] { return !Queue().IsExclusive(); }, kPatience));

  CRequest sale;
  QueueSale(seller, "next-sale", sale);
}

TEST_F(SessionTest, GoneLanesApprovalIsDeliveredIntoTheVoidAndLogged) {
  ClientSessionSettings settings = FastPolling();
  settings.drainLimit = kPatience;
  StartListener(settings);
  CRequest sale;
  {
    TestLane lane;
    ASSERT_TRUE(lane.LogIn(Port()));
    ASSERT_TRUE(lane.SendRequest(testing::CreditSalePayload(), "orphan"));
    ASSERT_TRUE(WaitFor("the sale on the queue", [&] { return FindQueued("orphan", sale); }, kPatience));
    // A worker has sent it to the host before the lane goes: it is answered
    // even so (a record not yet sent would be cancelled).
    sale.State = kStateSending;
    ASSERT_TRUE(Queue().UpdateById(sale.QueueId, sale));
    ASSERT_TRUE(Queue().MarkSent(sale.QueueId));
    // Closing with the interim reply unread resets the connection, so the
    // result's send fails for certain.
  }
  FinishApproved(sale);
  ASSERT_TRUE(WaitFor("the queue to empty", [this] { return Queue().ActiveCount() == 0; }, kPatience));
  ASSERT_TRUE(WaitFor("every connection to end", [&] { return Listener().ConnectionCount() == 0; }, kPatience));
  const std::string logged = LoggedText();
  EXPECT_NE(logged.find("Unable to deliver approved response to Client for " + sale.ClientAddress + "!"),
            std::string::npos);
  EXPECT_NE(logged.find("** FAILED **"), std::string::npos);
}

TEST_F(SessionTest, GoneLanesRecordsAreRemovedWhenTheDrainRunsOut) {
  ClientSessionSettings settings = FastPolling();
  settings.drainLimit = 300ms;
  StartListener(settings);
  {
    TestLane lane;
    ASSERT_TRUE(lane.LogIn(Port()));
    CRequest sale;
    QueueSale(lane, "never-finished", sale);
  }
  // The host never answers; the session gives the record up.
  EXPECT_TRUE(WaitFor("the queue to empty", [this] { return Queue().ActiveCount() == 0; }, kPatience));
  EXPECT_TRUE(WaitFor("every connection to end", [&] { return Listener().ConnectionCount() == 0; }, kPatience));
}

TEST_F(SessionTest, GoingOfflineLeavesNoRecordBehind) {
  StartListener(FastPolling());
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  CRequest sale;
  QueueSale(lane, "offline", sale);
  Listener().SetGoingOffline();
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 2003);
  EXPECT_TRUE(WaitFor("the queue to empty", [this] { return Queue().ActiveCount() == 0; }, kPatience));
  // A late write-back by the host finds nothing to update.
  EXPECT_FALSE(Queue().UpdateById(sale.QueueId, sale));
}

// One lane may have 32 records waiting; the next request is refused at once
// with 004003 and a log line, an abort is neither refused nor counted, and a
// delivered record frees its place again.
TEST_F(SessionTest, ConnectionPastItsPendingLimitIsRefusedUntilARecordIsDelivered) {
  StartListener(FastPolling());
  ASSERT_EQ(ClientSessionSettings{}.pendingLimit, 32u);
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  CRequest first;
  QueueSale(lane, "sale-0", first);
  ASSERT_TRUE(lane.Connection().SendAbort("abort"));  // queued with no reply, not counted
  for (int i = 1; i < 32; ++i) {
    CRequest record;
    QueueSale(lane, "sale-" + std::to_string(i), record);
  }

  ASSERT_TRUE(lane.SendRequest(testing::CreditSalePayload(), "one-too-many"));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCodeText, "004003");
  EXPECT_EQ(reply.textResponse, "Too many requests pending on this connection - request refused.");
  EXPECT_EQ(reply.userTraceData, "one-too-many");
  CRequest refused;
  EXPECT_FALSE(FindQueued("one-too-many", refused)) << "a refused request is never queued";
  EXPECT_EQ(Queue().ActiveCount(), 33);
  EXPECT_NE(LoggedText().find("32 requests already pending on this connection."), std::string::npos);

  // Another lane is not held back by this one.
  TestLane other;
  ASSERT_TRUE(other.LogIn(Port()));
  CRequest others;
  QueueSale(other, "other", others);
  FinishApproved(others);
  ASSERT_TRUE(other.ReadReply(reply));

  FinishApproved(first);
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.userTraceData, "sale-0");
  ASSERT_TRUE(WaitFor("32 active records", [this] { return Queue().ActiveCount() == 32; }, kPatience));
  CRequest again;
  QueueSale(lane, "after-delivery", again);
}

}  // namespace
}  // namespace paxelle
