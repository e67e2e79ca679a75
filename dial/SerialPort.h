// The modem's serial port: opens and configures a COM port's device, moves
// bytes both ways, reads the modem lines, sends modem commands and reads their
// answers within time limits, and hangs the line up. Every wait polls the port
// together with the owner's stop descriptor, so a stop ends it at once.
//
// A device without modem control lines (a pseudo-terminal, a three-wire
// adapter) runs in local mode: DSR and CTS count as on while it is open, and
// the carrier counts as on from a "CONNECT" answer until a hang-up, a
// "NO CARRIER" from the modem or the device's own hang-up.
#pragma once

#include "common/PosixFile.h"
#include "common/Status.h"
#include "common/TimeLimits.h"
#include "dial/ComDevices.h"
#include "dial/ModemLines.h"
#include "dial/StopDescriptor.h"

#include <termios.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace paxelle {

class CTrafficLog;

enum PortStatus : int {
  PortOk = 0,       // done
  PortError = 1,    // the system refused the operation
  PortTimeout = 5,  // the time limit passed
  PortStopped = 6,  // the stop descriptor was set
  PortNoCarrier = 7,  // the carrier went off (or was off) during a wait for input
};

struct SerialPortTimings {
  milliseconds hangUpGuard{kHangUpGuard};  // silence around "+++"
};

class CSerialPort {
 public:
  static constexpr std::size_t kReceiveBufferSize = 1024;
  static constexpr std::size_t kTransmitBufferSize = 4096;

  // Ports are found through `devices`; transmit time-outs are logged to `log`;
  // the modem lines are read through `lines`. All must outlive the port.
  CSerialPort(const ComDevices& devices, CTrafficLog& log, ModemLineControl& lines = SystemModemLines(),
              SerialPortTimings timings = {});
  // Close().
  ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // The descriptor that ends every wait; must be set before Open and outlive the port.
  void SetStopEvent(const StopDescriptor* stop) { stop_ = stop; }

  // Opens COM port `port` (1..255) exclusively with the given line settings
  // (see BuildSerialSettings), DTR and RTS raised. Any bad value fails before a
  // device is touched; every failure leaves the port closed. An open port is
  // closed first. A failure says why (empty when an open port would not close).
  Status Open(int port, int baud, char parity, char dataBits, char stopBits);
  // Closes the device; true when the port is (now) closed.
  bool Close();
  bool IsOpen() const { return fd_.IsValid(); }
  // True when the open device runs in local mode.
  bool IsLocalMode() const { return local_; }
  // The settings Open built for the device (valid after a successful Open).
  const termios& Settings() const { return settings_; }
  // The port number of the last successful Open.
  int PortNumber() const { return portNumber_; }

  // Sends `length` bytes (more than 4096 are cut to 4095) within `timeout`,
  // never filling the driver's 4096-byte output queue; waits until the queue
  // has drained. A stop or the time limit discards what is still queued.
  int Transmit(const void* data, std::size_t length, milliseconds timeout);
  int Transmit(std::string_view bytes, milliseconds timeout) { return Transmit(bytes.data(), bytes.size(), timeout); }
  // With `appendCr`: the text, 40 ms, the modem's echo purged, then CR.
  // Without: input purged, then the text. Each send has 5000 ms.
  int SendCommand(std::string_view text, bool appendCr);

  // Bytes waiting to be read (0 on error or when closed).
  int BytesAvailable();
  // Reads what has arrived, at most `maxBytes` (negative: no limit) and never
  // more than 1023, into the receive buffer (Received()); returns the count.
  // Never waits.
  int Read(int maxBytes = -1);
  std::string_view Received() const { return {receive_, received_}; }
  // Waits at most `timeout` until something can be read: PortOk, PortTimeout or PortStopped.
  int WaitForInput(milliseconds timeout);
  // The same, during a call: also PortNoCarrier as soon as carrier detect goes off
  // (looked at every 5 ms on a line with modem control, where nothing else tells).
  int WaitForInputWhileCarrier(milliseconds timeout);

  // One non-empty answer line, CR ignored, blank lines skipped; what follows the
  // line stays for the next read. In local mode a line with "CONNECT" raises the
  // carrier and one with "NO CARRIER" drops it. PortError at once once the device
  // has hung up.
  int ReadLine(milliseconds timeout, std::string& line);
  // Waits for "OK" or "0\r" in the incoming text; PortError as ReadLine.
  int WaitForOk(milliseconds timeout);
  // True once carrier detect is on; false on a stop or after `timeout`.
  bool WaitForCarrier(milliseconds timeout);
  // PortStopped when the stop descriptor is set within `wait`, else PortTimeout.
  int SleepOrStop(milliseconds wait);
  // Discards everything received and not yet read.
  void PurgeReceive();

  bool IsDsrOn();
  bool IsCtsOn();
  bool IsCarrierOn();
  // Local mode: the modem reported "NO CARRIER"; the carrier counts as off.
  void ReportNoCarrier() { localCarrier_ = false; }

  // Ends a call: DTR dropped until the carrier goes (not in local mode), else
  // "+++" between guard times and "ATH0". True when the modem confirmed. In local
  // mode a hang-up cut short by the stop descriptor leaves the call counted as up.
  bool HangUp();
  // For a stop that is about to close the port. A line in local mode keeps its call
  // when the device is closed (no DTR reaches the modem), so a call still up is ended
  // with "+++" between guard times and "ATH0", within `limit` in all and whatever the
  // stop descriptor says. On a line with modem control closing drops DTR, which ends
  // the call, and nothing is sent. False when a call may have been left up.
  bool HangUpBeforeClose(std::chrono::milliseconds limit);
  // The device reported a hang-up (unplugged, its other end gone): it is read no more,
  // and only closing and opening it again can bring it back.
  bool HasHungUp() const { return hungUp_; }

 private:
  enum class Ready { kPort, kStop, kTimeout, kHangUp };
  // Polls the port for `events` and the stop descriptor until `deadline`; kHangUp
  // when the device has just reported a hang-up.
  Ready WaitFor(short events, std::chrono::steady_clock::time_point deadline);
  // Moves what the device has into the pending input; false when nothing came.
  // `readable`: poll has just reported input, so an empty read means hang-up.
  bool FillPending(bool readable);
  bool StopSet() const;
  bool ReadLines(int& bits);
  int OutputQueued();
  // How long the line needs to send `queued` bytes, at least 1 ms.
  milliseconds DrainTime(int queued) const;
  std::string QueueStateText();
  void NoteHangUp();
  // "+++" between guard times, then "ATH0" and its OK, all before `deadline`:
  // PortOk when the modem confirmed, PortStopped, or another status.
  int EscapeAndHangUp(std::chrono::steady_clock::time_point deadline);
  int SendCommandWithin(std::string_view text, bool appendCr, milliseconds timeout);

  const ComDevices& devices_;
  CTrafficLog& log_;
  ModemLineControl& lines_;
  const SerialPortTimings timings_;
  const StopDescriptor* stop_ = nullptr;
  UniqueFd fd_;
  int portNumber_ = 0;
  int baud_ = 19200;
  bool local_ = false;
  bool localCarrier_ = false;
  bool hungUp_ = false;  // the device reported hang-up: its descriptor is polled no more
  termios settings_{};
  std::string pending_;  // received from the device, not yet handed out
  char receive_[kReceiveBufferSize] = {};
  std::size_t received_ = 0;
  char transmit_[kTransmitBufferSize] = {};
};

}  // namespace paxelle
