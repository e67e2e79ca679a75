// Ageing the daily traffic logs: real dated files in a temporary directory, a
// fixed "today", and the compressed copies read back with zlib.
#include "common/LogAger.h"
#include "common/LogRetention.h"
#include "tests/common/LocalMoment.h"
#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <filesystem>
#include <map>

namespace paxelle {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using testing::Listing;
using testing::ReadBytes;
using testing::WriteBytes;

// Noon of the test's "today", and the local noon `days` before it.
std::time_t Noon(int daysBefore = 0) { return testing::LocalMoment(2026, 3, 15 - daysBefore, 12, 0); }

// The day's file name as the log writer makes it.
std::string DayFile(int daysBefore, const char* suffix = ".log") {
  return FormatLocalTime("OPX%m%d%Y", Noon(daysBefore)) + suffix;
}

// The whole content of a gzip file, or "<unreadable>".
std::string Gunzip(const fs::path& path) {
  gzFile file = ::gzopen(path.c_str(), "rb");
  if (file == nullptr) return "<unreadable>";
  std::string content;
  char buffer[4096];
  int got = 0;
  while ((got = ::gzread(file, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<std::size_t>(got));
  const bool clean = got == 0;
  ::gzclose(file);
  return clean ? content : "<unreadable>";
}

TEST(DailyLogNameTest, OnlyTheWritersNamesWithRealDates) {
  const struct {
    const char* name;
    std::optional<long> day;
    bool compressed;
  } cases[] = {
      {"OPX12082015.log", DaysSinceEpoch(2015, 12, 8), false},
      {"OPX12082015_ALT.log", DaysSinceEpoch(2015, 12, 8), false},
      {"OPX02292024.log.gz", DaysSinceEpoch(2024, 2, 29), true},
      {"OPX02292024_ALT.log.gz", DaysSinceEpoch(2024, 2, 29), true},
      {"OPX02292023.log", std::nullopt, false},  // no 29 February that year
      {"OPX13012024.log", std::nullopt, false},
      {"OPX00012024.log", std::nullopt, false},
      {"OPX01322024.log", std::nullopt, false},
      {"OPX0101202.log", std::nullopt, false},
      {"OPX01012024.txt", std::nullopt, false},
      {"opx01012024.log", std::nullopt, false},
      {"OPX01012024.log.gz.tmp-abc123", std::nullopt, false},
      {"OPX01012024_ALT_ALT.log", std::nullopt, false},
      {"OPX+1012024.log", std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<DailyLogFile> file = ParseDailyLogName(c.name);
    ASSERT_EQ(file.has_value(), c.day.has_value());
    if (!file) continue;
    EXPECT_EQ(file->day, *c.day);
    EXPECT_EQ(file->compressed, c.compressed);
  }
  EXPECT_EQ(DaysSinceEpoch(1970, 1, 1), 0);
  EXPECT_EQ(DaysSinceEpoch(2000, 3, 1), 11017);
  EXPECT_EQ(LocalDay(Noon(1)) + 1, LocalDay(Noon()));
}

class LogAgingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.Path().empty()); }

  // Writes a file named for `daysBefore` whose content names it.
  std::string Day(int daysBefore, const char* suffix = ".log") {
    const std::string name = DayFile(daysBefore, suffix);
    WriteBytes(dir_ / name, "[12:00:00]Server Startup " + name + "\r\n----------\r\n");
    return name;
  }
  AgingResult Age(LogRetention retention = {}) {
    return AgeLogFiles(dir_.Path().string(), LocalDay(Noon()), retention);
  }

  testing::TempDir dir_;
};

TEST_F(LogAgingTest, AWeekOldIsCompressedAndPastTheRetentionRemovedButTodayNeverTouched) {
  const struct {
    int daysBefore;
    const char* suffix;
    const char* becomes;  // "kept", "compressed" or "removed"
  } cases[] = {
      {0, ".log", "kept"},           {0, "_ALT.log", "kept"},        {-1, ".log", "kept"},  // a clock set back
      {1, ".log", "kept"},           {7, ".log", "kept"},            {8, ".log", "compressed"},
      {8, "_ALT.log", "compressed"}, {9, ".log.gz", "kept"},         {400, ".log", "compressed"},
      {401, ".log", "removed"},      {401, "_ALT.log.gz", "removed"}, {900, ".log.gz", "removed"},
  };
  std::map<std::string, std::string> contents;
  for (const auto& c : cases) {
    const std::string name = Day(c.daysBefore, c.suffix);
    contents[name] = ReadBytes(dir_ / name);
  }
  // A week-old file's times are kept on its copy, so a listing still dates it.
  const std::string weekOld = DayFile(8);
  const timespec written[2] = {{Noon(8), 0}, {Noon(8), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / weekOld).c_str(), written, 0), 0);
  ASSERT_EQ(::chmod((dir_ / weekOld).c_str(), 0640), 0);
  // Not ours: another file, a link and a directory under log names, and what an
  // interrupted compression left.
  WriteBytes(dir_ / "notes.txt", "kept");
  fs::create_symlink(dir_ / "notes.txt", dir_ / DayFile(500));
  fs::create_directory(dir_ / DayFile(600));
  const std::string leftover = "." + DayFile(30, ".log.gz") + ".tmp-Ab12Cd";
  WriteBytes(dir_ / leftover, "half");

  const AgingResult result = Age();
  EXPECT_TRUE(result.failures.empty()) << result.failures.front();
  for (const auto& c : cases) {
    const std::string name = DayFile(c.daysBefore, c.suffix);
    SCOPED_TRACE(name);
    const std::string becomes = c.becomes;
    EXPECT_EQ(fs::exists(dir_ / name), becomes == "kept");
    EXPECT_EQ(fs::exists(dir_ / (name + ".gz")), becomes == "compressed");
    if (becomes == "kept") {
      EXPECT_EQ(ReadBytes(dir_ / name), contents[name]);
    }
    if (becomes == "compressed") {
      EXPECT_EQ(Gunzip(dir_ / (name + ".gz")), contents[name]);
    }
  }
  EXPECT_EQ(result.compressed.size(), 3u);
  EXPECT_EQ(result.removed.size(), 3u);
  EXPECT_EQ(AgingReport(result, {}), "Traffic logs aged: 3 compressed (older than 7 days), 3 removed (older than 400 days).");
  EXPECT_TRUE(fs::is_symlink(dir_ / DayFile(500)));
  EXPECT_TRUE(fs::is_directory(dir_ / DayFile(600)));
  EXPECT_EQ(ReadBytes(dir_ / "notes.txt"), "kept");
  EXPECT_FALSE(fs::exists(dir_ / leftover));

  struct stat copy {};
  ASSERT_EQ(::stat((dir_ / (weekOld + ".gz")).c_str(), &copy), 0);
  EXPECT_EQ(copy.st_mtime, Noon(8));
  EXPECT_EQ(copy.st_mode & 07777, 0640u);

  const AgingResult again = Age();
  EXPECT_TRUE(again.compressed.empty() && again.removed.empty() && again.failures.empty()) << "nothing left to do";
}

TEST_F(LogAgingTest, RetentionZeroKeepsEverythingAndALongerOneKeepsMore) {
  const std::string old = Day(5000);
  const std::string year = Day(500);
  EXPECT_TRUE(Age({.keepDays = 0}).removed.empty());
  EXPECT_TRUE(fs::exists(dir_ / (old + ".gz")));
  const AgingResult result = Age({.keepDays = 1000});
  EXPECT_EQ(result.removed, std::vector<std::string>{old + ".gz"});
  EXPECT_TRUE(fs::exists(dir_ / (year + ".gz")));
}

TEST_F(LogAgingTest, AFileSomeoneHoldsOrAStoppedPassChangesNothing) {
  const std::string held = Day(20);
  const int fd = ::open((dir_ / held).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const AgingResult result = Age();
  ::close(fd);
  ASSERT_EQ(result.failures.size(), 1u);
  EXPECT_NE(result.failures[0].find("Cannot lock " + (dir_ / held).string()), std::string::npos) << result.failures[0];
  EXPECT_EQ(Listing(dir_.Path()), std::vector<std::string>{held}) << "no temporary left";

  const AgingResult stopped = AgeLogFiles(dir_.Path().string(), LocalDay(Noon()), {}, [] { return true; });
  EXPECT_TRUE(stopped.compressed.empty() && stopped.failures.empty());
  EXPECT_EQ(Listing(dir_.Path()), std::vector<std::string>{held});
}

// The ager's own thread: a pass at start, another when the local day changes.
TEST_F(LogAgingTest, TheAgerPassesAtStartAndOnEachNewDay) {
  std::atomic<std::time_t> now{Noon()};
  std::vector<std::string> logged;
  std::mutex loggedMutex;
  CLogAger ager(dir_.Path().string(), {}, [&now] { return now.load(); },
                [&](const std::string& text) {
                  std::lock_guard lock(loggedMutex);
                  logged.push_back(text);
                },
                milliseconds(5));
  const std::string week = Day(8);
  const std::string yesterday = Day(1);
  ASSERT_TRUE(ager.Start());
  ASSERT_TRUE(ager.WaitForPasses(1, milliseconds(10000)));
  EXPECT_TRUE(fs::exists(dir_ / (week + ".gz")));
  EXPECT_TRUE(fs::exists(dir_ / yesterday));

  now = Noon(-7);  // a week on: yesterday's file is eight days old
  ASSERT_TRUE(ager.WaitForPasses(2, milliseconds(10000)));
  EXPECT_TRUE(fs::exists(dir_ / (yesterday + ".gz")));
  ager.Stop();
  std::lock_guard lock(loggedMutex);
  EXPECT_EQ(logged, (std::vector<std::string>{"Traffic logs aged: 1 compressed (older than 7 days).",
                                              "Traffic logs aged: 1 compressed (older than 7 days)."}));
}

}  // namespace
}  // namespace paxelle
