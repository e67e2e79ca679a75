#include "common/Event.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace paxelle {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kLong{10000};
constexpr milliseconds kShort{20};

TEST(EventTest, ManualEventStaysSetUntilReset) {
  Event event(Event::Reset::kManual);
  EXPECT_FALSE(event.IsSet());
  event.Set();
  EXPECT_TRUE(event.Wait(kShort));
  EXPECT_TRUE(event.Wait(kShort));
  EXPECT_TRUE(event.IsSet());
  event.ResetEvent();
  EXPECT_FALSE(event.Wait(kShort));
}

TEST(EventTest, AutoEventIsConsumedByOneWait) {
  Event event(Event::Reset::kAuto, true);
  EXPECT_TRUE(event.IsSet());  // looking does not consume
  EXPECT_TRUE(event.Wait(kShort));
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(kShort));
}

TEST(EventTest, WaitTimesOutOnAnUnsetEvent) {
  Event manual(Event::Reset::kManual);
  Event automatic(Event::Reset::kAuto);
  EXPECT_FALSE(manual.Wait(kShort));
  EXPECT_FALSE(automatic.Wait(milliseconds(0)));
}

TEST(EventTest, PulseLeavesTheEventClear) {
  Event event(Event::Reset::kManual);
  event.Pulse();
  EXPECT_FALSE(event.IsSet());
}

TEST(EventTest, WaitWakesWhenAnotherThreadSets) {
  Event event(Event::Reset::kAuto);
  std::thread setter([&] {
    // A pause, not a wait: the set should find the other thread already blocked.
    std::this_thread::sleep_for(kShort);
    event.Set();
  });
  EXPECT_TRUE(event.Wait(kLong));
  setter.join();
}

TEST(EventTest, WaitAnyWakesOnTheSecondEvent) {
  Event first(Event::Reset::kManual);
  Event second(Event::Reset::kAuto);
  std::thread setter([&] {
    // A pause, not a wait: the set should find the other thread already blocked.
    std::this_thread::sleep_for(kShort);
    second.Set();
  });
  EXPECT_EQ(Event::WaitAny({&first, &second}, kLong), 1);
  setter.join();
  EXPECT_FALSE(second.IsSet());  // the auto event was consumed by WaitAny
  EXPECT_EQ(Event::WaitAny({&first, &second}, kShort), -1);
}

TEST(EventTest, WaitAnyReportsTheFirstSetEventInOrder) {
  Event stop(Event::Reset::kManual);
  Event wake(Event::Reset::kAuto);
  stop.Set();
  wake.Set();
  EXPECT_EQ(Event::WaitAny({&stop, &wake}, kShort), 0);
  EXPECT_EQ(Event::WaitAny({&stop, &wake}, kShort), 0);  // manual stays set
  EXPECT_TRUE(wake.IsSet());                             // never reached, not consumed
  stop.ResetEvent();
  EXPECT_EQ(Event::WaitAny({&stop, &wake}, kShort), 1);
  EXPECT_EQ(Event::WaitAny({&stop, &wake}, kShort), -1);
}

TEST(EventTest, AutoEventReleasesOnlyOneOfTwoWaiters) {
  Event event(Event::Reset::kAuto);
  std::atomic<int> woken{0};
  const auto waiter = [&] {
    if (event.Wait(kShort * 10)) ++woken;
  };
  std::thread a(waiter);
  std::thread b(waiter);
  event.Set();
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 1);
}

bool Readable(int descriptor) {
  pollfd watch{descriptor, POLLIN, 0};
  return ::poll(&watch, 1, 0) == 1 && (watch.revents & POLLIN) != 0;
}

TEST(EventTest, TheDescriptorOfAManualEventIsReadableExactlyWhileItIsSet) {
  Event event(Event::Reset::kManual, true);
  const int descriptor = event.Descriptor();
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(event.Descriptor(), descriptor) << "made once";
  EXPECT_TRUE(Readable(descriptor)) << "an event set before the descriptor was made";
  event.ResetEvent();
  EXPECT_FALSE(Readable(descriptor));
  event.Set();
  event.Set();
  EXPECT_TRUE(Readable(descriptor));
  event.ResetEvent();
  EXPECT_FALSE(Readable(descriptor)) << "one reset clears any number of sets";
  event.Pulse();
  EXPECT_FALSE(Readable(descriptor));
  EXPECT_FALSE(event.IsSet());
}

TEST(EventTest, AnAutoEventHasNoDescriptor) {
  Event event(Event::Reset::kAuto);
  EXPECT_EQ(event.Descriptor(), -1);
}

TEST(EventTest, APollOnTheDescriptorWakesWhenAnotherThreadSets) {
  Event event(Event::Reset::kManual);
  pollfd watch{event.Descriptor(), POLLIN, 0};
  std::thread setter([&event] {
    // A pause, not a wait: the set should find the other thread already blocked.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    event.Set();
  });
  EXPECT_EQ(::poll(&watch, 1, 10000), 1);
  setter.join();
  EXPECT_TRUE(event.IsSet());
}

}  // namespace
}  // namespace paxelle
