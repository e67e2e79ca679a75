// The thread that ages the daily traffic logs (LogRetention) of one server:
// a pass at start and one on each new local day, away from the log's writer
// so that compressing a large file never holds up an entry.
#pragma once

#include "common/Clock.h"
#include "common/Event.h"
#include "common/LogRetention.h"
#include "common/Mutex.h"
#include "common/TimeLimits.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <string>
#include <thread>

namespace paxelle {

class CLogAger {
 public:
  // Receives one traffic log entry; called on the ager's thread.
  using LogSink = std::function<void(const std::string&)>;

  // Ages the files in `directory` by `retention`, the day taken from `clock`;
  // says what it did, and what failed, through `log`. `recheck` bounds how long
  // it sleeps before it looks at the date again.
  CLogAger(std::string directory, LogRetention retention, WallClock clock, LogSink log,
           std::chrono::milliseconds recheck = kLogAgerRecheck);
  // Stops the thread (Stop).
  ~CLogAger();
  CLogAger(const CLogAger&) = delete;
  CLogAger& operator=(const CLogAger&) = delete;

  // Starts the thread, whose first pass runs at once. False (and no ageing)
  // when the thread cannot be made. Once.
  bool Start();
  // Ends the thread: a running compression is abandoned between two pieces,
  // leaving its file as it was. Idempotent.
  void Stop();

  // Blocks until at least `passes` passes have ended since Start, or `timeout`
  // passed; true when they have. For tests.
  bool WaitForPasses(int passes, std::chrono::milliseconds timeout) EXCLUDES(mutex_);

 private:
  void Run();
  void Pass(long today);

  const std::string directory_;
  const LogRetention retention_;
  const WallClock clock_;
  const LogSink log_;
  const std::chrono::milliseconds recheck_;
  Event stop_{Event::Reset::kManual};
  Mutex mutex_;
  std::condition_variable_any passEnded_;
  int passes_ GUARDED_BY(mutex_) = 0;
  std::thread thread_;
};

// The entry that reports one pass; empty when it did nothing.
std::string AgingReport(const AgingResult& result, const LogRetention& retention);

}  // namespace paxelle
