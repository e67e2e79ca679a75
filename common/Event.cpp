#include "common/Event.h"

#include <algorithm>

namespace paxelle {

// One thread waiting on several events: each event it watches notifies it here.
struct Event::Waiter {
  std::mutex mutex;
  std::condition_variable wake;
  bool signalled = false;
};

Event::Event(Reset mode, bool initiallySet) : mode_(mode), set_(initiallySet) {}

Event::~Event() = default;

void Event::Set() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = true;
  changed_.notify_all();
  for (Waiter* waiter : waiters_) {
    std::lock_guard<std::mutex> waiterLock(waiter->mutex);
    waiter->signalled = true;
    waiter->wake.notify_all();
  }
}

void Event::ResetEvent() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = false;
}

void Event::Pulse() {
  Set();
  ResetEvent();
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

bool Event::TryConsumeLocked() {
  if (!set_) return false;
  if (mode_ == Reset::kAuto) set_ = false;
  return true;
}

bool Event::TryConsume() {
  std::lock_guard<std::mutex> lock(mutex_);
  return TryConsumeLocked();
}

bool Event::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!set_) {
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && !set_) return false;
  }
  return TryConsumeLocked();
}

void Event::AddWaiter(Waiter* waiter) {
  std::lock_guard<std::mutex> lock(mutex_);
  waiters_.push_back(waiter);
}

void Event::RemoveWaiter(Waiter* waiter) {
  std::lock_guard<std::mutex> lock(mutex_);
  waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
}

int Event::WaitAny(std::initializer_list<Event*> events, std::chrono::milliseconds timeout) {
  Waiter waiter;
  for (Event* event : events) event->AddWaiter(&waiter);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int found = -1;
  for (;;) {
    int index = 0;
    for (Event* event : events) {
      if (event->TryConsume()) {
        found = index;
        break;
      }
      ++index;
    }
    if (found >= 0) break;
    std::unique_lock<std::mutex> lock(waiter.mutex);
    // A Set between TryConsume and here has already raised `signalled`.
    if (!waiter.wake.wait_until(lock, deadline, [&] { return waiter.signalled; })) break;
    waiter.signalled = false;
  }
  for (Event* event : events) event->RemoveWaiter(&waiter);
  return found;
}

}  // namespace paxelle
