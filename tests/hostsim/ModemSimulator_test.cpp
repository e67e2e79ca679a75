// The simulator's modem as a terminal sees it through its device: frames checked by
// the simulator's own check character and link field, and a call that only the
// escape sequence and ATH0 end.
#include "tools/hostsim/ModemSimulator.h"

#include "tests/hostsim/SimTestSupport.h"
#include "tools/hostsim/HostSimulator.h"
#include "tools/hostsim/Journal.h"
#include "tools/hostsim/ModemFrame.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace paxelle::hostsim {
namespace {

using namespace std::chrono_literals;
using simtest::CreditSale;
using simtest::Head;

TEST(ModemFrameTest, CheckCharacterCombinesEverythingAfterStxThroughEtx) {
  EXPECT_EQ(HostFrame(""), std::string("\x02\x03\x03"));
  EXPECT_EQ(HostFrame("0"), std::string("\x02" "0" "\x03" "3"));  // 0x30 ^ 0x03
  EXPECT_EQ(HostFrame("AB"), std::string("\x02" "AB" "\x03" "\x00", 5));
  EXPECT_EQ(FrameCheckCharacter(std::string("\x02" "LG" "\x03")), '\x08');  // 0x4C ^ 0x47 ^ 0x03
}

// The terminal's end of the modem's device.
class Terminal {
 public:
  explicit Terminal(const std::filesystem::path& device)
      : fd_(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~Terminal() {
    if (fd_ >= 0) ::close(fd_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool Valid() const { return fd_ >= 0; }
  void Write(std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
      if (written <= 0) return;
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
  }
  // What the modem sent up to and including `text` (all of it when `text` does not
  // come within 5 s); what came after it stays for the next call.
  std::string ReadUntil(std::string_view text) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (pending_.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd watch{fd_, POLLIN, 0};
      if (::poll(&watch, 1, 50) <= 0) continue;
      char buffer[4096];
      const ssize_t count = ::read(fd_, buffer, sizeof buffer);
      if (count <= 0) break;
      pending_.append(buffer, static_cast<std::size_t>(count));
    }
    const std::size_t found = pending_.find(text);
    const std::size_t end = found == std::string::npos ? pending_.size() : found + text.size();
    std::string got = pending_.substr(0, end);
    pending_.erase(0, end);
    return got;
  }

 private:
  int fd_ = -1;
  std::string pending_;
};

class ModemSimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(journal_.Open(dir_.Path() / "journal", error)) << error;
    ASSERT_TRUE(modem_.Open(dir_.Path() / "modem", error)) << error;
    thread_ = std::thread([this] { modem_.Run(); });
  }
  void TearDown() override {
    stop_.Raise();
    thread_.join();
  }
  // A call up with the guard time at 80 ms, the host's ENQ read.
  void Call(Terminal& terminal) {
    terminal.Write("ATE0S12=4\r");
    ASSERT_NE(terminal.ReadUntil("OK\r\n").find("OK"), std::string::npos);
    terminal.Write("ATDT18005550199\r");
    ASSERT_NE(terminal.ReadUntil(std::string(1, kModemEnq)).find("CONNECT 19200"), std::string::npos);
  }
  static std::string Request(char linkField) {
    Head head;
    head.cents = 1000;
    std::string request = CreditSale(head);
    request[5] = linkField;
    return request;
  }
  std::size_t JournalCount(const std::string& containing) const {
    std::istringstream text(testing::ReadBytes(dir_.Path() / "journal"));
    std::size_t count = 0;
    for (std::string line; std::getline(text, line);) count += line.find(containing) != std::string::npos;
    return count;
  }

  testing::TempDir dir_;
  Journal journal_;
  HostSimulator host_{&journal_};
  StopSignal stop_;
  ModemTimings timings_{.ringing = 10ms, .enqDelay = 10ms};
  ModemSimulator modem_{host_, stop_, timings_};
  std::thread thread_;
};

TEST_F(ModemSimulatorTest, RequestFramesAreCheckedByCheckCharacterAndLinkField) {
  struct Case {
    const char* name;
    std::string frame;
    char reply;
    std::size_t refused;  // journal entries so far
  };
  std::string spoilt = HostFrame(Request('1'));
  spoilt.back() = static_cast<char>(spoilt.back() ^ 0x01);
  const Case cases[] = {
      {"wrong check character", spoilt, kModemNak, 0},
      {"network link field", HostFrame(Request('4')), kModemNak, 1},
      {"whole, by telephone", HostFrame(Request('1')), kModemAck, 1},
  };
  Terminal terminal(dir_.Path() / "modem");
  ASSERT_TRUE(terminal.Valid());
  ASSERT_NO_FATAL_FAILURE(Call(terminal));
  for (const Case& c : cases) {
    terminal.Write(c.frame);
    EXPECT_EQ(terminal.ReadUntil(std::string(1, c.reply)), std::string(1, c.reply)) << c.name;
    EXPECT_EQ(JournalCount("REFUSED"), c.refused) << c.name;
  }
  const std::string answer = terminal.ReadUntil(std::string(1, kModemEtx));
  EXPECT_NE(answer.find("APPROVED"), std::string::npos);
}

TEST_F(ModemSimulatorTest, CommandTextDuringACallGoesToTheHostAndOnlyTheEscapeEndsTheCall) {
  Terminal terminal(dir_.Path() / "modem");
  ASSERT_TRUE(terminal.Valid());
  ASSERT_NO_FATAL_FAILURE(Call(terminal));
  terminal.Write("AT&FE0Q0V1\r");
  // The call still carries frames: the command went to the host as data.
  terminal.Write(HostFrame(Request('1')));
  EXPECT_NE(terminal.ReadUntil(std::string(1, kModemEtx)).find("APPROVED"), std::string::npos);
  terminal.Write(std::string(1, kModemAck));
  EXPECT_NE(terminal.ReadUntil(std::string(1, kModemEot)).find(kModemEot), std::string::npos);
  EXPECT_EQ(JournalCount("COMMAND TEXT ON THE CALL"), 1u);

  std::this_thread::sleep_for(100ms);  // the guard time before the escape
  terminal.Write("+++");
  EXPECT_NE(terminal.ReadUntil("OK\r\n").find("OK"), std::string::npos);
  terminal.Write("ATH0\r");
  EXPECT_NE(terminal.ReadUntil("OK\r\n").find("OK"), std::string::npos);
  EXPECT_EQ(JournalCount("MODEM ESCAPE"), 1u);
  EXPECT_EQ(JournalCount("MODEM HANGUP"), 1u);
}

}  // namespace
}  // namespace paxelle::hostsim
