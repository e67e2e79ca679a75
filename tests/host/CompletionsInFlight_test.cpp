#include "host/CompletionsInFlight.h"

#include "common/Event.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace paxelle {
namespace {

using std::chrono::milliseconds;

// A lane's next message waits for its own completion only, and never past the
// interfaces stopping or its bound.
TEST(CompletionsInFlightTest, WaitEndsWithTheLanesCompletionTheStopOrTheBound) {
  CompletionsInFlight completions;
  Event stopping(Event::Reset::kManual);
  EXPECT_TRUE(completions.WaitUntilIdle("lane-a", stopping, milliseconds(0))) << "nothing in flight";

  auto inFlight = std::make_unique<CompletionInFlight>(&completions, "lane-a");
  EXPECT_TRUE(completions.WaitUntilIdle("lane-b", stopping, milliseconds(0))) << "another lane's completion";
  EXPECT_FALSE(completions.WaitUntilIdle("lane-a", stopping, milliseconds(20))) << "the bound";

  std::thread ends([&] {
    std::this_thread::sleep_for(milliseconds(50));
    inFlight.reset();
  });
  EXPECT_TRUE(completions.WaitUntilIdle("lane-a", stopping, std::chrono::seconds(30)));
  ends.join();
  EXPECT_FALSE(completions.Any());

  const CompletionInFlight again(&completions, "lane-a");
  std::thread stops([&] {
    std::this_thread::sleep_for(milliseconds(50));
    stopping.Set();
  });
  EXPECT_FALSE(completions.WaitUntilIdle("lane-a", stopping, std::chrono::seconds(30)));
  stops.join();
}

}  // namespace
}  // namespace paxelle
