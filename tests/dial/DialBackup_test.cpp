#include "dial/DialBackup.h"

#include "tests/core/ParserTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace paxelle {
namespace {

// A modem whose lines the test sets; remembers what the dial backup did to it.
struct SimulatedModem {
  bool openable = true;
  bool reportsLines = true;
  ModemLines lines;
  std::vector<std::string> opened;
  bool open = false;
};

class SimulatedDevice final : public SerialDevice {
 public:
  explicit SimulatedDevice(SimulatedModem& modem) : modem_(modem) {}
  bool Open(const std::string& path) override {
    modem_.opened.push_back(path);
    modem_.open = modem_.openable;
    return modem_.openable;
  }
  void Close() override { modem_.open = false; }
  bool IsOpen() const override { return modem_.open; }
  bool GetModemLines(ModemLines& lines) override {
    if (!modem_.open || !modem_.reportsLines) return false;
    lines = modem_.lines;
    return true;
  }
  std::string ErrorText() const override { return "simulated failure"; }

 private:
  SimulatedModem& modem_;
};

class DialBackupTest : public ::testing::Test {
 protected:
  testing::ContextFixture server_;
  SimulatedModem modem_;
};

TEST_F(DialBackupTest, PortThatCannotBeOpened) {
  modem_.openable = false;
  CDialBackup backup(server_.context(), ComDevices{}, std::make_unique<SimulatedDevice>(modem_));
  EXPECT_FALSE(backup.Start(3));
  EXPECT_EQ(backup.LastError(), "Could not Open Com Port 3.");
  EXPECT_EQ(modem_.opened, std::vector<std::string>{"/dev/ttyS2"});
}

TEST_F(DialBackupTest, PortOutsideTheRangeTouchesNoDevice) {
  CDialBackup backup(server_.context(), ComDevices{}, std::make_unique<SimulatedDevice>(modem_));
  for (const int port : {0, 256, -5}) {
    EXPECT_FALSE(backup.Start(port));
    EXPECT_EQ(backup.LastError(), "Could not Open Com Port " + std::to_string(port) + ".");
  }
  EXPECT_TRUE(modem_.opened.empty());
}

TEST_F(DialBackupTest, ModemLinesDecideTheText) {
  struct Case {
    bool reportsLines;
    bool dsr;
    bool cts;
    std::string expected;
  };
  const Case cases[] = {
      {true, false, true,
       "DSR found Inactive on Com Port 1.\r\nMake Sure Kelvara Device is Connected and Powered."},
      {true, false, false,
       "DSR found Inactive on Com Port 1.\r\nMake Sure Kelvara Device is Connected and Powered."},
      // A device that is no terminal cannot show DSR.
      {false, true, true,
       "DSR found Inactive on Com Port 1.\r\nMake Sure Kelvara Device is Connected and Powered."},
      {true, true, false,
       "CTS found Inactive on Com Port 1.\r\nYou may have a defective COM Port.\r\n"
       "If you are emulating a COM Port,(USB to Serial Converter or equivalent)\r\n"
       "the emulation may not fully support Flow Control.\r\nFlow Control is required.\r\n"},
      {true, true, true,
       "Dial Backup on Com Port 1 is not available in this build.\r\n"
       "Set TRANSPORT METHOD to 0 (IP Only) to run without it."},
  };
  for (const Case& c : cases) {
    modem_ = SimulatedModem{};
    modem_.reportsLines = c.reportsLines;
    modem_.lines.dsr = c.dsr;
    modem_.lines.cts = c.cts;
    CDialBackup backup(server_.context(), ComDevices{}, std::make_unique<SimulatedDevice>(modem_));
    EXPECT_FALSE(backup.Start(1));
    EXPECT_EQ(backup.LastError(), c.expected);
    EXPECT_FALSE(modem_.open) << "the port is closed again";
  }
}

TEST_F(DialBackupTest, AssignedDeviceIsOpenedAndTheDialLineMarkedDown) {
  ComDevices devices;
  ASSERT_TRUE(devices.Assign(2, "/dev/ttyUSB7"));
  server_.context().dialLineConnected.Set();
  CDialBackup backup(server_.context(), std::move(devices), std::make_unique<SimulatedDevice>(modem_));
  EXPECT_FALSE(backup.Start(2));
  EXPECT_EQ(modem_.opened, std::vector<std::string>{"/dev/ttyUSB7"});
  EXPECT_FALSE(server_.context().dialLineConnected.IsSet());
  backup.Stop();
  backup.Stop();
}

TEST(PosixSerialDeviceTest, MissingDeviceAndNonTerminal) {
  PosixSerialDevice device;
  EXPECT_FALSE(device.Open("/nonexistent/paxelle-tty"));
  EXPECT_NE(device.ErrorText().find("/nonexistent/paxelle-tty"), std::string::npos);
  EXPECT_FALSE(device.IsOpen());
  ModemLines lines;
  EXPECT_FALSE(device.GetModemLines(lines));

  ASSERT_TRUE(device.Open("/dev/null"));
  EXPECT_TRUE(device.IsOpen());
  EXPECT_FALSE(device.GetModemLines(lines)) << "/dev/null has no modem lines";
  device.Close();
  EXPECT_FALSE(device.IsOpen());
}

TEST(DialBackupRealDeviceTest, NonexistentComDevice) {
  testing::ContextFixture server_;
  ComDevices devices;
  ASSERT_TRUE(devices.Assign(1, "/nonexistent/paxelle-tty"));
  CDialBackup backup(server_.context(), std::move(devices));
  EXPECT_FALSE(backup.Start(1));
  EXPECT_EQ(backup.LastError(), "Could not Open Com Port 1.");
}

}  // namespace
}  // namespace paxelle
