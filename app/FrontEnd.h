// The seam between the application shell and whoever faces the operator: the
// event loop of the process's main thread, the operator interface, and how
// other threads reach that thread. `main` chooses one front end, once.
#pragma once

#include "app/OperatorInterface.h"
#include "common/Status.h"
#include "config/MerchantParams.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace paxelle {

// What the front end calls on its own thread.
struct FrontEndHandlers {
  std::function<void()> start;    // once, when the front end is ready: the interface start
  std::function<void()> tick;     // every status refresh period
  std::function<void()> restart;  // SIGHUP or the setup dialog's OK: stop, re-read, start
  // SIGINT/SIGTERM (`ask` false: no question) or the operator's close (`ask`
  // true: clients connected are asked about). False when refused.
  std::function<bool(bool ask)> stop;
  std::function<CMerchantParams()> params;  // a copy of the current parameters
  // Whether lanes are connected now.
  std::function<bool()> clientsConnected{};
  // A stop signal arrived while a sequence runs: end its waits for new work
  // (a connection test with the host) now, so the stop follows soon. Any thread.
  std::function<void()> cutWaits{};
  // The front end lost its display and the process is ending (Qt exits then):
  // stop the interfaces and finish the shutdown now, without the operator.
  std::function<void()> displayLost{};
};

class FrontEnd {
 public:
  using LogSink = std::function<void(const std::string&)>;

  virtual ~FrontEnd() = default;

  // Blocks the stop signals for the calling thread and every thread started
  // later, then sets up whatever the front end needs. Call before any other
  // thread exists. A failure says why it cannot.
  virtual Status Open() = 0;
  // The operator interface of this front end; once, after Open. Its log lines
  // go to `log`. The front end must outlive it.
  virtual std::unique_ptr<IOperatorInterface> MakeOperator(LogSink log) = 0;

  // From any thread: `task` runs on the front end's thread, in order.
  virtual void Post(std::function<void()> task) = 0;
  // From any thread: a request that starts a sequence (a stop, a restart). It
  // runs on the front end's thread, never inside a running sequence or while
  // the operator is being asked something: then it waits until they end.
  virtual void PostRequest(std::function<void()> request) = 0;

  // Runs `step`, which blocks for a bounded time, for the front end's thread.
  // The headless front end runs it in place; the window runs it on a helper
  // thread and keeps its events turning until it ends.
  virtual void RunBlocking(const std::function<void()>& step) { step(); }
  // Waits `duration` on the front end's thread; the window keeps its events
  // turning meanwhile.
  virtual void Pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

  // Serves until an accepted stop or Quit; returns the exit code (0 after a stop).
  virtual int Run(const FrontEndHandlers& handlers) = 0;
  // Makes Run return `exitCode` (front end's thread).
  virtual void Quit(int exitCode) = 0;
};

}  // namespace paxelle
