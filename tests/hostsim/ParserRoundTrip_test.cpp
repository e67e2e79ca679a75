// The server's own message builders and answer parser against the running
// simulator over TLS: every family with a host layout is built, sent with its
// two length bytes, and the simulator's answer is read back into the record.
#include "config/ParamStore.h"
#include "core/Request.h"
#include "host/BatchState.h"
#include "host/HostMessageSources.h"
#include "host/HostRequestBuilder.h"
#include "host/HostResponseParser.h"
#include "host/SequenceCounters.h"
#include "tests/config/TempDir.h"
#include "tests/core/ParserTestSupport.h"
#include "tests/hostsim/SimTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

namespace paxelle::hostsim {
namespace {

using namespace simtest;
using namespace std::chrono_literals;
using paxelle::testing::ParsePayload;
using paxelle::testing::Payload;

const Payload kHeader = {{"TStream", "Transaction"}, {"MerchantID", "1"}, {"ClientID", "7"},
                         {"InvoiceNo", "1001"},      {"RefNo", "1001"}};
const Payload kCredit = kHeader.With("TranType", "Credit")
                            .With("TranCode", "Sale")
                            .With("Track2", "4111111111111111=2812101")
                            .With("Zip", "12345")
                            .With("CVVData", "123");
const Payload kPin = kHeader.With("PINBlock", "0123456789ABCDEF").With("DervdKey", "9876543210E00001");

class ParserRoundTripTest : public TestPkiSuite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pkiReady_) << pkiError_;
    server_.Configure({{kParamEmvSupport, "2"}});
    std::string error;
    ASSERT_TRUE(process_.Start({"--port", "0", "--cert", pki_.serverCert.string(), "--key",
                                pki_.serverKey.string(), "--delay-ms", "10"},
                               dir_ / "stderr.txt", error))
        << error;
    port_ = process_.ReadListeningPort(10s);
    ASSERT_NE(port_, 0);
  }

  void TearDown() override {
    if (port_ != 0) {
      EXPECT_EQ(process_.Stop(SIGTERM, 10s), 0);
    }
  }

  HostMessageSources Sources() {
    return HostMessageSources{counters_, batch_, server_.context().params.GetParams(), SystemNow};
  }

  // Builds the host message of `record`, exchanges it with the simulator and
  // parses the answer into the record; false when no answer came.
  bool Exchange(CRequest& record) {
    EXPECT_TRUE(BuildHostRequest(record, Sources())) << record.TranCodeId;
    TestClient client;
    std::string error;
    if (!client.Connect(port_, pki_.caCert, error) || !client.Send(record.HostRequest)) return false;
    if (client.Receive(record.HostResponse, 10s) != IoResult::kOk) return false;
    ParseHostResponse(record, batch_, server_.context());
    return true;
  }

  CRequest Parsed(const Payload& payload) {
    CRequest record = ParsePayload(payload.Text(), server_.context());
    EXPECT_NE(record.TranCodeId, 0) << "refused with " << record.ReturnCode;
    return record;
  }

  paxelle::testing::ContextFixture server_;
  paxelle::testing::TempDir dir_;
  CSequenceCounters counters_{dir_.Path(), server_.context().log};
  CBatchState batch_{dir_.Path(), server_.context().log};
  SimProcess process_;
  std::uint16_t port_ = 0;
};

TEST_F(ParserRoundTripTest, CreditFamiliesAreApprovedWithTheirReferenceData) {
  CRequest sale = Parsed(kCredit.With("Purchase", "12.50"));
  ASSERT_TRUE(Exchange(sale));
  EXPECT_TRUE(sale.Approved);
  EXPECT_TRUE(sale.Captured);
  EXPECT_EQ(sale.HostAuthCode.size(), 6u);
  EXPECT_EQ(sale.HostRefNo, sale.ItemSeqNo);
  EXPECT_EQ(sale.HostAcqRefData.size(), 27u) << "24-character block, \"|\" and the transaction code";
  EXPECT_EQ(sale.HostAcqRefData.substr(24), "|01");
  EXPECT_EQ(sale.AVSResult, "Y");
  EXPECT_EQ(sale.CVVResult, "M");

  CRequest authOnly = Parsed(kCredit.With("TranCode", "AuthOnly").With("Authorize", "5.00").With("Purchase", "5.00"));
  ASSERT_TRUE(Exchange(authOnly));
  EXPECT_TRUE(authOnly.Approved);
  EXPECT_FALSE(authOnly.Captured);

  CRequest healthcare = Parsed(kCredit.With("TranCode", "FSASale").With("Purchase", "8.00").With("FSAVision", "8.00"));
  ASSERT_TRUE(Exchange(healthcare));
  EXPECT_TRUE(healthcare.Approved);

  CRequest voice = Parsed(kCredit.With("TranCode", "VoiceAuth").With("AuthCode", "VA1234").With("Purchase", "3.00"));
  ASSERT_TRUE(Exchange(voice));
  EXPECT_EQ(voice.HostMsgKind, HostMessageKind::kForce);
  EXPECT_TRUE(voice.Approved) << voice.HostText;
  EXPECT_EQ(voice.HostText, "APPROVED");
}

TEST_F(ParserRoundTripTest, AmountEndingsDeclineAndPartiallyApprove) {
  CRequest declined = Parsed(kCredit.With("Purchase", "12.01"));
  ASSERT_TRUE(Exchange(declined));
  EXPECT_FALSE(declined.Approved);
  EXPECT_EQ(declined.HostText.substr(0, 8), "DECLINED");

  CRequest partial = Parsed(kCredit.With("Purchase", "20.02").With("PartialAuth", "Allow"));
  ASSERT_TRUE(Exchange(partial));
  EXPECT_TRUE(partial.Approved);
  EXPECT_EQ(partial.Authorize, "1001");

  CRequest garbage = Parsed(kCredit.With("Purchase", "1.05"));
  ASSERT_TRUE(Exchange(garbage));
  EXPECT_FALSE(garbage.Approved) << "an answer that is not a layout reads as declined";
}

TEST_F(ParserRoundTripTest, DebitEbtAndChipAnswers) {
  CRequest debit = Parsed(kPin.With("TranType", "Debit")
                              .With("TranCode", "Sale")
                              .With("Track2", "4111111111111111=2812101")
                              .With("Purchase", "15.00")
                              .With("CashBack", "5.00"));
  ASSERT_TRUE(Exchange(debit));
  EXPECT_TRUE(debit.Approved);
  EXPECT_EQ(debit.HostMsgKind, HostMessageKind::kDebit);

  const Payload ebt = kPin.With("TranType", "EBT").With("Track2", "5076800000000001=4912");
  CRequest balance = Parsed(ebt.With("TranCode", "Balance").With("CardType", "Foodstamp"));
  ASSERT_TRUE(Exchange(balance));
  EXPECT_TRUE(balance.Approved);
  EXPECT_FALSE(balance.Captured);
  EXPECT_EQ(balance.FoodBalance, "500.00");
  EXPECT_EQ(balance.CashBalance, "250.00");
  EXPECT_EQ(balance.Balance, "500.00");

  CRequest cash = Parsed(ebt.With("TranCode", "Sale").With("CardType", "Cash").With("Purchase", "4.00"));
  ASSERT_TRUE(Exchange(cash));
  EXPECT_TRUE(cash.Approved);
  EXPECT_EQ(cash.Balance, "250.00");

  CRequest chip = Parsed(kCredit.With("TranType", "EMVCredit")
                             .With("TranCode", "EMVSale")
                             .With("EMVEntrySource", "ChipRead")
                             .With("EMVData", "5F34:01|9F26:0102030405060708|9F02:000000000700")
                             .With("Purchase", "7.00"));
  ASSERT_TRUE(Exchange(chip));
  EXPECT_TRUE(chip.Approved);
  EXPECT_EQ(chip.EMVResult.substr(0, 2), "91") << "issuer authentication data comes back tagged";
}

TEST_F(ParserRoundTripTest, BatchInquiryAndCloseCarryTheApprovedTotals) {
  for (const char* amount : {"10.00", "2.50"}) {
    CRequest sale = Parsed(kCredit.With("Purchase", amount));
    ASSERT_TRUE(Exchange(sale));
  }
  const Payload admin = {{"TStream", "Admin"}, {"MerchantID", "1"}, {"ClientID", "7"}};

  CRequest inquiry = Parsed(admin.With("TranCode", "BatchSummary"));
  ASSERT_TRUE(Exchange(inquiry));
  EXPECT_TRUE(inquiry.AdminSuccess) << inquiry.AdminText;
  EXPECT_EQ(inquiry.HostCreditCount, "2");
  EXPECT_EQ(inquiry.HostCreditPurchaseAmount, "12.50");
  EXPECT_EQ(inquiry.BatchItemCount, "2");
  EXPECT_EQ(inquiry.HostNetBatchTotal, "12.50");
  EXPECT_EQ(inquiry.BatchNo.size(), 9u);

  bool changed = false;
  std::string batchNo;
  ASSERT_TRUE(batch_.GetBatchNo(true, false, changed, batchNo).ok());
  ASSERT_EQ(batchNo.size(), 9u);
  CRequest close = Parsed(admin.With("TranCode", "BatchClose").With("CreditCount", "2"));
  ASSERT_TRUE(Exchange(close));
  EXPECT_TRUE(close.AdminSuccess) << close.AdminText;
  EXPECT_EQ(close.HostCreditCount, "2");
  EXPECT_EQ(batch_.Status(), "CLOSED") << "a successful close closes the local batch";
}

TEST_F(ParserRoundTripTest, CompletionIsAcknowledged) {
  CRequest sale = Parsed(kCredit.With("Purchase", "9.00"));
  ASSERT_TRUE(Exchange(sale));
  CRequest completion = sale;
  completion.ClearHostResult();
  completion.HostRequest = BuildCompletionRequest(sale, true, Sources());
  TestClient client;
  std::string error;
  ASSERT_TRUE(client.Connect(port_, pki_.caCert, error)) << error;
  ASSERT_TRUE(client.Send(completion.HostRequest));
  std::string answer;
  EXPECT_EQ(client.Receive(answer, 10s), IoResult::kOk);
  EXPECT_FALSE(answer.empty());
}

}  // namespace
}  // namespace paxelle::hostsim
