#include "common/TrafficLog.h"

#include "common/CardDataMask.h"
#include "common/Event.h"
#include "common/Mutex.h"
#include "common/PosixFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>

namespace paxelle {
namespace {

constexpr char kFs1[] = "\x1c" "1";
constexpr char kFs2[] = "\x1c" "2";
constexpr char kDc1 = 0x11;
constexpr char kDc2 = 0x12;
constexpr char kRs = 0x1e;
constexpr char kUs = 0x1f;
constexpr std::string_view kEncryptedMarker = " Encrypted Msg ] ";
constexpr std::string_view kAdministrativeMarker = "TranType=Administrative";
// The marker and the pair separator that follows it.
constexpr std::size_t kAdministrativeCut = kAdministrativeMarker.size() + 1;
constexpr std::string_view kNeverLogged = "TStream=Kelvara";
constexpr std::string_view kEntryEnd = "\n----------\n";
// A pass is written in pieces of about this size, so a large backlog does not
// double its memory on the way to the file.
constexpr std::size_t kWriteChunk = 64 * 1024;
// A sale logs several entries within a few milliseconds, from several threads.
// Once woken, the writer lets them gather (kLogGatherTime) before it takes the
// list, so that one wake and one pass serve them all rather than one each.
constexpr char kDroppedNotice[] = "Traffic Log Full - %llu entries dropped while the writer was stalled.";
constexpr char kSpaceBackNotice[] =
    "Traffic Log - %llu entries were not written while the disk was low on space.";

// The free space on `directory`'s file system below which the log writes
// nothing, so the last of it stays for the number files; 0 when unknown.
std::uint64_t FreeBytes(const std::string& directory, const TrafficLogLimits& limits, std::uint64_t& reserve) {
  struct statvfs volume {};
  reserve = 0;
  if (::statvfs(directory.c_str(), &volume) != 0) return UINT64_MAX;
  const std::uint64_t size = static_cast<std::uint64_t>(volume.f_blocks) * volume.f_frsize;
  reserve = std::min<std::uint64_t>(limits.reserveBytes, size / 100 * limits.reservePercent);
  return static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize;
}

// Deletes the first `open`, the first `close` at or after it and everything
// between them; an unclosed range is left alone.
void EraseRange(std::string& text, char open, char close) {
  const auto from = text.find(open);
  if (from == std::string::npos) return;
  const auto to = text.find(close, from);
  if (to == std::string::npos) return;
  text.erase(from, to - from + 1);
}

// The file as the Windows build writes it in text mode: every LF becomes CR LF.
void AppendTextMode(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
}

// Opens for appending and keeps every other open file description out with an
// exclusive flock; a file someone else holds counts as not opened, and so does a
// symbolic link planted under its name (`link` set), which is never followed.
UniqueFd OpenUnshared(const std::string& path, bool& link) {
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
  link = !file.IsValid() && errno == ELOOP;
  if (!file.IsValid()) return UniqueFd();
  if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) return UniqueFd();
  return file;
}

// vsnprintf into a string of exactly the formatted length.
bool FormatText(std::string& out, const char* format, va_list arguments) PAXELLE_PRINTF(2, 0);
bool FormatText(std::string& out, const char* format, va_list arguments) {
  va_list measure;
  va_copy(measure, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return false;
  out.assign(static_cast<std::size_t>(length), '\0');
  std::vsnprintf(out.data(), out.size() + 1, format, arguments);
  return true;
}

std::string LogFileName(const std::string& directory, const std::tm& day, bool alternative) {
  char name[64];
  std::snprintf(name, sizeof name, alternative ? "/OPX%02d%02d%04d_ALT.log" : "/OPX%02d%02d%04d.log",
                day.tm_mon + 1, day.tm_mday, day.tm_year + 1900);
  return directory + name;
}

}  // namespace

std::string ApplyPayloadMask(std::string_view line) {
  auto frame = line.find(kFs1);
  if (frame == std::string_view::npos) frame = line.find(kFs2);
  if (frame != std::string_view::npos) {
    // Only the words that follow the frame can end it; a "sent to" before the
    // frame would repeat text and leave the frame in place.
    auto rest = line.find("sent to", frame);
    if (rest == std::string_view::npos) rest = line.find("received from", frame);
    if (rest == std::string_view::npos) return std::string(line);
    std::string masked(line.substr(0, frame));
    masked += kEncryptedMarker;
    masked += line.substr(rest);
    return masked;
  }
  std::string masked(line);
  EraseRange(masked, kDc1, kDc2);
  EraseRange(masked, kRs, kUs);
  return masked;
}

std::string ApplyAdministrativeMask(std::string_view line) {
  const auto at = line.find(kAdministrativeMarker);
  if (at == std::string_view::npos) return std::string(line);
  std::string masked(line.substr(0, at));
  if (at + kAdministrativeCut < line.size()) masked += line.substr(at + kAdministrativeCut);
  return masked;
}

std::string MaskLogText(std::string_view line) {
  // Card data is masked last, over what the other masks left: removing a
  // range can join the pieces of a tag or an account number.
  return MaskCardData(ApplyAdministrativeMask(ApplyPayloadMask(line)));
}

namespace {

// Everything the writer thread uses. The writer holds its own reference, so a
// writer that outlives Shutdown's wait still finds its state alive and frees it
// when it ends.
struct LogCore {
  LogCore(std::string directoryIn, WallClock clockIn, TrafficLogLimits limitsIn)
      : directory(std::move(directoryIn)), clock(std::move(clockIn)), limits(limitsIn) {}

  void RunWriter() EXCLUDES(mutex);
  void WritePass(const std::vector<std::string>& batch);
  // How many of the batch's first entries fit above the file system's reserve;
  // the rest are counted, and the observer is told when that starts and ends.
  std::size_t EntriesThatFit(const std::vector<std::string>& batch);

  const std::string directory;
  const WallClock clock;
  const TrafficLogLimits limits;

  Mutex mutex;
  std::condition_variable_any passDone;
  std::vector<std::string> pending GUARDED_BY(mutex);
  std::size_t pendingBytes GUARDED_BY(mutex) = 0;
  std::uint64_t dropped GUARDED_BY(mutex) = 0;  // refused for the limits since the last notice
  bool accepting GUARDED_BY(mutex) = true;
  std::uint64_t queued GUARDED_BY(mutex) = 0;     // entries ever accepted
  std::uint64_t processed GUARDED_BY(mutex) = 0;  // entries through a write pass
  std::atomic<std::uint64_t> lost{0};  // entries refused or left out, ever

  // Opens the day's file, else its alternative; a link under either name is
  // reported once.
  UniqueFd OpenDayFile();
  void Tell(LogNotice notice, std::uint64_t count) EXCLUDES(observerMutex);

  Mutex observerMutex;
  LogNoticeObserver noticeObserver GUARDED_BY(observerMutex);
  std::string linkReported;          // writer thread only: the last name found a link
  std::string linkNote;              // writer thread only: said in the next file written
  bool low = false;                // writer thread only
  std::uint64_t notWritten = 0;    // writer thread only: entries left out while low

  Event wake{Event::Reset::kAuto};
  Event flush{Event::Reset::kAuto};  // someone waits for the queue: no gathering
  Event stop{Event::Reset::kManual};
  Event done{Event::Reset::kManual};
};

void LogCore::RunWriter() {
  std::vector<std::string> batch;
  bool ending = false;
  while (!ending) {
    const int signalled = Event::WaitAny({&stop, &wake, &flush}, kLogWriterWait);
    if (signalled < 0) continue;
    ending = signalled == 0;
    if (signalled == 1) ending = Event::WaitAny({&stop, &flush}, kLogGatherTime) == 0;
    std::uint64_t droppedNow = 0;
    {
      MutexLock lock(mutex);
      batch.swap(pending);
      pendingBytes = 0;
      std::swap(droppedNow, dropped);
    }
    if (droppedNow > 0) {
      // The drops happened after everything now in the batch was queued.
      char notice[128];
      std::snprintf(notice, sizeof notice, kDroppedNotice, static_cast<unsigned long long>(droppedNow));
      batch.push_back(FormatLocalTime("[%H:%M:%S]", clock()) + notice);
    }
    if (!batch.empty()) WritePass(batch);
    const std::size_t taken = batch.size() - (droppedNow > 0 ? 1 : 0);
    batch.clear();
    {
      MutexLock lock(mutex);
      processed += taken;
    }
    passDone.notify_all();
  }
  done.Set();
}

std::size_t LogCore::EntriesThatFit(const std::vector<std::string>& batch) {
  std::uint64_t reserve = 0;
  const std::uint64_t free = FreeBytes(directory, limits, reserve);
  // Once low, it writes again only with twice the reserve free, so that it does
  // not turn on and off with every pass.
  std::uint64_t room = free > reserve && !(low && free < 2 * reserve) ? free - reserve : 0;
  std::size_t fit = 0;
  for (const std::string& line : batch) {
    const std::uint64_t bytes = line.size() + 2 * kEntryEnd.size();  // CR LF, roughly
    if (bytes > room) break;
    room -= bytes;
    ++fit;
  }
  const bool lowNow = fit < batch.size();
  const std::uint64_t leftOut = notWritten;
  notWritten = lowNow ? notWritten + (batch.size() - fit) : 0;
  lost.fetch_add(batch.size() - fit, std::memory_order_relaxed);
  if (lowNow == low) return fit;
  low = lowNow;
  Tell(low ? LogNotice::kSpaceLow : LogNotice::kSpaceBack, low ? 0 : leftOut);
  return fit;
}

void LogCore::Tell(LogNotice notice, std::uint64_t count) {
  LogNoticeObserver observer;
  {
    MutexLock lock(observerMutex);
    observer = noticeObserver;
  }
  if (observer) observer(notice, count);
}

UniqueFd LogCore::OpenDayFile() {
  const std::tm today = LocalTime(clock());
  for (const bool alternative : {false, true}) {
    const std::string name = LogFileName(directory, today, alternative);
    bool link = false;
    UniqueFd file = OpenUnshared(name, link);
    if (file.IsValid()) return file;
    if (link && linkReported != name) {
      linkReported = name;
      linkNote = name + " is a symbolic link: it is not followed.";
      Tell(LogNotice::kLinkRefused, 0);
    }
  }
  return UniqueFd();
}

void LogCore::WritePass(const std::vector<std::string>& batch) {
  const std::uint64_t leftOut = notWritten;
  const std::size_t fit = EntriesThatFit(batch);
  if (fit == 0) return;
  UniqueFd file = OpenDayFile();
  if (!file.IsValid()) return;  // the pass is lost; callers are never told

  std::string out;
  if (!linkNote.empty()) {
    AppendTextMode(out, FormatLocalTime("[%H:%M:%S]", clock()) + std::exchange(linkNote, {}));
    AppendTextMode(out, kEntryEnd);
  }
  if (leftOut > 0 && !low) {
    char notice[128];
    std::snprintf(notice, sizeof notice, kSpaceBackNotice, static_cast<unsigned long long>(leftOut));
    AppendTextMode(out, FormatLocalTime("[%H:%M:%S]", clock()) + notice);
    AppendTextMode(out, kEntryEnd);
  }
  for (std::size_t i = 0; i < fit; ++i) {
    const std::string& line = batch[i];
    if (line.find(kNeverLogged) != std::string::npos) continue;
    AppendTextMode(out, MaskLogText(line));
    AppendTextMode(out, kEntryEnd);
    if (out.size() >= kWriteChunk) {
      if (!WriteAll(file.Get(), out)) return;  // the rest of the pass is dropped
      out.clear();
    }
  }
  WriteAll(file.Get(), out);
}

}  // namespace

struct CTrafficLog::State {
  std::shared_ptr<LogCore> core;
  std::chrono::milliseconds shutdownWait;
  std::thread writer;
  Mutex shutdownMutex;
  bool shutDown GUARDED_BY(shutdownMutex) = false;
};

CTrafficLog::CTrafficLog(std::string directory, WallClock clock,
                         std::chrono::milliseconds shutdownWait, TrafficLogLimits limits)
    : state_(std::make_unique<State>()) {
  state_->core = std::make_shared<LogCore>(std::move(directory), std::move(clock), limits);
  state_->shutdownWait = shutdownWait;
  try {
    state_->writer = std::thread([core = state_->core] { core->RunWriter(); });
  } catch (const std::system_error&) {
    // Without a writer nothing could ever be written: refuse every entry.
    MutexLock lock(state_->core->mutex);
    state_->core->accepting = false;
    state_->core->stop.Set();
    state_->core->done.Set();
  }
}

CTrafficLog::~CTrafficLog() { Shutdown(); }

bool CTrafficLog::Log(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const bool queued = LogV(format, arguments);
  va_end(arguments);
  return queued;
}

bool CTrafficLog::LogV(const char* format, va_list arguments) {
  LogCore& core = *state_->core;
  if (format == nullptr || core.stop.IsSet()) return false;
  std::string entry = FormatLocalTime("[%H:%M:%S]", core.clock());
  std::string message;
  if (!FormatText(message, format, arguments)) return false;
  entry += message;
  bool first = false;
  {
    // Checked again under the lock: an entry accepted here is always seen by
    // the writer's last pass, which starts only after accepting is cleared.
    MutexLock lock(core.mutex);
    if (!core.accepting) return false;
    if (core.pending.size() >= core.limits.entries || core.pendingBytes + entry.size() > core.limits.bytes) {
      ++core.dropped;
      core.lost.fetch_add(1, std::memory_order_relaxed);
      return false;
    }
    first = core.pending.empty();
    core.pendingBytes += entry.size();
    core.pending.push_back(std::move(entry));
    ++core.queued;
  }
  // Only the entry that finds the list empty wakes the writer: a wake per
  // entry cost a context switch each. Nothing is left behind: the list is
  // emptied only by a pass taking all of it, and a wake the writer takes
  // always leads to a pass. So a non-empty list always has its first entry's
  // wake pending, or is about to be taken by a pass already woken; an entry
  // that comes while a pass writes finds the list empty and wakes the next one.
  if (first) core.wake.Set();
  return true;
}

bool CTrafficLog::WaitUntilWritten(std::chrono::milliseconds timeout) {
  LogCore& core = *state_->core;
  MutexLock lock(core.mutex);
  const std::uint64_t target = core.queued;
  if (core.processed < target) core.flush.Set();
  return core.passDone.wait_for(core.mutex, timeout, [&]() REQUIRES(core.mutex) { return core.processed >= target; });
}

std::uint64_t CTrafficLog::DroppedEntries() const { return state_->core->lost.load(std::memory_order_relaxed); }

void CTrafficLog::SetNoticeObserver(LogNoticeObserver observer) {
  LogCore& core = *state_->core;
  MutexLock lock(core.observerMutex);
  core.noticeObserver = std::move(observer);
}

void CTrafficLog::Shutdown() {
  MutexLock guard(state_->shutdownMutex);
  if (state_->shutDown) return;
  state_->shutDown = true;
  LogCore& core = *state_->core;
  {
    MutexLock lock(core.mutex);
    core.accepting = false;
  }
  core.stop.Set();
  if (!state_->writer.joinable()) return;
  if (core.done.Wait(state_->shutdownWait)) {
    state_->writer.join();
  } else {
    // The writer is stuck in the file system. It owns a reference to the core,
    // so letting it go on alone cannot touch anything freed here.
    state_->writer.detach();
  }
}

}  // namespace paxelle
