// The host endpoint pair: which endpoint is current, how fail-overs move it, and
// reading the port text.
#include "host/HostEndpoints.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace paxelle {
namespace {

const HostEndpoint kPrimary{"host-a.test", "6661"};
const HostEndpoint kSecondary{"host-b.test", "7771"};

TEST(HostEndpointsTest, StartsOnTheDefaultEndpointForBoth) {
  HostEndpoints endpoints;
  const HostEndpoint expected{"localhost", "6661"};
  EXPECT_EQ(endpoints.Current(), expected);
  EXPECT_EQ(endpoints.FailOver(expected), expected);  // the other one is the same
  EXPECT_EQ(endpoints.FailOverCount(), 1);
}

TEST(HostEndpointsTest, FailOverOfTheCurrentEndpointSwitchesToTheOther) {
  HostEndpoints endpoints;
  endpoints.Configure(kPrimary, kSecondary);
  EXPECT_EQ(endpoints.Current(), kPrimary);
  EXPECT_EQ(endpoints.FailOver(kPrimary), kSecondary);
  EXPECT_EQ(endpoints.Current(), kSecondary);
  EXPECT_EQ(endpoints.FailOver(kSecondary), kPrimary);
  EXPECT_EQ(endpoints.FailOverCount(), 2);
}

TEST(HostEndpointsTest, FailOverOfAnEndpointNoLongerCurrentOnlyCounts) {
  HostEndpoints endpoints;
  endpoints.Configure(kPrimary, kSecondary);
  ASSERT_EQ(endpoints.FailOver(kPrimary), kSecondary);
  // A second worker that also failed on the primary must not switch back.
  EXPECT_EQ(endpoints.FailOver(kPrimary), kSecondary);
  EXPECT_EQ(endpoints.Current(), kSecondary);
  EXPECT_EQ(endpoints.FailOverCount(), 2);
}

TEST(HostEndpointsTest, ReloadGoesBackToTheConfiguredPair) {
  HostEndpoints endpoints;
  endpoints.Configure(kPrimary, kSecondary);
  endpoints.FailOver(kPrimary);
  endpoints.Reload();
  EXPECT_EQ(endpoints.Current(), kPrimary);
  EXPECT_EQ(endpoints.FailOverCount(), 0);

  endpoints.FailOver(kPrimary);
  endpoints.Configure(kSecondary, kPrimary);  // configuring also starts over
  EXPECT_EQ(endpoints.Current(), kSecondary);
  EXPECT_EQ(endpoints.FailOverCount(), 0);
}

TEST(HostEndpointsTest, SimultaneousFailuresOnOneEndpointSwitchOnce) {
  HostEndpoints endpoints;
  endpoints.Configure(kPrimary, kSecondary);
  constexpr int kWorkers = 8;
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i) {
    workers.emplace_back([&endpoints] {
      for (int round = 0; round < 100; ++round) {
        EXPECT_EQ(endpoints.FailOver(kPrimary), kSecondary);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(endpoints.Current(), kSecondary);
  EXPECT_EQ(endpoints.FailOverCount(), kWorkers * 100);
}

TEST(HostEndpointsTest, PortNumberAcceptsOnlyAValidDecimalPort) {
  struct Case {
    const char* port;
    int expected;
  };
  const Case cases[] = {
      {"6661", 6661}, {"1", 1},     {"65535", 65535}, {"0", 0},   {"65536", 0}, {"", 0},
      {"-1", 0},      {"12a", 0},   {" 80", 0},       {"80 ", 0}, {"+80", 0},   {"99999999999", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PortNumber(HostEndpoint{"localhost", c.port}), c.expected) << "port '" << c.port << "'";
  }
}

}  // namespace
}  // namespace paxelle
