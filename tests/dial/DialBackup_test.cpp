// The dial link against the simulator's modem on a pseudo-terminal, in-process, with
// short time limits: hand-over records in, State 12 or 11 out.
#include "dial/DialBackup.h"

#include "config/ParamStore.h"
#include "core/PendingQueue.h"
#include "core/TranCodes.h"
#include "tests/dial/PseudoTerminal.h"
#include "tests/hostsim/SimTestSupport.h"
#include "tests/support/WaitFor.h"
#include "tools/hostsim/HostSimulator.h"
#include "tools/hostsim/Journal.h"
#include "tools/hostsim/ModemFrame.h"
#include "tools/hostsim/ModemSimulator.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace paxelle {
namespace {

using namespace std::chrono_literals;
using hostsim::simtest::CreditSale;
using hostsim::simtest::Head;

constexpr char kNumber[] = "18005550199";

DialBackupTimings Fast() {
  DialBackupTimings timings;
  timings.queuePoll = 10ms;
  timings.initAnswer = 300ms;
  timings.dialAnswer = 500ms;
  timings.enqWait = 300ms;
  timings.response = 1500ms;
  timings.reopenPause = 20ms;
  timings.port.hangUpGuard = 100ms;  // above the modem's S12=4 (80 ms)
  return timings;
}

hostsim::ModemTimings FastModem() {
  hostsim::ModemTimings timings;
  timings.ringing = 10ms;
  timings.enqDelay = 10ms;
  timings.ackWait = 500ms;
  timings.dropWhenIdle = 100ms;
  timings.answerDelay = 100ms;
  return timings;
}

// Modem lines as a wired port reports them, set by the test: `dropped` go off at
// `dropAt`. DTR dropped ends the call with "OK" from `modem`, as a modem set to &D2 does.
class TestLines final : public ModemLineControl {
 public:
  using Clock = std::chrono::steady_clock;
  explicit TestLines(int on, const testing::PseudoTerminal* modem = nullptr) : modem_(modem) { Set(on); }
  void Set(int on, int dropped = 0, Clock::time_point dropAt = Clock::time_point::max()) {
    std::lock_guard lock(mutex_);
    on_ = on;
    dropped_ = dropped;
    dropAt_ = dropAt;
  }
  int Get(int, int& bits) override {
    std::lock_guard lock(mutex_);
    bits = Clock::now() >= dropAt_ ? on_ & ~dropped_ : on_;
    return 0;
  }
  int Raise(int, int) override { return 0; }
  int Drop(int, int bits) override {
    if ((bits & TIOCM_DTR) == 0 || modem_ == nullptr) return 0;
    Set(TIOCM_DSR | TIOCM_CTS);
    modem_->Write("\r\nOK\r\n");
    return 0;
  }

 private:
  const testing::PseudoTerminal* modem_;
  std::mutex mutex_;
  int on_ = 0;
  int dropped_ = 0;
  Clock::time_point dropAt_ = Clock::time_point::max();
};

class DialLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const Status opened = journal_.Open(dir_ / "journal");
    ASSERT_TRUE(opened.ok()) << opened.message();
    const Status modemOpened = modem_.Open(ModemPath());
    ASSERT_TRUE(modemOpened.ok()) << modemOpened.message();
    modemThread_ = std::thread([this] { modem_.Run(); });
    ASSERT_TRUE(devices_.Assign(1, ModemPath().string()));
    params_.SetPath(dir_ / "params");
    SetNumber(kNumber);
  }
  void TearDown() override {
    backup_.Stop();
    simStop_.Raise();
    modemThread_.join();
  }

  std::filesystem::path ModemPath() const { return dir_ / "modem"; }
  void SetNumber(const std::string& number) {
    CMerchantParams set = params_.GetParams();
    ASSERT_TRUE(set.SetValue(kParamPhoneNumber, number));
    ASSERT_TRUE(params_.Save(set));
  }
  DialBackupServices Services(ModemLineControl& lines = SystemModemLines()) {
    return {queue_, params_, log_.Get(), stopping_, lineUp_, devices_, lines, [this](const std::string& text) {
              std::lock_guard lock(noticesMutex_);
              notices_.push_back(text);
            }};
  }
  std::vector<std::string> Notices() {
    std::lock_guard lock(noticesMutex_);
    return notices_;
  }

  // A sale handed to the dial link; its amount's cents choose the simulator's fault.
  int HandOver(std::uint64_t cents, RequestDisposition disposition = kDispositionProcess) {
    Head head;
    head.cents = cents;
    CRequest record;
    record.State = kStateDialHandOver;
    record.Disposition = disposition;
    record.HostRequest = CreditSale(head);
    queue_.Enqueue(record);
    return record.QueueId;
  }
  // The record once the dial link has written it back, or as it is after `limit`.
  CRequest Result(int id, std::chrono::milliseconds limit = 10s) {
    CRequest record;
    testing::WaitFor(
        "the dial link's result",
        [&] { return !queue_.FindById(id, record) || record.State != kStateDialHandOver; }, limit);
    return record;
  }
  std::vector<std::string> JournalLines(const std::string& containing) const {
    std::vector<std::string> lines;
    std::istringstream text(testing::ReadBytes(dir_ / "journal"));
    for (std::string line; std::getline(text, line);) {
      if (line.find(containing) != std::string::npos) lines.push_back(line);
    }
    return lines;
  }

  testing::TempDir dir_;
  hostsim::Journal journal_;
  hostsim::HostSimulator host_{&journal_};
  hostsim::StopSignal simStop_;
  hostsim::ModemSimulator modem_{host_, simStop_, FastModem()};
  std::thread modemThread_;
  PendingQueue queue_;
  CParamStore params_;
  testing::TestLog log_;
  Event stopping_{Event::Reset::kManual};
  Event lineUp_{Event::Reset::kManual};
  ComDevices devices_;
  std::mutex noticesMutex_;
  std::vector<std::string> notices_;
  CDialBackup backup_{Services(), Fast()};
};

TEST_F(DialLinkTest, ApprovedSaleGoesByModemWithTheDialLinkIndicator) {
  ASSERT_TRUE(backup_.Start(1)) << backup_.LastError();
  const int id = HandOver(1000);
  const CRequest result = Result(id);
  ASSERT_EQ(result.State, kStateDialAnswered) << result.HostErrorText;
  EXPECT_NE(result.HostResponse.find("APPROVED"), std::string::npos);
  EXPECT_EQ(result.HostResponse.back(), hostsim::kModemEtx) << "kept for the parser";
  EXPECT_TRUE(lineUp_.IsSet()) << "the call stays up";

  const auto requests = JournalLines(" MODEM REQUEST ");
  ASSERT_EQ(requests.size(), 1u);
  Head head;
  head.cents = 1000;
  std::string expected = head.Text().substr(0, 30);
  expected[5] = '1';  // the link indicator, the message's sixth character
  const std::string message = requests.front().substr(requests.front().find("REQUEST ") + 8);
  EXPECT_EQ(message.substr(0, 8), expected.substr(0, 8)) << message;
  EXPECT_EQ(JournalLines("MODEM DIAL 18005550199 CONNECT 19200").size(), 1u);
  EXPECT_TRUE(JournalLines("REFUSED").empty());
  EXPECT_EQ(testing::ReadBytes(dir_ / "journal").find("4111111111111111"), std::string::npos);
}

TEST_F(DialLinkTest, FaultsEndAsTheLinkSaysAndNeverStopTheLink) {
  struct Case {
    const char* name;
    const char* number;
    std::uint64_t cents;
    RequestState state;
    std::string errorText;
    bool lineUpAfter;
  };
  const Case cases[] = {
      {"busy", "15550001", 1000, kStateDialFailed, "BUSY", false},
      {"no carrier", "15550002", 1000, kStateDialFailed, "NO CARRIER", false},
      {"dial unanswered", "15550003", 1000, kStateDialFailed, "Modem Failed - No Response to Dial Command", false},
      {"no ENQ", "15550004", 1000, kStateDialFailed, "No ENQ Received.", false},
      {"NAK'd three times", kNumber, 1012, kStateDialFailed, "Retries Exceeded.", false},
      {"line dropped", kNumber, 1004, kStateDialFailed, "Lost Carrier Waiting for Response.", false},
      {"no answer", kNumber, 1003, kStateDialFailed, "Timeout on  Response (Dial).", false},
      {"NAK'd once", kNumber, 1011, kStateDialAnswered, "", true},
      {"bad LRC first", kNumber, 1013, kStateDialAnswered, "", true},
      {"no EOT", kNumber, 1014, kStateDialAnswered, "", true},
  };
  ASSERT_TRUE(backup_.Start(1)) << backup_.LastError();
  for (const Case& c : cases) {
    SetNumber(c.number);
    const int id = HandOver(c.cents);
    const CRequest result = Result(id);
    EXPECT_EQ(result.State, c.state) << c.name;
    EXPECT_EQ(result.HostErrorText, c.errorText) << c.name;
    EXPECT_EQ(lineUp_.IsSet(), c.lineUpAfter) << c.name;
    if (c.lineUpAfter) {
      EXPECT_NE(result.HostResponse.find("APPROVED"), std::string::npos) << c.name;
      // Each case starts on-hook: what a real failure would have done.
      SetNumber("15550002");
      EXPECT_EQ(Result(HandOver(1000)).State, kStateDialAnswered) << c.name << ": the call was kept";
      backup_.Stop();
      ASSERT_TRUE(backup_.Start(1));
    }
  }
  EXPECT_EQ(JournalLines("NAK (fault of the amount)").size(), 4u) << "three for .12, one for .11";
  EXPECT_EQ(JournalLines("ANSWER SENT WITH A BAD LRC").size(), 1u);
}

TEST_F(DialLinkTest, SecondRecordUsesTheCallThatIsUp) {
  ASSERT_TRUE(backup_.Start(1));
  ASSERT_EQ(Result(HandOver(1000)).State, kStateDialAnswered);
  // No ENQ comes on a call already up: waiting for one would fail this record.
  const CRequest second = Result(HandOver(2000));
  EXPECT_EQ(second.State, kStateDialAnswered) << second.HostErrorText;
  EXPECT_EQ(JournalLines("MODEM DIAL").size(), 1u);
  EXPECT_EQ(JournalLines(" MODEM REQUEST ").size(), 2u);
}

TEST_F(DialLinkTest, UnsolicitedNoCarrierWhileIdleDropsTheLineAndTheNextRecordRedials) {
  SetNumber("15550005");
  ASSERT_TRUE(backup_.Start(1));
  ASSERT_EQ(Result(HandOver(1000)).State, kStateDialAnswered);
  EXPECT_TRUE(testing::WaitFor("the idle check to see NO CARRIER", [&] { return !lineUp_.IsSet(); }, 5s));
  const CRequest second = Result(HandOver(2000));
  EXPECT_EQ(second.State, kStateDialAnswered) << second.HostErrorText;
  EXPECT_EQ(JournalLines("MODEM DIAL").size(), 2u);
}

TEST_F(DialLinkTest, ClosingALineInLocalModeLeavesTheCallUpUntilItIsHungUp) {
  CSerialPort port(devices_, log_.Get(), SystemModemLines(), SerialPortTimings{100ms});
  std::string line;
  ASSERT_TRUE(port.Open(1, 19200, 'E', '7', '1').ok());
  ASSERT_EQ(port.SendCommand("ATE0S12=4DT18005550199", true), PortOk);
  ASSERT_EQ(port.ReadLine(2000ms, line), PortOk);
  ASSERT_EQ(line, "CONNECT 19200");
  ASSERT_TRUE(port.Open(1, 19200, 'E', '7', '1').ok());  // closed first
  port.SendCommand("AT", true);
  EXPECT_NE(port.ReadLine(300ms, line), PortOk) << "on the call, the command went to the host: " << line;
  EXPECT_EQ(JournalLines("COMMAND TEXT ON THE CALL").size(), 1u);
  EXPECT_TRUE(port.HangUp()) << "only the escape brings the modem back";
  EXPECT_EQ(JournalLines("MODEM HANGUP").size(), 1u);
}

TEST_F(DialLinkTest, StopHangsUpTheCallThatClosingTheLineWouldLeaveUp) {
  std::size_t requests = 0;
  for (const std::uint64_t cents : {1000, 1003}) {  // .03: ACK'd and never answered
    ASSERT_TRUE(backup_.Start(1));
    const int id = HandOver(cents);
    if (cents == 1000) {
      ASSERT_EQ(Result(id).State, kStateDialAnswered);  // the call is idle at the stop
    } else {
      ASSERT_TRUE(testing::WaitFor("the next modem request",
                                   [&] { return JournalLines(" MODEM REQUEST ").size() == requests + 1; }, 10s));
    }
    backup_.Stop();
    ASSERT_TRUE(backup_.Start(1));
    const CRequest next = Result(HandOver(2000));
    EXPECT_EQ(next.State, kStateDialAnswered) << cents << ": " << next.HostErrorText;
    backup_.Stop();
    requests += 2;
  }
  EXPECT_EQ(JournalLines("MODEM DIAL").size(), 4u);
  EXPECT_EQ(JournalLines("MODEM HANGUP").size(), 4u);
  EXPECT_TRUE(JournalLines("COMMAND TEXT ON THE CALL").empty());
}

TEST_F(DialLinkTest, PortWhoseDeviceWentAwayIsOpenedAgainTheOperatorToldOnceEachWay) {
  testing::PseudoTerminal unplugged;
  const std::filesystem::path link = dir_ / "com2";
  ASSERT_EQ(::symlink(unplugged.SlavePath().c_str(), link.c_str()), 0);
  ASSERT_TRUE(devices_.Assign(2, link.string()));
  ASSERT_TRUE(backup_.Start(2)) << backup_.LastError();
  unplugged.CloseMaster();
  std::filesystem::remove(link);
  ASSERT_TRUE(testing::WaitFor(
      "the hang-up in the log",
      [&] { return log_.Text().find("Com Port 2 reports a hang-up.") != std::string::npos; }, 10s));
  for (int sale = 0; sale < 2; ++sale) {
    const CRequest failed = Result(HandOver(1000));
    EXPECT_EQ(failed.State, kStateDialFailed);
    EXPECT_EQ(failed.HostErrorText, "Could not Open Com Port 2.");
  }
  ASSERT_EQ(::symlink(modem_.DevicePath().c_str(), link.c_str()), 0);  // plugged in again
  const CRequest answered = Result(HandOver(1000));
  EXPECT_EQ(answered.State, kStateDialAnswered) << answered.HostErrorText;
  EXPECT_EQ(Notices(), (std::vector<std::string>{
                           "Com Port 2 could not be opened again: sales by dial fail until it can.",
                           "Com Port 2 could be opened again: sales by dial go on.",
                       }));
}

// A wired line can lose its carrier without a word from the modem: a scripted modem.
TEST_F(DialLinkTest, LinesGoingOffDuringTheWaitsEndThemOnlyWithTheCarrier) {
  enum class Wait { kEnq, kAnswer };
  constexpr int kAllLines = TIOCM_CAR | TIOCM_DSR | TIOCM_CTS;  // a modem switched off drops them all
  const struct {
    Wait wait;    // under way when the lines go, 100 ms into it (a line drops at any moment)
    int dropped;  // the lines that go
    const char* errorText;  // empty: answered
  } cases[] = {
      {Wait::kEnq, TIOCM_CAR, "No ENQ Received."},
      {Wait::kEnq, kAllLines, "No ENQ Received."},
      {Wait::kEnq, TIOCM_DSR, ""},
      {Wait::kAnswer, TIOCM_CAR, "Lost Carrier Waiting for Response."},
      {Wait::kAnswer, kAllLines, "Lost Carrier Waiting for Response."},
      {Wait::kAnswer, TIOCM_CTS, ""},
  };
  DialBackupTimings timings;
  timings.enqWait = timings.response = 60s;  // longer than the test waits: only the carrier may end them
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.wait)) + " " + std::to_string(c.dropped));
    testing::PseudoTerminal modem;
    TestLines lines(TIOCM_DSR | TIOCM_CTS, &modem);
    ComDevices devices;
    ASSERT_TRUE(devices.Assign(1, modem.SlavePath()));
    CDialBackup backup({queue_, params_, log_.Get(), stopping_, lineUp_, devices, lines, {}}, timings);
    ASSERT_TRUE(backup.Start(1)) << backup.LastError();
    const bool answered = *c.errorText == '\0';
    auto linesGo = [&](Wait wait) {  // false: the modem says no more
      if (wait != c.wait) return true;
      const auto at = TestLines::Clock::now() + 100ms;
      lines.Set(kAllLines, c.dropped, at);
      if (answered) std::this_thread::sleep_until(at);
      return answered;
    };
    std::thread script([&] {
      modem.ReadUntilText("\r");  // the initialisation
      modem.Write("\r\nOK\r\n");
      modem.ReadUntilText("\r");  // the dial
      lines.Set(kAllLines);
      modem.Write("\r\nCONNECT 19200\r\n");
      if (!linesGo(Wait::kEnq)) return;
      modem.Write(std::string(1, hostsim::kModemEnq));
      modem.ReadUntilText(std::string(1, hostsim::kModemEtx));
      if (!linesGo(Wait::kAnswer)) return;
      modem.Write(hostsim::HostFrame("ANSWER") + hostsim::kModemEot);
    });
    const CRequest result = Result(HandOver(1000));
    EXPECT_EQ(result.State, answered ? kStateDialAnswered : kStateDialFailed);
    EXPECT_EQ(result.HostErrorText, c.errorText);
    backup.Stop();
    script.join();
  }
}

TEST_F(DialLinkTest, ModemThatStopsAnsweringFailsTheInitialisation) {
  SetNumber("15550006");
  ASSERT_TRUE(backup_.Start(1));
  EXPECT_EQ(Result(HandOver(1000)).HostErrorText, "NO DIALTONE");
  const CRequest second = Result(HandOver(1000));
  EXPECT_EQ(second.State, kStateDialFailed);
  EXPECT_EQ(second.HostErrorText, "Modem Failed - No Response to Init Command");
}

TEST_F(DialLinkTest, RecordsItMustNotTakeAreLeftAlone) {
  ASSERT_TRUE(backup_.Start(1));
  const int error = HandOver(1000, kDispositionError);
  // Nothing is to happen: the pauses give the link (polling every 10 ms) the time to take
  // a record it must not.
  std::this_thread::sleep_for(100ms);
  stopping_.Set();
  const int late = HandOver(1000);
  std::this_thread::sleep_for(100ms);
  CRequest record;
  ASSERT_TRUE(queue_.FindById(error, record));
  EXPECT_EQ(record.State, kStateDialHandOver);
  ASSERT_TRUE(queue_.FindById(late, record));
  EXPECT_EQ(record.State, kStateDialHandOver) << "no new dial once the interfaces stop";
  EXPECT_TRUE(JournalLines("MODEM DIAL").empty());
}

TEST_F(DialLinkTest, AnswerNoLongerWantedIsNotWrittenOverTheHostThreadsResult) {
  ASSERT_TRUE(backup_.Start(1));
  const int id = HandOver(1006);  // answered 100 ms after its request
  ASSERT_TRUE(testing::WaitFor("the modem request", [&] { return !JournalLines(" MODEM REQUEST ").empty(); }, 10s));
  CRequest record;
  ASSERT_TRUE(queue_.FindById(id, record));
  record.State = kStateHostFailed;
  record.HostErrorText = "Dial Backup Server Shutting Down.";
  ASSERT_TRUE(queue_.UpdateById(id, record));
  // Nothing is to happen: the pause lets the answer come and the link finish the exchange.
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(queue_.FindById(id, record));
  EXPECT_EQ(record.State, kStateHostFailed);
}

TEST_F(DialLinkTest, StopEndsADialWithinASecond) {
  backup_.Stop();
  DialBackupTimings patient = Fast();
  patient.dialAnswer = 30s;
  CDialBackup backup(Services(), patient);
  SetNumber("15550003");
  ASSERT_TRUE(backup.Start(1));
  HandOver(1000);
  ASSERT_TRUE(testing::WaitFor("the dial", [&] { return !JournalLines("MODEM DIAL").empty(); }, 5s));
  const auto started = std::chrono::steady_clock::now();
  backup.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  EXPECT_FALSE(lineUp_.IsSet());
}

TEST_F(DialLinkTest, StartFailuresNameThePortAndLeaveItClosed) {
  struct Case {
    int bits;
    std::string expected;
  };
  const Case cases[] = {
      {TIOCM_CTS, "DSR found Inactive on Com Port 1.\r\nMake Sure Kelvara Device is Connected and Powered."},
      {0, "DSR found Inactive on Com Port 1.\r\nMake Sure Kelvara Device is Connected and Powered."},
      {TIOCM_DSR,
       "CTS found Inactive on Com Port 1.\r\nYou may have a defective COM Port.\r\n"
       "If you are emulating a COM Port,(USB to Serial Converter or equivalent)\r\n"
       "the emulation may not fully support Flow Control.\r\nFlow Control is required.\r\n"},
  };
  for (const Case& c : cases) {
    TestLines lines(c.bits);
    lineUp_.Set();
    CDialBackup backup(Services(lines), Fast());
    EXPECT_FALSE(backup.Start(1));
    EXPECT_EQ(backup.LastError(), c.expected);
    EXPECT_FALSE(lineUp_.IsSet());
    CSerialPort probe(devices_, log_.Get());
    const Status reopened = probe.Open(1, 19200, 'E', '7', '1');
    EXPECT_TRUE(reopened.ok()) << "closed again: " << reopened.message();
  }
  ComDevices missing;
  ASSERT_TRUE(missing.Assign(2, (dir_ / "no-such-tty").string()));
  CDialBackup absent(DialBackupServices{queue_, params_, log_.Get(), stopping_, lineUp_, missing, SystemModemLines(), {}});
  for (const int port : {2, 0, 256}) {
    EXPECT_FALSE(absent.Start(port));
    EXPECT_EQ(absent.LastError(), "Could not Open Com Port " + std::to_string(port) + ".");
  }
}

}  // namespace
}  // namespace paxelle
