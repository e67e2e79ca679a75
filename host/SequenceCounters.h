// The message sequence number (STAN) and item sequence number files. Numbers
// are handed out in memory and made durable by a commit: one commit covers
// every number handed out before it started, so the messages that become
// ready together share one write of the files (group commit). A message may
// leave the process only once a commit covering its numbers has saved them.
// Each file has a shadow copy beside it ("SynchroStan.dat.shadow",
// "SynchroStan2.dat.shadow"), byte for byte the same, rewritten with it: when
// one copy is damaged the other still holds the last number handed out.
#pragma once

#include "common/PosixFile.h"
#include "common/Status.h"
#include "host/StateFile.h"
#include "common/Mutex.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace paxelle {

class CTrafficLog;

inline constexpr char kNumberShadowSuffix[] = ".shadow";
// The shadow copy of the number file `numberFile`.
std::filesystem::path ShadowPathOf(const std::filesystem::path& numberFile);

struct NumberCommit;

// The commits a message's numbers wait for. Empty until a number is handed out
// into it; copyable, so a record's worker can carry it.
class NumberClaim {
 public:
  bool HoldsNumbers() const { return !commits_.empty(); }

 private:
  friend class CSequenceCounters;
  std::vector<std::shared_ptr<NumberCommit>> commits_;
};

class CSequenceCounters {
 public:
  // The files live in `directory`, which must exist; it is never created.
  // Failures are logged to `log`, which must outlive the counters.
  CSequenceCounters(std::filesystem::path directory, CTrafficLog& log);
  // Ends the background commits (StartBackgroundCommits), if any.
  ~CSequenceCounters();
  CSequenceCounters(const CSequenceCounters&) = delete;
  CSequenceCounters& operator=(const CSequenceCounters&) = delete;

  // The numbers of one message, handed out into `claim` and not yet saved:
  // after the item number is reset when `resetItems` (so it reads 1), the next
  // STAN and, when `withItem`, the next item number (max 9999: after 9999
  // comes 1). A number that cannot be handed out (its file unreadable) reads 0,
  // and the call fails (logged) with the texts of both numbers' failures.
  Status TakeNumbers(NumberClaim& claim, int& stan, int* item, bool resetItems);
  // The next number of the counter kept in `fileName` (a stored number at or
  // above `max`, or below 0, is followed by 1), handed out into `claim`. While
  // no number is waiting for a commit the files are read again, so a copy
  // mended or edited by hand is followed; the copy that holds a number is used
  // when the other does not; when they differ, the one further along. When
  // neither holds one, the number held in memory goes on (both copies are
  // written again by the commit); before the first number, the first file's
  // leading digits are followed, with an alarm in the log. A failure, with
  // `value` 0, when the file cannot be read.
  Status Take(const std::string& fileName, int max, NumberClaim& claim, int& value);
  // Waits until the numbers in `claim` are saved in both copies of their files
  // (taking part in or leading the commit that covers them). A failure, with
  // the texts of every failed commit, when a commit that covered them failed:
  // those numbers must never be sent, and a later message may be given them
  // again. Ok for a claim that holds no numbers.
  Status Commit(const NumberClaim& claim);

  // From now on a thread of the counters' own starts a commit as soon as numbers
  // are handed out and none is being written, so that the write runs while the
  // message's worker connects; Commit then mostly finds it done or under way.
  // False when the thread cannot be started (commits are then led by Commit alone).
  bool StartBackgroundCommits();

  // Take and Commit in one: the next number, already saved, or 0 with the failure.
  Status NextStan(int& value);
  Status NextItem(int& value);
  Status Next(const std::string& fileName, int max, int& value);
  // Item file := 0, so the next item number is 1, saved before it returns.
  // Whatever the file held before, readable or not, is replaced.
  Status ResetItems();
  // How long the commits' writes of the files took: how many there were and
  // the median of the most recent ones (at most 4096), in microseconds.
  struct CommitTimes {
    std::uint64_t commits = 0;
    std::uint64_t medianMicroseconds = 0;
  };
  CommitTimes MeasuredCommits() const;
  // Receives the time of every commit's write that saved numbers, from the
  // thread that wrote them; quick and thread-safe. May be empty.
  void SetCommitObserver(std::function<void(std::chrono::microseconds)> observer);

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
    bool noCopyRead = false;            // neither copy holds a number (both may be missing)
  };
  // One counter as handed out; `dirty` until a commit has taken its value.
  struct Counter {
    std::int64_t value = 0;
    bool known = false;
    bool dirty = false;
  };
  // A number file's value as a commit writes it.
  struct Write {
    std::string fileName;
    int value = 0;
  };

  // The number last stored in `fileName`; none when the file cannot be opened or read at all.
  std::optional<std::int64_t> Recall(const std::string& fileName, int max, Recollection& found);
  // Recall, but the number held in memory when neither copy holds one and this
  // process has handed numbers of the file out before.
  std::optional<std::int64_t> RecallOrHeld(const std::string& fileName, int max, Recollection& found) REQUIRES(mutex_);
  // No number waits for a commit: the files hold what memory holds, unless they were
  // mended or edited since.
  bool SettledLocked() const REQUIRES(mutex_);
  // The next number of `fileName` into the open commit, read from the files first
  // when `settled` (and not reset since); 0 when it cannot be read.
  int TakeLocked(const std::string& fileName, int max, bool settled, NumberClaim& claim, Recollection& found)
      REQUIRES(mutex_);
  void JoinOpenCommit(NumberClaim& claim) REQUIRES(mutex_);
  // Writes the values of the open commit, without the lock while the files are written.
  void LeadCommit() REQUIRES(mutex_);
  // Writes each value to its file, then to the file's shadow copy.
  bool Store(const std::vector<Write>& writes, std::vector<StateNote>& notes);
  void RunBackgroundCommits() EXCLUDES(mutex_);
  // Logs the findings and notes; a failure with the notes' texts when there is any.
  Status Report(const Recollection& found, std::vector<StateNote>& notes) EXCLUDES(mutex_);

  const std::filesystem::path directory_;
  CTrafficLog& log_;
  mutable Mutex mutex_;
  std::condition_variable_any commitEnded_;
  std::map<std::string, Counter> counters_ GUARDED_BY(mutex_);
  std::shared_ptr<NumberCommit> open_ GUARDED_BY(mutex_);  // the commit numbers join now
  bool committing_ GUARDED_BY(mutex_) = false;
  std::uint64_t commits_ GUARDED_BY(mutex_) = 0;
  bool ending_ GUARDED_BY(mutex_) = false;  // the background thread ends
  std::condition_variable_any numbersWaiting_;  // handed out while no commit runs
  std::thread committer_ GUARDED_BY(mutex_);
  std::vector<std::uint32_t> commitMicros_ GUARDED_BY(mutex_);  // the most recent, a ring
  std::function<void(std::chrono::microseconds)> commitObserver_ GUARDED_BY(mutex_);
};

}  // namespace paxelle
