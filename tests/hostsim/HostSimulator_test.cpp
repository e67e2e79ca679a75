#include "tools/hostsim/HostSimulator.h"

#include "common/Clock.h"
#include "tests/config/TempDir.h"
#include "tests/hostsim/SimTestSupport.h"
#include "tools/hostsim/MessageMask.h"
#include "tools/hostsim/SimText.h"

#include <gtest/gtest.h>

#include <thread>

namespace paxelle::hostsim {
namespace {

using namespace simtest;
using Action = SimReply::Action;

constexpr std::time_t kNow = 1714557072;

class HostSimulatorTest : public ::testing::Test {
 protected:
  std::string Answer(const std::string& message) {
    const SimReply reply = simulator_.Handle(message);
    EXPECT_EQ(reply.action, Action::kSend);
    return reply.text;
  }
  static Head WithCents(std::uint64_t cents, std::string tranCode = "01") {
    Head head;
    head.cents = cents;
    head.tranCode = std::move(tranCode);
    return head;
  }
  static std::string TotalsOf(const std::string& batchAnswer, std::size_t from) { return batchAnswer.substr(from, 81); }

  HostSimulator simulator_{nullptr, [] { return kNow; }};
  Head head_;
};

TEST_F(HostSimulatorTest, ApprovedSaleIsAnsweredWhereTheParserReads) {
  const std::string sale = CreditSale(head_);
  const std::string answer = Answer(sale);
  ASSERT_EQ(SplitAtFs(answer).size(), 5u) << PrintableText(answer);
  const std::string fixed = Piece(answer, 1);
  ASSERT_EQ(fixed.size(), 104u);
  EXPECT_EQ(fixed.substr(0, 76), sale.substr(0, 76));
  EXPECT_EQ(fixed.substr(51, 9), head_.batch);
  EXPECT_EQ(fixed.substr(76, 8), "00001250");
  EXPECT_EQ(fixed.substr(84, 4), "0000");
  EXPECT_EQ(fixed.substr(88, 16), "APPROVED        ");

  const std::string reference = Piece(answer, 2);
  ASSERT_EQ(reference.size(), 24u);
  EXPECT_EQ(reference.substr(0, 8), head_.stan + head_.item);
  EXPECT_EQ(reference.substr(12, 12), head_.dateTime) << "what a later void sends back as date and time";
  EXPECT_NE(Piece(Answer(sale), 2).substr(8, 4), reference.substr(8, 4)) << "each answer its own reference";

  EXPECT_EQ(Piece(answer, 3), "PX0042");
  EXPECT_EQ(Piece(answer, 4), "");
  EXPECT_EQ(Piece(answer, 5), "AYM");
}

TEST_F(HostSimulatorTest, AmountEndingChoosesTheAnswer) {
  struct Case {
    std::uint64_t cents;
    Action action;
    std::string codeAndText;  // positions 84-103; empty when the answer has no layout
    std::string approved;     // positions 76-83
    bool authCode;
  };
  const std::vector<Case> cases = {
      {1200, Action::kSend, "0000APPROVED        ", "00001200", true},
      {1299, Action::kSend, "0000APPROVED        ", "00001299", true},
      {1201, Action::kSend, "0005DECLINED        ", "00000000", false},
      {1202, Action::kSend, "0010PARTIAL APPROVAL", "00000601", true},
      {1206, Action::kSendAfterDelay, "0000APPROVED        ", "00001206", true},
      {1203, Action::kNoAnswer, "", "", false},
      {1204, Action::kCloseConnection, "", "", false},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.cents);
    const SimReply reply = simulator_.Handle(CreditSale(WithCents(item.cents)));
    EXPECT_EQ(reply.action, item.action);
    if (item.codeAndText.empty()) {
      EXPECT_EQ(reply.text, "");
      continue;
    }
    EXPECT_EQ(reply.text.substr(84, 20), item.codeAndText);
    EXPECT_EQ(reply.text.substr(76, 8), item.approved);
    EXPECT_EQ(Piece(reply.text, 3).empty(), !item.authCode);
  }
  const SimReply garbage = simulator_.Handle(CreditSale(WithCents(1205)));
  EXPECT_EQ(garbage.action, Action::kSend);
  EXPECT_EQ(garbage.text, "GARBAGE");
}

TEST_F(HostSimulatorTest, ApprovedForcesAreUploadedInFull) {
  for (const std::uint64_t cents : {800u, 802u}) {
    const std::string voice = VoiceAuth(WithCents(cents), "123456");
    const std::string answer = Answer(voice);
    EXPECT_EQ(answer.substr(0, 60), voice.substr(0, 60));
    EXPECT_EQ(answer.substr(60, 16), "UPLOADED        ");
    EXPECT_EQ(answer.substr(76, 12), ZeroFill(cents, 8) + "0000");
    EXPECT_EQ(Piece(answer, 3), "123456") << "a force keeps the code the lane was given";
  }
  const std::string declined = VoiceAuth(WithCents(801), "123456");
  const std::string answer = Answer(declined);
  EXPECT_EQ(answer.substr(60, 16), declined.substr(60, 16));
  EXPECT_EQ(answer.substr(84, 20), "0005DECLINED        ");
}

TEST_F(HostSimulatorTest, DebitAndEbtAnswers) {
  EXPECT_EQ(Answer(DebitSale(WithCents(2000))).substr(84, 4), "0000");

  const std::string balance = Answer(EbtBalance(head_));
  EXPECT_EQ(balance.substr(84, 4), "0100");
  const std::string results = Piece(balance, 5);
  ASSERT_EQ(results.size(), 29u);
  EXPECT_EQ(results.substr(0, 3), "AYM");
  EXPECT_EQ(results.substr(13, 8), "00050000");
  EXPECT_EQ(results.substr(21, 8), "00025000");

  Head foodSale = WithCents(401, "21");
  foodSale.cardCode = "01";
  const std::string declined = Answer(CreditSale(foodSale));
  EXPECT_EQ(declined.substr(84, 4), "0005");
  EXPECT_EQ(Piece(declined, 5).substr(13, 16), "0005000000025000") << "balances come either way";
}

TEST_F(HostSimulatorTest, EmvAnswerCarriesIssuerDataAsPieceNine) {
  const std::string answer = Answer(EmvSale(head_));
  const auto pieces = SplitAtFs(answer);
  ASSERT_EQ(pieces.size(), 9u);
  EXPECT_EQ(pieces[5], "");
  EXPECT_EQ(pieces[7], "");
  EXPECT_EQ(pieces[8], "1A2B3C4D00423030");
}

TEST_F(HostSimulatorTest, BatchAnswersReportWhatWasApprovedAndCloseStartsAnew) {
  Head partial = WithCents(1002);
  Head other = WithCents(9900);
  other.terminal = "87654321";
  Head debitReturn = WithCents(500);
  Head ebtSale = WithCents(400, "21");
  ebtSale.cardCode = "01";
  const std::vector<std::string> traffic = {
      CreditSale(WithCents(1250)),          // purchase
      CreditSale(WithCents(700)),           // purchase
      CreditSale(WithCents(301)),           // declined: not counted
      CreditSale(WithCents(300, "04")),     // return
      CreditSale(WithCents(500, "02")),     // authorization only: not counted
      CreditSale(WithCents(500, "05")),     // void: not counted
      CreditSale(partial),                  // partial the lane did not accept: not counted
      CreditSale(partial, true),            // partial accepted: 5.01 counted
      VoiceAuth(WithCents(800), "123456"),  // force: purchase
      DebitSale(WithCents(2000)),
      CreditSale(ebtSale),
      EbtBalance(head_),                    // balance inquiry: not counted
      CreditSale(other),                    // another terminal's batch
  };
  for (const std::string& message : traffic) simulator_.Handle(message);
  std::string debitRefund = DebitSale(debitReturn);
  debitRefund.replace(38, 2, "17");
  simulator_.Handle(debitRefund);

  const std::string expected = "005000032510000030000002951" "002000020000000050000001500" "001000004000000000000000400";
  const std::string inquiry = BatchInquiry(head_);
  const std::string summary = Answer(inquiry);
  ASSERT_EQ(summary.size(), 196u);
  EXPECT_EQ(summary.substr(0, 64), inquiry.substr(0, 64));
  EXPECT_EQ(summary.substr(64, 16), "HOST TOTALS     ");
  EXPECT_EQ(summary.substr(80, 35), std::string(35, ' '));
  EXPECT_EQ(TotalsOf(summary, 115), expected);

  const std::string close = BatchClose(head_, std::string(81, '0'));
  const std::string closed = Answer(close);
  ASSERT_EQ(closed.size(), 157u);
  EXPECT_EQ(closed.substr(0, 60), close.substr(0, 60));
  EXPECT_EQ(closed.substr(51, 9), head_.batch);
  EXPECT_EQ(closed.substr(60, 16), "BATCH CLOSED    ");
  EXPECT_EQ(TotalsOf(closed, 76), expected);
  EXPECT_EQ(closed.substr(92, 10), "3000000295") << "credit return's last three, net credit's first seven";

  const std::string zeros = "000" + std::string(24, '0') + "000" + std::string(24, '0') + "000" + std::string(24, '0');
  EXPECT_EQ(TotalsOf(Answer(inquiry), 115), zeros);
  Head otherHead;
  otherHead.terminal = other.terminal;
  EXPECT_EQ(TotalsOf(Answer(BatchInquiry(otherHead)), 115).substr(0, 27), "001000099000000000000009900");
}

TEST_F(HostSimulatorTest, NetTotalIsTheMagnitudeWhenReturnsOutweighPurchases) {
  simulator_.Handle(CreditSale(WithCents(500, "04")));
  EXPECT_EQ(TotalsOf(Answer(BatchInquiry(head_)), 115).substr(0, 27), "001000000000000050000000500");
}

TEST_F(HostSimulatorTest, CompletionIsAcknowledgedAndCountsNothing) {
  const std::string sale = CreditSale(head_);
  const std::string completion = Completion(sale, head_, "COMPLETED", kKeyedAccount);
  const std::string ack = Answer(completion);
  ASSERT_EQ(ack.size(), 104u);
  EXPECT_EQ(ack.substr(0, 76), completion.substr(0, 76));
  EXPECT_EQ(ack.substr(76, 28), "000000000000ACKNOWLEDGED    ");
  EXPECT_EQ(TotalsOf(Answer(BatchInquiry(head_)), 115).substr(0, 3), "000");
}

TEST_F(HostSimulatorTest, UnknownMessageGetsAFormatErrorWithoutSeparators) {
  const std::string answer = Answer(std::string("GARBAGE") + kFsChar + "\x03" + "X");
  ASSERT_EQ(answer.size(), 104u);
  EXPECT_EQ(SplitAtFs(answer).size(), 1u);
  EXPECT_EQ(answer.find('\x03'), std::string::npos);
  EXPECT_EQ(answer.substr(76, 28), "000000000030FORMAT ERROR    ");
}

TEST_F(HostSimulatorTest, UndatedRequestIsReferencedWithTheHostClock) {
  Head undated;
  undated.dateTime = "YYMMDDHHMMSS";
  EXPECT_EQ(Piece(Answer(CreditSale(undated)), 2).substr(12), FormatLocalTime("%y%m%d%H%M%S", kNow));
}

TEST_F(HostSimulatorTest, ConcurrentApprovalsAreAllCounted) {
  std::vector<std::thread> lanes;
  for (int lane = 0; lane < 4; ++lane) {
    lanes.emplace_back([this] {
      for (int i = 0; i < 50; ++i) simulator_.Handle(CreditSale(WithCents(1250)));
    });
  }
  for (std::thread& lane : lanes) lane.join();
  EXPECT_EQ(TotalsOf(Answer(BatchInquiry(head_)), 115).substr(0, 11), "20000250000");
}

TEST(HostSimulatorJournalTest, EveryReceivedMessageIsJournaled) {
  testing::TempDir dir;
  Journal journal;
  const Status opened = journal.Open(dir / "journal.txt");
  ASSERT_TRUE(opened.ok()) << opened.message();
  HostSimulator simulator(&journal, [] { return kNow; });
  Head head;
  const std::string sale = CreditSale(head);
  simulator.Handle(sale);
  simulator.Handle(Completion(sale, head, "COMPLETED", kKeyedAccount));
  simulator.Handle(BatchInquiry(head));
  simulator.Handle(BatchClose(head, std::string(81, '0')));
  simulator.Handle("junk");

  const std::string text = testing::ReadBytes(dir / "journal.txt");
  const std::string stamp = FormatLocalTime("%Y-%m-%d %H:%M:%S", kNow);
  std::vector<std::string> kinds;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(start, end - start);
    ASSERT_TRUE(line.starts_with(stamp + " "));
    kinds.push_back(line.substr(stamp.size() + 1, line.find(" LG08A") - stamp.size() - 1));
    start = end + 1;
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"REQUEST", "COMPLETION COMPLETED", "BATCH-INQUIRY", "BATCH-CLOSE",
                                             "UNKNOWN junk"}));
  EXPECT_EQ(text.find(kPan.substr(0, 12)), std::string::npos);
}

}  // namespace
}  // namespace paxelle::hostsim
