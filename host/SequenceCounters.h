// The message sequence number (STAN) and item sequence number files, advanced
// under one lock so that concurrent message builders and restarts never
// reuse a number. Each file has a shadow copy beside it ("SynchroStan.dat.shadow",
// "SynchroStan2.dat.shadow"), byte for byte the same, rewritten with it before a
// number is handed out: when one copy is damaged the other still holds the last
// number handed out.
#pragma once

#include "common/PosixFile.h"
#include "host/StateFile.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace paxelle {

class CTrafficLog;

inline constexpr char kNumberShadowSuffix[] = ".shadow";
// The shadow copy of the number file `numberFile`.
std::filesystem::path ShadowPathOf(const std::filesystem::path& numberFile);

class CSequenceCounters {
 public:
  // The files live in `directory`, which must exist; it is never created.
  // Failures are logged to `log`, which must outlive the counters.
  CSequenceCounters(std::filesystem::path directory, CTrafficLog& log);
  CSequenceCounters(const CSequenceCounters&) = delete;
  CSequenceCounters& operator=(const CSequenceCounters&) = delete;

  // Next number of "SynchroStan.dat" / "SynchroStan2.dat" (max 9999: after 9999 comes 1).
  // Failure texts are appended to `errors` (and logged); the result is then 0,
  // also when the new number could not be written to both copies: a number
  // that is not on disk is never handed out.
  int NextStan(std::string& errors);
  int NextItem(std::string& errors);
  // Both numbers of one message, as NextStan then NextItem. The directory is
  // synced once for the two rewrites, before either number is handed out:
  // the polling thread takes these for every message, one after another.
  void NextStanAndItem(int& stan, int& item, std::string& errors);
  // Advances the number in `fileName` and its shadow copy (created holding 0
  // when both are missing) and returns it; a stored number at or above `max`,
  // or below 0, is followed by 1. The copy that holds a number is used when the
  // other does not; when they differ, the one further along. When neither
  // holds one, the first file's leading digits are followed, with an alarm in
  // the log. 0, with the failure text, when the new number is not on disk.
  int Next(const std::string& fileName, int max, std::string& errors,
           DirectorySync sync = DirectorySync::kNow);
  // Item file := 0, so the next item number is 1. Whatever the file held
  // before, readable or not, is replaced.
  void ResetItems(std::string& errors);
  // At start: reads both number files and their shadow copies, logs what it
  // found damaged and makes both copies whole again. Returns, one a line, the
  // alarm of every file of which neither copy could be read (for the
  // operator); empty when there is none.
  std::string CheckFiles();

 private:
  // What reading a file's two copies found.
  struct Recollection {
    std::vector<std::string> findings;  // logged
    std::string alarm;                  // neither copy read: logged loudly
    std::vector<StateNote> notes;       // failures for the caller's error text
    bool damaged = false;               // a copy needs rewriting
  };
  // The number last stored in `fileName`; none when the file cannot be opened or read at all.
  std::optional<std::int64_t> Recall(const std::string& fileName, int max, Recollection& found);
  // Writes `value` to the file and then to its shadow copy.
  bool Store(const std::string& fileName, int value, bool creating, DirectorySync sync,
             std::vector<StateNote>& notes);
  // Logs the findings and notes, without the lock; adds the notes' texts to `errors`.
  void Report(const Recollection& found, std::vector<StateNote>& notes, std::string& errors);

  const std::filesystem::path directory_;
  CTrafficLog& log_;
  std::mutex mutex_;
};

}  // namespace paxelle
