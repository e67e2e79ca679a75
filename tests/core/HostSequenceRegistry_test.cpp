// The host worker ticket registry and the stopping event it watches.
#include "core/HostSequenceRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

namespace paxelle {
namespace {

// A registry with its own interfaces-stopping event.
struct Registry {
  Event stopping{Event::Reset::kManual};
  HostSequenceRegistry tickets{stopping};
};

TEST(HostSequenceRegistryTest, NumbersCountUpAndAreGivenBackByValue) {
  Registry fixture;
  HostSequenceRegistry& registry = fixture.tickets;
  EXPECT_EQ(registry.Add(), 1);
  EXPECT_EQ(registry.Add(), 2);
  EXPECT_EQ(registry.Add(), 3);
  EXPECT_EQ(registry.Count(), 3);

  EXPECT_TRUE(registry.Remove(2));
  EXPECT_FALSE(registry.Remove(2));
  EXPECT_FALSE(registry.Remove(0));
  EXPECT_FALSE(registry.Remove(42));
  EXPECT_EQ(registry.Count(), 2);

  registry.Clear();
  EXPECT_EQ(registry.Count(), 0);
  EXPECT_FALSE(registry.Remove(1));
  EXPECT_EQ(registry.Add(), 4) << "numbering goes on after a clear";
}

TEST(HostSequenceRegistryTest, WrapsAfterTheLastNumberToOne) {
  Registry fixture;
  HostSequenceRegistry& registry = fixture.tickets;
  for (int expected = 1; expected <= HostSequenceRegistry::kMaxNumber; ++expected) {
    ASSERT_EQ(registry.Add(), expected);
    ASSERT_TRUE(registry.Remove(expected));
  }
  EXPECT_EQ(registry.Add(), 1);
}

TEST(HostSequenceRegistryTest, WrapSkipsANumberStillHeld) {
  Registry fixture;
  HostSequenceRegistry& registry = fixture.tickets;
  ASSERT_EQ(registry.Add(), 1);  // a worker that never finishes
  for (int expected = 2; expected <= HostSequenceRegistry::kMaxNumber; ++expected) {
    ASSERT_EQ(registry.Add(), expected);
    ASSERT_TRUE(registry.Remove(expected));
  }
  EXPECT_EQ(registry.Add(), 2);
  EXPECT_EQ(registry.Count(), 2);
  EXPECT_TRUE(registry.Remove(1));
  EXPECT_TRUE(registry.Remove(2));
}

TEST(HostSequenceRegistryTest, AddRefusedWhileInterfacesStop) {
  Registry fixture;
  HostSequenceRegistry& registry = fixture.tickets;
  ASSERT_EQ(registry.Add(), 1);
  {
    fixture.stopping.Set();
    EXPECT_EQ(registry.Add(), 0);
    EXPECT_EQ(registry.Add(), 0);
    EXPECT_EQ(registry.Count(), 1);
    EXPECT_TRUE(registry.Remove(1)) << "running workers still give their tickets back";
    EXPECT_EQ(registry.Count(), 0);
    fixture.stopping.ResetEvent();
  }
  EXPECT_EQ(registry.Add(), 2) << "refused adds use up no numbers";
}

// Workers take and give back tickets concurrently; no number is held twice at once.
TEST(HostSequenceRegistryThreadedTest, ConcurrentWorkersHoldDistinctNumbers) {
  constexpr int kWorkers = 6;
  constexpr int kRounds = 2000;
  Registry fixture;
  HostSequenceRegistry& registry = fixture.tickets;
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&] {
      std::vector<int> held;
      for (int round = 0; round < kRounds; ++round) {
        const int number = registry.Add();
        if (number <= 0 || number > HostSequenceRegistry::kMaxNumber) ++failures;
        held.push_back(number);
        if (held.size() == 3) {
          for (int mine : held) {
            if (!registry.Remove(mine)) ++failures;  // someone else held the same number
          }
          held.clear();
        }
      }
      for (int mine : held) {
        if (!registry.Remove(mine)) ++failures;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(registry.Count(), 0);
}

// A stop racing with dispatch: once the stopping event is set no ticket is added, and
// every ticket handed out before is counted.
TEST(HostSequenceRegistryThreadedTest, StopRacingWithAddsLosesNoTicket) {
  constexpr int kDispatchers = 3;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  Registry fixture;
  HostSequenceRegistry& registry = fixture.tickets;
  std::atomic<int> granted{0};
  std::vector<std::thread> dispatchers;
  for (int d = 0; d < kDispatchers; ++d) {
    dispatchers.emplace_back([&] {
      while (std::chrono::steady_clock::now() < deadline) {
        if (registry.Add() == 0) return;
        ++granted;
      }
    });
  }
  while (granted.load() < 100 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  fixture.stopping.Set();
  const int countAtStop = registry.Count();
  for (std::thread& dispatcher : dispatchers) dispatcher.join();
  EXPECT_EQ(registry.Count(), countAtStop);
  EXPECT_EQ(registry.Count(), granted.load());
  EXPECT_EQ(registry.Add(), 0);
}

}  // namespace
}  // namespace paxelle
