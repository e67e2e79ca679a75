#include "tools/hostsim/ModemSimulator.h"

#include "common/SystemErrorText.h"
#include "tools/hostsim/ModemFrame.h"
#include "tools/hostsim/SimMessage.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>

namespace paxelle::hostsim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kFactoryGuard{1000};  // S12=50, in fiftieths of a second
constexpr milliseconds kCommandByteWait{1000};
constexpr milliseconds kStreamStall{200};  // a terminal that takes no more has given up
constexpr std::size_t kMaxCommandLength = 256;
constexpr std::size_t kMaxFrameLength = 8192;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left + 1, 0, INT_MAX));
}

// The number after position `i` of `text` (0 when there is none); `i` moves past it.
int ReadNumber(const std::string& text, std::size_t& i) {
  int value = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && value < 100000) {
    value = value * 10 + (text[i++] - '0');
  }
  return value;
}

}  // namespace

ModemSimulator::ModemSimulator(HostSimulator& host, const StopSignal& stop, ModemTimings timings)
    : host_(host), stop_(stop), timings_(timings) {}

ModemSimulator::~ModemSimulator() {
  if (link_.empty()) return;
  std::error_code ignored;
  if (std::filesystem::is_symlink(link_, ignored) && std::filesystem::read_symlink(link_, ignored) == devicePath_) {
    std::filesystem::remove(link_, ignored);
  }
}

Status ModemSimulator::Open(const std::filesystem::path& link) {
  master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  char name[128];
  if (!master_.IsValid() || ::grantpt(master_.Get()) != 0 || ::unlockpt(master_.Get()) != 0 ||
      ::ptsname_r(master_.Get(), name, sizeof name) != 0) {
    return Status::Failure("cannot create a pseudo-terminal: " + SystemErrorText(errno));
  }
  devicePath_ = name;
  slave_.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  termios raw{};
  if (!slave_.IsValid() || ::tcgetattr(slave_.Get(), &raw) != 0) {
    return Status::Failure("cannot open " + devicePath_ + ": " + SystemErrorText(errno));
  }
  // No echo or line editing before a terminal sets its own mode.
  ::cfmakeraw(&raw);
  ::tcsetattr(slave_.Get(), TCSANOW, &raw);

  struct stat existing {};
  if (::lstat(link.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) return Status::Failure(link.string() + " exists and is not a symbolic link");
    ::unlink(link.c_str());
  }
  if (::symlink(name, link.c_str()) != 0) {
    return Status::Failure("cannot link " + link.string() + " to " + devicePath_ + ": " + SystemErrorText(errno));
  }
  link_ = link;
  return Status::Ok();
}

void ModemSimulator::Run() {
  while (!stop_.Raised()) {
    if (online_) {
      OnlineMode();
    } else {
      CommandMode();
    }
  }
}

ModemSimulator::Got ModemSimulator::NextByte(char& byte, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (input_.empty()) {
    pollfd watch[2] = {{stop_.Fd(), POLLIN, 0}, {master_.Get(), POLLIN, 0}};
    const int ready = ::poll(watch, 2, MillisecondsLeft(deadline));
    if (ready < 0 && errno != EINTR) return Got::kStopped;
    if ((watch[0].revents & POLLIN) != 0) return Got::kStopped;
    if ((watch[1].revents & POLLIN) != 0) {
      char buffer[4096];
      const ssize_t count = ::read(master_.Get(), buffer, sizeof buffer);
      if (count > 0) {
        const auto now = Clock::now();
        lastGap_ = std::chrono::duration_cast<milliseconds>(now - lastArrival_);
        lastArrival_ = now;
        input_.insert(input_.end(), buffer, buffer + count);
        break;
      }
    } else if ((watch[1].revents & (POLLHUP | POLLERR)) != 0) {
      // Only while no terminal has the device open; it cannot last, as this side holds it.
      if (stop_.WaitFor(milliseconds(50))) return Got::kStopped;
    }
    if (Clock::now() >= deadline) return Got::kTimeout;
  }
  byte = input_.front();
  input_.pop_front();
  return Got::kByte;
}

void ModemSimulator::Send(std::string_view bytes, milliseconds stall) {
  auto deadline = Clock::now() + stall;
  while (!bytes.empty()) {
    const ssize_t written = ::write(master_.Get(), bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      deadline = Clock::now() + stall;
      continue;
    }
    if (written < 0 && errno != EAGAIN && errno != EINTR) return;
    pollfd watch{master_.Get(), POLLOUT, 0};
    if (Clock::now() >= deadline || stop_.Raised()) return;
    ::poll(&watch, 1, std::min(MillisecondsLeft(deadline), 100));
  }
}

void ModemSimulator::Note(const std::string& event) {
  if (Journal* journal = host_.GetJournal(); journal != nullptr) journal->RecordModemEvent(event, host_.Now());
}

void ModemSimulator::CommandMode() {
  std::string line;
  for (;;) {
    char byte = 0;
    const Got got = NextByte(byte, kCommandByteWait);
    if (got == Got::kStopped) return;
    if (got == Got::kTimeout) {
      if (line.empty()) return;
      continue;
    }
    if (mute_) continue;
    if (echo_) Send(std::string_view(&byte, 1));
    if (byte == '\r') {
      Execute(line);
      return;
    }
    if (byte != '\n' && line.size() < kMaxCommandLength) line += byte;
  }
}

void ModemSimulator::Execute(const std::string& line) {
  std::string command(line);
  std::transform(command.begin(), command.end(), command.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  const std::size_t at = command.rfind("AT");
  if (at == std::string::npos) return;  // not a command: a modem stays silent
  command.erase(0, at + 2);
  std::size_t i = 0;
  while (i < command.size()) {
    const char letter = command[i++];
    switch (letter) {
      case '&':
        if (i < command.size() && command[i++] == 'F') {
          echo_ = true;
          guard_ = kFactoryGuard;
        }
        ReadNumber(command, i);
        break;
      case 'E': echo_ = ReadNumber(command, i) != 0; break;
      case 'Z':
        ReadNumber(command, i);
        echo_ = true;
        guard_ = kFactoryGuard;
        break;
      case 'H':
        ReadNumber(command, i);
        if (callUp_) Note("HANGUP");
        callUp_ = false;
        online_ = false;
        break;
      case 'D':
        Dial(std::string_view(command).substr(i));
        return;
      case 'O':
        ReadNumber(command, i);
        if (callUp_) {
          online_ = true;
          Answer("CONNECT 19200");
          return;
        }
        break;
      case 'S': {
        const int reg = ReadNumber(command, i);
        if (i < command.size() && command[i] == '=') {
          ++i;
          const int value = ReadNumber(command, i);
          if (reg == 12) guard_ = milliseconds(value * 20);
        }
        break;
      }
      default: ReadNumber(command, i); break;
    }
  }
  Answer("OK");
}

void ModemSimulator::Dial(std::string_view text) {
  if (!text.empty() && (text.front() == 'T' || text.front() == 'P')) text.remove_prefix(1);
  const std::string number(text);
  callFault_ = CallFaultForNumber(number);
  switch (callFault_) {
    case CallFault::kBusy:
      Note("DIAL " + number + " BUSY");
      Answer("BUSY");
      return;
    case CallFault::kNoCarrier:
      Note("DIAL " + number + " NO CARRIER");
      Answer("NO CARRIER");
      return;
    case CallFault::kNoDialAnswer:
      Note("DIAL " + number + " (no answer)");
      return;
    case CallFault::kModemHangs:
      Note("DIAL " + number + " NO DIALTONE (the modem answers nothing from now on)");
      Answer("NO DIALTONE");
      mute_ = true;
      return;
    default: break;
  }
  if (stop_.WaitFor(timings_.ringing)) return;
  Note("DIAL " + number + " CONNECT 19200");
  Answer("CONNECT 19200");
  online_ = true;
  callUp_ = true;
  enqDue_ = callFault_ != CallFault::kNoEnq;
}

void ModemSimulator::OnlineMode() {
  if (enqDue_) {
    enqDue_ = false;
    if (stop_.WaitFor(timings_.enqDelay)) return;
    Send(std::string(1, kModemEnq));
  }
  char byte = 0;
  const Got got = NextByte(byte, timings_.idleCall);
  if (got == Got::kStopped) return;
  if (got == Got::kTimeout) {
    DropLine("idle call");
    return;
  }
  if (byte == kModemStx) {
    onlineText_.clear();
    ReadFrameAndAnswer();
  } else if (byte == '+' && lastGap_ >= guard_) {
    onlineText_.clear();
    TryEscape();
  } else {
    WatchOnlineText(byte);
  }
}

void ModemSimulator::WatchOnlineText(char byte) {
  // Online, a modem passes whatever the terminal sends to the far end, commands
  // included: only the escape sequence brings it back to command mode.
  if (byte != '\r') {
    if (onlineText_.size() < kMaxCommandLength) onlineText_ += byte;
    return;
  }
  if (onlineText_.size() >= 2 && std::toupper(static_cast<unsigned char>(onlineText_[0])) == 'A' &&
      std::toupper(static_cast<unsigned char>(onlineText_[1])) == 'T') {
    Note("COMMAND TEXT ON THE CALL (passed to the host as data)");
  }
  onlineText_.clear();
}

void ModemSimulator::TryEscape() {
  char byte = 0;
  for (int pluses = 1; pluses < 3; ++pluses) {
    const Got got = NextByte(byte, guard_);
    if (got != Got::kByte) return;
    if (byte != '+') {
      input_.push_front(byte);
      return;
    }
  }
  const Got after = NextByte(byte, guard_);
  if (after == Got::kByte) {
    input_.push_front(byte);
    return;
  }
  if (after == Got::kStopped) return;
  online_ = false;  // the call stays up until ATH0
  Note("ESCAPE");
  Answer("OK");
}

void ModemSimulator::ReadFrameAndAnswer() {
  std::string frame(1, kModemStx);
  char byte = 0;
  for (;;) {
    if (NextByte(byte, timings_.frameByte) != Got::kByte) return;
    frame += byte;
    if (byte == kModemEtx) break;
    if (frame.size() > kMaxFrameLength) return;
  }
  char check = 0;
  if (NextByte(check, timings_.frameByte) != Got::kByte) return;
  if (FrameCheckCharacter(frame) != check) {
    Note("NAK (bad LRC on a request)");
    Send(std::string(1, kModemNak));
    return;
  }
  const std::string data = frame.substr(1, frame.size() - 2);
  const SimMessage read = ReadSimMessage(data);
  // The last byte is the ETX: a frame that short has no link field.
  if (frame.size() <= kLinkFieldFrameIndex + 1 || frame[kLinkFieldFrameIndex] != kTelephoneLinkField) {
    const std::string seen =
        frame.size() > kLinkFieldFrameIndex + 1 ? std::string(1, frame[kLinkFieldFrameIndex]) : "";
    if (Journal* journal = host_.GetJournal(); journal != nullptr) {
      journal->RecordRefusal("link indicator \"" + seen + "\" is not \"1\":", read, data, host_.Now());
    }
    Send(std::string(1, kModemNak));
    return;
  }
  const ExchangeFault fault =
      read.kind == MessageKind::kRequest ? ExchangeFaultForAmount(read.amount) : ExchangeFault::kNone;
  if (fault == ExchangeFault::kNakAlways || (fault == ExchangeFault::kNakOnce && nakdOnce_ != data)) {
    nakdOnce_ = data;
    Note("NAK (fault of the amount)");
    Send(std::string(1, kModemNak));
    return;
  }
  nakdOnce_.clear();
  Send(std::string(1, kModemAck));

  const SimReply reply = host_.Handle(data, SimLink::kModem);
  switch (reply.action) {
    case SimReply::Action::kNoAnswer: return;
    case SimReply::Action::kCloseConnection: DropLine("in the middle of an exchange"); return;
    case SimReply::Action::kSendAfterDelay:
      if (stop_.WaitFor(timings_.answerDelay)) return;
      break;
    case SimReply::Action::kStream:
      // A frame that never ends: STX and more bytes than any answer holds.
      // Only while the terminal takes it: a modem would not hold back the escape
      // sequence of a terminal that has given up on the frame.
      Send(std::string(1, kModemStx) + std::string(128 * 1024, 'Z'), kStreamStall);
      return;
    case SimReply::Action::kSend: break;
  }
  SendAnswer(reply.text, fault);
}

void ModemSimulator::SendAnswer(const std::string& text, ExchangeFault fault) {
  const std::string frame = HostFrame(text);
  char byte = 0;
  if (fault == ExchangeFault::kBadLrcFirst) {
    std::string spoiled = frame;
    spoiled.back() = static_cast<char>(spoiled.back() ^ 0x5A);
    Note("ANSWER SENT WITH A BAD LRC");
    Send(spoiled);
    if (NextByte(byte, timings_.ackWait) != Got::kByte) return;
    if (byte != kModemNak) Note("NO NAK FOR THE BAD LRC");
  }
  for (int send = 0; send < 3; ++send) {
    Send(frame);
    const Got got = NextByte(byte, timings_.ackWait);
    if (got == Got::kStopped) return;
    if (got == Got::kTimeout || byte != kModemNak) break;
  }
  if (fault != ExchangeFault::kNoEot) Send(std::string(1, kModemEot));
  if (callFault_ == CallFault::kDropWhenIdle) {
    const Got got = NextByte(byte, timings_.dropWhenIdle);
    if (got == Got::kByte) {
      input_.push_front(byte);
    } else if (got == Got::kTimeout) {
      DropLine("unsolicited, while idle");
    }
  }
  // What the terminal sends during the pause is lost with the device, as on a real unplug.
  if (callFault_ == CallFault::kUnplugged && !stop_.WaitFor(timings_.dropWhenIdle)) Replug();
}

void ModemSimulator::Replug() {
  Note("UNPLUGGED AND PLUGGED IN AGAIN");
  // The terminal's open device hangs up with the old pseudo-terminal.
  slave_.Reset();
  master_.Reset();
  // A modem that comes back has lost its call and its settings.
  input_.clear();
  onlineText_.clear();
  nakdOnce_.clear();
  echo_ = true;
  mute_ = false;
  online_ = false;
  callUp_ = false;
  enqDue_ = false;
  guard_ = kFactoryGuard;
  callFault_ = CallFault::kNone;
  const std::filesystem::path link = link_;
  if (const Status opened = Open(link); !opened.ok()) Note("NOT PLUGGED IN AGAIN: " + opened.message());
}

void ModemSimulator::DropLine(const std::string& reason) {
  Note("NO CARRIER (" + reason + ")");
  Answer("NO CARRIER");
  online_ = false;
  callUp_ = false;
}

}  // namespace paxelle::hostsim
