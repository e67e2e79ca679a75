#include "host/HostWorker.h"

#include <chrono>

#include "common/LogText.h"
#include "core/ReturnCodes.h"
#include "core/TranCodes.h"
#include "host/HostContext.h"
#include "host/HostLink.h"
#include "host/HostRequestBuilder.h"
#include "host/HostResponseParser.h"

#include <chrono>
#include <utility>

namespace paxelle {
namespace {

// A failure text may carry what the host or a modem sent: shown with its control
// characters as text, cut to 1 KiB.
std::string LoggedHostText(std::string_view text) { return ClipLoggedText(EscapeControls(text)); }

}  // namespace

milliseconds ConnectTimeout(const CMerchantParams& params) {
  const int entry = params.GetNumber(kParamConnectTimeout);
  return entry > 0 ? seconds(entry) : kHostConnectDefault;
}

Status ConnectToEndpoint(CHostLink& link, const HostEndpoint& endpoint, milliseconds timeout) {
  const int port = PortNumber(endpoint);
  if (port == 0) return Status::Failure("Invalid host port '" + endpoint.port + "' for '" + endpoint.host + "'.");
  if (link.Connect(endpoint.host, port, timeout)) return Status::Ok();
  return Status::Failure(link.LastErrorText(), link.LastErrorCode());
}

Status ConnectWithFailOver(CHostLink& link, HostEndpoints& endpoints, milliseconds timeout) {
  HostEndpoint endpoint = endpoints.Current();
  if (Status connected = ConnectToEndpoint(link, endpoint, timeout); connected.ok()) return connected;
  endpoint = endpoints.FailOver(endpoint);
  Status connected = ConnectToEndpoint(link, endpoint, timeout);
  if (!connected.ok()) endpoints.FailOver(endpoint);
  return connected;
}

bool NeedsCompletion(const CRequest& record) {
  return record.ForceCompletion || TranCodeInfoOf(record.TranCodeId).needsCompletion;
}

CHostWorker::CHostWorker(CHostContext& host, CRequest record, NumberClaim numbers, int ticket,
                         HostWorkerSettings settings)
    : host_(host),
      server_(host.server),
      record_(std::move(record)),
      numbers_(std::move(numbers)),
      ticket_(ticket),
      settings_(std::move(settings)),
      params_(host.server.params.GetParams()) {}

void CHostWorker::Run() {
  if (record_.TranCodeId == kEmvParamDownload) {
    // The parameters are built in: the answer is made here without an exchange.
    record_.State = kStateParsed;
    ParseHostResponse(record_, host_.batch, server_);
    WriteBack();
    return;
  }
  const int method = params_.GetNumber(kParamTransportMethod);
  bool dialFallBack = false;
  if (method == kTransportIpWithDialBackup || method == kTransportDialOnly) {
    if (method == kTransportDialOnly || server_.dialLineConnected.IsSet()) {
      SendByDial();
      return;
    }
    dialFallBack = method == kTransportIpWithDialBackup;
  }
  ExchangeOverIp(dialFallBack);
}

void CHostWorker::ExchangeOverIp(bool dialFallBack) {
  CHostLink link(host_.security, server_, &host_.sessions, HostLinkWaits::kEndAtInterfacesStop, &host_.addresses);
  const Status connected = ConnectWithFailOver(link, host_.endpoints, ConnectTimeout(params_));
  server_.metrics->HostReached(connected.ok());
  if (!connected.ok()) {
    link.Close();
    FinishUnconnected(dialFallBack, connected.message());
    return;
  }
  if (!ReadyToSend()) return;

  bool requestSent = false;
  bool replyReceived = false;
  if (link.SetRequest(record_)) {
    Notify(HostTrafficEvent::kSendingIp);
    const auto exchangeStarted = std::chrono::steady_clock::now();
    const bool exchanged = link.Exchange(settings_.exchangeTimeout);
    server_.metrics->HostExchange(std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - exchangeStarted),
                                  exchanged);
    if (exchanged) {
      requestSent = replyReceived = true;
      record_.HostResponse = link.Response();
      server_.log.Log("RESPONSE from WORLDPAY ->[%s] for %s", "{Truncated}", record_.ClientAddress.c_str());
      record_.State = kStateParsed;
      ParseHostResponse(record_, host_.batch, server_);
    } else if (link.TimedOut()) {
      requestSent = true;
      record_.State = kStateTimedOut;
      server_.log.Log("RESPONSE from WORLDPAY INTERFACE (Reply Not Received)->[%s] for %s",
                      LoggedHostText(link.LastErrorText()).c_str(), record_.ClientAddress.c_str());
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
    server_.log.Log("RESPONSE from WORLDPAY INTERFACE (No Reversal Attempt)->[%s] for %s",
                    LoggedHostText(record_.HostErrorText).c_str(), record_.ClientAddress.c_str());
  }
  link.Close();
  if (replyReceived) Notify(HostTrafficEvent::kReceivedIp);

  if (requestSent) {
    // Before the lane has its answer: a crash can then leave an unanswered lane,
    // never an approval the host did not see confirmed.
    SendCompletion(replyReceived);
  } else {
    // A completion would confirm a request the host never saw.
    server_.log.Log("No Completion Sent on this Transaction for %s", record_.ClientAddress.c_str());
  }
  WriteBack();
}

CHostWorker::DialOutcome CHostWorker::HandOverToDial() {
  PendingQueue& queue = server_.queue;
  Event& stopping = server_.interfacesStopping;
  const int id = record_.QueueId;
  bool retryAllowed = server_.dialLineConnected.IsSet();

  record_.State = kStateDialHandOver;
  if (!queue.UpdateById(id, record_)) return DialOutcome::kRecordGone;
  Notify(HostTrafficEvent::kSendingDial);

  DialOutcome outcome = DialOutcome::kStopped;
  while (!stopping.Wait(kDialHandOverPoll)) {
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
  PendingQueue& queue = server_.queue;
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

void CHostWorker::SendByDial() {
  if (!ReadyToSend()) return;
  // A stopped hand-over has written its record, and one whose session went away
  // has none to write.
  if (HandOverToDial() == DialOutcome::kFinished) {
    WriteBack();
  } else {
    server_.registry.Remove(ticket_);
  }
}

void CHostWorker::FinishUnconnected(bool dialFallBack, const std::string& errorText) {
  if (dialFallBack) {
    SendByDial();
    return;
  }
  record_.State = kStateHostFailed;
  record_.HostErrorText = errorText;
  server_.log.Log("RESPONSE from WORLDPAY INTERFACE ->[%s] for %s", LoggedHostText(errorText).c_str(),
                  record_.ClientAddress.c_str());
  WriteBack();
}

bool CHostWorker::ReadyToSend() {
  if (!SaveNumbers()) return false;
  if (server_.interfacesStopping.IsSet()) {
    // Nothing has left yet: sent now, its answer would be cut short by the stop.
    record_.HostRequest.clear();
    record_.State = kStateFinishedLocally;
    record_.ReturnCode = kRcShuttingDown;
    WriteBack();
    return false;
  }
  if (server_.queue.MarkSent(record_.QueueId)) return true;
  // The lane has gone (its session has cancelled the record, or ended): nobody would
  // receive the answer, and a cashier who retries would be charged twice.
  server_.log.Log("Request not sent to WorldPay - the lane has gone for %s", record_.ClientAddress.c_str());
  server_.registry.Remove(ticket_);
  return false;
}

bool CHostWorker::SaveNumbers() {
  if (!numbers_.HoldsNumbers()) return true;
  const bool saved = host_.counters.Commit(numbers_).ok();  // its failures logged by the counters
  if (settings_.numbersSaved) settings_.numbersSaved(saved);
  if (saved) return true;
  // Never sent: after a restart the same number would reach the host again.
  record_.HostRequest.clear();
  record_.State = kStateHostFailed;
  record_.HostErrorText = kNumbersNotSavedText;
  WriteBack();
  return false;
}

void CHostWorker::SendCompletion(bool replyReceived) {
  const std::string& address = record_.ClientAddress;
  if (!NeedsCompletion(record_)) {
    server_.log.Log("No Completion Sent on this Transaction for %s", address.c_str());
    return;
  }
  // The request has left: the host must get its completion, so a stop of the
  // interfaces does not cut this connection's waits short.
  CHostLink link(host_.security, server_, &host_.sessions, HostLinkWaits::kRunToLimits, &host_.addresses);
  const Status connected = ConnectWithFailOver(link, host_.endpoints, ConnectTimeout(params_));
  server_.metrics->HostReached(connected.ok());
  if (!connected.ok()) {
    server_.log.Log("Failed to Connect Sending Completion for %s", address.c_str());
    server_.metrics->Completion(false);
    return;
  }
  // The completion is built from the request as it was sent and answered; only the
  // copy that carries it loses the host result.
  CRequest completion = record_;
  const std::string text = BuildCompletionRequest(record_, replyReceived, HostMessageSourcesOf(host_));
  completion.ClearHostResult();
  completion.HostRequest = text;
  // The completion counts as sent once the host took it; its answer is not awaited for that.
  const bool sent = link.SetRequest(completion) && (link.Exchange(settings_.exchangeTimeout) ||
                                                    link.TimedOut());
  server_.metrics->Completion(sent);
  const char* status = replyReceived ? "COMPLETED" : "REPLY NOT RECVD";
  server_.log.Log("Completion [%s] Sent on this Transaction for %s", status, address.c_str());
  link.Close();
}

void CHostWorker::Deliver() {
  if (!server_.queue.UpdateById(record_.QueueId, record_) && record_.Approved) {
    server_.log.Log("Unable to deliver approved response to Client for %s!\n", record_.ClientAddress.c_str());
  }
}

void CHostWorker::WriteBack() {
  Deliver();
  server_.registry.Remove(ticket_);
}

void CHostWorker::Notify(HostTrafficEvent event) const {
  if (settings_.observer) settings_.observer(event);
}

}  // namespace paxelle
