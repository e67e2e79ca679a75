// The dial backup: a worker thread that owns the modem, takes the records the host
// thread hands over (State 9) from the pending queue, dials the authorization number
// when no call is up, exchanges the host request and its answer in the dial link's
// framing, and writes the result back (State 12, or 11 with HostErrorText). The host
// thread and this one meet only through the queue and the dial-line-connected event.
#pragma once

#include "common/Event.h"
#include "common/Status.h"
#include "dial/ComDevices.h"
#include "dial/ModemLines.h"
#include "dial/SerialPort.h"
#include "dial/StopDescriptor.h"
#include "common/Mutex.h"

#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace paxelle {

class CParamStore;
class CRequest;
class CTrafficLog;
class PendingQueue;

struct DialBackupTimings {
  milliseconds queuePoll{kDialQueuePoll};
  milliseconds initAnswer{kModemInitAnswer};
  milliseconds dialAnswer{kModemDialAnswer};
  milliseconds carrierAfterConnect{kCarrierAfterConnect};
  milliseconds enqWait{kHostEnqWait};
  milliseconds response{kHostExchangeLimit};  // for the host's answer to a request frame
  milliseconds stopHangUp{kDialStopHangUp};
  milliseconds reopenPause{kPortReopenPause};
  SerialPortTimings port;                          // the hang-up's guard times
};

// What the dial backup works with; every referenced object must outlive it.
struct DialBackupServices {
  PendingQueue& queue;
  CParamStore& params;       // "DIAL PREFIX" and "AUTHORIZATION PHONE NUMBER", read at each dial
  CTrafficLog& log;
  Event& interfacesStopping;  // once set, no new dial or exchange is started
  Event& dialLineConnected;   // set while a call is up and in use
  const ComDevices& devices;
  ModemLineControl& lines;    // normally SystemModemLines()
  // What the operator should see without acknowledging it (the traffic log has it
  // already); called on the worker thread, so it must be thread-safe and quick.
  // May be empty.
  std::function<void(const std::string&)> tellOperator;
};

class CDialBackup {
 public:
  explicit CDialBackup(DialBackupServices services, DialBackupTimings timings = {});
  // Stop().
  ~CDialBackup();
  CDialBackup(const CDialBackup&) = delete;
  CDialBackup& operator=(const CDialBackup&) = delete;

  // Clears the dial-line-connected event, opens COM port `portNumber` (19200 baud,
  // even parity, 7 data bits, 1 stop bit), checks DSR and CTS and starts the worker.
  // False with LastError() set (and the port closed) when the port cannot be opened,
  // DSR or CTS is off, or the thread cannot start. A running backup is stopped first.
  bool Start(int portNumber);
  // Ends the worker from whatever it waits for (within a second), hangs up a call
  // that closing the port would leave up (a line in local mode; up to
  // `stopHangUp` more), closes the port and clears the dial-line-connected event.
  // Harmless when not started.
  void Stop();
  // The text of the last failure: of Start, or of the last exchange.
  std::string LastError() const;
  // Receives how each dial call ended ("connected", "busy", "no_carrier",
  // "no_dialtone", "no_answer", "no_response", "modem_failed", "stopped",
  // "failed"), on the worker thread; quick and thread-safe. Set before Start.
  void SetCallObserver(std::function<void(std::string_view)> observer) { callObserver_ = std::move(observer); }

 private:
  enum class Outcome { kDone, kFailed, kStopped };

  void WorkLoop();
  // Opens the port and checks DSR and CTS; a failure carries the operator's text,
  // the port closed, or, with code kDeviceRefused, the device's own reason (maybe empty).
  Status OpenPort();
  // What the operator is told of a failed OpenPort.
  std::string OperatorText(const Status& opened) const;
  // A port whose device hung up (a modem unplugged and plugged in again) is closed
  // and opened again, a few attempts at most; false when it still cannot be used.
  bool PortUsable();
  // The record fails with the last error, nothing sent.
  void Fail(CRequest& record);
  // Logs `text` and shows it to the operator.
  void TellOperator(const std::string& text);
  // Dials (when needed) and exchanges one record; false when it was left as it was.
  void Process(CRequest& record);
  bool InitialiseModem();
  bool Dial();
  bool WaitForEnq();
  bool Exchange(CRequest& record);
  void HangUp();
  // Reads what arrives between frames for the modem's "NO CARRIER".
  void WatchModemText(char byte);
  void WriteBack(const CRequest& record);
  void SetLastError(std::string text);
  bool Stopping() const;

  DialBackupServices services_;
  std::function<void(std::string_view)> callObserver_;
  const DialBackupTimings timings_;
  StopDescriptor stop_;
  CSerialPort port_;
  std::thread thread_;
  int portNumber_ = 0;        // set by Start before the worker runs
  bool freshCall_ = false;   // worker thread only
  bool reopenFailureTold_ = false;  // worker thread only
  std::string modemText_;    // worker thread only: the line between frames so far
  mutable Mutex mutex_;
  std::string lastError_ GUARDED_BY(mutex_);
};

// The failure texts of Start, filled in for `portNumber`.
std::string ComPortOpenFailedText(int portNumber);
std::string DsrInactiveText(int portNumber);
std::string CtsInactiveText(int portNumber);

}  // namespace paxelle
