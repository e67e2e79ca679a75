// How long the daily traffic logs are kept: each day's file is compressed once
// it is a week old and removed once it is older than the retention period, so
// that years of logs never fill the disk a store's sales need. Today's file,
// and anything that is not a daily log file, is never touched.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace paxelle {

struct LogRetention {
  static constexpr int kDefaultKeepDays = 400;  // card-industry rules keep audit logs a year
  static constexpr int kMaxKeepDays = 36500;
  int keepDays = kDefaultKeepDays;  // older files are removed; 0 keeps them for ever
  int compressAfterDays = 7;        // older files are compressed
};

// What the name of a file in the log directory says about it.
struct DailyLogFile {
  long day = 0;             // days since 1970-01-01 of the date in its name
  bool compressed = false;  // ends in ".gz"
};
// "OPXMMDDYYYY.log" or "OPXMMDDYYYY_ALT.log", either with ".gz" after it, with
// a real date; nothing for any other name.
std::optional<DailyLogFile> ParseDailyLogName(std::string_view name);

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
long DaysSinceEpoch(int year, int month, int day);
// The local date of `when`, as days since 1970-01-01.
long LocalDay(std::time_t when);

struct AgingResult {
  std::vector<std::string> compressed;  // names of the files compressed, as they were
  std::vector<std::string> removed;     // names of the files removed
  std::vector<std::string> failures;    // one text per file that could not be aged
};

// One pass over the daily log files in `directory` on the local day `today`
// (LocalDay): a file more than `compressAfterDays` days old is compressed
// into its name with ".gz" (the uncompressed file then goes), one more than
// `keepDays` days old is removed, compressed or not. Files of today or of a
// later day (a clock set back), links and other names are left alone, and so
// are the temporaries of a compression that is still running elsewhere; those
// an interrupted compression of this directory left are removed.
// `stopRequested`, asked between files and pieces, ends the pass early.
AgingResult AgeLogFiles(const std::string& directory, long today, const LogRetention& retention,
                        const std::function<bool()>& stopRequested = {});

}  // namespace paxelle
