// A one-way stop flag that threads can poll together with their sockets: raising it makes
// a pipe readable, which wakes every poll that watches Fd().
#pragma once

#include <chrono>

namespace paxelle::hostsim {

class StopSignal {
 public:
  // Creates the pipe; Valid() tells whether that worked.
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  bool Valid() const { return readFd_ >= 0; }

  // Raises the flag for good; safe from any thread, more than once.
  void Raise();

  // True once raised.
  bool Raised() const;

  // Waits at most `timeout`; true when the flag is (or becomes) raised.
  bool WaitFor(std::chrono::milliseconds timeout) const;

  // Readable once raised; add it to a poll set with POLLIN. Never read from it.
  int Fd() const { return readFd_; }

 private:
  int readFd_ = -1;
  int writeFd_ = -1;
};

}  // namespace paxelle::hostsim
