// A manual-reset stop signal that lives in a file descriptor, so that waits on
// a port can poll the port and the stop signal together.
#pragma once

namespace paxelle {

class StopDescriptor {
 public:
  // Creates the descriptor; IsValid() tells whether the system gave one.
  StopDescriptor();
  ~StopDescriptor();
  StopDescriptor(const StopDescriptor&) = delete;
  StopDescriptor& operator=(const StopDescriptor&) = delete;

  bool IsValid() const { return fd_ >= 0; }
  // Raises the signal until Reset; safe from any thread, more than once.
  void Set();
  void Reset();
  // Looks without waiting.
  bool IsSet() const;
  // Readable while set: poll it with POLLIN, never read it.
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace paxelle
