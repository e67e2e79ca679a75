// The load command: percentiles and the summary line, and whole runs against
// several scripted connections on loopback.
#include "tools/lane/LoadRun.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "client/MessageCrypto.h"
#include "core/ResponseDocuments.h"
#include "tests/lane/FakeServer.h"
#include "tests/lane/LaneTestSupport.h"

namespace paxelle::lane {
namespace {

using namespace std::chrono_literals;
using testing::FakePeer;
using testing::FakeRequest;
using testing::ServeLogin;

// ---------------------------------------------------------------------------
// Pure parts

TEST(LoadSummaryTest, NearestRankPercentiles) {
  std::vector<double> hundred;
  for (int i = 1; i <= 100; ++i) hundred.push_back(i);
  std::vector<double> thousand;
  for (int i = 1; i <= 1000; ++i) thousand.push_back(i);
  const struct {
    std::vector<double> sorted;
    int percent;
    double expected;
  } cases[] = {
      {{}, 50, 0},         {{7}, 50, 7},           {{7}, 99, 7},         {{1, 2}, 50, 1},
      {{1, 2}, 99, 2},     {{1, 2, 3}, 50, 2},     {hundred, 50, 50},    {hundred, 99, 99},
      {hundred, 100, 100}, {hundred, 1, 1},        {thousand, 99, 990},  {thousand, 50, 500},
      {{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 99, 100}, {{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 50, 50},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NearestRankPercentile(c.sorted, c.percent), c.expected)
        << c.sorted.size() << " values, p" << c.percent;
  }
}

TEST(LoadSummaryTest, SummaryLineIsStableAndCountsOnlyAnsweredRequestsPerSecond) {
  LoadTotals totals;
  totals.lanes = 2;
  totals.requests = 6;
  totals.approved = 3;
  totals.declined = 1;
  totals.errors = 2;
  totals.unanswered = 1;
  totals.seconds = 2.0;
  totals.latenciesMs = {250.75, 100.0, 120.04, 99.96, 300.0};  // unsorted on purpose
  EXPECT_EQ(FormatLoadSummary(totals),
            "load lanes=2 requests=6 approved=3 declined=1 errors=2 seconds=2.0 tps=2.5 p50_ms=120.0 p99_ms=300.0");

  LoadTotals empty;
  empty.lanes = 1;
  empty.requests = 4;
  empty.errors = 4;
  empty.unanswered = 4;
  EXPECT_EQ(FormatLoadSummary(empty),
            "load lanes=1 requests=4 approved=0 declined=0 errors=4 seconds=0.0 tps=0.0 p50_ms=0.0 p99_ms=0.0");
}

std::map<std::string, std::string> SplitPayload(const std::string& payload) {
  std::map<std::string, std::string> fields;
  std::istringstream in(payload);
  std::string pair;
  while (std::getline(in, pair, '\x1C')) {
    const std::size_t equals = pair.find('=');
    fields[pair.substr(0, equals)] = equals == std::string::npos ? "" : pair.substr(equals + 1);
  }
  return fields;
}

TEST(LoadSummaryTest, EachSaleIsAKeyedCreditSaleOfItsLane) {
  const auto fields = SplitPayload(BuildLoadSalePayload(7, 130, "12.34"));
  const std::map<std::string, std::string> expected = {
      {"TStream", "Transaction"}, {"MerchantID", "1"},    {"ClientID", "7"},
      {"TranType", "Credit"},     {"TranCode", "Sale"},   {"InvoiceNo", "130"},
      {"RefNo", "130"},           {"ExpDate", "1229"},    {"Purchase", "12.34"},
      {"AcctNo", std::string(kLoadTestAccount)},
  };
  // Compared without printing: the payload holds an account number.
  EXPECT_TRUE(fields == expected) << "the sale's fields differ";
}

// ---------------------------------------------------------------------------
// Whole runs

// Accepts up to `connections` lanes on loopback and serves each with `script`
// on its own thread; every wait is bounded.
class LaneFarm {
 public:
  LaneFarm(int connections, std::function<void(FakePeer&)> script) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this, connections, script = std::move(script)] {
      for (int i = 0; i < connections; ++i) {
        pollfd descriptor{listener_, POLLIN, 0};
        if (::poll(&descriptor, 1, 10000) <= 0) return;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        workers_.emplace_back([fd, script] {
          FakePeer peer(fd);
          script(peer);
          ::close(fd);
        });
      }
    });
  }
  ~LaneFarm() {
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread& worker : workers_) worker.join();
    if (listener_ >= 0) ::close(listener_);
  }
  LaneFarm(const LaneFarm&) = delete;
  LaneFarm& operator=(const LaneFarm&) = delete;

  int Port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread acceptor_;
  std::vector<std::thread> workers_;  // touched by the acceptor only, until it is joined
};

std::string StatusDocument(char letter, const std::string& text, const std::string& trace) {
  paxelle::CommandResponse reply;
  reply.origin = "Processor";
  reply.code = "000000";
  reply.statusLetter = letter;
  reply.text = text;
  reply.userTraceData = trace;
  return BuildCommandDocument(reply);
}

class LoadRunTest : public testing::ServerCryptoSuite {
 protected:
  void SetUp() override { ASSERT_TRUE(started_) << "the server's crypto did not start"; }

  static LaneSessionOptions Session(int port) {
    LaneSessionOptions session;
    session.port = port;
    session.trace = "load";
    session.timeout = 5s;
    return session;
  }

};

TEST_F(LoadRunTest, EveryLaneSendsItsSalesAndTheOutcomesAreCounted) {
  constexpr int kLanes = 3;
  constexpr int kCount = 4;
  std::mutex seenMutex;
  std::multiset<std::string> invoices;
  std::map<std::string, int> salesPerClient;
  int wrongFields = 0;
  LaneFarm farm(kLanes, [&](FakePeer& peer) {
    if (ServeLogin(peer, *server_, "pw").replyCode != 2000) return;
    for (int i = 0; i < kCount; ++i) {
      std::string message;
      FakeRequest request;
      if (!peer.ReadMessage(message) || !OpenRequest(*server_, message, request)) return;
      auto fields = SplitPayload(request.payload);
      {
        std::lock_guard<std::mutex> lock(seenMutex);
        invoices.insert(fields["InvoiceNo"]);
        ++salesPerClient[fields["ClientID"]];
        if (fields["RefNo"] != fields["InvoiceNo"] || fields["Purchase"] != "3.00" ||
            fields["AcctNo"] != kLoadTestAccount || request.userTrace != "load") {
          ++wrongFields;
        }
      }
      // Lane 1 is approved, lane 2 declined; lane 3's second sale meets a batch close.
      const std::string& client = fields["ClientID"];
      if (client == "3" && i == 1) {
        peer.SendReply(0, 'S', "Queued:045:000", request.userTrace);
        peer.SendReply(4015, 'E', "Batch Settlement in Progress.");
      } else {
        AnswerRequest(peer, *server_, request,
                      StatusDocument(client == "2" ? 'D' : 'A', client == "2" ? "DECLINED" : "APPROVED",
                                     request.userTrace));
      }
    }
    peer.WaitForClose();
  });
  LaneSessionOptions session = Session(farm.Port());
  session.password = "pw";
  const LoadTotals totals = RunLoad(session, {kLanes, kCount, "3.00"});

  EXPECT_EQ(totals.lanes, kLanes);
  EXPECT_EQ(totals.requests, kLanes * kCount);
  EXPECT_EQ(totals.approved, 7);
  EXPECT_EQ(totals.declined, 4);
  EXPECT_EQ(totals.errors, 1);
  EXPECT_EQ(totals.unanswered, 0);
  EXPECT_EQ(totals.latenciesMs.size(), static_cast<std::size_t>(kLanes * kCount));
  EXPECT_TRUE(totals.laneErrors.empty());
  std::lock_guard<std::mutex> lock(seenMutex);
  EXPECT_EQ(invoices.size(), static_cast<std::size_t>(kLanes * kCount));
  EXPECT_EQ(std::set<std::string>(invoices.begin(), invoices.end()).size(), invoices.size()) << "InvoiceNo repeated";
  EXPECT_EQ(salesPerClient, (std::map<std::string, int>{{"1", kCount}, {"2", kCount}, {"3", kCount}}));
  EXPECT_EQ(wrongFields, 0);
}

TEST_F(LoadRunTest, ALaneWithoutAnAnswerStopsAndTheRunIsReportedIncomplete) {
  // Each connection answers its first sale; the one that got ClientID 2 then falls silent.
  LaneFarm farm(2, [](FakePeer& peer) {
    if (ServeLogin(peer, *server_, "").replyCode != 2000) return;
    for (int i = 0; i < 4; ++i) {
      std::string message;
      FakeRequest request;
      if (!peer.ReadMessage(message) || !OpenRequest(*server_, message, request)) return;
      if (i > 0 && SplitPayload(request.payload)["ClientID"] == "2") break;
      AnswerRequest(peer, *server_, request, StatusDocument('A', "APPROVED", request.userTrace));
    }
    peer.WaitForClose();
  });
  LaneSessionOptions session = Session(farm.Port());
  session.timeout = 500ms;
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunLoadCommand(session, {2, 4, "10.00"}, out, err), kExitLoadIncomplete);
  EXPECT_TRUE(out.str().starts_with("load lanes=2 requests=8 approved=5 declined=0 errors=3 seconds="))
      << out.str();
  EXPECT_NE(err.str().find("1 lane stopped: no final response within 500 ms"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("3 of 8 requests got no final response"), std::string::npos) << err.str();
}

TEST_F(LoadRunTest, LanesThatCannotConnectCountEveryRequestAsAnError) {
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunLoadCommand(Session(testing::UnusedPort()), {3, 2, "10.00"}, out, err), kExitLoadIncomplete);
  EXPECT_TRUE(out.str().starts_with("load lanes=3 requests=6 approved=0 declined=0 errors=6 ")) << out.str();
  EXPECT_NE(err.str().find("3 lanes stopped: cannot connect"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace paxelle::lane
