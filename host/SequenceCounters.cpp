#include "host/SequenceCounters.h"

#include "common/SystemErrorText.h"
#include "common/TextHelpers.h"
#include "common/TrafficLog.h"
#include "host/StateFile.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <system_error>
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

// One commit of the number files. Numbers join it while it is open; its
// leader closes it when it starts writing.
struct NumberCommit {
  enum class State { kOpen, kWriting, kSaved, kRefused };
  State state = State::kOpen;  // guarded by the counters' mutex
  std::size_t numbers = 0;     // handed out into it
  std::string errors;          // failure texts, set when refused
};

CSequenceCounters::CSequenceCounters(std::filesystem::path directory, CTrafficLog& log)
    : directory_(std::move(directory)), log_(log), open_(std::make_shared<NumberCommit>()) {}

CSequenceCounters::~CSequenceCounters() {
  {
    MutexLock lock(mutex_);
    ending_ = true;
  }
  numbersWaiting_.notify_all();
  if (committer_.joinable()) committer_.join();
}

bool CSequenceCounters::StartBackgroundCommits() {
  MutexLock lock(mutex_);
  if (committer_.joinable()) return true;
  try {
    committer_ = std::thread([this] { RunBackgroundCommits(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void CSequenceCounters::RunBackgroundCommits() {
  MutexLock lock(mutex_);
  while (!ending_) {
    // Bounded, so that the end is seen even if a wake went astray.
    numbersWaiting_.wait_for(mutex_, kNumberCommitRecheck,
                             [this]() REQUIRES(mutex_) { return ending_ || (open_->numbers > 0 && !committing_); });
    if (ending_) break;
    if (open_->numbers > 0 && !committing_) LeadCommit();
  }
}

std::filesystem::path ShadowPathOf(const std::filesystem::path& numberFile) {
  std::filesystem::path shadow = numberFile;
  shadow += kNumberShadowSuffix;
  return shadow;
}

Status CSequenceCounters::NextStan(int& value) { return Next(kStanFile, kNumberMax, value); }

Status CSequenceCounters::NextItem(int& value) { return Next(kItemFile, kNumberMax, value); }

Status CSequenceCounters::Next(const std::string& fileName, int max, int& value) {
  NumberClaim claim;
  Status status = Take(fileName, max, claim, value);
  if (value != 0) status = JoinedFailures(status, Commit(claim));
  if (!status.ok()) value = 0;
  return status;
}

Status CSequenceCounters::ResetItems() {
  NumberClaim claim;
  {
    MutexLock lock(mutex_);
    counters_[kItemFile] = Counter{0, true, true};
    JoinOpenCommit(claim);
  }
  return Commit(claim);
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
  found.noCopyRead = true;
  if (main.read.status == StateFileStatus::Missing && shadow.read.status == StateFileStatus::Missing) return 0;
  if (main.read.status == StateFileStatus::OpenFailed || main.read.status == StateFileStatus::IoFailed) {
    // The disk, not the content: nothing is handed out until it reads again.
    found.noCopyRead = false;
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

std::optional<std::int64_t> CSequenceCounters::RecallOrHeld(const std::string& fileName, int max,
                                                             Recollection& found) {
  Recollection read;
  const std::optional<std::int64_t> stored = Recall(fileName, max, read);
  const auto held = counters_.find(fileName);
  if (!stored || !read.noCopyRead || held == counters_.end() || !held->second.known) {
    found = std::move(read);
    return stored;
  }
  // Both copies lost while the server runs: starting again from what is left of them
  // would send numbers the host already has. Memory still knows the last one.
  found.damaged = true;
  found.findings.push_back("Neither " + fileName + " nor its shadow copy holds a number: going on from " +
                           std::to_string(held->second.value) + " held in memory, both copies written again");
  return held->second.value;
}

bool CSequenceCounters::Store(const std::vector<Write>& writes, std::vector<StateNote>& notes) {
  // Every main copy first, then every shadow copy, each round on disk before the
  // next begins: whatever a crash tears, the other copy of that file is whole.
  std::vector<InPlaceWrite> mains;
  std::vector<InPlaceWrite> shadows;
  for (const Write& write : writes) {
    const fs::path path = directory_ / write.fileName;
    mains.push_back({path, NumberFileBytes(write.value)});
    shadows.push_back({ShadowPathOf(path), mains.back().bytes});
  }
  bool createdMain = false;
  bool createdShadow = false;
  const bool stored = OverwriteStateFiles(mains, kTexts, notes, createdMain) == StateFileStatus::Done &&
                      OverwriteStateFiles(shadows, kTexts, notes, createdShadow) == StateFileStatus::Done;
  // Only a file made just now needs its name made durable.
  if (createdMain || createdShadow) SyncDirectory(directory_);
  return stored;
}

Status CSequenceCounters::Report(const Recollection& found, std::vector<StateNote>& notes) {
  for (const std::string& finding : found.findings) log_.Log("%s", finding.c_str());
  if (!found.alarm.empty()) log_.Log("*** %s ***", found.alarm.c_str());
  notes.insert(notes.begin(), found.notes.begin(), found.notes.end());
  return ReportStateNotes(notes, log_);
}

void CSequenceCounters::JoinOpenCommit(NumberClaim& claim) {
  ++open_->numbers;
  if (!committing_) numbersWaiting_.notify_one();
  if (claim.commits_.empty() || claim.commits_.back() != open_) claim.commits_.push_back(open_);
}

bool CSequenceCounters::SettledLocked() const { return !committing_ && open_->numbers == 0; }

int CSequenceCounters::TakeLocked(const std::string& fileName, int max, bool settled, NumberClaim& claim,
                                  Recollection& found) {
  Counter& counter = counters_[fileName];
  // With nothing waiting for a commit the files hold what memory holds, unless
  // they were mended or edited since: they are followed.
  if (!counter.known || (settled && !counter.dirty)) {
    const std::optional<std::int64_t> stored = RecallOrHeld(fileName, max, found);
    // Nothing is handed out until the file reads again.
    if (!stored) return 0;
    counter.value = *stored;
    counter.known = true;
  }
  // A hand-edited negative number must not yield 0, the failure value.
  const int value = counter.value < 0 || counter.value >= max ? 1 : static_cast<int>(counter.value) + 1;
  counter.value = value;
  counter.dirty = true;
  JoinOpenCommit(claim);
  return value;
}

Status CSequenceCounters::Take(const std::string& fileName, int max, NumberClaim& claim, int& value) {
  std::vector<StateNote> notes;
  Recollection found;
  try {
    MutexLock lock(mutex_);
    value = TakeLocked(fileName, max, SettledLocked(), claim, found);
  } catch (const std::exception&) {
    value = 0;
    notes.push_back({kTexts.unknownException, {}});
  }
  return Report(found, notes);
}

Status CSequenceCounters::TakeNumbers(NumberClaim& claim, int& stan, int* item, bool resetItems) {
  std::vector<StateNote> notes;
  Recollection stanFound;
  Recollection itemFound;
  stan = 0;
  if (item != nullptr) *item = 0;
  try {
    // Under one lock: both numbers join the same commit, and so does the reset.
    MutexLock lock(mutex_);
    const bool settled = SettledLocked();
    if (resetItems) {
      counters_[kItemFile] = Counter{0, true, true};
      JoinOpenCommit(claim);
    }
    stan = TakeLocked(kStanFile, kNumberMax, settled, claim, stanFound);
    if (item != nullptr) *item = TakeLocked(kItemFile, kNumberMax, settled, claim, itemFound);
  } catch (const std::exception&) {
    notes.push_back({kTexts.unknownException, {}});
  }
  std::vector<StateNote> none;
  const Status stanReported = Report(stanFound, none);
  return JoinedFailures(stanReported, Report(itemFound, notes));
}

Status CSequenceCounters::Commit(const NumberClaim& claim) {
  Status saved = Status::Ok();
  for (const std::shared_ptr<NumberCommit>& commit : claim.commits_) {
    MutexLock lock(mutex_);
    // Bounded by the leader's writes, which always end.
    while (commit->state == NumberCommit::State::kOpen || commit->state == NumberCommit::State::kWriting) {
      if (commit->state == NumberCommit::State::kOpen && !committing_) {
        LeadCommit();
      } else {
        commitEnded_.wait(mutex_);
      }
    }
    if (commit->state == NumberCommit::State::kSaved) continue;
    saved = JoinedFailures(saved, Status::Failure(commit->errors));
  }
  return saved;
}

void CSequenceCounters::LeadCommit() {
  const std::shared_ptr<NumberCommit> leading = open_;
  open_ = std::make_shared<NumberCommit>();
  leading->state = NumberCommit::State::kWriting;
  committing_ = true;
  std::vector<Write> writes;
  for (auto& [fileName, counter] : counters_) {
    if (!counter.dirty) continue;
    writes.push_back({fileName, static_cast<int>(counter.value)});
    counter.dirty = false;
  }
  mutex_.Unlock();

  // Numbers handed out meanwhile join the next commit.
  std::vector<StateNote> notes;
  bool saved = true;
  const auto started = std::chrono::steady_clock::now();
  try {
    // A number that is not on disk in both copies is never sent: a restart would
    // hand it out again.
    saved = writes.empty() || Store(writes, notes);
  } catch (const std::exception&) {
    saved = false;
    notes.push_back({kTexts.unknownException, {}});
  }
  std::string errorText = ReportStateNotes(notes, log_).message();

  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  mutex_.Lock();
  if (saved && !writes.empty()) {
    constexpr std::size_t kKept = 4096;
    const auto micros = static_cast<std::uint32_t>(std::min<std::int64_t>(took.count(), UINT32_MAX));
    if (commitMicros_.size() < kKept) {
      commitMicros_.push_back(micros);
    } else {
      commitMicros_[commits_ % kKept] = micros;
    }
    ++commits_;
    if (commitObserver_) commitObserver_(took);
  }
  committing_ = false;
  leading->errors = std::move(errorText);
  leading->state = saved ? NumberCommit::State::kSaved : NumberCommit::State::kRefused;
  if (!saved) {
    for (const Write& write : writes) {
      Counter& counter = counters_[write.fileName];
      if (open_->numbers == 0) {
        // Nobody holds a later number: the refused ones, never sent, are handed
        // out again from what the files hold.
        counter = Counter{};
      } else {
        // The later numbers' commit writes this file too.
        counter.dirty = true;
      }
    }
  }
  commitEnded_.notify_all();
}

void CSequenceCounters::SetCommitObserver(std::function<void(std::chrono::microseconds)> observer) {
  MutexLock lock(mutex_);
  commitObserver_ = std::move(observer);
}

CSequenceCounters::CommitTimes CSequenceCounters::MeasuredCommits() const {
  std::vector<std::uint32_t> recent;
  CommitTimes times;
  {
    MutexLock lock(mutex_);
    recent = commitMicros_;
    times.commits = commits_;
  }
  if (recent.empty()) return times;
  const auto middle = recent.begin() + static_cast<std::ptrdiff_t>(recent.size() / 2);
  std::nth_element(recent.begin(), middle, recent.end());
  times.medianMicroseconds = *middle;
  return times;
}

std::string CSequenceCounters::CheckFiles() {
  std::string alarms;
  for (const char* fileName : {kStanFile, kItemFile}) {
    std::vector<StateNote> notes;
    Recollection found;
    try {
      MutexLock lock(mutex_);
      const std::optional<std::int64_t> stored = RecallOrHeld(fileName, kNumberMax, found);
      // Both copies made whole again, holding the number the next one follows.
      if (stored && found.damaged) {
        const int kept = *stored < 0 || *stored >= kNumberMax ? 0 : static_cast<int>(*stored);
        Store({Write{fileName, kept}}, notes);
      }
    } catch (const std::exception&) {
      notes.push_back({kTexts.unknownException, {}});
    }
    // Its failures are logged; the alarms are what the operator is shown.
    static_cast<void>(Report(found, notes));
    if (!found.alarm.empty()) alarms += (alarms.empty() ? "" : "\n") + found.alarm;
  }
  return alarms;
}

}  // namespace paxelle
