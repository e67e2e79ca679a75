#include "tools/hostsim/SimMessage.h"

#include "tests/hostsim/SimTestSupport.h"
#include "tools/hostsim/HostFraming.h"

#include <gtest/gtest.h>

namespace paxelle::hostsim {
namespace {

using namespace simtest;

struct LayoutCase {
  const char* name;
  std::string message;
  MessageKind kind;
  CardFamily family;
  bool force;
  bool emv;
  std::string tranCode;
};

TEST(SimMessageTest, RecognisesEveryRequestLayoutByItsFields) {
  Head head;
  Head dial;
  dial.prefix = "LE";
  std::string dialSale = CreditSale(dial);
  dialSale[5] = '1';  // the dial link's link indicator
  const std::vector<LayoutCase> cases = {
      {"credit sale", CreditSale(head), MessageKind::kRequest, CardFamily::kCredit, false, false, "01"},
      {"dial-link sale", dialSale, MessageKind::kRequest, CardFamily::kCredit, false, false, "01"},
      {"debit sale", DebitSale(head), MessageKind::kRequest, CardFamily::kDebit, false, false, "11"},
      {"EBT balance", EbtBalance(head), MessageKind::kRequest, CardFamily::kEbt, false, false, "27"},
      {"voice authorization", VoiceAuth(head, "123456"), MessageKind::kRequest, CardFamily::kCredit, true, false, "03"},
      {"EMV sale", EmvSale(head), MessageKind::kRequest, CardFamily::kCredit, false, true, "01"},
  };
  for (const LayoutCase& item : cases) {
    SCOPED_TRACE(item.name);
    const SimMessage read = ReadSimMessage(item.message);
    ASSERT_EQ(read.kind, item.kind) << read.reason;
    EXPECT_EQ(read.family, item.family);
    EXPECT_EQ(read.force, item.force);
    EXPECT_EQ(read.emv, item.emv);
    EXPECT_EQ(read.tranCode, item.tranCode);
    EXPECT_EQ(read.terminalKey, head.merchant + head.terminal);
    EXPECT_EQ(read.stan, "0042");
    EXPECT_EQ(read.batchNo, "240501001");
    EXPECT_EQ(read.head, item.message.substr(0, 60));
    EXPECT_EQ(read.item, "0007");
    EXPECT_EQ(read.dateTime, "240501101112");
    EXPECT_EQ(read.accountPos, 84u);
  }
}

TEST(SimMessageTest, ReadsAmountPartialFlagAndFields) {
  Head head;
  head.cents = 123456;
  const SimMessage plain = ReadSimMessage(CreditSale(head));
  EXPECT_EQ(plain.amount, "00123456");
  EXPECT_FALSE(plain.partialAllowed);
  ASSERT_EQ(plain.fields.size(), 10u);
  EXPECT_EQ(plain.fields[7], "INV001");

  EXPECT_TRUE(ReadSimMessage(CreditSale(head, true)).partialAllowed);
  EXPECT_EQ(ReadSimMessage(VoiceAuth(head, "654321")).fields[1], "654321");
}

TEST(SimMessageTest, FamilyNeedsBothCardCodeAndTransactionCode) {
  Head head;
  head.cardCode = "00";  // a debit card code with a credit transaction code is still credit
  EXPECT_EQ(ReadSimMessage(CreditSale(head)).family, CardFamily::kCredit);
  head.cardCode = "02";
  head.tranCode = "22";  // cash account with cash back
  EXPECT_EQ(ReadSimMessage(CreditSale(head)).family, CardFamily::kEbt);
  head.tranCode = "17";  // a debit return code on an EBT account type is not debit
  EXPECT_EQ(ReadSimMessage(CreditSale(head)).family, CardFamily::kCredit);
}

TEST(SimMessageTest, VoidWithLongReferenceNumberIsReadWhereItsFieldsAre) {
  Head head;
  const std::string reference = "004200070001" + head.dateTime;  // the voided sale's reference block
  const std::string start = head.Text().substr(0, 60) + "REF12345" + head.dateTime + "00001250";
  std::string voidSale = WithFields(start + kKeyedAccount, {reference, "PX0042", "", "", "", "", "0", "", "", "7"});
  voidSale.replace(38, 2, "05");
  const SimMessage read = ReadSimMessage(voidSale);
  ASSERT_EQ(read.kind, MessageKind::kRequest) << read.reason;
  EXPECT_EQ(read.item, "REF12345");
  EXPECT_EQ(read.dateTime, head.dateTime);
  EXPECT_EQ(read.amount, "00001250");
  EXPECT_EQ(read.accountPos, 88u);
}

TEST(SimMessageTest, RecognisesBatchMessagesAndCompletions) {
  Head head;
  const SimMessage inquiry = ReadSimMessage(BatchInquiry(head));
  EXPECT_EQ(inquiry.kind, MessageKind::kBatchInquiry);
  EXPECT_EQ(inquiry.batchNo, head.batch);
  EXPECT_EQ(inquiry.terminalKey, head.merchant + head.terminal);
  EXPECT_EQ(ReadSimMessage(BatchClose(head, std::string(81, '0'))).kind, MessageKind::kBatchClose);

  const std::string sale = CreditSale(head);
  for (const std::string status : {"COMPLETED", "REPLY NOT RECVD"}) {
    const SimMessage completion = ReadSimMessage(Completion(sale, head, status, kKeyedAccount));
    ASSERT_EQ(completion.kind, MessageKind::kCompletion) << completion.reason;
    EXPECT_EQ(completion.status, status);
    EXPECT_EQ(completion.item, head.item);
  }
}

TEST(SimMessageTest, AnythingElseIsUnknownWithAReason) {
  Head head;
  const std::string sale = CreditSale(head);
  std::string badClass = sale;
  badClass[43] = '5';
  std::string badAmount = sale;
  badAmount[80] = 'A';
  std::string cutHead = sale;
  cutHead[40] = kFsChar;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "no host message head"},
      {"GARBAGE", "no host message head"},
      {"XX" + sale.substr(2), "no host message head"},
      {badClass, "unknown message class"},
      {badAmount, "amount field is not a number"},
      {head.Text() + kKeyedAccount, "transaction request without variable fields"},
      {head.Text().substr(0, 70) + kFsChar + "x", "transaction head shorter than its amount field"},
      {cutHead, "transaction head cut short by a field separator"},
      {Completion(sale, head, "DONE", kKeyedAccount), "completion without a known status"},
      {BatchInquiry(head).substr(0, 55), "batch message shorter than its batch number"},
  };
  for (const auto& [message, reason] : cases) {
    const SimMessage read = ReadSimMessage(message);
    EXPECT_EQ(read.kind, MessageKind::kUnknown) << reason;
    EXPECT_EQ(read.reason, reason);
  }
}

TEST(HostFramingTest, LengthBytesComeHighByteFirst) {
  std::string framed;
  ASSERT_TRUE(FrameHostMessage(std::string(300, 'x'), framed));
  EXPECT_EQ(framed.size(), 302u);
  EXPECT_EQ(static_cast<unsigned char>(framed[0]), 0x01);
  EXPECT_EQ(static_cast<unsigned char>(framed[1]), 0x2C);
  EXPECT_EQ(FramedLength(framed), 300u);

  ASSERT_TRUE(FrameHostMessage("", framed));
  EXPECT_EQ(framed, std::string(2, '\0'));

  framed = "unchanged";
  EXPECT_FALSE(FrameHostMessage(std::string(65536, 'x'), framed));
  EXPECT_EQ(framed, "unchanged");
  EXPECT_EQ(FramedLength("\xFF\xFF"), 65535u);
}

}  // namespace
}  // namespace paxelle::hostsim
