// The message sequence number (STAN) and item sequence number files, advanced
// under one lock so that concurrent message builders and restarts never
// reuse a number.
#pragma once

#include "common/PosixFile.h"

#include <filesystem>
#include <mutex>
#include <string>

namespace paxelle {

class CTrafficLog;

class CSequenceCounters {
 public:
  // The files live in `directory`, which must exist; it is never created.
  // Failures are logged to `log`, which must outlive the counters.
  CSequenceCounters(std::filesystem::path directory, CTrafficLog& log);
  CSequenceCounters(const CSequenceCounters&) = delete;
  CSequenceCounters& operator=(const CSequenceCounters&) = delete;

  // Next number of "SynchroStan.dat" / "SynchroStan2.dat" (max 9999: after 9999 comes 1).
  // Failure texts are appended to `errors` (and logged); the result is then 0.
  int NextStan(std::string& errors);
  int NextItem(std::string& errors);
  // Both numbers of one message, as NextStan then NextItem. The directory is
  // synced once for the two rewrites, before either number is handed out:
  // the polling thread takes these for every message, one after another.
  void NextStanAndItem(int& stan, int& item, std::string& errors);
  // Advances the number in `fileName` (created holding 0 when missing) and
  // returns it; a stored number at or above `max`, or below 0, is followed by 1.
  // When only the rewrite cannot be opened, its text is added and the number
  // is still returned.
  int Next(const std::string& fileName, int max, std::string& errors,
           DirectorySync sync = DirectorySync::kNow);
  // Item file := 0, so the next item number is 1. Whatever the file held
  // before, readable or not, is replaced.
  void ResetItems(std::string& errors);

 private:
  const std::filesystem::path directory_;
  CTrafficLog& log_;
  std::mutex mutex_;
};

}  // namespace paxelle
