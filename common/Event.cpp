#include "common/Event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace paxelle {

// One thread waiting on several events: each event it watches notifies it here.
struct Event::Waiter {
  std::mutex mutex;
  std::condition_variable wake;
  bool signalled = false;
};

Event::Event(Reset mode, bool initiallySet) : mode_(mode), set_(initiallySet) {}

Event::~Event() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

namespace {

void RaiseDescriptor(int descriptor) {
  const std::uint64_t one = 1;
  // A full counter is still readable; nothing else can fail on a valid eventfd.
  [[maybe_unused]] const ssize_t written = ::write(descriptor, &one, sizeof one);
}

void ClearDescriptor(int descriptor) {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(descriptor, &count, sizeof count);
}

}  // namespace

int Event::Descriptor() const {
  if (mode_ != Reset::kManual) return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  if (descriptor_ < 0) {
    descriptor_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (descriptor_ >= 0 && set_) RaiseDescriptor(descriptor_);
  }
  return descriptor_;
}

void Event::Set() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!set_ && descriptor_ >= 0) RaiseDescriptor(descriptor_);
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
  if (set_ && descriptor_ >= 0) ClearDescriptor(descriptor_);
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
