// The tests' one bounded wait: a condition polled until it holds, so a wait ends as soon
// as what it waits for has happened, and a failure names what never did.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string_view>
#include <thread>

namespace paxelle::testing {

// Calls `condition` every `step` until it returns true or `limit` has passed (once more at
// the limit, so a slow step cannot make it miss). Success as soon as it held; otherwise a
// failure that says it gave up on `what` after `limit`. Converts to bool where no assertion
// is wanted.
template <class Condition>
::testing::AssertionResult WaitFor(std::string_view what, Condition&& condition, std::chrono::milliseconds limit,
                                   std::chrono::milliseconds step = std::chrono::milliseconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return ::testing::AssertionSuccess();
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(step);
  }
  return ::testing::AssertionFailure() << "gave up after " << limit.count() << " ms waiting for " << what;
}

}  // namespace paxelle::testing
