// A lane's requests through the real server to the real host simulator: what the
// lane reads, and what the host was sent (its journal).
#include "tests/e2e/E2eFixture.h"

#include <filesystem>

namespace paxelle::e2e {
namespace {

using std::chrono::seconds;

class E2eCreditTest : public E2eTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(E2eTest::SetUp());
    ASSERT_NO_FATAL_FAILURE(Provision());
    ASSERT_NO_FATAL_FAILURE(StartHost());
    ASSERT_NO_FATAL_FAILURE(StartServer());
  }

  // Completions in the journal whose message carries `stan` in the request's place.
  int CompletionsFor(const std::string& stan, const std::string& status) const {
    int count = 0;
    for (const JournalEntry& entry : AwaitJournal("COMPLETION", 1)) {
      if (StanOf(entry.message) == stan && entry.status == status) ++count;
    }
    return count;
  }
};

TEST_F(E2eCreditTest, ApprovedSaleIsCapturedMaskedAndCompletedAtTheHost) {
  const LaneReply reply = Request(SalePairs("10.00", 1001));
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_TRUE(reply.queued) << Scrubbed(reply.output);
  const std::string& document = reply.finalDocument;
  EXPECT_EQ(reply.final.returnCodeText, "000000") << Scrubbed(document);
  EXPECT_EQ(reply.final.cmdStatus, "Approved") << Scrubbed(document);
  EXPECT_EQ(ElementOf(document, "AcctNo"), "XXXXXXXXXXXX1111");
  EXPECT_EQ(ElementOf(document, "CaptureStatus"), "Captured");
  EXPECT_FALSE(ElementOf(document, "RefNo").empty());
  EXPECT_FALSE(ElementOf(document, "AuthCode").empty());
  EXPECT_EQ(ElementOf(document, "InvoiceNo"), "1001");
  EXPECT_EQ(ElementOf(document, "Purchase"), "10.00");
  const std::string reference = ElementOf(document, "AcqRefData");
  ASSERT_GE(reference.size(), 24u) << Scrubbed(document);

  // The host saw the request, then its completion carrying the same sequence number
  // and the answer's reference block.
  const std::vector<JournalEntry> requests = Journal("REQUEST");
  ASSERT_EQ(requests.size(), 1u);
  const std::string stan = StanOf(requests.front().message);
  EXPECT_EQ(stan, reference.substr(0, 4));
  ASSERT_EQ(CompletionsFor(stan, "COMPLETED"), 1);
  EXPECT_NE(Journal("COMPLETION").front().message.find(reference.substr(0, 24)), std::string::npos);

  // The operator's traffic rows go to standard output.
  EXPECT_TRUE(WaitForServerOut("Sending Auth Request (IP) to WorldPay.", seconds(5))) << ServerOut();
  ExpectNoFullAccountAnywhere(reply.output);
}

TEST_F(E2eCreditTest, DeclinedSaleHasNoCaptureStatusAndIsStillCompleted) {
  const LaneReply reply = Request(SalePairs("10.01", 1002));
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_EQ(reply.final.returnCodeText, "000000");
  EXPECT_EQ(reply.final.cmdStatus, "Declined") << Scrubbed(reply.finalDocument);
  EXPECT_TRUE(HasElement(reply.finalDocument, "TranResponse"));
  EXPECT_FALSE(HasElement(reply.finalDocument, "CaptureStatus"));
  const std::vector<JournalEntry> requests = Journal("REQUEST");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(CompletionsFor(StanOf(requests.front().message), "COMPLETED"), 1);
  ExpectNoFullAccountAnywhere(reply.output);
}

TEST_F(E2eCreditTest, PartialApprovalAuthorizesHalfWhenTheLaneAllowsIt) {
  std::vector<std::string> pairs = SalePairs("10.02", 1003);
  pairs.push_back("PartialAuth=Allow");
  const LaneReply reply = Request(pairs);
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_EQ(reply.final.cmdStatus, "Approved") << Scrubbed(reply.finalDocument);
  EXPECT_EQ(ElementOf(reply.finalDocument, "Purchase"), "10.02");
  EXPECT_EQ(ElementOf(reply.finalDocument, "Authorize"), "5.01");
  ExpectNoFullAccountAnywhere(reply.output);
}

TEST_F(E2eCreditTest, ApprovedAuthOnlyCarriesNoCaptureStatus) {
  std::vector<std::string> pairs = SalePairs("10.00", 1004, "AuthOnly");
  pairs.push_back("Authorize=10.00");
  const LaneReply reply = Request(pairs);
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_EQ(reply.final.cmdStatus, "Approved") << Scrubbed(reply.finalDocument);
  EXPECT_EQ(ElementOf(reply.finalDocument, "TranCode"), "AuthOnly");
  EXPECT_FALSE(HasElement(reply.finalDocument, "CaptureStatus"));
}

TEST_F(E2eCreditTest, BalanceInquiryGetsNoCompletion) {
  const LaneReply reply = Request(SalePairs("0.00", 1005, "Balance"));
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_EQ(reply.final.cmdStatus, "Approved") << Scrubbed(reply.finalDocument);
  // The worker writes the answer back only after any completion, so none can follow.
  EXPECT_EQ(Journal("REQUEST").size(), 1u);
  EXPECT_TRUE(Journal("COMPLETION").empty());
}

TEST_F(E2eCreditTest, CheckAuthIsRefusedWithoutContactingTheHost) {
  const LaneReply reply = Request({"TStream=Transaction", "MerchantID=1", "ClientID=1", "TranType=CheckAuth",
                                   "TranCode=Sale", "InvoiceNo=1006", "RefNo=1006", "MICR=Keyed",
                                   "RoutingNo=123456789", "AcctNo=12345678", "SequenceNo=101", "StateCode=NY",
                                   "Purchase=10.00"});
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_EQ(reply.final.returnCodeText, "000100") << reply.finalDocument;
  EXPECT_EQ(reply.final.textResponse, "Card Type Not Accepted");
  EXPECT_TRUE(Journal().empty());
}

TEST_F(E2eCreditTest, EmvParameterDownloadIsAnsweredLocallyWithItsReport) {
  const LaneReply reply = Request({"TStream=Admin", "MerchantID=1", "ClientID=1", "TranType=Administrative",
                                   "TranCode=EMVParamDownload"});
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  const std::string& document = reply.finalDocument;
  EXPECT_EQ(reply.final.cmdStatus, "Success");
  EXPECT_EQ(reply.final.textResponse, "SUCCESS");
  for (int n = 1; n <= 12; ++n) {
    EXPECT_TRUE(HasElement(document, "PKeyRID" + std::to_string(n))) << n;
    EXPECT_TRUE(HasElement(document, "PKeyMOD" + std::to_string(n))) << n;
  }
  EXPECT_FALSE(HasElement(document, "PKeyRID13"));
  for (int m = 1; m <= 4; ++m) EXPECT_TRUE(HasElement(document, "EMVParamsRid" + std::to_string(m))) << m;
  EXPECT_FALSE(HasElement(document, "EMVParamsRid5"));
  const std::filesystem::path report = WorkDir() / "PARAM_LOADS" / "EMVParam_123456789012345_12345678.log";
  EXPECT_TRUE(std::filesystem::is_regular_file(report)) << report;
  EXPECT_NE(ReadText(report).find("EMV PARAMETERS"), std::string::npos);
  EXPECT_TRUE(Journal().empty());
}

class E2eBatchOptionTest : public E2eTest {};

TEST_F(E2eBatchOptionTest, BatchCloseIsRefusedLocallyWhenTheMerchantMayNotClose) {
  ASSERT_NO_FATAL_FAILURE(Provision({"12=Y"}));
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const LaneReply reply = Request({"TStream=Admin", "MerchantID=1", "ClientID=1", "TranCode=BatchClose"});
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_FALSE(reply.queued) << reply.output;
  EXPECT_EQ(reply.final.returnCodeText, "004003");
  EXPECT_EQ(reply.final.textResponse, "Merchant setting does not allow Merchant Initiated Batch Close.");
  EXPECT_TRUE(Journal().empty());
}

}  // namespace
}  // namespace paxelle::e2e
