// What the client link remembers across connections against a hostile lane:
// request frames taken lately, and login failures per address.
#include "client/ClientGuards.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

TEST(ReplayGuardTest, ACopyIsRefusedWhileTheFirstIsInProcessOrApproved) {
  Clock::time_point now = Clock::now();
  CReplayGuard guard(3, [&now] { return now; });
  const auto sale = CReplayGuard::Of("sealed sale");
  ASSERT_TRUE(guard.Admit(sale));
  EXPECT_FALSE(guard.Admit(sale)) << "still in process";
  guard.Settle(sale, true);
  EXPECT_FALSE(guard.Admit(sale)) << "approved";
  now += kReplayWindow;
  EXPECT_TRUE(guard.Admit(sale)) << "past the window";

  const auto declined = CReplayGuard::Of("declined sale");
  ASSERT_TRUE(guard.Admit(declined));
  guard.Settle(declined, false);
  EXPECT_TRUE(guard.Admit(declined)) << "a retry after a failure or a decline goes through";
  EXPECT_TRUE(guard.Admit(CReplayGuard::Of("declined sale ")) ) << "only an exact copy is one";

  // At capacity the oldest frame is forgotten first.
  EXPECT_EQ(guard.Size(), 3u);
  ASSERT_TRUE(guard.Admit(CReplayGuard::Of("fourth")));
  EXPECT_EQ(guard.Size(), 3u);
  EXPECT_TRUE(guard.Admit(sale)) << "the oldest went";
}

class LoginThrottleTest : public ::testing::Test {
 protected:
  milliseconds Answer(const std::string& address, bool failed) {
    bool started = false;
    const milliseconds delay = throttle_.AnswerDelay(address, failed, started);
    episodes_ += started ? 1 : 0;
    return delay;
  }

  Clock::time_point now_ = Clock::now();
  CLoginThrottle throttle_{LoginThrottleLimits{}, [this] { return now_; }};
  int episodes_ = 0;
};

TEST_F(LoginThrottleTest, FiveFailuresWithinAMinuteSlowTheAddressDoublingUpToThirtySeconds) {
  const std::string guesser = "192.0.2.7";
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Answer(guesser, true), milliseconds(0)) << i;
  const milliseconds expected[] = {milliseconds(1000), milliseconds(2000), milliseconds(4000), milliseconds(8000),
                                   milliseconds(16000), milliseconds(30000), milliseconds(30000)};
  for (const milliseconds delay : expected) {
    EXPECT_EQ(Answer(guesser, true), delay);
    now_ += milliseconds(100);
  }
  EXPECT_EQ(episodes_, 1) << "logged once per episode";
  EXPECT_EQ(Answer("192.0.2.8", true), milliseconds(0)) << "other addresses are left alone";

  // Even the right password waits while slowed; then the address is clear.
  EXPECT_EQ(Answer(guesser, false), milliseconds(30000));
  EXPECT_EQ(Answer(guesser, true), milliseconds(0));
}

TEST_F(LoginThrottleTest, FailuresSpreadOverMoreThanAMinuteOrAQuietMinuteEndTheSlowing) {
  const std::string lane = "192.0.2.9";
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(Answer(lane, true), milliseconds(0)) << i;
    now_ += seconds(20);  // four in a minute at most
  }
  for (int i = 0; i < 6; ++i) Answer(lane, true);
  EXPECT_GT(Answer(lane, true), milliseconds(0));
  now_ += seconds(61);
  EXPECT_EQ(Answer(lane, true), milliseconds(0)) << "a quiet minute ended the episode";
}

TEST_F(LoginThrottleTest, ASlowedAddressHoldsAtMostFourConnectionsNotLoggedIn) {
  const std::string guesser = "192.0.2.7";
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(throttle_.BeginLogin(guesser)) << "not slowed: no cap";
  for (int i = 0; i < 5; ++i) Answer(guesser, true);
  EXPECT_FALSE(throttle_.BeginLogin(guesser)) << "four are waiting already";
  EXPECT_TRUE(throttle_.BeginLogin("192.0.2.8"));
  throttle_.EndLogin(guesser);
  EXPECT_TRUE(throttle_.BeginLogin(guesser));
}

}  // namespace
}  // namespace paxelle
