#include "host/BatchState.h"

#include "host/SequenceCounters.h"
#include "tests/host/StateTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace paxelle {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::LocalMoment;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

constexpr char kWrongLength[] =
    "BatchNo Read From Synchronized Stan File but is of incorrect Length. using newly generated ..";
constexpr char kBadStatus[] =
    "BatchStatus Read From Synchronized Stan File but is incorrect set using 'closed'..";
constexpr char kOpenForReadFailed[] = "Synchronized Stan File Exists but could not be opened for reading...";
constexpr char kReadFailed[] = "Could Not Read From Synchronized Stan File...";

std::string BatchBytes(const std::string& number, const std::string& status) {
  return number + "\r\n" + status + "\r\n";
}

class BatchStateTest : public ::testing::Test {
 protected:
  // 14 June 2024, a Friday away from any daylight-saving change.
  BatchStateTest() : now_(LocalMoment(2024, 6, 14, 10, 0)) {}

  fs::path BatchFile() const { return dir_ / "SynchroBatch.dat"; }
  fs::path LastFile() const { return dir_ / "EDCLastDateTime.dat"; }
  void At(int day, int hour, int minute) { now_ = LocalMoment(2024, 6, day, hour, minute); }
  std::string Sale() { return Batch(false, false); }
  std::string ReadOnly() { return Batch(true, false); }
  // The batch number, the failure's text added to errors_.
  std::string Batch(bool readOnly, bool force) {
    std::string batchNo;
    errors_ += state_.GetBatchNo(readOnly, force, changed_, batchNo).message();
    return batchNo;
  }

  TempDir dir_;
  testing::ScratchLog log_;
  std::time_t now_;
  CBatchState state_{dir_.Path(), log_.Log(), [this] { return now_; }};
  bool changed_ = false;
  std::string errors_;
};

TEST_F(BatchStateTest, MissingFileIsCreatedClosedWithCounterZero) {
  EXPECT_EQ(ReadOnly(), "240614000");
  EXPECT_FALSE(changed_);
  EXPECT_EQ(state_.Status(), "CLOSED");
  EXPECT_EQ(ReadBytes(BatchFile()), BatchBytes("240614000", "CLOSED"));
  EXPECT_EQ(errors_, "");
}

TEST_F(BatchStateTest, FirstSaleOpensABatchAndLaterSalesKeepIt) {
  EXPECT_EQ(Sale(), "240614001");
  EXPECT_TRUE(changed_);
  EXPECT_EQ(state_.Status(), "OPEN");
  EXPECT_EQ(ReadBytes(BatchFile()), BatchBytes("240614001", "OPEN"));
  At(15, 11, 0);
  EXPECT_EQ(Sale(), "240614001") << "without the automatic close a batch stays open across days";
  EXPECT_FALSE(changed_);
  EXPECT_EQ(errors_, "");
  EXPECT_FALSE(fs::exists(LastFile())) << "the close time is only tracked for option Y";
}

TEST_F(BatchStateTest, OpeningAfterACloseCountsWithinTheDay) {
  const struct {
    const char* stored;
    const char* opened;
  } cases[] = {
      {"240614003", "240614004"}, {"240613007", "240614001"}, {"240614000", "240614001"},
      {"240614998", "240614999"}, {"240614999", "240614001"},  // the 1000th batch of a day
      {"24061400A", "240614001"}, {"23061400A", "240614001"},
  };
  for (const auto& c : cases) {
    WriteBytes(BatchFile(), BatchBytes(c.stored, "CLOSED"));
    EXPECT_EQ(Sale(), c.opened) << c.stored;
    EXPECT_TRUE(changed_);
    EXPECT_EQ(ReadBytes(BatchFile()), BatchBytes(c.opened, "OPEN"));
  }
  EXPECT_EQ(errors_, "");
}

TEST_F(BatchStateTest, CloseThenNextSaleOpensTheNextBatchWithItemOne) {
  CSequenceCounters counters(dir_.Path(), log_.Log());
  auto itemOfSale = [&] {
    const std::string batchNo = Sale();
    if (changed_) errors_ += counters.ResetItems().message();
    int item = 0;
    errors_ += counters.NextItem(item).message();
    return std::make_pair(batchNo, item);
  };
  WriteBytes(dir_ / "SynchroStan2.dat", "57\r\r\n");
  EXPECT_EQ(itemOfSale(), std::make_pair(std::string("240614001"), 1));
  EXPECT_EQ(itemOfSale(), std::make_pair(std::string("240614001"), 2));

  errors_ += state_.SetClosed().message();
  EXPECT_EQ(state_.Status(), "CLOSED");
  EXPECT_EQ(ReadBytes(BatchFile()), BatchBytes("240614001", "CLOSED"));
  EXPECT_EQ(ReadOnly(), "240614001") << "a batch message still names the closed batch";
  EXPECT_EQ(state_.Status(), "CLOSED");

  EXPECT_EQ(itemOfSale(), std::make_pair(std::string("240614002"), 1));
  At(15, 8, 0);
  errors_ += state_.SetClosed().message();
  EXPECT_EQ(itemOfSale(), std::make_pair(std::string("240615001"), 1));
  EXPECT_EQ(errors_, "");
}

TEST_F(BatchStateTest, ReadOnlyNeverOpensButForceDoes) {
  WriteBytes(BatchFile(), BatchBytes("240614003", "CLOSED"));
  EXPECT_EQ(ReadOnly(), "240614003");
  EXPECT_FALSE(changed_);
  EXPECT_EQ(ReadBytes(BatchFile()), BatchBytes("240614003", "CLOSED"));

  EXPECT_EQ(Batch(true, true), "240614004");
  EXPECT_TRUE(changed_);
  EXPECT_EQ(Batch(false, true), "240614004");
  EXPECT_FALSE(changed_);
  EXPECT_EQ(errors_, "");
}

TEST_F(BatchStateTest, ReadsFilesWrittenByTheWindowsBuild) {
  const char* stored[] = {"240614005\r\nOPEN\r\n", "240614005\r\r\nOPEN\r\r\n", "240614005\nOPEN",
                          "240614005\r\nOPEN\r\nextra\r\n"};
  for (const char* bytes : stored) {
    WriteBytes(BatchFile(), bytes);
    const std::string batchNo = Sale();
    EXPECT_EQ(batchNo, "240614005") << ::testing::PrintToString(std::string(bytes));
    EXPECT_EQ(batchNo.size(), 9u);
    EXPECT_FALSE(changed_);
    EXPECT_EQ(ReadBytes(BatchFile()), bytes) << "an open batch is not rewritten";
  }
  EXPECT_EQ(errors_, "");
}

TEST_F(BatchStateTest, WrongLengthNumberIsReplacedWithTodayAndCounterZero) {
  WriteBytes(BatchFile(), BatchBytes("24061405", "OPEN"));
  EXPECT_EQ(ReadOnly(), "240614000");
  EXPECT_EQ(errors_, kWrongLength);

  errors_.clear();
  WriteBytes(BatchFile(), BatchBytes("2406140055", "CLOSED"));
  EXPECT_EQ(Sale(), "240614001");
  EXPECT_TRUE(changed_);
  EXPECT_EQ(errors_, kWrongLength);
  EXPECT_EQ(ReadBytes(BatchFile()), BatchBytes("240614001", "OPEN"));
}

TEST_F(BatchStateTest, UnknownStatusCountsAsClosed) {
  for (const char* status : {"open", "OPENED", "", "CLOSED "}) {
    errors_.clear();
    WriteBytes(BatchFile(), BatchBytes("240614005", status));
    EXPECT_EQ(ReadOnly(), "240614005");
    EXPECT_EQ(state_.Status(), "CLOSED") << status;
    EXPECT_EQ(errors_, kBadStatus);
    EXPECT_EQ(Sale(), "240614006") << status;
    EXPECT_TRUE(changed_);
    EXPECT_EQ(ReadBytes(BatchFile()), BatchBytes("240614006", "OPEN"));
  }
}

TEST_F(BatchStateTest, FailedReadKeepsTheNumberInMemory) {
  WriteBytes(BatchFile(), BatchBytes("240614005", "OPEN"));
  EXPECT_EQ(Sale(), "240614005");
  WriteBytes(BatchFile(), "240614009\r\n");
  EXPECT_EQ(Sale(), "240614005");
  EXPECT_FALSE(changed_);
  EXPECT_EQ(errors_, kReadFailed);
  EXPECT_EQ(ReadBytes(BatchFile()), "240614009\r\n");

  errors_.clear();
  fs::remove(BatchFile());
  fs::create_directory(BatchFile());
  EXPECT_EQ(ReadOnly(), "240614005");
  EXPECT_EQ(errors_, kOpenForReadFailed);
  errors_.clear();
  errors_ += state_.SetClosed().message();
  EXPECT_EQ(errors_, std::string(kOpenForReadFailed) + "Synchronized Batch No File Exception [5},[" +
                         std::to_string(EISDIR) + "]...");
  EXPECT_TRUE(fs::is_directory(BatchFile()));
}

TEST_F(BatchStateTest, LeftoverTemporaryDoesNoHarm) {
  WriteBytes(BatchFile(), BatchBytes("240614002", "CLOSED"));
  WriteBytes(dir_ / ".SynchroBatch.dat.tmp-Q1w2E3", BatchBytes("240614008", "OPEN"));
  EXPECT_EQ(Sale(), "240614003");
  errors_ += state_.SetClosed().message();
  EXPECT_EQ(ReadBytes(BatchFile()), BatchBytes("240614003", "CLOSED"));
  EXPECT_EQ(ReadBytes(dir_ / ".SynchroBatch.dat.tmp-Q1w2E3"), BatchBytes("240614008", "OPEN"));
  EXPECT_EQ(Listing(dir_.Path()).size(), 2u);
  EXPECT_EQ(errors_, "");
}

TEST(BatchStateFailureTest, UnusableDirectoryReportsAndLogsEveryStep) {
  testing::LoggedWorkingDirectory cwd;
  WriteBytes(cwd.Path() / "plain", "");
  const std::time_t now = LocalMoment(2024, 6, 14, 10, 0);
  CBatchState state(cwd.Path() / "plain", cwd.Log(), [now] { return now; });
  state.SetSchedule("Y", "0400");
  bool changed = false;
  std::string batchNo;
  const Status opened = state.GetBatchNo(false, false, changed, batchNo);
  EXPECT_EQ(batchNo, "")
      << "no batch the file cannot hold is opened: the message is refused";
  EXPECT_FALSE(changed);
  const char* expected[] = {
      "Last Date/Time Does Not Exist and Creation Failed...",
      "Last Date/Time File could not be opened for writing...",
      "Synchronized Batch File Does Not Exist and Creation Failed...",
      "Synchronized Batch No File could not be opened for writing...",
  };
  // The close check finds no last date and closes; that close fails, memory keeps it
  // closed, and the batch it would open cannot be written either.
  EXPECT_EQ(opened.message(), std::string(expected[0]) + expected[1] + expected[2] + expected[3] + expected[3]);
  const std::string logged = cwd.Logged();
  for (const char* text : expected) EXPECT_NE(logged.find(text), std::string::npos) << text;
}

TEST(BatchStateFailureTest, NotesAreLogged) {
  testing::LoggedWorkingDirectory cwd;
  WriteBytes(cwd.Path() / "SynchroBatch.dat", BatchBytes("1", "HALF"));
  CBatchState state(cwd.Path(), cwd.Log());
  bool changed = false;
  std::string batchNo;
  EXPECT_EQ(state.GetBatchNo(true, false, changed, batchNo).message(), std::string(kWrongLength) + kBadStatus);
  const std::string logged = cwd.Logged();
  EXPECT_NE(logged.find(std::string(kWrongLength) + "\r\n"), std::string::npos) << logged;
  EXPECT_NE(logged.find(std::string(kBadStatus) + "\r\n"), std::string::npos) << logged;
}

TEST_F(BatchStateTest, ConcurrentSalesOpenOneBatch) {
  WriteBytes(BatchFile(), BatchBytes("240614004", "CLOSED"));
  constexpr int kThreads = 4;
  std::vector<int> opened(kThreads, 0);
  std::vector<std::string> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::string errors;
      for (int i = 0; i < 50; ++i) {
        bool changed = false;
        std::string batchNo;
        errors += state_.GetBatchNo(false, false, changed, batchNo).message();
        opened[t] += changed ? 1 : 0;
        if (seen[t].empty() || seen[t] == batchNo) seen[t] = batchNo; else seen[t] = "mixed";
      }
      EXPECT_EQ(errors, "");
    });
  }
  for (auto& thread : threads) thread.join();
  int total = 0;
  for (int t = 0; t < kThreads; ++t) {
    total += opened[t];
    EXPECT_EQ(seen[t], "240614005");
  }
  EXPECT_EQ(total, 1);
}

// The automatic close with "Batch Close Option" "Y" and "Host Close Time" "0400".
class AutomaticCloseTest : public BatchStateTest {
 protected:
  AutomaticCloseTest() { state_.SetSchedule("Y", "0400"); }
};

TEST_F(AutomaticCloseTest, MorningSaleAfterLastNightsSaleClosesOnce) {
  At(13, 23, 0);
  EXPECT_EQ(Sale(), "240613001");
  EXPECT_EQ(ReadBytes(LastFile()), "061324\r\n2300\r\n");
  At(14, 9, 0);
  EXPECT_EQ(Sale(), "240614001") << "the host closed the batch at 04:00";
  EXPECT_TRUE(changed_);
  EXPECT_EQ(ReadBytes(LastFile()), "061424\r\n0900\r\n");
  At(14, 9, 5);
  EXPECT_EQ(Sale(), "240614001");
  EXPECT_FALSE(changed_);
  EXPECT_EQ(ReadBytes(BatchFile()), BatchBytes("240614001", "OPEN"));
  EXPECT_EQ(errors_, "");
}

TEST_F(AutomaticCloseTest, ClosesOnlyWhenACloseTimeLiesBetweenTheSales) {
  const struct {
    const char* name;
    const char* lastDate;
    const char* lastTime;
    int day, hour, minute;
    bool closes;
  } cases[] = {
      {"09:00 after 23:00 the day before", "061324", "2300", 14, 9, 0, true},
      {"09:05 after 09:00 the same day", "061424", "0900", 14, 9, 5, false},
      {"03:00 after 05:00 the day before", "061324", "0500", 14, 3, 0, false},
      {"03:00 after 03:59 the day before", "061324", "0359", 14, 3, 0, true},
      {"03:00 after 04:00 the day before", "061324", "0400", 14, 3, 0, false},
      {"03:00 after 23:00 two days before", "061224", "2300", 14, 3, 0, true},
      {"03:00 after 01:00 the same day", "061424", "0100", 14, 3, 0, false},
      {"04:00 after 03:59 the same day", "061424", "0359", 14, 4, 0, true},
      {"04:00 after 04:00 the same day", "061424", "0400", 14, 4, 0, false},
      {"09:00 after a sale a year ago", "061423", "0900", 14, 9, 0, true},
      {"03:00 after the first of the month", "060124", "2300", 2, 3, 0, false},
      {"03:00 after the last day of May", "053124", "2300", 1, 3, 0, false},
      // An unknown last moment counts as long ago.
      {"09:00 with no last date", "000000", "0000", 14, 9, 0, true},
      {"03:00 with no last date", "000000", "0000", 14, 3, 0, true},
      {"03:00 after 30 February", "023024", "2300", 14, 3, 0, true},
      {"03:00 after hour 25", "061324", "2500", 14, 3, 0, true},
  };
  for (const auto& c : cases) {
    WriteBytes(BatchFile(), BatchBytes("240610005", "OPEN"));
    WriteBytes(LastFile(), std::string(c.lastDate) + "\r\n" + c.lastTime + "\r\n");
    At(c.day, c.hour, c.minute);
    const std::string expected =
        c.closes ? FormatLocalTime("%y%m%d", now_) + "001" : std::string("240610005");
    EXPECT_EQ(Sale(), expected) << c.name;
    EXPECT_EQ(changed_, c.closes) << c.name;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "06%02d24\r\n%02d%02d\r\n", c.day, c.hour, c.minute);
    EXPECT_EQ(ReadBytes(LastFile()), stamp) << c.name;
  }
  EXPECT_EQ(errors_, "");
}

TEST_F(AutomaticCloseTest, WrongLengthLinesLeaveTheDefaults) {
  WriteBytes(BatchFile(), BatchBytes("240614005", "OPEN"));
  WriteBytes(LastFile(), "61424\r\n0300\r\n");  // today, but five characters
  At(14, 3, 30);
  EXPECT_EQ(Sale(), "240614006") << "read as \"000000\", a moment long ago";
  WriteBytes(LastFile(), "061424\r\n300\r\n");  // today at "0000": before the close time
  At(14, 4, 30);
  EXPECT_EQ(Sale(), "240614007");
  EXPECT_EQ(errors_, "");
}

TEST_F(AutomaticCloseTest, MissingLastDateFileIsCreatedThenStamped) {
  WriteBytes(BatchFile(), BatchBytes("240614005", "OPEN"));
  At(14, 3, 0);
  EXPECT_EQ(Sale(), "240614006") << "an unknown last sale counts as long ago";
  EXPECT_EQ(ReadBytes(LastFile()), "061424\r\n0300\r\n");
  At(14, 3, 30);
  EXPECT_EQ(Sale(), "240614006");
}

TEST_F(AutomaticCloseTest, CloseKeepsTheDaysCounterBeforeTheFileWasRead) {
  WriteBytes(BatchFile(), BatchBytes("240614004", "OPEN"));
  WriteBytes(LastFile(), "061424\r\n0300\r\n");
  At(14, 9, 0);
  EXPECT_EQ(Sale(), "240614005") << "a fresh process must not start the day's counter again";
}

TEST_F(AutomaticCloseTest, ReadOnlyAndForcedCallsSkipTheCheck) {
  WriteBytes(BatchFile(), BatchBytes("240613005", "OPEN"));
  WriteBytes(LastFile(), "061324\r\n2300\r\n");
  At(14, 9, 0);
  EXPECT_EQ(ReadOnly(), "240613005");
  EXPECT_EQ(Batch(false, true), "240613005");
  EXPECT_FALSE(changed_);
  EXPECT_EQ(ReadBytes(LastFile()), "061324\r\n2300\r\n");
  EXPECT_EQ(Sale(), "240614001");
}

TEST_F(AutomaticCloseTest, UnusableCloseTimeOrOptionSkipsTheClose) {
  const struct {
    const char* option;
    const char* closeTime;
    bool stamped;
  } cases[] = {
      {"Y", "2400", true}, {"Y", "0460", true}, {"Y", "4:00", true},
      {"Y", "", true},     {"N", "0400", false}, {"y", "0400", false},
  };
  for (const auto& c : cases) {
    fs::remove(LastFile());
    WriteBytes(BatchFile(), BatchBytes("240613005", "OPEN"));
    state_.SetSchedule(c.option, c.closeTime);
    EXPECT_EQ(Sale(), "240613005") << c.option << " " << c.closeTime;
    EXPECT_EQ(fs::exists(LastFile()), c.stamped) << c.option << " " << c.closeTime;
  }
  EXPECT_EQ(errors_, "");
}

TEST_F(AutomaticCloseTest, UnreadableLastDateFileStillCloses) {
  fs::create_directory(LastFile());
  WriteBytes(BatchFile(), BatchBytes("240613005", "OPEN"));
  At(14, 9, 0);
  EXPECT_EQ(Sale(), "240614001");
  EXPECT_EQ(errors_, std::string("Last Date/Time File Exists but could not be opened for reading...") +
                         "Last Date/Time File Exception [5},[" + std::to_string(EISDIR) + "]...");
  // Closed once, not at every sale: the stamp the file could not take is held here.
  At(14, 9, 5);
  EXPECT_EQ(Sale(), "240614001");
  EXPECT_FALSE(changed_);
}

TEST_F(BatchStateTest, ABatchTheFileCannotTakeIsNeverOpened) {
  WriteBytes(BatchFile(), BatchBytes("240614001", "CLOSED"));
  ASSERT_EQ(ReadOnly(), "240614001");
  // The file can no longer be replaced (nor read): every sale is refused alike,
  // none opens a batch or restarts the items.
  fs::remove(BatchFile());
  fs::create_directory(BatchFile());
  for (int sale = 0; sale < 3; ++sale) {
    EXPECT_EQ(Sale(), "");
    EXPECT_FALSE(changed_);
  }
  EXPECT_EQ(state_.Status(), "CLOSED");

  fs::remove(BatchFile());
  WriteBytes(BatchFile(), BatchBytes("240614001", "CLOSED"));
  EXPECT_EQ(Sale(), "240614002");
  EXPECT_TRUE(changed_);
  EXPECT_EQ(ReadBytes(BatchFile()), BatchBytes("240614002", "OPEN"));
}

TEST_F(BatchStateTest, ACloseTheFileCannotTakeIsKeptInMemory) {
  EXPECT_EQ(Sale(), "240614001");
  fs::remove(BatchFile());
  fs::create_directory(BatchFile());
  errors_ += state_.SetClosed().message();
  EXPECT_EQ(state_.Status(), "CLOSED");
  EXPECT_EQ(Sale(), "") << "no sale goes under the batch the host has closed";
  fs::remove(BatchFile());
  EXPECT_EQ(Sale(), "240614002") << "memory, not the file that came back, knows the batch was closed";
  EXPECT_TRUE(changed_);
}

}  // namespace
}  // namespace paxelle
