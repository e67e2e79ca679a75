#include "host/SequenceCounters.h"

#include "tests/host/StateTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace paxelle {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

constexpr char kCreateFailed[] = "Synchronized Stan File Does Not Exist and Creation Failed...";
constexpr char kOpenForReadFailed[] = "Synchronized Stan File Exists but could not be opened for reading...";
constexpr char kReadFailed[] = "Could Not Read From Synchronized Stan File...";
constexpr char kOpenForWriteFailed[] = "Synchronized Stan File could not be opened for writing...";

class SequenceCountersTest : public ::testing::Test {
 protected:
  fs::path Stan() const { return dir_ / "SynchroStan.dat"; }
  fs::path Item() const { return dir_ / "SynchroStan2.dat"; }

  TempDir dir_;
  testing::ScratchLog log_;
  CSequenceCounters counters_{dir_.Path(), log_.Log()};
  std::string errors_;
};

TEST_F(SequenceCountersTest, MissingStanFileGivesOneAndHoldsIt) {
  EXPECT_EQ(counters_.NextStan(errors_), 1);
  EXPECT_EQ(ReadBytes(Stan()), "1\r\r\n");
  EXPECT_EQ(counters_.NextStan(errors_), 2);
  EXPECT_EQ(ReadBytes(Stan()), "2\r\r\n");
  EXPECT_EQ(errors_, "");
  EXPECT_FALSE(fs::exists(Item())) << "the item number has its own file";
  EXPECT_EQ(counters_.NextItem(errors_), 1);
  EXPECT_EQ(ReadBytes(Item()), "1\r\r\n");
  EXPECT_EQ(ReadBytes(Stan()), "2\r\r\n");
}

TEST_F(SequenceCountersTest, StanAndItemTogetherAdvanceBothFilesLikeTwoCalls) {
  WriteBytes(Stan(), "9999\r\r\n");
  int stan = 0;
  int item = 0;
  counters_.NextStanAndItem(stan, item, errors_);
  EXPECT_EQ(stan, 1);
  EXPECT_EQ(item, 1);
  counters_.NextStanAndItem(stan, item, errors_);
  EXPECT_EQ(stan, 2);
  EXPECT_EQ(item, 2);
  EXPECT_EQ(ReadBytes(Stan()), "2\r\r\n");
  EXPECT_EQ(ReadBytes(Item()), "2\r\r\n");
  EXPECT_EQ(Listing(dir_.Path()), (std::vector<std::string>{"SynchroStan.dat", "SynchroStan2.dat"}));
  EXPECT_EQ(errors_, "");
}

TEST_F(SequenceCountersTest, NextFollowsTheStoredNumber) {
  const struct {
    const char* stored;
    int next;
  } cases[] = {
      {"1234\r\r\n", 1235},    // as the Windows build writes it
      {"41\r\n", 42},          {"41\n", 42}, {"41", 42},
      {"9998\r\r\n", 9999},    {"9999\r\r\n", 1},
      {"123456\r\r\n", 1},     {"99999999999999999999999\r\r\n", 1},
      {"  7xyz\r\r\n", 8},     {"abc\r\r\n", 1},
      {"\r\r\n", 1},           {"5\r\r\n7\r\r\n", 6},
      {"-5\r\r\n", 1},         // never 0 or below: 0 is the failure value
  };
  for (const auto& c : cases) {
    WriteBytes(Stan(), c.stored);
    EXPECT_EQ(counters_.NextStan(errors_), c.next) << ::testing::PrintToString(std::string(c.stored));
    EXPECT_EQ(ReadBytes(Stan()), std::to_string(c.next) + "\r\r\n");
  }
  EXPECT_EQ(errors_, "");
}

TEST_F(SequenceCountersTest, NextWrapsAtTheGivenMaximum) {
  std::vector<int> seen;
  for (int i = 0; i < 5; ++i) seen.push_back(counters_.Next("Other.dat", 3, errors_));
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 1, 2}));
  EXPECT_EQ(ReadBytes(dir_ / "Other.dat"), "2\r\r\n");
}

TEST_F(SequenceCountersTest, ResetItemsMakesTheNextItemOne) {
  counters_.NextItem(errors_);
  counters_.NextItem(errors_);
  EXPECT_EQ(counters_.NextStan(errors_), 1);
  counters_.ResetItems(errors_);
  EXPECT_EQ(ReadBytes(Item()), "0\r\r\n");
  EXPECT_EQ(counters_.NextItem(errors_), 1);
  EXPECT_EQ(ReadBytes(Stan()), "1\r\r\n") << "the STAN is not reset";
  EXPECT_EQ(errors_, "");
}

TEST_F(SequenceCountersTest, ResetItemsCreatesOrRepairsTheFile) {
  counters_.ResetItems(errors_);
  EXPECT_EQ(ReadBytes(Item()), "0\r\r\n");
  WriteBytes(Item(), "");
  EXPECT_EQ(counters_.NextItem(errors_), 0);
  EXPECT_EQ(errors_, kReadFailed);
  counters_.ResetItems(errors_);
  EXPECT_EQ(counters_.NextItem(errors_), 1);
  EXPECT_EQ(errors_, kReadFailed);
}

TEST_F(SequenceCountersTest, EmptyFileCannotBeReadAndStaysAsItIs) {
  WriteBytes(Stan(), "");
  errors_ = "before;";
  EXPECT_EQ(counters_.NextStan(errors_), 0);
  EXPECT_EQ(errors_, std::string("before;") + kReadFailed);
  EXPECT_EQ(ReadBytes(Stan()), "");
}

TEST_F(SequenceCountersTest, FileThatCannotBeOpenedGivesZero) {
  fs::create_directory(Stan());
  EXPECT_EQ(counters_.NextStan(errors_), 0);
  EXPECT_EQ(errors_, kOpenForReadFailed);
  EXPECT_TRUE(fs::is_directory(Stan()));
}

TEST_F(SequenceCountersTest, RewriteThatCannotBeOpenedStillGivesTheNumber) {
  // The longest name the file system allows leaves no room for the
  // temporary's name beside it, so only the rewrite fails.
  const std::string name(250, 'n');
  WriteBytes(dir_ / name, "41\r\r\n");
  EXPECT_EQ(counters_.Next(name, 9999, errors_), 42);
  EXPECT_EQ(errors_, kOpenForWriteFailed);
  EXPECT_EQ(ReadBytes(dir_ / name), "41\r\r\n");
  EXPECT_EQ(Listing(dir_.Path()), std::vector<std::string>{name});
}

TEST_F(SequenceCountersTest, LeftoverTemporaryDoesNoHarm) {
  WriteBytes(dir_ / ".SynchroStan.dat.tmp-Xy12Ab", "500\r\r\n");
  EXPECT_EQ(counters_.NextStan(errors_), 1) << "a temporary is never taken for the state";
  WriteBytes(dir_ / ".SynchroStan.dat.tmp-Cd34Ef", "");
  EXPECT_EQ(counters_.NextStan(errors_), 2);
  EXPECT_EQ(errors_, "");
  EXPECT_EQ(ReadBytes(Stan()), "2\r\r\n");
  EXPECT_EQ(ReadBytes(dir_ / ".SynchroStan.dat.tmp-Xy12Ab"), "500\r\r\n");
  EXPECT_EQ(Listing(dir_.Path()).size(), 3u) << "no new temporary is left";
}

TEST(SequenceCountersFailureTest, UnusableDirectoryGivesZeroAndIsLogged) {
  testing::LoggedWorkingDirectory cwd;
  testing::WriteBytes(cwd.Path() / "plain", "");
  CSequenceCounters counters(cwd.Path() / "plain", cwd.Log());
  std::string errors;
  EXPECT_EQ(counters.NextStan(errors), 0);
  EXPECT_EQ(counters.NextItem(errors), 0);
  EXPECT_EQ(errors, std::string(kCreateFailed) + kCreateFailed);
  counters.ResetItems(errors);
  EXPECT_EQ(errors, std::string(kCreateFailed) + kCreateFailed + kCreateFailed);
  const std::string logged = cwd.Logged();
  EXPECT_NE(logged.find(std::string(kCreateFailed) + " (" + (cwd.Path() / "plain").string()),
            std::string::npos)
      << logged;
}

TEST(SequenceCountersFailureTest, ReadOnlyDirectoryGivesZeroAndIsLogged) {
  testing::LoggedWorkingDirectory cwd;
  const fs::path locked = cwd.Path() / "locked";
  fs::create_directory(locked);
  WriteBytes(locked / "SynchroStan2.dat", "41\r\r\n");
  ::chmod(locked.c_str(), 0555);
  if (::access(locked.c_str(), W_OK) == 0) {
    ::chmod(locked.c_str(), 0755);
    GTEST_SKIP() << "running with privileges that ignore directory permissions";
  }
  CSequenceCounters counters(locked, cwd.Log());
  std::string errors;
  EXPECT_EQ(counters.NextStan(errors), 0);
  EXPECT_EQ(errors, kCreateFailed);
  // An existing file whose rewrite cannot be opened still hands out its number.
  EXPECT_EQ(counters.NextItem(errors), 42);
  EXPECT_EQ(errors, std::string(kCreateFailed) + kOpenForWriteFailed);
  const std::string logged = cwd.Logged();
  EXPECT_NE(logged.find(kCreateFailed), std::string::npos) << logged;
  EXPECT_NE(logged.find(kOpenForWriteFailed), std::string::npos) << logged;
  EXPECT_EQ(ReadBytes(locked / "SynchroStan2.dat"), "41\r\r\n");
  EXPECT_EQ(Listing(locked), std::vector<std::string>{"SynchroStan2.dat"});
  ::chmod(locked.c_str(), 0755);
}

TEST_F(SequenceCountersTest, ConcurrentCallersGetDistinctNumbers) {
  constexpr int kThreads = 4;
  constexpr int kEach = 100;
  std::vector<std::vector<int>> taken(kThreads);
  std::vector<std::string> errors(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) taken[t].push_back(counters_.NextStan(errors[t]));
    });
  }
  for (auto& thread : threads) thread.join();

  std::vector<int> all;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(errors[t], "");
    EXPECT_TRUE(std::is_sorted(taken[t].begin(), taken[t].end())) << "each caller sees them rise";
    all.insert(all.end(), taken[t].begin(), taken[t].end());
  }
  std::sort(all.begin(), all.end());
  std::vector<int> expected(kThreads * kEach);
  for (int i = 0; i < kThreads * kEach; ++i) expected[i] = i + 1;
  EXPECT_EQ(all, expected);
  EXPECT_EQ(ReadBytes(Stan()), std::to_string(kThreads * kEach) + "\r\r\n");
  EXPECT_EQ(Listing(dir_.Path()), std::vector<std::string>{"SynchroStan.dat"});
}

}  // namespace
}  // namespace paxelle
