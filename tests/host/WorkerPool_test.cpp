// The host workers' threads: kept between records, never more than the limit.
#include "host/WorkerPool.h"

#include "common/Event.h"

#include <gtest/gtest.h>

#include <atomic>

namespace paxelle {
namespace {

using std::chrono::seconds;

TEST(WorkerPoolTest, ThreadsAreKeptForTheNextRecordAndNeverExceedTheLimit) {
  std::atomic<int> done{0};
  Event release(Event::Reset::kManual);
  {
    CWorkerPool pool(2);
    for (int i = 0; i < 5; ++i) {
      Event finished(Event::Reset::kManual);
      ASSERT_TRUE(pool.Run([&] {
        ++done;
        finished.Set();
      }));
      ASSERT_TRUE(finished.Wait(seconds(30)));
    }
    EXPECT_EQ(done, 5);
    EXPECT_LE(pool.Threads(), 2u) << "one after another, the same threads serve";

    // Both threads held: a third job waits for the first of them, no third thread.
    ASSERT_TRUE(pool.Run([&] { release.Wait(seconds(30)); ++done; }));
    ASSERT_TRUE(pool.Run([&] { release.Wait(seconds(30)); ++done; }));
    ASSERT_TRUE(pool.Run([&] { ++done; }));
    EXPECT_EQ(pool.Threads(), 2u);
    EXPECT_EQ(done, 5);
    release.Set();
  }  // waits for every job handed
  EXPECT_EQ(done, 8);
}

}  // namespace
}  // namespace paxelle
