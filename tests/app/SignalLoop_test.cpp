#include "app/SignalLoop.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <thread>
#include <vector>

namespace paxelle {
namespace {

using std::chrono::milliseconds;

// Signals are raised at this thread only (raise), where Open has blocked them,
// so they wait for the loop instead of ending the test process.
class SignalLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const Status opened = loop_.Open();
    ASSERT_TRUE(opened.ok()) << opened.message();
  }
  SignalLoop loop_;
};

TEST_F(SignalLoopTest, TasksPostedFromOtherThreadsRunOnTheLoopThread) {
  const std::thread::id loopThread = std::this_thread::get_id();
  std::vector<int> ran;
  bool allOnLoopThread = true;
  std::thread poster([&] {
    for (int i = 1; i <= 3; ++i) {
      loop_.Post([&, i] {
        allOnLoopThread = allOnLoopThread && std::this_thread::get_id() == loopThread;
        ran.push_back(i);
        if (i == 3) loop_.Quit(7);
      });
    }
  });
  const int code = loop_.Run({}, milliseconds(60000));
  poster.join();
  EXPECT_EQ(code, 7);
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(allOnLoopThread);
}

TEST_F(SignalLoopTest, HangUpRestartsAndTerminateStops) {
  int restarts = 0;
  int stops = 0;
  ASSERT_EQ(::raise(SIGHUP), 0);
  const int code = loop_.Run({.tick = {},
                              .restart =
                                  [&] {
                                    ++restarts;
                                    ::raise(SIGTERM);
                                  },
                              .stop =
                                  [&] {
                                    ++stops;
                                    return true;
                                  }},
                             milliseconds(60000));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(restarts, 1);
  EXPECT_EQ(stops, 1);
}

TEST_F(SignalLoopTest, RefusedStopKeepsRunning) {
  int stops = 0;
  ASSERT_EQ(::raise(SIGINT), 0);
  const int code = loop_.Run({.tick = {},
                              .restart = {},
                              .stop =
                                  [&] {
                                    ++stops;
                                    loop_.Post([&] { loop_.Quit(3); });
                                    return false;
                                  }},
                             milliseconds(60000));
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(code, 3);
}

TEST_F(SignalLoopTest, TicksRepeat) {
  int ticks = 0;
  const int code = loop_.Run({.tick =
                                  [&] {
                                    if (++ticks == 3) loop_.Quit(0);
                                  },
                              .restart = {},
                              .stop = {}},
                             milliseconds(5));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ticks, 3);
}

TEST_F(SignalLoopTest, PauseIsCutShortByAStopThatRunHandlesLater) {
  EXPECT_TRUE(loop_.Pause(milliseconds(5)));
  bool posted = false;
  loop_.Post([&] { posted = true; });
  ASSERT_EQ(::raise(SIGTERM), 0);
  EXPECT_FALSE(loop_.Pause(milliseconds(60000)));
  EXPECT_FALSE(posted) << "a pause runs nothing";
  int stops = 0;
  const int code = loop_.Run({.tick = {},
                              .restart = {},
                              .stop =
                                  [&] {
                                    ++stops;
                                    return true;
                                  }},
                             milliseconds(60000));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(stops, 1);
}

TEST_F(SignalLoopTest, PauseIsCutShortByAHangUp) {
  ASSERT_EQ(::raise(SIGHUP), 0);
  EXPECT_FALSE(loop_.Pause(milliseconds(60000)));
  int restarts = 0;
  loop_.Post([&] { loop_.Quit(0); });
  loop_.Run({.tick = {}, .restart = [&] { ++restarts; }, .stop = {}}, milliseconds(60000));
  EXPECT_EQ(restarts, 1);
}

TEST_F(SignalLoopTest, BrokenPipeIsIgnored) {
  struct sigaction current {};
  ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &current), 0);
  EXPECT_EQ(current.sa_handler, SIG_IGN);
}

}  // namespace
}  // namespace paxelle
