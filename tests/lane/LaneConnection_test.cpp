// A lane connection against a scripted server on loopback that uses the
// server's own crypto, documents and frames.
#include "tools/lane/LaneConnection.h"

#include <gtest/gtest.h>

#include "client/MessageCrypto.h"
#include "core/MessageFrame.h"
#include "tests/lane/FakeServer.h"
#include "tests/lane/LaneTestSupport.h"
#include "tools/lane/LaneDocument.h"

namespace paxelle::lane {
namespace {

using namespace std::chrono_literals;
using testing::FakeLogin;
using testing::FakePeer;
using testing::FakeServer;
using testing::ServeLogin;

const std::string kPayload = "TranType=Credit\x1CTranCode=BatchSummary\x1CMemo=connection test";

class LaneConnectionTest : public testing::ServerCryptoSuite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(started_) << "the server's crypto did not start";
    lane_.SetIoTimeout(5s);
  }
  void TearDown() override {
    lane_.Close();
    fake_.Join();
  }

  // Connects and logs in against a script that serves the login with
  // `password` and then runs `afterLogin`.
  void LogIn(std::function<void(FakePeer&)> afterLogin) {
    fake_.Run([afterLogin = std::move(afterLogin)](FakePeer& peer) {
      if (ServeLogin(peer, *server_, "").replyCode == 2000) afterLogin(peer);
    });
    ASSERT_TRUE(lane_.Connect("127.0.0.1", fake_.Port())) << lane_.LastError();
    LoginResult result;
    ASSERT_TRUE(lane_.Login("", false, result)) << lane_.LastError();
    ASSERT_TRUE(result.verified);
  }

  // What the server makes of a request message: user trace and clear payload.
  static bool OpenRequest(const std::string& message, std::string& keyBlobHex, std::string& userTrace,
                          std::string& payload) {
    const std::size_t fs = message.find('\x1C');
    const std::size_t dc1 = message.find('\x11');
    const std::size_t dc2 = message.find('\x12');
    if (fs == std::string::npos || dc1 == std::string::npos || dc2 == std::string::npos) return false;
    userTrace = message.substr(0, fs);
    keyBlobHex = message.substr(dc1 + 1, dc2 - dc1 - 1);
    return server_->DecryptWithSessionKey(keyBlobHex, message.substr(dc2 + 1), payload);
  }

  // Answers one request the way the session does: the "Queued" reply in
  // clear, then the document encrypted with the request's session key.
  static void AnswerRequest(FakePeer& peer, const std::string& message, const std::string& document) {
    std::string keyBlobHex;
    std::string userTrace;
    std::string payload;
    ASSERT_TRUE(OpenRequest(message, keyBlobHex, userTrace, payload));
    std::string cipherHex;
    ASSERT_TRUE(server_->EncryptWithSessionKey(keyBlobHex, document, cipherHex));
    peer.SendReply(0, 'S', "Queued:045:000", userTrace);
    peer.Send(FrameMessage(cipherHex, true));
  }

  FakeServer fake_;
  LaneConnection lane_;
};

TEST_F(LaneConnectionTest, LogsInWithEitherMaterialAndProvesTheServer) {
  for (const bool alternate : {false, true}) {
    FakeServer fake;
    FakeLogin seen;
    fake.Run([&seen](FakePeer& peer) {
      seen = ServeLogin(peer, *server_, "s3cret");
      peer.WaitForClose();
    });
    LaneConnection lane;
    ASSERT_TRUE(lane.Connect("127.0.0.1", fake.Port())) << lane.LastError();
    LoginResult result;
    ASSERT_TRUE(lane.Login("s3cret", alternate, result)) << lane.LastError();
    lane.Close();
    fake.Join();
    EXPECT_EQ(result.code, 2000);
    EXPECT_EQ(result.status, "Success");
    EXPECT_TRUE(result.verified);
    EXPECT_EQ(result.text.substr(0, 15), "Login Verified.");
    EXPECT_EQ(seen.alternate, alternate);
    EXPECT_EQ(seen.clientChallengeHex.size(), 32u);
  }
}

TEST_F(LaneConnectionTest, RefusalsComeBackAsReplyCodes) {
  fake_.Run([](FakePeer& peer) { ServeLogin(peer, *server_, "s3cret"); });
  ASSERT_TRUE(lane_.Connect("127.0.0.1", fake_.Port()));
  LoginResult result;
  ASSERT_TRUE(lane_.Login("wrong", false, result)) << lane_.LastError();
  EXPECT_EQ(result.code, 2009);
  EXPECT_EQ(result.status, "Error");
  EXPECT_EQ(result.text, "Password Failed!(Client/Server) -- Disconnecting.");
  EXPECT_FALSE(result.verified);
}

TEST_F(LaneConnectionTest, GoingOfflineBeforeTheGreetingIsAReplyToo) {
  fake_.Run([](FakePeer& peer) { peer.SendReply(2003, 'E', "System going off line - please try again later..."); });
  ASSERT_TRUE(lane_.Connect("127.0.0.1", fake_.Port()));
  LoginResult result;
  ASSERT_TRUE(lane_.Login("", false, result)) << lane_.LastError();
  EXPECT_EQ(result.code, 2003);
  EXPECT_FALSE(result.verified);
}

TEST_F(LaneConnectionTest, AServerThatCannotAnswerTheLanesChallengeIsNotTrusted) {
  fake_.Run([](FakePeer& peer) { ServeLogin(peer, *server_, "", /*forgeAnswer=*/true); });
  ASSERT_TRUE(lane_.Connect("127.0.0.1", fake_.Port()));
  LoginResult result;
  EXPECT_FALSE(lane_.Login("", false, result));
  EXPECT_NE(lane_.LastError().find("answer"), std::string::npos) << lane_.LastError();
  EXPECT_EQ(result.code, 2000);
  EXPECT_FALSE(result.verified);
}

TEST_F(LaneConnectionTest, AGreetingThatNeverComesEndsTheLoginWithinItsBound) {
  fake_.Run([](FakePeer& peer) { peer.WaitForClose(); });
  lane_.SetIoTimeout(200ms);
  ASSERT_TRUE(lane_.Connect("127.0.0.1", fake_.Port()));
  LoginResult result;
  EXPECT_FALSE(lane_.Login("", false, result));
  EXPECT_NE(lane_.LastError().find("no complete frame"), std::string::npos) << lane_.LastError();
}

TEST_F(LaneConnectionTest, AGreetingWithoutAUsableKeyFailsTheLogin) {
  fake_.Run([](FakePeer& peer) {
    peer.SendReply(0, 'S', "CONNECTED to OPX_IP! -- Password ?\x11" "0602\x12\x1E" "00112233445566778899AABBCCDDEEFF\x1F");
    peer.WaitForClose();
  });
  ASSERT_TRUE(lane_.Connect("127.0.0.1", fake_.Port()));
  LoginResult result;
  EXPECT_FALSE(lane_.Login("", false, result));
  EXPECT_NE(lane_.LastError().find("public key"), std::string::npos) << lane_.LastError();
}

TEST_F(LaneConnectionTest, ARequestGetsItsQueuedReplyAndItsEncryptedResponse) {
  const std::string document = "<?xml version=\"1.0\"?>\r\n<RStream>\r\n\t<CmdResponse>\r\n\t\t<ResponseOrigin>"
                               "Processor</ResponseOrigin>\r\n\t\t<OPXXReturnCode>000000</OPXXReturnCode>\r\n\t\t"
                               "<CmdStatus>Success</CmdStatus>\r\n\t\t<TextResponse>OK</TextResponse>\r\n\t\t"
                               "<UserTraceData>Lane7-0042</UserTraceData>\r\n\t</CmdResponse>\r\n</RStream>\r\n";
  std::string seenTrace;
  std::string seenPayload;
  LogIn([&](FakePeer& peer) {
    std::string message;
    std::string keyBlobHex;
    ASSERT_TRUE(peer.ReadMessage(message));
    ASSERT_TRUE(OpenRequest(message, keyBlobHex, seenTrace, seenPayload));
    AnswerRequest(peer, message, document);
    peer.WaitForClose();
  });
  ASSERT_TRUE(lane_.SendRequest(kPayload, "Lane7-0042")) << lane_.LastError();
  EXPECT_EQ(lane_.OutstandingKeys(), 1u);

  LaneResponse interim;
  ASSERT_EQ(lane_.ReadResponse(5s, interim), ReadStatus::kOk) << lane_.LastError();
  EXPECT_EQ(interim.frameType, '0');
  CommandResponse reply;
  ASSERT_TRUE(ParseCommandResponse(interim.document, reply).ok());
  EXPECT_TRUE(IsQueuedReply(reply));
  EXPECT_EQ(reply.userTraceData, "Lane7-0042");

  LaneResponse final;
  ASSERT_EQ(lane_.ReadResponse(5s, final), ReadStatus::kOk) << lane_.LastError();
  EXPECT_EQ(final.frameType, '2');
  EXPECT_EQ(final.document, document);
  EXPECT_EQ(lane_.OutstandingKeys(), 0u);
  lane_.Close();
  fake_.Join();
  EXPECT_EQ(seenTrace, "Lane7-0042");
  EXPECT_EQ(seenPayload, kPayload);
}

TEST_F(LaneConnectionTest, ResponsesAnsweredOutOfOrderOpenWithTheirOwnKeys) {
  LogIn([](FakePeer& peer) {
    std::string first;
    std::string second;
    ASSERT_TRUE(peer.ReadMessage(first));
    ASSERT_TRUE(peer.ReadMessage(second));
    AnswerRequest(peer, second, "<?xml second?>");
    AnswerRequest(peer, first, "<?xml first?>");
    peer.WaitForClose();
  });
  ASSERT_TRUE(lane_.SendRequest(kPayload + "1"));
  ASSERT_TRUE(lane_.SendRequest(kPayload + "2", "", 'M'));
  std::vector<std::string> finals;
  for (int i = 0; i < 4; ++i) {
    LaneResponse response;
    ASSERT_EQ(lane_.ReadResponse(5s, response), ReadStatus::kOk) << lane_.LastError();
    if (response.frameType == '2') finals.push_back(response.document);
  }
  EXPECT_EQ(finals, (std::vector<std::string>{"<?xml second?>", "<?xml first?>"}));
  EXPECT_EQ(lane_.OutstandingKeys(), 0u);
}

TEST_F(LaneConnectionTest, AbortFrameGoesOutAsIs) {
  std::string seen;
  LogIn([&seen](FakePeer& peer) {
    peer.ReadMessage(seen);
    peer.WaitForClose();
  });
  ASSERT_TRUE(lane_.SendAbort("ref 9"));
  EXPECT_FALSE(lane_.SendAbort("bad\x03"));
  lane_.Close();
  fake_.Join();
  EXPECT_EQ(seen, "ref 9\x1C" "A00\x02");
}

TEST_F(LaneConnectionTest, BrokenServerFramesAreReportedAndReadingGoesOn) {
  LogIn([](FakePeer& peer) {
    peer.Send("garbage\x03");
    peer.Send(FrameMessage("3C3F786D6C", true));  // no request is outstanding
    peer.SendReply(2004, 'E', "****Disconnecting****");
  });
  LaneResponse response;
  EXPECT_EQ(lane_.ReadResponse(5s, response), ReadStatus::kBadFrame);
  EXPECT_EQ(lane_.ReadResponse(5s, response), ReadStatus::kBadFrame);
  ASSERT_EQ(lane_.ReadResponse(5s, response), ReadStatus::kOk) << lane_.LastError();
  EXPECT_NE(response.document.find("****Disconnecting****"), std::string::npos);
  EXPECT_EQ(lane_.ReadResponse(5s, response), ReadStatus::kClosed);
}

TEST_F(LaneConnectionTest, WaitsEndOnTimeOutAndOnTheStopFlag) {
  LogIn([](FakePeer& peer) { peer.WaitForClose(); });
  LaneResponse response;
  EXPECT_EQ(lane_.ReadResponse(50ms, response), ReadStatus::kTimeout);
  std::atomic<bool> stop{true};
  lane_.SetStopFlag(&stop);
  EXPECT_EQ(lane_.ReadResponse(5s, response), ReadStatus::kStopped);
  lane_.SetStopFlag(nullptr);
}

TEST_F(LaneConnectionTest, NothingIsSentWithoutAConnectionOrAServerKey) {
  EXPECT_FALSE(lane_.SendRequest(kPayload));
  LoginResult result;
  EXPECT_FALSE(lane_.Login("", false, result));
  LaneResponse response;
  EXPECT_EQ(lane_.ReadResponse(10ms, response), ReadStatus::kError);

  fake_.Run([](FakePeer& peer) { peer.WaitForClose(); });
  ASSERT_TRUE(lane_.Connect("127.0.0.1", fake_.Port()));
  EXPECT_FALSE(lane_.SendRequest(kPayload));  // no greeting yet, so no key to wrap with
  EXPECT_NE(lane_.LastError().find("public key"), std::string::npos) << lane_.LastError();
}

TEST_F(LaneConnectionTest, ConnectReportsARefusedPortAndABadPort) {
  EXPECT_FALSE(lane_.Connect("127.0.0.1", testing::UnusedPort(), 2s));
  EXPECT_NE(lane_.LastError().find("refused"), std::string::npos) << lane_.LastError();
  EXPECT_FALSE(lane_.Connect("127.0.0.1", 0));
  EXPECT_FALSE(lane_.Connect("127.0.0.1", 70000));
  EXPECT_FALSE(lane_.IsConnected());
}

}  // namespace
}  // namespace paxelle::lane
