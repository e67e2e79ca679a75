#include "app/TrafficView.h"

#include "common/TrafficLog.h"
#include "config/ParamStore.h"
#include "core/PendingQueue.h"
#include "host/BatchState.h"
#include "host/SequenceCounters.h"
#include "tests/common/LocalMoment.h"
#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace paxelle {
namespace {

using std::chrono::milliseconds;
using testing::LocalMoment;
using Journal = std::vector<std::string>;

TEST(TrafficTextTest, RowStampAndTitles) {
  const std::time_t when = LocalMoment(2015, 12, 8, 14, 3, 22);
  EXPECT_EQ(TrafficRowText(when, "Sending Auth Request (IP) to WorldPay."),
            "[12/08/15 14:03:22] Sending Auth Request (IP) to WorldPay.");
  EXPECT_EQ(RunningTitle(3, 12, when),
            "  Paxelle XML 5.0 RBS WorldPay-Lynk #Requests-> 3    #Sockets-> 12     14:03:22");
  EXPECT_STREQ(kOfflineTitle, "Paxelle XML 5.0 WorldPay OFFLINE       OFFLINE");
}

TEST(TrafficTextTest, RowMessagesOfTheHostEvents) {
  EXPECT_STREQ(TrafficRowMessage(HostTrafficEvent::kSendingIp), "Sending Auth Request (IP) to WorldPay.");
  EXPECT_STREQ(TrafficRowMessage(HostTrafficEvent::kReceivedIp), "Auth Response Received (IP) from WorldPay.");
  EXPECT_STREQ(TrafficRowMessage(HostTrafficEvent::kSendingDial), "Sending Auth Request (Dial) to WorldPay.");
  EXPECT_STREQ(TrafficRowMessage(HostTrafficEvent::kReceivedDial),
               "Auth Response Received (Dial) from WorldPay.");
}

TEST(TrafficRowsTest, NewestFirstAndCutBackTo25After50) {
  TrafficRows rows;
  for (int i = 1; i <= 50; ++i) rows.Add("row " + std::to_string(i));
  ASSERT_EQ(rows.Rows().size(), 50u);
  EXPECT_EQ(rows.Rows().front(), "row 50");
  EXPECT_EQ(rows.Rows().back(), "row 1");

  rows.Add("row 51");
  ASSERT_EQ(rows.Rows().size(), 25u);
  for (std::size_t i = 0; i < 25; ++i) EXPECT_EQ(rows.Rows()[i], "row " + std::to_string(51 - i));

  for (int i = 52; i <= 76; ++i) rows.Add("row " + std::to_string(i));
  EXPECT_EQ(rows.Rows().size(), 50u) << "the list fills up to 50 again before the next cut";
  rows.Add("row 77");
  EXPECT_EQ(rows.Rows().size(), 25u);
  EXPECT_EQ(rows.Rows().front(), "row 77");
  EXPECT_EQ(rows.Rows().back(), "row 53");
}

// Every call the view makes, in order, in one journal; the fake clocks move
// only when the view sleeps.
struct World {
  Journal journal;
  std::chrono::steady_clock::time_point now{};
  milliseconds slept{0};
  // Operator answers to the retry question, used up front to back; then No.
  std::deque<bool> retryAnswers;
  bool stopAnswer = true;
  // Host: the Start results in turn (then true).
  std::deque<bool> hostStarts;
  bool dialStarts = true;
  int listenerStartCode = 0;
  int listenerStopResult = 0;
  // Connection count by elapsed milliseconds since the drain began (begin, end).
  std::vector<std::pair<milliseconds, milliseconds>> connectedSpans;
  std::chrono::steady_clock::time_point drainBegin{};
  bool draining = false;
  int alwaysConnected = 0;
  int listenersCreated = 0;

  milliseconds Elapsed() const { return std::chrono::duration_cast<milliseconds>(now - drainBegin); }
  int Connections() const {
    if (alwaysConnected) return alwaysConnected;
    if (!draining) return 0;
    for (const auto& [begin, end] : connectedSpans) {
      if (Elapsed() >= begin && Elapsed() < end) return 1;
    }
    return 0;
  }
};

class FakeOperator final : public IOperatorInterface {
 public:
  explicit FakeOperator(World& world) : world_(world) {}
  void ShowMessage(const std::string& text) override { world_.journal.push_back("message: " + text); }
  void ShowNotice(const std::string& text) override { world_.journal.push_back("notice: " + text); }
  bool AskYesNo(OperatorQuestion question, const std::string& text) override {
    world_.journal.push_back("ask: " + text);
    if (question == OperatorQuestion::kStopWithClients) return world_.stopAnswer;
    if (world_.retryAnswers.empty()) return false;
    const bool answer = world_.retryAnswers.front();
    world_.retryAnswers.pop_front();
    return answer;
  }
  void ShowWait() override { world_.journal.push_back("wait box"); }
  void SetWaitText(const std::string& text) override { world_.journal.push_back("wait: " + text); }
  void CloseWait() override { world_.journal.push_back("wait closed"); }
  void ShowOfflineTitle() override { world_.journal.push_back("offline title"); }
  void SetStatusTitle(const std::string& title, int requests, int sockets) override {
    world_.journal.push_back("title " + std::to_string(requests) + "/" + std::to_string(sockets) + ": " + title);
  }
  void NoteInterfacesStopped() override { world_.journal.push_back("stopped"); }
  void AddTrafficRow(const std::string& row) override { world_.journal.push_back("row: " + row); }

 private:
  World& world_;
};

class FakeListener final : public ClientListenerControl {
 public:
  explicit FakeListener(World& world) : world_(world) {
    world_.journal.push_back("listener created");
    ++world_.listenersCreated;
  }
  ~FakeListener() override {
    world_.journal.push_back("listener destroyed after " + std::to_string(world_.Elapsed().count()) + " ms");
    world_.draining = false;
  }
  int SetConnectionLimit(int limit) override {
    world_.journal.push_back("listener limit " + std::to_string(limit));
    return limit;
  }
  int StartOnClientPort() override {
    world_.journal.push_back("listener start");
    return world_.listenerStartCode;
  }
  int Stop() override {
    world_.journal.push_back("listener stop");
    return world_.listenerStopResult;
  }
  int ConnectionCount() const override { return world_.Connections(); }
  void SetGoingOffline(bool goingOffline) override {
    world_.journal.push_back(goingOffline ? "listener going offline" : "listener online");
    world_.draining = true;
    world_.drainBegin = world_.now;
  }

 private:
  World& world_;
};

class FakeHost final : public HostInterfaceControl {
 public:
  explicit FakeHost(World& world) : world_(world) {}
  bool Start() override {
    world_.journal.push_back("host start");
    if (world_.hostStarts.empty()) return true;
    const bool result = world_.hostStarts.front();
    world_.hostStarts.pop_front();
    return result;
  }
  int Stop() override {
    world_.journal.push_back("host stop");
    return 1;
  }
  std::string LastErrorText() const override { return "Failed to Connect to WorldPay!\nrefused"; }

 private:
  World& world_;
};

class FakeDial final : public DialBackupControl {
 public:
  explicit FakeDial(World& world) : world_(world) {}
  bool Start(int portNumber) override {
    world_.journal.push_back("dial start " + std::to_string(portNumber));
    return world_.dialStarts;
  }
  void Stop() override { world_.journal.push_back("dial stop"); }
  std::string LastError() const override { return "Could not Open Com Port 4."; }

 private:
  World& world_;
};

class TrafficViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    store_.SetPath(dir_ / "params");
  }

  void Configure(const std::map<int, std::string>& values) {
    CMerchantParams set;
    ASSERT_TRUE(set.SetValue(kParamMerchantId, "123456789012345"));
    for (const auto& [number, value] : values) ASSERT_TRUE(set.SetValue(number, value)) << number;
    ASSERT_TRUE(store_.Save(set));
  }

  COpxView& View() {
    if (!view_) {
      ViewServices services{
          store_,
          batch_,
          counters_,
          pending_,
          [this](const std::string& text) { world_.journal.push_back("log: " + text); },
          [this] { return clockTime_; },
          [this](milliseconds duration) {
            world_.now += duration;
            world_.slept += duration;
          },
          [this] { return world_.now; },
          runBlocking_,
      };
      ViewInterfaces interfaces{
          [this] { return std::make_unique<FakeListener>(world_); },
          std::make_unique<FakeHost>(world_),
          std::make_unique<FakeDial>(world_),
      };
      view_ = std::make_unique<COpxView>(operator_, std::move(services), std::move(interfaces));
    }
    return *view_;
  }

  // The journal so far; the next Take starts afresh.
  Journal Take() {
    Journal taken = std::move(world_.journal);
    world_.journal.clear();
    return taken;
  }

  static Journal StopSequence(const std::string& listenerPart) {
    Journal expected = {"wait box", "wait: Stopping New Client Connections ..."};
    if (!listenerPart.empty()) expected.push_back("listener stop");
    for (const char* step : {"wait: Shutting down WORLDPAY Interface ...", "host stop",
                             "wait: Shutting down Dial Backup...", "dial stop", "wait: Shutting down Clients..."}) {
      expected.push_back(step);
    }
    if (!listenerPart.empty()) {
      expected.push_back("listener going offline");
      expected.push_back(listenerPart);
    }
    for (const char* step : {"log: Interfaces Stopped.", "stopped", "wait closed"}) expected.push_back(step);
    return expected;
  }

  testing::TempDir dir_;
  CTrafficLog log_{(dir_ / kLogDirectoryName).string()};
  CParamStore store_;
  CBatchState batch_{dir_.Path(), log_};
  CSequenceCounters counters_{dir_.Path(), log_};
  PendingQueue pending_;
  std::time_t clockTime_ = LocalMoment(2015, 12, 8, 14, 3, 22);
  World world_;
  FakeOperator operator_{world_};
  std::function<void(const std::function<void()>&)> runBlocking_;
  std::unique_ptr<COpxView> view_;
};

TEST_F(TrafficViewTest, ParametersNotSetStartNothing) {
  View().StartInterfaces();
  EXPECT_EQ(Take(), (Journal{"offline title", "wait box",
                             "message: Configuration not Set! - Use Setup | Merchant Parameters", "wait closed"}));
  EXPECT_FALSE(View().IsRunning());
  EXPECT_FALSE(View().HasListener());
}

TEST_F(TrafficViewTest, ParametersOfAnotherVersionStartNothing) {
  CMerchantParams defaults;
  ASSERT_TRUE(store_.Save(CMerchantParams(defaults.Entries(), "3")));
  View().StartInterfaces();
  EXPECT_EQ(Take(), (Journal{"offline title", "wait box",
                             "message: Problem reading Configuration File - Use Setup | Merchant Parameters",
                             "wait closed"}));
  EXPECT_FALSE(View().IsRunning());
}

TEST_F(TrafficViewTest, IpOnlyStartsHostThenListener) {
  Configure({{kParamTransportMethod, "0"}});
  CRequest queued;
  ASSERT_EQ(pending_.Enqueue(queued), PendingQueue::kAccepted);

  View().StartInterfaces();
  EXPECT_EQ(Take(), (Journal{"offline title", "wait box", "wait: Attempting to Connect to WorldPay  ...",
                             "host start", "wait: Initializing Client TCP/IP Interface....", "listener created",
                             "listener limit 200", "listener start",
                             "log: TCP/IP Server initialized successfully.",
                             "log: Interfaces initialized successfully.", "wait closed"}));
  EXPECT_TRUE(View().IsRunning());
  EXPECT_EQ(pending_.ActiveCount(), 0) << "the pending queue starts empty";
  EXPECT_EQ(world_.slept, milliseconds(100)) << "two 50 ms pauses";
}

TEST_F(TrafficViewTest, DialTransportsStartTheDialBackupOnTheConfiguredPort) {
  for (const char* method : {"1", "2"}) {
    SCOPED_TRACE(method);
    Configure({{kParamTransportMethod, method}, {kParamModemComPort, "4"}});
    View().StartInterfaces();
    const std::string waitText = std::string(method) == "2" ? "wait: Attempting to Start Main Worker..."
                                                            : "wait: Attempting to Connect to WorldPay  ...";
    EXPECT_EQ(Take(), (Journal{"offline title", "wait box", waitText, "host start",
                               "wait: Starting Dial Backup Support...", "dial start 4",
                               "wait: Initializing Client TCP/IP Interface....", "listener created",
                               "listener limit 200", "listener start",
                               "log: TCP/IP Server initialized successfully.",
                               "log: Interfaces initialized successfully.", "wait closed"}));
    View().StopInterfaces();
    Take();
  }
}

TEST_F(TrafficViewTest, HostStartRetriedWhileTheOperatorSaysYes) {
  Configure({});
  world_.hostStarts = {false, false, true};
  world_.retryAnswers = {true, true};
  View().StartInterfaces();
  const Journal journal = Take();
  const std::string question = "ask: Failed to Connect to WorldPay!\nrefused\r\n   Retry?";
  EXPECT_EQ(Journal(journal.begin() + 2, journal.begin() + 8),
            (Journal{"wait: Attempting to Connect to WorldPay  ...", "host start", question, "host start", question,
                     "host start"}));
  EXPECT_TRUE(View().IsRunning());
}

TEST_F(TrafficViewTest, HostStartRefusedRetryStopsEverything) {
  Configure({});
  world_.hostStarts = {false};
  View().StartInterfaces();
  Journal expected = {"offline title", "wait box", "wait: Attempting to Connect to WorldPay  ...", "host start",
                      "ask: Failed to Connect to WorldPay!\nrefused\r\n   Retry?"};
  for (const std::string& step : StopSequence("")) expected.push_back(step);
  expected.push_back("wait closed");
  EXPECT_EQ(Take(), expected);
  EXPECT_FALSE(View().IsRunning());
  EXPECT_EQ(world_.listenersCreated, 0);
  View().OnStatusTimer();
  EXPECT_TRUE(Take().empty()) << "the status timer is off";
}

TEST_F(TrafficViewTest, DialBackupFailureShowsItsTextAndStops) {
  Configure({{kParamTransportMethod, "1"}, {kParamModemComPort, "4"}});
  world_.dialStarts = false;
  View().StartInterfaces();
  Journal expected = {"offline title", "wait box", "wait: Attempting to Connect to WorldPay  ...", "host start",
                      "wait: Starting Dial Backup Support...", "dial start 4",
                      "message: Could not Open Com Port 4."};
  for (const std::string& step : StopSequence("")) expected.push_back(step);
  expected.push_back("wait closed");
  EXPECT_EQ(Take(), expected);
  EXPECT_EQ(world_.listenersCreated, 0);
}

TEST_F(TrafficViewTest, ListenerFailureIsLoggedWithItsCode) {
  Configure({});
  world_.listenerStartCode = 3;
  View().StartInterfaces();
  Journal expected = {"offline title", "wait box", "wait: Attempting to Connect to WorldPay  ...", "host start",
                      "wait: Initializing Client TCP/IP Interface....", "listener created", "listener limit 200",
                      "listener start", "message: Failed to start TCP/IP Server!",
                      "log: Failed to initialize TCP/IP Server interface return code: 3.",
                      "listener destroyed after 100 ms"};
  for (const std::string& step : StopSequence("")) expected.push_back(step);
  expected.push_back("wait closed");
  EXPECT_EQ(Take(), expected);
  EXPECT_FALSE(View().IsRunning());
  EXPECT_FALSE(View().HasListener());
}

TEST_F(TrafficViewTest, StopKeepsTheListenerFiveSecondsAfterTheLastClient) {
  Configure({});
  View().StartInterfaces();
  Take();
  world_.listenerStopResult = 1;
  // One client leaves after 1.5 s; another comes and goes during the settle time.
  world_.connectedSpans = {{milliseconds(0), milliseconds(1500)}, {milliseconds(3000), milliseconds(4200)}};
  View().StopInterfaces();
  Journal expected = StopSequence("listener destroyed after 6500 ms");
  expected.insert(expected.begin() + 3, "message: Error Stopping TCP/IP Accept thread!");
  EXPECT_EQ(Take(), expected);
  EXPECT_FALSE(View().HasListener());
  EXPECT_FALSE(View().IsRunning());
}

TEST_F(TrafficViewTest, StopWithNoClientsStillSettlesFiveSeconds) {
  Configure({});
  View().StartInterfaces();
  Take();
  View().StopInterfaces();
  EXPECT_EQ(Take(), StopSequence("listener destroyed after 5000 ms"));
  View().StopInterfaces();
  EXPECT_EQ(Take(), StopSequence("")) << "stopping again does nothing harmful";
}

TEST_F(TrafficViewTest, ClientsThatNeverLeaveAreWaitedForOnlyUpToTheLimit) {
  Configure({});
  View().StartInterfaces();
  Take();
  world_.alwaysConnected = 2;
  View().StopInterfaces();
  const Journal journal = Take();
  const std::string limit = std::to_string(std::chrono::milliseconds(kClientDrainLimit).count());
  EXPECT_NE(std::find(journal.begin(), journal.end(),
                      "log: 2 Client connection(s) still open after 60 s - closing them."),
            journal.end());
  EXPECT_NE(std::find(journal.begin(), journal.end(), "listener destroyed after " + limit + " ms"), journal.end());
}

TEST_F(TrafficViewTest, EveryStepThatBlocksGoesThroughTheFrontEndsWait) {
  Configure({{kParamTransportMethod, "1"}, {kParamModemComPort, "4"}});
  // As the window does it: each step on a thread of its own, the caller waiting.
  runBlocking_ = [this](const std::function<void()>& step) {
    world_.journal.push_back("[");
    std::thread helper(step);
    helper.join();
    world_.journal.push_back("]");
  };
  View().StartInterfaces();
  View().StopInterfaces();
  const Journal journal = Take();
  Journal blocking;
  bool inside = false;
  for (const std::string& entry : journal) {
    if (entry == "[" || entry == "]") {
      inside = entry == "[";
      continue;
    }
    if (inside) blocking.push_back(entry);
  }
  EXPECT_EQ(blocking, (Journal{"host start", "dial start 4", "listener start", "listener stop", "host stop",
                               "dial stop"}));
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "wait: Attempting to Connect to WorldPay  ..."), 1)
      << "the texts and boxes stay in their order around the waits";
}

TEST_F(TrafficViewTest, StopRequestAsksOnlyWithClientsConnected) {
  Configure({});
  View().StartInterfaces();
  Take();
  world_.alwaysConnected = 1;
  world_.stopAnswer = false;
  EXPECT_FALSE(View().RequestStop());
  EXPECT_EQ(Take(), (Journal{"ask: There are Client connections in Process.\rAre you SURE you want to do this?\r\r"}));
  EXPECT_TRUE(View().IsRunning());

  world_.alwaysConnected = 0;
  EXPECT_TRUE(View().RequestStop());
  EXPECT_EQ(Take(), StopSequence("listener destroyed after 5000 ms"));
  EXPECT_TRUE(View().RequestStop()) << "nothing running: no question";
  EXPECT_EQ(Take(), StopSequence(""));
}

TEST_F(TrafficViewTest, StatusTitleWhileRunningOnly) {
  Configure({});
  View().RefreshStatus();
  EXPECT_TRUE(Take().empty()) << "no listener, no title";
  View().StartInterfaces();
  Take();
  CRequest first;
  CRequest second;
  ASSERT_EQ(pending_.Enqueue(first), PendingQueue::kAccepted);
  ASSERT_EQ(pending_.Enqueue(second), PendingQueue::kAccepted);
  world_.alwaysConnected = 3;
  View().OnStatusTimer();
  EXPECT_EQ(Take(), (Journal{"title 2/3:   Paxelle XML 5.0 RBS WorldPay-Lynk #Requests-> 2    #Sockets-> 3     14:03:22"}));

  world_.alwaysConnected = 0;
  View().StopInterfaces();
  Take();
  View().OnStatusTimer();
  View().RefreshStatus();
  EXPECT_TRUE(Take().empty()) << "after the stop the title keeps its last text";
}

TEST_F(TrafficViewTest, HostTrafficBecomesStampedRows) {
  View().OnHostTraffic(HostTrafficEvent::kSendingIp);
  View().OnHostTraffic(HostTrafficEvent::kReceivedDial);
  EXPECT_EQ(Take(), (Journal{"row: [12/08/15 14:03:22] Sending Auth Request (IP) to WorldPay.",
                             "row: [12/08/15 14:03:22] Auth Response Received (Dial) from WorldPay."}));
  ASSERT_EQ(View().Rows().Rows().size(), 2u);
  EXPECT_EQ(View().Rows().Rows().front(), "[12/08/15 14:03:22] Auth Response Received (Dial) from WorldPay.");
}

TEST_F(TrafficViewTest, StartOpensAClosedBatchWithItemsFromOne) {
  testing::WriteBytes(dir_ / "SynchroBatch.dat", "151207004\r\nCLOSED\r\n");
  testing::WriteBytes(dir_ / "SynchroStan2.dat", "57\r\r\n");
  Configure({});
  View().StartInterfaces();
  EXPECT_EQ(batch_.Status(), "OPEN");
  int item = 0;
  const Status next = counters_.NextItem(item);
  EXPECT_EQ(item, 1) << next.message();
}

TEST_F(TrafficViewTest, StartKeepsAnOpenBatchAndItsItems) {
  Configure({});
  View().StartInterfaces();
  View().StopInterfaces();
  for (const int expected : {1, 2}) {
    int item = 0;
    ASSERT_TRUE(counters_.NextItem(item).ok());
    ASSERT_EQ(item, expected);
  }
  View().StartInterfaces();
  int item = 0;
  const Status next = counters_.NextItem(item);
  EXPECT_EQ(item, 3) << next.message();
}

}  // namespace
}  // namespace paxelle
