#include "host/SequenceCounters.h"

#include "common/SystemErrorText.h"
#include "common/TextHelpers.h"
#include "common/TrafficLog.h"
#include "host/StateFile.h"

#include <algorithm>
#include <exception>
#include <vector>

namespace paxelle {
namespace {

namespace fs = std::filesystem;

constexpr char kStanFile[] = "SynchroStan.dat";
constexpr char kItemFile[] = "SynchroStan2.dat";
constexpr int kNumberMax = 9999;
// More digits than any number this file ever held: the copy is damaged.
constexpr std::size_t kMaxDigits = 6;
// Longer than any copy this server writes, however it was edited by hand.
constexpr std::size_t kLongestCopy = 16;

constexpr StateFileTexts kTexts = {
    "Synchronized Stan File Does Not Exist and Creation Failed...",
    "Synchronized Stan File Exists but could not be opened for reading...",
    "Could Not Read From Synchronized Stan File...",
    "Synchronized Stan File could not be opened for writing...",
    "Synchronized Stan File",
    "Synchronized Stan File Unknown Exception...",
};

// What "%d\r\n" through a text-mode file leaves on disk.
std::string NumberFileBytes(int value) { return TextModeBytes(std::to_string(value) + "\r\n"); }

// One copy of a number file as read; `number` is set only when it holds one
// line of digits and its line end, as this server writes it.
struct NumberCopy {
  StateFileResult read;
  std::string content;
  std::optional<int> number;
};

NumberCopy ReadCopy(const fs::path& path) {
  NumberCopy copy;
  copy.read = ReadStateBytes(path, copy.content);
  if (copy.read.status != StateFileStatus::Done) return copy;
  const std::string_view text = copy.content;
  const std::size_t digits = text.find_first_not_of("0123456789");
  if (digits == 0 || digits == std::string_view::npos || digits > kMaxDigits) return copy;
  std::string_view rest = text.substr(digits);
  while (!rest.empty() && rest.front() == '\r') rest.remove_prefix(1);
  if (rest != "\n") return copy;
  copy.number = static_cast<int>(LeadingInteger(text.substr(0, digits)));
  return copy;
}

// What a copy that holds no number was found to be; never its bytes.
std::string WhatWasFound(const NumberCopy& copy) {
  switch (copy.read.status) {
    case StateFileStatus::Done:
      break;
    case StateFileStatus::Missing:
      return "missing";
    case StateFileStatus::OpenFailed:
    case StateFileStatus::IoFailed:
      return "unreadable: " + SystemErrorText(copy.read.systemError);
  }
  const std::string& content = copy.content;
  const std::string size = std::to_string(content.size()) + " bytes";
  if (content.empty()) return "empty";
  const bool binary = std::any_of(content.begin(), content.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\r' && byte != '\n') || byte >= 0x7f;
  });
  if (binary) return "binary data, " + size;
  if (content.size() > kLongestCopy) return "over-long, " + size;
  if (content.find('\n') == std::string::npos) return "truncated, no line end";
  return "not a number";
}

// Of two numbers the copies hold, the one handed out last: the higher, unless
// they lie more than half the range apart, when the lower has wrapped past max.
int FurtherAlong(int first, int second, int max) {
  const int high = std::max(first, second);
  const int low = std::min(first, second);
  return high - low > max / 2 ? low : high;
}

}  // namespace

CSequenceCounters::CSequenceCounters(std::filesystem::path directory, CTrafficLog& log)
    : directory_(std::move(directory)), log_(log) {}

std::filesystem::path ShadowPathOf(const std::filesystem::path& numberFile) {
  std::filesystem::path shadow = numberFile;
  shadow += kNumberShadowSuffix;
  return shadow;
}

int CSequenceCounters::NextStan(std::string& errors) { return Next(kStanFile, kNumberMax, errors); }

int CSequenceCounters::NextItem(std::string& errors) { return Next(kItemFile, kNumberMax, errors); }

void CSequenceCounters::NextStanAndItem(int& stan, int& item, std::string& errors) {
  stan = Next(kStanFile, kNumberMax, errors, DirectorySync::kDeferred);
  item = Next(kItemFile, kNumberMax, errors, DirectorySync::kDeferred);
  SyncDirectory(directory_);
}

std::optional<std::int64_t> CSequenceCounters::Recall(const std::string& fileName, int max, Recollection& found) {
  const fs::path path = directory_ / fileName;
  const NumberCopy main = ReadCopy(path);
  const NumberCopy shadow = ReadCopy(ShadowPathOf(path));
  const std::string shadowName = fileName + kNumberShadowSuffix;
  if (main.number && shadow.number) {
    if (*main.number == *shadow.number) return *main.number;
    const int along = FurtherAlong(*main.number, *shadow.number, max);
    found.damaged = true;
    found.findings.push_back(fileName + " holds " + std::to_string(*main.number) + ", its shadow copy " +
                             std::to_string(*shadow.number) + ": using " + std::to_string(along));
    return along;
  }
  if (main.number) {
    if (shadow.read.status != StateFileStatus::Missing) {
      found.damaged = true;
      found.findings.push_back(shadowName + " " + WhatWasFound(shadow) + ": using " + fileName + " (" +
                               std::to_string(*main.number) + ")");
    }
    return *main.number;
  }
  if (shadow.number) {
    found.damaged = true;
    found.findings.push_back(fileName + " " + WhatWasFound(main) + ": using its shadow copy " + shadowName +
                             " (" + std::to_string(*shadow.number) + ")");
    return *shadow.number;
  }
  // Neither copy holds a number.
  if (main.read.status == StateFileStatus::Missing && shadow.read.status == StateFileStatus::Missing) return 0;
  if (main.read.status == StateFileStatus::OpenFailed || main.read.status == StateFileStatus::IoFailed) {
    // The disk, not the content: nothing is handed out until it reads again.
    found.notes.push_back({main.read.status == StateFileStatus::OpenFailed ? kTexts.openForReadFailed
                                                                           : kTexts.readFailed,
                           path.string() + ": " + SystemErrorText(main.read.systemError)});
    return std::nullopt;
  }
  // As before there were copies: whatever digits the file starts with, else 0.
  const std::int64_t stored = LeadingInteger(std::string_view(main.content).substr(0, main.content.find('\n')));
  const std::int64_t next = stored < 0 || stored >= max ? 1 : stored + 1;
  found.damaged = true;
  found.alarm = "NEITHER " + fileName + " (" + WhatWasFound(main) + ") NOR its shadow copy " + shadowName + " (" +
                WhatWasFound(shadow) + ") could be read: numbering starts again from " + std::to_string(next) +
                ". Numbers the host has already received may be sent again.";
  return stored;
}

bool CSequenceCounters::Store(const std::string& fileName, int value, bool creating, DirectorySync sync,
                              std::vector<StateNote>& notes) {
  const fs::path path = directory_ / fileName;
  const std::string bytes = NumberFileBytes(value);
  // Main file first: a crash between the two leaves the main one further along.
  if (StoreStateFile(path, bytes, kTexts, creating, notes, DirectorySync::kDeferred) != StateFileStatus::Done ||
      StoreStateFile(ShadowPathOf(path), bytes, kTexts, creating, notes, DirectorySync::kDeferred) !=
          StateFileStatus::Done) {
    return false;
  }
  if (sync == DirectorySync::kNow) SyncDirectory(directory_);
  return true;
}

void CSequenceCounters::Report(const Recollection& found, std::vector<StateNote>& notes, std::string& errors) {
  for (const std::string& finding : found.findings) log_.Log("%s", finding.c_str());
  if (!found.alarm.empty()) log_.Log("*** %s ***", found.alarm.c_str());
  notes.insert(notes.begin(), found.notes.begin(), found.notes.end());
  ReportStateNotes(notes, errors, log_);
}

int CSequenceCounters::Next(const std::string& fileName, int max, std::string& errors, DirectorySync sync) {
  std::vector<StateNote> notes;
  Recollection found;
  int value = 0;
  try {
    std::lock_guard lock(mutex_);
    const std::optional<std::int64_t> stored = Recall(fileName, max, found);
    if (stored) {
      // A hand-edited negative number must not yield 0, the failure value.
      value = *stored < 0 || *stored >= max ? 1 : static_cast<int>(*stored) + 1;
      // A number that is not on disk in both copies is never handed out: a
      // restart would hand it out again.
      std::error_code ignored;
      const bool creating = !fs::exists(directory_ / fileName, ignored);
      if (!Store(fileName, value, creating, sync, notes)) value = 0;
    }
  } catch (const std::exception&) {
    value = 0;
    notes.push_back({kTexts.unknownException, {}});
  }
  Report(found, notes, errors);
  return value;
}

void CSequenceCounters::ResetItems(std::string& errors) {
  std::vector<StateNote> notes;
  try {
    std::lock_guard lock(mutex_);
    std::error_code ignored;
    const bool creating = !fs::exists(directory_ / kItemFile, ignored);
    Store(kItemFile, 0, creating, DirectorySync::kNow, notes);
  } catch (const std::exception&) {
    notes.push_back({kTexts.unknownException, {}});
  }
  ReportStateNotes(notes, errors, log_);
}

std::string CSequenceCounters::CheckFiles() {
  std::string alarms;
  for (const char* fileName : {kStanFile, kItemFile}) {
    std::vector<StateNote> notes;
    Recollection found;
    std::string errors;
    try {
      std::lock_guard lock(mutex_);
      const std::optional<std::int64_t> stored = Recall(fileName, kNumberMax, found);
      // Both copies made whole again, holding the number the next one follows.
      if (stored && found.damaged) {
        const int kept = *stored < 0 || *stored >= kNumberMax ? 0 : static_cast<int>(*stored);
        Store(fileName, kept, false, DirectorySync::kNow, notes);
      }
    } catch (const std::exception&) {
      notes.push_back({kTexts.unknownException, {}});
    }
    Report(found, notes, errors);
    if (!found.alarm.empty()) alarms += (alarms.empty() ? "" : "\n") + found.alarm;
  }
  return alarms;
}

}  // namespace paxelle
