#include "host/HostWorker.h"

#include "common/ProcessEvents.h"
#include "common/TrafficLog.h"
#include "config/ParamStore.h"
#include "core/HostSequenceRegistry.h"
#include "core/PendingQueue.h"
#include "core/TranCodes.h"
#include "host/HostLink.h"
#include "host/HostRequestBuilder.h"
#include "host/HostResponseParser.h"

#include <utility>

namespace paxelle {
namespace {

constexpr int kDefaultConnectTimeoutSeconds = 3;
constexpr auto kDialPollInterval = std::chrono::milliseconds(250);
constexpr auto kDialRetryPause = std::chrono::milliseconds(1000);

// Transport methods of merchant entry 14.
constexpr int kTransportIpWithDialBackup = 1;
constexpr int kTransportDialOnly = 2;

int Milliseconds(std::chrono::milliseconds duration) {
  return static_cast<int>(duration.count());
}

}  // namespace

int ConnectTimeoutMs(const CMerchantParams& params) {
  const int seconds = params.GetNumber(kParamConnectTimeout);
  return (seconds > 0 ? seconds : kDefaultConnectTimeoutSeconds) * 1000;
}

bool ConnectToEndpoint(CHostLink& link, const HostEndpoint& endpoint, int timeoutMs, std::string& errorText) {
  const int port = PortNumber(endpoint);
  if (port == 0) {
    errorText = "Invalid host port '" + endpoint.port + "' for '" + endpoint.host + "'.";
    return false;
  }
  if (link.Connect(endpoint.host, port, timeoutMs)) return true;
  errorText = link.LastErrorText();
  return false;
}

bool ConnectWithFailOver(CHostLink& link, int timeoutMs, std::string& errorText) {
  HostEndpoints& endpoints = GetHostEndpoints();
  HostEndpoint endpoint = endpoints.Current();
  if (ConnectToEndpoint(link, endpoint, timeoutMs, errorText)) return true;
  endpoint = endpoints.FailOver(endpoint);
  if (ConnectToEndpoint(link, endpoint, timeoutMs, errorText)) return true;
  endpoints.FailOver(endpoint);
  return false;
}

bool NeedsCompletion(const CRequest& record) {
  if (record.ForceCompletion) return true;
  switch (record.TranCodeId) {
    case kCreditSale:
    case kCreditReturn:
    case kCreditVoiceAuth:
    case kCreditPreAuth:
    case kCreditAuthOnly:
    case kCreditPreAuthCapture:
    case kCreditFsaSale:
    case kDebitSale:
    case kDebitReturn:
    case kDebitPreAuth:
    case kDebitPreAuthCapture:
    case kEbtFoodSale:
    case kEbtFoodReturn:
    case kEbtCashSale:
    case kEbtVoucher:
    case kEmvSale:
    case kEmvReturn:
    case kEmvVoiceAuth:
      return true;
    default:
      return false;
  }
}

CHostWorker::CHostWorker(CRequest record, int ticket, HostWorkerSettings settings)
    : record_(std::move(record)),
      ticket_(ticket),
      settings_(std::move(settings)),
      params_(GetParamStore().GetParams()) {}

void CHostWorker::Run() {
  if (record_.TranCodeId == kEmvParamDownload) {
    // The parameters are built in: the answer is made here without an exchange.
    record_.State = kStateParsed;
    ParseHostResponse(record_);
    WriteBack();
    return;
  }
  const int method = params_.GetNumber(kParamTransportMethod);
  bool dialFallBack = false;
  if (method == kTransportIpWithDialBackup || method == kTransportDialOnly) {
    if (method == kTransportDialOnly || DialLineConnectedEvent().IsSet()) {
      // A stopped hand-over has written its record, and one whose session went away
      // has none to write.
      if (HandOverToDial() == DialOutcome::kFinished) {
        WriteBack();
      } else {
        GetHostSequenceRegistry().Remove(ticket_);
      }
      return;
    }
    dialFallBack = method == kTransportIpWithDialBackup;
  }
  ExchangeOverIp(dialFallBack);
}

void CHostWorker::ExchangeOverIp(bool dialFallBack) {
  const int connectTimeout = ConnectTimeoutMs(params_);
  std::string errorText;
  {
    CHostLink link;
    if (!ConnectWithFailOver(link, connectTimeout, errorText)) {
      link.Close();
      if (dialFallBack) {
        if (HandOverToDial() == DialOutcome::kFinished) {
          WriteBack();
        } else {
          GetHostSequenceRegistry().Remove(ticket_);
        }
        return;
      }
      record_.State = kStateHostFailed;
      record_.HostErrorText = errorText;
      Log("RESPONSE from WORLDPAY INTERFACE ->[%s] for %s", errorText.c_str(), record_.ClientAddress.c_str());
      WriteBack();
      return;
    }

    bool requestSent = false;
    bool replyReceived = false;
    if (link.SetRequest(record_)) {
      Notify(HostTrafficEvent::kSendingIp);
      if (link.Exchange(Milliseconds(settings_.exchangeTimeout))) {
        requestSent = replyReceived = true;
        record_.HostResponse = link.Response();
        Log("RESPONSE from WORLDPAY ->[%s] for %s", "{Truncated}", record_.ClientAddress.c_str());
        record_.State = kStateParsed;
        ParseHostResponse(record_);
      } else if (link.TimedOut()) {
        requestSent = true;
        record_.State = kStateTimedOut;
      } else {
        record_.State = kStateHostFailed;
        record_.HostErrorText = link.LastErrorText();
      }
    } else {
      // Only a record without a host message gets here; nothing can be sent for it.
      record_.State = kStateHostFailed;
      record_.HostErrorText = "No host request to send.";
    }
    if (record_.State == kStateHostFailed) {
      Log("RESPONSE from WORLDPAY INTERFACE (No Reversal Attempt)->[%s] for %s", record_.HostErrorText.c_str(),
          record_.ClientAddress.c_str());
    }
    link.Close();
    if (replyReceived) Notify(HostTrafficEvent::kReceivedIp);

    if (requestSent) {
      SendCompletion(replyReceived);
    } else {
      // A completion would confirm a request the host never saw.
      Log("No Completion Sent on this Transaction for %s", record_.ClientAddress.c_str());
    }
  }
  WriteBack();
}

CHostWorker::DialOutcome CHostWorker::HandOverToDial() {
  PendingQueue& queue = GetPendingQueue();
  Event& stopping = InterfacesStoppingEvent();
  const int id = record_.QueueId;
  bool retryAllowed = DialLineConnectedEvent().IsSet();

  record_.State = kStateDialHandOver;
  record_.DialRetry = retryAllowed ? 1 : 0;
  if (!queue.UpdateById(id, record_)) return DialOutcome::kRecordGone;
  Notify(HostTrafficEvent::kSendingDial);

  DialOutcome outcome = DialOutcome::kStopped;
  while (!stopping.Wait(kDialPollInterval)) {
    CRequest current;
    if (!queue.FindById(id, current)) {
      outcome = DialOutcome::kRecordGone;
      break;
    }
    if (current.State == kStateDialAnswered) {
      record_ = std::move(current);
      record_.State = kStateReceivedUnparsed;  // the session parses it
      outcome = DialOutcome::kFinished;
      break;
    }
    if (current.State != kStateDialFailed) continue;
    record_ = std::move(current);
    if (!retryAllowed) {
      record_.State = kStateHostFailed;  // the dial link has left its HostErrorText
      outcome = DialOutcome::kFinished;
      break;
    }
    retryAllowed = false;
    record_.DialRetry = 0;
    if (stopping.Wait(kDialRetryPause)) break;
    record_.ClearHostResult();
    record_.State = kStateDialHandOver;
    if (!queue.UpdateById(id, record_)) {
      outcome = DialOutcome::kRecordGone;
      break;
    }
    Notify(HostTrafficEvent::kSendingDial);
  }
  if (outcome == DialOutcome::kStopped) outcome = AnswerStoppedHandOver();
  Notify(HostTrafficEvent::kReceivedDial);
  return outcome;
}

CHostWorker::DialOutcome CHostWorker::AnswerStoppedHandOver() {
  // Nobody answers a record left handed over once the interfaces stop, and the lane
  // would wait for good: it gets the dial link's shutdown text, unless the dial link
  // has just finished it. The dial link writes only while the record is handed over.
  PendingQueue& queue = GetPendingQueue();
  const int id = record_.QueueId;
  for (;;) {
    CRequest current;
    if (!queue.FindById(id, current)) return DialOutcome::kRecordGone;
    switch (current.State) {
      case kStateDialAnswered:
        record_ = std::move(current);
        record_.State = kStateReceivedUnparsed;
        return DialOutcome::kFinished;
      case kStateDialFailed:
        record_ = std::move(current);
        record_.State = kStateHostFailed;
        return DialOutcome::kFinished;
      case kStateDialHandOver: {
        current.State = kStateHostFailed;
        current.HostErrorText = "Dial Backup Server Shutting Down.";
        if (queue.UpdateByIdIfState(id, kStateDialHandOver, current)) return DialOutcome::kStopped;
        break;  // the dial link wrote just now: read its result
      }
      default:
        return DialOutcome::kStopped;
    }
  }
}

void CHostWorker::SendCompletion(bool replyReceived) {
  const std::string& address = record_.ClientAddress;
  if (!NeedsCompletion(record_)) {
    Log("No Completion Sent on this Transaction for %s", address.c_str());
    return;
  }
  CHostLink link;
  std::string errorText;
  if (!ConnectWithFailOver(link, ConnectTimeoutMs(params_), errorText)) {
    Log("Failed to Connect Sending Completion for %s", address.c_str());
    return;
  }
  // The completion is built from the request as it was sent and answered; only the
  // copy that carries it loses the host result.
  CRequest completion = record_;
  const std::string text = BuildCompletionRequest(record_, replyReceived);
  completion.ClearHostResult();
  completion.HostRequest = text;
  if (link.SetRequest(completion)) link.Exchange(Milliseconds(settings_.exchangeTimeout));
  const char* status = replyReceived ? "COMPLETED" : "REPLY NOT RECVD";
  Log("Completion [%s] Sent on this Transaction for %s", status, address.c_str());
  link.Close();
}

void CHostWorker::WriteBack() {
  if (!GetPendingQueue().UpdateById(record_.QueueId, record_) && record_.Approved) {
    Log("Unable to deliver approved response to Client for %s!\n", record_.ClientAddress.c_str());
  }
  GetHostSequenceRegistry().Remove(ticket_);
}

void CHostWorker::Notify(HostTrafficEvent event) const {
  if (settings_.observer) settings_.observer(event);
}

}  // namespace paxelle
