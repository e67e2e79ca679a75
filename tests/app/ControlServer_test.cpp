// The control socket over a real Unix socket: the protocol, who may connect,
// and its bounds (16 clients, a watcher that does not read, a line too long).
#include "app/control/ControlClient.h"
#include "app/control/ControlServer.h"
#include "tests/config/TempDir.h"
#include "tests/support/CardDataScan.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

namespace paxelle {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char kTestPan[] = "4111111111111111";

class ControlServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    board_.SetRunningTitle("  Paxelle XML 5.0 RBS WorldPay-Lynk #Requests-> 1    #Sockets-> 2     10:00:00", 1, 2,
                           "10:00:00");
    board_.AddRow("[01/02/24 10:00:00] Sending Auth Request (IP) to WorldPay.");
    sent_.Add(kTestPan);
  }

  void TearDown() override {
    server_.reset();
    // Nothing a client read may carry card data.
    const auto findings = testing::ScanBytes(Read(), sent_);
    EXPECT_EQ(testing::FailingCount(findings), 0u) << testing::DescribeFindings(findings);
  }

  void Start(ControlServerSettings settings = {}) {
    settings.path = Socket();
    CMerchantParams params;
    params.SetValue(kParamMerchantId, "123456789012345");
    params.SetValue(kParamUsePassword, "Y");
    params.SetValue(kParamPassword, "secret12");
    server_ = std::make_unique<ControlServer>(
        settings,
        ControlHandlers{.status = [this] { return ControlStatus{board_.Status(), "v", "/w", "h:1", "h:1", "IP Only", false}; },
                        .params = [params] { return ControlParams{params, "/p"}; },
                        .restart = [this] { ++restarts_; },
                        .log = [this](const std::string& line) {
                          std::lock_guard lock(logMutex_);
                          log_.push_back(line);
                        }},
        board_);
    const Status started = server_->Start();
    ASSERT_TRUE(started.ok()) << started.message();
  }

  std::filesystem::path Socket() const { return dir_.Path() / "control"; }

  // One reply to `request` on a new connection.
  std::string Ask(ControlRequest request) {
    ControlClient client;
    const Status connected = client.Connect(Socket());
    EXPECT_TRUE(connected.ok()) << connected.message();
    std::string reply;
    const Status asked = client.Ask(request, reply);
    EXPECT_TRUE(asked.ok()) << asked.message();
    Note(reply);
    return reply;
  }

  void Note(const std::string& text) {
    std::lock_guard lock(logMutex_);
    read_ += text + "\n";
  }
  std::string Read() {
    std::lock_guard lock(logMutex_);
    return read_;
  }
  bool Logged(const std::string& text) {
    std::lock_guard lock(logMutex_);
    for (const std::string& line : log_) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  // Waits for `text` in the log, at most `limit`.
  ::testing::AssertionResult AwaitLogged(const std::string& text, milliseconds limit) {
    return testing::WaitFor("\"" + text + "\" in the log", [&] { return Logged(text); }, limit);
  }

  testing::TempDir dir_;
  testing::SentCardData sent_;
  ViewBoard board_;
  std::unique_ptr<ControlServer> server_;
  std::atomic<int> restarts_{0};
  std::mutex logMutex_;
  std::vector<std::string> log_;
  std::string read_;
};

TEST_F(ControlServerTest, TheSocketIsMadeForTheOwnerAndTheGroupOnly) {
  Start();
  struct stat found {};
  ASSERT_EQ(::lstat(Socket().c_str(), &found), 0);
  EXPECT_TRUE(S_ISSOCK(found.st_mode));
  EXPECT_EQ(found.st_mode & 0777, 0660u);
  server_->Stop();
  EXPECT_FALSE(std::filesystem::exists(Socket()));
}

TEST_F(ControlServerTest, AFileThatIsNotASocketIsNeverReplaced) {
  { std::ofstream(Socket()) << "mine"; }
  ControlServerSettings settings;
  settings.path = Socket();
  ControlServer server(settings, {}, board_);
  const Status started = server.Start();
  EXPECT_FALSE(started.ok());
  EXPECT_NE(started.message().find("not a socket"), std::string::npos) << started.message();
  EXPECT_TRUE(std::filesystem::is_regular_file(Socket()));
}

TEST_F(ControlServerTest, StatusParamsAndRestartAreAnsweredOnTheirLines) {
  Start();
  ControlStatus status;
  const Status parsed = ParseStatusReply(Ask(ControlRequest::kStatus), status);
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  EXPECT_EQ(status.board.state, InterfacesState::kRunning);
  EXPECT_EQ(status.board.requests, 1);
  EXPECT_EQ(status.board.lanes, 2);
  EXPECT_EQ(status.board.refreshed, "10:00:00");

  const std::string paramsLine = Ask(ControlRequest::kParams);
  // The password as the dialog's masked field shows it, never in the clear.
  EXPECT_EQ(paramsLine.find("secret12"), std::string::npos) << paramsLine;
  ControlParams params;
  const Status paramsParsed = ParseParamsReply(paramsLine, params);
  ASSERT_TRUE(paramsParsed.ok()) << paramsParsed.message();
  EXPECT_EQ(params.params.GetValue(kParamMerchantId), "123456789012345");
  EXPECT_EQ(params.params.GetValue(kParamPassword), "********");
  EXPECT_EQ(params.paramsFile, "/p");

  const Status restarted = ParseOkReply(Ask(ControlRequest::kRestart));
  EXPECT_TRUE(restarted.ok()) << restarted.message();
  EXPECT_EQ(restarts_.load(), 1);
  EXPECT_TRUE(AwaitLogged("Restart of the interfaces asked for on the control socket", seconds(2)));
}

TEST_F(ControlServerTest, BadLinesAreAnsweredWithAnErrorAndTheConnectionServesOn) {
  Start();
  ControlClient client;
  const Status connected = client.Connect(Socket());
  ASSERT_TRUE(connected.ok()) << connected.message();
  const int fd = client.Descriptor();
  struct Case {
    std::string line;
    std::string error;
  };
  for (const Case& bad : std::vector<Case>{{"nonsense\n", "not a JSON object"},
                                           {"[1,2]\n", "not a JSON object"},
                                           {"{\"request\": 7}\n", "no \"request\""},
                                           {"{\"request\": \"stop\"}\n", "unknown request"}}) {
    ASSERT_EQ(::send(fd, bad.line.data(), bad.line.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bad.line.size()));
    std::string reply;
    ASSERT_EQ(client.ReadLine(reply, seconds(2)), ControlClient::Read::kLine) << bad.line;
    const Status answered = ParseOkReply(reply);
    EXPECT_FALSE(answered.ok()) << bad.line;
    EXPECT_NE(answered.message().find(bad.error), std::string::npos) << bad.line << " -> " << answered.message();
  }
  std::string reply;
  const Status asked = client.Ask(ControlRequest::kStatus, reply);
  ASSERT_TRUE(asked.ok()) << asked.message();
  EXPECT_TRUE(ParseOkReply(reply).ok()) << reply;
}

TEST_F(ControlServerTest, ALineLongerThanFourKibibytesEndsTheConnection) {
  Start();
  ControlClient client;
  const Status connected = client.Connect(Socket());
  ASSERT_TRUE(connected.ok()) << connected.message();
  const std::string flood(8192, 'x');
  ::send(client.Descriptor(), flood.data(), flood.size(), MSG_NOSIGNAL);
  std::string reply;
  ASSERT_EQ(client.ReadLine(reply, seconds(2)), ControlClient::Read::kLine);
  EXPECT_NE(reply.find("longer than 4096"), std::string::npos) << reply;
  EXPECT_EQ(client.ReadLine(reply, seconds(2)), ControlClient::Read::kClosed);
}

TEST_F(ControlServerTest, AWatchGetsTheRowsShownSoFarThenEachNewRow) {
  Start();
  ControlClient watcher;
  const Status connected = watcher.Connect(Socket());
  ASSERT_TRUE(connected.ok()) << connected.message();
  std::string line;
  const Status asked = watcher.Ask(ControlRequest::kWatch, line);
  ASSERT_TRUE(asked.ok()) << asked.message();
  ASSERT_TRUE(ParseOkReply(line).ok()) << line;
  std::vector<std::string> rows;
  board_.AddRow("[01/02/24 10:00:01] Auth Response Received (IP) from WorldPay.");
  while (rows.size() < 2 && watcher.ReadLine(line, seconds(2)) == ControlClient::Read::kLine) {
    Note(line);
    std::string row;
    ASSERT_TRUE(ParseRowLine(line, row)) << line;
    rows.push_back(row);
  }
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "[01/02/24 10:00:00] Sending Auth Request (IP) to WorldPay.");
  EXPECT_EQ(rows[1], "[01/02/24 10:00:01] Auth Response Received (IP) from WorldPay.");
}

TEST_F(ControlServerTest, AWatcherThatDoesNotReadIsDroppedAndTheOthersGoOn) {
  ControlServerSettings settings;
  settings.answerLimit = milliseconds(300);
  settings.watchBacklog = 16 * 1024;
  settings.sendBuffer = 4096;
  Start(settings);
  ControlClient stalled;
  ControlClient reader;
  std::string line;
  for (ControlClient* client : {&stalled, &reader}) {
    ASSERT_TRUE(client->Connect(Socket()).ok());
    const Status asked = client->Ask(ControlRequest::kWatch, line);
    ASSERT_TRUE(asked.ok()) << asked.message();
  }
  ASSERT_EQ(reader.ReadLine(line, seconds(2)), ControlClient::Read::kLine);  // the row shown before
  // The stalled one's buffers fill; the row writer never waits for it, and the
  // reader gets every row.
  std::chrono::steady_clock::duration writing{};
  int seen = 0;
  for (int batch = 0; batch < 200; ++batch) {
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) {
      board_.AddRow("[01/02/24 10:00:02] Sending Auth Request (IP) to WorldPay. " + std::to_string(batch * 10 + i));
    }
    writing += std::chrono::steady_clock::now() - started;
    for (int i = 0; i < 10 && reader.ReadLine(line, seconds(5)) == ControlClient::Read::kLine; ++i) ++seen;
  }
  EXPECT_EQ(seen, 2000);
  EXPECT_LT(writing, seconds(1));
  EXPECT_TRUE(AwaitLogged("dropped", seconds(5)));
  // The dropped watcher finds its connection closed once it reads what was sent.
  ControlClient::Read read = ControlClient::Read::kLine;
  while (read == ControlClient::Read::kLine) read = stalled.ReadLine(line, seconds(5));
  EXPECT_EQ(read, ControlClient::Read::kClosed);
}

TEST_F(ControlServerTest, TheSeventeenthClientIsToldTheServerIsBusy) {
  Start();
  std::vector<std::unique_ptr<ControlClient>> clients;
  std::string error;
  std::string reply;
  for (int i = 0; i < 16; ++i) {
    clients.push_back(std::make_unique<ControlClient>());
    ASSERT_TRUE(clients.back()->Connect(Socket()).ok());
    // Answered: it holds its place.
    const Status asked = clients.back()->Ask(ControlRequest::kStatus, reply);
    ASSERT_TRUE(asked.ok()) << i << ": " << asked.message();
  }
  ControlClient extra;
  ASSERT_TRUE(extra.Connect(Socket()).ok());
  Status asked = extra.Ask(ControlRequest::kStatus, reply);
  if (asked.ok()) asked = ParseOkReply(reply);
  EXPECT_FALSE(asked.ok());
  EXPECT_NE(asked.message().find("busy: 16 clients"), std::string::npos) << asked.message();
  EXPECT_TRUE(AwaitLogged("16 clients are connected already", seconds(2)));
  // A place that is given up is free again.
  clients.pop_back();
  EXPECT_TRUE(testing::WaitFor(
      "a new client to be served",
      [&] {
        ControlClient again;
        Status answered = again.Connect(Socket());
        if (answered.ok()) answered = again.Ask(ControlRequest::kStatus, reply);
        if (answered.ok()) answered = ParseOkReply(reply);
        error = answered.message();
        return answered.ok();
      },
      seconds(5), milliseconds(20)))
      << error;
}

// Another user, in a child process: who it is and what it may do.
struct PeerCase {
  const char* name;
  bool inOperatorGroup;  // the child holds the operators' group
  bool openSocket;       // the socket's file permissions let anyone connect
  const char* expected;  // "ok", "refused" (by the server), "denied" (by the file system)
};

class ControlPeerTest : public ControlServerTest, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(ControlPeerTest, ThePeersCredentialsDecide) {
  const PeerCase& peer = GetParam();
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const gid_t operators = 4242;  // a group of its own for the test: no real one is needed
  ControlServerSettings settings;
  settings.operatorGroup = operators;
  Start(settings);
  ::chmod(dir_.Path().c_str(), 0711);
  if (peer.openSocket) ::chmod(Socket().c_str(), 0666);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child only becomes another user and answers through the pipe.
    ::close(pipeFds[0]);
    const gid_t groups[] = {operators};
    const bool dropped = ::setgroups(peer.inOperatorGroup ? 1 : 0, groups) == 0 && ::setgid(65534) == 0 &&
                         ::setuid(65534) == 0;
    const char* verdict = "setup";
    if (dropped) {
      ControlClient client;
      std::string reply;
      // Only Connect's failures have a code; the server's refusal is its text.
      Status answered = client.Connect(Socket());
      if (answered.ok()) answered = client.Ask(ControlRequest::kStatus, reply);
      if (answered.ok()) answered = ParseOkReply(reply);
      if (answered.ok()) {
        verdict = "ok";
      } else if (answered.code() == static_cast<int>(ControlConnect::kRefused)) {
        verdict = "denied";
      } else {
        verdict = IsAccessRefusal(answered.message()) ? "refused" : "failed";
      }
    }
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], verdict, std::strlen(verdict));
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  char buffer[32] = {};
  [[maybe_unused]] const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer - 1);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_STREQ(buffer, peer.expected) << peer.name;
  if (std::string(peer.expected) == "refused") {
    EXPECT_TRUE(AwaitLogged("Control connection refused for uid 65534", seconds(2)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Peers, ControlPeerTest,
    ::testing::Values(PeerCase{"another user, socket closed to it", false, false, "denied"},
                      PeerCase{"another user, socket open to it", false, true, "refused"},
                      PeerCase{"a member of the operators' group", true, false, "ok"}),
    [](const ::testing::TestParamInfo<PeerCase>& info) {
      return std::string(info.param.expected) + std::to_string(info.index);
    });

}  // namespace
}  // namespace paxelle
