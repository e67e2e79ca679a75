// The opx-lane command line, and the real executable against a scripted
// server on loopback that uses the server's own crypto, documents and frames.
#include "tools/lane/OpxLaneCommands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>

#include "client/MessageCrypto.h"
#include "core/MessageFrame.h"
#include "core/ResponseDocuments.h"
#include "tests/client/ListenerHarnessProcess.h"
#include "tests/lane/FakeServer.h"
#include "tests/lane/LaneTestSupport.h"
#include "tests/support/WaitFor.h"

namespace paxelle::lane {
namespace {

using namespace std::chrono_literals;
using testing::FakePeer;
using testing::FakeRequest;
using testing::FakeServer;
using testing::ServeLogin;
using testing::TempDir;

// A published test account; still kept out of every message and output.
const std::string kAccount = "4111111111111111";

// ---------------------------------------------------------------------------
// Command line

TEST(OpxLaneCommandLineTest, DefaultsAndOptionsOnEitherSideOfTheCommand) {
  LaneCommandLine line;
  ASSERT_TRUE(ParseLaneCommandLine({"request", "TStream=Admin", "Memo=a=b"}, line).ok());
  EXPECT_EQ(line.command, LaneCommand::kRequest);
  EXPECT_EQ(line.session.host, "127.0.0.1");
  EXPECT_EQ(line.session.port, 9000);
  EXPECT_EQ(line.session.password, "");
  EXPECT_FALSE(line.session.alternate);
  EXPECT_EQ(line.session.trace, "");
  EXPECT_EQ(line.session.timeout, 90s);
  ASSERT_EQ(line.pairs.size(), 2u);
  EXPECT_EQ(line.pairs[1].key, "Memo");
  EXPECT_EQ(line.pairs[1].value, "a=b");

  ASSERT_TRUE(ParseLaneCommandLine({"--server", "localhost:9100", "--password=pw", "abort", "--alternate", "--trace",
                                    "Lane 7", "--timeout", "2"},
                                   line)
                  .ok());
  EXPECT_EQ(line.command, LaneCommand::kAbort);
  EXPECT_EQ(line.session.host, "127.0.0.1");
  EXPECT_EQ(line.session.port, 9100);
  EXPECT_EQ(line.session.password, "pw");
  EXPECT_TRUE(line.session.alternate);
  EXPECT_EQ(line.session.trace, "Lane 7");
  EXPECT_EQ(line.session.timeout, 2s);

  ASSERT_TRUE(ParseLaneCommandLine({"--server=10.1.2.3:9000", "load"}, line).ok());
  EXPECT_EQ(line.command, LaneCommand::kLoad);
  EXPECT_EQ(line.session.host, "10.1.2.3");
  EXPECT_EQ(line.load.lanes, 50);
  EXPECT_EQ(line.load.count, 20);
  EXPECT_EQ(line.load.amount, "10.00");
  EXPECT_EQ(line.load.pauseMs, 0);
  ASSERT_TRUE(ParseLaneCommandLine({"load", "--lanes", "3", "--count=7", "--amount", "1.5", "--pause", "5"}, line)
                  .ok());
  EXPECT_EQ(line.load.lanes, 3);
  EXPECT_EQ(line.load.count, 7);
  EXPECT_EQ(line.load.amount, "1.5");
  EXPECT_EQ(line.load.pauseMs, 5);

  ASSERT_TRUE(ParseLaneCommandLine({"--help"}, line).ok());
  EXPECT_EQ(line.command, LaneCommand::kHelp);
  ASSERT_TRUE(ParseLaneCommandLine({"--version", "--server", "127.0.0.1:1"}, line).ok());
  EXPECT_EQ(line.command, LaneCommand::kVersion);
  EXPECT_EQ(line.session.port, 9000) << "nothing else is taken from that line";
  ASSERT_TRUE(ParseLaneCommandLine({"--version", "--help"}, line).ok());
  EXPECT_EQ(line.command, LaneCommand::kHelp);
}

TEST(OpxLaneCommandLineTest, RefusesBadInputWithoutRepeatingValues) {
  const struct {
    std::vector<std::string> args;
    std::string expected;  // part of the error
  } cases[] = {
      {{}, "no command"},
      {{"frob"}, "unknown command \"frob\""},
      {{kAccount}, "unknown command (not repeated here)"},
      {{"request"}, "at least one KEY=VALUE"},
      {{"request", "AcctNo" + kAccount}, "request argument 1 is not KEY=VALUE"},
      {{"request", "TStream=Admin", "=" + kAccount}, "request argument 2 has a key"},
      {{"request", "Memo=a\x1C" "AcctNo=" + kAccount}, "the value of Memo contains an FS"},
      {{"abort", "extra"}, "unexpected argument 2"},
      {{"--bogus", "abort"}, "unknown option \"--bogus\""},
      {{"--X" + kAccount, "abort"}, "unknown option (not repeated here)"},
      {{"abort", "--server"}, "--server needs a value"},
      {{"--server", "pos.example.com:9000", "abort"}, "numeric IPv4 address or localhost"},
      {{"--server", "127.1:9000", "abort"}, "numeric IPv4"},
      {{"--server", "::1:9000", "abort"}, "numeric IPv4"},
      {{"--server", "127.0.0.1", "abort"}, "HOST:PORT"},
      {{"--server", "127.0.0.1:0", "abort"}, "port must be"},
      {{"--server", "127.0.0.1:65536", "abort"}, "port must be"},
      {{"--server", "127.0.0.1:+80", "abort"}, "port must be"},
      {{"--timeout", "0", "abort"}, "--timeout must be"},
      {{"--timeout", "2s", "abort"}, "--timeout must be"},
      {{"--trace", "a\x1C" "b", "abort"}, "--trace must not contain"},
      {{"--password", "pw\x03", "abort"}, "--password must not contain ETX"},
      {{"--alternate=yes", "abort"}, "--alternate takes no value"},
      {{"--lanes", "5", "request", "A=1"}, "belong to the load command"},
      {{"load", "--lanes", "0"}, "--lanes must be"},
      {{"load", "--count", "100001"}, "--count must be"},
      {{"load", "--lanes", "1000", "--count", "100000"}, "must not exceed"},
      {{"load", "--amount", "0.00"}, "--amount must be"},
      {{"load", "--amount", "1.234"}, "--amount must be"},
      {{"load", "--amount", "12345678"}, "--amount must be"},
      {{"load", "--amount", "5."}, "--amount must be"},
      {{"load", "--pause", "60001"}, "--pause must be"},
      {{"load", "--pause", "-1"}, "--pause must be"},
  };
  for (const auto& c : cases) {
    LaneCommandLine line;
    line.session.password = "untouched";
    const Status parsed = ParseLaneCommandLine(c.args, line);
    const std::string& error = parsed.message();
    EXPECT_FALSE(parsed.ok()) << c.expected;
    EXPECT_NE(error.find(c.expected), std::string::npos) << "error: " << error;
    EXPECT_EQ(error.find("4111"), std::string::npos) << "an argument value was repeated";
    EXPECT_EQ(line.session.password, "untouched") << c.expected;
  }
}

TEST(OpxLaneCommandLineTest, RequestPairsAreJoinedWithFs) {
  EXPECT_EQ(BuildRequestPayload({{"TStream", "Admin"}, {"Memo", "a=b"}, {"Empty", ""}}),
            "TStream=Admin\x1CMemo=a=b\x1C" "Empty=");
  EXPECT_EQ(BuildRequestPayload({{"TStream", "Admin"}}), "TStream=Admin");
}

// ---------------------------------------------------------------------------
// Telling the interim reply, the end of the session and the final response apart

std::string CommandDocument(int code, char letter, const std::string& text, const std::string& trace = "") {
  paxelle::CommandResponse reply;
  reply.code = SixDigitCode(code);
  reply.statusLetter = letter;
  reply.text = text;
  reply.userTraceData = trace;
  return BuildCommandDocument(reply);
}

TEST(OpxLaneResponseRoleTest, OnlyAClearQueuedReplyIsInterimAndOnlyTheSessionsOwnEndsStopTheWait) {
  const struct {
    char frameType;
    std::string document;
    ResponseRole role;
  } cases[] = {
      {kTypeClear, CommandDocument(0, 'S', "Queued:045:003", "t"), ResponseRole::kInterim},
      {kTypeClear, CommandDocument(0, 'S', "Queued:045:1000"), ResponseRole::kInterim},
      {kTypeEncrypted, CommandDocument(0, 'S', "Queued:045:003"), ResponseRole::kFinal},
      {kTypeClear, CommandDocument(4015, 'E', "Batch Settlement in Progress."), ResponseRole::kFinal},
      {kTypeClear, CommandDocument(1010, 'E', "User Abort."), ResponseRole::kFinal},
      {kTypeClear, CommandDocument(2003, 'E', "System going off line - please try again later..."),
       ResponseRole::kSessionEnd},
      {kTypeClear, CommandDocument(2004, 'E', "****Disconnecting****"), ResponseRole::kSessionEnd},
      {kTypeClear, "<?xml but nothing else", ResponseRole::kFinal},
  };
  for (const auto& c : cases) {
    LaneResponse response;
    response.frameType = c.frameType;
    response.document = c.document;
    EXPECT_EQ(ClassifyResponse(response), c.role) << c.document;
  }
}

// ---------------------------------------------------------------------------
// The executable

// A result document the way the server sends it: account already masked.
std::string SaleDocument(const std::string& trace) {
  paxelle::CommandResponse reply;
  reply.origin = "Processor";
  reply.code = "000000";
  reply.statusLetter = 'A';
  reply.text = "APPROVED";
  reply.userTraceData = trace;
  return std::string(kDocumentStart) + BuildCommandFragment(reply) + "\t<TranResponse>\r\n" +
         MakeElement("AcctNo", MaskAccount(kAccount), 2, true) + MakeElement("ExpDate", "XXXX", 2, true) +
         "\t</TranResponse>\r\n" + std::string(kDocumentEnd);
}

std::string QueuedDocument(const std::string& trace) { return CommandDocument(0, 'S', "Queued:045:000", trace); }

struct LaneRun {
  int exitCode = -1;  // -1: did not start, or killed at the bound
  std::string out;
  std::string err;
  std::chrono::milliseconds elapsed{0};
};

class OpxLaneBinaryTest : public testing::ServerCryptoSuite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(started_) << "the server's crypto did not start";
    ASSERT_TRUE(std::filesystem::exists(Binary())) << Binary();
  }
  void TearDown() override { fake_.Join(); }

  static std::string Binary() { return std::string(PAXELLE_BIN_DIR) + "/opx-lane"; }
  std::string Server() const { return "127.0.0.1:" + std::to_string(fake_.Port()); }

  // Runs opx-lane with `args`, its output and errors caught in files, for at most a minute.
  LaneRun Run(const std::vector<std::string>& args) {
    const std::string outPath = runs_ / ("out" + std::to_string(runCount_));
    const std::string errPath = runs_ / ("err" + std::to_string(runCount_++));
    std::vector<std::string> words{Binary()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    LaneRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return run;
    int status = 0;
    if (paxelle::testing::WaitFor("opx-lane to end", [&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 60s)) {
      run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    run.out = testing::ReadBytes(outPath);
    run.err = testing::ReadBytes(errPath);
    return run;
  }

  // Serves the login without a password, then runs `afterLogin`.
  void ServeLoggedIn(std::function<void(FakePeer&)> afterLogin) {
    fake_.Run([afterLogin = std::move(afterLogin)](FakePeer& peer) {
      if (ServeLogin(peer, *server_, "").replyCode == 2000) afterLogin(peer);
    });
  }

  TempDir runs_;
  int runCount_ = 0;
  FakeServer fake_;
};

TEST_F(OpxLaneBinaryTest, RequestPrintsTheInterimReplyAndTheFinalDocument) {
  FakeRequest seen;
  bool opened = false;
  ServeLoggedIn([&](FakePeer& peer) {
    std::string message;
    if (!peer.ReadMessage(message) || !OpenRequest(*server_, message, seen)) return;
    opened = true;
    AnswerRequest(peer, *server_, seen, SaleDocument("Lane 7"));
    peer.WaitForClose();
  });
  const LaneRun run = Run({"--server", Server(), "--trace", "Lane 7", "request", "TStream=Transaction",
                           "TranType=Credit", "TranCode=Sale", "AcctNo=" + kAccount, "ExpDate=1229", "Memo=a=b"});
  fake_.Join();
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out, QueuedDocument("Lane 7") + SaleDocument("Lane 7"));
  EXPECT_EQ(run.err, "");
  ASSERT_TRUE(opened) << "the server could not open the request";
  EXPECT_EQ(seen.userTrace, "Lane 7");
  EXPECT_EQ(seen.type, kTypeEncrypted);
  EXPECT_TRUE(seen.payload == "TStream=Transaction\x1CTranType=Credit\x1CTranCode=Sale\x1C" "AcctNo=" + kAccount +
                                  "\x1C" "ExpDate=1229\x1CMemo=a=b")
      << "the payload differs from the pairs joined with FS (not shown: it holds an account)";
  EXPECT_EQ(run.out.find(kAccount), std::string::npos);
}

TEST_F(OpxLaneBinaryTest, AnAnswerWithoutInterimReplyIsTheFinalOneAndAlternateMaterialIsUsed) {
  const std::string version = std::string(kDocumentStart) +
                              BuildCommandFragment({"Server", "500000", 'S', "Paxelle XML Version WH 5.10", ""}) +
                              "\t<ServerVersion>\r\n\t\t<ProductName>Paxelle</ProductName>\r\n\t</ServerVersion>\r\n" +
                              std::string(kDocumentEnd);
  testing::FakeLogin login;
  FakeRequest seen;
  fake_.Run([&](FakePeer& peer) {
    login = ServeLogin(peer, *server_, "s3cret");
    std::string message;
    if (login.replyCode != 2000 || !peer.ReadMessage(message) || !OpenRequest(*server_, message, seen)) return;
    AnswerRequest(peer, *server_, seen, version, /*queued=*/false);
    peer.WaitForClose();
  });
  const LaneRun run = Run({"--alternate", "--password", "s3cret", "request", "TStream=Admin", "TranCode=ServerVersion",
                           "MerchantID=1", "ClientID=1", "--server", "localhost:" + std::to_string(fake_.Port())});
  fake_.Join();
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out, version);
  EXPECT_TRUE(login.alternate);
  EXPECT_EQ(seen.type, kTypeEncryptedAlternate);
  EXPECT_EQ(seen.payload, "TStream=Admin\x1CTranCode=ServerVersion\x1CMerchantID=1\x1C" "ClientID=1");
}

TEST_F(OpxLaneBinaryTest, LoginFailuresExitWithTheirOwnCodes) {
  const struct {
    std::string name;
    std::function<void(FakePeer&)> script;
    std::vector<std::string> options;
    int exitCode;
    std::string message;
  } cases[] = {
      {"wrong password", [](FakePeer& peer) { ServeLogin(peer, *server_, "s3cret"); }, {"--password", "wrongpw"},
       kExitLoginRefused, "2009 Password Failed!(Client/Server) -- Disconnecting."},
      {"going off line", [](FakePeer& peer) {
         peer.SendReply(2003, 'E', "System going off line - please try again later...");
       }, {}, kExitLoginRefused, "2003 System going off line"},
      {"server cannot prove itself", [](FakePeer& peer) { ServeLogin(peer, *server_, "", /*forgeAnswer=*/true); },
       {}, kExitLoginRefused, "did not prove it"},
      {"no greeting", [](FakePeer& peer) { peer.WaitForClose(20s); }, {"--timeout", "1"}, kExitConnectFailed,
       "login failed"},
  };
  for (const auto& c : cases) {
    FakeServer fake;
    fake.Run(c.script);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--server", "127.0.0.1:" + std::to_string(fake.Port()), "request", "TStream=Admin"});
    const LaneRun run = Run(args);
    fake.Join();
    EXPECT_EQ(run.exitCode, c.exitCode) << c.name << ": " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
    EXPECT_EQ(run.err.find("wrongpw"), std::string::npos) << "the password was printed";
    EXPECT_EQ(run.out, "") << c.name;
  }
}

TEST_F(OpxLaneBinaryTest, NoFinalResponseExitsFourWithinTheTimeout) {
  const struct {
    std::string name;
    std::function<void(FakePeer&, const FakeRequest&)> answer;
    std::string out;
    std::string message;
  } cases[] = {
      {"silent server", [](FakePeer& peer, const FakeRequest&) { peer.WaitForClose(20s); }, "",
       "no final response within 2 s"},
      {"closed after the interim reply",
       [](FakePeer& peer, const FakeRequest& request) { peer.SendReply(0, 'S', "Queued:045:000", request.userTrace); },
       QueuedDocument(""), "closed the connection"},
      {"session ended after the interim reply",
       [](FakePeer& peer, const FakeRequest& request) {
         peer.SendReply(0, 'S', "Queued:045:000", request.userTrace);
         peer.SendReply(2004, 'E', "****Disconnecting****");
         peer.WaitForClose();
       },
       QueuedDocument(""), "ended the session before the final response: 002004 ****Disconnecting****"},
  };
  for (const auto& c : cases) {
    FakeServer fake;
    fake.Run([&](FakePeer& peer) {
      std::string message;
      FakeRequest request;
      if (ServeLogin(peer, *server_, "").replyCode != 2000 || !peer.ReadMessage(message) ||
          !OpenRequest(*server_, message, request)) {
        return;
      }
      c.answer(peer, request);
    });
    const LaneRun run = Run({"--timeout", "2", "--server", "127.0.0.1:" + std::to_string(fake.Port()), "request",
                             "TStream=Transaction", "AcctNo=" + kAccount});
    fake.Join();
    EXPECT_EQ(run.exitCode, kExitNoFinalResponse) << c.name << ": " << run.err;
    EXPECT_EQ(run.out, c.out) << c.name;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
    EXPECT_EQ(run.err.find(kAccount), std::string::npos) << "the account was printed";
    // Not a speed check: the default bound of 90 s must not apply.
    EXPECT_LT(run.elapsed, 30s) << c.name;
  }
}

TEST_F(OpxLaneBinaryTest, ConnectionFailuresAndUsageErrorsHaveTheirOwnExitCodes) {
  LaneRun run = Run({"--server", "127.0.0.1:" + std::to_string(testing::UnusedPort()), "request", "TStream=Admin"});
  EXPECT_EQ(run.exitCode, kExitConnectFailed) << run.err;
  EXPECT_NE(run.err.find("refused"), std::string::npos) << run.err;

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"request", "AcctNo" + kAccount}, {"--server", "lane-host:9000", "abort"}, {"frob"}, {}}) {
    run = Run(args);
    EXPECT_EQ(run.exitCode, kExitUsage) << run.err;
    EXPECT_NE(run.err.find("usage: opx-lane"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(kAccount), std::string::npos) << "the account was printed";
    EXPECT_EQ(run.out, "");
  }
  run = Run({"--help"});
  EXPECT_EQ(run.exitCode, kExitOk);
  EXPECT_NE(run.out.find("usage: opx-lane"), std::string::npos);
}

TEST_F(OpxLaneBinaryTest, AbortSendsTheAbortFrameAndShowsAnUnexpectedReply) {
  for (const bool reply : {false, true}) {
    FakeServer fake;
    std::string seen;
    fake.Run([&](FakePeer& peer) {
      if (ServeLogin(peer, *server_, "").replyCode != 2000 || !peer.ReadMessage(seen)) return;
      if (reply) peer.SendReply(1010, 'E', "User Abort.", "ref 9");
      peer.WaitForClose();
    });
    const LaneRun run = Run({"--trace", "ref 9", "--server", "127.0.0.1:" + std::to_string(fake.Port()), "abort"});
    fake.Join();
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_EQ(seen, "ref 9\x1C" "A00\x02");
    EXPECT_EQ(run.out, reply ? CommandDocument(1010, 'E', "User Abort.", "ref 9") : "");
  }
}

TEST_F(OpxLaneBinaryTest, LoadPrintsOneSummaryLine) {
  ServeLoggedIn([](FakePeer& peer) {
    for (int i = 0; i < 3; ++i) {
      std::string message;
      FakeRequest request;
      if (!peer.ReadMessage(message) || !OpenRequest(*server_, message, request)) return;
      AnswerRequest(peer, *server_, request, SaleDocument(request.userTrace));
    }
    peer.WaitForClose();
  });
  const LaneRun run = Run({"load", "--lanes", "1", "--count", "3", "--server", Server(), "--amount", "2.50"});
  fake_.Join();
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_TRUE(std::regex_match(run.out, std::regex("load lanes=1 requests=3 approved=3 declined=0 errors=0 "
                                                   "seconds=[0-9]+\\.[0-9] tps=[0-9]+\\.[0-9] "
                                                   "p50_ms=[0-9]+\\.[0-9] p99_ms=[0-9]+\\.[0-9]\n")))
      << run.out;
  EXPECT_EQ(run.err, "");
}

// ---------------------------------------------------------------------------
// The executable against the real client listener

// Starts the listener harness on any free port with a fresh key store and
// default parameters in `dir`, and reads the port it listens on.
bool StartListenerHarness(paxelle::testing::ListenerHarnessProcess& harness, const TempDir& dir, int& port) {
  std::string line;
  if (!harness.Start({dir / "keys", dir / "params", "0"}, dir.Path()) || !harness.ReadLine(line, 30s) ||
      !line.starts_with("listening on ")) {
    return false;
  }
  port = std::atoi(line.c_str() + 13);
  return port > 0;
}

TEST_F(OpxLaneBinaryTest, AsksTheRealListenerForItsServerVersion) {
  ASSERT_TRUE(std::filesystem::exists(paxelle::testing::ListenerHarnessProcess::Binary()))
      << paxelle::testing::ListenerHarnessProcess::Binary();
  TempDir dir;
  paxelle::testing::ListenerHarnessProcess harness;
  int port = 0;
  ASSERT_TRUE(StartListenerHarness(harness, dir, port)) << "the listener harness did not start";

  const LaneRun run = Run({"--server", "127.0.0.1:" + std::to_string(port), "--trace", "version", "--timeout", "20",
                           "request", "TStream=Admin", "TranCode=ServerVersion", "MerchantID=1", "ClientID=1"});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(run.out.starts_with("<?xml")) << run.out;
  EXPECT_NE(run.out.find("<OPXXReturnCode>500000</OPXXReturnCode>"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("<TextResponse>Paxelle XML Version WH 5.10</TextResponse>"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("<UserTraceData>version</UserTraceData>"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("<ProductVersion>WH 5.10</ProductVersion>"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Queued:"), std::string::npos) << "a local command is answered without an interim reply";
  harness.CloseInput();
  EXPECT_EQ(harness.Wait(30s), 0);
}

}  // namespace
}  // namespace paxelle::lane
