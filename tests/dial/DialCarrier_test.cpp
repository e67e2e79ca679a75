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

constexpr char kAnswer[] = "ANSWER TEXT";

// The lines of a modem that answers as the test says: DSR and CTS on, carrier from
// CONNECT, any of them going off at a set moment; DTR dropped ends the call with "OK".
class ScriptedLines final : public ModemLineControl {
 public:
  explicit ScriptedLines(const testing::PseudoTerminal& modem) : modem_(modem) {}

  void RaiseCarrier() {
    std::lock_guard lock(mutex_);
    on_ |= TIOCM_CAR;
  }
  // `bits` go off `after` from now; returns that moment.
  Clock::time_point DropLater(int bits, std::chrono::milliseconds after) {
    std::lock_guard lock(mutex_);
    dropBits_ = bits;
    dropAt_ = Clock::now() + after;
    return dropAt_;
  }
  int Get(int, int& bits) override {
    std::lock_guard lock(mutex_);
    bits = Clock::now() >= dropAt_ ? on_ & ~dropBits_ : on_;
    return 0;
  }
  int Raise(int, int) override { return 0; }
  int Drop(int, int bits) override {
    if ((bits & TIOCM_DTR) == 0) return 0;
    {
      std::lock_guard lock(mutex_);
      on_ &= ~TIOCM_CAR;
    }
    modem_.Write("\r\nOK\r\n");  // set to &D2: DTR off ends the call
    return 0;
  }

 private:
  const testing::PseudoTerminal& modem_;
  std::mutex mutex_;
  int on_ = TIOCM_DSR | TIOCM_CTS;
  Clock::time_point dropAt_ = Clock::time_point::max();
  int dropBits_ = 0;
};

TEST(DialCarrierTest, LinesGoingOffDuringTheWaitsEndThemOnlyWithTheCarrier) {
  enum class Wait { kEnq, kAnswer };
  struct Case {
    const char* name;
    Wait wait;        // the wait under way when the lines go
    int dropped;      // the lines that go
    RequestState state;
    const char* errorText;
  };
  constexpr int kSwitchedOff = TIOCM_CAR | TIOCM_DSR | TIOCM_CTS;
  const Case cases[] = {
      {"carrier, waiting for ENQ", Wait::kEnq, TIOCM_CAR, kStateDialFailed, "No ENQ Received."},
      {"modem off, waiting for ENQ", Wait::kEnq, kSwitchedOff, kStateDialFailed, "No ENQ Received."},
      {"DSR, waiting for ENQ", Wait::kEnq, TIOCM_DSR, kStateDialAnswered, ""},
      {"carrier, waiting for the answer", Wait::kAnswer, TIOCM_CAR, kStateDialFailed,
       "Lost Carrier Waiting for Response."},
      {"modem off, waiting for the answer", Wait::kAnswer, kSwitchedOff, kStateDialFailed,
       "Lost Carrier Waiting for Response."},
      {"CTS, waiting for the answer", Wait::kAnswer, TIOCM_CTS, kStateDialAnswered, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::PseudoTerminal modem;
    ASSERT_TRUE(modem.Valid());
    ScriptedLines lines(modem);
    ComDevices devices;
    ASSERT_TRUE(devices.Assign(1, modem.SlavePath()));
    testing::TempDir dir;
    CParamStore params;
    params.SetPath(dir.Path() / "params");
    testing::TestLog log;
    PendingQueue queue;
    Event stopping(Event::Reset::kManual);
    Event lineUp(Event::Reset::kManual);
    DialBackupTimings timings;
    timings.queuePoll = 10ms;
    // Longer than the test waits: only the carrier may end these waits.
    timings.enqWait = 60s;
    timings.response = 60s;
    CDialBackup backup(DialBackupServices{queue, params, log.Get(), stopping, lineUp, devices, lines, {}}, timings);
    ASSERT_TRUE(backup.Start(1)) << backup.LastError();
    ASSERT_FALSE(log.Text().find("local mode") != std::string::npos) << "the lines are read";

    const bool lost = c.state == kStateDialFailed;
    // The lines go a while into the wait, as a real line drops at any moment.
    auto dropDuring = [&](Wait wait) {
      if (wait != c.wait) return true;
      const Clock::time_point dropped = lines.DropLater(c.dropped, 100ms);
      if (lost) return false;
      std::this_thread::sleep_until(dropped);
      return true;
    };
    std::thread script([&] {
      modem.ReadUntilText("\r");  // the initialisation
      modem.Write("\r\nOK\r\n");
      modem.ReadUntilText("\r");  // the dial
      lines.RaiseCarrier();
      modem.Write("\r\nCONNECT 19200\r\n");
      if (!dropDuring(Wait::kEnq)) return;
      modem.Write(std::string(1, hostsim::kModemEnq));
      modem.ReadUntil(
          [](const std::string& got) {
            const std::size_t etx = got.find(hostsim::kModemEtx);
            return etx != std::string::npos && got.size() > etx + 1;
          },
          5s);
      if (!dropDuring(Wait::kAnswer)) return;
      modem.Write(hostsim::HostFrame(kAnswer) + hostsim::kModemEot);
    });

    hostsim::simtest::Head head;
    CRequest record;
    record.State = kStateDialHandOver;
    record.Disposition = kDispositionProcess;
    record.HostRequest = hostsim::simtest::CreditSale(head);
    queue.Enqueue(record);
    const auto deadline = Clock::now() + 10s;
    while (queue.FindById(record.QueueId, record) && record.State == kStateDialHandOver && Clock::now() < deadline) {
      std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(record.State, c.state);
    EXPECT_EQ(record.HostErrorText, c.errorText);
    if (!lost) {
      EXPECT_EQ(record.HostResponse, std::string(kAnswer) + hostsim::kModemEtx);
    }
    backup.Stop();
    script.join();
  }
}

}  // namespace
}  // namespace paxelle
