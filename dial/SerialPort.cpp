#include "dial/SerialPort.h"

#include "common/SystemErrorText.h"
#include "common/TrafficLog.h"
#include "dial/SerialSettings.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

namespace paxelle {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kMaxReadBytes = 1023;
constexpr std::size_t kMaxLineLength = 1024;
constexpr int kBitsPerCharacter = 10;  // start, seven data, parity, stop

Clock::time_point After(milliseconds wait) { return Clock::now() + std::max(wait, milliseconds(0)); }

}  // namespace

CSerialPort::CSerialPort(const ComDevices& devices, CTrafficLog& log, ModemLineControl& lines,
                         SerialPortTimings timings)
    : devices_(devices), log_(log), lines_(lines), timings_(timings) {}

CSerialPort::~CSerialPort() { Close(); }

Status CSerialPort::Open(int port, int baud, char parity, char dataBits, char stopBits) {
  if (IsOpen() && !Close()) return Status::Failure("");
  termios settings{};
  if (port < ComDevices::kFirstPort || port > ComDevices::kLastPort) {
    return Status::Failure("COM port " + std::to_string(port) + " is not a port from 1 to 255");
  }
  if (!BuildSerialSettings(baud, parity, dataBits, stopBits, true, settings)) {
    return Status::Failure("unsupported line settings");
  }
  const std::string path = devices_.DevicePath(port);
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsValid()) return Status::Failure(path + ": " + SystemErrorText(errno));
  auto fail = [&](std::string reason) { return Status::Failure(path + ": " + std::move(reason)); };
  // Another program on the line would corrupt every exchange.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return fail("in use by another program");
  termios current{};
  if (::tcgetattr(fd.Get(), &current) != 0) return fail("not a serial device: " + SystemErrorText(errno));

  int bits = 0;
  const int linesError = lines_.Get(fd.Get(), bits);
  const bool forcedLocal = devices_.IsLocal(port);
  const bool noLines = linesError == ENOTTY || linesError == EINVAL;
  if (linesError != 0 && !noLines && !forcedLocal) {
    return fail("modem lines cannot be read: " + SystemErrorText(linesError));
  }
  const bool local = forcedLocal || noLines;
  if (local) {
    log_.Log("Com Port %d (%s) %s: local mode.", port, path.c_str(),
             forcedLocal ? "is set up without modem control lines" : "has no modem control lines");
    // Nothing drives CTS on such a line.
    BuildSerialSettings(baud, parity, dataBits, stopBits, false, settings);
  }
  if (::tcsetattr(fd.Get(), TCSANOW, &settings) != 0) {
    const int error = errno;
    // A line without a UART behind it has no character framing to set, and some
    // refuse to change it; everything else of ours still has to hold.
    termios keptFraming = settings;
    constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | CSTOPB;
    keptFraming.c_cflag = (settings.c_cflag & ~kFraming) | (current.c_cflag & kFraming);
    if (!local || error != EINVAL || ::tcsetattr(fd.Get(), TCSANOW, &keptFraming) != 0) {
      return fail("settings refused: " + SystemErrorText(error));
    }
  }
  ::tcflush(fd.Get(), TCIOFLUSH);
  if (!local) lines_.Raise(fd.Get(), TIOCM_DTR | TIOCM_RTS);

  fd_ = std::move(fd);
  portNumber_ = port;
  baud_ = baud;
  local_ = local;
  localCarrier_ = false;
  hungUp_ = false;
  settings_ = settings;
  pending_.clear();
  received_ = 0;
  return Status::Ok();
}

bool CSerialPort::Close() {
  if (!fd_.IsValid()) return true;
  const bool closed = fd_.Close();
  local_ = false;
  localCarrier_ = false;
  hungUp_ = false;
  pending_.clear();
  received_ = 0;
  return closed || errno == EINTR;
}

bool CSerialPort::StopSet() const { return stop_ != nullptr && stop_->IsSet(); }

CSerialPort::Ready CSerialPort::WaitFor(short events, Clock::time_point deadline) {
  for (;;) {
    pollfd watch[2];
    nfds_t count = 0;
    int stopIndex = -1;
    int portIndex = -1;
    if (stop_ != nullptr && stop_->IsValid()) {
      stopIndex = static_cast<int>(count);
      watch[count++] = pollfd{stop_->Fd(), POLLIN, 0};
    }
    if (events != 0 && fd_.IsValid() && !hungUp_) {
      portIndex = static_cast<int>(count);
      watch[count++] = pollfd{fd_.Get(), events, 0};
    }
    const int ready = ::poll(watch, count, PollTimeout(deadline - Clock::now()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Ready::kTimeout;
    }
    if (stopIndex >= 0 && (watch[stopIndex].revents & POLLIN) != 0) return Ready::kStop;
    if (portIndex >= 0) {
      const short seen = watch[portIndex].revents;
      if ((seen & events) != 0) return Ready::kPort;
      if ((seen & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        NoteHangUp();
        return Ready::kHangUp;  // a wait that goes on watches only the stop descriptor
      }
    }
    if (Clock::now() >= deadline) return Ready::kTimeout;
  }
}

void CSerialPort::NoteHangUp() {
  if (!hungUp_ && fd_.IsValid()) log_.Log("Com Port %d reports a hang-up.", portNumber_);
  hungUp_ = true;
  localCarrier_ = false;
}

bool CSerialPort::FillPending(bool readable) {
  if (!fd_.IsValid() || hungUp_) return false;
  char buffer[kReceiveBufferSize];
  for (;;) {
    const ssize_t count = ::read(fd_.Get(), buffer, sizeof buffer);
    if (count > 0) {
      pending_.append(buffer, static_cast<std::size_t>(count));
      return true;
    }
    if (count < 0 && errno == EINTR) continue;
    // With VMIN 0 an empty read only means "nothing yet", unless poll has just
    // said there is something: then, like EIO, it is a hung-up device.
    if ((count < 0 && errno == EIO) || (count == 0 && readable)) NoteHangUp();
    return false;
  }
}

int CSerialPort::BytesAvailable() {
  if (!fd_.IsValid()) return 0;
  int waiting = 0;
  if (hungUp_ || ::ioctl(fd_.Get(), FIONREAD, &waiting) != 0) waiting = 0;
  return static_cast<int>(std::min<std::size_t>(pending_.size() + static_cast<std::size_t>(waiting), INT_MAX));
}

int CSerialPort::Read(int maxBytes) {
  received_ = 0;
  if (!fd_.IsValid()) return 0;
  const std::size_t limit = maxBytes < 0 ? kMaxReadBytes : std::min(maxBytes, kMaxReadBytes);
  if (pending_.size() < limit) FillPending(false);
  received_ = std::min(limit, pending_.size());
  std::memcpy(receive_, pending_.data(), received_);
  pending_.erase(0, received_);
  return static_cast<int>(received_);
}

int CSerialPort::WaitForInput(milliseconds timeout) {
  const auto deadline = After(timeout);
  for (;;) {
    if (!pending_.empty()) return PortOk;
    switch (WaitFor(POLLIN, deadline)) {
      case Ready::kPort: FillPending(true); break;
      case Ready::kStop: return PortStopped;
      case Ready::kTimeout: return PortTimeout;
      case Ready::kHangUp: break;
    }
  }
}

int CSerialPort::WaitForInputWhileCarrier(milliseconds timeout) {
  const auto deadline = After(timeout);
  for (;;) {
    if (!pending_.empty()) return PortOk;
    if (!IsCarrierOn()) return PortNoCarrier;
    // A wired line says nothing when its carrier goes; in local mode the word
    // "NO CARRIER" or the device's hang-up ends the poll step anyway.
    const auto now = Clock::now();
    if (now >= deadline) return PortTimeout;
    switch (WaitFor(POLLIN, local_ ? deadline : std::min(deadline, now + kCarrierPoll))) {
      case Ready::kPort: FillPending(true); break;
      case Ready::kStop: return PortStopped;
      case Ready::kTimeout:
      case Ready::kHangUp: break;
    }
  }
}

int CSerialPort::ReadLine(milliseconds timeout, std::string& line) {
  line.clear();
  if (!fd_.IsValid()) return PortError;
  const auto deadline = After(timeout);
  for (;;) {
    if (StopSet()) return PortStopped;
    std::size_t used = 0;
    while (used < pending_.size()) {
      const char byte = pending_[used++];
      if (byte == '\r') continue;
      if (byte == '\n') {
        if (line.empty()) continue;
        pending_.erase(0, used);
        if (local_ && line.find("NO CARRIER") != std::string::npos) {
          localCarrier_ = false;
        } else if (local_ && line.find("CONNECT") != std::string::npos) {
          localCarrier_ = true;
        }
        return PortOk;
      }
      if (line.size() < kMaxLineLength) line += byte;
    }
    pending_.clear();
    if (hungUp_) return PortError;  // no answer can come any more
    switch (WaitFor(POLLIN, deadline)) {
      case Ready::kPort: FillPending(true); break;
      case Ready::kStop: return PortStopped;
      case Ready::kTimeout: return PortTimeout;
      case Ready::kHangUp: break;
    }
  }
}

int CSerialPort::WaitForOk(milliseconds timeout) {
  if (!fd_.IsValid()) return PortError;
  const auto deadline = After(timeout);
  std::string text;
  for (;;) {
    if (StopSet()) return PortStopped;
    text += pending_;
    pending_.clear();
    if (text.find("OK") != std::string::npos || text.find("0\r") != std::string::npos) return PortOk;
    // The last character is all a later match can still need.
    if (text.size() > 1) text.erase(0, text.size() - 1);
    if (hungUp_) return PortError;  // no answer can come any more
    switch (WaitFor(POLLIN, deadline)) {
      case Ready::kPort: FillPending(true); break;
      case Ready::kStop: return PortStopped;
      case Ready::kTimeout: return PortTimeout;
      case Ready::kHangUp: break;
    }
  }
}

bool CSerialPort::WaitForCarrier(milliseconds timeout) {
  const auto deadline = After(timeout);
  for (;;) {
    if (IsCarrierOn()) return true;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    if (WaitFor(0, std::min(deadline, now + kCarrierPoll)) == Ready::kStop) return false;
  }
}

int CSerialPort::SleepOrStop(milliseconds wait) {
  return WaitFor(0, After(wait)) == Ready::kStop ? PortStopped : PortTimeout;
}

void CSerialPort::PurgeReceive() {
  pending_.clear();
  received_ = 0;
  if (fd_.IsValid()) ::tcflush(fd_.Get(), TCIFLUSH);
}

int CSerialPort::OutputQueued() {
  int queued = 0;
  if (::ioctl(fd_.Get(), TIOCOUTQ, &queued) != 0) return -1;
  return std::max(queued, 0);
}

milliseconds CSerialPort::DrainTime(int queued) const {
  const long long ms = static_cast<long long>(queued) * kBitsPerCharacter * 1000 / std::max(baud_, 1);
  return milliseconds(std::clamp<long long>(ms, 1, INT_MAX));
}

std::string CSerialPort::QueueStateText() {
  int waiting = 0;
  if (::ioctl(fd_.Get(), FIONREAD, &waiting) != 0) waiting = 0;
  const int queued = std::max(OutputQueued(), 0);
  int bits = 0;
  const bool ctsHeld = !local_ && (settings_.c_cflag & CRTSCTS) != 0 && ReadLines(bits) && (bits & TIOCM_CTS) == 0;
  char text[128];
  std::snprintf(text, sizeof text, "COMSTAT [cbInQue = %d,cbOutQue = %d, ctsHold = %d,DsrHold = %d]", waiting,
                queued, ctsHeld ? 1 : 0, 0);
  return text;
}

int CSerialPort::Transmit(const void* data, std::size_t length, milliseconds timeout) {
  if (!fd_.IsValid()) return PortError;
  if (length > kTransmitBufferSize) length = kTransmitBufferSize - 1;
  if (length == 0) return PortOk;
  std::memcpy(transmit_, data, length);
  const auto deadline = After(timeout);
  auto stopped = [this] {
    ::tcflush(fd_.Get(), TCOFLUSH);
    return PortStopped;
  };
  auto timedOut = [this] {
    const std::string state = QueueStateText();
    ::tcflush(fd_.Get(), TCOFLUSH);
    log_.Log("TIMED OUT! on TRANSMIT!! [%s]\n", state.c_str());
    return PortTimeout;
  };

  int queued = OutputQueued();
  if (queued < 0) return PortError;
  std::size_t sent = 0;
  while (sent < length) {
    if (StopSet()) return stopped();
    // Never fill the driver's queue to the brim.
    const std::size_t room = kTransmitBufferSize - std::min<std::size_t>(queued, kTransmitBufferSize);
    std::size_t chunk = length - sent;
    if (chunk > room) chunk = room > 0 ? room - 1 : 0;
    Ready ready = Ready::kPort;
    if (chunk > 0) {
      const ssize_t written = ::write(fd_.Get(), transmit_ + sent, chunk);
      if (written > 0) {
        sent += static_cast<std::size_t>(written);
        queued = std::max(OutputQueued(), 0);
        continue;
      }
      if (written < 0 && errno == EINTR) continue;
      if (written < 0 && errno != EAGAIN) {
        if (errno == EIO) NoteHangUp();
        return PortError;
      }
      // Still pending: the unsent bytes wait until the device takes more.
      if (Clock::now() >= deadline) return timedOut();
      ready = WaitFor(POLLOUT, deadline);
    } else {
      if (Clock::now() >= deadline) return timedOut();
      ready = WaitFor(0, std::min(deadline, Clock::now() + DrainTime(queued)));
    }
    if (ready == Ready::kStop) return stopped();
    if (ready == Ready::kTimeout && Clock::now() >= deadline) return timedOut();
    if (hungUp_) return PortError;
    queued = std::max(OutputQueued(), 0);
  }
  // Done when the line has taken every byte.
  while ((queued = OutputQueued()) > 0) {
    const auto now = Clock::now();
    if (now >= deadline) return timedOut();
    if (WaitFor(0, std::min(deadline, now + DrainTime(queued))) == Ready::kStop) return stopped();
  }
  return queued < 0 ? PortError : PortOk;
}

int CSerialPort::SendCommand(std::string_view text, bool appendCr) {
  return SendCommandWithin(text, appendCr, kModemCommandLimit);
}

int CSerialPort::SendCommandWithin(std::string_view text, bool appendCr, milliseconds timeout) {
  if (!appendCr) {
    PurgeReceive();
    return Transmit(text, timeout);
  }
  if (const int status = Transmit(text, timeout); status != PortOk) return status;
  if (SleepOrStop(kModemEchoWait) == PortStopped) return PortStopped;
  PurgeReceive();  // the modem's echo of the command
  return Transmit("\r", timeout);
}

bool CSerialPort::ReadLines(int& bits) {
  if (!fd_.IsValid()) return false;
  const int error = lines_.Get(fd_.Get(), bits);
  // A serial adapter unplugged under an open descriptor answers so.
  if (error == EIO || error == ENODEV || error == ENXIO) NoteHangUp();
  return error == 0;
}

bool CSerialPort::IsDsrOn() {
  if (!fd_.IsValid()) return false;
  if (local_) return true;
  int bits = 0;
  return ReadLines(bits) && (bits & TIOCM_DSR) != 0;
}

bool CSerialPort::IsCtsOn() {
  if (!fd_.IsValid()) return false;
  if (local_) return true;
  int bits = 0;
  return ReadLines(bits) && (bits & TIOCM_CTS) != 0;
}

bool CSerialPort::IsCarrierOn() {
  if (!fd_.IsValid() || hungUp_) return false;
  if (local_) return localCarrier_;
  int bits = 0;
  return ReadLines(bits) && (bits & TIOCM_CAR) != 0;
}

bool CSerialPort::HangUp() {
  // A device that has hung up has no call left to end, and nothing reaches it.
  if (!fd_.IsValid() || hungUp_) {
    localCarrier_ = false;
    return false;
  }
  if (!local_) {
    bool confirmed = false;
    lines_.Drop(fd_.Get(), TIOCM_DTR);
    const auto deadline = Clock::now() + kDtrDropWatch;
    for (;;) {
      if (!IsCarrierOn()) {
        confirmed = WaitForOk(kModemOkLimit) == PortOk;
        break;
      }
      const auto now = Clock::now();
      if (now >= deadline || WaitFor(0, std::min(deadline, now + kCarrierPoll)) == Ready::kStop) break;
    }
    lines_.Raise(fd_.Get(), TIOCM_DTR);
    if (confirmed) return true;
  }
  const int status = EscapeAndHangUp(Clock::time_point::max());
  // Cut short by a stop, the call is still up: the stop's own hang-up ends it.
  if (status != PortStopped) localCarrier_ = false;
  return status == PortOk;
}

bool CSerialPort::HangUpBeforeClose(milliseconds limit) {
  if (!fd_.IsValid() || hungUp_ || !local_ || !localCarrier_) return true;
  // This is part of the stop itself, so the stop descriptor (set by now) must not
  // cut it short; the limit bounds it instead.
  const StopDescriptor* stop = std::exchange(stop_, nullptr);
  const int status = EscapeAndHangUp(Clock::now() + limit);
  stop_ = stop;
  localCarrier_ = false;
  return status == PortOk;
}

int CSerialPort::EscapeAndHangUp(Clock::time_point deadline) {
  const auto within = [&deadline](milliseconds wait) {
    return std::min(wait, std::chrono::ceil<milliseconds>(deadline - Clock::now()));
  };
  if (SleepOrStop(within(timings_.hangUpGuard)) == PortStopped) return PortStopped;
  // A failed "+++" still gets its "ATH0": at worst the far end reads it as data.
  if (SendCommandWithin("+++", false, within(kModemCommandLimit)) == PortStopped) return PortStopped;
  if (SleepOrStop(within(timings_.hangUpGuard)) == PortStopped) return PortStopped;
  if (const int sent = SendCommandWithin("ATH0", true, within(kModemCommandLimit)); sent != PortOk) return sent;
  return WaitForOk(within(kModemOkLimit));
}

}  // namespace paxelle
