// The server's main loop: the stop and restart signals, a periodic tick and
// tasks posted from other threads, all handled on the thread that runs it.
#pragma once

#include "common/EventFd.h"
#include "common/Mutex.h"
#include "common/Status.h"

#include <chrono>
#include <deque>
#include <functional>

namespace paxelle {

class SignalLoop {
 public:
  struct Handlers {
    std::function<void()> tick;     // every tick period
    std::function<void()> restart;  // SIGHUP
    // SIGINT or SIGTERM; Run returns 0 unless it answers false (stop refused).
    std::function<bool()> stop;
  };

  // Destroying it closes the descriptors; the signal mask stays as Open set it.
  SignalLoop() = default;
  SignalLoop(const SignalLoop&) = delete;
  SignalLoop& operator=(const SignalLoop&) = delete;

  // Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every
  // thread it starts afterwards, so that only this loop receives them; ignores
  // SIGPIPE process-wide. Call before any other thread exists. A failure, with
  // the system's reason, when the descriptors cannot be made.
  Status Open();

  // For a front end with an event loop of its own: the descriptor that becomes
  // readable when a stop or restart signal arrives, and the signals arrived so
  // far (each reported once).
  int SignalDescriptor() const { return signalFd_.Get(); }
  struct ArrivedSignals {
    bool stop = false;
    bool restart = false;
  };
  ArrivedSignals TakeSignals();

  // Queues `task` to run on the loop's thread; callable from any thread while
  // this object exists. Tasks still queued when Run returns never run.
  void Post(std::function<void()> task);

  // Waits `duration` on the loop's thread without running anything; false
  // when a stop or restart signal arrived meanwhile (Run handles it later).
  bool Pause(std::chrono::milliseconds duration);

  // Runs until an accepted stop signal or Quit: the handlers and the posted
  // tasks, one at a time. Returns 0 after a stop signal, else the code given to Quit.
  int Run(const Handlers& handlers, std::chrono::milliseconds tickPeriod);
  // Makes Run return `exitCode` once the current task is done (loop thread).
  void Quit(int exitCode);

 private:
  // Waits at most `timeout` for a signal or a posted task; notes the signals.
  void WaitForSignals(std::chrono::milliseconds timeout);
  // Runs the queued tasks until the queue is empty or a signal or Quit is pending.
  void RunPostedTasks();

  UniqueFd signalFd_;
  EventFd wakeFd_;
  bool stopPending_ = false;
  bool restartPending_ = false;
  bool quit_ = false;
  int exitCode_ = 0;
  Mutex tasksMutex_;
  std::deque<std::function<void()>> tasks_ GUARDED_BY(tasksMutex_);
};

}  // namespace paxelle
