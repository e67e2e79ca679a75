// One POS lane's session on its own connection thread: greeting and login,
// then the request loop that answers requests at once or queues them for the
// host and delivers their results, and the bounded wait for results owed to a
// lane that has gone.
#pragma once

#include "client/LaneLog.h"
#include "client/LoginExchange.h"
#include "client/SessionSettings.h"
#include "client/SocketConnection.h"
#include "core/RequestList.h"

#include "client/ReplayGuard.h"

#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace paxelle {

class CTrafficLog;

class CClientSession final : public CSocketConnection {
 public:
  // `parts` must outlive the session.
  CClientSession(const ClientLinkParts& parts, const ClientSessionSettings& settings);
  ~CClientSession() override;

  // The whole session for a connection within the limit; returns when it is
  // over, with none of its records left in the pending queue.
  void Serve() override;
  // As Serve up to the login; a verified login is answered "REFUSED - Max
  // Connections (Failed)" (2006) and the session ends.
  void Refuse() override;

  // Sends a finished frame and logs it ("[%s] sent to %s", with " ** FAILED ** "
  // when the send failed). Returns the Send result.
  int SendFramed(const std::string& frame);
  // Sends the whole-document command response (origin "Server", the code as
  // six digits, empty extra block) framed in clear. Returns the Send result.
  int SendReply(int code, char statusLetter, const std::string& text, const std::string& userTraceData);

  // "address:socket" of this session, as every record and log line carries it.
  const std::string& ClientAddress() const { return clientAddress_; }

 private:
  using Clock = std::chrono::steady_clock;

  void Run(bool refused);
  // Greets the client with the challenge and sends the public key.
  void Greet(const std::array<unsigned char, kChallengeBytes>& challenge);
  // Reads and judges the login message; `rest` receives the bytes that came
  // after its ETX.
  LoginOutcome Login(const std::array<unsigned char, kChallengeBytes>& challenge, std::chrono::milliseconds limit,
                     std::string& replyValue, std::string& rest);
  // Answers every login outcome but a verified login on a connection within the limit.
  void AnswerLogin(LoginOutcome outcome, bool refused);
  // Records the login's outcome with the address's failures and waits as long as
  // the address is being slowed (bounded; going offline cuts it short).
  void PauseBeforeLoginAnswer(LoginOutcome outcome);
  // The connection no longer counts as one not logged in.
  void EndLogin();
  void RequestLoop(const std::string& firstBytes);
  // Splits received bytes into messages at ETX (or at the size limit).
  void Accumulate(std::string_view bytes);
  void HandleMessage(const std::string& text);
  // Whether this connection already has its limit of counted records waiting.
  bool AtPendingLimit() const;
  void DeliverResponses();
  void RemoveDelivered();
  void Drain();
  // The lane's connection has closed: its records not yet sent are cancelled, then
  // the rest drained.
  void LaneGone();
  // Removes, unanswered, every record this session still holds.
  void AbandonPending();
  int SendFramedLogged(const std::string& frame, const std::string& logged);

  const ClientLinkParts parts_;
  CServerContext& server_;
  ClientSessionSettings settings_;
  CTrafficLog& log_;
  // The lane's own text (requests, replies) goes to the log through this only.
  CLaneLog laneLog_;
  std::shared_ptr<WakeSignal> wake_;
  std::string clientAddress_;
  Clock::time_point idleDeadline_{};
  std::vector<int> pendingIds_;
  // The ids in pendingIds_ that the pending limit does not count (aborts, the batch close).
  std::vector<int> uncountedIds_;
  RequestList fetched_;
  std::string message_;
  std::string peer_;        // the client's address, without the socket
  bool loggingIn_ = false;  // counted by the login throttle until EndLogin
  // The frames of this connection's requests bound for the host, by QueueId,
  // until their outcome is known to the replay guard.
  std::map<int, CReplayGuard::Fingerprint> fingerprints_;
};

}  // namespace paxelle
