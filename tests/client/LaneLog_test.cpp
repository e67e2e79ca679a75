// What a session logs of its lane's text: masked, control characters shown,
// each piece cut to 1 KiB, and no more than 256 KiB a minute per connection.
#include "client/LaneLog.h"

#include "common/TrafficLog.h"
#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace paxelle {
namespace {

using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

class LaneLogTest : public ::testing::Test {
 protected:
  // Everything written so far.
  std::string Logged() {
    EXPECT_TRUE(log_.WaitUntilWritten(seconds(30)));
    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) all += testing::ReadBytes(entry.path());
    return all;
  }

  testing::TempDir dir_;
  CTrafficLog log_{dir_.Path().string()};
  Clock::time_point now_ = Clock::now();
  CLaneLog lane_{log_, [this] { return now_; }};
};

TEST_F(LaneLogTest, ARequestIsMaskedShownOnOneLineAndCut) {
  lane_.SetAddress("127.0.0.1:0005");
  lane_.Request("TranCode=Sale\x1c" "5F20=DOE/JOHN\x1c" "Memo=x\r\n----------\r\n[12:00:00]Completion [COMPLETED]\x1c" +
                std::string(2000, 'Z'));
  const std::string logged = Logged();
  EXPECT_NE(logged.find("Request ->[TranCode=Sale<FS>5F20=XXXXXXXX<FS>Memo=x<CR><LF>----------<CR><LF>"
                        "[12:00:00]Completion [COMPLETED]<FS>ZZZ"),
            std::string::npos)
      << logged;
  EXPECT_NE(logged.find("bytes not logged]] from 127.0.0.1:0005"), std::string::npos) << logged;
  EXPECT_EQ(logged.find("DOE/JOHN"), std::string::npos);
}

TEST_F(LaneLogTest, PastItsMinutesBudgetAConnectionIsNotLoggedUntilTheMinuteEnds) {
  lane_.SetAddress("127.0.0.1:0006");
  const std::string junk(1000, 'J');
  for (int i = 0; i < 400; ++i) lane_.Request(junk + std::to_string(i));  // about 400 KB
  std::string logged = Logged();
  const std::size_t entries = static_cast<std::size_t>(std::count(logged.begin(), logged.end(), '\n')) / 2;
  EXPECT_LT(logged.size(), kLaneLogBudgetBytes + 64 * 1024);
  EXPECT_GT(entries, 200u);
  const std::string suppressed = "Logging for 127.0.0.1:0006 suppressed until the minute ends";
  EXPECT_NE(logged.find(suppressed), std::string::npos);
  EXPECT_EQ(logged.find(suppressed), logged.rfind(suppressed)) << "said once";
  EXPECT_EQ(logged.find(junk + "399"), std::string::npos);

  now_ += seconds(61);
  lane_.Request("after the minute");
  EXPECT_NE(Logged().find("after the minute"), std::string::npos);
}

}  // namespace
}  // namespace paxelle
