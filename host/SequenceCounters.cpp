#include "host/SequenceCounters.h"

#include "common/TextHelpers.h"
#include "host/StateFile.h"

#include <exception>
#include <vector>

namespace paxelle {
namespace {

constexpr char kStanFile[] = "SynchroStan.dat";
constexpr char kItemFile[] = "SynchroStan2.dat";
constexpr int kNumberMax = 9999;

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

}  // namespace

CSequenceCounters::CSequenceCounters(std::filesystem::path directory, CTrafficLog& log)
    : directory_(std::move(directory)), log_(log) {}

int CSequenceCounters::NextStan(std::string& errors) { return Next(kStanFile, kNumberMax, errors); }

int CSequenceCounters::NextItem(std::string& errors) { return Next(kItemFile, kNumberMax, errors); }

void CSequenceCounters::NextStanAndItem(int& stan, int& item, std::string& errors) {
  stan = Next(kStanFile, kNumberMax, errors, DirectorySync::kDeferred);
  item = Next(kItemFile, kNumberMax, errors, DirectorySync::kDeferred);
  SyncDirectory(directory_);
}

int CSequenceCounters::Next(const std::string& fileName, int max, std::string& errors, DirectorySync sync) {
  std::vector<StateNote> notes;
  int value = 0;
  try {
    std::lock_guard lock(mutex_);
    const std::filesystem::path path = directory_ / fileName;
    std::vector<std::string> lines;
    if (LoadStateLines(path, NumberFileBytes(0), 1, kTexts, lines, notes)) {
      const std::int64_t stored = LeadingInteger(lines.front());
      // A hand-edited negative number must not yield 0, the failure value.
      value = stored < 0 || stored >= max ? 1 : static_cast<int>(stored) + 1;
      // A rewrite that cannot even be opened still hands out the number, as
      // the Windows build does; a failure part-way is a file exception.
      if (StoreStateFile(path, NumberFileBytes(value), kTexts, false, notes, sync) ==
          StateFileStatus::IoFailed) {
        value = 0;
      }
    }
  } catch (const std::exception&) {
    value = 0;
    notes.push_back({kTexts.unknownException, {}});
  }
  ReportStateNotes(notes, errors, log_);
  return value;
}

void CSequenceCounters::ResetItems(std::string& errors) {
  std::vector<StateNote> notes;
  try {
    std::lock_guard lock(mutex_);
    const std::filesystem::path path = directory_ / kItemFile;
    std::error_code ignored;
    const bool creating = !std::filesystem::exists(path, ignored);
    StoreStateFile(path, NumberFileBytes(0), kTexts, creating, notes);
  } catch (const std::exception&) {
    notes.push_back({kTexts.unknownException, {}});
  }
  ReportStateNotes(notes, errors, log_);
}

}  // namespace paxelle
