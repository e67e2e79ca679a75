// The current batch number and its open/closed status, kept in
// "SynchroBatch.dat", with the automatic close at the host's daily close time.
#pragma once

#include "common/Clock.h"
#include "common/Mutex.h"
#include "common/Status.h"

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace paxelle {

struct StateNote;
class CTrafficLog;

class CBatchState {
 public:
  // The files live in `directory`, which must exist; `clock` gives "now" for
  // the batch date and the close check.
  // Failures are logged to `log`, which must outlive the state.
  CBatchState(std::filesystem::path directory, CTrafficLog& log, WallClock clock = SystemNow);
  CBatchState(const CBatchState&) = delete;
  CBatchState& operator=(const CBatchState&) = delete;

  // The nine-character batch number ("%y%m%d" of its opening and a counter
  // 001-999). Unless `readOnly` or `force`, first runs the automatic close
  // check; unless `readOnly` (or when `force`), opens a new batch when the
  // status is not "OPEN", and then sets `changed` (the caller resets the item
  // counter). The number goes into `batchNo`; failures are logged and returned with
  // their texts, and a failed read leaves the number as it was in memory. Empty, with
  // nothing changed, when a new batch could not be stored: no message may go out
  // under a batch the file does not hold, or the next one would reopen it and number
  // its items from 1 again.
  paxelle::Status GetBatchNo(bool readOnly, bool force, bool& changed, std::string& batchNo);
  // Status "CLOSED", file rewritten (after the host accepted a batch close). When the
  // file cannot take it, memory keeps the closed batch (and is used instead of the
  // file) until a write succeeds.
  paxelle::Status SetClosed();
  // "Batch Close Option" (entry 12) and "Host Close Time" (entry 13, HHMM)
  // values; the automatic close runs only for option "Y".
  void SetSchedule(const std::string& batchCloseOption, const std::string& hostCloseTime);
  // Current status text ("OPEN"/"CLOSED") as last read or written; empty
  // before the file was first read.
  std::string Status();

 private:
  void CheckAutomaticClose(std::time_t now, std::vector<StateNote>& notes) REQUIRES(mutex_);
  void CloseLocked(const std::string& today, std::vector<StateNote>& notes) REQUIRES(mutex_);
  // Reads the file unless memory holds a state the file could not take.
  void ReadBatchFile(const std::string& today, std::vector<StateNote>& notes) REQUIRES(mutex_);
  // False when the file could not take the state held in memory.
  bool WriteBatchFile(std::vector<StateNote>& notes) REQUIRES(mutex_);

  const std::filesystem::path directory_;
  CTrafficLog& log_;
  const WallClock clock_;
  Mutex mutex_;
  std::string batchNo_ GUARDED_BY(mutex_);
  std::string status_ GUARDED_BY(mutex_);
  bool unsaved_ GUARDED_BY(mutex_) = false;  // batchNo_/status_ differ from what the file holds
  // The file as last read or written: while it is unchanged on disk (same file,
  // size and time), memory holds what it holds and it is not read again.
  struct FileStamp {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const FileStamp& other) const {
      return known == other.known && device == other.device && inode == other.inode && size == other.size &&
             modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
  } seen_ GUARDED_BY(mutex_);
  static FileStamp StampOf(const std::filesystem::path& path);
  // The last request's moment ("MMDDYY", "HHMM") as stamped, used when the file
  // that should hold it cannot be written or read.
  std::string stampDate_ GUARDED_BY(mutex_);
  std::string stampTime_ GUARDED_BY(mutex_);
  bool stampUnsaved_ GUARDED_BY(mutex_) = false;
  std::string closeOption_ GUARDED_BY(mutex_) = "N";
  std::string closeTime_ GUARDED_BY(mutex_) = "0400";
};

}  // namespace paxelle
