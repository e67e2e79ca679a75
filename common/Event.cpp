#include "common/Event.h"

#include <algorithm>

namespace paxelle {

// One thread waiting on several events: each event it watches notifies it here.
struct Event::Waiter {
  Mutex mutex;
  std::condition_variable_any wake;
  bool signalled GUARDED_BY(mutex) = false;
};

Event::Event(Reset mode, bool initiallySet) : mode_(mode), set_(initiallySet) {}

int Event::Descriptor() const {
  if (mode_ != Reset::kManual) return -1;
  MutexLock lock(mutex_);
  if (!descriptor_.IsValid() && descriptor_.Open() && set_) descriptor_.Signal();
  return descriptor_.Fd();
}

void Event::Set() {
  MutexLock lock(mutex_);
  if (!set_) descriptor_.Signal();
  set_ = true;
  changed_.notify_all();
  for (Waiter* waiter : waiters_) {
    MutexLock waiterLock(waiter->mutex);
    waiter->signalled = true;
    waiter->wake.notify_all();
  }
}

void Event::ResetEvent() {
  MutexLock lock(mutex_);
  if (set_) descriptor_.Drain();
  set_ = false;
}

void Event::Pulse() {
  Set();
  ResetEvent();
}

bool Event::IsSet() const {
  MutexLock lock(mutex_);
  return set_;
}

bool Event::TryConsumeLocked() {
  if (!set_) return false;
  if (mode_ == Reset::kAuto) set_ = false;
  return true;
}

bool Event::TryConsume() {
  MutexLock lock(mutex_);
  return TryConsumeLocked();
}

bool Event::Wait(std::chrono::milliseconds timeout) {
  MutexLock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!set_) {
    if (changed_.wait_until(mutex_, deadline) == std::cv_status::timeout && !set_) return false;
  }
  return TryConsumeLocked();
}

void Event::AddWaiter(Waiter* waiter) {
  MutexLock lock(mutex_);
  waiters_.push_back(waiter);
}

void Event::RemoveWaiter(Waiter* waiter) {
  MutexLock lock(mutex_);
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
    MutexLock lock(waiter.mutex);
    // A Set between TryConsume and here has already raised `signalled`.
    if (!waiter.wake.wait_until(waiter.mutex, deadline, [&]() REQUIRES(waiter.mutex) { return waiter.signalled; })) break;
    waiter.signalled = false;
  }
  for (Event* event : events) event->RemoveWaiter(&waiter);
  return found;
}

}  // namespace paxelle
