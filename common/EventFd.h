// An eventfd as a wake-up: any thread raises it without blocking, and it polls
// readable until drained, so one poll watches it beside a socket or a port.
#pragma once

#include "common/PosixFile.h"

#include <chrono>

namespace paxelle {

class EventFd {
 public:
  // Holds no descriptor until Open.
  EventFd() = default;

  // Creates a nonblocking, close-on-exec eventfd in place of the one held;
  // false, with errno set, when the system refuses one.
  bool Open();
  void Close() { fd_.Reset(); }
  bool IsValid() const { return fd_.IsValid(); }
  int Fd() const { return fd_.Get(); }
  // Raises it; repeated raises merge into one. Nothing without a descriptor.
  void Signal() const;
  // Consumes what was raised; true when anything had been.
  bool Drain() const;
  // Waits at most `timeout` without consuming; true when raised. False at once
  // without a descriptor.
  bool WaitFor(std::chrono::milliseconds timeout) const;

 private:
  UniqueFd fd_;
};

}  // namespace paxelle
