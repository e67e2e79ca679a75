// The real paxelle-hostsim process over TLS on loopback.
#include "tests/config/TempDir.h"
#include "tests/hostsim/SimTestSupport.h"
#include "tools/hostsim/MessageMask.h"
#include "tools/hostsim/SimText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>

namespace paxelle::hostsim {
namespace {

using namespace simtest;
using namespace std::chrono_literals;

constexpr auto kAnswerLimit = 10s;

class SimServerTest : public TestPkiSuite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pkiReady_) << pkiError_;
    journal_ = dir_ / "journal.txt";
    std::string error;
    ASSERT_TRUE(process_.Start({"--port", "0", "--cert", pki_.serverCert.string(), "--key", pki_.serverKey.string(),
                                "--journal", journal_.string(), "--delay-ms", "50"},
                               dir_ / "stderr.txt", error))
        << error;
    port_ = process_.ReadListeningPort(10s);
    ASSERT_NE(port_, 0) << testing::ReadBytes(dir_ / "stderr.txt");
  }

  void TearDown() override {
    if (port_ != 0) {
      EXPECT_EQ(process_.Stop(SIGTERM, 10s), 0) << "SIGTERM ends the simulator cleanly";
      EXPECT_EQ(process_.RemainingOutput(), "") << "nothing but the listening line on standard output";
    }
  }

  void Connect(TestClient& client) {
    std::string error;
    ASSERT_TRUE(client.Connect(port_, pki_.caCert, error)) << error;
  }

  // One message on a connection of its own; the answer, or empty text when none came.
  std::string Ask(const std::string& message) {
    TestClient client;
    Connect(client);
    EXPECT_TRUE(client.Send(message));
    std::string answer;
    EXPECT_EQ(client.Receive(answer, kAnswerLimit), IoResult::kOk) << client.LastError();
    return answer;
  }

  static Head WithCents(std::uint64_t cents) {
    Head head;
    head.cents = cents;
    return head;
  }

  testing::TempDir dir_;
  std::filesystem::path journal_;
  SimProcess process_;
  std::uint16_t port_ = 0;
};

TEST_F(SimServerTest, ApprovedCreditSaleComesBackFramedAtTheParserPositions) {
  const std::string sale = CreditSale(WithCents(1250));
  const std::string answer = Ask(sale);
  EXPECT_EQ(answer.substr(0, 76), sale.substr(0, 76));
  EXPECT_EQ(answer.substr(76, 28), "000012500000APPROVED        ");
  EXPECT_EQ(Piece(answer, 2).substr(12), "240501101112");
  EXPECT_EQ(Piece(answer, 3), "PX0042");
  EXPECT_EQ(Piece(answer, 5), "AYM");
}

TEST_F(SimServerTest, DeclinePartialAndGarbageByAmount) {
  EXPECT_EQ(Ask(CreditSale(WithCents(1201))).substr(76, 28), "000000000005DECLINED        ");
  EXPECT_EQ(Ask(CreditSale(WithCents(1202), true)).substr(76, 28), "000006010010PARTIAL APPROVAL");
  EXPECT_EQ(Ask(CreditSale(WithCents(1205))), "GARBAGE");
  EXPECT_EQ(Ask(CreditSale(WithCents(1206))).substr(84, 4), "0000") << "the delayed answer still comes";
}

TEST_F(SimServerTest, AmountEndingFourClosesWithoutAnswer) {
  TestClient client;
  Connect(client);
  ASSERT_TRUE(client.Send(CreditSale(WithCents(1204))));
  std::string answer;
  EXPECT_EQ(client.Receive(answer, kAnswerLimit), IoResult::kClosed);
  EXPECT_EQ(answer, "");
}

TEST_F(SimServerTest, AmountEndingThreeIsNeverAnsweredButTheConnectionStaysUsable) {
  TestClient client;
  Connect(client);
  ASSERT_TRUE(client.Send(CreditSale(WithCents(1203))));
  std::string answer;
  EXPECT_EQ(client.Receive(answer, 300ms), IoResult::kTimeout);

  Head next = WithCents(1250);
  next.stan = "0043";
  ASSERT_TRUE(client.Send(CreditSale(next)));
  ASSERT_EQ(client.Receive(answer, kAnswerLimit), IoResult::kOk) << client.LastError();
  EXPECT_EQ(answer.substr(34, 4), "0043") << "the first answer that arrives is the second message's";
}

TEST_F(SimServerTest, EveryLayoutIsAnsweredOnOneConnectionInOrder) {
  Head head;
  const std::string sale = CreditSale(head);
  TestClient client;
  Connect(client);
  const std::vector<std::pair<std::string, std::string>> exchanges = {
      {DebitSale(WithCents(2000)), "0000"},
      {EbtBalance(head), "0100"},
      {VoiceAuth(WithCents(800), "123456"), "0000"},
      {EmvSale(head), "0000"},
      {Completion(sale, head, "COMPLETED", kKeyedAccount), "0000"},
      {"not a host message", "0030"},
  };
  for (const auto& [message, code] : exchanges) {
    ASSERT_TRUE(client.Send(message));
    std::string answer;
    ASSERT_EQ(client.Receive(answer, kAnswerLimit), IoResult::kOk) << client.LastError();
    EXPECT_EQ(answer.substr(84, 4), code) << PrintableText(answer);
    const char messageClass = message.size() > 43 ? message[43] : ' ';
    if (messageClass == '3' || messageClass == '4') {
      EXPECT_EQ(answer.substr(51, 9), head.batch);
    }
    if (messageClass == '4') {
      EXPECT_EQ(answer.substr(60, 16), "UPLOADED        ");
    }
  }
}

TEST_F(SimServerTest, BatchInquiryAndCloseMatchTheApprovals) {
  Ask(CreditSale(WithCents(1250)));
  Ask(CreditSale(WithCents(700)));
  Ask(CreditSale(WithCents(301)));  // declined
  Ask(DebitSale(WithCents(2000)));
  const std::string totals =
      "002000019500000000000001950" "001000020000000000000002000" + std::string(27, '0');

  Head head;
  const std::string inquiry = Ask(BatchInquiry(head));
  EXPECT_EQ(inquiry.substr(51, 9), head.batch);
  EXPECT_EQ(inquiry.substr(64, 16), "HOST TOTALS     ");
  EXPECT_EQ(inquiry.substr(115), totals);

  const std::string closed = Ask(BatchClose(head, std::string(81, '0')));
  EXPECT_EQ(closed.substr(60, 16), "BATCH CLOSED    ");
  EXPECT_EQ(closed.substr(76), totals);
  EXPECT_EQ(Ask(BatchInquiry(head)).substr(115, 3), "000") << "a close starts a new batch";
}

TEST_F(SimServerTest, JournalRecordsEveryMessageWithCardDataMasked) {
  Head head;
  const std::string sale = CreditSale(head);
  Ask(sale);
  Ask(DebitSale(head));
  Ask(EmvSale(head));
  Ask(VoiceAuth(head, "123456"));
  Ask(Completion(sale, head, "COMPLETED", kKeyedAccount));
  Ask(Completion(sale, head, "REPLY NOT RECVD", kTrack2));

  const std::string journal = testing::ReadBytes(journal_);
  EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 6);
  EXPECT_NE(journal.find(" COMPLETION COMPLETED LG08A"), std::string::npos);
  EXPECT_NE(journal.find(" COMPLETION REPLY NOT RECVD LG08A"), std::string::npos);
  EXPECT_NE(journal.find("XXXXXXXXXXXX1111=XXXX<FS>"), std::string::npos);
  EXPECT_NE(journal.find(std::string(36, 'X')), std::string::npos) << "PIN data masked whole";
  // No run of twelve or more digits from the account, the track or the PIN data.
  const std::vector<std::string> secrets = {kPan.substr(0, 12), kPan.substr(4, 12), "25121010000012345", kPinBlock,
                                            kDerivedKey.substr(4)};
  for (std::size_t i = 0; i < secrets.size(); ++i) {
    EXPECT_EQ(journal.find(secrets[i]), std::string::npos) << "secret " << i;
  }
}

TEST_F(SimServerTest, ConcurrentConnectionsAreServedAndAllCounted) {
  constexpr int kLanes = 4;
  constexpr int kSalesPerLane = 10;
  std::vector<std::thread> lanes;
  std::atomic<int> approved{0};
  for (int lane = 0; lane < kLanes; ++lane) {
    lanes.emplace_back([&] {
      TestClient client;
      std::string error;
      if (!client.Connect(port_, pki_.caCert, error)) return;
      for (int i = 0; i < kSalesPerLane; ++i) {
        std::string answer;
        if (!client.Send(CreditSale(WithCents(1000))) || client.Receive(answer, kAnswerLimit) != IoResult::kOk) return;
        if (answer.substr(84, 4) == "0000") ++approved;
      }
    });
  }
  for (std::thread& lane : lanes) lane.join();
  EXPECT_EQ(approved.load(), kLanes * kSalesPerLane);
  EXPECT_EQ(Ask(BatchInquiry(Head{})).substr(115, 11), "04000040000");
}

TEST_F(SimServerTest, StopEndsConnectionsThatAreWaiting) {
  TestClient unanswered;
  Connect(unanswered);
  ASSERT_TRUE(unanswered.Send(CreditSale(WithCents(1203))));
  TestClient idle;
  Connect(idle);
  // Both connections would otherwise keep the simulator busy for the 60 s idle limit.
  EXPECT_EQ(process_.Stop(SIGTERM, 10s), 0);
  port_ = 0;
  std::string answer;
  EXPECT_EQ(idle.Receive(answer, kAnswerLimit), IoResult::kClosed);
}

TEST_F(SimServerTest, SigintAlsoEndsTheSimulatorCleanly) {
  EXPECT_EQ(process_.Stop(SIGINT, 10s), 0);
  port_ = 0;
}

TEST_F(SimServerTest, ClientThatDoesNotTrustTheCertificateIsRefused) {
  testing::TempDir other;
  TestPki strangers;
  std::string error;
  ASSERT_TRUE(MakeTestPki(other.Path(), strangers, error)) << error;
  TestClient client;
  EXPECT_FALSE(client.Connect(port_, strangers.caCert, error));
  EXPECT_EQ(Ask(CreditSale(WithCents(1250))).substr(84, 4), "0000") << "the server keeps serving";
}

class SimCommandLineTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
};

TEST_F(SimCommandLineTest, HelpDocumentsOptionsAndTheBehaviourTable) {
  const RunResult help = RunSimToEnd({"--help"}, dir_.Path());
  EXPECT_EQ(help.exitCode, 0);
  for (const char* text : {"--port N", "--cert PEM", "--key PEM", "--journal FILE", "--delay-ms N", ".01  declined",
                           ".02  partially approved", ".03  never answered", ".04  connection closed",
                           ".05  garbage", ".06  approved, answered after --delay-ms", "HOST TOTALS",
                           "BATCH CLOSED"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
}

TEST_F(SimCommandLineTest, BadCommandLinesAreRefusedWithAReason) {
  const RunResult noKey = RunSimToEnd({"--port", "0", "--cert", "x.pem"}, dir_.Path());
  EXPECT_EQ(noKey.exitCode, 2);
  EXPECT_NE(noKey.err.find("--port, --cert and --key are required"), std::string::npos) << noKey.err;

  const RunResult badPort = RunSimToEnd({"--port", "70000", "--cert", "x", "--key", "y"}, dir_.Path());
  EXPECT_EQ(badPort.exitCode, 2);
  EXPECT_NE(badPort.err.find("--port must be a number"), std::string::npos) << badPort.err;

  const RunResult missingCert =
      RunSimToEnd({"--port", "0", "--cert", (dir_ / "none.pem").string(), "--key", "y"}, dir_.Path());
  EXPECT_EQ(missingCert.exitCode, 1);
  EXPECT_NE(missingCert.err.find("cannot load the certificate"), std::string::npos) << missingCert.err;
  EXPECT_EQ(missingCert.out, "") << "never claims to listen";
}

}  // namespace
}  // namespace paxelle::hostsim
