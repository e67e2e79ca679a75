// The simulator's modem side: a pseudo-terminal whose device is linked at a path the
// server opens as its COM port. Plays a Hayes modem (echo, OK, dial answers, "+++" and
// ATH0) and, once a call is up, the host end of the dial link: ENQ, request frames checked
// by LRC and link indicator and acknowledged, answers framed with their LRC, EOT. During a
// call everything but the escape sequence goes to the host as data, AT commands included,
// as on a real modem. Answers come from the same HostSimulator as the network side; the
// fault table of ModemFaults chooses what goes wrong.
#pragma once

#include "common/PosixFile.h"
#include "common/Status.h"
#include "tools/hostsim/HostSimulator.h"
#include "tools/hostsim/ModemFaults.h"
#include "tools/hostsim/StopSignal.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>

namespace paxelle::hostsim {

struct ModemTimings {
  std::chrono::milliseconds ringing{100};        // from the dial to CONNECT
  std::chrono::milliseconds enqDelay{50};        // from CONNECT to ENQ
  std::chrono::milliseconds frameByte{5000};     // longest pause inside a frame
  std::chrono::milliseconds ackWait{3000};       // for the terminal's ACK of an answer
  std::chrono::milliseconds idleCall{60000};     // a call without frames ends (NO CARRIER)
  std::chrono::milliseconds dropWhenIdle{200};   // the ...0005 and ...0007 faults' pause after an exchange
  std::chrono::milliseconds answerDelay{2000};   // delayed answers (amount ending .06)
};

class ModemSimulator {
 public:
  // `host` and `stop` must outlive the modem.
  ModemSimulator(HostSimulator& host, const StopSignal& stop, ModemTimings timings = {});
  // Removes the link Open made (if it still points at this modem's device).
  ~ModemSimulator();
  ModemSimulator(const ModemSimulator&) = delete;
  ModemSimulator& operator=(const ModemSimulator&) = delete;

  // Creates the pseudo-terminal, keeps its device open (so the modem never sees a
  // hang-up while no terminal has it open) and links it at `link`, replacing an old
  // symbolic link there. Like the serial line it stands for,
  // it has no DTR to drop: closing the terminal's device leaves a call up.
  Status Open(const std::filesystem::path& link);
  // The pseudo-terminal's own device name.
  const std::string& DevicePath() const { return devicePath_; }

  // Plays the modem until `stop` is raised.
  void Run();

 private:
  enum class Got { kByte, kTimeout, kStopped };

  Got NextByte(char& byte, std::chrono::milliseconds timeout);
  // Gives up once the terminal has taken nothing for `stall`.
  void Send(std::string_view bytes, std::chrono::milliseconds stall = std::chrono::seconds(5));
  void Answer(std::string_view text) { Send("\r\n" + std::string(text) + "\r\n"); }
  void Note(const std::string& event);

  void CommandMode();
  void Execute(const std::string& line);
  void Dial(std::string_view text);
  void OnlineMode();
  // Journals command text that arrives during a call, which the host gets as data.
  void WatchOnlineText(char byte);
  void TryEscape();
  void ReadFrameAndAnswer();
  void SendAnswer(const std::string& text, ExchangeFault fault);
  void DropLine(const std::string& reason);
  // The ...0007 fault: the device goes away (the terminal's side hangs up) and a new
  // one comes back at the same link, with the modem reset.
  void Replug();

  HostSimulator& host_;
  const StopSignal& stop_;
  const ModemTimings timings_;
  UniqueFd master_;
  UniqueFd slave_;
  std::filesystem::path link_;
  std::string devicePath_;

  std::deque<char> input_;
  std::chrono::steady_clock::time_point lastArrival_{};
  std::chrono::milliseconds lastGap_{0};  // silence before the byte NextByte gave last
  bool echo_ = true;
  bool mute_ = false;
  bool online_ = false;
  bool callUp_ = false;
  bool enqDue_ = false;
  std::chrono::milliseconds guard_{1000};
  CallFault callFault_ = CallFault::kNone;
  std::string nakdOnce_;  // the request already NAK'd by the .11 fault
  std::string onlineText_;  // what the terminal sent during the call since its last CR
};

}  // namespace paxelle::hostsim
