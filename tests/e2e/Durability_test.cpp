// Faults the numbers and the sales must survive: the server killed, stopped or
// restarted while sales are at the host, and a working directory whose disk is full.
#include "tests/e2e/E2eFixture.h"

#include "tools/lane/LaneFrames.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <atomic>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sys/mount.h>
#include <thread>
#include <utility>

namespace paxelle::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char kNotSavedText[] = "Sequence number could not be saved - transaction not sent.";
constexpr char kNotSavedOperatorText[] = "Sequence numbers can NOT be saved";

// A small tmpfs over a directory for one test, unmounted however the test ends.
class SmallDisk {
 public:
  explicit SmallDisk(std::filesystem::path where, const std::string& size = "64k") : where_(std::move(where)) {
    const std::string options = "size=" + size + ",mode=0700";
    if (::mount("tmpfs", where_.c_str(), "tmpfs", 0, options.c_str()) == 0) {
      mounted_ = true;
    } else {
      error_ = std::strerror(errno);
    }
  }
  ~SmallDisk() {
    // Detached even while a process still has files open on it.
    if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }
  // Writes a filler file until the disk is full.
  void Fill() {
    std::ofstream filler(where_ / "filler", std::ios::binary);
    const std::string block(1024, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
    }
  }
  void Free() { std::filesystem::remove(where_ / "filler"); }

 private:
  std::filesystem::path where_;
  bool mounted_ = false;
  std::string error_;
};

class E2eDurabilityTest : public E2eTest {
 protected:
  // Waits until the simulator has journalled `count` requests, at most `limit`.
  ::testing::AssertionResult WaitForRequests(std::size_t count, milliseconds limit) const {
    return testing::WaitFor(
        std::to_string(count) + " requests at the host", [&] { return Journal("REQUEST").size() >= count; }, limit,
        kPollStep);
  }

  // Lanes that sell back to back, each on its own connection and lane number, until
  // `cut` (run once they are going) ends their connections; the STANs of the approvals
  // they received (the simulator's approval code is "PX" and the STAN).
  std::set<std::string> SellUntilCut(int lanes, int firstInvoice, const std::function<void()>& cut) {
    std::vector<std::unique_ptr<lane::LaneConnection>> connections;
    for (int i = 0; i < lanes; ++i) {
      connections.push_back(std::make_unique<lane::LaneConnection>());
      LogIn(*connections.back());
      if (::testing::Test::HasFatalFailure()) return {};
    }
    NoteSentCardData(SalePairs("10.00", firstInvoice));
    std::mutex mutex;
    std::set<std::string> approved;
    std::vector<std::thread> selling;
    for (int i = 0; i < lanes; ++i) {
      selling.emplace_back([&, &lane = *connections[i], i] {
        for (int sale = 0; sale < 1000; ++sale) {
          std::string document;
          lane::CommandResponse final;
          const int invoice = firstInvoice + i * 1000 + sale;
          if (!lane.SendRequest(Payload(SalePairs("10.00", invoice, "Sale", 1 + i))) ||
              !ReadFinal(lane, seconds(40), document, final) || final.cmdStatus != "Approved") {
            return;  // the cut has reached this lane
          }
          std::lock_guard<std::mutex> lock(mutex);
          approved.insert(ElementOf(document, "AuthCode").substr(2));
        }
      });
    }
    cut();
    for (std::thread& thread : selling) thread.join();
    return approved;
  }

  // Every approval a lane received reached the host confirmed.
  void ExpectEveryApprovalCompleted(const std::set<std::string>& approvedStans) const {
    std::set<std::string> completed;
    for (const JournalEntry& completion : AwaitJournal("COMPLETION", approvedStans.size())) {
      if (completion.status == "COMPLETED") completed.insert(StanOf(completion.message));
    }
    for (const std::string& stan : approvedStans) {
      EXPECT_EQ(completed.count(stan), 1u) << "the lane holds an approval (STAN " << stan
                                           << ") the host never saw confirmed";
    }
  }

  // No STAN and no (batch, item) pair reached the host twice; returns the batches seen.
  std::set<std::string> ExpectNoNumberSentTwice() const {
    std::set<std::string> stans;
    std::set<std::pair<std::string, std::string>> items;
    std::set<std::string> batches;
    for (const JournalEntry& request : Journal("REQUEST")) {
      EXPECT_TRUE(stans.insert(StanOf(request.message)).second) << "STAN sent twice: " << StanOf(request.message);
      const auto item = std::make_pair(BatchOf(request.message), ItemOf(request.message));
      EXPECT_TRUE(items.insert(item).second) << "item sent twice: " << item.first << " " << item.second;
      EXPECT_NE(StanOf(request.message), "0000");
      batches.insert(item.first);
    }
    return batches;
  }
};

TEST_F(E2eDurabilityTest, KillNineWhileSalesAreAtTheHostSendsNoNumberTwice) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost({"--delay-ms", "4000"}));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const std::string key = GreetingKey();
  ASSERT_FALSE(key.empty());
  ASSERT_EQ(Request(SalePairs("10.00", 6001)).final.cmdStatus, "Approved");

  // Three sales whose answers (.06) the simulator holds back.
  constexpr int kAtHost = 3;
  std::vector<std::unique_ptr<lane::LaneConnection>> lanes;
  for (int i = 0; i < kAtHost; ++i) {
    lanes.push_back(std::make_unique<lane::LaneConnection>());
    ASSERT_NO_FATAL_FAILURE(LogIn(*lanes.back()));
    const std::vector<std::string> sale = SalePairs("10.06", 6010 + i, "Sale", 2 + i);
    NoteSentCardData(sale);
    ASSERT_TRUE(lanes.back()->SendRequest(Payload(sale))) << lanes.back()->LastError();
  }
  ASSERT_TRUE(WaitForRequests(1 + kAtHost, seconds(15)));
  ASSERT_TRUE(Server().Signal(SIGKILL));
  Server().Wait(seconds(10));

  // Each lane learns at once that its server is gone: its "Queued:" reply,
  // then the connection closes; nothing hangs.
  for (auto& lane : lanes) {
    const auto started = std::chrono::steady_clock::now();
    lane::LaneResponse frame;
    lane::ReadStatus status;
    while ((status = lane->ReadResponse(seconds(5), frame)) == lane::ReadStatus::kOk) {
      lane::CommandResponse reply;
      ASSERT_TRUE(lane::ParseCommandResponse(frame.document, reply).ok());
      EXPECT_TRUE(lane::IsQueuedReply(reply)) << "no final answer can come from a killed server";
    }
    EXPECT_NE(status, lane::ReadStatus::kTimeout) << lane->LastError();
    EXPECT_LT(std::chrono::steady_clock::now() - started, seconds(4));
  }

  ASSERT_NO_FATAL_FAILURE(StartServer());
  EXPECT_EQ(GreetingKey(), key);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Request(SalePairs("10.00", 6020 + i)).final.cmdStatus, "Approved");
  }
  ASSERT_EQ(Journal("REQUEST").size(), 1u + kAtHost + 3u);
  EXPECT_EQ(ExpectNoNumberSentTwice().size(), 1u) << "the batch stays open across the kill";
  ExpectNoFullAccountAnywhere("");
}

// Lanes selling without a pause, so that numbers are being handed out and saved
// in groups when the server is killed: none reaches the host twice afterwards.
// Lanes selling without a pause, so that numbers are being handed out and saved in
// groups and completions are on their way when the server is killed: no number
// reaches the host twice afterwards, and no lane holds an approval the host never
// saw confirmed (at worst a lane is left without its answer).
TEST_F(E2eDurabilityTest, KillNineWhileLanesSellSendsNoNumberTwiceAndLeavesNoApprovalUnconfirmed) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  // A host some way off: each connection takes its time, completions' included.
  ASSERT_NO_FATAL_FAILURE(StartHost({"--handshake-delay-ms", "50"}));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  bool busy = false;
  const std::set<std::string> approved = SellUntilCut(8, 8000, [&] {
    busy = WaitForRequests(40, seconds(30));
    EXPECT_TRUE(Server().Signal(SIGKILL));
    Server().Wait(seconds(10));
  });
  ASSERT_TRUE(busy) << "the lanes did not get going";
  ExpectEveryApprovalCompleted(approved);

  ASSERT_NO_FATAL_FAILURE(StartServer());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Request(SalePairs("10.00", 7900 + i)).final.cmdStatus, "Approved");
  ExpectNoNumberSentTwice();
  ExpectNoFullAccountAnywhere("");
}

// A stop (SIGTERM) or a restart of the interfaces (SIGHUP) at a random moment while
// lanes sell: the completions already due still reach the host, so every approval a
// lane saw is confirmed there.
TEST_F(E2eDurabilityTest, StopOrRestartWhileLanesSellLeavesNoApprovalUnconfirmed) {
  const unsigned seed = std::random_device{}();
  std::cout << "seed " << seed << std::endl;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  std::set<std::string> approved;
  for (const int signal : {SIGHUP, SIGTERM}) {
    SCOPED_TRACE(signal == SIGHUP ? "SIGHUP" : "SIGTERM");
    const std::size_t sentBefore = Journal("REQUEST").size();
    const auto after = std::uniform_int_distribution<std::size_t>(5, 60)(random);
    const std::set<std::string> round = SellUntilCut(16, signal == SIGHUP ? 20000 : 40000, [&] {
      EXPECT_TRUE(WaitForRequests(sentBefore + after, seconds(30))) << "the lanes did not get going";
      if (signal == SIGHUP) {
        EXPECT_TRUE(Server().Signal(SIGHUP));
      } else {
        EXPECT_EQ(StopServer(SIGTERM, seconds(40)), 0);
      }
    });
    approved.insert(round.begin(), round.end());
    if (signal == SIGHUP) {
      // Lanes are turned away while the interfaces restart.
      int attempt = 0;
      EXPECT_TRUE(testing::WaitFor(
          "the interfaces to run again after the restart",
          [&] { return Request(SalePairs("10.00", 30000 + attempt++), 10).final.cmdStatus == "Approved"; },
          seconds(60), milliseconds(500)));
    }
  }
  ASSERT_GT(approved.size(), 10u);
  ExpectEveryApprovalCompleted(approved);
  ExpectNoNumberSentTwice();
  ExpectNoFullAccountAnywhere("");
}

TEST_F(E2eDurabilityTest, SaleWhoseNumbersCannotBeSavedIsRefusedAndNotSent) {
  SmallDisk disk(WorkDir());
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (" << disk.Error() << "); run as root to test a full disk";
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_EQ(Request(SalePairs("10.00", 7001)).final.cmdStatus, "Approved");

  // The numbers are written in place, so a full disk alone does not stop them;
  // a copy that has to be made anew on it (both shadow copies lost) does.
  std::filesystem::remove(WorkDir() / "SynchroStan.dat.shadow");
  std::filesystem::remove(WorkDir() / "SynchroStan2.dat.shadow");
  disk.Fill();
  for (int i = 0; i < 2; ++i) {
    const LaneReply refused = Request(SalePairs("10.00", 7002 + i), 20);
    EXPECT_EQ(refused.final.returnCodeText, "004003") << refused.finalDocument;
    EXPECT_EQ(refused.final.textResponse, kNotSavedText);
  }
  EXPECT_EQ(Journal("REQUEST").size(), 1u) << "a sale whose numbers were not saved never reaches the host";
  // Told once, not per sale.
  const std::string out = ServerOut();
  const std::size_t told = out.find(kNotSavedOperatorText);
  ASSERT_NE(told, std::string::npos) << out;
  EXPECT_EQ(out.find(kNotSavedOperatorText, told + 1), std::string::npos) << out;

  disk.Free();
  EXPECT_EQ(Request(SalePairs("10.00", 7004)).final.cmdStatus, "Approved");
  EXPECT_EQ(Journal("REQUEST").size(), 2u);
  ExpectNoNumberSentTwice();
  // The server stops and its files are scanned before the disk goes away.
  EXPECT_EQ(StopServer(), 0);
  ExpectNoFullAccountAnywhere("");
}

// However many connections flood it, the log leaves the last of the disk to the
// number files: a sale is still approved, and the log says what it left out.
TEST_F(E2eDurabilityTest, ALogFloodLeavesTheNumbersTheirSpace) {
  SmallDisk disk(WorkDir(), "1m");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (" << disk.Error() << "); run as root to test a full disk";
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  lane::LaneConnection good;
  ASSERT_NO_FATAL_FAILURE(LogIn(good));

  // Each connection may log a quarter of a megabyte a minute, about 2.5 KiB of
  // each 16 KiB piece of junk; twelve of them are three times what the disk holds.
  const std::string junk(16 * 1024, 'J');
  std::atomic<bool> stop{false};
  std::vector<std::thread> flooding;
  for (int i = 0; i < 12; ++i) {
    flooding.emplace_back([&] {
      lane::LaneConnection attacker;
      attacker.SetStopFlag(&stop);
      lane::LoginResult result;
      if (!attacker.Connect("127.0.0.1", ClientPort()) || !attacker.Login("", false, result)) return;
      for (int piece = 0; piece < 120 && !stop && attacker.SendRaw(junk); ++piece) {
      }
      // Kept open: closing with its replies unread would reset the connection and
      // throw away what the server has not read yet.
      testing::WaitFor("the flood to end", [&] { return stop.load(); }, seconds(60), milliseconds(50));
    });
  }
  const bool told = WaitForServerOut("The disk is nearly full", seconds(30));
  stop = true;
  for (std::thread& thread : flooding) thread.join();
  ASSERT_TRUE(told) << "the operator is told";

  std::string document;
  lane::CommandResponse final;
  const std::vector<std::string> sale = SalePairs("10.00", 9001, "Sale", 2);
  NoteSentCardData(sale);
  ASSERT_TRUE(good.SendRequest(Payload(sale))) << good.LastError();
  ASSERT_TRUE(ReadFinal(good, seconds(20), document, final)) << good.LastError();
  EXPECT_EQ(final.cmdStatus, "Approved") << Scrubbed(document);

  // Room again: the next entry brings the count of those left out.
  for (const auto& file : std::filesystem::directory_iterator(WorkDir() / "KELVARA_LOGS")) {
    std::filesystem::remove(file.path());
  }
  EXPECT_EQ(Request(SalePairs("10.00", 9002, "Sale", 3)).final.cmdStatus, "Approved");
  EXPECT_TRUE(WaitForServerLog("entries were not written while the disk was low on space", seconds(10)));
  EXPECT_EQ(CountOf(ServerOut(), "The disk is nearly full"), 1) << "told once";
  EXPECT_EQ(StopServer(), 0);
  ExpectNoFullAccountAnywhere("");
}

TEST_F(E2eDurabilityTest, DamagedNumberFilesAreLoggedAndTheServerStarts) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  const auto write = [this](const char* name, const std::string& bytes) {
    std::ofstream(WorkDir() / name, std::ios::binary) << bytes;
  };
  write("SynchroStan.dat", std::string("\x00\x9f\x01garbage", 10));  // binary, no shadow copy
  write("SynchroStan2.dat", "41\r\r\n" + std::string(5000, '7'));     // over-long
  write("SynchroStan2.dat.shadow", "41\r\r\n");
  // An open batch, so that the item number goes on from the stored one.
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(today, sizeof today, "%y%m%d", std::localtime(&now));
  write("SynchroBatch.dat", std::string(today) + "001\r\r\nOPEN\r\r\n");
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_EQ(Request(SalePairs("10.00", 8001)).final.cmdStatus, "Approved");

  const std::vector<JournalEntry> requests = Journal("REQUEST");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(StanOf(requests[0].message), "0001") << "neither copy read: numbering starts again from 1";
  EXPECT_EQ(ItemOf(requests[0].message), "0042") << "the shadow copy holds the last item number";
  const std::string log = ServerLog();
  EXPECT_NE(log.find("SynchroStan2.dat over-long, 5005 bytes: using its shadow copy"), std::string::npos) << log;
  EXPECT_NE(log.find("*** NEITHER SynchroStan.dat (binary data, 10 bytes)"), std::string::npos) << log;
  EXPECT_NE(ServerErr().find("NEITHER SynchroStan.dat"), std::string::npos) << "the operator is told";
}

}  // namespace
}  // namespace paxelle::e2e
