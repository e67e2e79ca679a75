// Response documents: return-code texts, the error answer, the result document
// of transactions and batch commands, masking, and the wire form.
#include "core/ResponseDocuments.h"

#include "core/MessageFrame.h"
#include "core/Request.h"
#include "core/ReturnCodes.h"
#include "tests/core/FrameText.h"
#include "tests/core/ParserTestSupport.h"
#include "tests/core/ReversingCrypto.h"

#include <gtest/gtest.h>

#include <vector>

namespace paxelle {
namespace {

using namespace testing::frame_text;
using testing::HexOfReversed;
using testing::kSessionKeyHex;
using testing::ContextFixture;
using testing::Payload;
using testing::ReversingCrypto;

// The error document as the lane must receive it, written out.
std::string ErrorDocument(const std::string& code, const std::string& text, const std::string& trace,
                          const std::string& extra = "") {
  return "<?xml version=\"1.0\"?>\r\n"
         "<RStream>\r\n"
         "\t<CmdResponse>\r\n"
         "\t\t<ResponseOrigin>Server</ResponseOrigin>\r\n"
         "\t\t<OPXXReturnCode>" + code + "</OPXXReturnCode>\r\n"
         "\t\t<CmdStatus>Error</CmdStatus>\r\n"
         "\t\t<TextResponse>" + text + "</TextResponse>\r\n"
         "\t\t<UserTraceData>" + trace + "</UserTraceData>\r\n" +
         extra +
         "\t</CmdResponse>\r\n"
         "</RStream>\r\n";
}

class ResponseDocumentsTest : public ::testing::Test {
 protected:
  ContextFixture server_;  // merchant 123456789012345, terminal 12345678
  CServerContext& Context() { return server_.context(); }
};

// ---- command response and helpers ----

TEST(CommandResponseTest, NotFilledResponseIsUnknownServerError) {
  EXPECT_EQ(BuildCommandDocument(CommandResponse{}),
            "<?xml version=\"1.0\"?>\r\n<RStream>\r\n\t<CmdResponse>\r\n"
            "\t\t<ResponseOrigin>Server</ResponseOrigin>\r\n"
            "\t\t<OPXXReturnCode>999999</OPXXReturnCode>\r\n"
            "\t\t<CmdStatus>Error</CmdStatus>\r\n"
            "\t\t<TextResponse>Unknown Error</TextResponse>\r\n"
            "\t\t<UserTraceData></UserTraceData>\r\n"
            "\t</CmdResponse>\r\n</RStream>\r\n");
}

TEST(CommandResponseTest, FragmentCarriesExtraBlockBeforeItsClosingLine) {
  CommandResponse response{"Server", "500000", 'S', "Paxelle XML Version WH 5.10", "t"};
  EXPECT_EQ(BuildCommandFragment(response, "\t\t<X>1</X>\r\n"),
            "\t<CmdResponse>\r\n"
            "\t\t<ResponseOrigin>Server</ResponseOrigin>\r\n"
            "\t\t<OPXXReturnCode>500000</OPXXReturnCode>\r\n"
            "\t\t<CmdStatus>Success</CmdStatus>\r\n"
            "\t\t<TextResponse>Paxelle XML Version WH 5.10</TextResponse>\r\n"
            "\t\t<UserTraceData>t</UserTraceData>\r\n"
            "\t\t<X>1</X>\r\n"
            "\t</CmdResponse>\r\n");
}

TEST(CommandResponseTest, StatusLettersAndCodes) {
  EXPECT_EQ(CmdStatusText('A'), "Approved");
  EXPECT_EQ(CmdStatusText('D'), "Declined");
  EXPECT_EQ(CmdStatusText('S'), "Success");
  EXPECT_EQ(CmdStatusText('E'), "Error");
  EXPECT_EQ(CmdStatusText('a'), "Error");
  EXPECT_EQ(SixDigitCode(0), "000000");
  EXPECT_EQ(SixDigitCode(4019), "004019");
  EXPECT_EQ(SixDigitCode(100219), "100219");
}

TEST(CommandResponseTest, ElementsAndMasks) {
  EXPECT_EQ(MakeElement("RefNo", "12", 2, true), "\t\t<RefNo>12</RefNo>\r\n");
  EXPECT_EQ(MakeElement("PKeyRID1", "A000000003", 0, false), "<PKeyRID1>A000000003</PKeyRID1>");
  EXPECT_EQ(MakeElement("Memo", "", 2, true), "");

  EXPECT_EQ(MaskAccount("4111111111111111"), "XXXXXXXXXXXX1111");
  EXPECT_EQ(MaskAccount("12345"), "X2345");
  EXPECT_EQ(MaskAccount("1234"), "1234");
  EXPECT_EQ(MaskAccount(""), "");
  EXPECT_EQ(MaskAll("1228"), "XXXX");
  EXPECT_EQ(MaskAll(""), "");
}

// ---- return codes and the error answer ----

TEST(ReturnCodeTextTest, TableFieldErrorsAndFallback) {
  struct Row {
    int code;
    int answered;
    const char* text;
  };
  const std::vector<Row> rows = {
      {100, 100, "Card Type Not Accepted"},
      {1004, 1004, "Insufficient Fields "},
      {4011, 4011, "Error occured while decrypting request."},
      {4301, 4301, "EMV is Not Enabled"},
      {100201, 100201, "Invalid Field - Transaction Type"},
      {100219, 100219, "Invalid Field - Invalid TranCode."},
      {100233, 100233, "Invalid Field - Sequence Number"},
      {100242, 100242, "Invalid Field - Invalid Field TerminalID"},
      {100257, 100257, "Invalid Field - Lane ID"},
      {100227, 8888, "Error to be defined."},
      {100234, 8888, "Error to be defined."},
      {100238, 8888, "Error to be defined."},
      {100247, 8888, "Error to be defined."},
      {100258, 8888, "Error to be defined."},
      {1000, 8888, "Error to be defined."},
      {8888, 8888, "Error to be defined."},
      {0, 8888, "Error to be defined."},
      {-4019, 8888, "Error to be defined."},
  };
  for (const auto& row : rows) {
    int code = row.code;
    EXPECT_EQ(ReturnCodeText(code, "unused"), row.text) << row.code;
    EXPECT_EQ(code, row.answered) << row.code;
  }
  int hostError = kRcHostError;
  EXPECT_EQ(ReturnCodeText(hostError, "Host Busy"), "Host Busy");
  EXPECT_EQ(hostError, kRcHostError);
}

TEST_F(ResponseDocumentsTest, FieldErrorAnswerIsWholeDocumentInClear) {
  CRequest record;
  record.ReturnCode = 100219;
  record.UserTraceData = "lane7";
  record.Disposition = kDispositionProcess;
  const std::string wire = record.BuildErrorResponse(Context());
  EXPECT_EQ(wire, FS + "000" + STX +
                      "<?xml version=\"1.0\"?>\r\n"
                      "<RStream>\r\n"
                      "\t<CmdResponse>\r\n"
                      "\t\t<ResponseOrigin>Server</ResponseOrigin>\r\n"
                      "\t\t<OPXXReturnCode>100219</OPXXReturnCode>\r\n"
                      "\t\t<CmdStatus>Error</CmdStatus>\r\n"
                      "\t\t<TextResponse>Invalid Field - Invalid TranCode.</TextResponse>\r\n"
                      "\t\t<UserTraceData>lane7</UserTraceData>\r\n"
                      "\t</CmdResponse>\r\n"
                      "</RStream>\r\n" + ETX);
  EXPECT_EQ(record.WireResponse, wire);
  EXPECT_EQ(record.TextResponse, "Invalid Field - Invalid TranCode.");
  EXPECT_EQ(record.Disposition, kDispositionError);
}

TEST_F(ResponseDocumentsTest, ErrorAnswersByCode) {
  struct Row {
    int code;
    const char* wireCode;
    const char* text;
  };
  const std::vector<Row> rows = {
      {4019, "004019", "TStream Type Missing."},
      {4005, "004005", "Clear Text Request NOT supported."},
      {1010, "001010", "User Abort."},
      {4020, "004020", "Internal Server Error! Could Not Encrypt Response CALL PROVIDER."},
  };
  for (const auto& row : rows) {
    CRequest record;
    record.ReturnCode = row.code;
    EXPECT_EQ(record.BuildErrorResponse(Context()), Clear(ErrorDocument(row.wireCode, row.text, ""))) << row.code;
  }
}

TEST_F(ResponseDocumentsTest, UnknownCodeIsAnswered8888AndKept) {
  CRequest record;
  record.ReturnCode = 12345;
  EXPECT_EQ(record.BuildErrorResponse(Context()), Clear(ErrorDocument("008888", "Error to be defined.", "")));
  EXPECT_EQ(record.ReturnCode, 8888);
  EXPECT_EQ(record.TextResponse, "Error to be defined.");
}

TEST_F(ResponseDocumentsTest, HostErrorAnswersWithItsText) {
  CRequest record;
  record.ReturnCode = kRcHostError;
  record.HostErrorText = "Merchant setting does not allow Merchant Initiated Batch Close.";
  EXPECT_EQ(record.BuildErrorResponse(Context()),
            Clear(ErrorDocument("004003", "Merchant setting does not allow Merchant Initiated Batch Close.", "")));
}

TEST_F(ResponseDocumentsTest, TimeoutOfChipTransactionTellsLaneNotToReverse) {
  const std::string revStatus = "\t\t<RevStatus>Timeout-NoNeedToReverse</RevStatus>\r\n";
  for (int id : {56, 57, 58, 59, 60, 62, 65, 66}) {
    CRequest record;
    record.ReturnCode = kRcTimeout;
    record.TranCodeId = id;
    record.UserTraceData = "T";
    EXPECT_EQ(record.BuildErrorResponse(Context()), Clear(ErrorDocument("001007", "Timeout on Response", "T", revStatus)))
        << id;
  }
  for (int id : {0, 1, 14, 54, 61, 63, 64}) {
    CRequest record;
    record.ReturnCode = kRcTimeout;
    record.TranCodeId = id;
    record.UserTraceData = "T";
    EXPECT_EQ(record.BuildErrorResponse(Context()), Clear(ErrorDocument("001007", "Timeout on Response", "T"))) << id;
  }
  CRequest otherCode;
  otherCode.ReturnCode = kRcUserAbort;
  otherCode.TranCodeId = kEmvSale;
  EXPECT_EQ(otherCode.BuildErrorResponse(Context()), Clear(ErrorDocument("001010", "User Abort.", "")));
}

// ---- the TranResponse result document ----

CRequest SaleRecord() {
  CRequest record;
  record.StreamType = "Transaction";
  record.UserTraceData = "lane7";
  record.TranCodeId = kCreditSale;
  record.TranCode = "Sale";
  record.AcctNo = "4111111111111111";
  record.ExpDate = "1228";
  record.CardType = "VISA";
  record.RefNo = "12 34";
  record.InvoiceNo = "1001";
  record.Purchase = "1000";
  record.Authorize = "1000";
  record.HostText = "DECLINED";
  return record;
}

const std::string kResultStart =
    "<?xml version=\"1.0\"?>\r\n"
    "<RStream>\r\n"
    "\t<CmdResponse>\r\n"
    "\t\t<ResponseOrigin>Processor</ResponseOrigin>\r\n"
    "\t\t<OPXXReturnCode>000000</OPXXReturnCode>\r\n";

// What SaleRecord() answers: declined, so no CaptureStatus.
const std::string kDeclinedSaleDocument =
    kResultStart +
    "\t\t<CmdStatus>Declined</CmdStatus>\r\n"
    "\t\t<TextResponse>DECLINED</TextResponse>\r\n"
    "\t\t<UserTraceData>lane7</UserTraceData>\r\n"
    "\t</CmdResponse>\r\n"
    "\t<TranResponse>\r\n"
    "\t\t<MerchantID>123456789012345</MerchantID>\r\n"
    "\t\t<TerminalID>12345678</TerminalID>\r\n"
    "\t\t<AcctNo>XXXXXXXXXXXX1111</AcctNo>\r\n"
    "\t\t<ExpDate>XXXX</ExpDate>\r\n"
    "\t\t<CardType>VISA</CardType>\r\n"
    "\t\t<TranCode>Sale</TranCode>\r\n"
    "\t\t<RefNo>12_34</RefNo>\r\n"
    "\t\t<InvoiceNo>1001</InvoiceNo>\r\n"
    "\t\t<Amount>\r\n"
    "\t\t\t<Purchase>10.00</Purchase>\r\n"
    "\t\t\t<Authorize>10.00</Authorize>\r\n"
    "\t\t</Amount>\r\n"
    "\t</TranResponse>\r\n"
    "</RStream>\r\n";

TEST_F(ResponseDocumentsTest, DeclinedSaleHasTranResponseWithoutCaptureStatus) {
  CRequest record = SaleRecord();
  EXPECT_EQ(record.BuildResponse(Context()), kDeclinedSaleDocument);
}

TEST_F(ResponseDocumentsTest, ApprovedSaleWritesEveryElementInOrder) {
  CRequest record = SaleRecord();
  record.Approved = true;
  record.Captured = true;
  record.HostText = "APPROVED";
  record.HostAuthCode = "A12   ";
  record.HostRefNo = "H 1";
  record.AVSResult = "Y";
  record.CVVResult = "M";
  record.EMVResult = "E1";
  record.OperatorID = "op";
  record.Memo = "memo";
  record.Gratuity = "150";
  record.CashBack = "5";
  record.Balance = "20.00";
  record.SecondBalance = "not for a sale";
  record.FoodBalance = "1.00";
  record.CashBalance = "2.00";
  record.HostAcqRefData = "a b c";
  record.VoucherNo = "not for a sale";
  record.AuthCode = "not for a sale";
  EXPECT_EQ(record.BuildResponse(Context()),
            kResultStart +
                "\t\t<CmdStatus>Approved</CmdStatus>\r\n"
                "\t\t<TextResponse>APPROVED</TextResponse>\r\n"
                "\t\t<UserTraceData>lane7</UserTraceData>\r\n"
                "\t</CmdResponse>\r\n"
                "\t<TranResponse>\r\n"
                "\t\t<MerchantID>123456789012345</MerchantID>\r\n"
                "\t\t<TerminalID>12345678</TerminalID>\r\n"
                "\t\t<AcctNo>XXXXXXXXXXXX1111</AcctNo>\r\n"
                "\t\t<ExpDate>XXXX</ExpDate>\r\n"
                "\t\t<CardType>VISA</CardType>\r\n"
                "\t\t<TranCode>Sale</TranCode>\r\n"
                "\t\t<AuthCode>A12</AuthCode>\r\n"
                "\t\t<CaptureStatus>Captured</CaptureStatus>\r\n"
                "\t\t<RefNo>H_1</RefNo>\r\n"
                "\t\t<InvoiceNo>1001</InvoiceNo>\r\n"
                "\t\t<AVSResult>Y</AVSResult>\r\n"
                "\t\t<CVVResult>M</CVVResult>\r\n"
                "\t\t<EMVResult>E1</EMVResult>\r\n"
                "\t\t<OperatorID>op</OperatorID>\r\n"
                "\t\t<Memo>memo</Memo>\r\n"
                "\t\t<Amount>\r\n"
                "\t\t\t<Purchase>10.00</Purchase>\r\n"
                "\t\t\t<Authorize>10.00</Authorize>\r\n"
                "\t\t\t<Gratuity>1.50</Gratuity>\r\n"
                "\t\t\t<CashBack>0.05</CashBack>\r\n"
                "\t\t\t<Balance>20.00</Balance>\r\n"
                "\t\t\t<FoodBalance>1.00</FoodBalance>\r\n"
                "\t\t\t<CashBalance>2.00</CashBalance>\r\n"
                "\t\t</Amount>\r\n"
                "\t\t<AcqRefData>a_b_c</AcqRefData>\r\n"
                "\t</TranResponse>\r\n"
                "</RStream>\r\n");
}

// The part of a result document between CardType and InvoiceNo, where the
// per-id rules act.
std::string AuthorisationLines(CRequest record, CServerContext& context) {
  const std::string document = record.BuildResponse(context);
  const auto from = document.find("</TranCode>\r\n");
  const auto to = document.find("\t\t<InvoiceNo>");
  if (from == std::string::npos || to == std::string::npos || to < from) return "malformed: " + document;
  return document.substr(from + 13, to - from - 13);
}

TEST_F(ResponseDocumentsTest, CaptureStatusOnlyForApprovedCapturingIds) {
  struct Row {
    int id;
    bool approved;
    bool captured;
    const char* lines;
  };
  const std::vector<Row> rows = {
      {kCreditSale, true, false, "\t\t<CaptureStatus>NotCaptured</CaptureStatus>\r\n\t\t<RefNo>12_34</RefNo>\r\n"},
      {kEmvSale, true, true, "\t\t<CaptureStatus>Captured</CaptureStatus>\r\n\t\t<RefNo>12_34</RefNo>\r\n"},
      {kCreditPreAuth, true, true, "\t\t<RefNo>12_34</RefNo>\r\n"},
      {kCreditAuthOnly, true, false, "\t\t<RefNo>12_34</RefNo>\r\n"},
      {kCreditZeroAuth, true, false, "\t\t<RefNo>12_34</RefNo>\r\n"},
      {kCreditSale, false, true, "\t\t<RefNo>12_34</RefNo>\r\n"},
  };
  for (const auto& row : rows) {
    CRequest record = SaleRecord();
    record.TranCodeId = row.id;
    record.Approved = row.approved;
    record.Captured = row.captured;
    EXPECT_EQ(AuthorisationLines(record, Context()), row.lines) << row.id;
  }
}

TEST_F(ResponseDocumentsTest, RequestAuthCodeAndVoucherEchoedOnlyWhereTheyBelong) {
  struct Row {
    int id;
    const char* hostAuthCode;
    const char* lines;
  };
  const std::vector<Row> rows = {
      {kCreditVoiceAuth, "", "\t\t<AuthCode>V55</AuthCode>\r\n"},
      {kCreditPreAuthCapture, "   ", "\t\t<AuthCode>V55</AuthCode>\r\n"},
      {kDebitPreAuthCapture, "", "\t\t<AuthCode>V55</AuthCode>\r\n"},
      {kEmvVoiceAuth, "", "\t\t<AuthCode>V55</AuthCode>\r\n"},
      {kEbtVoucher, "", "\t\t<AuthCode>V55</AuthCode>\r\n\t\t<VoucherNo>778</VoucherNo>\r\n"},
      {kEbtVoucher, "H9 ", "\t\t<AuthCode>H9</AuthCode>\r\n\t\t<VoucherNo>778</VoucherNo>\r\n"},
      {kCreditVoiceAuth, "H9", "\t\t<AuthCode>H9</AuthCode>\r\n"},
      {kCreditSale, "", ""},
      {kEbtFoodSale, "", ""},
  };
  for (const auto& row : rows) {
    CRequest record = SaleRecord();
    record.TranCodeId = row.id;
    record.HostAuthCode = row.hostAuthCode;
    record.AuthCode = "V55";
    record.VoucherNo = "778";
    EXPECT_EQ(AuthorisationLines(record, Context()), std::string(row.lines) + "\t\t<RefNo>12_34</RefNo>\r\n") << row.id;
  }
}

TEST_F(ResponseDocumentsTest, SecondBalanceForFsaBalanceAndPartialAuth) {
  const std::string both = "\t\t<Amount>\r\n\t\t\t<Balance>5.00</Balance>\r\n\t\t\t<Balance>3.00</Balance>\r\n\t\t</Amount>\r\n";
  const std::string first = "\t\t<Amount>\r\n\t\t\t<Balance>5.00</Balance>\r\n\t\t</Amount>\r\n";
  struct Row {
    int id;
    bool partialAuth;
    const std::string& amount;
  };
  const std::vector<Row> rows = {
      {kCreditFsaSale, false, both}, {kCreditBalance, false, both}, {kCreditSale, true, both},
      {kCreditSale, false, first},   {kEbtBalance, false, first},
  };
  for (const auto& row : rows) {
    CRequest record = SaleRecord();
    record.Purchase.clear();
    record.Authorize.clear();
    record.TranCodeId = row.id;
    record.PartialAuthAllowed = row.partialAuth;
    record.Balance = "5.00";
    record.SecondBalance = "3.00";
    EXPECT_NE(record.BuildResponse(Context()).find("\t\t<InvoiceNo>1001</InvoiceNo>\r\n" + row.amount), std::string::npos)
        << row.id;
  }
}

TEST_F(ResponseDocumentsTest, EmptyRecordStillHasRefNoAndAmount) {
  CRequest record;
  record.StreamType = "Transaction";
  EXPECT_EQ(record.BuildResponse(Context()),
            kResultStart +
                "\t\t<CmdStatus>Declined</CmdStatus>\r\n"
                "\t\t<TextResponse></TextResponse>\r\n"
                "\t\t<UserTraceData></UserTraceData>\r\n"
                "\t</CmdResponse>\r\n"
                "\t<TranResponse>\r\n"
                "\t\t<MerchantID>123456789012345</MerchantID>\r\n"
                "\t\t<TerminalID>12345678</TerminalID>\r\n"
                "\t\t<TranCode>INVALID</TranCode>\r\n"
                "\t\t<RefNo></RefNo>\r\n"
                "\t\t<Amount>\r\n"
                "\t\t</Amount>\r\n"
                "\t</TranResponse>\r\n"
                "</RStream>\r\n");
}

// ---- administrative bodies ----

CRequest BatchRecord(int id) {
  CRequest record;
  record.StreamType = "Admin";
  record.TranCodeId = id;
  record.TranCode = id == kBatchClose ? "BatchClose" : "BatchSummary";
  record.HostMsgKind = HostMessageKind::kBatch;
  record.TerminalID = "001";
  record.OperatorID = "op";
  record.UserTraceData = "lane7";
  return record;
}

TEST_F(ResponseDocumentsTest, BatchCloseBodyCarriesHostTotalsInOrder) {
  CRequest record = BatchRecord(kBatchClose);
  record.AdminSuccess = true;
  record.AdminText = "BATCH CLOSED";
  record.BatchNo = "017";
  record.BatchItemCount = "12";
  record.HostNetBatchTotal = "100.00";
  record.HostCreditCount = "3";
  record.HostCreditPurchaseAmount = "60.00";
  record.HostCreditReturnAmount = "10.00";
  record.HostNetCreditAmount = "50.00";
  record.HostDebitCount = "2";
  record.HostDebitPurchaseAmount = "30.00";
  record.HostDebitReturnAmount = "0.00";
  record.HostNetDebitAmount = "30.00";
  record.HostEBTCount = "1";
  record.HostEBTPurchaseAmount = "20.00";
  record.HostEBTReturnAmount = "0.00";
  record.HostNetEBTAmount = "20.00";
  record.ControlNo = "C77";
  record.NetBatchTotal = "99999";  // the lane's own totals only go to the host
  record.CreditCount = "9";
  EXPECT_EQ(record.BuildResponse(Context()),
            kResultStart +
                "\t\t<CmdStatus>Success</CmdStatus>\r\n"
                "\t\t<TextResponse>BATCH CLOSED</TextResponse>\r\n"
                "\t\t<UserTraceData>lane7</UserTraceData>\r\n"
                "\t</CmdResponse>\r\n"
                "\t<BatchClose>\r\n"
                "\t\t<MerchantID>123456789012345</MerchantID>\r\n"
                "\t\t<TerminalID>001</TerminalID>\r\n"
                "\t\t<OperatorID>op</OperatorID>\r\n"
                "\t\t<BatchNo>017</BatchNo>\r\n"
                "\t\t<BatchItemCount>12</BatchItemCount>\r\n"
                "\t\t<NetBatchTotal>100.00</NetBatchTotal>\r\n"
                "\t\t<CreditCount>3</CreditCount>\r\n"
                "\t\t<CreditPurchaseAmount>60.00</CreditPurchaseAmount>\r\n"
                "\t\t<CreditReturnAmount>10.00</CreditReturnAmount>\r\n"
                "\t\t<NetCreditAmount>50.00</NetCreditAmount>\r\n"
                "\t\t<DebitCount>2</DebitCount>\r\n"
                "\t\t<DebitPurchaseAmount>30.00</DebitPurchaseAmount>\r\n"
                "\t\t<DebitReturnAmount>0.00</DebitReturnAmount>\r\n"
                "\t\t<NetDebitAmount>30.00</NetDebitAmount>\r\n"
                "\t\t<EBTCount>1</EBTCount>\r\n"
                "\t\t<EBTPurchaseAmount>20.00</EBTPurchaseAmount>\r\n"
                "\t\t<EBTReturnAmount>0.00</EBTReturnAmount>\r\n"
                "\t\t<NetEBTAmount>20.00</NetEBTAmount>\r\n"
                "\t\t<ControlNo>C77</ControlNo>\r\n"
                "\t</BatchClose>\r\n"
                "</RStream>\r\n");
}

TEST_F(ResponseDocumentsTest, BatchSummaryWithoutHostFieldsHasIdentityLinesOnly) {
  CRequest record = BatchRecord(kBatchSummary);
  record.AdminText = "HOST DOWN";
  EXPECT_EQ(record.BuildResponse(Context()),
            kResultStart +
                "\t\t<CmdStatus>Error</CmdStatus>\r\n"
                "\t\t<TextResponse>HOST DOWN</TextResponse>\r\n"
                "\t\t<UserTraceData>lane7</UserTraceData>\r\n"
                "\t</CmdResponse>\r\n"
                "\t<BatchSummary>\r\n"
                "\t\t<MerchantID>123456789012345</MerchantID>\r\n"
                "\t\t<TerminalID>001</TerminalID>\r\n"
                "\t\t<OperatorID>op</OperatorID>\r\n"
                "\t</BatchSummary>\r\n"
                "</RStream>\r\n");
}

TEST_F(ResponseDocumentsTest, BatchBodyLeavesOutEmptyIdentityAndHostFields) {
  CRequest record = BatchRecord(kBatchSummary);
  record.TerminalID.clear();
  record.OperatorID.clear();
  record.AdminSuccess = true;
  record.BatchItemCount = "4";
  record.HostNetDebitAmount = "7.00";
  EXPECT_EQ(record.BuildResponse(Context()),
            kResultStart +
                "\t\t<CmdStatus>Success</CmdStatus>\r\n"
                "\t\t<TextResponse></TextResponse>\r\n"
                "\t\t<UserTraceData>lane7</UserTraceData>\r\n"
                "\t</CmdResponse>\r\n"
                "\t<BatchSummary>\r\n"
                "\t\t<MerchantID>123456789012345</MerchantID>\r\n"
                "\t\t<BatchItemCount>4</BatchItemCount>\r\n"
                "\t\t<NetDebitAmount>7.00</NetDebitAmount>\r\n"
                "\t</BatchSummary>\r\n"
                "</RStream>\r\n");
}

TEST_F(ResponseDocumentsTest, AdministrativeRecordWithoutBodyHasCommandResponseOnly) {
  CRequest record = BatchRecord(kServerVersion);
  record.HostMsgKind = HostMessageKind::kCredit;
  EXPECT_EQ(record.BuildResponse(Context()),
            kResultStart +
                "\t\t<CmdStatus>Error</CmdStatus>\r\n"
                "\t\t<TextResponse></TextResponse>\r\n"
                "\t\t<UserTraceData>lane7</UserTraceData>\r\n"
                "\t</CmdResponse>\r\n"
                "</RStream>\r\n");
}

// ---- the wire form ----

TEST_F(ResponseDocumentsTest, ProcessedRecordIsAnsweredEncrypted) {
  ReversingCrypto crypto(Context());
  for (RequestDisposition disposition : {kDispositionProcess, kDispositionBatchClose}) {
    CRequest record = SaleRecord();
    record.ClientKeyBlob = kSessionKeyHex;
    record.Disposition = disposition;
    const std::string wire = record.FinishResponse("ignored", Context());
    EXPECT_EQ(wire, FS + "200" + STX + HexOfReversed(kDeclinedSaleDocument) + ETX) << disposition;
    EXPECT_EQ(record.WireResponse, wire);
    EXPECT_EQ(record.Disposition, disposition);
  }
}

TEST_F(ResponseDocumentsTest, UnencryptableResponseIs4020InClear) {
  const std::string expected =
      Clear(ErrorDocument("004020", "Internal Server Error! Could Not Encrypt Response CALL PROVIDER.", "lane7"));
  {
    ReversingCrypto crypto(Context());
    crypto.failEncryption = true;
    CRequest record = SaleRecord();
    record.ClientKeyBlob = kSessionKeyHex;
    record.Disposition = kDispositionProcess;
    EXPECT_EQ(record.FinishResponse("", Context()), expected);
    EXPECT_EQ(record.Disposition, kDispositionError);
    EXPECT_EQ(record.ReturnCode, kRcEncryptFailed);
  }
  ASSERT_EQ(Context().requestCrypto, nullptr);
  CRequest record = SaleRecord();
  record.Disposition = kDispositionBatchClose;
  EXPECT_EQ(record.FinishResponse("", Context()), expected);
  EXPECT_EQ(record.Disposition, kDispositionError);
}

TEST_F(ResponseDocumentsTest, ErrorDispositionFramesTheGivenDocumentInClear) {
  ReversingCrypto crypto(Context());
  CRequest record = SaleRecord();
  record.ClientKeyBlob = kSessionKeyHex;
  record.Disposition = kDispositionError;
  EXPECT_EQ(record.FinishResponse("<doc/>\r\n", Context()), FS + "000" + STX + "<doc/>\r\n" + ETX);
}

TEST_F(ResponseDocumentsTest, AbortDispositionLeavesWireResponseAlone) {
  CRequest record = SaleRecord();
  record.Disposition = kDispositionAbort;
  record.WireResponse = "earlier";
  EXPECT_EQ(record.FinishResponse("<doc/>\r\n", Context()), "earlier");
  EXPECT_EQ(record.WireResponse, "earlier");
}

// ---- from the received frame to the wire answer ----

TEST_F(ResponseDocumentsTest, EncryptedSaleRoundTrip) {
  ReversingCrypto crypto(Context());
  const Payload sale = {{"TStream", "Transaction"}, {"MerchantID", "1"},  {"ClientID", "1"},
                        {"InvoiceNo", "1001"},      {"RefNo", "12_34"},   {"TranType", "Credit"},
                        {"TranCode", "Sale"},       {"AcctNo", "4111111111111111"},
                        {"ExpDate", "1228"},        {"Purchase", "10.00"}};
  CRequest record;
  record.Parse("lane7" + FS + "200" + STX + DC1 + kSessionKeyHex + DC2 + HexOfReversed(sale.Text()), Context());
  ASSERT_EQ(record.Disposition, kDispositionProcess) << record.ReturnCode;
  ASSERT_EQ(record.TranCodeId, kCreditSale);
  EXPECT_EQ(record.RefNo, "12 34");

  // What the host interface writes back.
  record.CardType = "VISA";
  record.HostText = "DECLINED";

  const std::string wire = record.FinishResponse("", Context());
  EXPECT_EQ(wire, FS + "200" + STX + HexOfReversed(kDeclinedSaleDocument) + ETX);

  std::string clear;
  ASSERT_TRUE(crypto.DecryptWithSessionKey(kSessionKeyHex, wire.substr(5, wire.size() - 6), clear));
  EXPECT_EQ(clear, kDeclinedSaleDocument);
  EXPECT_EQ(clear.find("4111111111111111"), std::string::npos);
}

TEST_F(ResponseDocumentsTest, RefusedFrameRoundTrip) {
  CRequest record;
  record.Parse("my ref 42" + FS + "000" + STX + "TStream=Transaction", Context());
  ASSERT_EQ(record.Disposition, kDispositionError);
  EXPECT_EQ(record.BuildErrorResponse(Context()),
            Clear(ErrorDocument("004005", "Clear Text Request NOT supported.", "my ref 42")));

  CRequest unframed;
  unframed.Parse("no frame at all", Context());
  EXPECT_EQ(unframed.BuildErrorResponse(Context()),
            Clear(ErrorDocument("004010", "Unrecognized Request Format.", "no frame at all")));

  CRequest keyless;
  keyless.Parse("r" + FS + "M00" + STX + "4142", Context());
  EXPECT_EQ(keyless.BuildErrorResponse(Context()),
            Clear(ErrorDocument("004011", "Error occured while decrypting request.", "r")));
}

}  // namespace
}  // namespace paxelle
