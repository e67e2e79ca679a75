// The daily traffic log: any thread queues a time-stamped entry and returns at
// once; one writer thread appends the entries, masked, to the day's file,
// those that come within a few milliseconds of each other in one pass.
// Every entry goes through MaskCardData on its way to the file, so lane and
// host text (requests, replies, echoed frames, host texts) never reaches it
// with card data in clear, whoever logged it.
#pragma once

#include "common/Clock.h"
#include "common/TimeLimits.h"

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#define PAXELLE_PRINTF(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))

namespace paxelle {

// The daily files' folder, under the server's working directory.
inline constexpr char kLogDirectoryName[] = "KELVARA_LOGS";

// How much the writer may have waiting while it is stalled (a full or slow
// disk): entries past either bound are dropped and counted.
struct TrafficLogLimits {
  std::size_t entries = 100000;
  std::size_t bytes = 32 * 1024 * 1024;
  // Free space the log leaves on its file system for the number files: the
  // smaller of these two. Below it no entry is written (they are counted) until
  // twice as much is free again.
  std::uint64_t reserveBytes = 64ull * 1024 * 1024;
  unsigned reservePercent = 5;
};

// What the writer tells its observer, on its own thread.
enum class LogNotice {
  kSpaceLow,      // it stops writing for want of free space
  kSpaceBack,     // it writes again; the count is of the entries it left out
  kLinkRefused,   // a day's file is a symbolic link: not followed (once per name)
};
// Must be cheap and thread-safe.
using LogNoticeObserver = std::function<void(LogNotice notice, std::uint64_t count)>;

class CTrafficLog {
 public:
  // Entries go to `directory`; `clock` gives the time stamps and the day and
  // must be callable from any thread. `shutdownWait` bounds how long Shutdown
  // waits for the writer (10 s in the server; tests shorten it).
  explicit CTrafficLog(std::string directory, WallClock clock = SystemNow,
                       std::chrono::milliseconds shutdownWait = kLogShutdownWait,
                       TrafficLogLimits limits = {});
  // Stops the writer after it has written what was queued (waits at most shutdownWait).
  ~CTrafficLog();
  CTrafficLog(const CTrafficLog&) = delete;
  CTrafficLog& operator=(const CTrafficLog&) = delete;

  // printf-style; lane or host text must only ever be an argument, never the
  // format. Returns false, recording nothing, once the log is stopping or
  // while the entries waiting for the writer are at their limits; such
  // dropped entries are counted, and the writer logs the count ("Traffic Log
  // Full - %llu entries dropped while the writer was stalled.") with the
  // first entries it takes once it moves again.
  bool Log(const char* format, ...) PAXELLE_PRINTF(2, 3);
  bool LogV(const char* format, va_list arguments) PAXELLE_PRINTF(2, 0);

  // Blocks until every entry queued before the call has been through a write
  // pass, or `timeout` passed; true when it was written (or dropped as the
  // file rules say). The writer starts that pass at once, without gathering.
  // For tests and orderly shutdown.
  bool WaitUntilWritten(std::chrono::milliseconds timeout);

  // Entries that never reached the file since the log began: refused while
  // the writer was stalled, or left out while the disk was low on space.
  std::uint64_t DroppedEntries() const;

  // Receives the writer's notices from now on; may be empty.
  void SetNoticeObserver(LogNoticeObserver observer);

  // Stops accepting entries, writes what is queued and ends the writer thread.
  // A writer still busy after shutdownWait is left to finish on its own; it
  // never touches memory this object frees. Idempotent; the destructor calls it.
  void Shutdown();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The masks the writer applies to every line, exposed for tests.
std::string ApplyPayloadMask(std::string_view line);
std::string ApplyAdministrativeMask(std::string_view line);
// All of them, in the writer's order: what an entry holding `line` shows of it.
std::string MaskLogText(std::string_view line);

}  // namespace paxelle
