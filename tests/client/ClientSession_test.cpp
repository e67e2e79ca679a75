// The client session seen from lanes on loopback: every login outcome, the
// replies to refused frames, the locally answered commands, and the logged
// request.
#include "client/ClientSession.h"

#include "config/MerchantParams.h"
#include "core/PendingQueue.h"
#include "tests/client/SessionTestSupport.h"
#include "tests/support/CardDataScan.h"
#include "tools/lane/LaneChallenge.h"
#include "tools/lane/LaneEnvelope.h"
#include "tools/lane/LaneHex.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

using namespace std::chrono_literals;
using testing::kPatience;
using testing::SessionTest;
using testing::TestLane;
using testing::WaitFor;

// A lane that drives the wire by hand, for logins and writes the reference
// client would never make.
class HandLane {
 public:
  HandLane() { connection_.SetIoTimeout(kPatience); }

  bool Connect(int port) { return connection_.Connect("127.0.0.1", port); }

  bool ReadGreeting(lane::Greeting& greeting) {
    lane::CommandResponse reply;
    std::string error;
    return ReadReply(reply) && reply.returnCode == 0 && lane::ParseGreeting(reply.textResponse, greeting, error) &&
           serverKey_.Import(crypto_, greeting.publicKeyBlob);
  }

  // The right answer to the greeting's challenge under the standard material.
  std::string Answer(const lane::Greeting& greeting) {
    std::string answer;
    EXPECT_TRUE(lane::EncryptChallenge(crypto_, lane::ChallengeMaterial::kStandard, greeting.challenge, answer));
    return answer;
  }

  // A sealed request frame whose response this lane can open.
  std::string Seal(const std::string& payload, const std::string& trace) {
    lane::SealedRequest sealed;
    EXPECT_TRUE(lane::SealRequest(crypto_, serverKey_, payload, trace, lane::kTypeEncrypted, sealed).ok());
    keys_.Add(sealed.sessionKey);
    return sealed.frame;
  }

  bool Send(const std::string& bytes) { return connection_.SendRaw(bytes); }

  bool ReadReply(lane::CommandResponse& reply) {
    std::string text;
    std::string document;
    std::string error;
    lane::ServerFrame frame;
    return connection_.ReadFrame(kPatience, text) == lane::ReadStatus::kOk &&
           lane::ParseServerFrame(text, frame).ok() &&
           lane::OpenServerFrame(crypto_, keys_, frame, document, error) &&
           lane::ParseCommandResponse(document, reply).ok();
  }

  bool WaitForClose() {
    std::string frame;
    for (;;) {
      const auto status = connection_.ReadFrame(kPatience, frame);
      if (status == lane::ReadStatus::kOk) continue;
      return status == lane::ReadStatus::kClosed || status == lane::ReadStatus::kError;
    }
  }

  lane::LaneCrypto& Crypto() { return crypto_; }

 private:
  lane::LaneConnection connection_;
  lane::LaneCrypto crypto_;
  lane::LaneServerKey serverKey_;
  lane::SessionKeyRing keys_;
};

std::string Frame(const std::string& trace, char type, const std::string& payload) {
  return trace + '\x1c' + type + "00" + '\x02' + payload + '\x03';
}

// ---- Login ----------------------------------------------------------------

TEST_F(SessionTest, BothChallengeMaterialsLogIn) {
  for (const bool alternate : {false, true}) {
    TestLane lane;
    lane::LoginResult result;
    ASSERT_TRUE(lane.ConnectAndLogin(Port(), result, "", alternate)) << lane.Connection().LastError();
    EXPECT_EQ(result.code, 2000);
    EXPECT_EQ(result.status, "Success");
    // The lane has checked the server's answer to its own challenge.
    EXPECT_TRUE(result.verified) << (alternate ? "alternate" : "standard");
  }
}

TEST_F(SessionTest, SharedPasswordIsChecked) {
  Configure({{kParamUsePassword, "Y"}, {kParamPassword, "Till42"}});
  TestLane wrong;
  lane::LoginResult result;
  ASSERT_TRUE(wrong.ConnectAndLogin(Port(), result, "Till41"));
  EXPECT_EQ(result.code, 2009);
  EXPECT_EQ(result.text, "Password Failed!(Client/Server) -- Disconnecting.");
  EXPECT_TRUE(wrong.WaitForClose());

  TestLane missing;
  ASSERT_TRUE(missing.ConnectAndLogin(Port(), result, ""));
  EXPECT_EQ(result.code, 2009);

  TestLane right;
  EXPECT_TRUE(right.LogIn(Port(), "Till42"));
}

TEST_F(SessionTest, WrongChallengeAnswerIsRefused) {
  HandLane lane;
  lane::Greeting greeting;
  ASSERT_TRUE(lane.Connect(Port()));
  ASSERT_TRUE(lane.ReadGreeting(greeting));
  std::string answer = lane.Answer(greeting);
  answer[0] = static_cast<char>(answer[0] ^ 1);
  ASSERT_TRUE(lane.Send(lane::BuildLoginMessage(answer, std::string(16, 'c'), "", false)));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 2010);
  EXPECT_EQ(reply.cmdStatus, "Error");
  EXPECT_EQ(reply.textResponse, "Password Failed!(Challenge/Response) -- Disconnecting.");
  EXPECT_TRUE(lane.WaitForClose());
}

TEST_F(SessionTest, LoginWithoutClientChallengeAsksForAnUpgrade) {
  HandLane lane;
  lane::Greeting greeting;
  ASSERT_TRUE(lane.Connect(Port()));
  ASSERT_TRUE(lane.ReadGreeting(greeting));
  const std::string message = std::string(1, lane::kRs) + lane::BytesToHex(lane.Answer(greeting)) + lane::kUs + lane::kEtx;
  ASSERT_TRUE(lane.Send(message));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 2020);
  EXPECT_EQ(reply.textResponse, "Requires OPXClientX Upgrade to 3.xx or Above. - Failed! -- Disconnecting.");
  EXPECT_TRUE(lane.WaitForClose());
}

TEST_F(SessionTest, OverlongClientChallengeIsVerifiedWithAnEmptyValue) {
  HandLane lane;
  lane::Greeting greeting;
  ASSERT_TRUE(lane.Connect(Port()));
  ASSERT_TRUE(lane.ReadGreeting(greeting));
  // 256 bytes are 512 hexadecimal characters: one too many to be answered.
  ASSERT_TRUE(lane.Send(lane::BuildLoginMessage(lane.Answer(greeting), std::string(256, 'c'), "", false)));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 2000);
  EXPECT_EQ(reply.textResponse, std::string("Login Verified.") + lane::kRs + lane::kUs);
}

TEST_F(SessionTest, SilentClientFailsTheLoginAfterTheLimit) {
  ClientSessionSettings settings;
  settings.loginLimit = 300ms;
  StartListener(settings);
  HandLane lane;
  lane::Greeting greeting;
  ASSERT_TRUE(lane.Connect(Port()));
  ASSERT_TRUE(lane.ReadGreeting(greeting));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 2002);
  EXPECT_EQ(reply.textResponse, "Login Failed! -- Disconnecting.");
  EXPECT_TRUE(lane.WaitForClose());
  // The log calls it a warning; the client saw "Error".
  EXPECT_EQ(reply.cmdStatus, "Error");
  const std::string logged = LoggedText();
  EXPECT_NE(logged.find("<CmdStatus>Warning</CmdStatus>"), std::string::npos);
  EXPECT_EQ(logged.find("<CmdStatus>Error</CmdStatus>"), std::string::npos);
}

TEST_F(SessionTest, OverlongLoginMessageFails) {
  HandLane lane;
  lane::Greeting greeting;
  ASSERT_TRUE(lane.Connect(Port()));
  ASSERT_TRUE(lane.ReadGreeting(greeting));
  ASSERT_TRUE(lane.Send(std::string(40000, 'A')));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 2002);
  EXPECT_TRUE(lane.WaitForClose());
}

TEST_F(SessionTest, ConnectionOverTheLimitIsRefusedAfterItsLogin) {
  StartListener({}, 1);
  TestLane first;
  ASSERT_TRUE(first.LogIn(Port()));
  ASSERT_TRUE(WaitFor("the connection to be counted", [&] { return Listener().ConnectionCount() == 1; }, kPatience));

  TestLane second;
  lane::LoginResult result;
  ASSERT_TRUE(second.ConnectAndLogin(Port(), result));
  EXPECT_EQ(result.code, 2006);
  EXPECT_EQ(result.text, "REFUSED - Max Connections (Failed)");
  EXPECT_TRUE(second.WaitForClose());

  // The first lane is still served.
  ASSERT_TRUE(first.SendRequest(testing::ServerVersionPayload(), "still-here"));
  lane::CommandResponse reply;
  ASSERT_TRUE(first.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 500000);
}

// A listener limited to two connections, both held by lanes logged in.
class FullListenerTest : public SessionTest {
 protected:
  void StartFull(const ClientSessionSettings& settings) {
    StartListener(settings, 2);
    ASSERT_TRUE(first_.LogIn(Port()));
    ASSERT_TRUE(second_.LogIn(Port()));
    ASSERT_TRUE(
        WaitFor("both connections to be counted", [&] { return Listener().ConnectionCount() == 2; }, kPatience));
  }

  TestLane first_;
  TestLane second_;
};

// A connection over the limit only waits for its refusal: it gets a short
// time to log in, and past 32 such connections the next is closed at once.
TEST_F(FullListenerTest, SilentConnectionOverTheLimitFailsItsLoginSoon) {
  ClientSessionSettings settings;
  settings.refusedLoginLimit = 300ms;  // the full 30 s login limit stays for lanes within the limit
  ASSERT_NO_FATAL_FAILURE(StartFull(settings));

  HandLane silent;
  lane::Greeting greeting;
  ASSERT_TRUE(silent.Connect(Port()));
  ASSERT_TRUE(silent.ReadGreeting(greeting));
  lane::CommandResponse reply;
  ASSERT_TRUE(silent.ReadReply(reply)) << "answered within the tests' patience, far below 30 s";
  EXPECT_EQ(reply.returnCode, 2002);
  EXPECT_TRUE(silent.WaitForClose());
}

TEST_F(FullListenerTest, ConnectionsPastTheRefusingCeilingAreClosedAtOnce) {
  ClientSessionSettings settings;
  settings.refusedLoginLimit = 20s;  // the waiting ones stay for the whole test
  ASSERT_NO_FATAL_FAILURE(StartFull(settings));

  std::vector<std::unique_ptr<TestLane>> waiting;
  for (int i = 0; i < CSocketListener::kMaxRefusingConnections; ++i) {
    waiting.push_back(std::make_unique<TestLane>());
    ASSERT_TRUE(waiting.back()->Connect(Port()));
  }
  ASSERT_TRUE(WaitFor(
      "every refusing place to be taken",
      [&] { return Listener().RefusingCount() == CSocketListener::kMaxRefusingConnections; }, kPatience));

  TestLane late;
  ASSERT_TRUE(late.Connect(Port()));
  std::string frame;
  EXPECT_EQ(late.Connection().ReadFrame(kPatience, frame), lane::ReadStatus::kClosed)
      << "closed without a greeting or a thread";
  EXPECT_EQ(Listener().RefusingCount(), CSocketListener::kMaxRefusingConnections);
  EXPECT_NE(LoggedText().find("closed at once: 32 connections over the limit are being refused already."),
            std::string::npos);

  // The lanes within the limit are served all along.
  ASSERT_TRUE(first_.SendRequest(testing::ServerVersionPayload(), "still-here"));
  lane::CommandResponse reply;
  ASSERT_TRUE(first_.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 500000);
}

TEST_F(SessionTest, ClientListenerAllowsTwoHundredConnections) {
  EXPECT_EQ(Listener().ConnectionLimit(), 200);
}

TEST_F(SessionTest, GoingOfflineRefusesNewClients) {
  Listener().SetGoingOffline();
  TestLane lane;
  lane::LoginResult result;
  ASSERT_TRUE(lane.ConnectAndLogin(Port(), result));
  EXPECT_EQ(result.code, 2003);
  EXPECT_EQ(result.text, "System going off line - please try again later...");
  EXPECT_TRUE(lane.WaitForClose());
}

TEST_F(SessionTest, GoingOfflineEndsARunningSession) {
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  Listener().SetGoingOffline();
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 2003);
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 2004);
  EXPECT_EQ(reply.textResponse, "****Disconnecting****");
  EXPECT_TRUE(lane.WaitForClose());
}

TEST_F(SessionTest, IdleClientIsDisconnected) {
  ClientSessionSettings settings;
  settings.idleLimit = 300ms;
  settings.pollInterval = 50ms;
  StartListener(settings);
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 2004);
  EXPECT_EQ(reply.textResponse, "****Disconnecting****");
  EXPECT_TRUE(lane.WaitForClose());
}

// ---- Frames ---------------------------------------------------------------

TEST_F(SessionTest, ClearTextFrameIsRefusedAndTheSessionGoesOn) {
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  ASSERT_TRUE(lane.Connection().SendRaw(Frame("trace-0", '0', "TStream=Admin")));
  lane::CommandResponse reply;
  lane::LaneResponse response;
  ASSERT_TRUE(lane.ReadReply(reply, kPatience, &response));
  EXPECT_EQ(response.frameType, lane::kTypeClear);
  EXPECT_EQ(reply.returnCodeText, "004005");
  EXPECT_EQ(reply.textResponse, "Clear Text Request NOT supported.");
  EXPECT_EQ(reply.userTraceData, "trace-0");

  ASSERT_TRUE(lane.SendRequest(testing::ServerVersionPayload(), "after"));
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 500000);
  EXPECT_EQ(reply.userTraceData, "after");
}

TEST_F(SessionTest, FrameWithoutFsComesBackAsUserTrace) {
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  ASSERT_TRUE(lane.Connection().SendRaw("no separator here\x03"));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCodeText, "004010");
  EXPECT_EQ(reply.userTraceData, "no separator here");
}

TEST_F(SessionTest, TwoFramesInOneWriteAreAnsweredInOrder) {
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  ASSERT_TRUE(lane.Connection().SendRaw(Frame("first", '0', "x") + "second\x03"));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.userTraceData, "first");
  EXPECT_EQ(reply.returnCodeText, "004005");
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.userTraceData, "second");
  EXPECT_EQ(reply.returnCodeText, "004010");
}

TEST_F(SessionTest, RequestSentRightBehindTheLoginIsAnswered) {
  HandLane lane;
  lane::Greeting greeting;
  ASSERT_TRUE(lane.Connect(Port()));
  ASSERT_TRUE(lane.ReadGreeting(greeting));
  const std::string login = lane::BuildLoginMessage(lane.Answer(greeting), std::string(16, 'c'), "", false);
  ASSERT_TRUE(lane.Send(login + lane.Seal(testing::ServerVersionPayload(), "eager")));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 2000);
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCode, 500000);
  EXPECT_EQ(reply.userTraceData, "eager");
}

TEST_F(SessionTest, OverlongMessageIsHandledInPieces) {
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  // 32767 bytes make one message; the next byte starts another.
  ASSERT_TRUE(lane.Connection().SendRaw(std::string(32767, 'a') + "b\x03"));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCodeText, "004010");
  EXPECT_EQ(reply.userTraceData, std::string(32767, 'a'));
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.userTraceData, "b");
}

// ---- Local answers --------------------------------------------------------

TEST_F(SessionTest, AdministrativeQueriesAreAnsweredWithoutQueueing) {
  Configure({{kParamEmvSupport, "2"}});
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  struct Case {
    std::string payload;
    int code;
    std::string element;
  };
  for (const Case& c : {Case{testing::ServerVersionPayload(), 500000, "<ProductName>Paxelle</ProductName>"},
                        Case{testing::GetParmsPayload(), 500001, "<PaymentTypes>Credit,Debit</PaymentTypes>"}}) {
    ASSERT_TRUE(lane.SendRequest(c.payload, "admin"));
    lane::CommandResponse reply;
    lane::LaneResponse response;
    ASSERT_TRUE(lane.ReadReply(reply, kPatience, &response));
    // The answer itself, not a "Queued" reply first.
    EXPECT_EQ(reply.returnCode, c.code);
    EXPECT_EQ(response.frameType, lane::kTypeEncrypted);
    EXPECT_NE(response.document.find(c.element), std::string::npos);
    EXPECT_EQ(Queue().ActiveCount(), 0);
  }
}

TEST_F(SessionTest, LoggedRequestShowsNoCardData) {
  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  ASSERT_TRUE(lane.SendRequest(testing::CreditSalePayload(), "masked"));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.ReadReply(reply));
  ASSERT_TRUE(lane::IsQueuedReply(reply));
  const std::string logged = LoggedText();
  EXPECT_NE(logged.find("Request ->[TStream=Transaction"), std::string::npos);
  EXPECT_NE(logged.find("AcctNo=XXXXXXXXXXXX1111"), std::string::npos);
  EXPECT_NE(logged.find("ExpDate=XXXX"), std::string::npos);
  EXPECT_EQ(logged.find("4111111111111111"), std::string::npos);
  EXPECT_NE(logged.find("Socket Connect from 127.0.0.1:"), std::string::npos);
}

// Every kind of line that carries lane text, driven with card data: the logged
// request, the "Queued" reply and a host failure answer echoing the trace, and
// the unreadable and clear frames echoed back whole.
TEST_F(SessionTest, NoLoggedLineShowsTheCardDataItCarried) {
  const std::string sealedTrace = "5500000000000004";
  const std::string unreadable = "Track2=;4000000000000002=2812101?";
  const std::string clearTrace = "AcctNo=6011000000000004";
  const std::string trackPayload = testing::PayloadText(
      {{"TStream", "Transaction"}, {"MerchantID", "123456789012345"}, {"ClientID", "1"}, {"TranType", "Credit"},
       {"TranCode", "Sale"}, {"InvoiceNo", "7"}, {"RefNo", "7"}, {"Track2", ";4111111111111111=2812101?"},
       {"CVVData", "7373"}, {"PINBlock", "0123456789ABCDEF"}, {"Purchase", "1.00"}});
  testing::SentCardData sent;
  for (const std::string& value : {sealedTrace, unreadable.substr(7), clearTrace.substr(7),
                                   std::string("4111111111111111"), std::string(";4111111111111111=2812101?"),
                                   std::string("7373"), std::string("0123456789ABCDEF")}) {
    sent.Add(value);
  }

  TestLane lane;
  ASSERT_TRUE(lane.LogIn(Port()));
  lane::CommandResponse reply;
  ASSERT_TRUE(lane.SendRequest(testing::CreditSalePayload(), sealedTrace));
  ASSERT_TRUE(lane.ReadReply(reply));
  ASSERT_TRUE(lane::IsQueuedReply(reply));
  EXPECT_EQ(reply.userTraceData, sealedTrace) << "the lane still gets its own text back";
  // Refused or queued, its request line is logged all the same.
  ASSERT_TRUE(lane.SendRequest(trackPayload, "track"));
  ASSERT_TRUE(lane.ReadReply(reply));
  const bool trackQueued = lane::IsQueuedReply(reply);
  ASSERT_TRUE(lane.Connection().SendRaw(unreadable + "\x03"));
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCodeText, "004010");
  ASSERT_TRUE(lane.Connection().SendRaw(Frame(clearTrace, '0', "TStream=Admin")));
  ASSERT_TRUE(lane.ReadReply(reply));
  EXPECT_EQ(reply.returnCodeText, "004005");

  for (const std::string& trace : {sealedTrace, std::string("track")}) {
    if (trace == "track" && !trackQueued) continue;
    CRequest record;
    ASSERT_TRUE(WaitFor("the request on the queue", [&] { return FindQueued(trace, record); }, kPatience));
    FinishWithState(record, kStateHostFailed);
    ASSERT_TRUE(lane.ReadReply(reply));
    EXPECT_EQ(reply.returnCodeText, "004003");
  }

  const std::string logged = LoggedText();
  EXPECT_NE(logged.find("Request ->["), std::string::npos);
  EXPECT_NE(logged.find("XXXXXXXXXXXX0004</UserTraceData>"), std::string::npos) << "echoes are logged, masked";
  const auto findings = testing::ScanBytes(logged, sent);
  EXPECT_EQ(testing::FailingCount(findings), 0u) << testing::DescribeFindings(findings);
}

}  // namespace
}  // namespace paxelle
