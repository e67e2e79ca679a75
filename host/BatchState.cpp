#include "host/BatchState.h"

#include "common/TextHelpers.h"
#include "host/StateFile.h"

#include <cstdio>
#include <exception>

namespace paxelle {
namespace {

constexpr char kBatchFile[] = "SynchroBatch.dat";
constexpr char kLastDateTimeFile[] = "EDCLastDateTime.dat";
constexpr char kOpen[] = "OPEN";
constexpr char kClosed[] = "CLOSED";
constexpr std::size_t kBatchNoLength = 9;
constexpr int kMaxBatchCounter = 999;
constexpr char kNoDate[] = "000000";
constexpr char kNoTime[] = "0000";

// The read texts name the STAN file: operators know them in this form.
constexpr StateFileTexts kBatchTexts = {
    "Synchronized Batch File Does Not Exist and Creation Failed...",
    "Synchronized Stan File Exists but could not be opened for reading...",
    "Could Not Read From Synchronized Stan File...",
    "Synchronized Batch No File could not be opened for writing...",
    "Synchronized Batch No File",
    "Synchronized Batch No File Unknown Exception...",
};

constexpr StateFileTexts kLastDateTimeTexts = {
    "Last Date/Time Does Not Exist and Creation Failed...",
    "Last Date/Time File Exists but could not be opened for reading...",
    "Could Not Read From Last Date/Time File...",
    "Last Date/Time File could not be opened for writing...",
    "Last Date/Time File",
    "Last Date/Time File Unknown Exception...",
};

constexpr char kWrongLengthNote[] =
    "BatchNo Read From Synchronized Stan File but is of incorrect Length. using newly generated ..";
constexpr char kBadStatusNote[] =
    "BatchStatus Read From Synchronized Stan File but is incorrect set using 'closed'..";

std::string TwoLineBytes(const std::string& first, const std::string& second) {
  return TextModeBytes(first + "\n" + second + "\n");
}

// "HHMM" as hour * 100 + minute; false unless it is four digits of a time of day.
bool ParseHhmm(std::string_view text, int& hhmm) {
  if (text.size() != 4 || !AllDigits(text)) return false;
  const int hour = LeadingInt(text.substr(0, 2));
  const int minute = LeadingInt(text.substr(2, 2));
  if (hour > 23 || minute > 59) return false;
  hhmm = hour * 100 + minute;
  return true;
}

// The stored "MMDDYY" (year 2000 + YY) and "HHMM" as a calendar time; false
// unless they name a real local date and time.
bool StoredMoment(std::string_view date, std::string_view time, std::time_t& when) {
  int hhmm = 0;
  if (date.size() != 6 || !AllDigits(date) || !ParseHhmm(time, hhmm)) return false;
  const int month = LeadingInt(date.substr(0, 2));
  const int day = LeadingInt(date.substr(2, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  std::tm local{};
  local.tm_year = 100 + LeadingInt(date.substr(4, 2));
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hhmm / 100;
  local.tm_min = hhmm % 100;
  local.tm_isdst = -1;
  when = std::mktime(&local);
  // mktime moves 31 April to 1 May; such a date was never written by us.
  return when != static_cast<std::time_t>(-1) && local.tm_mon == month - 1 && local.tm_mday == day;
}

// Yesterday's close time, in local calendar days (a DST change makes it 23 or 25 hours back).
std::time_t PreviousCloseMoment(const std::tm& now, int closeHhmm) {
  std::tm close = now;
  close.tm_mday -= 1;
  close.tm_hour = closeHhmm / 100;
  close.tm_min = closeHhmm % 100;
  close.tm_sec = 0;
  close.tm_isdst = -1;
  return std::mktime(&close);
}

}  // namespace

CBatchState::CBatchState(std::filesystem::path directory, CTrafficLog& log, WallClock clock)
    : directory_(std::move(directory)), log_(log), clock_(std::move(clock)) {}

Status CBatchState::GetBatchNo(bool readOnly, bool force, bool& changed, std::string& batchNo) {
  changed = false;
  std::vector<StateNote> notes;
  batchNo.clear();
  try {
    MutexLock lock(mutex_);
    const std::time_t now = clock_();
    const std::string today = FormatLocalTime("%y%m%d", now);
    if (!readOnly && !force) CheckAutomaticClose(now, notes);
    ReadBatchFile(today, notes);
    batchNo = batchNo_;
    if ((!readOnly || force) && status_ != kOpen) {
      const std::string previousNo = batchNo_;
      const std::string previousStatus = status_;
      const bool previousUnsaved = unsaved_;
      int counter = FirstChars(batchNo_, 6) == today ? LeadingInt(LastChars(batchNo_, 3)) : 0;
      counter = counter < 0 || counter >= kMaxBatchCounter ? 1 : counter + 1;
      char number[8];
      std::snprintf(number, sizeof number, "%03d", counter);
      batchNo_ = today + number;
      status_ = kOpen;
      if (WriteBatchFile(notes)) {
        changed = batchNo_ != previousNo || status_ != previousStatus;
        batchNo = batchNo_;
      } else {
        // Opened again by the next message, which retries the write.
        batchNo_ = previousNo;
        status_ = previousStatus;
        unsaved_ = previousUnsaved;
        batchNo.clear();
      }
    }
  } catch (const std::exception&) {
    notes.push_back({kBatchTexts.unknownException, {}});
  }
  return ReportStateNotes(notes, log_);
}

Status CBatchState::SetClosed() {
  std::vector<StateNote> notes;
  try {
    MutexLock lock(mutex_);
    CloseLocked(FormatLocalTime("%y%m%d", clock_()), notes);
  } catch (const std::exception&) {
    notes.push_back({kBatchTexts.unknownException, {}});
  }
  return ReportStateNotes(notes, log_);
}

void CBatchState::SetSchedule(const std::string& batchCloseOption, const std::string& hostCloseTime) {
  MutexLock lock(mutex_);
  closeOption_ = batchCloseOption;
  closeTime_ = hostCloseTime;
}

std::string CBatchState::Status() {
  MutexLock lock(mutex_);
  return status_;
}

void CBatchState::CheckAutomaticClose(std::time_t now, std::vector<StateNote>& notes) {
  if (closeOption_ != "Y") return;
  const std::filesystem::path path = directory_ / kLastDateTimeFile;
  std::string lastDate = kNoDate;
  std::string lastTime = kNoTime;
  std::vector<std::string> lines;
  const bool read =
      !stampUnsaved_ && LoadStateLines(path, TwoLineBytes(kNoDate, kNoTime), 2, kLastDateTimeTexts, lines, notes);
  if (read) {
    if (lines[0].size() == 6) lastDate = lines[0];
    if (lines[1].size() == 4) lastTime = lines[1];
  } else if (!stampDate_.empty()) {
    // The file did not take the last stamp, or cannot be read: without the one held
    // here every request would find the close time passed and open a batch of its own.
    lastDate = stampDate_;
    lastTime = stampTime_;
  }

  const std::tm local = LocalTime(now);
  char currentDate[32];
  char currentTime[32];
  std::snprintf(currentDate, sizeof currentDate, "%02d%02d%02d", local.tm_mon + 1, local.tm_mday,
                local.tm_year % 100);
  std::snprintf(currentTime, sizeof currentTime, "%02d%02d", local.tm_hour, local.tm_min);
  // Stamped before comparing, so that the next request measures from this one.
  stampUnsaved_ =
      StoreStateFile(path, TwoLineBytes(currentDate, currentTime), kLastDateTimeTexts, false, notes) !=
      StateFileStatus::Done;
  stampDate_ = currentDate;
  stampTime_ = currentTime;

  int closeHhmm = 0;
  if (!ParseHhmm(closeTime_, closeHhmm)) return;
  const int currentHhmm = local.tm_hour * 100 + local.tm_min;
  const bool sameDay = lastDate == currentDate;
  bool closeTimePassed = false;
  if (currentHhmm >= closeHhmm) {
    closeTimePassed = !sameDay || LeadingInt(lastTime) < closeHhmm;
  } else if (!sameDay) {
    // An unknown last moment (the initial "000000") counts as long ago: a
    // batch open since an unknown time has certainly passed a close time.
    std::time_t last = 0;
    closeTimePassed = !StoredMoment(lastDate, lastTime, last) ||
                      last < PreviousCloseMoment(local, closeHhmm);
  }
  if (closeTimePassed) CloseLocked(FormatLocalTime("%y%m%d", now), notes);
}

void CBatchState::CloseLocked(const std::string& today, std::vector<StateNote>& notes) {
  // Read first: closing must keep the file's batch number even before this
  // process has read it, or the day's counter would start again.
  ReadBatchFile(today, notes);
  if (batchNo_.empty()) batchNo_ = today + "000";
  status_ = kClosed;
  WriteBatchFile(notes);
}

void CBatchState::ReadBatchFile(const std::string& today, std::vector<StateNote>& notes) {
  if (unsaved_) return;
  const std::filesystem::path path = directory_ / kBatchFile;
  if (seen_.known && seen_ == StampOf(path)) return;
  std::vector<std::string> lines;
  if (!LoadStateLines(path, TwoLineBytes(today + "000", kClosed), 2, kBatchTexts, lines, notes)) {
    seen_.known = false;
    return;
  }
  seen_ = StampOf(path);
  batchNo_ = lines[0];
  status_ = lines[1];
  if (batchNo_.size() != kBatchNoLength) {
    batchNo_ = today + "000";
    notes.push_back({kWrongLengthNote, {}});
  }
  if (status_ != kClosed && status_ != kOpen) {
    status_ = kClosed;
    notes.push_back({kBadStatusNote, {}});
  }
}

bool CBatchState::WriteBatchFile(std::vector<StateNote>& notes) {
  const std::filesystem::path path = directory_ / kBatchFile;
  unsaved_ = StoreStateFile(path, TwoLineBytes(batchNo_, status_), kBatchTexts, false, notes) != StateFileStatus::Done;
  seen_ = unsaved_ ? FileStamp{} : StampOf(path);
  return !unsaved_;
}

CBatchState::FileStamp CBatchState::StampOf(const std::filesystem::path& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return FileStamp{};
  return FileStamp{true, status.st_dev, status.st_ino, status.st_size, status.st_mtim};
}

}  // namespace paxelle
