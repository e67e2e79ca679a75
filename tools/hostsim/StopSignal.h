// A one-way stop flag that threads can poll together with their sockets: raising it makes
// a descriptor readable, which wakes every poll that watches Fd().
#pragma once

#include "common/EventFd.h"

#include <chrono>

namespace paxelle::hostsim {

class StopSignal {
 public:
  // Creates the descriptor; Valid() tells whether that worked.
  StopSignal() { fd_.Open(); }

  bool Valid() const { return fd_.IsValid(); }

  // Raises the flag for good; safe from any thread, more than once.
  void Raise() { fd_.Signal(); }

  // True once raised.
  bool Raised() const { return WaitFor(std::chrono::milliseconds(0)); }

  // Waits at most `timeout`; true when the flag is (or becomes) raised.
  bool WaitFor(std::chrono::milliseconds timeout) const { return fd_.WaitFor(timeout); }

  // Readable once raised; add it to a poll set with POLLIN. Never read from it.
  int Fd() const { return fd_.Fd(); }

 private:
  EventFd fd_;
};

}  // namespace paxelle::hostsim
