// The server process's life: what survives a restart, and an orderly stop on
// SIGTERM with a lane still connected.
#include "tests/e2e/E2eFixture.h"

#include <csignal>

namespace paxelle::e2e {
namespace {

using std::chrono::seconds;

class E2eLifecycleTest : public E2eTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(E2eTest::SetUp());
    ASSERT_NO_FATAL_FAILURE(Provision());
    ASSERT_NO_FATAL_FAILURE(StartHost());
    ASSERT_NO_FATAL_FAILURE(StartServer());
  }

  std::string StateFile(const char* name) const { return ReadText(WorkDir() / name); }
};

TEST_F(E2eLifecycleTest, SequenceItemAndBatchNumbersAndTheKeySurviveARestart) {
  const std::string key = GreetingKey();
  ASSERT_FALSE(key.empty());
  ASSERT_EQ(Request(SalePairs("10.00", 5001)).final.cmdStatus, "Approved");
  ASSERT_EQ(StopServer(), 0);
  const std::string stan = StateFile("SynchroStan.dat");
  const std::string items = StateFile("SynchroStan2.dat");
  const std::string batch = StateFile("SynchroBatch.dat");
  ASSERT_FALSE(stan.empty());

  ASSERT_NO_FATAL_FAILURE(StartServer());
  EXPECT_EQ(GreetingKey(), key);
  EXPECT_EQ(StateFile("SynchroStan.dat"), stan);
  EXPECT_EQ(StateFile("SynchroStan2.dat"), items);
  EXPECT_EQ(StateFile("SynchroBatch.dat"), batch);
  ASSERT_EQ(Request(SalePairs("10.00", 5002)).final.cmdStatus, "Approved");

  // The second sale goes on where the first left off, in the same batch.
  const std::vector<JournalEntry> requests = Journal("REQUEST");
  ASSERT_EQ(requests.size(), 2u);
  const std::string& first = requests[0].message;
  const std::string& second = requests[1].message;
  EXPECT_EQ(std::stoi(StanOf(second)), std::stoi(StanOf(first)) + 1);
  EXPECT_EQ(std::stoi(ItemOf(second)), std::stoi(ItemOf(first)) + 1);
  EXPECT_EQ(BatchOf(second), BatchOf(first));
}

TEST_F(E2eLifecycleTest, SigtermTellsConnectedLanesAndEndsWithTheShutdownEntry) {
  ASSERT_EQ(Request(SalePairs("10.00", 5003)).final.cmdStatus, "Approved");
  lane::LaneConnection lane;
  ASSERT_NO_FATAL_FAILURE(LogIn(lane));

  ASSERT_TRUE(Server().Signal(SIGTERM));
  lane::LaneResponse frame;
  ASSERT_EQ(lane.ReadResponse(seconds(15), frame), lane::ReadStatus::kOk) << lane.LastError();
  lane::CommandResponse reply;
  ASSERT_TRUE(lane::ParseCommandResponse(frame.document, reply).ok());
  EXPECT_EQ(reply.returnCodeText, "002003");
  EXPECT_EQ(reply.textResponse, "System going off line - please try again later...");
  lane.Close();
  EXPECT_EQ(Server().Wait(seconds(30)), 0);

  const std::string log = ServerLog();
  const std::size_t last = log.rfind("Server Shutdown . . .");
  ASSERT_NE(last, std::string::npos);
  // Nothing but the entry's own separator line follows it.
  EXPECT_EQ(log.substr(last), "Server Shutdown . . .\r\n----------\r\n");
  EXPECT_NE(log.find("Interfaces Stopped."), std::string::npos);
  EXPECT_NE(ServerOut().find("Sending Auth Request (IP) to WorldPay."), std::string::npos);
  ExpectNoFullAccountAnywhere("");
}

}  // namespace
}  // namespace paxelle::e2e
