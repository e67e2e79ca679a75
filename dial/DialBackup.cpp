#include "dial/DialBackup.h"

#include "common/TrafficLog.h"
#include "config/ParamStore.h"
#include "core/PendingQueue.h"
#include "core/Request.h"
#include "core/TranCodes.h"
#include "dial/LinkFrame.h"

#include <cstdio>
#include <system_error>
#include <utility>

namespace paxelle {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBaud = 19200;
constexpr int kMaxRequestSends = 3;
constexpr int kReopenAttempts = 3;
constexpr int kDeviceRefused = 1;  // OpenPort's failure carries the device's reason
constexpr std::size_t kMaxModemText = 64;
// As over TLS, where two length bytes bound an answer: a longer frame is not an
// answer, and collecting it would only let the line fill the server's memory.
constexpr std::size_t kMaxAnswerFrame = 65535 + 2;

constexpr char kInitCommand[] = "AT&FE0Q0V1&C1&Q6X4$F1&D2S7=23S12=4S25=8";
constexpr const char* kFailureAnswers[] = {"NO CARRIER", "ERROR", "NO DIALTONE", "BUSY",
                                           "NO ANSWER",  "LINE IN USE", "DIGITAL"};

// A monitor's name for a dial that did not connect, from the text it failed with.
const char* CallOutcomeOf(const std::string& failure) {
  static constexpr std::pair<const char*, const char*> kOutcomes[] = {
      {"BUSY", "busy"},         {"NO CARRIER", "no_carrier"},         {"NO DIALTONE", "no_dialtone"},
      {"NO ANSWER", "no_answer"}, {"No Response to Dial", "no_response"}, {"Shutting Down", "stopped"}};
  for (const auto& [text, outcome] : kOutcomes) {
    if (failure.find(text) != std::string::npos) return outcome;
  }
  return "failed";
}

constexpr char kTransmitFailedText[] = "Com Port Transmit Failed!";
constexpr char kNoInitAnswerText[] = "Modem Failed - No Response to Init Command";
constexpr char kNoDialAnswerText[] = "Modem Failed - No Response to Dial Command";
constexpr char kFailedToConnectText[] = "Failed To Connect.";
constexpr char kNoEnqText[] = "No ENQ Received.";
constexpr char kResponseTimeoutText[] = "Timeout on  Response (Dial).";
constexpr char kShuttingDownText[] = "Dial Backup Server Shutting Down.";
constexpr char kLostCarrierText[] = "Lost Carrier Waiting for Response.";
constexpr char kRetriesExceededText[] = "Retries Exceeded.";
constexpr char kBadLrcText[] = "Bad LRC on Response NAK'd.";
constexpr char kAnswerTooLongText[] = "Response Too Long (Dial).";
constexpr char kPortLostText[] = "Com Port %d could not be opened again: sales by dial fail until it can.";
constexpr char kPortBackText[] = "Com Port %d could be opened again: sales by dial go on.";
constexpr char kCallLeftUpText[] = "Com Port %d: the modem did not confirm the hang-up; its call may still be up.";

std::string Format(const char* format, int portNumber) {
  char text[512];
  std::snprintf(text, sizeof text, format, portNumber);
  return text;
}

milliseconds Left(Clock::time_point deadline) {
  return std::max(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()), milliseconds(0));
}

}  // namespace

std::string ComPortOpenFailedText(int portNumber) { return Format("Could not Open Com Port %d.", portNumber); }

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

CDialBackup::CDialBackup(DialBackupServices services, DialBackupTimings timings)
    : services_(services),
      timings_(timings),
      port_(services.devices, services.log, services.lines, timings.port) {
  port_.SetStopEvent(&stop_);
}

CDialBackup::~CDialBackup() { Stop(); }

bool CDialBackup::Start(int portNumber) {
  Stop();
  services_.dialLineConnected.ResetEvent();
  stop_.Reset();
  portNumber_ = portNumber;
  freshCall_ = false;
  reopenFailureTold_ = false;
  modemText_.clear();
  if (const Status opened = OpenPort(); !opened.ok()) {
    // The device's own reason goes to the log; the operator gets the fixed text.
    if (opened.code() == kDeviceRefused && !opened.message().empty()) {
      services_.log.Log("Com Port %d: %s", portNumber, opened.message().c_str());
    }
    SetLastError(OperatorText(opened));
    return false;
  }
  try {
    thread_ = std::thread(&CDialBackup::WorkLoop, this);
  } catch (const std::system_error&) {
    port_.Close();
    SetLastError(Format("The Dial Backup thread for Com Port %d could NOT be started.", portNumber));
    return false;
  }
  SetLastError({});
  return true;
}

std::string CDialBackup::OperatorText(const Status& opened) const {
  return opened.code() == kDeviceRefused ? ComPortOpenFailedText(portNumber_) : opened.message();
}

Status CDialBackup::OpenPort() {
  const Status opened = port_.Open(portNumber_, kBaud, 'E', '7', '1');
  if (!opened.ok()) return Status::Failure(opened.message(), kDeviceRefused);
  const Status usable = !port_.IsDsrOn()   ? Status::Failure(DsrInactiveText(portNumber_))
                        : !port_.IsCtsOn() ? Status::Failure(CtsInactiveText(portNumber_))
                                           : Status::Ok();
  if (!usable.ok()) port_.Close();
  return usable;
}

void CDialBackup::Stop() {
  stop_.Set();
  if (thread_.joinable()) thread_.join();
  port_.Close();
  services_.dialLineConnected.ResetEvent();
}

std::string CDialBackup::LastError() const {
  MutexLock lock(mutex_);
  return lastError_;
}

void CDialBackup::SetLastError(std::string text) {
  MutexLock lock(mutex_);
  lastError_ = std::move(text);
}

bool CDialBackup::Stopping() const { return stop_.IsSet() || services_.interfacesStopping.IsSet(); }

void CDialBackup::WorkLoop() {
  for (;;) {
    RequestList snapshot;
    services_.queue.Snapshot(snapshot);
    for (CRequest& record : snapshot) {
      if (record.State != kStateDialHandOver) continue;
      if (record.Disposition != kDispositionProcess && record.Disposition != kDispositionBatchClose) continue;
      // Once the interfaces stop, the host thread answers what is still handed over.
      if (Stopping()) break;
      if (PortUsable()) {
        Process(record);
      } else {
        Fail(record);
      }
    }
    const int waited = port_.WaitForInput(timings_.queuePoll);
    if (waited == PortStopped) break;
    // Between exchanges only the modem talks: watch it for a dropped line.
    if (waited == PortOk) {
      while (port_.Read() > 0) {
        for (const char byte : port_.Received()) WatchModemText(byte);
      }
    }
    if (!port_.IsCarrierOn() && services_.dialLineConnected.IsSet()) services_.dialLineConnected.ResetEvent();
  }
  // Closing a line in local mode drops nothing the modem sees: a call left up would
  // take the next start's modem commands to the host as data.
  if (!port_.HangUpBeforeClose(timings_.stopHangUp)) services_.log.Log(kCallLeftUpText, portNumber_);
  port_.Close();
}

bool CDialBackup::PortUsable() {
  if (port_.IsOpen() && !port_.HasHungUp()) return true;
  if (services_.dialLineConnected.IsSet()) services_.dialLineConnected.ResetEvent();
  freshCall_ = false;
  modemText_.clear();
  port_.Close();
  // A device that comes back (a USB modem found again, a driver restarted) may
  // take a moment to appear.
  Status opened = OpenPort();
  for (int attempt = 1; !opened.ok(); ++attempt, opened = OpenPort()) {
    if (attempt < kReopenAttempts) {
      if (port_.SleepOrStop(timings_.reopenPause) != PortStopped) continue;
      SetLastError(kShuttingDownText);
      return false;
    }
    if (!reopenFailureTold_) {
      reopenFailureTold_ = true;
      const std::string reason = opened.message().empty() ? OperatorText(opened) : opened.message();
      services_.log.Log("Com Port %d: %s", portNumber_, reason.c_str());
      TellOperator(Format(kPortLostText, portNumber_));
    }
    SetLastError(ComPortOpenFailedText(portNumber_));
    return false;
  }
  services_.log.Log("Com Port %d opened again.", portNumber_);
  if (reopenFailureTold_) {
    reopenFailureTold_ = false;
    TellOperator(Format(kPortBackText, portNumber_));
  }
  return true;
}

void CDialBackup::TellOperator(const std::string& text) {
  services_.log.Log("%s", text.c_str());
  if (services_.tellOperator) services_.tellOperator(text);
}

void CDialBackup::Fail(CRequest& record) {
  record.State = kStateDialFailed;
  record.HostErrorText = LastError();
  WriteBack(record);
}

void CDialBackup::Process(CRequest& record) {
  if (!port_.IsCarrierOn()) {
    freshCall_ = false;
    const bool initialised = InitialiseModem();
    const bool dialled = initialised && Dial();
    if (callObserver_) callObserver_(dialled ? "connected" : initialised ? CallOutcomeOf(LastError()) : "modem_failed");
    if (!dialled) {
      Fail(record);
      return;
    }
    freshCall_ = true;
  }
  if (!port_.IsCarrierOn()) return;
  services_.dialLineConnected.Set();
  if (Exchange(record)) {
    record.State = kStateDialAnswered;
  } else {
    record.State = kStateDialFailed;
    record.HostErrorText = LastError();
    HangUp();
  }
  WriteBack(record);
}

bool CDialBackup::InitialiseModem() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    port_.PurgeReceive();
    const int sent = port_.SendCommand(kInitCommand, true);
    if (sent == PortError || sent == PortTimeout) {
      SetLastError(kTransmitFailedText);
      return false;
    }
    std::string line;
    if (sent == PortOk && port_.ReadLine(timings_.initAnswer, line) == PortOk) {
      SetLastError(line);
      if (line.find("OK") != std::string::npos) return true;
    } else {
      SetLastError(kNoInitAnswerText);
    }
    if (stop_.IsSet()) return false;
  }
  return false;
}

bool CDialBackup::Dial() {
  if (Stopping()) {
    SetLastError(kShuttingDownText);
    return false;
  }
  const CMerchantParams params = services_.params.GetParams();
  const std::string command = "ATDT" + params.GetValue(kParamDialPrefix) + params.GetValue(kParamPhoneNumber);
  const int sent = port_.SendCommand(command, true);
  if (sent == PortError || sent == PortTimeout) {
    SetLastError(kTransmitFailedText);
    return false;
  }
  std::string line;
  if (sent != PortOk || port_.ReadLine(timings_.dialAnswer, line) != PortOk) {
    SetLastError(kNoDialAnswerText);
    return false;
  }
  if (line.find("CONNECT") != std::string::npos && port_.WaitForCarrier(timings_.carrierAfterConnect)) {
    return true;
  }
  for (const char* answer : kFailureAnswers) {
    if (line.find(answer) != std::string::npos) {
      SetLastError(line);
      return false;
    }
  }
  SetLastError(kFailedToConnectText);
  return false;
}

bool CDialBackup::WaitForEnq() {
  const auto deadline = Clock::now() + timings_.enqWait;
  for (;;) {
    if (port_.WaitForInputWhileCarrier(Left(deadline)) != PortOk) return false;
    while (port_.Read() > 0) {
      for (const char byte : port_.Received()) {
        if (byte == kLinkEnq) return true;
        WatchModemText(byte);
      }
    }
  }
}

bool CDialBackup::Exchange(CRequest& record) {
  const std::string frame = BuildDialRequestFrame(record.HostRequest);
  if (freshCall_) {
    freshCall_ = false;
    if (!WaitForEnq()) {
      SetLastError(kNoEnqText);
      return false;
    }
  }
  if (Stopping()) {
    SetLastError(kShuttingDownText);
    return false;
  }
  port_.Transmit(frame, kLinkTransmitLimit);
  SetLastError(kResponseTimeoutText);

  enum class Receive { kWaitingForStx, kCollecting, kChecking, kAcknowledged };
  Receive state = Receive::kWaitingForStx;
  std::string response;
  int sends = 1;
  // The answer has until just before the 35 s are up.
  const auto deadline = Clock::now() + timings_.response - milliseconds(1);
  for (;;) {
    if (Clock::now() >= deadline) return state == Receive::kAcknowledged;
    if (stop_.IsSet()) {
      SetLastError(kShuttingDownText);
      return false;
    }
    if (!port_.IsCarrierOn()) {
      SetLastError(kLostCarrierText);
      return false;
    }
    // A carrier that goes during the wait ends it at once; the check above then fails the exchange.
    if (port_.WaitForInputWhileCarrier(Left(deadline)) != PortOk) continue;
    port_.Read();
    const std::string arrived(port_.Received());
    bool purged = false;
    for (const char byte : arrived) {
      switch (state) {
        case Receive::kWaitingForStx:
          if (byte == kLinkStx) {
            response.assign(1, byte);
            state = Receive::kCollecting;
          } else if (byte == kLinkNak) {
            port_.PurgeReceive();
            purged = true;
            if (++sends > kMaxRequestSends) {
              SetLastError(kRetriesExceededText);
              return false;
            }
            port_.Transmit(frame, kLinkTransmitLimit);
          } else {
            WatchModemText(byte);
          }
          break;
        case Receive::kCollecting:
          if (response.size() >= kMaxAnswerFrame) {
            SetLastError(kAnswerTooLongText);
            return false;
          }
          response += byte;
          if (byte == kLinkEtx) state = Receive::kChecking;
          break;
        case Receive::kChecking:
          if (byte == LinkLrc(std::string_view(response).substr(1))) {
            port_.Transmit(std::string(1, kLinkAck), kLinkTransmitLimit);
            record.HostResponse = response.substr(1);
            state = Receive::kAcknowledged;
          } else {
            response.clear();
            port_.SleepOrStop(kBadLrcPause);
            port_.PurgeReceive();
            purged = true;
            port_.Transmit(std::string(1, kLinkNak), kLinkTransmitLimit);
            SetLastError(kBadLrcText);
            state = Receive::kWaitingForStx;
          }
          break;
        case Receive::kAcknowledged:
          if (byte == kLinkEot) return true;
          if (byte == kLinkStx) {
            response.assign(1, byte);
            state = Receive::kCollecting;
          } else {
            WatchModemText(byte);
          }
          break;
      }
      // What came with the bytes before a purge is thrown away with them.
      if (purged) break;
    }
  }
}

void CDialBackup::HangUp() {
  if (services_.dialLineConnected.IsSet()) services_.dialLineConnected.ResetEvent();
  port_.HangUp();
}

void CDialBackup::WatchModemText(char byte) {
  if (byte == '\r' || byte == '\n') {
    if (modemText_.find("NO CARRIER") != std::string::npos) port_.ReportNoCarrier();
    modemText_.clear();
    return;
  }
  if (modemText_.size() >= kMaxModemText) modemText_.erase(0, 1);
  modemText_ += byte;
}

void CDialBackup::WriteBack(const CRequest& record) {
  // The host thread may have given up on the record meanwhile (interfaces stopping):
  // its answer stands.
  services_.queue.UpdateByIdIfState(record.QueueId, kStateDialHandOver, record);
}

}  // namespace paxelle
