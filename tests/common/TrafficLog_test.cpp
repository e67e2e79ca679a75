#include "common/TrafficLog.h"

#include "tests/common/LocalMoment.h"
#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paxelle {
namespace {

namespace fs = std::filesystem;
using testing::LocalMoment;
using testing::ReadBytes;
using testing::TempDir;
using std::chrono::milliseconds;
constexpr milliseconds kPatience{60000};
const std::string kFs(1, '\x1c');
const std::string kEnd = "\r\n----------\r\n";

WallClock FixedClock(std::time_t when) {
  return [when] { return when; };
}

// Another open file description holding the file, as another program would.
class HeldFile {
 public:
  explicit HeldFile(const fs::path& path)
      : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)) {
    held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~HeldFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

// 8 December 2015, 14:03:22 local time, and that day's files.
class TrafficLogTest : public ::testing::Test {
 protected:
  const std::time_t moment_ = LocalMoment(2015, 12, 8, 14, 3, 22);
  TempDir dir_;
  fs::path primary_ = dir_.Path() / "OPX12082015.log";
  fs::path alternative_ = dir_.Path() / "OPX12082015_ALT.log";

  std::unique_ptr<CTrafficLog> MakeLog() {
    return std::make_unique<CTrafficLog>(dir_.Path().string(), FixedClock(moment_));
  }
};

TEST_F(TrafficLogTest, EntryIsStampMessageAndSeparatorWithCrLf) {
  auto log = MakeLog();
  EXPECT_TRUE(log->Log("Interfaces Stopped."));
  EXPECT_TRUE(log->Log("Request ->[%s] from %s", "TranCode=Sale", "127.0.0.1"));
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  EXPECT_EQ(ReadBytes(primary_), "[14:03:22]Interfaces Stopped." + kEnd +
                                    "[14:03:22]Request ->[TranCode=Sale] from 127.0.0.1" + kEnd);
  EXPECT_FALSE(fs::exists(alternative_));
}

TEST_F(TrafficLogTest, LaterPassesAppendToTheDaysFile) {
  auto log = MakeLog();
  log->Log("first");
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  log.reset();
  log = MakeLog();
  log->Log("second");
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  EXPECT_EQ(ReadBytes(primary_), "[14:03:22]first" + kEnd + "[14:03:22]second" + kEnd);
}

TEST_F(TrafficLogTest, ArgumentTextIsNeverTakenAsAFormat) {
  auto log = MakeLog();
  const char* hostile = "100%n off %s%s%d %x";
  log->Log("[%s] sent to %s", hostile, "%n");
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  EXPECT_EQ(ReadBytes(primary_), "[14:03:22][100%n off %s%s%d %x] sent to %n" + kEnd);
}

TEST_F(TrafficLogTest, MessagesOfAnyLengthAreWrittenWhole) {
  auto log = MakeLog();
  std::string big(300000, 'x');
  big.back() = 'y';
  log->Log("%s", big.c_str());
  log->Log("%s", "");
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  EXPECT_EQ(ReadBytes(primary_), "[14:03:22]" + big + kEnd + "[14:03:22]" + kEnd);
}

TEST_F(TrafficLogTest, EveryLineFeedIsStoredAsCrLf) {
  auto log = MakeLog();
  log->Log("line one\nline two\n");
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  EXPECT_EQ(ReadBytes(primary_), "[14:03:22]line one\r\nline two\r\n" + kEnd);
}

TEST_F(TrafficLogTest, LineWithKelvaraStreamIsNeverWritten) {
  auto log = MakeLog();
  log->Log("Request ->[%s] from %s", "TStream=Kelvara;secret", "127.0.0.1");
  log->Log("kept");
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  EXPECT_EQ(ReadBytes(primary_), "[14:03:22]kept" + kEnd);
}

TEST_F(TrafficLogTest, WriterMasksPayloadThenAdministrativeMarker) {
  auto log = MakeLog();
  log->Log("[%s] sent to %s", (kFs + "2A1B2C3D").c_str(), "127.0.0.1");
  log->Log("Request TranType=Administrative%sCmd=Version", kFs.c_str());
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  EXPECT_EQ(ReadBytes(primary_), "[14:03:22][ Encrypted Msg ] sent to 127.0.0.1" + kEnd +
                                    "[14:03:22]Request Cmd=Version" + kEnd);
}

// Whoever logs lane or host text, the file never shows the card data in it.
TEST_F(TrafficLogTest, EveryEntryReachesTheFileWithItsCardDataMasked) {
  const std::string pan = "4111111111111111";
  const std::string lines[] = {
      "Request ->[AcctNo=" + pan + kFs + "CVVData=737" + kFs + "] from 127.0.0.1:0005",
      "[" + kFs + "000\x02<UserTraceData>Track2=;" + pan + "=2812101?</UserTraceData>\x03] sent to 127.0.0.1:0005",
      "Response Built [<TextResponse>CALL " + pan + "</TextResponse>] for 127.0.0.1:0005",
      "RESPONSE from WORLDPAY INTERFACE ->[bad card %B" + pan + "^DOE/J^2812?] for 127.0.0.1:0005",
      // A key block cut out of the line must not join an account's pieces.
      "Request ->[AcctN\x11" "0A0B\x12o=" + pan + "] from 127.0.0.1:0005",
      "Request ->[41111111\x1e" "0A\x1f" "11111111] from 127.0.0.1:0005",
  };
  auto log = MakeLog();
  for (const std::string& line : lines) log->Log("%s", line.c_str());
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  const std::string written = ReadBytes(primary_);
  EXPECT_EQ(written.find(pan), std::string::npos) << written;
  EXPECT_EQ(written.find("DOE/J"), std::string::npos);
  EXPECT_EQ(written.find("737"), std::string::npos);
  EXPECT_NE(written.find("XXXXXXXXXXXX1111"), std::string::npos);
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2 * static_cast<long>(std::size(lines)));
}

// A clock that holds the writer thread (any thread but the test's) in its
// write pass until Release, as a full or slow disk would.
class StalledWriterClock {
 public:
  explicit StalledWriterClock(std::time_t moment) : moment_(moment) {}

  WallClock Clock() {
    return [this] {
      if (std::this_thread::get_id() != testThread_) {
        std::unique_lock<std::mutex> lock(mutex_);
        writerHeld_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
      }
      return moment_;
    };
  }
  bool WaitUntilWriterHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience, [this] { return writerHeld_; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  const std::time_t moment_;
  const std::thread::id testThread_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable changed_;
  bool writerHeld_ = false;
  bool released_ = false;
};

// A stalled writer's list stays within its limits: what comes past them is
// dropped, counted, and the count is logged once the writer moves again.
TEST_F(TrafficLogTest, StalledWriterDropsPastItsLimitsAndLogsTheCount) {
  struct LimitCase {
    const char* name;
    TrafficLogLimits limits;
    int accepted;
  };
  // Each entry below is "[14:03:22]entry N": 17 bytes.
  const LimitCase cases[] = {
      {"entries", {5, 1 << 20}, 5},
      {"bytes", {1000, 3 * 17}, 3},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    StalledWriterClock clock(moment_);
    CTrafficLog log(dir.Path().string(), clock.Clock(), std::chrono::seconds(10), c.limits);
    ASSERT_TRUE(log.Log("before the stall"));
    ASSERT_TRUE(clock.WaitUntilWriterHeld());
    int accepted = 0;
    for (int i = 0; i < 20; ++i) accepted += log.Log("entry %d", i % 10) ? 1 : 0;
    EXPECT_EQ(accepted, c.accepted);
    clock.Release();
    ASSERT_TRUE(log.WaitUntilWritten(kPatience));
    ASSERT_TRUE(log.Log("after"));
    ASSERT_TRUE(log.WaitUntilWritten(kPatience));

    std::string expected = "[14:03:22]before the stall" + kEnd;
    for (int i = 0; i < c.accepted; ++i) expected += "[14:03:22]entry " + std::to_string(i) + kEnd;
    expected += "[14:03:22]Traffic Log Full - " + std::to_string(20 - c.accepted) +
                " entries dropped while the writer was stalled." + kEnd;
    expected += "[14:03:22]after" + kEnd;  // counted once; the next pass has nothing to report
    EXPECT_EQ(ReadBytes(dir.Path() / "OPX12082015.log"), expected);
  }
}

TEST_F(TrafficLogTest, BelowItsReserveOfFreeSpaceTheLogWritesNothingAndSaysSoOnce) {
  TrafficLogLimits limits;
  limits.reservePercent = 100;  // the whole file system: never enough room
  limits.reserveBytes = UINT64_MAX;
  CTrafficLog log(dir_.Path().string(), FixedClock(moment_), std::chrono::seconds(10), limits);
  std::mutex mutex;
  std::vector<bool> told;
  log.SetNoticeObserver([&](LogNotice notice, std::uint64_t) {
    std::lock_guard<std::mutex> lock(mutex);
    told.push_back(notice == LogNotice::kSpaceLow);
  });
  for (int pass = 0; pass < 3; ++pass) {
    ASSERT_TRUE(log.Log("entry %d", pass));
    ASSERT_TRUE(log.WaitUntilWritten(kPatience));
  }
  EXPECT_FALSE(fs::exists(primary_)) << "nothing is written below the reserve";
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(told, std::vector<bool>{true}) << "the operator is told once";
}

TEST_F(TrafficLogTest, ASymbolicLinkUnderTheDaysNameIsNotFollowed) {
  TempDir elsewhere;
  const fs::path target = elsewhere.Path() / "target";
  testing::WriteBytes(target, "untouched");
  fs::create_symlink(target, primary_);
  auto log = MakeLog();
  int told = 0;
  log->SetNoticeObserver([&told](LogNotice notice, std::uint64_t) { told += notice == LogNotice::kLinkRefused; });
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_TRUE(log->Log("entry %d", pass));
    ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  }
  EXPECT_EQ(ReadBytes(target), "untouched");
  const std::string written = ReadBytes(alternative_);
  EXPECT_EQ(written.find(primary_.string() + " is a symbolic link: it is not followed."), 10u) << written;
  EXPECT_NE(written.find("entry 1"), std::string::npos);
  EXPECT_EQ(told, 1) << "the operator is told once";
}

TEST_F(TrafficLogTest, HeldPrimaryFileSendsThePassToTheAlternative) {
  auto log = MakeLog();
  {
    HeldFile other(primary_);
    ASSERT_TRUE(other.held());
    log->Log("while held");
    ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  }
  log->Log("after release");
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  EXPECT_EQ(ReadBytes(alternative_), "[14:03:22]while held" + kEnd);
  EXPECT_EQ(ReadBytes(primary_), "[14:03:22]after release" + kEnd);
}

TEST_F(TrafficLogTest, BothFilesHeldLosesThatPassOnly) {
  auto log = MakeLog();
  {
    HeldFile first(primary_);
    HeldFile second(alternative_);
    ASSERT_TRUE(first.held() && second.held());
    EXPECT_TRUE(log->Log("lost"));  // callers are never told
    ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  }
  log->Log("kept");
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  EXPECT_EQ(ReadBytes(primary_), "[14:03:22]kept" + kEnd);
  EXPECT_EQ(ReadBytes(alternative_), "");
}

TEST_F(TrafficLogTest, EntriesDrainedAfterMidnightGoToTheNewDay) {
  // The stamp is taken on the calling thread, the file name on the writer's:
  // the test thread sees 23:59:59 on 31 December, the writer 00:00:01 on 1 January.
  const std::time_t beforeMidnight = LocalMoment(2015, 12, 31, 23, 59, 59);
  const std::time_t afterMidnight = LocalMoment(2016, 1, 1, 0, 0, 1);
  const std::thread::id caller = std::this_thread::get_id();
  CTrafficLog log(dir_.Path().string(), [=] {
    return std::this_thread::get_id() == caller ? beforeMidnight : afterMidnight;
  });
  log.Log("last of the year");
  ASSERT_TRUE(log.WaitUntilWritten(kPatience));
  EXPECT_EQ(ReadBytes(dir_.Path() / "OPX01012016.log"), "[23:59:59]last of the year" + kEnd);
  EXPECT_FALSE(fs::exists(dir_.Path() / "OPX12312015.log"));
}

TEST_F(TrafficLogTest, MissingDirectoryDiscardsPassesAndIsNotCreated) {
  const fs::path absent = dir_.Path() / "KELVARA_LOGS";
  CTrafficLog log(absent.string(), FixedClock(moment_));
  EXPECT_TRUE(log.Log("nowhere to go"));
  EXPECT_TRUE(log.WaitUntilWritten(kPatience));
  EXPECT_FALSE(fs::exists(absent));
}

// A disk that fills (a small tmpfs, where mounting is allowed): the log stops
// short of it, and once there is room again it says what it left out.
TEST_F(TrafficLogTest, AFullDiskIsLeftAloneAndTheCountWrittenOnceThereIsRoom) {
  if (::mount("tmpfs", dir_.Path().c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here; run as root to test a full disk";
  }
  struct Unmount {
    fs::path where;
    ~Unmount() { ::umount2(where.c_str(), MNT_DETACH); }
  } unmount{dir_.Path()};
  {
    std::ofstream filler(dir_.Path() / "filler", std::ios::binary);
    const std::string block(1024, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
    }
  }
  auto log = MakeLog();
  log->Log("cannot be stored");
  log->Log("nor this");
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  EXPECT_FALSE(fs::exists(primary_));
  fs::remove(dir_.Path() / "filler");
  log->Log("stored");
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));
  EXPECT_EQ(ReadBytes(primary_), "[14:03:22]Traffic Log - 2 entries were not written while the disk was low on space." +
                                     kEnd + "[14:03:22]stored" + kEnd);
}

TEST_F(TrafficLogTest, ShutdownWritesWhatWasQueuedThenRefuses) {
  auto log = MakeLog();
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(log->Log("entry %d", i));
    expected += "[14:03:22]entry " + std::to_string(i) + kEnd;
  }
  log->Shutdown();
  EXPECT_EQ(ReadBytes(primary_), expected);
  EXPECT_FALSE(log->Log("too late"));
  EXPECT_TRUE(log->WaitUntilWritten(milliseconds(0)));
  log->Shutdown();  // idempotent
  log.reset();
  EXPECT_EQ(ReadBytes(primary_), expected);
}

TEST_F(TrafficLogTest, ConcurrentWritersKeepEveryEntryInThreadOrder) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 10000;
  auto log = MakeLog();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kPerThread; ++i) log->Log("T%d #%d", t, i);
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(log->WaitUntilWritten(kPatience));

  const std::string content = ReadBytes(primary_);
  std::vector<int> next(kThreads, 0);
  int entries = 0;
  std::size_t at = 0;
  while (at < content.size()) {
    const auto end = content.find(kEnd, at);
    ASSERT_NE(end, std::string::npos);
    int thread = -1;
    int index = -1;
    ASSERT_EQ(std::sscanf(content.c_str() + at, "[14:03:22]T%d #%d", &thread, &index), 2);
    ASSERT_TRUE(thread >= 0 && thread < kThreads);
    ASSERT_EQ(index, next[thread]) << "thread " << thread;
    ++next[thread];
    ++entries;
    at = end + kEnd.size();
  }
  EXPECT_EQ(entries, kThreads * kPerThread);
}

TEST_F(TrafficLogTest, WriterStuckPastShutdownNeverTouchesFreedState) {
  // A FIFO in place of the day's file blocks the writer's open until a reader
  // comes, long after Shutdown gave up waiting and the log object is gone.
  ASSERT_EQ(::mkfifo(primary_.c_str(), 0600), 0);
  auto log = std::make_unique<CTrafficLog>(dir_.Path().string(), FixedClock(moment_),
                                           milliseconds(100));
  ASSERT_TRUE(log->Log("through the pipe"));
  log->Shutdown();
  EXPECT_FALSE(log->Log("refused"));
  log.reset();

  const int reader = ::open(primary_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  std::string received;
  char buffer[256];
  for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) != 0;) {
    if (n < 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(reader);
  EXPECT_EQ(received, "[14:03:22]through the pipe" + kEnd);
}

struct MaskCase {
  const char* name;
  std::string line;
  std::string masked;
};

TEST(TrafficLogMaskTest, PayloadMask) {
  const std::string dc1(1, '\x11'), dc2(1, '\x12'), rs(1, '\x1e'), us(1, '\x1f');
  const MaskCase cases[] = {
      {"frame sent", "[12:00:00][" + kFs + "2A1B2C] sent to 10.0.0.7",
       "[12:00:00][ Encrypted Msg ] sent to 10.0.0.7"},
      {"frame received", "[12:00:00]" + kFs + "2ABCDEF received from 10.0.0.7 ok",
       "[12:00:00] Encrypted Msg ] received from 10.0.0.7 ok"},
      {"FS 1 before FS 2", "a" + kFs + "2b" + kFs + "1c] sent to x",
       "a" + kFs + "2b Encrypted Msg ] sent to x"},
      {"sent to wins over an earlier received from",
       "a" + kFs + "1 received from b sent to c", "a Encrypted Msg ] sent to c"},
      {"FS 1 without either phrase is untouched, ranges too",
       "a" + kFs + "1" + dc1 + "x" + dc2 + rs + "y" + us, "a" + kFs + "1" + dc1 + "x" + dc2 + rs + "y" + us},
      {"phrase only before the frame leaves the line alone",
       "sent to x [" + kFs + "2ABC]", "sent to x [" + kFs + "2ABC]"},
      {"FS with another digit is no frame", "a" + kFs + "3" + dc1 + "x" + dc2 + "b",
       "a" + kFs + "3b"},
      {"DC1..DC2 and RS..US removed", "a" + dc1 + "key" + dc2 + "b" + rs + "pin" + us + "c", "abc"},
      {"only the first range of each kind", dc1 + "1" + dc2 + dc1 + "2" + dc2 + rs + "3" + us + rs + "4" + us,
       dc1 + "2" + dc2 + rs + "4" + us},
      {"DC2 before DC1 is no range", "a" + dc2 + "b" + dc1 + "c", "a" + dc2 + "b" + dc1 + "c"},
      {"DC1 without DC2", "a" + dc1 + "b", "a" + dc1 + "b"},
      {"a later lone RS stays", "a" + rs + "b" + us + rs + "c", "a" + rs + "c"},
      {"RS without later US", "a" + us + "b" + rs + "c", "a" + us + "b" + rs + "c"},
      {"nothing to mask", "Interfaces Stopped.", "Interfaces Stopped."},
      {"empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ApplyPayloadMask(c.line), c.masked) << c.name;
}

TEST(TrafficLogMaskTest, AdministrativeMask) {
  const MaskCase cases[] = {
      {"marker and next character", "Req TranType=Administrative" + kFs + "Cmd=Ver",
       "Req Cmd=Ver"},
      {"at the very end", "Req TranType=Administrative", "Req "},
      {"one character after it", "TranType=Administrative;", ""},
      {"only the first", "aTranType=Administrative;bTranType=Administrative;c",
       "abTranType=Administrative;c"},
      {"absent", "TranType=Credit;x", "TranType=Credit;x"},
      {"cut short", "TranType=Administrativ", "TranType=Administrativ"},
  };
  for (const auto& c : cases) EXPECT_EQ(ApplyAdministrativeMask(c.line), c.masked) << c.name;
}

}  // namespace
}  // namespace paxelle
