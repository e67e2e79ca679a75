// Sales over the dial link: the real server with its COM port on the modem side of a
// real paxelle-hostsim (a pseudo-terminal), and the lane's view of the outcome.
#include "tests/e2e/E2eFixture.h"

#include <csignal>
#include <thread>

namespace paxelle::e2e {
namespace {

using std::chrono::seconds;

constexpr char kModemReady[] = "paxelle-hostsim modem on ";

class E2eDialTest : public E2eTest {
 protected:
  void TearDown() override {
    E2eTest::TearDown();
    modem_.Stop(SIGKILL, seconds(10));
  }

  std::filesystem::path ModemPath() const { return Dir() / "modem"; }

  // The modem-only simulator, journalling to "modem-journal".
  void StartModem() {
    const std::filesystem::path out = Dir() / "modem.out";
    std::string error;
    ASSERT_TRUE(modem_.Start({std::string(PAXELLE_BIN_DIR) + "/paxelle-hostsim", "--modem", ModemPath().string(),
                              "--journal", (Dir() / "modem-journal").string()},
                             out, Dir() / "modem.err", error))
        << error;
    bool ready = false;
    ASSERT_TRUE(testing::WaitFor(
        "the modem to come up",
        [&] {
          ready = ReadText(out).find(kModemReady) != std::string::npos;
          return ready || !modem_.Running();
        },
        seconds(10), kPollStep));
    ASSERT_TRUE(ready) << ReadText(Dir() / "modem.err");
    AddServerArguments({"--com-device", "1=" + ModemPath().string()});
  }

  // Dial only on COM port 1, calling `number`; the modem up, the server started.
  void StartDialOnly(const std::string& number) {
    ASSERT_NO_FATAL_FAILURE(Provision({"14=2", "15=1", "17=" + number}));
    ASSERT_NO_FATAL_FAILURE(StartModem());
    // Dial only never connects to the network host.
    ASSERT_NO_FATAL_FAILURE(StartServer("localhost:" + std::to_string(FreeLoopbackPort())));
  }

  // Modem journal entries (after "MODEM ") that begin with `start`.
  int ModemEntries(const std::string& start) const {
    int count = 0;
    for (const std::string& line : ReadLines(Dir() / "modem-journal")) {
      const JournalEntry entry = ParseJournalLine(line);
      if (entry.kind == "MODEM" && entry.message.starts_with(start)) ++count;
    }
    return count;
  }

  static void ExpectAnswer(const LaneReply& reply, const std::string& code, const std::string& text) {
    ASSERT_EQ(reply.exitCode, 0) << reply.error;
    EXPECT_EQ(reply.final.returnCodeText, code) << Scrubbed(reply.finalDocument);
    EXPECT_NE(reply.final.textResponse.find(text), std::string::npos) << Scrubbed(reply.finalDocument);
  }

  ChildProcess modem_;
};

TEST_F(E2eDialTest, DialOnlySalesShareOneCallUntilAnExchangeFails) {
  ASSERT_NO_FATAL_FAILURE(StartDialOnly("18005550199"));
  const LaneReply first = Request(SalePairs("10.00", 2001));
  ASSERT_EQ(first.exitCode, 0) << first.error;
  EXPECT_EQ(first.final.cmdStatus, "Approved") << Scrubbed(first.finalDocument);
  EXPECT_EQ(ElementOf(first.finalDocument, "Purchase"), "10.00");
  // The answer's frame came first with a wrong LRC: NAK'd, then taken; same call.
  const LaneReply second = Request(SalePairs("10.13", 2002));
  EXPECT_EQ(second.final.cmdStatus, "Approved") << Scrubbed(second.finalDocument);
  EXPECT_EQ(ModemEntries("DIAL 18005550199 CONNECT 19200"), 1);
  EXPECT_EQ(ModemEntries("REQUEST "), 2);
  EXPECT_EQ(ModemEntries("ANSWER SENT WITH A BAD LRC"), 1);
  EXPECT_EQ(ModemEntries("REFUSED"), 0) << "every request carried link indicator 1";
  EXPECT_EQ(ModemEntries("COMPLETION"), 0) << "completions follow network exchanges only";

  // NAK'd three times on the call that was up: hung up, dialled again once, NAK'd again.
  ExpectAnswer(Request(SalePairs("10.12", 2003)), "004003", "Retries Exceeded.");
  EXPECT_EQ(ModemEntries("DIAL "), 2);
  EXPECT_EQ(ModemEntries("NAK "), 6);
  EXPECT_TRUE(WaitForServerOut("Sending Auth Request (Dial) to WorldPay.", seconds(5)));
  ExpectNoFullAccountAnywhere(first.output + second.output);
}

TEST_F(E2eDialTest, StopDuringAHandOverAnswersTheLane) {
  ASSERT_NO_FATAL_FAILURE(StartDialOnly("18005550199"));
  LaneReply reply;
  // .03: the host ACKs and never answers, so the record stays with the dial link.
  std::thread lane([&] { reply = Request(SalePairs("10.03", 2101)); });
  EXPECT_TRUE(testing::WaitFor("the request at the modem", [&] { return ModemEntries("REQUEST ") > 0; }, seconds(20),
                               kPollStep));
  EXPECT_EQ(StopServer(SIGTERM), 0);
  lane.join();
  ExpectAnswer(reply, "004003", "Dial Backup Server Shutting Down.");
}

TEST_F(E2eDialTest, AnAnswerFrameThatNeverEndsIsRefusedAtItsCeiling) {
  ASSERT_NO_FATAL_FAILURE(StartDialOnly("18005550199"));
  ExpectAnswer(Request(SalePairs("10.07", 2151), 60), "004003", "Response Too Long (Dial).");
  EXPECT_EQ(Request(SalePairs("10.00", 2152)).final.cmdStatus, "Approved") << "the next sale dials again";
}

TEST_F(E2eDialTest, BusyLineReachesTheLane) {
  ASSERT_NO_FATAL_FAILURE(StartDialOnly("15550001"));
  ExpectAnswer(Request(SalePairs("10.00", 2201)), "004003", "BUSY");
  EXPECT_EQ(ModemEntries("DIAL 15550001 BUSY"), 1);
}

TEST_F(E2eDialTest, UnsolicitedNoCarrierWhileIdleMeansANewCall) {
  ASSERT_NO_FATAL_FAILURE(StartDialOnly("15550005"));
  EXPECT_EQ(Request(SalePairs("10.00", 2301)).final.cmdStatus, "Approved");
  EXPECT_TRUE(testing::WaitFor("the unsolicited NO CARRIER",
                               [&] { return ModemEntries("NO CARRIER (unsolicited") > 0; }, seconds(10), kPollStep));
  // The server must notice before the next sale, or it would send on a dead line; its
  // idle check shows nothing outside, so this pause gives it the time to run.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const LaneReply again = Request(SalePairs("10.00", 2302));
  EXPECT_EQ(again.final.cmdStatus, "Approved") << Scrubbed(again.finalDocument);
  EXPECT_EQ(ModemEntries("DIAL "), 2) << "dialled again, and waited for the new call's ENQ";
}

TEST_F(E2eDialTest, RestartWithACallUpHangsItUpBeforeTheLineIsClosed) {
  ASSERT_NO_FATAL_FAILURE(StartDialOnly("18005550199"));
  EXPECT_EQ(Request(SalePairs("10.00", 2501)).final.cmdStatus, "Approved");
  ASSERT_TRUE(Server().Signal(SIGHUP));
  ASSERT_TRUE(testing::WaitFor(
      "the interfaces to start again",
      [&] {
        const std::string log = ServerLog();
        const std::size_t stopped = log.find("Interfaces Stopped.");
        return stopped != std::string::npos &&
               log.find("Interfaces initialized successfully.", stopped) != std::string::npos;
      },
      seconds(30), kPollStep));
  // A call left up would have taken the new start's modem commands to the host as data.
  const LaneReply again = Request(SalePairs("10.00", 2502));
  EXPECT_EQ(again.final.cmdStatus, "Approved") << Scrubbed(again.finalDocument);
  EXPECT_EQ(ModemEntries("HANGUP"), 1);
  EXPECT_EQ(ModemEntries("DIAL "), 2);
  EXPECT_EQ(ModemEntries("COMMAND TEXT ON THE CALL"), 0);
}

TEST_F(E2eDialTest, ModemUnpluggedAndPluggedInAgainCarriesTheNextSale) {
  ASSERT_NO_FATAL_FAILURE(StartDialOnly("15550007"));
  EXPECT_EQ(Request(SalePairs("10.00", 2601)).final.cmdStatus, "Approved");
  ASSERT_TRUE(testing::WaitFor("the modem to be unplugged",
                               [&] { return ModemEntries("UNPLUGGED AND PLUGGED IN AGAIN") > 0; }, seconds(10),
                               kPollStep));
  // Sold at once: the server may find the device gone only as it sends, and then
  // sends the same request once more on a new call.
  const LaneReply again = Request(SalePairs("10.00", 2602));
  EXPECT_EQ(again.final.cmdStatus, "Approved") << Scrubbed(again.finalDocument);
  EXPECT_EQ(ModemEntries("DIAL "), 2);
  EXPECT_TRUE(WaitForServerLog("Com Port 1 opened again.", seconds(5)));
}

TEST_F(E2eDialTest, NetworkDownAfterStartUpFallsBackToTheModemAndStaysOnTheCall) {
  ASSERT_NO_FATAL_FAILURE(Provision({"14=1", "15=1", "17=18005550199"}));
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartModem());
  ASSERT_NO_FATAL_FAILURE(StartServer());  // the start-up connection test needs the host
  const std::uint16_t port = HostPort();
  ASSERT_GE(Host().Stop(SIGTERM, seconds(10)), 0);

  const LaneReply fallBack = Request(SalePairs("10.00", 2401));
  EXPECT_EQ(fallBack.final.cmdStatus, "Approved") << Scrubbed(fallBack.finalDocument);
  EXPECT_EQ(ModemEntries("REQUEST "), 1);

  // The network host is back, but while the call is up the next sale goes by modem.
  ASSERT_NO_FATAL_FAILURE(StartHost({"--port", std::to_string(port)}));
  const LaneReply onTheCall = Request(SalePairs("10.00", 2402));
  EXPECT_EQ(onTheCall.final.cmdStatus, "Approved") << Scrubbed(onTheCall.finalDocument);
  EXPECT_EQ(ModemEntries("REQUEST "), 2);
  EXPECT_EQ(ModemEntries("DIAL "), 1);
  EXPECT_TRUE(Journal("REQUEST").empty()) << "no request reached the network host";
  EXPECT_TRUE(Journal("COMPLETION").empty());
}

}  // namespace
}  // namespace paxelle::e2e
