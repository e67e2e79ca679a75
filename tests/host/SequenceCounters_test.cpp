#include "host/SequenceCounters.h"

#include "tests/host/StateTestSupport.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
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
constexpr char kOpenForWriteFailed[] = "Synchronized Stan File could not be opened for writing...";

// A call's number as the checks below read it: 0 on a failure, whose text is added to `errors`.
template <typename Call>
int Number(std::string& errors, Call call) {
  int value = 0;
  errors += call(value).message();
  return value;
}
int NextStan(CSequenceCounters& counters, std::string& errors) {
  return Number(errors, [&](int& value) { return counters.NextStan(value); });
}
int NextItem(CSequenceCounters& counters, std::string& errors) {
  return Number(errors, [&](int& value) { return counters.NextItem(value); });
}

class SequenceCountersTest : public ::testing::Test {
 protected:
  fs::path Stan() const { return dir_ / "SynchroStan.dat"; }
  fs::path Item() const { return dir_ / "SynchroStan2.dat"; }
  fs::path StanShadow() const { return dir_ / "SynchroStan.dat.shadow"; }
  fs::path ItemShadow() const { return dir_ / "SynchroStan2.dat.shadow"; }

  TempDir dir_;
  testing::ScratchLog log_;
  CSequenceCounters counters_{dir_.Path(), log_.Log()};
  std::string errors_;
};

TEST_F(SequenceCountersTest, MissingStanFileGivesOneAndHoldsIt) {
  EXPECT_EQ(NextStan(counters_, errors_), 1);
  EXPECT_EQ(ReadBytes(Stan()), "1\r\r\n");
  EXPECT_EQ(NextStan(counters_, errors_), 2);
  EXPECT_EQ(ReadBytes(Stan()), "2\r\r\n");
  EXPECT_EQ(errors_, "");
  EXPECT_FALSE(fs::exists(Item())) << "the item number has its own file";
  EXPECT_EQ(NextItem(counters_, errors_), 1);
  EXPECT_EQ(ReadBytes(Item()), "1\r\r\n");
  EXPECT_EQ(ReadBytes(Stan()), "2\r\r\n");
}

// Messages that become ready together share one write: the files then hold the
// last numbers handed out, in wrap order, the item reset included.
TEST_F(SequenceCountersTest, OneCommitSavesEveryNumberHandedOutBeforeIt) {
  WriteBytes(Stan(), "9998\r\r\n");
  WriteBytes(Item(), "57\r\r\n");
  NumberClaim first;
  NumberClaim second;
  int stan = 0;
  int item = 0;
  errors_ += counters_.TakeNumbers(first, stan, &item, false).message();
  EXPECT_EQ(std::make_pair(stan, item), std::make_pair(9999, 58));
  errors_ += counters_.TakeNumbers(second, stan, &item, true).message();
  EXPECT_EQ(std::make_pair(stan, item), std::make_pair(1, 1)) << "after 9999 comes 1; a new batch starts at 1";
  EXPECT_EQ(ReadBytes(Stan()), "9998\r\r\n") << "nothing is written before a commit";

  EXPECT_TRUE(counters_.Commit(first).ok());
  for (const fs::path& file : {Stan(), StanShadow()}) EXPECT_EQ(ReadBytes(file), "1\r\r\n");
  for (const fs::path& file : {Item(), ItemShadow()}) EXPECT_EQ(ReadBytes(file), "1\r\r\n");
  // The first commit covered the second claim too: nothing is written again.
  for (const fs::path& file : {Stan(), StanShadow(), Item(), ItemShadow()}) fs::remove(file);
  EXPECT_TRUE(counters_.Commit(second).ok());
  EXPECT_TRUE(Listing(dir_.Path()).empty());
  EXPECT_TRUE(counters_.Commit(NumberClaim()).ok()) << "a claim without numbers waits for nothing";
  // With nothing waiting for a commit, a file edited by hand is followed, the
  // message's second number too.
  WriteBytes(Item(), "500\r\r\n");
  NumberClaim third;
  errors_ += counters_.TakeNumbers(third, stan, &item, false).message();
  EXPECT_EQ(item, 501);
  EXPECT_EQ(errors_, "");
}

TEST_F(SequenceCountersTest, InTheBackgroundNumbersAreSavedAsSoonAsTheyAreHandedOut) {
  ASSERT_TRUE(counters_.StartBackgroundCommits());
  NumberClaim claim;
  int stan = 0;
  int item = 0;
  errors_ += counters_.TakeNumbers(claim, stan, &item, false).message();
  ASSERT_EQ(stan, 1);
  // Nobody called Commit: the counters' own thread wrote both copies.
  EXPECT_TRUE(testing::WaitFor("the shadow copy to hold 1", [&] { return ReadBytes(StanShadow()) == "1\r\r\n"; },
                               std::chrono::seconds(30)));
  EXPECT_EQ(ReadBytes(Stan()), "1\r\r\n");
  EXPECT_EQ(ReadBytes(StanShadow()), "1\r\r\n");
  EXPECT_TRUE(counters_.Commit(claim).ok()) << "found saved";
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
    // A file edited by hand, its shadow copy removed, read by a server starting.
    WriteBytes(Stan(), c.stored);
    fs::remove(StanShadow());
    CSequenceCounters counters(dir_.Path(), log_.Log());
    EXPECT_EQ(NextStan(counters, errors_), c.next) << ::testing::PrintToString(std::string(c.stored));
    EXPECT_EQ(ReadBytes(Stan()), std::to_string(c.next) + "\r\r\n");
    EXPECT_EQ(ReadBytes(StanShadow()), std::to_string(c.next) + "\r\r\n");
  }
  EXPECT_EQ(errors_, "");
}

TEST_F(SequenceCountersTest, NextWrapsAtTheGivenMaximum) {
  std::vector<int> seen;
  const auto next = [&](int& value) { return counters_.Next("Other.dat", 3, value); };
  for (int i = 0; i < 5; ++i) seen.push_back(Number(errors_, next));
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 1, 2}));
  EXPECT_EQ(ReadBytes(dir_ / "Other.dat"), "2\r\r\n");
}

TEST_F(SequenceCountersTest, ResetItemsMakesTheNextItemOne) {
  NextItem(counters_, errors_);
  NextItem(counters_, errors_);
  EXPECT_EQ(NextStan(counters_, errors_), 1);
  errors_ += counters_.ResetItems().message();
  EXPECT_EQ(ReadBytes(Item()), "0\r\r\n");
  EXPECT_EQ(NextItem(counters_, errors_), 1);
  EXPECT_EQ(ReadBytes(Stan()), "1\r\r\n") << "the STAN is not reset";
  EXPECT_EQ(errors_, "");
}

TEST_F(SequenceCountersTest, ResetItemsCreatesOrRepairsTheFile) {
  errors_ += counters_.ResetItems().message();
  EXPECT_EQ(ReadBytes(Item()), "0\r\r\n");
  EXPECT_EQ(ReadBytes(ItemShadow()), "0\r\r\n");
  WriteBytes(Item(), "garbage");
  WriteBytes(ItemShadow(), "");
  errors_ += counters_.ResetItems().message();
  EXPECT_EQ(NextItem(counters_, errors_), 1);
  EXPECT_EQ(errors_, "");
}

TEST_F(SequenceCountersTest, FileThatCannotBeOpenedGivesZero) {
  fs::create_directory(Stan());
  EXPECT_EQ(NextStan(counters_, errors_), 0);
  EXPECT_EQ(errors_, kOpenForReadFailed);
  EXPECT_TRUE(fs::is_directory(Stan()));
}

TEST_F(SequenceCountersTest, ACommitThatCannotWriteBothCopiesGivesZero) {
  // The longest name the file system allows leaves no room for the shadow
  // copy's name beside it, so only its write fails. The number is not handed
  // out: a restart could hand it out again.
  const std::string name(250, 'n');
  WriteBytes(dir_ / name, "41\r\r\n");
  EXPECT_EQ(Number(errors_, [&](int& value) { return counters_.Next(name, 9999, value); }), 0);
  EXPECT_EQ(errors_, kOpenForWriteFailed);
  EXPECT_EQ(Listing(dir_.Path()), std::vector<std::string>{name});
  // The refused number never left: the next message may be given it again, or the
  // one after it when the main copy took it; never one below.
  NumberClaim claim;
  EXPECT_GE(Number(errors_, [&](int& value) { return counters_.Take(name, 9999, claim, value); }), 42);
  EXPECT_FALSE(counters_.Commit(claim).ok());
}

TEST_F(SequenceCountersTest, LeftoverTemporaryDoesNoHarm) {
  WriteBytes(dir_ / ".SynchroStan.dat.tmp-Xy12Ab", "500\r\r\n");
  EXPECT_EQ(NextStan(counters_, errors_), 1) << "a temporary is never taken for the state";
  WriteBytes(dir_ / ".SynchroStan.dat.tmp-Cd34Ef", "");
  EXPECT_EQ(NextStan(counters_, errors_), 2);
  EXPECT_EQ(errors_, "");
  EXPECT_EQ(ReadBytes(Stan()), "2\r\r\n");
  EXPECT_EQ(ReadBytes(dir_ / ".SynchroStan.dat.tmp-Xy12Ab"), "500\r\r\n");
  EXPECT_EQ(Listing(dir_.Path()).size(), 4u) << "no new temporary is left";
}

TEST(SequenceCountersFailureTest, UnusableDirectoryGivesZeroAndIsLogged) {
  testing::LoggedWorkingDirectory cwd;
  testing::WriteBytes(cwd.Path() / "plain", "");
  CSequenceCounters counters(cwd.Path() / "plain", cwd.Log());
  std::string errors;
  EXPECT_EQ(NextStan(counters, errors), 0);
  EXPECT_EQ(NextItem(counters, errors), 0);
  EXPECT_EQ(errors, std::string(kCreateFailed) + kCreateFailed);
  errors += counters.ResetItems().message();
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
  EXPECT_EQ(NextStan(counters, errors), 0);
  EXPECT_EQ(errors, kCreateFailed);
  // An existing file whose rewrite cannot be opened hands out nothing.
  EXPECT_EQ(NextItem(counters, errors), 0);
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
      for (int i = 0; i < kEach; ++i) taken[t].push_back(NextStan(counters_, errors[t]));
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
  EXPECT_EQ(ReadBytes(StanShadow()), std::to_string(kThreads * kEach) + "\r\r\n");
  EXPECT_EQ(Listing(dir_.Path()), (std::vector<std::string>{"SynchroStan.dat", "SynchroStan.dat.shadow"}));
}


// Copies damaged as a crash, a bad disk or a hand edit leaves them: the copy
// that reads is used, both are whole again afterwards, and the log says what
// was found.
TEST(SequenceCountersFailureTest, ASymbolicLinkedNumberFileGivesNoNumberAndIsNotFollowed) {
  testing::LoggedWorkingDirectory cwd;
  const fs::path elsewhere = cwd.Path() / "elsewhere";
  WriteBytes(elsewhere, "41\r\r\n");
  fs::create_symlink(elsewhere, cwd.Path() / "SynchroStan.dat");
  CSequenceCounters counters(cwd.Path(), cwd.Log());
  std::string errors;
  EXPECT_EQ(NextStan(counters, errors), 0) << "a sale is refused as for a file that cannot be written";
  EXPECT_EQ(errors, "Synchronized Stan File Exists but could not be opened for reading...");
  EXPECT_EQ(ReadBytes(elsewhere), "41\r\r\n");
  EXPECT_NE(cwd.Logged().find("it is a symbolic link, which is not followed"), std::string::npos) << cwd.Logged();
}

TEST(SequenceCountersDamageTest, TheCopyThatReadsHoldsTheLastNumber) {
  const std::string binary("\x00\xff\x13\x01\x7f\x80", 6);
  const struct {
    const char* name;
    std::string main;
    std::optional<std::string> shadow;  // none: no shadow copy
    int next;
    std::string logged;  // the finding in the log
  } cases[] = {
      {"main empty", "", "41\r\r\n", 42, "SynchroStan.dat empty: using its shadow copy SynchroStan.dat.shadow (41)"},
      {"main truncated", "4", "41\r\r\n", 42, "SynchroStan.dat truncated, no line end: using its shadow copy"},
      {"main binary", binary, "41\r\r\n", 42, "SynchroStan.dat binary data, 6 bytes: using its shadow copy"},
      {"main over-long", "41\r\r\n" + std::string(100, '9'), "41\r\r\n", 42, "SynchroStan.dat over-long, 105 bytes"},
      {"main too many digits", "1234567\r\r\n", "41\r\r\n", 42, "SynchroStan.dat not a number"},
      {"shadow empty", "41\r\r\n", "", 42, "SynchroStan.dat.shadow empty: using SynchroStan.dat (41)"},
      {"shadow binary", "41\r\r\n", binary, 42, "SynchroStan.dat.shadow binary data"},
      {"crash between the copies", "41\r\r\n", "40\r\r\n", 42, "SynchroStan.dat holds 41, its shadow copy 40: using 41"},
      {"main rolled back", "40\r\r\n", "41\r\r\n", 42, "using 41"},
      {"main past the wrap", "2\r\r\n", "9999\r\r\n", 3, "using 2"},
      {"neither reads", "", binary, 1, "*** NEITHER SynchroStan.dat (empty) NOR its shadow copy"},
      {"neither, digits left", "  7xyz\r\r\n", std::nullopt, 8, "numbering starts again from 8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::LoggedWorkingDirectory cwd;
    CSequenceCounters counters(cwd.Path(), cwd.Log());
    const fs::path stan = cwd.Path() / "SynchroStan.dat";
    WriteBytes(stan, c.main);
    if (c.shadow) WriteBytes(ShadowPathOf(stan), *c.shadow);
    std::string errors;
    EXPECT_EQ(NextStan(counters, errors), c.next);
    EXPECT_EQ(errors, "") << "damage is no failure of the sale";
    EXPECT_EQ(ReadBytes(stan), std::to_string(c.next) + "\r\r\n");
    EXPECT_EQ(ReadBytes(ShadowPathOf(stan)), std::to_string(c.next) + "\r\r\n");
    const std::string logged = cwd.Logged();
    EXPECT_NE(logged.find(c.logged), std::string::npos) << logged;
    EXPECT_EQ(NextStan(counters, errors), c.next + 1);
  }
}

// A crash while a commit writes a copy in place leaves it cut anywhere (the new
// bytes over the old ones); the copies are written one after the other, so the
// other copy is whole. After the restart no number the host may have is handed
// out again.
TEST(SequenceCountersDamageTest, ACopyCutAtAnyLengthByACrashNeverGivesANumberTwice) {
  const struct {
    int committed;  // on disk in both copies, and perhaps sent
    int writing;    // the number the crashed commit was writing
  } cases[] = {{42, 43}, {99, 100}, {1000, 1001}};
  const auto bytes = [](int value) { return std::to_string(value) + "\r\r\n"; };
  for (const auto& c : cases) {
    const std::string before = bytes(c.committed);
    const std::string after = bytes(c.writing);
    for (std::size_t cut = 0; cut <= after.size(); ++cut) {
      // The new bytes up to the cut over the old ones; the surplus not yet cut off.
      std::string torn = before;
      if (torn.size() < cut) torn.resize(cut);
      torn.replace(0, cut, after.substr(0, cut));
      for (const bool mainTorn : {true, false}) {
        SCOPED_TRACE(std::to_string(c.committed) + " cut at " + std::to_string(cut) + (mainTorn ? " (main)" : " (shadow)"));
        testing::LoggedWorkingDirectory cwd;
        const fs::path stan = cwd.Path() / "SynchroStan.dat";
        // The main copy is written first: a torn shadow has a whole new main beside it.
        WriteBytes(stan, mainTorn ? torn : after);
        WriteBytes(ShadowPathOf(stan), mainTorn ? before : torn);
        CSequenceCounters restarted(cwd.Path(), cwd.Log());
        std::string errors;
        const int next = NextStan(restarted, errors);
        EXPECT_GT(next, c.committed) << "handed out again";
        EXPECT_LE(next, c.writing + 1);
        if (!mainTorn) {
          EXPECT_EQ(next, c.writing + 1);
        }
        EXPECT_EQ(errors, "");
      }
    }
  }
}

TEST(SequenceCountersDamageTest, BothCopiesLostWhileRunningGoOnFromMemory) {
  const struct {
    const char* name;
    std::optional<std::string> damage;  // none: both copies deleted
    bool restartCheck;                  // the interfaces restart before the next number
  } cases[] = {
      {"both deleted", std::nullopt, false},
      {"both binary", std::string("\x00\x9f\x01", 3), false},
      {"both emptied, then a restart", std::string(), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::LoggedWorkingDirectory cwd;
    CSequenceCounters counters(cwd.Path(), cwd.Log());
    const fs::path stan = cwd.Path() / "SynchroStan.dat";
    WriteBytes(stan, "41\r\r\n");
    std::string errors;
    ASSERT_EQ(NextStan(counters, errors), 42);
    for (const fs::path& copy : {stan, ShadowPathOf(stan)}) {
      if (c.damage) {
        WriteBytes(copy, *c.damage);
      } else {
        fs::remove(copy);
      }
    }
    if (c.restartCheck) {
      EXPECT_EQ(counters.CheckFiles(), "") << "memory still knows the number: no alarm";
      EXPECT_EQ(ReadBytes(stan), "42\r\r\n");
    }
    EXPECT_EQ(NextStan(counters, errors), 43) << "not 1 again: the host has 1 to 42";
    EXPECT_EQ(ReadBytes(stan), "43\r\r\n");
    EXPECT_EQ(ReadBytes(ShadowPathOf(stan)), "43\r\r\n");
    EXPECT_EQ(errors, "");
    EXPECT_NE(cwd.Logged().find("going on from 42 held in memory"), std::string::npos) << cwd.Logged();
  }
}

TEST(SequenceCountersDamageTest, CheckAtStartMendsTheCopiesAndRaisesTheAlarmOnlyWhenNeitherReads) {
  testing::LoggedWorkingDirectory cwd;
  CSequenceCounters counters(cwd.Path(), cwd.Log());
  const fs::path stan = cwd.Path() / "SynchroStan.dat";
  const fs::path item = cwd.Path() / "SynchroStan2.dat";
  EXPECT_EQ(counters.CheckFiles(), "") << "nothing there yet is no damage";
  EXPECT_TRUE(Listing(cwd.Path()) == std::vector<std::string>{kLogDirectoryName});

  WriteBytes(stan, "");
  WriteBytes(ShadowPathOf(stan), "77\r\r\n");
  WriteBytes(item, "12\r\r\n");
  WriteBytes(ShadowPathOf(item), "12\r\r\n");
  EXPECT_EQ(counters.CheckFiles(), "");
  EXPECT_EQ(ReadBytes(stan), "77\r\r\n") << "mended, not advanced";
  EXPECT_EQ(ReadBytes(item), "12\r\r\n");

  WriteBytes(item, "\x01\x02");
  WriteBytes(ShadowPathOf(item), "");
  const std::string alarm = counters.CheckFiles();
  EXPECT_EQ(alarm.rfind("NEITHER SynchroStan2.dat (binary data, 2 bytes) NOR its shadow copy "
                        "SynchroStan2.dat.shadow (empty) could be read: numbering starts again from 1.", 0),
            0u)
      << alarm;
  EXPECT_EQ(ReadBytes(item), "0\r\r\n");
  EXPECT_EQ(ReadBytes(ShadowPathOf(item)), "0\r\r\n");
  std::string errors;
  EXPECT_EQ(NextItem(counters, errors), 1);
  EXPECT_EQ(NextStan(counters, errors), 78);
  EXPECT_EQ(errors, "");
  const std::string logged = cwd.Logged();
  EXPECT_NE(logged.find("SynchroStan.dat empty: using its shadow copy SynchroStan.dat.shadow (77)"),
            std::string::npos) << logged;
  EXPECT_NE(logged.find("*** NEITHER SynchroStan2.dat"), std::string::npos) << logged;
}

}  // namespace
}  // namespace paxelle
