// The request parser: header checks, each family's field checks in order, the
// amounts it computes, and the card-reader decryption seam.
#include "core/Request.h"

#include "core/RequestCrypto.h"
#include "core/ReturnCodes.h"
#include "tests/core/ParserTestSupport.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

using testing::ContextFixture;
using testing::Payload;

const std::string kVisa = "4111111111111111";

const Payload kHeader = {{"TStream", "Transaction"}, {"MerchantID", "1"}, {"ClientID", "1"},
                         {"InvoiceNo", "1001"},      {"RefNo", "1001"}};

const Payload kCreditSaleRequest = kHeader.With("TranType", "Credit")
                                .With("TranCode", "Sale")
                                .With("AcctNo", kVisa)
                                .With("ExpDate", "1228")
                                .With("Purchase", "10.00");

const Payload kEmvSaleRequest = kHeader.With("TranType", "EMVCredit")
                             .With("TranCode", "EMVSale")
                             .With("EMVEntrySource", "ChipRead")
                             .With("Track2", kVisa + "=2812101")
                             .With("Purchase", "10.00");

const Payload kDebitSaleRequest = kHeader.With("TranType", "Debit")
                               .With("TranCode", "Sale")
                               .With("Track2", kVisa + "=2812101")
                               .With("Purchase", "10.00")
                               .With("PINBlock", "0123456789ABCDEF")
                               .With("DervdKey", "FFFF9876543210E00001");

const Payload kEbtFoodSaleRequest = kHeader.With("TranType", "EBT")
                                 .With("TranCode", "Sale")
                                 .With("CardType", "Foodstamp")
                                 .With("AcctNo", "5076800000000001")
                                 .With("Purchase", "10.00")
                                 .With("PINBlock", "0123456789ABCDEF")
                                 .With("DervdKey", "FFFF9876543210E00001");

const Payload kCheckSaleRequest = kHeader.With("TranType", "CheckAuth")
                               .With("TranCode", "Sale")
                               .With("MICR", "Keyed")
                               .With("RoutingNo", "123456789")
                               .With("AcctNo", "000123456")
                               .With("SequenceNo", "1001")
                               .With("StateCode", "NY")
                               .With("Purchase", "25.00");

const Payload kAdmin = {{"TStream", "Admin"}, {"MerchantID", "1"}, {"ClientID", "1"},
                        {"TranType", "Administrative"}};

// A case: the payload, and the return code it must end with (0: parsed).
struct Case {
  const char* name;
  Payload payload;
  int expected;
};

class RequestParserTest : public ::testing::Test {
 protected:
  ContextFixture server_;

  CRequest ParsePayload(const std::string& payload) { return testing::ParsePayload(payload, server_.context()); }

  void ExpectAll(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
      const CRequest record = ParsePayload(c.payload.Text());
      if (c.expected == 0) {
        EXPECT_NE(record.TranCodeId, 0) << c.name << " refused with " << record.ReturnCode;
      } else {
        EXPECT_EQ(record.ReturnCode, c.expected) << c.name;
        EXPECT_EQ(record.TranCodeId, 0) << c.name;
      }
    }
  }
};

TEST_F(RequestParserTest, HeaderChecksRunInOrder) {
  server_.Configure({{kParamMerchantCategory, "5"}});
  ExpectAll({
      {"no TStream", kCreditSaleRequest.Without("TStream"), kRcTStreamMissing},
      {"no TStream though everything else is there", kCreditSaleRequest.Without("TStream").Without("MerchantID"),
       kRcTStreamMissing},
      {"lower-case TStream", kCreditSaleRequest.With("TStream", "transaction"), kRcFieldTStream},
      {"no MerchantID", kCreditSaleRequest.Without("MerchantID"), kRcMerchantIdMissing},
      {"no ClientID", kCreditSaleRequest.Without("ClientID"), kRcUpgradeRequired},
      {"ClientID with a letter", kCreditSaleRequest.With("ClientID", "12a"), 0},
      {"LaneID with a hyphen", kCreditSaleRequest.With("LaneID", "L-1"), kRcFieldLaneId},
      {"no TranType", kCreditSaleRequest.Without("TranType"), kRcFieldTranType},
      {"unknown TranType", kCreditSaleRequest.With("TranType", "Gift"), kRcFieldTranType},
      {"TerminalID of two for category 5", kCreditSaleRequest.With("TerminalID", "12"), kRcFieldTerminalId},
      {"TerminalID of three for category 5", kCreditSaleRequest.With("TerminalID", "123"), 0},
      {"no InvoiceNo", kCreditSaleRequest.Without("InvoiceNo"), kRcInvoiceMissing},
      {"no RefNo", kCreditSaleRequest.Without("RefNo"), kRcRefNoMissing},
  });
}

TEST_F(RequestParserTest, TerminalIdIgnoredOutsideCategoryFive) {
  const CRequest record = ParsePayload(kCreditSaleRequest.With("TerminalID", "12").Text());
  EXPECT_EQ(record.TranCodeId, kCreditSale);
  EXPECT_EQ(record.TerminalID, "");
}

TEST_F(RequestParserTest, HeaderFieldsKept) {
  const CRequest record = ParsePayload(kCreditSaleRequest.With("ClientID", "12345")
                                           .With("Name", std::string(35, 'N'))
                                           .With("OperatorID", std::string(25, 'O'))
                                           .With("Memo", std::string(45, 'M'))
                                           .With("Duplicate", "Override")
                                           .With("AccountSource", "Contactless")
                                           .With("PartialAuth", "Allow")
                                           .With("VSPActivation", "2x")
                                           .With("RefNo", "AB_CD_EFGHIJKLMNOPQ")
                                           .With("InvoiceNo", "1234567")
                                           .Text());
  EXPECT_EQ(record.ClientID, "12345");
  EXPECT_EQ(record.LaneTag, "2345");
  EXPECT_EQ(record.Name.size(), 30u);
  EXPECT_EQ(record.OperatorID.size(), 20u);
  EXPECT_EQ(record.Memo.size(), 40u);
  EXPECT_TRUE(record.Contactless);
  EXPECT_TRUE(record.PartialAuthAllowed);
  EXPECT_EQ(record.VSPActivation, 2);
  EXPECT_EQ(record.RefNo, "AB CD EFGHIJKLMN");
  EXPECT_EQ(record.InvoiceNo, "234567");  // a credit invoice keeps its last six
}

TEST_F(RequestParserTest, LaneTagFromClientIdOrLaneId) {
  EXPECT_EQ(ParsePayload(kCreditSaleRequest.With("ClientID", "107").Text()).LaneTag, "107");
  const CRequest letter = ParsePayload(kCreditSaleRequest.With("ClientID", "1a7").Text());
  EXPECT_EQ(letter.ClientID, "");
  EXPECT_EQ(letter.LaneTag, "");
  EXPECT_EQ(ParsePayload(kCreditSaleRequest.With("LaneID", "Lane0107").Text()).LaneTag, "0107");
}

TEST_F(RequestParserTest, CreditFieldChecks) {
  ExpectAll({
      {"unknown TranCode", kCreditSaleRequest.With("TranCode", "Refund"), kRcFieldTranCode},
      {"no TranCode", kCreditSaleRequest.Without("TranCode"), kRcFieldTranCode},
      {"Track2 of 38", kCreditSaleRequest.With("Track2", std::string(38, '4')), kRcFieldMagStripe},
      {"no account", kCreditSaleRequest.Without("AcctNo"), kRcFieldAccount},
      {"three-character ExpDate", kCreditSaleRequest.With("ExpDate", "122"), kRcFieldExpDate},
      {"no ExpDate keyed", kCreditSaleRequest.Without("ExpDate"), kRcFieldExpDate},
      {"bad prescription amount", kCreditSaleRequest.With("FSAPrescription", "1.0"), kRcFieldPrescription},
      {"bad vision amount", kCreditSaleRequest.With("FSAVision", "x.00"), kRcFieldVision},
      {"bad dental amount", kCreditSaleRequest.With("FSADental", "1.2.3"), kRcFieldDental},
      {"bad clinical amount", kCreditSaleRequest.With("FSAClinical", "12345678.90"), kRcFieldClinical},
      {"seven-character account", kCreditSaleRequest.With("AcctNo", "4111111"), kRcFieldAccount},
      {"bad tax", kCreditSaleRequest.With("Tax", "1"), kRcFieldTax},
      {"bad cash back", kCreditSaleRequest.With("CashBack", "1.000"), kRcFieldCashBack},
      {"no purchase", kCreditSaleRequest.Without("Purchase"), kRcFieldPurchase},
      {"bad purchase", kCreditSaleRequest.With("Purchase", "10"), kRcFieldPurchase},
      {"bad gratuity", kCreditSaleRequest.With("Gratuity", "2"), kRcFieldGratuity},
      {"zero total", kCreditSaleRequest.With("Purchase", "0.00"), kRcFieldAuthAmount},
      {"PreAuth without Authorize", kCreditSaleRequest.With("TranCode", "PreAuth"), kRcFieldAuthAmount},
      {"AuthOnly without Purchase",
       kCreditSaleRequest.With("TranCode", "AuthOnly").With("Authorize", "5.00").Without("Purchase"),
       kRcFieldPurchase},
      {"PreAuth with bad gratuity",
       kCreditSaleRequest.With("TranCode", "PreAuth").With("Authorize", "5.00").With("Gratuity", "x"),
       kRcFieldGratuity},
      {"brand OTHER", kCreditSaleRequest.With("AcctNo", "351111111111111"), kRcNotMajorCard},
      {"wrong check digit", kCreditSaleRequest.With("AcctNo", "5454545454545455"), kRcCheckDigit},
      {"VoidSale without AuthCode", kCreditSaleRequest.With("TranCode", "VoidSale"), kRcFieldAuthCode},
      {"VoiceAuth without AuthCode", kCreditSaleRequest.With("TranCode", "VoiceAuth"), kRcFieldAuthCode},
      {"PreAuthCapture without AuthCode", kCreditSaleRequest.With("TranCode", "PreAuthCapture"),
       kRcFieldAuthCode},
      {"ReverseFSASale without AuthCode", kCreditSaleRequest.With("TranCode", "ReverseFSASale"),
       kRcFieldAuthCode},
      {"VoidSale with AuthCode", kCreditSaleRequest.With("TranCode", "VoidSale").With("AuthCode", "A1"), 0},
      {"Balance with an invalid purchase", kCreditSaleRequest.With("TranCode", "Balance").With("Purchase", "x"), 0},
      {"Balance without purchase", kCreditSaleRequest.With("TranCode", "Balance").Without("Purchase"),
       kRcFieldPurchase},
      {"ZeroAuth without amounts", kCreditSaleRequest.With("TranCode", "ZeroAuth").Without("Purchase"), 0},
  });
}

TEST_F(RequestParserTest, SignedAmountsAreRefusedWithTheFieldsOwnCode) {
  ExpectAll({
      {"Purchase", kCreditSaleRequest.With("Purchase", "-10.00"), kRcFieldPurchase},
      {"Gratuity", kCreditSaleRequest.With("Gratuity", "-1.00"), kRcFieldGratuity},
      {"CashBack", kCreditSaleRequest.With("CashBack", "-1.00"), kRcFieldCashBack},
      {"Tax", kCreditSaleRequest.With("Tax", "-1.00"), kRcFieldTax},
      {"Authorize on a sale", kCreditSaleRequest.With("Authorize", "-10.00"), kRcFieldAuthAmount},
      {"Authorize on a PreAuth", kCreditSaleRequest.With("TranCode", "PreAuth").With("Authorize", "-1.00"),
       kRcFieldAuthAmount},
      {"FSAPrescription", kCreditSaleRequest.With("FSAPrescription", "-1.00"), kRcFieldPrescription},
      {"FSAVision", kCreditSaleRequest.With("FSAVision", "-1.00"), kRcFieldVision},
      {"FSADental", kCreditSaleRequest.With("FSADental", "-1.00"), kRcFieldDental},
      {"FSAClinical", kCreditSaleRequest.With("FSAClinical", "-1.00"), kRcFieldClinical},
      {"minus inside", kCreditSaleRequest.With("Purchase", "1-0.00"), kRcFieldPurchase},
      {"debit purchase", kDebitSaleRequest.With("Purchase", "-10.00"), kRcFieldPurchase},
      {"EBT cash back", kEbtFoodSaleRequest.With("CardType", "Cash").With("CashBack", "-5.00"), kRcFieldCashBack},
      {"check purchase", kCheckSaleRequest.With("Purchase", "-25.00"), kRcFieldPurchase},
  });
}

TEST_F(RequestParserTest, CreditAmountsInCents) {
  const CRequest sale =
      ParsePayload(kCreditSaleRequest.With("Gratuity", "2.00").With("CashBack", "5.00").Text());
  EXPECT_EQ(sale.Authorize, "1700");
  EXPECT_EQ(sale.Purchase, "1000");
  EXPECT_EQ(sale.Gratuity, "200");
  EXPECT_EQ(sale.CashBack, "500");

  const CRequest preAuth = ParsePayload(
      kCreditSaleRequest.With("TranCode", "PreAuth").With("Authorize", "25.00").With("Purchase", "20.00").Text());
  EXPECT_EQ(preAuth.Authorize, "2500");
  EXPECT_EQ(preAuth.Purchase, "2000");

  const CRequest balance = ParsePayload(
      kCreditSaleRequest.With("TranCode", "Balance").With("Purchase", "bad").With("CashBack", "1.00").Text());
  EXPECT_EQ(balance.Purchase, "0");
  EXPECT_EQ(balance.Authorize, "0");
  EXPECT_EQ(balance.CashBack, "");

  const CRequest taxed =
      ParsePayload(kCreditSaleRequest.With("Tax", "1.25").With("CustomerCode", std::string(20, 'C')).Text());
  EXPECT_EQ(taxed.Tax, "125");
  EXPECT_EQ(taxed.CustomerCode.size(), 17u);

  const CRequest healthcare = ParsePayload(
      kCreditSaleRequest.With("TranCode", "FSASale").With("FSAVision", "3.50").Text());
  EXPECT_EQ(healthcare.TranCodeId, kCreditFsaSale);
  EXPECT_EQ(healthcare.FSAVision, "350");
}

TEST_F(RequestParserTest, SwipedCreditTakesAccountAndExpiryFromTrack) {
  const CRequest record = ParsePayload(
      kCreditSaleRequest.Without("AcctNo").Without("ExpDate").With("Track2", " " + kVisa + "=25121010000 ").Text());
  EXPECT_TRUE(record.Swiped);
  EXPECT_EQ(record.AcctNo, kVisa);
  EXPECT_EQ(record.ExpDate, "1225");
  EXPECT_EQ(record.CardType, "VISA");
  EXPECT_EQ(record.TranCode, "Sale");

  const CRequest noExpiry =
      ParsePayload(kCreditSaleRequest.Without("AcctNo").With("Track2", kVisa + "=25").Text());
  EXPECT_EQ(noExpiry.AcctNo, kVisa);
  EXPECT_EQ(noExpiry.ExpDate, "");
}

TEST_F(RequestParserTest, CreditKeepsReferenceData) {
  const CRequest record = ParsePayload(kCreditSaleRequest.With("AuthCode", "ABCDEFGH")
                                           .With("AcqRefData", "K1_2|01")
                                           .With("CVVData", "123")
                                           .With("CVVResult", "M")
                                           .With("AVSResult", "Y")
                                           .With("Zip", "1234567890")
                                           .With("Address", std::string(25, 'A'))
                                           .Text());
  EXPECT_EQ(record.AuthCode, "ABCDEF");
  EXPECT_EQ(record.AcqRefData, "K1 2|01");
  EXPECT_TRUE(record.HasCVV);
  EXPECT_EQ(record.CVVData, "123");
  EXPECT_EQ(record.CVVResult, "M");
  EXPECT_EQ(record.AVSResult, "Y");
  EXPECT_EQ(record.Zip, "123456789");
  EXPECT_TRUE(record.HasZip);
  EXPECT_EQ(record.Address.size(), 20u);
  EXPECT_EQ(record.ExpDate, "1228");
}

TEST_F(RequestParserTest, EmvCreditChecks) {
  EXPECT_EQ(ParsePayload(kEmvSaleRequest.Without("EMVEntrySource").Text()).ReturnCode, kRcEmvNotEnabled)
      << "EMV support off is answered before any EMV field is looked at";
  server_.Configure({{kParamEmvSupport, "1"}});
  ExpectAll({
      {"EMVSale", kEmvSaleRequest, 0},
      {"no entry source", kEmvSaleRequest.Without("EMVEntrySource"), kRcFieldEmvEntrySource},
      {"credit TranCode", kEmvSaleRequest.With("TranCode", "Sale"), kRcFieldTranCode},
      {"reversal without original", kEmvSaleRequest.With("TranCode", "EMVTimeoutReversal"),
       kRcFieldOriginalTranCode},
      {"reversal of a zero auth",
       kEmvSaleRequest.With("TranCode", "EMVTimeoutReversal").With("OriginalTranCode", "EMVZeroAuth"),
       kRcFieldOriginalTranCode},
      {"reversal of an offline approval",
       kEmvSaleRequest.With("TranCode", "EMVTimeoutReversal").With("OriginalTranCode", "EMVOfflineApprovedSale"), 0},
      {"track too long", kEmvSaleRequest.With("Track2", std::string(38, '4')), kRcFieldMagStripe},
      {"short account", kEmvSaleRequest.With("Track2", "4111111"), kRcFieldAccount},
      {"bad tax", kEmvSaleRequest.With("Tax", "1"), kRcFieldTax},
      {"bad cash back", kEmvSaleRequest.With("CashBack", "x"), kRcFieldCashBack},
      {"no purchase", kEmvSaleRequest.Without("Purchase"), kRcFieldPurchase},
      {"bad gratuity", kEmvSaleRequest.With("Gratuity", "1"), kRcFieldGratuity},
      {"zero total", kEmvSaleRequest.With("Purchase", "0.00"), kRcFieldAuthAmount},
      {"brand OTHER", kEmvSaleRequest.With("Track2", "351111111111111=2812"), kRcNotMajorCard},
      {"check digit", kEmvSaleRequest.With("Track2", "4111111111111112=2812"), kRcCheckDigit},
      {"PIN block of 15", kEmvSaleRequest.With("PINBlock", std::string(15, '0')), kRcFieldPinBlock},
      {"PIN without key", kEmvSaleRequest.With("PINBlock", std::string(16, '0')), kRcFieldDervdKey},
      {"void without AuthCode", kEmvSaleRequest.With("TranCode", "EMVVoidSale").With("RefNo", "1"), kRcFieldAuthCode},
      {"override without RefNo",
       kEmvSaleRequest.With("TranCode", "EMVChipOverrideSale").With("AuthCode", "A1").With("RefNo", ""),
       kRcFieldRefNo},
      {"adjust without RefNo", kEmvSaleRequest.With("TranCode", "EMVAdjust").With("RefNo", ""), kRcFieldRefNo},
      {"zero auth", kEmvSaleRequest.With("TranCode", "EMVZeroAuth").Without("Purchase"), 0},
  });
}

TEST_F(RequestParserTest, EmvCreditKeepsChipFields) {
  server_.Configure({{kParamEmvSupport, "2"}});
  const CRequest record = ParsePayload(kEmvSaleRequest.With("TranCode", "EMVVoidSale")
                                           .With("AuthCode", "12345678")
                                           .With("RefNo", "A_B")
                                           .With("EMVData", "5F34:01|9F26:0102")
                                           .With("EMVAppID", "A0000000031010")
                                           .With("PINBlock", "0123456789ABCDEF")
                                           .With("DervdKey", "9876543210E00001")
                                           .Text());
  ASSERT_EQ(record.TranCodeId, kEmvVoidSale);
  EXPECT_EQ(record.AuthCode, "345678");  // chip requests keep the last six
  EXPECT_EQ(record.RefNo, "A_B");        // and no "_" translation
  EXPECT_EQ(record.EMVEntrySource, "ChipRead");
  EXPECT_EQ(record.EMVData, "5F34:01|9F26:0102");
  EXPECT_EQ(record.EMVAppID, "A0000000031010");
  EXPECT_EQ(record.PINBlock, "0123456789ABCDEF");
  EXPECT_EQ(record.ExpDate, "1228");

  const CRequest reversal = ParsePayload(
      kEmvSaleRequest.With("TranCode", "EMVTimeoutReversal").With("OriginalTranCode", "EMVReturn").Text());
  EXPECT_EQ(reversal.TranCodeId, kEmvTimeoutReversal);
  EXPECT_EQ(reversal.OriginalTranCodeId, kEmvReturn);
}

TEST_F(RequestParserTest, DebitChecks) {
  ExpectAll({
      {"Sale", kDebitSaleRequest, 0},
      {"Return", kDebitSaleRequest.With("TranCode", "Return"), 0},
      {"PreAuth is not debit", kDebitSaleRequest.With("TranCode", "PreAuth"), kRcFieldTranCode},
      {"keyed", kDebitSaleRequest.Without("Track2").With("AcctNo", kVisa), kRcFieldMagStripe},
      {"track of 7", kDebitSaleRequest.With("Track2", "4111111"), kRcFieldMagStripe},
      {"track of 38", kDebitSaleRequest.With("Track2", std::string(38, '4')), kRcFieldMagStripe},
      {"no purchase", kDebitSaleRequest.Without("Purchase"), kRcFieldPurchase},
      {"bad gratuity", kDebitSaleRequest.With("Gratuity", "1"), kRcFieldGratuity},
      {"cash back of 8 digits", kDebitSaleRequest.With("CashBack", "100000.00"), kRcFieldCashBack},
      {"zero total", kDebitSaleRequest.With("Purchase", "0.00"), kRcFieldAuthAmount},
      {"PIN block of 15", kDebitSaleRequest.With("PINBlock", std::string(15, 'A')), kRcFieldPinBlock},
      {"no PIN block", kDebitSaleRequest.Without("PINBlock"), kRcFieldPinBlock},
      {"key of 21", kDebitSaleRequest.With("DervdKey", std::string(21, 'F')), kRcFieldDervdKey},
      {"key of 15", kDebitSaleRequest.With("DervdKey", std::string(15, 'F')), kRcFieldDervdKey},
  });
  const CRequest record = ParsePayload(kDebitSaleRequest.With("CashBack", "20.00").Text());
  EXPECT_EQ(record.AcctNo, kVisa);
  EXPECT_EQ(record.Authorize, "3000");
  EXPECT_EQ(record.CardType, "DEBIT");
  EXPECT_EQ(record.HostMsgKind, HostMessageKind::kDebit);
  EXPECT_EQ(record.ExpDate, "");
}

TEST_F(RequestParserTest, EbtChecks) {
  const Payload cashSale = kEbtFoodSaleRequest.With("CardType", "Cash");
  ExpectAll({
      {"food sale", kEbtFoodSaleRequest, 0},
      {"no TranCode", kEbtFoodSaleRequest.Without("TranCode"), kRcFieldTranCode},
      {"no card type", kEbtFoodSaleRequest.Without("CardType"), kRcFieldCardType},
      {"gift card type", kEbtFoodSaleRequest.With("CardType", "Gift"), kRcFieldCardType},
      {"cash return", cashSale.With("TranCode", "Return"), kRcFieldTranCode},
      {"food PreAuth", kEbtFoodSaleRequest.With("TranCode", "PreAuth"), kRcFieldTranCode},
      {"track of 38", kEbtFoodSaleRequest.With("Track2", std::string(38, '5')), kRcFieldMagStripe},
      {"no account", kEbtFoodSaleRequest.Without("AcctNo"), kRcFieldAccount},
      {"ExpDate of 3", kEbtFoodSaleRequest.With("ExpDate", "124"), kRcFieldExpDate},
      {"short account", kEbtFoodSaleRequest.With("AcctNo", "5076800"), kRcFieldAccount},
      {"no purchase", kEbtFoodSaleRequest.Without("Purchase"), kRcFieldPurchase},
      {"food sale with cash back", kEbtFoodSaleRequest.With("CashBack", "5.00"), kRcFieldCashBack},
      {"cash sale with cash back", cashSale.With("CashBack", "5.00"), 0},
      {"cash sale with bad cash back", cashSale.With("CashBack", "5"), kRcFieldCashBack},
      {"zero total", kEbtFoodSaleRequest.With("Purchase", "0.00"), kRcFieldAuthAmount},
      {"no PIN", kEbtFoodSaleRequest.Without("PINBlock"), kRcFieldPinBlock},
      {"bad key", kEbtFoodSaleRequest.With("DervdKey", "F"), kRcFieldDervdKey},
      {"voucher without AuthCode", kEbtFoodSaleRequest.With("TranCode", "Voucher").With("VoucherNo", "7"),
       kRcFieldAuthCode},
      {"voucher without number", kEbtFoodSaleRequest.With("TranCode", "Voucher").With("AuthCode", "A1"),
       kRcFieldVoucherNo},
      {"voucher needs no PIN",
       kEbtFoodSaleRequest.With("TranCode", "Voucher").With("AuthCode", "A1").With("VoucherNo", "7").Without("PINBlock"),
       0},
      {"balance needs no amount", kEbtFoodSaleRequest.With("TranCode", "Balance").Without("Purchase"), 0},
  });
  const CRequest balance = ParsePayload(kEbtFoodSaleRequest.With("TranCode", "Balance").Without("Purchase").Text());
  EXPECT_EQ(balance.ExpDate, "1249");
  EXPECT_EQ(balance.TranCodeId, kEbtBalance);
  EXPECT_EQ(balance.CardType, "Foodstamp");
  const CRequest cash = ParsePayload(cashSale.With("CashBack", "5.00").Text());
  EXPECT_EQ(cash.TranCodeId, kEbtCashSale);
  EXPECT_EQ(cash.Authorize, "1500");
}

TEST_F(RequestParserTest, CheckChecks) {
  ExpectAll({
      {"personal check", kCheckSaleRequest, 0},
      {"not a sale", kCheckSaleRequest.With("TranCode", "Return"), kRcFieldTranCode},
      {"unknown check type", kCheckSaleRequest.With("CardType", "Traveller"), kRcFieldCardType},
      {"no MICR", kCheckSaleRequest.Without("MICR"), kRcMicrRequired},
      {"MICR scanned", kCheckSaleRequest.With("MICR", "Scanned"), kRcFieldMicrType},
      {"routing of 8", kCheckSaleRequest.With("RoutingNo", "12345678"), kRcFieldRoutingNo},
      {"no account", kCheckSaleRequest.Without("AcctNo"), kRcFieldAccount},
      {"no sequence", kCheckSaleRequest.Without("SequenceNo"), kRcFieldSequenceNo},
      {"state of 3", kCheckSaleRequest.With("StateCode", "NYC"), kRcFieldStateCode},
      {"no purchase", kCheckSaleRequest.Without("Purchase"), kRcFieldPurchase},
      {"zero purchase", kCheckSaleRequest.With("Purchase", "0.00"), kRcFieldAuthAmount},
  });
  const CRequest company = ParsePayload(
      kCheckSaleRequest.With("CardType", "CompanyCheck").With("MICR", "Reader").With("InvoiceNo", std::string(20, '9')).Text());
  EXPECT_EQ(company.TranCodeId, kCheckCompany);
  EXPECT_TRUE(company.Swiped);
  EXPECT_EQ(company.InvoiceNo.size(), 16u);
}

TEST_F(RequestParserTest, AdminCommands) {
  ExpectAll({
      {"no TranCode", kAdmin, kRcFieldTranCode},
      {"KeyChange", kAdmin.With("TranCode", "KeyChange"), kRcFieldTranCode},
      {"unknown", kAdmin.With("TranCode", "Reboot"), kRcFieldTranCode},
      {"GetPaxelleParms with another TranType",
       kAdmin.With("TranCode", "GetPaxelleParms").With("TranType", "Credit"), kRcFieldTranCode},
      {"EMVParamDownload without TranType", kAdmin.With("TranCode", "EMVParamDownload").Without("TranType"),
       kRcFieldTranCode},
  });
  struct Expected {
    const char* word;
    int id;
  };
  for (const Expected& e : {Expected{"BatchSummary", kBatchSummary}, Expected{"BatchClose", kBatchClose},
                            Expected{"ServerVersion", kServerVersion}, Expected{"GetPaxelleParms", kGetPaxelleParms},
                            Expected{"EMVParamDownload", kEmvParamDownload}}) {
    const Payload payload = kAdmin.With("TranCode", e.word);
    const bool tranTypeOptional = e.id == kBatchSummary || e.id == kBatchClose || e.id == kServerVersion;
    const CRequest record = ParsePayload((tranTypeOptional ? payload.Without("TranType") : payload).Text());
    EXPECT_EQ(record.TranCodeId, e.id) << e.word;
    EXPECT_EQ(record.TranCode, e.word);
  }
  EXPECT_EQ(ParsePayload(kAdmin.With("TranCode", "BatchSummary").Text()).HostMsgKind, HostMessageKind::kBatch);
}

TEST_F(RequestParserTest, BatchCloseTakesTotalsOrIsRefusedByTheMerchantSetting) {
  const CRequest bare = ParsePayload(kAdmin.With("TranCode", "BatchClose").Text());
  EXPECT_EQ(bare.TranCodeId, kBatchClose);
  EXPECT_EQ(bare.Disposition, kDispositionBatchClose);
  EXPECT_EQ(bare.HostMsgKind, HostMessageKind::kBatch);
  EXPECT_EQ(bare.NetCreditAmount, "");

  const CRequest totals = ParsePayload(kAdmin.With("TranCode", "BatchClose")
                                           .With("CreditCount", "12")
                                           .With("CreditPurchaseAmount", "100.00")
                                           .With("NetCreditAmount", "-12.50")
                                           .With("NetBatchTotal", "123456789012345")
                                           .Text());
  EXPECT_EQ(totals.CreditCount, "12");
  EXPECT_EQ(totals.CreditPurchaseAmount, "10000");
  EXPECT_EQ(totals.NetCreditAmount, "1250");
  EXPECT_EQ(totals.NetBatchTotal, "56789012345");

  server_.Configure({{kParamBatchCloseOption, "Y"}});
  const CRequest refused = ParsePayload(kAdmin.With("TranCode", "BatchClose").Text());
  EXPECT_EQ(refused.ReturnCode, kRcHostError);
  EXPECT_EQ(refused.HostErrorText, "Merchant setting does not allow Merchant Initiated Batch Close.");
  EXPECT_EQ(refused.TranCodeId, 0);
}

// Stands in for the client link's card-reader decryption.
class FakeReaderCrypto : public IRequestCrypto {
 public:
  int code = 0;
  std::string clear;
  std::string seenFormat, seenBlock, seenKey;

  bool DecryptWithSessionKey(const std::string&, const std::string&, std::string&) override { return false; }
  bool EncryptWithSessionKey(const std::string&, const std::string&, std::string&) override { return false; }
  Status DecryptCardData(const std::string& format, const std::string& block, const std::string& key,
                         std::string& clearText) override {
    seenFormat = format;
    seenBlock = block;
    seenKey = key;
    clearText = clear;
    return code == 0 ? Status::Ok() : Status::Failure("", code);
  }
};

class EncryptedCardDataTest : public RequestParserTest {
 protected:
  void SetUp() override { server_.context().requestCrypto = &crypto_; }
  FakeReaderCrypto crypto_;
  const Payload encrypted_ = kCreditSaleRequest.Without("ExpDate")
                                 .With("EncryptedFormat", "InfiniteOpx")
                                 .With("EncryptedBlock", "00AB")
                                 .With("EncryptedKey", "FFFF9876543210E00001");
};

TEST_F(EncryptedCardDataTest, ReaderTrackReplacesSentCardData) {
  crypto_.clear = std::string("%B4111\0garbage;", 15) + kVisa + "=2512101?;trailer";
  const CRequest record = ParsePayload(encrypted_.With("Track2", "5454545454545454=3001").Text());
  ASSERT_EQ(record.TranCodeId, kCreditSale) << record.ReturnCode;
  EXPECT_EQ(crypto_.seenFormat, "InfiniteOpx");
  EXPECT_EQ(crypto_.seenBlock, "00AB");
  EXPECT_EQ(crypto_.seenKey, "FFFF9876543210E00001");
  EXPECT_TRUE(record.Swiped);
  EXPECT_EQ(record.AcctNo, kVisa);
  EXPECT_EQ(record.ExpDate, "1225");
}

TEST_F(EncryptedCardDataTest, DefectsAnswerTheirOwnCodes) {
  ExpectAll({
      {"unknown format", encrypted_.With("EncryptedFormat", "Other"), kRcFieldEncryptedFormat},
      {"no block", encrypted_.Without("EncryptedBlock"), kRcFieldEncryptedBlock},
      {"no key", encrypted_.Without("EncryptedKey"), kRcFieldEncryptedKey},
  });
  crypto_.code = kRcFieldEncryptedKey;
  EXPECT_EQ(ParsePayload(encrypted_.Text()).ReturnCode, kRcFieldEncryptedKey);
  crypto_.code = 0;
  crypto_.clear = "no sentinels here";
  EXPECT_EQ(ParsePayload(encrypted_.With("AcctNo", kVisa).Text()).ReturnCode, kRcFieldAccount)
      << "the sent account must not survive a reader block without a track";
  EXPECT_EQ(ParsePayload(kDebitSaleRequest.With("EncryptedFormat", "UniMagIIOpx")
                             .With("EncryptedBlock", "00")
                             .With("EncryptedKey", "FFFF9876543210E00001")
                             .Text())
                .ReturnCode,
            kRcFieldMagStripe);
}

TEST(RequestRecordTest, DefaultsAndDeepCopies) {
  CRequest record;
  EXPECT_EQ(record.ReturnCode, 1000);
  EXPECT_EQ(record.Disposition, kDispositionError);
  EXPECT_EQ(record.TranCode, "INVALID");
  EXPECT_EQ(record.QueueId, -1);

  record.CaPublicKeys.push_back({"A000000003", "07", "AB", "03", "", "311217"});
  record.EmvAidParams.push_back(AidParams{});
  record.HostRequest = "request";
  record.HostAuthCode = "123456";
  CRequest copy = record;
  copy.CaPublicKeys.clear();
  EXPECT_EQ(record.CaPublicKeys.size(), 1u);

  record.ClearHostResult();
  EXPECT_EQ(record.HostRequest, "request");
  EXPECT_TRUE(record.HostAuthCode.empty());
  EXPECT_TRUE(record.EmvAidParams.empty());
  EXPECT_EQ(copy.HostAuthCode, "123456");
}

TEST(TranCodeTableTest, Words) {
  EXPECT_STREQ(TranCodeWord(14), "Sale");
  EXPECT_STREQ(TranCodeWord(61), "INVALID");
  EXPECT_STREQ(TranCodeWord(13), "INVALID");
  EXPECT_STREQ(TranCodeWord(901), "GetPaxelleParms");
}

}  // namespace
}  // namespace paxelle
