// The dial backup as far as this build carries it: Start checks the modem's COM
// port the way the dial link does before it works, then refuses, because the
// modem exchange itself is not part of this build. Transport methods 1 and 2
// therefore stop the interfaces with a clear message instead of leaving
// records handed to the dial link unanswered.
#pragma once

#include "dial/ComDevices.h"
#include "dial/SerialDevice.h"

#include <memory>
#include <mutex>
#include <string>

namespace paxelle {

class CServerContext;

class CDialBackup {
 public:
  // Ports are opened at the paths `devices` names, through `device`; the
  // machine's own device when none is given. `server` must outlive this object.
  explicit CDialBackup(CServerContext& server, ComDevices devices = {},
                       std::unique_ptr<SerialDevice> device = nullptr);
  // Stop().
  ~CDialBackup();
  CDialBackup(const CDialBackup&) = delete;
  CDialBackup& operator=(const CDialBackup&) = delete;

  // Clears the dial-line-connected event, opens COM port `portNumber` and reads
  // its modem lines. False with LastError() set: the port cannot be opened, DSR
  // or CTS is off, or (all lines up) the dial link is not available in this
  // build. The port is closed again in every case.
  bool Start(int portNumber);
  // Ends whatever Start left open; harmless when not started.
  void Stop();
  // The text of the last failure.
  std::string LastError() const;

 private:
  void SetLastError(std::string text);

  CServerContext& server_;
  const ComDevices devices_;
  std::unique_ptr<SerialDevice> device_;
  mutable std::mutex mutex_;  // guards lastError_
  std::string lastError_;
};

// The failure texts of Start, filled in for `portNumber`.
std::string ComPortOpenFailedText(int portNumber);
std::string DsrInactiveText(int portNumber);
std::string CtsInactiveText(int portNumber);
std::string DialLinkUnavailableText(int portNumber);

}  // namespace paxelle
