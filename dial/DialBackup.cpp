#include "dial/DialBackup.h"

#include "common/ProcessEvents.h"
#include "common/TrafficLog.h"

#include <cstdio>

namespace paxelle {
namespace {

std::string Format(const char* format, int portNumber) {
  char text[512];
  std::snprintf(text, sizeof text, format, portNumber);
  return text;
}

}  // namespace

std::string ComPortOpenFailedText(int portNumber) {
  return Format("Could not Open Com Port %d.", portNumber);
}

std::string DsrInactiveText(int portNumber) {
  return Format("DSR found Inactive on Com Port %d.\r\nMake Sure Kelvara Device is Connected and Powered.",
                portNumber);
}

std::string CtsInactiveText(int portNumber) {
  return Format(
      "CTS found Inactive on Com Port %d.\r\nYou may have a defective COM Port.\r\n"
      "If you are emulating a COM Port,(USB to Serial Converter or equivalent)\r\n"
      "the emulation may not fully support Flow Control.\r\nFlow Control is required.\r\n",
      portNumber);
}

std::string DialLinkUnavailableText(int portNumber) {
  return Format(
      "Dial Backup on Com Port %d is not available in this build.\r\n"
      "Set TRANSPORT METHOD to 0 (IP Only) to run without it.",
      portNumber);
}

CDialBackup::CDialBackup(ComDevices devices, ModemLineControl& lines)
    : devices_(std::move(devices)), port_(devices_, GetTrafficLog(), lines) {}

CDialBackup::~CDialBackup() { Stop(); }

bool CDialBackup::Start(int portNumber) {
  DialLineConnectedEvent().ResetEvent();
  if (!port_.Open(portNumber, 19200, 'E', '7', '1')) {
    if (portNumber >= 1 && portNumber <= 255) Log("Com Port %d: %s", portNumber, port_.OpenErrorText().c_str());
    SetLastError(ComPortOpenFailedText(portNumber));
    return false;
  }
  if (!port_.IsDsrOn()) {
    SetLastError(DsrInactiveText(portNumber));
  } else if (!port_.IsCtsOn()) {
    SetLastError(CtsInactiveText(portNumber));
  } else {
    SetLastError(DialLinkUnavailableText(portNumber));
  }
  port_.Close();
  return false;
}

void CDialBackup::Stop() { port_.Close(); }

std::string CDialBackup::LastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

void CDialBackup::SetLastError(std::string text) {
  std::lock_guard lock(mutex_);
  lastError_ = std::move(text);
}

}  // namespace paxelle
