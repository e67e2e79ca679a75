#include "host/HostRequestBuilder.h"

#include "tests/host/HostMessageTestSupport.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

using testing::HostMessageTest;

class CompletionBuilderTest : public HostMessageTest {
 protected:
  // A swiped sale as it stands after its request was built and answered.
  CRequest SentSale(const std::string& hostAcqRefData) {
    CRequest record = SwipedSale();
    EXPECT_TRUE(BuildHostRequest(record, Sources()));
    record.HostAcqRefData = hostAcqRefData;
    return record;
  }
};

TEST_F(CompletionBuilderTest, CompletionOfAnAnsweredSale) {
  const CRequest sent = SentSale("REFBLOCK1234250314092653|01");
  EXPECT_EQ(BuildCompletionRequest(sent, true, Sources()),
            "LG08A411123456789012345123456787" "07" "0001" "01" "01" "2"
            "6" "0" "1" "N0000" "250314001" "0001" "COMPLETED       "
            HOST_FS "4000000000000002=2612101" HOST_FS "REFBLOCK1234250314092653");
}

TEST_F(CompletionBuilderTest, UnansweredRequestIsReportedAsSuch) {
  const CRequest sent = SentSale("REFBLOCK1234250314092653|01");
  const std::string completion = BuildCompletionRequest(sent, false, Sources());
  EXPECT_EQ(completion.substr(43, 37),
            "6" "0" "1" "N0000" "250314001" "0001" "REPLY NOT RECVD ");
}

TEST_F(CompletionBuilderTest, EmptyReferenceLeavesTheAccountFieldLast) {
  const CRequest sent = SentSale("");
  EXPECT_EQ(BuildCompletionRequest(sent, true, Sources()),
            "LG08A411123456789012345123456787" "07" "0001" "01" "01" "2"
            "6" "0" "1" "N0000" "250314001" "0001" "COMPLETED       "
            HOST_FS "4000000000000002=2612101");
}

TEST_F(CompletionBuilderTest, KeyedAccountAndVoidItemNumberAreReused) {
  CRequest sent = KeyedSale();
  sent.TranCodeId = kCreditVoidSale;
  sent.RefNo = "0042";
  sent.AcqRefData = "ABCDEFGHIJKL250301101530|03";  // sent as a return, with completion
  ASSERT_TRUE(BuildHostRequest(sent, Sources()));
  ASSERT_TRUE(sent.ForceCompletion);
  sent.HostAcqRefData = std::string(24, ' ') + "|04";
  EXPECT_EQ(BuildCompletionRequest(sent, true, Sources()),
            "LG08A411123456789012345123456787" "07" "0001" "04" "01" "0"
            "6" "0" "1" "N0000" "250314001" "0001" "COMPLETED       "
            HOST_FS "4000000000000002=2612" HOST_FS "                        ");
}

TEST_F(CompletionBuilderTest, CompletionTakesNoNumbersAndOpensNoBatch) {
  CRequest sent = SwipedSale();
  sent.HostRequest = "LG08A411123456789012345123456787" "07" "0009" "01" "01" "2";
  sent.ItemSeqNo = "0009";
  sent.TranCodeId = kDebitSale;
  SetParam(kParamMerchantCategory, "4");
  const std::string completion = BuildCompletionRequest(sent, true, Sources());
  EXPECT_EQ(completion.substr(43, 31), "6" "7" "4" "N0000" "250314000" "0009" "COMPLETED ");
  EXPECT_EQ(batch_.Status(), "CLOSED");

  CRequest next = SwipedSale();
  ASSERT_TRUE(BuildHostRequest(next, Sources()));
  EXPECT_EQ(next.HostRequest.substr(34, 4), "0001");
  EXPECT_EQ(next.ItemSeqNo, "0001");
}

}  // namespace
}  // namespace paxelle
