#include "dial/DialBackup.h"

#include "core/ServerContext.h"
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

CDialBackup::CDialBackup(CServerContext& server, ComDevices devices, std::unique_ptr<SerialDevice> device)
    : server_(server),
      devices_(std::move(devices)),
      device_(device ? std::move(device) : std::make_unique<PosixSerialDevice>()) {}

CDialBackup::~CDialBackup() { Stop(); }

bool CDialBackup::Start(int portNumber) {
  server_.dialLineConnected.ResetEvent();
  device_->Close();
  const std::string path = devices_.DevicePath(portNumber);
  if (path.empty() || !device_->Open(path)) {
    // The device's own reason goes to the log; the operator gets the fixed text.
    if (!path.empty()) server_.log.Log("Com Port %d: %s", portNumber, device_->ErrorText().c_str());
    SetLastError(ComPortOpenFailedText(portNumber));
    return false;
  }
  // A device that cannot report its lines counts as lines off, as the port does.
  ModemLines lines;
  const bool known = device_->GetModemLines(lines);
  device_->Close();
  if (!known || !lines.dsr) {
    SetLastError(DsrInactiveText(portNumber));
  } else if (!lines.cts) {
    SetLastError(CtsInactiveText(portNumber));
  } else {
    SetLastError(DialLinkUnavailableText(portNumber));
  }
  return false;
}

void CDialBackup::Stop() { device_->Close(); }

std::string CDialBackup::LastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

void CDialBackup::SetLastError(std::string text) {
  std::lock_guard lock(mutex_);
  lastError_ = std::move(text);
}

}  // namespace paxelle
