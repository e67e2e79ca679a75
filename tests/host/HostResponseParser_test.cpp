#include "host/HostResponseParser.h"

#include "tests/core/ParserTestSupport.h"
#include "tests/core/ReversingCrypto.h"
#include "tests/host/HostMessageTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace paxelle {
namespace {

#define HOST_ETX "\x03"

// Piece 1 of a transaction answer up to the amount: the request's head echoed.
constexpr char kSaleHead[] =
    "LG08A411123456789012345123456787" "07" "0001" "01" "01" "2" "3" "0" "1" "N0000" "250314001"
    "0001" "250314" "092653";
// Piece 1 of a force answer up to its status text.
constexpr char kForceHead[] =
    "LG08A411123456789012345123456787" "07" "0001" "03" "01" "2" "4" "0" "1" "N0000" "250314001";
constexpr char kCloseHead[] =
    "LG08A411123456789012345123456787" "01" "0002" "64000" "200" "N0000" "250314001";
constexpr char kInquiryHead[] =
    "LG08A411123456789012345123456787" "01" "0002" "61000" "200" "N0000" "250314001" "    ";
constexpr char kInquiryFiller[] = "00000000000000000000000000000000000";  // positions 80-114
constexpr char kHostTotals[] =
    "003" "00012345" "00000500" "00011845" "001" "00002000" "00000000" "00002000"
    "002" "00001000" "00000250" "00000750";

class HostResponseParserTest : public ::testing::Test {
 protected:
  HostResponseParserTest() {
    std::string batchNo;
    bool changed = false;
    static_cast<void>(batch_.GetBatchNo(false, false, changed, batchNo));  // an open local batch
  }

  static CRequest Answered(int tranCodeId, HostMessageKind hostMsgKind, const std::string& answer) {
    CRequest record;
    record.StreamType = "Transaction";
    record.Disposition = kDispositionProcess;
    record.ClientKeyBlob = testing::kSessionKeyHex;
    record.TranCodeId = tranCodeId;
    record.TranCode = TranCodeWord(tranCodeId);
    record.HostMsgKind = hostMsgKind;
    record.HostResponse = answer;
    record.HostTranCode = "01";
    record.ItemSeqNo = "0001";
    record.Authorize = "1250";
    return record;
  }

  static CRequest Batch(int tranCodeId, const std::string& answer) {
    CRequest record = Answered(tranCodeId, HostMessageKind::kBatch, answer);
    record.StreamType = "Admin";
    if (tranCodeId == kBatchClose) record.Disposition = kDispositionBatchClose;
    return record;
  }

  void Parse(CRequest& record) { ParseHostResponse(record, batch_, server_.context()); }

  // The document the lane receives, taken out of its frame (and decrypted).
  static std::string Document(const CRequest& record) {
    const std::string& wire = record.WireResponse;
    if (wire.size() < 6 || wire[0] != '\x1c') return "<no frame>";
    std::string payload = wire.substr(5, wire.size() - 6);
    if (wire[1] == '0') return payload;
    std::string clear;
    for (std::size_t i = 0; i + 1 < payload.size(); i += 2) {
      clear += static_cast<char>(std::stoi(payload.substr(i, 2), nullptr, 16));
    }
    std::reverse(clear.begin(), clear.end());
    return clear;
  }

  testing::ContextFixture server_;
  testing::ReversingCrypto crypto_{server_.context()};
  testing::TempDir dir_;
  CBatchState batch_{dir_.Path(), server_.context().log, [] { return testing::FixedNow(); }};
};

// ---- credit, healthcare and chip credit ----------------------------------------------

TEST_F(HostResponseParserTest, ApprovedSaleFillsTheResultAndTheResponse) {
  CRequest record = Answered(kCreditSale, HostMessageKind::kCredit,
                             std::string(kSaleHead) + "00001250" "0000" "APPROVED AB1234 "
                             HOST_FS "REFBLOCK1234250314092653" HOST_FS "AB1234" HOST_FS HOST_FS "0YM");
  record.HasZip = true;
  record.HasCVV = true;
  Parse(record);
  EXPECT_TRUE(record.Approved);
  EXPECT_TRUE(record.Captured);
  EXPECT_EQ(record.HostAuthCode, "AB1234");
  EXPECT_EQ(record.HostAcqRefData, "REFBLOCK1234250314092653|01");
  EXPECT_EQ(record.HostRefNo, "0001");
  EXPECT_EQ(record.HostText, "APPROVED AB1234 ");
  EXPECT_EQ(record.AVSResult, "Y");
  EXPECT_EQ(record.CVVResult, "M");
  EXPECT_EQ(record.EMVResult, "");
  EXPECT_EQ(record.Authorize, "1250");

  const std::string document = Document(record);
  EXPECT_NE(document.find("<CmdStatus>Approved</CmdStatus>"), std::string::npos) << document;
  EXPECT_NE(document.find("<TextResponse>APPROVED AB1234 </TextResponse>"), std::string::npos);
  EXPECT_NE(document.find("<AuthCode>AB1234</AuthCode>"), std::string::npos);
  EXPECT_NE(document.find("<CaptureStatus>Captured</CaptureStatus>"), std::string::npos);
  EXPECT_NE(document.find("<RefNo>0001</RefNo>"), std::string::npos);
  EXPECT_NE(document.find("<AcqRefData>REFBLOCK1234250314092653|01</AcqRefData>"), std::string::npos);
  EXPECT_NE(document.find("<MerchantID>123456789012345</MerchantID>"), std::string::npos);
}

TEST_F(HostResponseParserTest, ResponseCodesOfACreditAnswer) {
  const struct {
    const char* code;
    bool partialAllowed;
    bool approved;
  } cases[] = {
      {"0000", false, true},  {"0011", false, true}, {"0010", false, false},
      {"0010", true, true},   {"0005", false, false}, {"0100", false, false},
  };
  for (const auto& c : cases) {
    CRequest record = Answered(kCreditSale, HostMessageKind::kCredit,
                               std::string(kSaleHead) + "00001000" + c.code + "HOST TEXT       "
                               HOST_FS "REFBLOCK1234250314092653" HOST_FS "AB1234");
    record.PartialAuthAllowed = c.partialAllowed;
    Parse(record);
    EXPECT_EQ(record.Approved, c.approved) << c.code << " " << c.partialAllowed;
    EXPECT_EQ(record.HostText, "HOST TEXT       ");
    EXPECT_EQ(record.HostAuthCode, c.approved ? "AB1234" : "") << c.code;
    EXPECT_EQ(record.HostRefNo, c.approved ? "0001" : "") << c.code;
  }
}

TEST_F(HostResponseParserTest, PartialApprovalTakesTheApprovedAmount) {
  const std::string answer = std::string(kSaleHead) + "00001000" "0010" "PARTIAL APPROVAL"
                             HOST_FS "REFBLOCK1234250314092653" HOST_FS "AB1234";
  CRequest allowed = Answered(kCreditSale, HostMessageKind::kCredit, answer);
  allowed.PartialAuthAllowed = true;
  Parse(allowed);
  EXPECT_TRUE(allowed.Approved);
  EXPECT_EQ(allowed.Authorize, "1000");
  EXPECT_NE(Document(allowed).find("<Authorize>10.00</Authorize>"), std::string::npos);

  CRequest refused = Answered(kCreditSale, HostMessageKind::kCredit, answer);
  Parse(refused);
  EXPECT_FALSE(refused.Approved);
  EXPECT_EQ(refused.Authorize, "1250");
  EXPECT_EQ(refused.HostAcqRefData, "");
  EXPECT_NE(Document(refused).find("<CmdStatus>Declined</CmdStatus>"), std::string::npos);
}

TEST_F(HostResponseParserTest, AuthOnlyIsNotCaptured) {
  CRequest record = Answered(kCreditAuthOnly, HostMessageKind::kCredit,
                             std::string(kSaleHead) + "00001250" "0000" "APPROVED        ");
  record.HostTranCode = "02";
  Parse(record);
  EXPECT_TRUE(record.Approved);
  EXPECT_FALSE(record.Captured);
  EXPECT_NE(Document(record).find("<CmdStatus>Approved</CmdStatus>"), std::string::npos);
}

TEST_F(HostResponseParserTest, ShortReferenceBlockBecomesBlanks) {
  const struct {
    const char* piece2;
    const char* expected;
  } cases[] = {
      {"", "                        |01"},
      {"REFBLOCK1234250314092", "                        |01"},
      {"REFBLOCK1234250314092653EXTRA", "REFBLOCK1234250314092653EXTRA|01"},
  };
  for (const auto& c : cases) {
    CRequest record = Answered(kCreditSale, HostMessageKind::kCredit,
                               std::string(kSaleHead) + "00001250" "0000" "APPROVED        " HOST_FS +
                                   c.piece2 + HOST_FS "AB1234");
    Parse(record);
    EXPECT_EQ(record.HostAcqRefData, c.expected) << c.piece2;
  }
  CRequest empty = Answered(kCreditSale, HostMessageKind::kCredit, std::string(kSaleHead) + "00001250" "0000" "APPROVED        ");
  Parse(empty);
  EXPECT_EQ(empty.HostAcqRefData.size(), 27u);
}

TEST_F(HostResponseParserTest, IssuerDataPiecesBecomeTheEmvResult) {
  CRequest record = Answered(kEmvSale, HostMessageKind::kCredit,
                             std::string(kSaleHead) + "00000500" "0005" "DECLINED        "
                             HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS
                             "0123456789ABCDEF" HOST_FS "ABCDE" HOST_FS "9F1801");
  record.EMVResult = "stale";
  Parse(record);
  EXPECT_FALSE(record.Approved);
  EXPECT_EQ(record.EMVResult, "9108" "0123456789ABCDEF" "7102" "ABCDE" "7203" "9F1801");

  CRequest onlyNine = Answered(kEmvSale, HostMessageKind::kCredit,
                               std::string(kSaleHead) + "00000500" "0000" "APPROVED        "
                               HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS
                               "0123456789ABCDEF");
  Parse(onlyNine);
  EXPECT_EQ(onlyNine.EMVResult, "9108" "0123456789ABCDEF");

  CRequest onlyEleven = Answered(kEmvSale, HostMessageKind::kCredit,
                                 std::string(kSaleHead) + "00000500" "0000" "APPROVED        "
                                 HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS
                                 HOST_FS HOST_FS "8A02");
  onlyEleven.EMVResult = "stale";
  Parse(onlyEleven);
  EXPECT_EQ(onlyEleven.EMVResult, "7202" "8A02");
}

TEST_F(HostResponseParserTest, EndOfTextSplitsLikeTheFieldSeparator) {
  const std::string withEtx = std::string(kSaleHead) + "00001250" "0000" "APPROVED        "
                              HOST_ETX "REFBLOCK1234250314092653" HOST_ETX "AB1234" HOST_ETX HOST_ETX
                              "0YM" HOST_ETX;
  CRequest record = Answered(kCreditSale, HostMessageKind::kCredit, withEtx);
  record.HasZip = true;
  Parse(record);
  EXPECT_TRUE(record.Approved);
  EXPECT_EQ(record.HostAuthCode, "AB1234");
  EXPECT_EQ(record.HostAcqRefData, "REFBLOCK1234250314092653|01");
  EXPECT_EQ(record.AVSResult, "Y");
}

TEST_F(HostResponseParserTest, GarbledAnswerIsADecline) {
  CRequest record = Answered(kCreditSale, HostMessageKind::kCredit, "GARBAGE");
  record.HasZip = true;
  record.HasCVV = true;
  record.AVSResult = "X";
  record.Approved = true;
  record.Captured = true;
  record.AdminSuccess = true;
  Parse(record);
  EXPECT_FALSE(record.Approved);
  EXPECT_FALSE(record.Captured);
  EXPECT_FALSE(record.AdminSuccess);
  EXPECT_EQ(record.HostText, "");
  EXPECT_EQ(record.AVSResult, "");
  EXPECT_EQ(record.CVVResult, "");
  EXPECT_EQ(record.ReturnCode, 1000);
  EXPECT_NE(Document(record).find("<CmdStatus>Declined</CmdStatus>"), std::string::npos);
}

TEST_F(HostResponseParserTest, CreditBalanceReportsTheBalanceOfPieceFive) {
  CRequest record = Answered(kCreditBalance, HostMessageKind::kCredit,
                             std::string(kSaleHead) + "00000000" "0000" "BALANCE         "
                             HOST_FS "REFBLOCK1234250314092653" HOST_FS "AB1234" HOST_FS HOST_FS
                             "0YM          00012345");
  record.HostTranCode = "09";
  Parse(record);
  EXPECT_TRUE(record.Approved);
  EXPECT_EQ(record.Balance, "123.45");
  EXPECT_NE(Document(record).find("<Balance>123.45</Balance>"), std::string::npos);

  CRequest noBalance = Answered(kCreditBalance, HostMessageKind::kCredit,
                                std::string(kSaleHead) + "00000000" "0000" "BALANCE         ");
  Parse(noBalance);
  EXPECT_EQ(noBalance.Balance, "");
}

// ---- forces ------------------------------------------------------------------------

TEST_F(HostResponseParserTest, UploadedForceIsApprovedAndCaptured) {
  CRequest record = Answered(kCreditVoiceAuth, HostMessageKind::kForce,
                             std::string(kForceHead) + "UPLOADED        " "00001250" "0000"
                             "                ");
  record.HostTranCode = "03";
  Parse(record);
  EXPECT_TRUE(record.Approved);
  EXPECT_TRUE(record.Captured);
  EXPECT_EQ(record.HostText, "APPROVED");
  EXPECT_EQ(record.HostAcqRefData, "                        |03");
}

TEST_F(HostResponseParserTest, ForceNotUploadedTakesTheProcessorText) {
  CRequest record = Answered(kCreditPreAuthCapture, HostMessageKind::kForce,
                             std::string(kForceHead) + "REJECTED        " "00001250" "0005"
                             "CALL CENTER     ");
  record.HostTranCode = "03";
  record.HostAcqRefData = "REFBLOCK1234250314092653";
  Parse(record);
  EXPECT_FALSE(record.Approved);
  EXPECT_FALSE(record.Captured);
  EXPECT_EQ(record.HostText, "CALL CENTER     ");
  EXPECT_EQ(record.HostAcqRefData, "REFBLOCK1234250314092653|03");

  CRequest shortAnswer = Answered(kEmvVoiceAuth, HostMessageKind::kForce, "UPLOADED");
  shortAnswer.HostTranCode = "03";
  Parse(shortAnswer);
  EXPECT_FALSE(shortAnswer.Approved);
  EXPECT_EQ(shortAnswer.HostText, "");
}

// ---- debit and EBT --------------------------------------------------------------------

TEST_F(HostResponseParserTest, ApprovedDebitKeepsThePlainReference) {
  CRequest record = Answered(kDebitSale, HostMessageKind::kDebit,
                             std::string(kSaleHead) + "00001500" "0000" "APPROVED        "
                             HOST_FS "DEBITREF" HOST_FS "DB1234");
  record.PartialAuthAllowed = true;
  Parse(record);
  EXPECT_TRUE(record.Approved);
  EXPECT_TRUE(record.Captured);
  EXPECT_EQ(record.HostAuthCode, "DB1234");
  EXPECT_EQ(record.HostAcqRefData, "DEBITREF");
  EXPECT_EQ(record.Authorize, "1500");
  EXPECT_EQ(record.HostText, "APPROVED        ");
  EXPECT_EQ(record.HostRefNo, "");
}

TEST_F(HostResponseParserTest, DebitAcceptsOnlyItsApprovalCode) {
  for (const char* code : {"0011", "0010", "0100", "0005"}) {
    CRequest record = Answered(kDebitSale, HostMessageKind::kDebit,
                               std::string(kSaleHead) + "00001500" + code + "DECLINED        "
                               HOST_FS "DEBITREF" HOST_FS "DB1234");
    record.PartialAuthAllowed = true;
    Parse(record);
    EXPECT_FALSE(record.Approved) << code;
    EXPECT_EQ(record.HostAcqRefData, "") << code;
    EXPECT_EQ(record.Authorize, "1250") << code;
    EXPECT_EQ(record.HostText, "DECLINED        ") << code;
  }
}

TEST_F(HostResponseParserTest, EbtBalanceAnswer) {
  const std::string answer = std::string(kSaleHead) + "00000000" "0100" "BALANCE INQUIRY "
                             HOST_FS "EBTREF" HOST_FS "EB0001" HOST_FS HOST_FS
                             "BALANCES     " "00012345" "00006789";
  CRequest food = Answered(kEbtBalance, HostMessageKind::kEbt, answer);
  food.CardType = "Foodstamp";
  Parse(food);
  EXPECT_TRUE(food.Approved);
  EXPECT_FALSE(food.Captured);
  EXPECT_EQ(food.FoodBalance, "123.45");
  EXPECT_EQ(food.CashBalance, "67.89");
  EXPECT_EQ(food.Balance, "123.45");
  const std::string document = Document(food);
  EXPECT_NE(document.find("<FoodBalance>123.45</FoodBalance>"), std::string::npos) << document;
  EXPECT_NE(document.find("<CaptureStatus>NotCaptured</CaptureStatus>"), std::string::npos);

  CRequest cash = Answered(kEbtBalance, HostMessageKind::kEbt, answer);
  cash.CardType = "Cash";
  Parse(cash);
  EXPECT_EQ(cash.Balance, "67.89");
}

TEST_F(HostResponseParserTest, EbtSaleBalancesAreReadEvenWhenDeclined) {
  CRequest record = Answered(kEbtFoodSale, HostMessageKind::kEbt,
                             std::string(kSaleHead) + "00001000" "0100" "INSUFF FUNDS    "
                             HOST_FS "EBTREF" HOST_FS "EB0001" HOST_FS HOST_FS
                             "BALANCES     " "00000500" "00000000");
  record.CardType = "Foodstamp";
  Parse(record);
  EXPECT_FALSE(record.Approved);
  EXPECT_EQ(record.Balance, "5.00");
  EXPECT_EQ(record.CashBalance, "0.00");
}

TEST_F(HostResponseParserTest, EbtErrorPieceLeavesTheBalances) {
  CRequest record = Answered(kEbtFoodSale, HostMessageKind::kEbt,
                             std::string(kSaleHead) + "00001000" "0000" "APPROVED        "
                             HOST_FS "EBTREF" HOST_FS "EB0001" HOST_FS HOST_FS
                             "E0000000000000001234500006789");
  record.CardType = "Foodstamp";
  record.Balance = "1.00";
  record.FoodBalance = "2.00";
  record.CashBalance = "3.00";
  Parse(record);
  EXPECT_TRUE(record.Approved);
  EXPECT_TRUE(record.Captured);
  EXPECT_EQ(record.Balance, "1.00");
  EXPECT_EQ(record.FoodBalance, "2.00");
  EXPECT_EQ(record.CashBalance, "3.00");
}

// ---- batch ---------------------------------------------------------------------------

TEST_F(HostResponseParserTest, BatchCloseAnswerClosesTheLocalBatch) {
  CRequest record = Batch(kBatchClose, std::string(kCloseHead) + "BATCH CLOSED    " + kHostTotals);
  Parse(record);
  EXPECT_TRUE(record.AdminSuccess);
  EXPECT_EQ(batch_.Status(), "CLOSED");
  EXPECT_EQ(record.AdminText, "BATCH CLOSED    ");
  EXPECT_EQ(record.BatchNo, "250314001");
  EXPECT_EQ(record.ControlNo, "5000001184");  // positions 92-101 of the answer
  EXPECT_EQ(record.HostCreditCount, "3");
  EXPECT_EQ(record.HostCreditPurchaseAmount, "123.45");
  EXPECT_EQ(record.HostCreditReturnAmount, "5.00");
  EXPECT_EQ(record.HostNetCreditAmount, "118.45");
  EXPECT_EQ(record.HostDebitCount, "1");
  EXPECT_EQ(record.HostDebitPurchaseAmount, "20.00");
  EXPECT_EQ(record.HostDebitReturnAmount, "0.00");
  EXPECT_EQ(record.HostNetDebitAmount, "20.00");
  EXPECT_EQ(record.HostEBTCount, "2");
  EXPECT_EQ(record.HostEBTPurchaseAmount, "10.00");
  EXPECT_EQ(record.HostEBTReturnAmount, "2.50");
  EXPECT_EQ(record.HostNetEBTAmount, "7.50");
  EXPECT_EQ(record.BatchItemCount, "6");
  EXPECT_EQ(record.HostNetBatchTotal, "145.95");
  const std::string document = Document(record);
  EXPECT_NE(document.find("<CmdStatus>Success</CmdStatus>"), std::string::npos) << document;
  EXPECT_NE(document.find("<TextResponse>BATCH CLOSED    </TextResponse>"), std::string::npos);
}

TEST_F(HostResponseParserTest, BatchCloseSuccessWords) {
  const struct {
    const char* text;
    bool success;
  } cases[] = {
      {"BATCH CLOSED    ", true},  {"BTCH PREV CLOSED", true}, {"OUT OF BALANCE  ", true},
      {" OUT OF BALANCE ", true},  {"BATCH REJECTED  ", false}, {"HOST TOTALS     ", false},
      {"batch closed    ", false},
  };
  for (const auto& c : cases) {
    std::string batchNo;
    bool changed = false;
    static_cast<void>(batch_.GetBatchNo(false, false, changed, batchNo));
    ASSERT_EQ(batch_.Status(), "OPEN");
    CRequest record = Batch(kBatchClose, std::string(kCloseHead) + c.text + kHostTotals);
    Parse(record);
    EXPECT_EQ(record.AdminSuccess, c.success) << c.text;
    EXPECT_EQ(batch_.Status(), c.success ? "CLOSED" : "OPEN") << c.text;
    EXPECT_EQ(record.AdminText, c.text);
  }
}

TEST_F(HostResponseParserTest, BatchInquiryReadsItsOwnPositionsAndKeepsTheBatchOpen) {
  CRequest record = Batch(kBatchSummary, std::string(kInquiryHead) + "HOST TOTALS     " +
                                             kInquiryFiller + kHostTotals);
  Parse(record);
  EXPECT_TRUE(record.AdminSuccess);
  EXPECT_EQ(batch_.Status(), "OPEN");
  EXPECT_EQ(record.AdminText, "HOST TOTALS     ");
  EXPECT_EQ(record.BatchNo, "250314001");
  EXPECT_EQ(record.ControlNo, "");
  EXPECT_EQ(record.HostCreditCount, "3");
  EXPECT_EQ(record.HostNetEBTAmount, "7.50");
  EXPECT_EQ(record.BatchItemCount, "6");
  EXPECT_EQ(record.HostNetBatchTotal, "145.95");

  CRequest closedWords = Batch(kBatchSummary, std::string(kInquiryHead) + "BATCH CLOSED    " +
                                                  kInquiryFiller + kHostTotals);
  Parse(closedWords);
  EXPECT_FALSE(closedWords.AdminSuccess);
}

TEST_F(HostResponseParserTest, ShortBatchAnswerGivesZeroTotalsAndNoSuccess) {
  CRequest record = Batch(kBatchClose, "GARBAGE");
  Parse(record);
  EXPECT_FALSE(record.AdminSuccess);
  EXPECT_EQ(batch_.Status(), "OPEN");
  EXPECT_EQ(record.AdminText, "");
  EXPECT_EQ(record.HostCreditCount, "0");
  EXPECT_EQ(record.HostCreditPurchaseAmount, "0.00");
  EXPECT_EQ(record.BatchItemCount, "0");
  EXPECT_EQ(record.HostNetBatchTotal, "0.00");
  EXPECT_EQ(record.BatchNo, "");
  const std::string document = Document(record);
  EXPECT_NE(document.find("<CmdStatus>Error</CmdStatus>"), std::string::npos) << document;
}

// ---- parameter download and unknown kinds ---------------------------------------------

TEST_F(HostResponseParserTest, ParameterDownloadSucceedsWithoutReadingAnAnswer) {
  CRequest record = Answered(kEmvParamDownload, HostMessageKind::kEmvParams, "");
  record.StreamType = "Admin";
  Parse(record);
  EXPECT_TRUE(record.AdminSuccess);
  EXPECT_EQ(record.AdminText, "SUCCESS");
  EXPECT_NE(Document(record).find("<CmdStatus>Success</CmdStatus>"), std::string::npos);
}

TEST_F(HostResponseParserTest, UnknownKindIsAnsweredWith4002) {
  for (int kind : {3, 6, 7, 9, -1}) {
    CRequest record = Answered(kCreditSale, static_cast<HostMessageKind>(kind),
                               std::string(kSaleHead) + "00001250" "0000" "APPROVED        ");
    Parse(record);
    EXPECT_EQ(record.ReturnCode, 4002) << kind;
    EXPECT_FALSE(record.Approved) << kind;
    EXPECT_EQ(record.Disposition, kDispositionError) << kind;
    const std::string document = Document(record);
    EXPECT_EQ(record.WireResponse.substr(0, 2), "\x1c" "0") << kind;
    EXPECT_NE(document.find("<OPXXReturnCode>004002</OPXXReturnCode>"), std::string::npos) << document;
    EXPECT_NE(document.find("Unable to parse response from WorldPay(Tran Type not distinguishable)."),
              std::string::npos);
  }
}

}  // namespace
}  // namespace paxelle
