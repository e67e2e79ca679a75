// A manual-reset stop signal that lives in a file descriptor, so that waits on
// a port can poll the port and the stop signal together.
#pragma once

#include "common/EventFd.h"

namespace paxelle {

class StopDescriptor {
 public:
  // Creates the descriptor; IsValid() tells whether the system gave one.
  StopDescriptor() { fd_.Open(); }

  bool IsValid() const { return fd_.IsValid(); }
  // Raises the signal until Reset; safe from any thread, more than once.
  void Set() { fd_.Signal(); }
  void Reset() { fd_.Drain(); }
  // Looks without waiting.
  bool IsSet() const { return fd_.WaitFor(std::chrono::milliseconds(0)); }
  // Readable while set: poll it with POLLIN, never read it.
  int Fd() const { return fd_.Fd(); }

 private:
  EventFd fd_;
};

}  // namespace paxelle
