// The dial backup as far as this build carries it: Start checks the modem's COM
// port the way the dial link does before it works, then refuses.
#pragma once

#include "dial/ComDevices.h"
#include "dial/ModemLines.h"
#include "dial/SerialPort.h"

#include <mutex>
#include <string>

namespace paxelle {

class CDialBackup {
 public:
  explicit CDialBackup(ComDevices devices = {}, ModemLineControl& lines = SystemModemLines());
  ~CDialBackup();
  CDialBackup(const CDialBackup&) = delete;
  CDialBackup& operator=(const CDialBackup&) = delete;

  bool Start(int portNumber);
  void Stop();
  std::string LastError() const;

 private:
  void SetLastError(std::string text);

  const ComDevices devices_;
  CSerialPort port_;
  mutable std::mutex mutex_;  // guards lastError_
  std::string lastError_;
};

std::string ComPortOpenFailedText(int portNumber);
std::string DsrInactiveText(int portNumber);
std::string CtsInactiveText(int portNumber);
std::string DialLinkUnavailableText(int portNumber);

}  // namespace paxelle
