// The dial link's waits on a line with modem control, where a modem can lose the line
// without a word: a scripted modem on a pseudo-terminal, and modem lines the test drives.
#include "dial/DialBackup.h"

#include "config/ParamStore.h"
#include "core/PendingQueue.h"
#include "core/TranCodes.h"
#include "tests/dial/PseudoTerminal.h"
#include "tests/hostsim/SimTestSupport.h"
#include "tools/hostsim/ModemFrame.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <mutex>
#include <thread>

namespace paxelle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// DSR and CTS on, carrier from CONNECT, `dropped` off from a set moment; DTR dropped
// ends the call with "OK", as a modem set to &D2 does.
class ScriptedLines final : public ModemLineControl {
 public:
  explicit ScriptedLines(const testing::PseudoTerminal& modem) : modem_(modem) {}
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
    if ((bits & TIOCM_DTR) == 0) return 0;
    Set(TIOCM_DSR | TIOCM_CTS);
    modem_.Write("\r\nOK\r\n");
    return 0;
  }

 private:
  const testing::PseudoTerminal& modem_;
  std::mutex mutex_;
  int on_ = TIOCM_DSR | TIOCM_CTS;
  int dropped_ = 0;
  Clock::time_point dropAt_ = Clock::time_point::max();
};

TEST(DialCarrierTest, LinesGoingOffDuringTheWaitsEndThemOnlyWithTheCarrier) {
  enum class Wait { kEnq, kAnswer };
  constexpr int kAllLines = TIOCM_CAR | TIOCM_DSR | TIOCM_CTS;  // a modem switched off drops them all
  const struct {
    Wait wait;    // under way when the lines go, 100 ms into it (as a line drops at any moment)
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
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.wait)) + " " + std::to_string(c.dropped));
    testing::PseudoTerminal modem;
    ScriptedLines lines(modem);
    ComDevices devices;
    ASSERT_TRUE(devices.Assign(1, modem.SlavePath()));
    CParamStore params;
    testing::TestLog log;
    PendingQueue queue;
    Event stopping(Event::Reset::kManual);
    Event lineUp(Event::Reset::kManual);
    DialBackupTimings timings;
    timings.enqWait = timings.response = 60s;  // longer than the test waits: only the carrier may end them
    CDialBackup backup(DialBackupServices{queue, params, log.Get(), stopping, lineUp, devices, lines, {}}, timings);
    ASSERT_TRUE(backup.Start(1)) << backup.LastError();

    const bool answered = *c.errorText == '\0';
    auto linesGo = [&](Wait wait) {  // false: the script ends here
      if (wait != c.wait) return true;
      const Clock::time_point at = Clock::now() + 100ms;
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
    CRequest record;
    record.State = kStateDialHandOver;
    record.Disposition = kDispositionProcess;
    record.HostRequest = hostsim::simtest::CreditSale({});
    queue.Enqueue(record);
    const auto deadline = Clock::now() + 10s;
    while (queue.FindById(record.QueueId, record) && record.State == kStateDialHandOver && Clock::now() < deadline) {
      std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(record.State, answered ? kStateDialAnswered : kStateDialFailed);
    EXPECT_EQ(record.HostErrorText, c.errorText);
    backup.Stop();
    script.join();
  }
}

}  // namespace
}  // namespace paxelle
