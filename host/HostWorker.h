// One record's trip to the host: connect with fail-over, exchange, parse, completion
// (or the hand-over to the dial link), and the write-back into the pending queue.
#pragma once

#include "common/Status.h"
#include "common/TimeLimits.h"
#include "config/MerchantParams.h"
#include "core/Request.h"
#include "host/HostEndpoints.h"
#include "host/HostTraffic.h"
#include "host/SequenceCounters.h"

#include <chrono>
#include <functional>
#include <string>

namespace paxelle {

class CHostLink;
class CServerContext;
struct CHostContext;

struct HostWorkerSettings {
  // Longest wait for the host's answer to a request or a completion.
  std::chrono::milliseconds exchangeTimeout{kHostExchangeLimit};
  // Told of every step the traffic view counts; may be empty.
  HostTrafficObserver observer;
  // Told whether the record's numbers could be saved; may be empty.
  std::function<void(bool saved)> numbersSaved;
};

// The connect time-out of merchant entry 18 ("IP CONNECT TIMEOUT", seconds); an
// entry that reads 0 counts as kHostConnectDefault.
milliseconds ConnectTimeout(const CMerchantParams& params);

// Connects `link` to `endpoint` within `timeout`. A failure carries the link's own
// text and code, or why the endpoint cannot be used.
Status ConnectToEndpoint(CHostLink& link, const HostEndpoint& endpoint, milliseconds timeout);

// Connects to the current endpoint of `endpoints`, then, after a fail-over, to the
// other one; when both fail it fails over once more so the next attempt starts on
// the other endpoint. A failure carries the last reason.
Status ConnectWithFailOver(CHostLink& link, HostEndpoints& endpoints, milliseconds timeout);

// True for the transactions the host expects a completion after.
bool NeedsCompletion(const CRequest& record);

class CHostWorker {
 public:
  // `record` is the worker's own copy (in State 2), its message built with the
  // numbers in `numbers`, which the worker saves before the message leaves;
  // `ticket` its entry in the server's HostSequenceRegistry, given back when the
  // work ends. `host` must outlive the worker.
  CHostWorker(CHostContext& host, CRequest record, NumberClaim numbers, int ticket, HostWorkerSettings settings);
  CHostWorker(const CHostWorker&) = delete;
  CHostWorker& operator=(const CHostWorker&) = delete;

  // Does the whole of the record's host work and writes the result into the
  // pending queue: the completion, where one is due, goes (or fails) before the
  // record is written back for its lane. Runs on its own thread; touches nothing
  // but the host context and what it owns. Waits for new work end at the
  // interfaces-stopping event; once a message has left, its completion runs to its
  // own time limits.
  void Run();

 private:
  enum class DialOutcome { kFinished, kStopped, kRecordGone };

  // Network exchange; `dialFallBack` sends the record to the dial link when no
  // endpoint can be reached.
  void ExchangeOverIp(bool dialFallBack);
  // The record's trip over the dial link, written back (or its ticket given back).
  void SendByDial();
  // No endpoint could be reached: the dial link when `dialFallBack`, else State 5
  // with `errorText`; the record is written back (or its ticket given back).
  void FinishUnconnected(bool dialFallBack, const std::string& errorText);
  DialOutcome HandOverToDial();
  // At the interfaces-stopping event: finishes the record from the dial link's result,
  // or answers it as shut down (written here; kStopped).
  DialOutcome AnswerStoppedHandOver();
  // Saves the message's numbers and marks the record sent. When the numbers cannot
  // be saved, the interfaces stop or the lane has gone, the record is answered (or
  // left to its session) and false returned: nothing may be sent.
  bool ReadyToSend();
  bool SaveNumbers();
  void SendCompletion(bool replyReceived);
  // Writes the record into the pending queue, where its session finds it.
  void Deliver();
  // Deliver(), then gives the ticket back.
  void WriteBack();
  void Notify(HostTrafficEvent event) const;

  CHostContext& host_;
  CServerContext& server_;
  CRequest record_;
  const NumberClaim numbers_;
  const int ticket_;
  const HostWorkerSettings settings_;
  const CMerchantParams params_;
};

}  // namespace paxelle
