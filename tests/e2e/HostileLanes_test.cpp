// One attacker at a time against the real server while a well-behaved lane,
// logged in before the attack, goes on selling: a slow sender, a login that
// never ends, a thousand idle connections, frames of every byte value. The
// lane's sales stay approved and about as fast as before the attack.
#include "tests/e2e/E2eFixture.h"
#include "tools/lane/LaneCrypto.h"
#include "tools/lane/LaneEnvelope.h"
#include "tools/lane/LaneFrames.h"
#include "tools/lane/LaneHex.h"
#include "tools/lane/LaneServerKey.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace paxelle::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

constexpr int kSales = 3;
constexpr int kIdleConnections = 1000;
// Latency is not measured for speed here, only for starvation: the bound is
// far above a sale's usual time and far below the 30 s a starved lane would wait.
constexpr auto kStarvationMargin = seconds(3);
// How long an attack may be held: as long as a whole case may run.
constexpr auto kAttackLimit = seconds(120);

enum class Attack { kSlowSender, kEndlessLogin, kThousandIdle, kEveryByteValue, kJunkFlood };

// What the junk flood sends: pieces with no ETX, each logged (and echoed in a
// refusal) as the server cuts them off at its message limit.
constexpr std::size_t kFloodBytes = 4 * 1024 * 1024;

std::string AttackName(const ::testing::TestParamInfo<Attack>& info) {
  switch (info.param) {
    case Attack::kSlowSender: return "SlowSender";
    case Attack::kEndlessLogin: return "EndlessLogin";
    case Attack::kThousandIdle: return "ThousandIdleConnections";
    case Attack::kEveryByteValue: return "EveryByteValue";
    case Attack::kJunkFlood: return "JunkFlood";
  }
  return "Unknown";
}

// Sockets connected (non-blocking, so a full accept queue cannot stall the
// test) and left idle; all closed when destroyed.
class IdleSockets {
 public:
  ~IdleSockets() {
    for (const int fd : fds_) ::close(fd);
  }
  void Open(std::uint16_t port, int count) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (fd < 0) break;
      fds_.push_back(fd);
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
  }
  std::size_t Size() const { return fds_.size(); }

 private:
  std::vector<int> fds_;
};

class E2eHostileLaneTest : public E2eTest, public ::testing::WithParamInterface<Attack> {
 protected:
  // One sale on the well-behaved lane; its round trip.
  milliseconds Sale(lane::LaneConnection& lane, int number) {
    const auto start = Clock::now();
    EXPECT_TRUE(lane.SendRequest(Payload(SalePairs("10.00", number)), "good")) << lane.LastError();
    std::string document;
    lane::CommandResponse response;
    EXPECT_TRUE(ReadFinal(lane, seconds(40), document, response)) << lane.LastError();
    EXPECT_EQ(response.cmdStatus, "Approved") << Scrubbed(document);
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  }

  // Runs the attack on its own thread until `stop`; sets `underWay` once it
  // is (and `over` when it ends, under way or not).
  void RunAttack(Attack kind, const std::atomic<bool>& stop, std::atomic<bool>& underWay, std::atomic<bool>& over) {
    std::atomic<bool>& ready = underWay;
    const auto holdUntilStopped = [&stop] {
      testing::WaitFor("the end of the attack", [&stop] { return stop.load(); }, kAttackLimit, milliseconds(50));
    };
    lane::LaneConnection attacker;
    attacker.SetStopFlag(&stop);
    switch (kind) {
      case Attack::kSlowSender: {
        lane::LoginResult result;
        if (!attacker.Connect("127.0.0.1", ClientPort()) || !attacker.Login("", false, result)) break;
        const std::string frame = "slow" + std::string(1, lane::kFs) + "200" + '\x02' + std::string(200, 'A');
        ready = true;
        for (std::size_t i = 0; i < frame.size() && !stop; ++i) {
          attacker.SendRaw(frame.substr(i, 1));
          // The trickle is the attack: a byte a second, the pause cut short by the stop.
          for (int tick = 0; tick < 10 && !stop; ++tick) std::this_thread::sleep_for(milliseconds(100));
        }
        break;
      }
      case Attack::kEndlessLogin: {
        lane::LaneResponse greeting;
        if (!attacker.Connect("127.0.0.1", ClientPort()) ||
            attacker.ReadResponse(seconds(10), greeting) != lane::ReadStatus::kOk) {
          break;
        }
        ready = true;
        // The trickle is the attack: a byte every 100 ms.
        while (!stop && attacker.SendRaw("A")) std::this_thread::sleep_for(milliseconds(100));
        break;
      }
      case Attack::kThousandIdle: {
        IdleSockets idle;
        idle.Open(ClientPort(), kIdleConnections);
        ready = idle.Size() == static_cast<std::size_t>(kIdleConnections);
        holdUntilStopped();
        break;
      }
      case Attack::kEveryByteValue: {
        lane::LoginResult result;
        if (!attacker.Connect("127.0.0.1", ClientPort()) || !attacker.Login("", false, result)) break;
        std::string bytes;
        for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<char>(value));
        ready = true;
        // Replies are never read: the server must not wait on this lane for the others.
        for (int round = 0; round < 200 && !stop && attacker.SendRaw(bytes); ++round) {
          // Paced: the rounds keep coming while the good lane sells, not all at once.
          std::this_thread::sleep_for(milliseconds(10));
        }
        holdUntilStopped();
        break;
      }
      case Attack::kJunkFlood: {
        lane::LoginResult result;
        if (!attacker.Connect("127.0.0.1", ClientPort()) || !attacker.Login("", false, result)) break;
        const std::string junk(16 * 1024, 'J');
        ready = true;
        for (std::size_t sent = 0; sent < kFloodBytes && !stop && attacker.SendRaw(junk); sent += junk.size()) {
        }
        holdUntilStopped();
        break;
      }
    }
    over = true;
  }
};

TEST_P(E2eHostileLaneTest, WellBehavedLaneIsServedAsUsual) {
  // A thousand sockets need more descriptors than a shell's default gives this process.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  lane::LaneConnection good;
  ASSERT_NO_FATAL_FAILURE(LogIn(good));

  milliseconds usual{0};
  for (int i = 0; i < kSales; ++i) usual = std::max(usual, Sale(good, 6000 + i));

  std::atomic<bool> stop{false};
  std::atomic<bool> underWay{false};
  std::atomic<bool> over{false};
  std::thread attacker([&] { RunAttack(GetParam(), stop, underWay, over); });
  EXPECT_TRUE(testing::WaitFor("the attack to start", [&] { return underWay || over; }, seconds(20), kPollStep));
  EXPECT_TRUE(underWay) << "the attack could not start";
  // A pause, not a wait: the sales are to be measured with the attack in full swing.
  std::this_thread::sleep_for(milliseconds(500));

  milliseconds worst{0};
  for (int i = 0; i < kSales; ++i) worst = std::max(worst, Sale(good, 6100 + i));
  if (GetParam() == Attack::kJunkFlood) {
    // Let the whole flood arrive, then measure what it cost the log.
    EXPECT_TRUE(testing::WaitFor(
        "the log's suppression",
        [&] { return ServerLog().find("suppressed until the minute ends") != std::string::npos; }, seconds(20),
        kPollStep));
    // What the server reads of the rest shows nowhere outside: a pause lets it read on.
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_LT(ServerLog().size(), 1024u * 1024u) << "a " << kFloodBytes << "-byte flood may not grow the log by as much";
  }
  stop = true;
  attacker.join();
  EXPECT_LT(worst, usual + kStarvationMargin) << "usual " << usual.count() << " ms";
  EXPECT_TRUE(PortAccepts(ClientPort())) << "the server still accepts lanes";
  if (GetParam() == Attack::kThousandIdle) {
    // Past the limit and the refusing ceiling, connections were closed at once, not given threads.
    EXPECT_TRUE(testing::WaitFor("\"closed at once\" in the log",
                                 [&] { return ServerLog().find("closed at once") != std::string::npos; }, seconds(10),
                                 kPollStep));
  }
}

INSTANTIATE_TEST_SUITE_P(Attacks, E2eHostileLaneTest,
                         ::testing::Values(Attack::kSlowSender, Attack::kEndlessLogin, Attack::kThousandIdle,
                                           Attack::kEveryByteValue, Attack::kJunkFlood),
                         AttackName);

class E2eReplayTest : public E2eTest {
 protected:
  // A sale sealed as a lane seals it, under the server's key: the frame an
  // attacker would capture on the network.
  std::string SealedSale(const std::string& amount, int number) {
    std::string blob;
    EXPECT_TRUE(lane::HexToBytes(GreetingKey(), blob));
    lane::LaneCrypto crypto;
    lane::LaneServerKey key;
    EXPECT_TRUE(key.Import(crypto, blob));
    const std::vector<std::string> pairs = SalePairs(amount, number);
    NoteSentCardData(pairs);
    lane::SealedRequest sealed;
    EXPECT_TRUE(lane::SealRequest(crypto, key, Payload(pairs), "trace", lane::kTypeEncrypted, sealed).ok());
    return sealed.frame;
  }

  // Sends `frame` on a new logged-in connection; the final answer, raw.
  std::string SendOnNewConnection(const std::string& frame) {
    lane::LaneConnection lane;
    LogIn(lane);
    EXPECT_TRUE(lane.SendRaw(frame)) << lane.LastError();
    std::string answer;
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(lane.ReadFrame(seconds(20), answer), lane::ReadStatus::kOk) << lane.LastError();
      if (answer.find("Queued:") == std::string::npos) break;
    }
    return answer;
  }
};

// A sealed sale captured and sent again on another connection does not reach the
// host twice; a copy of one that was declined is a new request.
TEST_F(E2eReplayTest, AnExactCopyOfARequestIsRefusedUnlessTheFirstWasNotApproved) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const std::string approved = SealedSale("10.00", 6301);
  EXPECT_EQ(SendOnNewConnection(approved).find("004003"), std::string::npos) << "the first copy goes to the host";
  const std::string replayed = SendOnNewConnection(approved);
  EXPECT_NE(replayed.find("<OPXXReturnCode>004003</OPXXReturnCode>"), std::string::npos) << Scrubbed(replayed);
  EXPECT_NE(replayed.find("Duplicate request refused - the first may have been processed."), std::string::npos);
  EXPECT_EQ(Journal("REQUEST").size(), 1u);
  EXPECT_TRUE(WaitForServerLog("Duplicate request refused for ", seconds(10)));

  const std::string declined = SealedSale("10.01", 6302);
  SendOnNewConnection(declined);
  SendOnNewConnection(declined);
  EXPECT_EQ(Journal("REQUEST").size(), 3u) << "the lane's retry of a declined sale is a new request";
}

// With the shared password on, a guesser from one address is slowed after five
// failures; a lane already logged in sells on, and a correct login clears it.
TEST_F(E2eTest, PasswordGuessesFromOneAddressAreSlowed) {
  ASSERT_NO_FATAL_FAILURE(Provision({"7=Y", "8=secret"}));
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const auto guess = [this](const std::string& password) {
    lane::LaneConnection lane;
    lane::LoginResult result;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(lane.Connect("127.0.0.1", ClientPort()));
    EXPECT_TRUE(lane.Login(password, false, result)) << lane.LastError();
    return std::make_pair(result.code, std::chrono::steady_clock::now() - start);
  };
  for (int i = 0; i < 5; ++i) EXPECT_EQ(guess("wrong").first, 2009);
  const auto slowed = guess("wrong");
  EXPECT_EQ(slowed.first, 2009);
  EXPECT_GE(slowed.second, std::chrono::milliseconds(1000)) << "the sixth answer waits";
  EXPECT_TRUE(WaitForServerLog("Login failures from 127.0.0.1: too many within a minute", seconds(10)));

  const auto right = guess("secret");
  EXPECT_EQ(right.first, 2000);
  EXPECT_GE(right.second, std::chrono::milliseconds(2000)) << "a slowed address waits for every answer";
  EXPECT_LT(guess("wrong").second, std::chrono::milliseconds(1000)) << "a correct login cleared it";
}

// Text a lane controls cannot write entries of its own into the log: control
// characters in its trace data and fields are shown as text.
TEST_F(E2eTest, LaneTextCannotForgeLogEntries) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const std::string forged = "\r\n----------\r\n[12:00:00]Completion [COMPLETED] Sent on this Transaction for x\r\n";
  lane::LaneConnection lane;
  ASSERT_NO_FATAL_FAILURE(LogIn(lane));
  std::vector<std::string> sale = SalePairs("10.00", 6201);
  sale.push_back("Memo=m" + forged);
  NoteSentCardData(sale);
  ASSERT_TRUE(lane.SendRequest(Payload(sale), "trace" + forged)) << lane.LastError();
  std::string document;
  lane::CommandResponse final;
  ASSERT_TRUE(ReadFinal(lane, seconds(20), document, final)) << lane.LastError();
  EXPECT_NE(document.find("[12:00:00]Completion [COMPLETED]"), std::string::npos) << "the lane gets its text back";
  ASSERT_TRUE(lane.SendRaw("refused" + forged + "\x03"));
  ASSERT_TRUE(ReadFinal(lane, seconds(20), document, final)) << lane.LastError();

  ASSERT_TRUE(WaitForServerLog("refused<CR><LF>", seconds(10))) << ServerLog();
  const std::string log = ServerLog();
  EXPECT_EQ(log.find("\r\n[12:00:00]Completion"), std::string::npos) << "no line of the log is the lane's";
  EXPECT_NE(log.find("<CR><LF>[12:00:00]Completion"), std::string::npos);
}

}  // namespace
}  // namespace paxelle::e2e
