#include "host/HostRequestBuilder.h"

#include "host/HostLayouts.h"
#include "tests/host/HostMessageTestSupport.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

using testing::HostMessageTest;
using testing::kHeadPrefix;
using testing::Pieces;

class HostRequestBuilderTest : public HostMessageTest {
 protected:
  // Builds `record` and returns its message (empty when the build failed).
  std::string Build(CRequest& record) {
    if (!BuildHostRequest(record, Sources())) return {};
    return record.HostRequest;
  }
};

// ---- fill rules ----------------------------------------------------------

TEST(HostFillRules, ZeroFillKeepsRightmostDigitsAndZeroesNonNumbers) {
  const struct {
    const char* value;
    std::size_t width;
    const char* expected;
  } cases[] = {
      {"1250", 8, "00001250"}, {"", 4, "0000"},      {"abc", 4, "0000"},  {"0", 4, "0000"},
      {"000", 3, "000"},       {"123456", 4, "3456"}, {"12AB", 4, "12AB"}, {"7", 1, "7"},
  };
  for (const auto& c : cases) EXPECT_EQ(ZeroFill(c.value, c.width), c.expected) << c.value;
}

TEST(HostFillRules, SpaceFillPadsOrCutsOnTheRight) {
  EXPECT_EQ(SpaceFill("AB", 4), "AB  ");
  EXPECT_EQ(SpaceFill("ABCDEF", 4), "ABCD");
  EXPECT_EQ(SpaceFill("", 3), "   ");
}

// ---- common head -----------------------------------------------------------

TEST_F(HostRequestBuilderTest, SwipedCreditSaleIsLaidOutFieldByField) {
  CRequest record = SwipedSale();
  ASSERT_TRUE(BuildHostRequest(record, Sources()));
  EXPECT_EQ(record.HostRequest,
            "LG08A411123456789012345123456787" "07" "0001" "01" "01" "2" "3" "0" "1" "N0000"
            "250314001" "0001" "250314" "092653" "00001250" "4000000000000002=2612101"
            HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS "0" HOST_FS "INV1" HOST_FS HOST_FS "7");
  EXPECT_EQ(record.HostRequest.substr(38, 8), "01012301");
  EXPECT_EQ(record.HostRequest.substr(76, 8), "00001250");
  EXPECT_EQ(record.ItemSeqNo, "0001");
  EXPECT_EQ(record.HostTranCode, "01");
  EXPECT_EQ(record.HostMsgKind, HostMessageKind::kCredit);
  EXPECT_FALSE(record.ForceCompletion);
}

TEST_F(HostRequestBuilderTest, EveryBuildTakesTheNextStanAndItem) {
  CRequest first = SwipedSale();
  CRequest second = SwipedSale();
  Build(first);
  Build(second);
  EXPECT_EQ(second.HostRequest.substr(34, 4), "0002");
  EXPECT_EQ(second.HostRequest.substr(60, 4), "0002");
  EXPECT_EQ(second.ItemSeqNo, "0002");
}

TEST_F(HostRequestBuilderTest, NewBatchRestartsItemNumbers) {
  CRequest record = SwipedSale();
  Build(record);
  Build(record);
  ASSERT_TRUE(batch_.SetClosed().ok());
  CRequest next = SwipedSale();
  Build(next);
  EXPECT_EQ(next.HostRequest.substr(34, 4), "0003");       // STAN continues
  EXPECT_EQ(next.HostRequest.substr(51, 9), "250314002");  // a new batch of the day
  EXPECT_EQ(next.ItemSeqNo, "0001");
}

TEST_F(HostRequestBuilderTest, LaneNumberComesFromTheLastTwoCharactersOfTheLaneTag) {
  const struct {
    const char* laneTag;
    const char* lane;
  } cases[] = {{"0107", "07"}, {"00", "01"}, {"A7", "01"}, {"XY", "01"},
               {"99", "99"},   {"5", "05"},  {"", "01"},   {"123", "23"}};
  for (const auto& c : cases) {
    CRequest record = SwipedSale();
    record.LaneTag = c.laneTag;
    EXPECT_EQ(Build(record).substr(32, 2), c.lane) << c.laneTag;
  }
}

TEST_F(HostRequestBuilderTest, MerchantCategoryAndActivationChooseTheHeadCodes) {
  const struct {
    const char* category;
    const char* customerActivated;
    int tranCodeId;
    const char* prefix;
    const char* orderChannel;
    const char* capability;
  } cases[] = {
      {"0", "N", kCreditSale, "LG", "0", "1"},  {"3", "N", kCreditSale, "LG", "1", "4"},
      {"4", "N", kCreditSale, "LE", "7", "4"},  {"4", "Y", kDebitSale, "LE", "7", "4"},
      {"9", "N", kCreditSale, "LG", "0", "1"},  {"0", "Y", kCreditSale, "LG", "0", "3"},
      {"0", "Y", kDebitSale, "LG", "0", "3"},   {"0", "N", kDebitSale, "LG", "0", "2"},
      {"0", "N", kDebitReturn, "LG", "0", "2"}, {"0", "N", kEbtFoodSale, "LG", "0", "2"},
      {"0", "N", kEbtBalance, "LG", "0", "2"},  {"0", "N", kEmvSale, "LG", "0", "1"},
  };
  for (const auto& c : cases) {
    SetParam(kParamMerchantCategory, c.category);
    SetParam(kParamCustomerActivated, c.customerActivated);
    CRequest record = SwipedSale();
    record.TranCodeId = c.tranCodeId;
    record.CardType = c.tranCodeId == kEbtFoodSale || c.tranCodeId == kEbtBalance ? "Foodstamp" : "VISA";
    const std::string message = Build(record);
    const std::string label = std::string(c.category) + c.customerActivated + std::to_string(c.tranCodeId);
    EXPECT_EQ(message.substr(0, 2), c.prefix) << label;
    EXPECT_EQ(message.substr(44, 1), c.orderChannel) << label;
    EXPECT_EQ(message.substr(45, 1), c.capability) << label;
  }
}

TEST_F(HostRequestBuilderTest, CardTypeGivesTheCardCode) {
  const struct {
    const char* cardType;
    const char* acctNo;
    const char* code;
  } cases[] = {
      {"VISA", "4000000000000002", "01"}, {"M/C", "5400000000000005", "02"},
      {"AMEX", "370000000000002", "03"},  {"DCVR", "6011040000000003", "12"},
      {"DCVR", "6011000000000004", "04"}, {"DCLB", "36000000000008", "05"},
      {"JCB", "3530000000000003", "07"},  {"OTHER", "9000000000000000", "01"},
  };
  for (const auto& c : cases) {
    CRequest record = KeyedSale();
    record.CardType = c.cardType;
    record.AcctNo = c.acctNo;
    EXPECT_EQ(Build(record).substr(40, 2), c.code) << c.cardType << " " << c.acctNo;
  }
}

TEST_F(HostRequestBuilderTest, EntryModeOfSwipeLayoutsFollowsSwipedAndContactless) {
  const struct {
    int tranCodeId;
    bool swiped;
    bool contactless;
    const char* mode;
  } cases[] = {
      {kCreditSale, true, true, "3"},   {kCreditSale, true, false, "2"},  {kCreditSale, false, true, "0"},
      {kCreditSale, false, false, "0"}, {kCreditFsaSale, true, false, "2"},
      {kCreditVoiceAuth, true, true, "3"}, {kEbtFoodSale, false, false, "0"},
      {kEbtCashSale, true, true, "3"},  {kDebitSale, true, true, "3"},    {kDebitSale, true, false, "2"},
      {kDebitReturn, false, false, "2"},
  };
  for (const auto& c : cases) {
    CRequest record = SwipedSale();
    record.TranCodeId = c.tranCodeId;
    record.Swiped = c.swiped;
    record.Contactless = c.contactless;
    record.CardType = c.tranCodeId == kEbtCashSale ? "Cash" : record.CardType;
    EXPECT_EQ(Build(record).substr(42, 1), c.mode)
        << c.tranCodeId << " swiped " << c.swiped << " contactless " << c.contactless;
  }
}

TEST_F(HostRequestBuilderTest, KeyedAccountIsSentWithYearBeforeMonth) {
  CRequest record = KeyedSale();
  const std::string message = Build(record);
  EXPECT_EQ(Pieces(message)[0].substr(84), "4000000000000002=2612");
}

TEST_F(HostRequestBuilderTest, AddressBlockCarriesAddressExtendedZipAndCvv) {
  CRequest record = KeyedSale();
  record.HasZip = true;
  record.Zip = "12345";
  record.Address = "1 MAIN ST";
  record.HasCVV = true;
  record.CVVData = "123";
  EXPECT_EQ(Build(record),
            "LG08A411123456789012345123456787" "07" "0001" "01" "01" "0" "3" "0" "1" "N0000"
            "250314001" "0001" "250314" "092653" "00001250" "4000000000000002=2612"
            HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS "A1 MAIN ST           123459999123 "
            HOST_FS HOST_FS "0" HOST_FS "INV1" HOST_FS HOST_FS "7");
  EXPECT_EQ(record.Zip, "123459999");
}

TEST_F(HostRequestBuilderTest, AddressBlockOnlyForSalesAndAuthorizations) {
  const struct {
    int tranCodeId;
    bool block;
  } cases[] = {{kCreditSale, true},     {kCreditPreAuth, true},  {kCreditAuthOnly, true},
               {kCreditZeroAuth, true}, {kCreditReturn, false},  {kCreditBalance, false},
               {kCreditPreAuthCapture, false}};
  for (const auto& c : cases) {
    CRequest record = KeyedSale();
    record.TranCodeId = c.tranCodeId;
    record.HasZip = true;
    record.Zip = "123456789";
    EXPECT_EQ(Pieces(Build(record))[5], c.block ? "A                    123456789    " : "")
        << c.tranCodeId;
    EXPECT_EQ(record.Zip, "123456789");
  }
}

TEST_F(HostRequestBuilderTest, CvvIsSentOnlyWhenThreeOrFourDigits) {
  const struct {
    const char* cvv;
    const char* sent;
  } cases[] = {{"123", "123 "}, {"1234", "1234"}, {"12", "    "}, {"12345", "    "}, {"12A", "    "}};
  for (const auto& c : cases) {
    CRequest record = KeyedSale();
    record.HasCVV = true;
    record.CVVData = c.cvv;
    EXPECT_EQ(Pieces(Build(record))[5], std::string("A") + std::string(29, ' ') + c.sent) << c.cvv;
  }
}

// ---- credit layout codes and variable fields -----------------------------------

TEST_F(HostRequestBuilderTest, CreditTransactionCodes) {
  const struct {
    int tranCodeId;
    const char* code;
    char messageClass;
    HostMessageKind kind;
  } cases[] = {
      {kCreditSale, "01", '3', HostMessageKind::kCredit},
      {kCreditReturn, "04", '3', HostMessageKind::kCredit},
      {kCreditPreAuth, "02", '3', HostMessageKind::kCredit},
      {kCreditAuthOnly, "02", '3', HostMessageKind::kCredit},
      {kCreditZeroAuth, "02", '3', HostMessageKind::kCredit},
      {kCreditPreAuthCapture, "03", '4', HostMessageKind::kForce},
      {kCreditBalance, "09", '3', HostMessageKind::kCredit},
  };
  for (const auto& c : cases) {
    CRequest record = SwipedSale();
    record.TranCodeId = c.tranCodeId;
    const std::string message = Build(record);
    EXPECT_EQ(message.substr(38, 2), c.code) << c.tranCodeId;
    EXPECT_EQ(message[43], c.messageClass) << c.tranCodeId;
    EXPECT_EQ(record.HostTranCode, c.code) << c.tranCodeId;
    EXPECT_EQ(record.HostMsgKind, c.kind) << c.tranCodeId;
  }
}

TEST_F(HostRequestBuilderTest, CaptureCarriesItsAuthCodeAndCashBackIsZeroFilled) {
  CRequest record = SwipedSale();
  record.TranCodeId = kCreditPreAuthCapture;
  record.AuthCode = "AB12CD";
  record.CashBack = "500";
  record.PartialAuthAllowed = true;
  const auto pieces = Pieces(Build(record));
  ASSERT_EQ(pieces.size(), 11u);
  EXPECT_EQ(pieces[1], "");
  EXPECT_EQ(pieces[2], "AB12CD");
  EXPECT_EQ(pieces[3], "00000500");
  EXPECT_EQ(pieces[7], "1");
}

TEST_F(HostRequestBuilderTest, EmvSupportMarksTheCreditMessage) {
  SetParam(kParamEmvSupport, "1");
  CRequest record = SwipedSale();
  EXPECT_EQ(Pieces(Build(record)).back(), "9");
}

TEST_F(HostRequestBuilderTest, VspActivationReplacesTheFirstTwoFields) {
  const struct {
    int vsp;
    const char* f1;
    const char* f2;
  } cases[] = {{2, "Denied Transaction            ", "0941  "},
               {3, "Denied Transaction            ", "0942  "},
               {4, "Denied Transaction            ", ""},
               {1, "", ""}};
  for (const auto& c : cases) {
    CRequest record = SwipedSale();
    record.VSPActivation = c.vsp;
    record.AuthCode = "AB12CD";
    const auto pieces = Pieces(Build(record));
    EXPECT_EQ(pieces[1], c.f1) << c.vsp;
    EXPECT_EQ(pieces[2], c.f2) << c.vsp;
  }
}

// ---- voids -------------------------------------------------------------------

class VoidTest : public HostRequestBuilderTest {
 protected:
  static CRequest VoidSale(const std::string& acqRefData) {
    CRequest record = KeyedSale();
    record.TranCodeId = kCreditVoidSale;
    record.RefNo = "0042";
    record.AuthCode = "AB12CD";
    record.AcqRefData = acqRefData;
    return record;
  }
};

TEST_F(VoidTest, VoidCarriesTheVoidedTransactionsReference) {
  CRequest record = VoidSale("ABCDEFGHIJKL250301101530XY|01");
  EXPECT_EQ(Build(record),
            "LG08A411123456789012345123456787" "07" "0001" "05" "01" "0" "3" "0" "1" "N0000"
            "250314001" "0042" "250301101530" "00001250" "4000000000000002=2612"
            HOST_FS "ABCDEFGHIJKL250301101530XY" HOST_FS "AB12CD" HOST_FS HOST_FS HOST_FS HOST_FS
            HOST_FS "0" HOST_FS "INV1" HOST_FS HOST_FS "7");
  EXPECT_EQ(record.ItemSeqNo, "0042");
  EXPECT_EQ(record.HostTranCode, "05");
  EXPECT_FALSE(record.ForceCompletion);
}

TEST_F(VoidTest, VoidCodeTranslation) {
  const struct {
    int tranCodeId;
    const char* acqRefData;
    const char* code;
  } cases[] = {
      {kCreditVoidSale, "REF|01", "05"},        {kCreditVoidSale, "REF|04", "06"},
      {kCreditVoidReturn, "REF|02", "08"},      {kCreditReverseFsaSale, "REF|07", "05"},
      {kCreditVoidSale, "REF", "05"},           {kCreditVoidSale, "REF|4", "05"},
      {kCreditVoidSale, "REF|044", "05"},       {kCreditVoidSale, "REF||04", "05"},
      {kCreditVoidSale, "REF|04|X", "06"},      {kEmvVoidSale, "REF|04", "06"},
      {kEmvVoidReturn, "REF|02", "08"},         {kEmvChipOverrideSale, "REF|01", "05"},
  };
  for (const auto& c : cases) {
    CRequest record = VoidSale(c.acqRefData);
    record.TranCodeId = c.tranCodeId;
    record.EMVEntrySource = "ChipRead";
    const std::string message = Build(record);
    EXPECT_EQ(message.substr(38, 2), c.code) << c.tranCodeId << " " << c.acqRefData;
    EXPECT_EQ(record.HostTranCode, c.code) << c.tranCodeId << " " << c.acqRefData;
    EXPECT_EQ(message.substr(60, 4), "0042") << c.tranCodeId << " " << c.acqRefData;
    EXPECT_FALSE(record.ForceCompletion);
  }
}

TEST_F(VoidTest, VoidOfACaptureGoesOutAsAReturnWithCompletion) {
  CRequest record = VoidSale("ABCDEFGHIJKL250301101530XY|03");
  EXPECT_EQ(Build(record),
            "LG08A411123456789012345123456787" "07" "0001" "04" "01" "0" "3" "0" "1" "N0000"
            "250314001" "0001" "250314" "092653" "00001250" "4000000000000002=2612"
            HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS "0" HOST_FS "INV1" HOST_FS HOST_FS "7");
  EXPECT_EQ(record.ItemSeqNo, "0001");
  EXPECT_EQ(record.HostTranCode, "04");
  EXPECT_TRUE(record.ForceCompletion);
}

TEST_F(VoidTest, LongRefNoIsCutToTheItemField) {
  CRequest record = VoidSale("ABCDEFGHIJKL250301101530XY|01");
  record.RefNo = "1234567890123456";
  const std::string message = Build(record);
  EXPECT_EQ(message.substr(60, 4), "3456");
  EXPECT_EQ(message.substr(64, 12), "250301101530");
  EXPECT_EQ(message.substr(76, 8), "00001250");
  EXPECT_EQ(record.ItemSeqNo, "3456");
}

TEST_F(VoidTest, ShortRefNoAndShortReferenceKeepTheFieldPositions) {
  CRequest record = VoidSale("SHORTREF|01");
  record.RefNo = "7";
  const std::string message = Build(record);
  EXPECT_EQ(message.substr(60, 4), "0007");
  EXPECT_EQ(message.substr(64, 12), std::string(12, ' '));
  EXPECT_EQ(message.substr(76, 8), "00001250");
  EXPECT_EQ(Pieces(message)[1], "SHORTREF");
}

// ---- healthcare and voice authorization -------------------------------------------

TEST_F(HostRequestBuilderTest, FsaSaleSendsItsHealthcareAmounts) {
  SetParam(kParamEmvSupport, "1");  // the healthcare message is marked "7" regardless
  CRequest record = KeyedSale();
  record.TranCodeId = kCreditFsaSale;
  record.FSAPrescription = "500";
  record.FSAClinical = "250";
  EXPECT_EQ(Build(record),
            "LG08A411123456789012345123456787" "07" "0001" "01" "01" "0" "3" "0" "1" "N0000"
            "250314001" "0001" "250314" "092653" "00001250" "4000000000000002=2612"
            HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS "S000000001250:U000000000500:W000000000250"
            HOST_FS "0" HOST_FS "INV1" HOST_FS HOST_FS "7");
  EXPECT_EQ(record.HostTranCode, "01");
  EXPECT_EQ(record.HostMsgKind, HostMessageKind::kCredit);
}

TEST_F(HostRequestBuilderTest, FsaAmountsKeepTheirOrderAndTheAddressBlockComesFirst) {
  CRequest record = KeyedSale();
  record.TranCodeId = kCreditFsaSale;
  record.FSADental = "1";
  record.FSAVision = "2";
  record.FSAClinical = "3";
  record.FSAPrescription = "4";
  record.HasZip = true;
  record.Zip = "123456789";
  const auto pieces = Pieces(Build(record));
  EXPECT_EQ(pieces[5], "A                    123456789    ");
  EXPECT_EQ(pieces[6], "S000000001250:U000000000004:V000000000002:W000000000003:X000000000001");
}

TEST_F(HostRequestBuilderTest, VoiceAuthorizationIsAlwaysKeyedWithTwoZeroAmounts) {
  CRequest record = SwipedSale();
  record.TranCodeId = kCreditVoiceAuth;
  record.AuthCode = "VA1234";
  record.Gratuity = "300";
  record.OperatorID = "OPERATOR12345";
  EXPECT_EQ(Build(record),
            "LG08A411123456789012345123456787" "07" "0001" "03" "01" "2" "4" "0" "1" "N0000"
            "250314001" "0001" "250314" "092653" "00001250" "00000000" "00000000"
            "4000000000000002=2612" HOST_FS HOST_FS "VA1234" HOST_FS "00000300" HOST_FS "TOR12345"
            HOST_FS "INV1" HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS "3");
  EXPECT_EQ(record.HostTranCode, "03");
  EXPECT_EQ(record.HostMsgKind, HostMessageKind::kForce);
}

// ---- debit and EBT ----------------------------------------------------------------

class PinLayoutTest : public HostRequestBuilderTest {
 protected:
  static CRequest PinSale(int tranCodeId, const std::string& cardType) {
    CRequest record = SwipedSale();
    record.TranCodeId = tranCodeId;
    record.CardType = cardType;
    record.Authorize = "1750";
    record.DervdKey = "0123456789ABCDEF";
    record.PINBlock = "1234567890ABCDEF";
    return record;
  }
};

TEST_F(PinLayoutTest, DebitSaleWithCashBackEndsWithPinDataAndSeparator) {
  CRequest record = PinSale(kDebitSale, "DEBIT");
  record.CashBack = "500";
  EXPECT_EQ(Build(record),
            "LG08A411123456789012345123456787" "07" "0001" "12" "00" "2" "3" "0" "2" "N0000"
            "250314001" "0001" "250314" "092653" "00001750" "4000000000000002=2612101"
            HOST_FS HOST_FS HOST_FS "00000500" HOST_FS HOST_FS "D" HOST_FS HOST_FS "0" HOST_FS "INV1"
            HOST_FS HOST_FS "7" HOST_FS HOST_FS "FFFF0123456789ABCDEF1234567890ABCDEF" HOST_FS);
  EXPECT_EQ(record.DervdKey, "FFFF0123456789ABCDEF");
  EXPECT_EQ(record.HostMsgKind, HostMessageKind::kDebit);
}

TEST_F(PinLayoutTest, DebitCodesAndAccount) {
  CRequest sale = PinSale(kDebitSale, "DEBIT");
  sale.Swiped = false;  // debit always sends the track
  sale.Contactless = true;
  const std::string saleMessage = Build(sale);
  EXPECT_EQ(saleMessage.substr(38, 5), "11003");
  EXPECT_EQ(Pieces(saleMessage)[0].substr(84), "4000000000000002=2612101");

  CRequest refund = PinSale(kDebitReturn, "DEBIT");
  refund.CashBack = "500";
  refund.DervdKey = "01234567890123456789";
  SetParam(kParamEmvSupport, "2");
  const auto pieces = Pieces(Build(refund));
  EXPECT_EQ(pieces[0].substr(38, 5), "17002");
  EXPECT_EQ(pieces[10], "9");
  EXPECT_EQ(pieces[12], "012345678901234567891234567890ABCDEF");
  EXPECT_EQ(refund.DervdKey, "01234567890123456789");
}

TEST_F(PinLayoutTest, EbtFoodSaleCarriesPinData) {
  CRequest record = PinSale(kEbtFoodSale, "Foodstamp");
  record.Authorize = "1000";
  record.DervdKey = "FFFF0123456789ABCDEF";
  EXPECT_EQ(Build(record),
            "LG08A411123456789012345123456787" "07" "0001" "21" "01" "2" "3" "0" "2" "N0000"
            "250314001" "0001" "250314" "092653" "00001000" "4000000000000002=2612101"
            HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS "D" HOST_FS HOST_FS "0" HOST_FS "INV1" HOST_FS
            HOST_FS "7" HOST_FS HOST_FS "FFFF0123456789ABCDEF1234567890ABCDEF" HOST_FS);
  EXPECT_EQ(record.HostMsgKind, HostMessageKind::kEbt);
}

TEST_F(PinLayoutTest, EbtVoucherHasNoPinDataAndNoFinalSeparator) {
  CRequest record = PinSale(kEbtVoucher, "Foodstamp");
  record.Swiped = false;
  record.Authorize = "1000";
  record.VoucherNo = "V123456";
  record.AuthCode = "AP1234";
  EXPECT_EQ(Build(record),
            "LG08A411123456789012345123456787" "07" "0001" "21" "01" "0" "3" "0" "2" "N0000"
            "250314001" "0001" "250314" "092653" "00001000" "4000000000000002=2612"
            HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS "EV123456        AP1234" HOST_FS HOST_FS "0"
            HOST_FS "INV1" HOST_FS HOST_FS "7" HOST_FS HOST_FS);
  EXPECT_EQ(record.DervdKey, "0123456789ABCDEF");
}

TEST_F(PinLayoutTest, EbtCodesAndAccountTypes) {
  const struct {
    int tranCodeId;
    const char* cardType;
    const char* cashBack;
    const char* codes;  // transaction code and account type
    const char* f3;
  } cases[] = {
      {kEbtFoodSale, "Foodstamp", "", "2101", ""},
      {kEbtFoodReturn, "Foodstamp", "", "2601", ""},
      {kEbtCashSale, "Cash", "500", "2202", "00000500"},
      {kEbtCashSale, "Cash", "0", "2102", ""},
      {kEbtBalance, "Cash", "", "2702", ""},
      {kEbtBalance, "Foodstamp", "", "2701", ""},
  };
  for (const auto& c : cases) {
    CRequest record = PinSale(c.tranCodeId, c.cardType);
    record.CashBack = c.cashBack;
    record.PartialAuthAllowed = true;  // EBT always sends "0"
    const auto pieces = Pieces(Build(record));
    ASSERT_EQ(pieces.size(), 14u) << c.tranCodeId;
    EXPECT_EQ(pieces[0].substr(38, 4), c.codes) << c.tranCodeId << " " << c.cardType;
    EXPECT_EQ(pieces[3], c.f3) << c.tranCodeId << " " << c.cashBack;
    EXPECT_EQ(pieces[7], "0");
    EXPECT_EQ(pieces[13], "");
  }
}

// ---- EMV chip credit -------------------------------------------------------------

class EmvLayoutTest : public HostRequestBuilderTest {
 protected:
  static CRequest EmvSale(const std::string& emvData) {
    CRequest record = SwipedSale();
    record.TranCodeId = kEmvSale;
    record.CardType = "M/C";
    record.AcctNo = "5400000000000005";
    record.Track2 = "5400000000000005=2612101";
    record.Authorize = "500";
    record.EMVEntrySource = "ChipRead";
    record.EMVData = emvData;
    return record;
  }

  // The data block (f11) of an EMV message.
  std::string Block(CRequest& record) {
    const auto pieces = Pieces(Build(record));
    return pieces.size() > 11 ? pieces[11] : std::string("<no block>");
  }
};

TEST_F(EmvLayoutTest, EmvSaleWithTheSlotExample) {
  CRequest record = EmvSale("5F34:1|9F26:0102|9F02:500");
  const std::string block =
      std::string("01") + "5400000000000005=2612101" + std::string(14, ' ') + "000000000000" +
      std::string(64, ' ') + "00" + "00000000" + "0102" + std::string(12, ' ') + std::string(4, ' ') +
      "0000" + std::string(66, ' ') + "000000000500" + "000" + std::string(10, ' ') +
      "0000000000000000000000" + std::string(183, ' ') + "000000" + std::string(94, ' ');
  ASSERT_EQ(block.size(), 546u);
  EXPECT_EQ(Build(record),
            "LG08A411123456789012345123456787" "07" "0001" "01" "02" "4" "3" "0" "1" "N0000"
            "250314001" "0001" "250314" "092653" "00000500" "5400000000000005=2612101"
            HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS HOST_FS "0" HOST_FS "INV1" HOST_FS HOST_FS "9"
            HOST_FS + block + HOST_FS HOST_FS);
  EXPECT_EQ(record.HostTranCode, "01");
  EXPECT_EQ(record.HostMsgKind, HostMessageKind::kCredit);
}

TEST_F(EmvLayoutTest, EntryModeFollowsTheEntrySource) {
  const struct {
    const char* source;
    bool contactless;
    const char* mode;
  } cases[] = {
      {"ChipRead", true, "7"},        {"ChipRead", false, "4"},
      {"ChipFallBackMag", true, "3"}, {"ChipFallBackMag", false, "5"},
      {"MagStripe", true, "3"},       {"MagStripe", false, "2"},
      {"ChipFallBackMagStripeFallBackMan", true, "0"},
      {"ChipFallBackMagStripeFallBackMan", false, "0"},
      {"MagStripeFallBackMan", false, "0"}, {"Keyed", true, "0"},
  };
  for (const auto& c : cases) {
    CRequest record = EmvSale("");
    record.EMVEntrySource = c.source;
    record.Contactless = c.contactless;
    EXPECT_EQ(Build(record).substr(42, 1), c.mode) << c.source << " " << c.contactless;
  }
}

TEST_F(EmvLayoutTest, DataBlockSlots) {
  const struct {
    const char* emvData;
    const char* cashBack;
    std::size_t position;
    const char* expected;
  } cases[] = {
      {"9F26:0102", "", 0, "  "},                                // 5F34 absent: blanks
      {"5F34:", "", 0, "00"},                                    // present but empty: zeros
      {"5F34:123", "", 0, "23"},                                 // N keeps the rightmost
      {"9F03:0", "500", 40, "000000000500"},                      // zero other amount: cash back
      {"9F26:0102", "500", 40, "000000000500"},                   // absent counts as zero
      {"9F03:100", "500", 40, "000000000100"},
      {"84:A0000000041010", "", 52, "A0000000041010                  "},
      {"9F26:0123456789ABCDEF01", "", 126, "0123456789ABCDEF"},   // S keeps the leftmost
      {"9F26:AAAA|9F26:BBBB", "", 126, "BBBB            "},      // the later tag wins
      {"9F26|9F02:77", "", 126, "                "},             // a pair without ":" is ignored
      {"9F02:12:34", "", 216, "000000012:34"},                    // split at the first ":"
      {"9F1A:0840", "", 228, "840"},
      {"95:0000008000", "", 231, "0000008000"},
      {"91:0A0B", "", 301, "0A0B" "                            "},
      {"9F6E:20700000", "", 417, "20700000"},
      {"9F53:R", "", 445, "R"},
      {"5F24:251231", "", 446, "251231"},
  };
  for (const auto& c : cases) {
    CRequest record = EmvSale(c.emvData);
    record.CashBack = c.cashBack;
    const std::string block = Block(record);
    EXPECT_EQ(block.size(), 546u) << c.emvData;
    EXPECT_EQ(block.substr(c.position, std::string_view(c.expected).size()), c.expected) << c.emvData;
  }
}

TEST_F(EmvLayoutTest, NoChipDataLeavesTheBlockEmpty) {
  CRequest record = EmvSale("");
  EXPECT_EQ(Block(record), "");
}

TEST_F(EmvLayoutTest, PinAndAddressOnAChipSale) {
  CRequest record = EmvSale("");
  record.HasZip = true;
  record.Zip = "12345";
  record.DervdKey = "0123456789ABCDEF";
  record.PINBlock = "1234567890ABCDEF";
  const std::string message = Build(record);
  const auto pieces = Pieces(message);
  ASSERT_EQ(pieces.size(), 14u);
  EXPECT_EQ(pieces[5], "A                    123459999    D");
  EXPECT_EQ(pieces[12], "FFFF0123456789ABCDEF1234567890ABCDEF");
  EXPECT_EQ(pieces[13], "");
}

TEST_F(EmvLayoutTest, ChipReturnHasNoAddressBlockButMarksThePin) {
  CRequest record = EmvSale("");
  record.TranCodeId = kEmvReturn;
  record.HasZip = true;
  record.Zip = "12345";
  record.PINBlock = "1234567890ABCDEF";
  record.DervdKey = "0123456789ABCDEF";
  const auto pieces = Pieces(Build(record));
  EXPECT_EQ(pieces[0].substr(38, 2), "04");
  EXPECT_EQ(pieces[5], "D");
  EXPECT_EQ(record.Zip, "12345");
}

TEST_F(EmvLayoutTest, ChipTransactionCodes) {
  const struct {
    int tranCodeId;
    const char* code;
    char messageClass;
    HostMessageKind kind;
    const char* f2;
  } cases[] = {
      {kEmvSale, "01", '3', HostMessageKind::kCredit, ""},
      {kEmvZeroAuth, "02", '3', HostMessageKind::kCredit, ""},
      {kEmvReturn, "04", '3', HostMessageKind::kCredit, ""},
      {kEmvVoiceAuth, "03", '4', HostMessageKind::kForce, "AB12CD"},
      {kEmvVoidSale, "06", '3', HostMessageKind::kCredit, "AB12CD"},
  };
  for (const auto& c : cases) {
    CRequest record = EmvSale("");
    record.TranCodeId = c.tranCodeId;
    record.AuthCode = "AB12CD";
    record.RefNo = "0042";
    record.AcqRefData = "ABCDEFGHIJKL250301101530|04";
    const auto pieces = Pieces(Build(record));
    EXPECT_EQ(pieces[0].substr(38, 2), c.code) << c.tranCodeId;
    EXPECT_EQ(pieces[0][43], c.messageClass) << c.tranCodeId;
    EXPECT_EQ(record.HostMsgKind, c.kind) << c.tranCodeId;
    EXPECT_EQ(record.HostTranCode, c.code) << c.tranCodeId;
    EXPECT_EQ(pieces[2], c.f2) << c.tranCodeId;
    EXPECT_EQ(pieces[1], c.tranCodeId == kEmvVoidSale ? "ABCDEFGHIJKL250301101530" : "");
  }
}

// ---- batch messages ------------------------------------------------------------

TEST_F(HostRequestBuilderTest, BatchInquiryIsEightyCharacters) {
  CRequest record;
  record.TranCodeId = kBatchSummary;
  record.HostMsgKind = HostMessageKind::kBatch;
  record.LaneTag = "0107";
  ASSERT_TRUE(BuildHostRequest(record, Sources()));
  EXPECT_EQ(record.HostRequest,
            "LG08A411123456789012345123456787" "01" "0001" "61000" "200" "N0000" "250314000"
            "PXLL" "HOST0001" "KELVARA1");
  EXPECT_EQ(record.HostRequest.size(), 80u);
  EXPECT_EQ(record.HostMsgKind, HostMessageKind::kBatch);
}

TEST_F(HostRequestBuilderTest, BatchCloseCarriesTheLanesTotals) {
  CRequest sale = SwipedSale();
  Build(sale);  // opens batch 250314001

  CRequest record;
  record.TranCodeId = kBatchClose;
  record.HostMsgKind = HostMessageKind::kBatch;
  record.CreditCount = "3";
  record.CreditPurchaseAmount = "12345";
  record.CreditReturnAmount = "500";
  record.NetCreditAmount = "11845";
  record.DebitCount = "1";
  record.DebitPurchaseAmount = "2000";
  record.NetDebitAmount = "2000";
  ASSERT_TRUE(BuildHostRequest(record, Sources()));
  EXPECT_EQ(record.HostRequest,
            "LG08A411123456789012345123456787" "01" "0002" "64000" "200" "N0000" "250314001"
            "003" "00012345" "00000500" "00011845" "001" "00002000" "00000000" "00002000"
            "000" "00000000" "00000000" "00000000"
            "000" "00000000" "00000000" "00000000" "00000000" "00000000"
            "000" "00000000" "00000000" "00000000" "00000000"
            "PXLL" "HOST0001" "KELVARA1");
  EXPECT_EQ(record.HostRequest.size(), 239u);
  EXPECT_EQ(record.HostMsgKind, HostMessageKind::kBatch);
}

TEST_F(HostRequestBuilderTest, BatchMessagesTakeAStanOnlyAndOpenNoBatch) {
  CRequest inquiry;
  inquiry.TranCodeId = kBatchSummary;
  Build(inquiry);
  EXPECT_EQ(batch_.Status(), "CLOSED");

  CRequest sale = SwipedSale();
  Build(sale);
  EXPECT_EQ(sale.HostRequest.substr(34, 4), "0002");
  EXPECT_EQ(sale.ItemSeqNo, "0001");
}

// ---- ids without a message ------------------------------------------------------

TEST_F(HostRequestBuilderTest, CheckAndParameterDownloadSucceedWithoutAMessage) {
  for (const int id : {kCheckPersonal, kCheckCompany, kEmvParamDownload}) {
    CRequest record = SwipedSale();
    record.TranCodeId = id;
    record.HostRequest = "kept";
    EXPECT_TRUE(BuildHostRequest(record, Sources())) << id;
    EXPECT_EQ(record.HostRequest, "kept") << id;
    EXPECT_EQ(record.HostMsgKind, id == kEmvParamDownload ? HostMessageKind::kEmvParams : HostMessageKind::kCredit) << id;
  }
  CRequest sale = SwipedSale();
  EXPECT_EQ(Build(sale).substr(34, 4), "0001");  // no number was taken
}

TEST_F(HostRequestBuilderTest, IdsWithoutALayoutFailAndChangeNothing) {
  for (const int id : std::initializer_list<int>{kTranNone, kDebitPreAuth, kDebitPreAuthCapture, kEmvAdjust, kEmvOfflineApprovedSale,
                 kEmvOfflineDeclinedSale, kEmvTimeoutReversal, kServerVersion, 13}) {
    CRequest record = SwipedSale();
    record.TranCodeId = id;
    record.HostRequest = "kept";
    EXPECT_FALSE(BuildHostRequest(record, Sources())) << id;
    EXPECT_EQ(record.HostRequest, "kept") << id;
    EXPECT_EQ(record.ItemSeqNo, "") << id;
  }
  CRequest sale = SwipedSale();
  EXPECT_EQ(Build(sale).substr(34, 4), "0001");
}

TEST_F(HostRequestBuilderTest, CreditLayoutRefusesAnIdWithoutItsOwnCode) {
  // Neither a void nor given a host transaction code: it must not go out as a void.
  CRequest record = SwipedSale();
  record.TranCodeId = kDebitSale;
  EXPECT_FALSE(hostlayout::BuildCreditLayout(record, Sources()));
  EXPECT_EQ(record.HostRequest, "");
  EXPECT_EQ(record.HostErrorText, kNoCreditCodeText);
  CRequest sale = SwipedSale();
  EXPECT_EQ(Build(sale).substr(34, 4), "0001");  // no number was taken
}

// ---- number files that fail -------------------------------------------------------

TEST_F(HostRequestBuilderTest, UnusableNumberFilesStillGiveAWholeMessage) {
  testing::LoggedWorkingDirectory logDirectory;
  const auto missing = dir_.Path() / "missing";
  CSequenceCounters counters(missing, logDirectory.Log());
  CBatchState batch(missing, logDirectory.Log(), clock_);
  CRequest record = SwipedSale();
  ASSERT_TRUE(BuildHostRequest(record, HostMessageSources{counters, batch, params_, clock_}));
  const std::string& message = record.HostRequest;
  EXPECT_EQ(message.substr(34, 4), "0000");
  EXPECT_EQ(message.substr(60, 4), "0000");
  EXPECT_EQ(message.substr(76, 8), "00001250");
  EXPECT_EQ(Pieces(message)[0].substr(84), "4000000000000002=2612101");
}

}  // namespace
}  // namespace paxelle
