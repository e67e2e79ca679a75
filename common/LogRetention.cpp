#include "common/LogRetention.h"

#include "common/Clock.h"
#include "common/GzipFile.h"
#include "common/SystemErrorText.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace paxelle {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "OPX";
constexpr std::string_view kAlternative = "_ALT";
constexpr std::string_view kLogExtension = ".log";
constexpr std::string_view kCompressedExtension = ".gz";
// What CompressFile names its temporary: "." + the target's name + this.
constexpr std::string_view kTemporaryMark = ".gz.tmp-";

bool Digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Number(std::string_view digits) {
  int value = 0;
  for (const char c : digits) value = value * 10 + (c - '0');
  return value;
}

// An interrupted compression's leftover: ".OPX....log.gz.tmp-XXXXXX".
bool IsLeftoverTemporary(std::string_view name) {
  if (!name.starts_with('.')) return false;
  const std::size_t mark = name.rfind(kTemporaryMark);
  if (mark == std::string_view::npos) return false;
  return ParseDailyLogName(name.substr(1, mark + kCompressedExtension.size() - 1)).has_value();
}

}  // namespace

long DaysSinceEpoch(int year, int month, int day) {
  // Howard Hinnant's days_from_civil: exact for every Gregorian date.
  year -= month <= 2 ? 1 : 0;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yearOfEra = year - era * 400;
  const long dayOfYear = (153L * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

long LocalDay(std::time_t when) {
  const std::tm local = LocalTime(when);
  return DaysSinceEpoch(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

std::optional<DailyLogFile> ParseDailyLogName(std::string_view name) {
  DailyLogFile file;
  if (name.ends_with(kCompressedExtension)) {
    file.compressed = true;
    name.remove_suffix(kCompressedExtension.size());
  }
  if (!name.starts_with(kPrefix) || !name.ends_with(kLogExtension)) return std::nullopt;
  name.remove_prefix(kPrefix.size());
  name.remove_suffix(kLogExtension.size());
  if (name.ends_with(kAlternative)) name.remove_suffix(kAlternative.size());
  if (name.size() != 8 || !Digits(name)) return std::nullopt;
  const int month = Number(name.substr(0, 2));
  const int day = Number(name.substr(2, 2));
  const int year = Number(name.substr(4, 4));
  if (month < 1 || month > 12 || day < 1 || year < 1970) return std::nullopt;
  file.day = DaysSinceEpoch(year, month, day);
  // 31 February and the like come back as another date.
  const long nextMonth = month == 12 ? DaysSinceEpoch(year + 1, 1, 1) : DaysSinceEpoch(year, month + 1, 1);
  if (file.day >= nextMonth) return std::nullopt;
  return file;
}

AgingResult AgeLogFiles(const std::string& directory, long today, const LogRetention& retention,
                        const std::function<bool()>& stopRequested) {
  AgingResult result;
  struct Found {
    std::string name;
    DailyLogFile file;
  };
  std::vector<Found> found;
  std::vector<std::string> leftovers;
  std::error_code failure;
  for (fs::directory_iterator item(directory, failure), end; !failure && item != end; item.increment(failure)) {
    const std::string name = item->path().filename().string();
    // Links and anything else that is not a plain file are never ours to age.
    std::error_code ignored;
    if (!item->is_regular_file(ignored) || item->is_symlink(ignored)) continue;
    if (IsLeftoverTemporary(name)) {
      leftovers.push_back(name);
    } else if (const std::optional<DailyLogFile> file = ParseDailyLogName(name)) {
      found.push_back({name, *file});
    }
  }
  if (failure) {
    result.failures.push_back("Cannot list " + directory + ": " + failure.message());
    return result;
  }
  // Oldest first, so that an interrupted pass has done the most needed part.
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.file.day < b.file.day; });

  // Nothing else compresses in this directory: the server that ages it holds its lock.
  for (const std::string& name : leftovers) ::unlink((directory + "/" + name).c_str());

  for (const Found& entry : found) {
    if (stopRequested && stopRequested()) break;
    const long age = today - entry.file.day;
    if (age <= 0) continue;  // today's file, or one of a day to come
    const std::string path = directory + "/" + entry.name;
    if (retention.keepDays > 0 && age > retention.keepDays) {
      if (::unlink(path.c_str()) == 0) {
        result.removed.push_back(entry.name);
      } else if (errno != ENOENT) {
        result.failures.push_back("Cannot remove " + path + ": " + SystemErrorText(errno));
      }
      continue;
    }
    if (entry.file.compressed || age <= retention.compressAfterDays) continue;
    if (const Status done = CompressFile(path, path + std::string(kCompressedExtension), stopRequested); done.ok()) {
      result.compressed.push_back(entry.name);
    } else if (!(stopRequested && stopRequested())) {
      result.failures.push_back(done.message());
    }
  }
  return result;
}

}  // namespace paxelle
