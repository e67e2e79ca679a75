// The pending queue seen from the lanes: a queued batch close keeps every other
// request out, an abort frame cancels only what still waits for the host, one lane's
// exchanges reach the host one after another, and what a departed lane left unsent
// is never sent.
#include "tests/e2e/E2eFixture.h"

#include "tools/lane/LaneFrames.h"

#include <algorithm>
#include <csignal>
#include <map>
#include <thread>

namespace paxelle::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const std::vector<std::string> kBatchClose = {"TStream=Admin", "MerchantID=1", "ClientID=1", "TranCode=BatchClose"};

class E2eQueueTest : public E2eTest {
 protected:
  // Reads the "Queued:" reply that acknowledges a request.
  void ExpectQueuedReply(lane::LaneConnection& lane) {
    lane::LaneResponse frame;
    ASSERT_EQ(lane.ReadResponse(seconds(10), frame), lane::ReadStatus::kOk) << lane.LastError();
    lane::CommandResponse reply;
    ASSERT_TRUE(lane::ParseCommandResponse(frame.document, reply).ok());
    ASSERT_TRUE(lane::IsQueuedReply(reply)) << reply.returnCodeText << " " << reply.textResponse;
  }
};

// Wakes a stopped simulator whatever way the test ends.
class ResumeOnExit {
 public:
  explicit ResumeOnExit(ChildProcess& process) : process_(process) {}
  ~ResumeOnExit() { process_.Signal(SIGCONT); }
  ResumeOnExit(const ResumeOnExit&) = delete;
  ResumeOnExit& operator=(const ResumeOnExit&) = delete;

 private:
  ChildProcess& process_;
};

TEST_F(E2eQueueTest, SaleWhileABatchCloseIsQueuedIsRefusedUntilTheCloseIsAnswered) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  lane::LaneConnection closer;
  lane::LaneConnection seller;
  ASSERT_NO_FATAL_FAILURE(LogIn(closer));
  ASSERT_NO_FATAL_FAILURE(LogIn(seller));

  // A stopped simulator still completes TCP connects but never shakes hands, so the
  // close stays at the host (the handshake waits up to 10 s per attempt).
  ASSERT_TRUE(Host().Signal(SIGSTOP));
  ResumeOnExit resume(Host());
  ASSERT_TRUE(closer.SendRequest(Payload(kBatchClose))) << closer.LastError();
  ASSERT_NO_FATAL_FAILURE(ExpectQueuedReply(closer));
  // The session queues the close right after acknowledging it; the status title counts it.
  ASSERT_TRUE(WaitForServerOut("#Requests-> 1 ", seconds(10))) << ServerOut();

  ASSERT_TRUE(seller.SendRequest(Payload(SalePairs("10.00", 4001)))) << seller.LastError();
  std::string document;
  lane::CommandResponse refused;
  bool queued = false;
  ASSERT_TRUE(ReadFinal(seller, seconds(10), document, refused, &queued)) << seller.LastError();
  EXPECT_TRUE(queued);
  EXPECT_EQ(refused.returnCodeText, "004015");
  EXPECT_EQ(refused.textResponse, "Batch Settlement in Progress.");

  ASSERT_TRUE(Host().Signal(SIGCONT));
  lane::CommandResponse closed;
  ASSERT_TRUE(ReadFinal(closer, seconds(40), document, closed)) << closer.LastError();
  EXPECT_EQ(closed.cmdStatus, "Success") << document;
  EXPECT_EQ(Journal("BATCH-CLOSE").size(), 1u);

  // Once the close's answer is delivered and removed, sales are queued again.
  lane::CommandResponse sale;
  bool answered = false;
  EXPECT_TRUE(testing::WaitFor(
      "a sale to be taken again",
      [&] {
        answered = seller.SendRequest(Payload(SalePairs("10.00", 4002))) &&
                   ReadFinal(seller, seconds(20), document, sale);
        return !answered || sale.returnCodeText != "004015";
      },
      seconds(30), milliseconds(100)));
  ASSERT_TRUE(answered) << seller.LastError();
  EXPECT_EQ(sale.cmdStatus, "Approved") << Scrubbed(document);
}

TEST_F(E2eQueueTest, AbortCancelsOnlyTheRequestsStillWaitingForTheHost) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost({"--delay-ms", "1500"}));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  lane::LaneConnection lane;
  ASSERT_NO_FATAL_FAILURE(LogIn(lane));

  // A sale already at the host (the .06 answer comes late) is not cancelled, nor is
  // a sale sent after the abort.
  ASSERT_TRUE(lane.SendRequest(Payload(SalePairs("10.06", 3001)))) << lane.LastError();
  ASSERT_NO_FATAL_FAILURE(ExpectQueuedReply(lane));
  ASSERT_TRUE(WaitForServerOut("Sending Auth Request (IP) to WorldPay.", seconds(10)));
  ASSERT_TRUE(lane.SendAbort()) << lane.LastError();
  ASSERT_TRUE(lane.SendRequest(Payload(SalePairs("10.00", 3002)))) << lane.LastError();
  std::map<std::string, std::string> statusByInvoice;
  for (int i = 0; i < 2; ++i) {
    std::string document;
    lane::CommandResponse final;
    ASSERT_TRUE(ReadFinal(lane, seconds(20), document, final)) << lane.LastError();
    statusByInvoice[ElementOf(document, "InvoiceNo")] = final.cmdStatus;
  }
  EXPECT_EQ(statusByInvoice["3001"], "Approved");
  EXPECT_EQ(statusByInvoice["3002"], "Approved");
  // The abort frame itself is never answered.
  lane::LaneResponse extra;
  EXPECT_EQ(lane.ReadResponse(milliseconds(1500), extra), lane::ReadStatus::kTimeout) << extra.document;

  // A sale still in the queue when the abort arrives is cancelled. A lane has one
  // exchange at the host at a time, so a sale sent while the lane's late sale is
  // there waits in the queue until the abort behind it finds it.
  ASSERT_TRUE(lane.SendRequest(Payload(SalePairs("10.06", 3101)))) << lane.LastError();
  ASSERT_NO_FATAL_FAILURE(ExpectQueuedReply(lane));
  ASSERT_TRUE(testing::WaitFor("the late sale at the host", [&] { return Journal("REQUEST").size() == 3; },
                               seconds(10)));
  ASSERT_TRUE(lane.SendRequest(Payload(SalePairs("10.00", 3102)))) << lane.LastError();
  ASSERT_TRUE(lane.SendAbort()) << lane.LastError();
  std::map<std::string, lane::CommandResponse> finalByInvoice;  // the cancellation names no invoice
  for (int i = 0; i < 2; ++i) {
    std::string document;
    lane::CommandResponse final;
    ASSERT_TRUE(ReadFinal(lane, seconds(20), document, final)) << lane.LastError();
    finalByInvoice[ElementOf(document, "InvoiceNo")] = final;
  }
  EXPECT_EQ(finalByInvoice["3101"].cmdStatus, "Approved");
  EXPECT_EQ(finalByInvoice[""].returnCodeText, "001010");
  EXPECT_EQ(finalByInvoice[""].textResponse, "User Abort.");
  EXPECT_EQ(Journal("REQUEST").size(), 3u);
}

TEST_F(E2eQueueTest, TheHostSeesASalesCompletionBeforeTheLanesNextMessageAndTheClose) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  lane::LaneConnection lane;
  ASSERT_NO_FATAL_FAILURE(LogIn(lane));

  ASSERT_TRUE(lane.SendRequest(Payload(SalePairs("10.00", 5001)))) << lane.LastError();
  std::string document;
  lane::CommandResponse sale;
  ASSERT_TRUE(ReadFinal(lane, seconds(20), document, sale)) << lane.LastError();
  ASSERT_EQ(sale.cmdStatus, "Approved") << Scrubbed(document);
  EXPECT_EQ(Journal("COMPLETION").size(), 1u) << "the completion went before the lane's answer";
  // Sent the moment the sale is answered.
  std::vector<std::string> voidPairs = SalePairs("10.00", 5001, "VoidSale");
  voidPairs.push_back("AuthCode=" + ElementOf(document, "AuthCode"));
  ASSERT_TRUE(lane.SendRequest(Payload(voidPairs))) << lane.LastError();
  ASSERT_TRUE(lane.SendRequest(Payload(kBatchClose))) << lane.LastError();
  std::map<std::string, std::string> statusByInvoice;
  for (int i = 0; i < 2; ++i) {
    lane::CommandResponse final;
    ASSERT_TRUE(ReadFinal(lane, seconds(30), document, final)) << lane.LastError();
    statusByInvoice[ElementOf(document, "InvoiceNo")] = final.cmdStatus;
  }
  EXPECT_EQ(statusByInvoice["5001"], "Approved");

  std::vector<std::string> kinds;
  for (const JournalEntry& entry : Journal()) kinds.push_back(entry.kind);
  ASSERT_GE(kinds.size(), 4u);
  EXPECT_EQ(kinds[0], "REQUEST");
  EXPECT_EQ(kinds[1], "COMPLETION");
  EXPECT_EQ(kinds[2], "REQUEST");
  EXPECT_EQ(kinds.back(), "BATCH-CLOSE");
  // Whatever follows the void (its own completion, if any) comes before the close.
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "BATCH-CLOSE"), 1);
}

// A lane that gives up waiting, connects again and sells again: the host still sees
// that lane's first sale completed before its second arrives (by the lane number the
// messages carry, whatever connection they came on).
TEST_F(E2eQueueTest, ALaneOnANewConnectionHasItsNextSaleSentAfterThePreviousCompletion) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost({"--delay-ms", "1500"}));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  {
    lane::LaneConnection impatient;
    ASSERT_NO_FATAL_FAILURE(LogIn(impatient));
    ASSERT_TRUE(impatient.SendRequest(Payload(SalePairs("10.06", 5101, "Sale", 7)))) << impatient.LastError();
    ASSERT_NO_FATAL_FAILURE(ExpectQueuedReply(impatient));
    ASSERT_TRUE(WaitForServerOut("Sending Auth Request (IP) to WorldPay.", seconds(10)));
  }  // gone before its answer came
  lane::LaneConnection again;
  ASSERT_NO_FATAL_FAILURE(LogIn(again));
  ASSERT_TRUE(again.SendRequest(Payload(SalePairs("10.00", 5102, "Sale", 7)))) << again.LastError();
  std::string document;
  lane::CommandResponse final;
  ASSERT_TRUE(ReadFinal(again, seconds(20), document, final)) << again.LastError();
  EXPECT_EQ(final.cmdStatus, "Approved") << Scrubbed(document);

  std::vector<std::string> kinds;
  for (const JournalEntry& entry : AwaitJournal("", 4)) kinds.push_back(entry.kind + " " + ItemOf(entry.message));
  EXPECT_EQ(kinds, (std::vector<std::string>{"REQUEST 0001", "COMPLETION 0001", "REQUEST 0002", "COMPLETION 0002"}));
}

// A lane's sale still waiting for its turn when the lane disconnects is never sent:
// the cashier will try again, and the card must not be charged twice. The sale
// already at the host is completed as usual.
TEST_F(E2eQueueTest, ASaleNotYetSentWhenItsLaneLeavesIsNeverSent) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost({"--delay-ms", "1500"}));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  {
    lane::LaneConnection lane;
    ASSERT_NO_FATAL_FAILURE(LogIn(lane));
    for (const int invoice : {5201, 5202}) {
      ASSERT_TRUE(lane.SendRequest(Payload(SalePairs("10.06", invoice)))) << lane.LastError();
      ASSERT_NO_FATAL_FAILURE(ExpectQueuedReply(lane));
    }
    ASSERT_TRUE(WaitForServerOut("Sending Auth Request (IP) to WorldPay.", seconds(10)));
  }
  EXPECT_EQ(AwaitJournal("COMPLETION", 1).size(), 1u) << "the sale that went is completed";
  // Nothing is to happen: the lane's turn has come, and the second must not go in it.
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_EQ(Journal("REQUEST").size(), 1u);
  EXPECT_TRUE(WaitForServerLog("not sent to WorldPay - the lane at ", seconds(10))) << ServerLog();
  ExpectNoFullAccountAnywhere("");
}

}  // namespace
}  // namespace paxelle::e2e
