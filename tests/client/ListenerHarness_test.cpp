// The listener harness as another process would use it: started as a child,
// talked to by a lane over loopback, stopped by end of input or a signal.
#include "config/ParamStore.h"
#include "client/MessageCrypto.h"
#include "tests/client/CryptoTestSupport.h"
#include "tests/client/ListenerHarnessProcess.h"
#include "tests/client/SessionTestSupport.h"

#include <signal.h>

#include <gtest/gtest.h>

namespace paxelle {
namespace {

using namespace std::chrono_literals;

class ListenerHarnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    const auto keyStore = dir_.Path() / "keys";
    std::filesystem::create_directory(keyStore);
    std::filesystem::permissions(keyStore, std::filesystem::perms::owner_all);
    std::filesystem::copy_file(testing::TestKeyPath(), CMessageCrypto::KeyFilePath(keyStore));
    std::filesystem::permissions(CMessageCrypto::KeyFilePath(keyStore),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    CParamStore store;
    store.SetPath(dir_.Path() / "params");
    CMerchantParams set;
    ASSERT_TRUE(set.SetValue(kParamMerchantId, "123456789012345"));
    ASSERT_TRUE(store.Save(set));

    ASSERT_TRUE(harness_.Start({keyStore.string(), (dir_.Path() / "params").string(), "0"}, dir_.Path()));
    std::string line;
    ASSERT_TRUE(harness_.ReadLine(line, testing::kPatience));
    ASSERT_EQ(line.rfind("listening on ", 0), 0u) << line;
    port_ = std::stoi(line.substr(13));
    ASSERT_GT(port_, 0);
  }

  void AskServerVersion() {
    testing::TestLane lane;
    ASSERT_TRUE(lane.LogIn(port_)) << lane.Connection().LastError();
    ASSERT_TRUE(lane.SendRequest(testing::ServerVersionPayload(), "harness"));
    lane::CommandResponse reply;
    lane::LaneResponse response;
    ASSERT_TRUE(lane.ReadReply(reply, testing::kPatience, &response));
    EXPECT_EQ(reply.returnCode, 500000);
    EXPECT_EQ(reply.userTraceData, "harness");
    EXPECT_NE(response.document.find("<ProductVersion>WH 5.10</ProductVersion>"), std::string::npos);
  }

  testing::TempDir dir_;
  testing::ListenerHarnessProcess harness_;
  int port_ = 0;
};

TEST_F(ListenerHarnessTest, AnswersALaneAndStopsAtEndOfInput) {
  AskServerVersion();
  harness_.CloseInput();
  EXPECT_EQ(harness_.Wait(testing::kPatience), 0);
}

TEST_F(ListenerHarnessTest, StopsOnSigterm) {
  AskServerVersion();
  harness_.Signal(SIGTERM);
  EXPECT_EQ(harness_.Wait(testing::kPatience), 0);
}

TEST(ListenerHarness, RefusesBadArguments) {
  testing::ListenerHarnessProcess harness;
  ASSERT_TRUE(harness.Start({"keys", "params", "70000"}, std::filesystem::temp_directory_path()));
  EXPECT_EQ(harness.Wait(testing::kPatience), 2);
}

}  // namespace
}  // namespace paxelle
