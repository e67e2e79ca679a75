// A signalling event as threads here use them: manual reset (stays set until
// Reset) or auto reset (a successful wait consumes it), with bounded waits.
#pragma once

#include "common/EventFd.h"
#include "common/Mutex.h"

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <vector>

namespace paxelle {

class Event {
 public:
  enum class Reset { kManual, kAuto };

  explicit Event(Reset mode, bool initiallySet = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void ResetEvent();
  // Set and immediately reset: wakes current waiters of a manual event, leaves it clear.
  void Pulse();
  // Looks without waiting and without consuming an auto-reset event.
  bool IsSet() const;
  // A descriptor that polls readable exactly while this manual-reset event is set, for
  // waits that watch a socket and the event together; made on first use and closed with
  // the event. -1 for an auto-reset event, or when the system gives no descriptor.
  int Descriptor() const;

  // Waits at most `timeout`; true when the event was (or became) set. An
  // auto-reset event is consumed by a successful wait.
  bool Wait(std::chrono::milliseconds timeout);

  // Waits at most `timeout` for any of `events`; returns the index of the first
  // one found set (consuming it if auto-reset) or -1 on time-out.
  static int WaitAny(std::initializer_list<Event*> events, std::chrono::milliseconds timeout);

 private:
  struct Waiter;
  bool TryConsumeLocked() REQUIRES(mutex_);
  bool TryConsume() EXCLUDES(mutex_);
  void AddWaiter(Waiter* waiter) EXCLUDES(mutex_);
  void RemoveWaiter(Waiter* waiter) EXCLUDES(mutex_);

  const Reset mode_;
  mutable Mutex mutex_;
  std::condition_variable_any changed_;
  bool set_ GUARDED_BY(mutex_);
  std::vector<Waiter*> waiters_ GUARDED_BY(mutex_);
  mutable EventFd descriptor_ GUARDED_BY(mutex_);
};

}  // namespace paxelle
