#include "dial/SerialPort.h"

#include "dial/SerialSettings.h"
#include "tests/dial/PseudoTerminal.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace paxelle {
namespace {

using namespace std::chrono_literals;
using testing::PseudoTerminal;
using testing::TestLog;

// Modem lines the test sets for a device that is really a pseudo-terminal.
class WiredLines final : public ModemLineControl {
 public:
  std::atomic<int> bits{TIOCM_DSR | TIOCM_CTS};
  std::atomic<int> drops{0};
  int Get(int, int& out) override {
    out = bits;
    return 0;
  }
  int Raise(int, int raised) override {
    bits |= raised;
    return 0;
  }
  int Drop(int, int dropped) override {
    ++drops;
    bits &= ~dropped;
    // A modem set to hang up on DTR drops its carrier with it.
    if ((dropped & TIOCM_DTR) != 0) bits &= ~TIOCM_CAR;
    return 0;
  }
};

TEST(SerialSettingsTest, BuildsRawModeForEveryAcceptedValue) {
  struct Case {
    int baud;
    char parity, data, stop;
    bool cts;
    speed_t speed;
    tcflag_t size, parityBits;
    bool twoStops;
  };
  const Case cases[] = {
      {19200, 'E', '7', '1', true, B19200, CS7, PARENB, false},
      {300, 'e', '8', '2', false, B300, CS8, PARENB, true},
      {1200, 'O', '7', '1', true, B1200, CS7, PARENB | PARODD, false},
      {2400, 'o', '8', '1', false, B2400, CS8, PARENB | PARODD, false},
      {9600, 'N', '8', '1', true, B9600, CS8, 0, false},
      {115200, 'n', '7', '2', false, B115200, CS7, 0, true},
  };
  for (const Case& c : cases) {
    termios built{};
    ASSERT_TRUE(BuildSerialSettings(c.baud, c.parity, c.data, c.stop, c.cts, built)) << c.baud;
    EXPECT_EQ(cfgetospeed(&built), c.speed) << c.baud;
    EXPECT_EQ(cfgetispeed(&built), c.speed) << c.baud;
    EXPECT_EQ(built.c_cflag & CSIZE, c.size) << c.baud;
    EXPECT_EQ(built.c_cflag & (PARENB | PARODD), c.parityBits) << c.baud;
    EXPECT_EQ((built.c_cflag & CSTOPB) != 0, c.twoStops) << c.baud;
    EXPECT_EQ((built.c_cflag & CRTSCTS) != 0, c.cts) << c.baud;
    EXPECT_EQ(built.c_cflag & (CLOCAL | CREAD | HUPCL), CLOCAL | CREAD | HUPCL) << c.baud;
    EXPECT_EQ(built.c_iflag & (INPCK | PARMRK | ISTRIP | IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR), 0u);
    EXPECT_EQ(built.c_oflag & OPOST, 0u);
    EXPECT_EQ(built.c_lflag & (ICANON | ECHO | ECHOE | ISIG | IEXTEN), 0u);
    EXPECT_EQ(built.c_cc[VMIN], 0) << "reads return at once";
    EXPECT_EQ(built.c_cc[VTIME], 0);
  }
}

TEST(SerialSettingsTest, RefusesOtherValuesLeavingTheStructureAlone) {
  struct Case {
    int baud;
    char parity, data, stop;
  };
  for (const Case& c : {Case{4800, 'E', '7', '1'}, Case{0, 'E', '7', '1'}, Case{-19200, 'E', '7', '1'},
                        Case{19200, 'M', '7', '1'}, Case{19200, 'S', '7', '1'}, Case{19200, 'E', '6', '1'},
                        Case{19200, 'E', '9', '1'}, Case{19200, 'E', '7', '0'}, Case{19200, 'E', '7', '3'}}) {
    termios built{};
    std::memset(&built, 0x5A, sizeof built);
    const termios before = built;
    EXPECT_FALSE(BuildSerialSettings(c.baud, c.parity, c.data, c.stop, true, built))
        << c.baud << c.parity << c.data << c.stop;
    EXPECT_EQ(std::memcmp(&built, &before, sizeof built), 0);
  }
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Valid());
    ASSERT_TRUE(devices_.Assign(1, pty_.SlavePath()));
    port_.SetStopEvent(&stop_);
  }
  bool OpenModemPort() { return port_.Open(1, 19200, 'E', '7', '1').ok(); }

  PseudoTerminal pty_;
  ComDevices devices_;
  TestLog log_;
  StopDescriptor stop_;
  CSerialPort port_{devices_, log_.Get(), SystemModemLines(), SerialPortTimings{20ms}};
};

TEST_F(SerialPortTest, OpenRefusesBadValuesAndLeavesThePortClosed) {
  struct Case {
    int port, baud;
    char parity, data, stop;
  };
  for (const Case& c : {Case{0, 19200, 'E', '7', '1'}, Case{256, 19200, 'E', '7', '1'},
                        Case{1, 4800, 'E', '7', '1'}, Case{1, 19200, 'X', '7', '1'},
                        Case{1, 19200, 'E', '5', '1'}, Case{1, 19200, 'E', '7', '3'}}) {
    const Status opened = port_.Open(c.port, c.baud, c.parity, c.data, c.stop);
    EXPECT_FALSE(opened.ok()) << c.port << " " << c.baud;
    EXPECT_FALSE(port_.IsOpen());
    EXPECT_FALSE(opened.message().empty());
    EXPECT_FALSE(port_.IsDsrOn());
    EXPECT_FALSE(port_.IsCarrierOn());
  }
  // Nothing held the device: it opens at once afterwards.
  const Status opened = port_.Open(1, 19200, 'E', '7', '1');
  EXPECT_TRUE(opened.ok()) << opened.message();
  EXPECT_EQ(port_.PortNumber(), 1);
}

TEST_F(SerialPortTest, OpenFailsForAMissingDeviceAndForOneAnotherPortHolds) {
  ComDevices missing;
  ASSERT_TRUE(missing.Assign(2, "/nonexistent/paxelle-tty"));
  CSerialPort absent(missing, log_.Get());
  EXPECT_NE(absent.Open(2, 19200, 'E', '7', '1').message().find("/nonexistent/paxelle-tty"), std::string::npos);

  ASSERT_TRUE(OpenModemPort());
  CSerialPort second(devices_, log_.Get());
  const Status shared = second.Open(1, 19200, 'E', '7', '1');
  EXPECT_FALSE(shared.ok()) << "opened without sharing";
  EXPECT_NE(shared.message().find("in use"), std::string::npos) << shared.message();
  EXPECT_TRUE(port_.Close());
  const Status reopened = second.Open(1, 19200, 'E', '7', '1');
  EXPECT_TRUE(reopened.ok()) << reopened.message();
}

TEST_F(SerialPortTest, PseudoTerminalRunsInLocalModeWithoutCtsFlowControl) {
  ASSERT_TRUE(OpenModemPort());
  EXPECT_TRUE(port_.IsLocalMode());
  EXPECT_TRUE(port_.IsDsrOn());
  EXPECT_TRUE(port_.IsCtsOn());
  EXPECT_FALSE(port_.IsCarrierOn());
  const termios& built = port_.Settings();
  EXPECT_EQ(built.c_cflag & CRTSCTS, 0u) << "CTS is not wired on such a line";
  EXPECT_EQ(built.c_cflag & (CSIZE | PARENB | PARODD), CS7 | PARENB);
  EXPECT_EQ(cfgetospeed(&built), B19200);
  EXPECT_NE(log_.Text().find("Com Port 1 (" + pty_.SlavePath() + ") has no modem control lines: local mode."),
            std::string::npos);
}

TEST_F(SerialPortTest, LocalCarrierFollowsTheModemsAnswersAndTheDevice) {
  ASSERT_TRUE(OpenModemPort());
  std::string line;
  pty_.Write("\r\nCONNECT 19200\r\n");
  ASSERT_EQ(port_.ReadLine(2000ms, line), PortOk);
  EXPECT_EQ(line, "CONNECT 19200");
  EXPECT_TRUE(port_.IsCarrierOn());
  EXPECT_TRUE(port_.WaitForCarrier(100ms));
  pty_.Write("\r\nNO CARRIER\r\n");
  ASSERT_EQ(port_.ReadLine(2000ms, line), PortOk);
  EXPECT_FALSE(port_.IsCarrierOn());

  pty_.Write("CONNECT\r\n");
  ASSERT_EQ(port_.ReadLine(2000ms, line), PortOk);
  port_.ReportNoCarrier();
  EXPECT_FALSE(port_.IsCarrierOn());

  pty_.Write("CONNECT\r\n");
  ASSERT_EQ(port_.ReadLine(2000ms, line), PortOk);
  ASSERT_TRUE(port_.IsCarrierOn());
  pty_.CloseMaster();  // the modem is gone
  EXPECT_EQ(port_.WaitForInput(200ms), PortTimeout) << "a hung-up device is no input";
  EXPECT_FALSE(port_.IsCarrierOn());
  EXPECT_EQ(port_.Read(), 0);
  EXPECT_NE(log_.Text().find("Com Port 1 reports a hang-up."), std::string::npos);
}

TEST_F(SerialPortTest, WiredLinesAreReadAndUseCtsFlowControl) {
  WiredLines lines;
  CSerialPort wired(devices_, log_.Get(), lines, SerialPortTimings{20ms});
  wired.SetStopEvent(&stop_);
  lines.bits = 0;
  ASSERT_TRUE(wired.Open(1, 19200, 'E', '7', '1').ok());
  EXPECT_FALSE(wired.IsLocalMode());
  EXPECT_NE(wired.Settings().c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(lines.bits & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS) << "DTR and RTS raised";
  EXPECT_FALSE(wired.IsDsrOn());
  EXPECT_FALSE(wired.IsCtsOn());
  lines.bits |= TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;
  EXPECT_TRUE(wired.IsDsrOn());
  EXPECT_TRUE(wired.IsCtsOn());
  EXPECT_TRUE(wired.IsCarrierOn());
  // "NO CARRIER" text does not override a wired carrier line.
  pty_.Write("NO CARRIER\r\n");
  std::string line;
  ASSERT_EQ(wired.ReadLine(2000ms, line), PortOk);
  EXPECT_TRUE(wired.IsCarrierOn());

  // Hang-up by DTR: the carrier goes, the modem says OK; no "+++" is sent.
  std::thread modem([this] {
    pty_.Write("\r\nOK\r\n");
  });
  EXPECT_TRUE(wired.HangUp());
  modem.join();
  EXPECT_EQ(lines.drops, 1);
  EXPECT_NE(lines.bits & TIOCM_DTR, 0) << "DTR is raised again";
  EXPECT_EQ(pty_.ReadUntil([](const std::string&) { return false; }, 50ms), "");
}

TEST_F(SerialPortTest, LocalHangUpEscapesAndSendsAth0) {
  ASSERT_TRUE(OpenModemPort());
  pty_.Write("CONNECT 19200\r\n");
  std::string line;
  ASSERT_EQ(port_.ReadLine(2000ms, line), PortOk);
  std::thread modem([this] {
    const std::string sent = pty_.ReadUntilText("ATH0\r");
    if (sent.find("+++") != std::string::npos) pty_.Write("\r\nOK\r\n");
  });
  EXPECT_TRUE(port_.HangUp());
  modem.join();
  EXPECT_FALSE(port_.IsCarrierOn());
}

TEST_F(SerialPortTest, ReadLineSkipsBlankLinesAndKeepsWhatFollows) {
  ASSERT_TRUE(OpenModemPort());
  struct Case {
    std::string input;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"\r\nOK\r\n", {"OK"}},
      {"\n\n\r\rBUSY\r\n", {"BUSY"}},
      {"OK\r\nCONNECT 19200\r\n", {"OK", "CONNECT 19200"}},
      {"NO\rCARRIER\n", {"NOCARRIER"}},
  };
  for (const Case& c : cases) {
    pty_.Write(c.input);
    for (const std::string& expected : c.lines) {
      std::string line;
      EXPECT_EQ(port_.ReadLine(2000ms, line), PortOk) << c.input;
      EXPECT_EQ(line, expected);
    }
  }
  std::string line;
  pty_.Write("\r\n\r\n");
  EXPECT_EQ(port_.ReadLine(50ms, line), PortTimeout);
  EXPECT_EQ(line, "");
}

TEST_F(SerialPortTest, CommandEchoNeverReachesALaterReadLine) {
  ASSERT_TRUE(OpenModemPort());
  // A modem with echo on: every byte comes back as it arrives; the answer follows the CR.
  std::thread modem([this] {
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (seen.find('\r') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      const std::string got = pty_.ReadUntil([](const std::string& text) { return !text.empty(); }, 100ms);
      pty_.Write(got);
      seen += got;
    }
    pty_.Write("\r\nOK\r\n");
  });
  EXPECT_EQ(port_.SendCommand("ATZ", true), PortOk);
  std::string line;
  EXPECT_EQ(port_.ReadLine(2000ms, line), PortOk);
  modem.join();
  EXPECT_EQ(line, "OK");
}

TEST_F(SerialPortTest, WaitForOkTakesTheWordOrTheDigit) {
  ASSERT_TRUE(OpenModemPort());
  for (const char* answer : {"\r\nOK\r\n", "0\r", "ATH0\r\r\nOK"}) {
    pty_.Write(answer);
    EXPECT_EQ(port_.WaitForOk(2000ms), PortOk) << answer;
  }
  // The word split across two arrivals.
  pty_.Write("\r\nO");
  std::thread modem([this] {
    // A pause, not a wait: the rest must come as an arrival of its own.
    std::this_thread::sleep_for(30ms);
    pty_.Write("K\r\n");
  });
  EXPECT_EQ(port_.WaitForOk(2000ms), PortOk);
  modem.join();
  pty_.Write("\r\nERROR\r\n");
  EXPECT_EQ(port_.WaitForOk(50ms), PortTimeout);
}

TEST_F(SerialPortTest, ReadTakesAtMost1023BytesAndPurgeDropsTheRest) {
  ASSERT_TRUE(OpenModemPort());
  pty_.Write(std::string(2000, 'x'));
  ASSERT_TRUE(testing::WaitFor("the 2000 bytes", [this] { return port_.BytesAvailable() >= 2000; }, 2s));
  EXPECT_EQ(port_.Read(), 1023);
  EXPECT_EQ(port_.Received(), std::string(1023, 'x'));
  EXPECT_EQ(port_.Read(5), 5);
  port_.PurgeReceive();
  EXPECT_EQ(port_.Read(), 0);
  EXPECT_EQ(port_.BytesAvailable(), 0);
}

TEST_F(SerialPortTest, TransmitCutsLongDataTo4095Bytes) {
  ASSERT_TRUE(OpenModemPort());
  std::string data(5000, 'a');
  data[4094] = 'z';
  std::string sent;
  std::thread modem([&] { sent = pty_.ReadUntil([](const std::string& t) { return t.size() >= 5000; }, 500ms); });
  EXPECT_EQ(port_.Transmit(data, 5000ms), PortOk);
  modem.join();
  ASSERT_EQ(sent.size(), 4095u);
  EXPECT_EQ(sent.back(), 'z');
  EXPECT_EQ(port_.Transmit("", 0, 5000ms), PortOk);
}

TEST_F(SerialPortTest, StuckTransmitTimesOutWithTheQueueStateLogged) {
  ASSERT_TRUE(OpenModemPort());
  // Nobody reads the master side: the device stops taking bytes after a few kilobytes.
  int status = PortOk;
  for (int i = 0; i < 20 && status == PortOk; ++i) status = port_.Transmit(std::string(4000, 'q'), 200ms);
  EXPECT_EQ(status, PortTimeout);
  EXPECT_NE(log_.Text().find("TIMED OUT! on TRANSMIT!! [COMSTAT [cbInQue = 0,cbOutQue = 0, ctsHold = 0,DsrHold = 0]]"),
            std::string::npos)
      << log_.Text();
}

TEST_F(SerialPortTest, StopEndsEveryWait) {
  ASSERT_TRUE(OpenModemPort());
  std::thread stopper([this] {
    // A pause, not a wait: the stop should find the transmit blocked.
    std::this_thread::sleep_for(30ms);
    stop_.Set();
  });
  const auto started = std::chrono::steady_clock::now();
  // Nobody reads: the device soon takes no more, and the stop ends that wait.
  int status = PortOk;
  for (int i = 0; i < 20 && status == PortOk; ++i) status = port_.Transmit(std::string(4000, 'q'), 60000ms);
  EXPECT_EQ(status, PortStopped);
  stopper.join();
  std::string line;
  EXPECT_EQ(port_.ReadLine(60000ms, line), PortStopped);
  EXPECT_EQ(port_.WaitForOk(60000ms), PortStopped);
  EXPECT_EQ(port_.SleepOrStop(60000ms), PortStopped);
  EXPECT_EQ(port_.WaitForInput(60000ms), PortStopped);
  EXPECT_FALSE(port_.WaitForCarrier(60000ms));
  EXPECT_FALSE(port_.HangUp());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  stop_.Reset();
  EXPECT_EQ(port_.SleepOrStop(1ms), PortTimeout);
}

}  // namespace
}  // namespace paxelle
