#include "client/ClientSession.h"

#include "client/ClientGuards.h"
#include "client/HexText.h"
#include "client/MessageCrypto.h"
#include "common/TrafficLog.h"
#include "core/MessageFrame.h"
#include "core/ServerContext.h"
#include "core/ResponseDocuments.h"
#include "core/ReturnCodes.h"
#include "host/HostResponseParser.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <thread>

namespace paxelle {
namespace {

constexpr std::size_t kReceiveChunk = 1023;

// Reply codes the session composes itself.
constexpr int kReplyGreeting = 0;
constexpr int kReplyLoginVerified = 2000;
constexpr int kReplyLoginFailed = 2002;
constexpr int kReplyGoingOffline = 2003;
constexpr int kReplyDisconnecting = 2004;
constexpr int kReplyMaxConnections = 2006;
constexpr int kReplyPasswordFailed = 2009;
constexpr int kReplyChallengeFailed = 2010;
constexpr int kReplyUpgradeRequired = 2020;
constexpr int kReplyQueued = 0;

constexpr char kGreetingText[] = "CONNECTED to OPX_IP! -- Password ?";
constexpr char kLoginVerifiedText[] = "Login Verified.";
constexpr char kLoginFailedText[] = "Login Failed! -- Disconnecting.";
constexpr char kPasswordFailedText[] = "Password Failed!(Client/Server) -- Disconnecting.";
constexpr char kChallengeFailedText[] = "Password Failed!(Challenge/Response) -- Disconnecting.";
constexpr char kUpgradeRequiredText[] = "Requires OPXClientX Upgrade to 3.xx or Above. - Failed! -- Disconnecting.";
constexpr char kMaxConnectionsText[] = "REFUSED - Max Connections (Failed)";
constexpr char kGoingOfflineText[] = "System going off line - please try again later...";
constexpr char kDisconnectingText[] = "****Disconnecting****";
constexpr char kBatchInProgressText[] = "Batch Settlement in Progress.";
constexpr char kTooManyPendingText[] = "Too many requests pending on this connection - request refused.";
constexpr char kDuplicateText[] = "Duplicate request refused - the first may have been processed.";
// The first number of the interim reply; lanes read it as a protocol constant.
constexpr int kQueuedReplyTag = 45;

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

bool IsHostResultState(RequestState state) {
  return state == kStateParsed || state == kStateReceivedUnparsed;
}

// A monitor's name for how a request ended; a fixed text, never the lane's.
std::string OutcomeOf(const CRequest& record, bool hostResult) {
  if (hostResult) return record.Approved ? "approved" : record.AdminSuccess ? "success" : "declined";
  char code[16];
  std::snprintf(code, sizeof code, "%06d", record.ReturnCode);
  return code;
}

void CountAnswer(CServerContext& server, const CRequest& record, bool hostResult) {
  server.metrics->RequestAnswered(TranCodeWord(record.TranCodeId), OutcomeOf(record, hostResult));
}

}  // namespace

CClientSession::CClientSession(const ClientLinkParts& parts, const ClientSessionSettings& settings)
    : parts_(parts),
      server_(parts.server),
      settings_(settings),
      log_(parts.server.log),
      laneLog_(parts.server.log),
      wake_(std::make_shared<WakeSignal>()) {
  // A zero wait would turn the bounded receive into a blocking one.
  settings_.pollInterval = std::max(settings_.pollInterval, std::chrono::milliseconds(1));
  settings_.drainStep = std::max(settings_.drainStep, std::chrono::milliseconds(1));
  SetWakeSignal(wake_);
}

CClientSession::~CClientSession() = default;

void CClientSession::Serve() {
  Run(false);
}

void CClientSession::Refuse() {
  Run(true);
}

void CClientSession::Run(bool refused) {
  fetched_.clear();
  char address[64];
  std::snprintf(address, sizeof address, "%s:%04d", PeerAddressText().c_str(), SocketNumber());
  clientAddress_ = address;
  laneLog_.SetAddress(clientAddress_);

  if (IsGoingOffline()) {
    SendReply(kReplyGoingOffline, 'E', kGoingOfflineText, "");
    return;
  }
  peer_ = PeerAddressText();
  // An address whose logins are being slowed may not hold many connections
  // that have not logged in: each one holds a thread and a place under the limit.
  if (!parts_.guards.logins.BeginLogin(peer_)) return;
  loggingIn_ = true;
  log_.Log("Socket Connect from %s", clientAddress_.c_str());

  std::array<unsigned char, kChallengeBytes> challenge{};
  if (!parts_.crypto.GenerateRandom(challenge.size(), challenge.data())) {
    log_.Log("Random Buffer Generator Failed!!!");
    challenge.fill(0);
  }
  Greet(challenge);

  std::string replyValue;
  std::string rest;
  const auto loginLimit = refused ? std::min(settings_.loginLimit, settings_.refusedLoginLimit) : settings_.loginLimit;
  const LoginOutcome outcome = Login(challenge, loginLimit, replyValue, rest);
  PauseBeforeLoginAnswer(outcome);
  if (outcome == LoginOutcome::kVerified && !refused) {
    std::string text = kLoginVerifiedText;
    text += kRs;
    text += replyValue;
    text += kUs;
    SendReply(kReplyLoginVerified, 'S', text, "");
    EndLogin();
    idleDeadline_ = Clock::now() + settings_.idleLimit;
    RequestLoop(rest);
  } else {
    AnswerLogin(outcome, refused);
  }
  EndLogin();
  AbandonPending();
}

void CClientSession::PauseBeforeLoginAnswer(LoginOutcome outcome) {
  // A wrong password, or a wrong answer to the challenge, is a guess.
  const bool failed = outcome == LoginOutcome::kPasswordMismatch || outcome == LoginOutcome::kChallengeMismatch;
  if (!failed && outcome != LoginOutcome::kVerified) return;
  bool episodeStarted = false;
  const auto delay = parts_.guards.logins.AnswerDelay(peer_, failed, episodeStarted);
  if (episodeStarted) {
    log_.Log("Login failures from %s: too many within a minute - its login answers are slowed (up to 30 s) "
             "until a correct login.",
             peer_.c_str());
  }
  const auto until = Clock::now() + delay;
  while (Clock::now() < until && !IsGoingOffline()) {
    std::this_thread::sleep_for(std::min<Clock::duration>(settings_.pollInterval, until - Clock::now()));
  }
}

void CClientSession::EndLogin() {
  if (!loggingIn_) return;
  loggingIn_ = false;
  parts_.guards.logins.EndLogin(peer_);
}

void CClientSession::Greet(const std::array<unsigned char, kChallengeBytes>& challenge) {
  std::string text = kGreetingText;
  text += parts_.crypto.PublicKeyText();
  text += kRs;
  text += BytesToHex(std::span<const unsigned char>(challenge));
  text += kUs;
  SendReply(kReplyGreeting, 'S', text, "");
}

LoginOutcome CClientSession::Login(const std::array<unsigned char, kChallengeBytes>& challenge,
                                   std::chrono::milliseconds limit, std::string& replyValue, std::string& rest) {
  const auto start = Clock::now();
  LoginMessageBuffer buffer;
  char chunk[kReceiveChunk];
  while (buffer.Current() == LoginMessageBuffer::State::kIncomplete && IsAlive()) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    if (elapsed >= limit) return LoginOutcome::kFailed;
    const auto wait = std::min(settings_.pollInterval, limit - elapsed);
    const int received = Receive(chunk, sizeof chunk, wait);
    if (received > 0) {
      const auto state = buffer.Append(std::string_view(chunk, static_cast<std::size_t>(received)));
      if (state == LoginMessageBuffer::State::kComplete) break;
      if (state == LoginMessageBuffer::State::kOverflow) return LoginOutcome::kFailed;
    } else if (received < 0) {
      std::this_thread::sleep_for(kSessionErrorPause);
    }
    if (IsGoingOffline()) {
      SendReply(kReplyGoingOffline, 'E', kGoingOfflineText, "");
      return LoginOutcome::kGoingOffline;
    }
  }
  if (buffer.Current() != LoginMessageBuffer::State::kComplete) return LoginOutcome::kFailed;
  rest = buffer.TakeRest();

  const CMerchantParams params = server_.params.GetParams();
  LoginPolicy policy;
  policy.passwordRequired = params.IsYes(kParamUsePassword);
  policy.password = params.GetValue(kParamPassword);
  const ChallengeCipher cipher = [this](std::vector<unsigned char>& bytes, bool alternate) {
    return parts_.crypto.EncryptChallenge(bytes.data(), bytes.size(), alternate);
  };
  const LoginVerdict verdict = CheckLoginMessage(buffer.Message(), challenge, policy, cipher);
  if (verdict.encryptionFailed) log_.Log("Encryption failed on Random Block!!!");
  replyValue = verdict.replyValue;
  return verdict.outcome;
}

void CClientSession::AnswerLogin(LoginOutcome outcome, bool refused) {
  switch (outcome) {
    case LoginOutcome::kVerified:
      if (refused) SendReply(kReplyMaxConnections, 'E', kMaxConnectionsText, "");
      break;
    case LoginOutcome::kFailed:
      SendReply(kReplyLoginFailed, 'E', kLoginFailedText, "");
      break;
    case LoginOutcome::kPasswordMismatch:
      SendReply(kReplyPasswordFailed, 'E', kPasswordFailedText, "");
      break;
    case LoginOutcome::kChallengeMismatch:
      SendReply(kReplyChallengeFailed, 'E', kChallengeFailedText, "");
      break;
    case LoginOutcome::kUpgradeRequired:
      SendReply(kReplyUpgradeRequired, 'E', kUpgradeRequiredText, "");
      break;
    case LoginOutcome::kGoingOffline:
      break;  // the login has sent its reply already
  }
}

void CClientSession::RequestLoop(const std::string& firstBytes) {
  message_.clear();
  // Whatever the client sent right behind its login message is its first request.
  Accumulate(firstBytes);
  bool leave = false;
  if (!firstBytes.empty() && !IsAlive()) {
    LaneGone();
    leave = true;
  }
  char chunk[kReceiveChunk];
  while (!leave) {
    const int received = Receive(chunk, sizeof chunk, settings_.pollInterval);
    if (received > 0) {
      Accumulate(std::string_view(chunk, static_cast<std::size_t>(received)));
    } else {
      if (received < 0) std::this_thread::sleep_for(kSessionErrorPause);
      DeliverResponses();
      RemoveDelivered();
      if (IsAlive() && Clock::now() >= idleDeadline_) {
        Drain();
        break;
      }
    }
    if (!IsAlive()) {
      LaneGone();
      break;
    }
    if (IsGoingOffline()) {
      SendReply(kReplyGoingOffline, 'E', kGoingOfflineText, "");
      break;
    }
  }
  if (IsAlive()) SendReply(kReplyDisconnecting, 'E', kDisconnectingText, "");
}

void CClientSession::Accumulate(std::string_view bytes) {
  for (const char byte : bytes) {
    if (byte == kEtx) {
      HandleMessage(message_);
      idleDeadline_ = Clock::now() + settings_.idleLimit;
      message_.clear();
      continue;
    }
    if (message_.size() >= kMaxClientMessageBytes) {
      HandleMessage(message_);
      idleDeadline_ = Clock::now() + settings_.idleLimit;
      message_.clear();
    }
    message_.push_back(byte);
  }
}

void CClientSession::HandleMessage(const std::string& text) {
  CRequest record;
  record.Parse(text, server_);
  record.ClientAddress = clientAddress_;
  laneLog_.Request(record.RawRequest);

  if (record.Disposition == kDispositionError) {
    SendFramed(record.BuildErrorResponse(server_));
    CountAnswer(server_, record, false);
    return;
  }
  if (record.Disposition == kDispositionAbort) {
    record.State = kStateWaitingForHost;
  } else if (const SessionAnswer* answer = TranCodeInfoOf(record.TranCodeId).sessionAnswer) {
    SendFramed(answer->build(record, server_));
    server_.metrics->RequestAnswered(TranCodeWord(record.TranCodeId), answer->outcome);
    return;
  }

  if (record.Disposition == kDispositionProcess && AtPendingLimit()) {
    // One lane must not fill the queue for all: the request gets its one final
    // answer now, and nothing of it is queued.
    log_.Log("Request refused for %s: %zu requests already pending on this connection.", clientAddress_.c_str(),
             settings_.pendingLimit);
    record.ReturnCode = kRcHostError;
    record.HostErrorText = kTooManyPendingText;
    record.Disposition = kDispositionError;
    SendFramed(record.BuildErrorResponse(server_));
    CountAnswer(server_, record, false);
    return;
  }

  PendingQueue& queue = server_.queue;
  std::optional<CReplayGuard::Fingerprint> fingerprint;
  if (record.Disposition == kDispositionProcess) {
    // An exact copy of a frame taken lately is a capture sent again: it would
    // charge the card a second time.
    fingerprint = CReplayGuard::Of(text);
    if (!parts_.guards.replays.Admit(*fingerprint)) {
      log_.Log("Duplicate request refused for %s: an exact copy was taken within the last 30 minutes.",
               clientAddress_.c_str());
      record.ReturnCode = kRcHostError;
      record.HostErrorText = kDuplicateText;
      record.Disposition = kDispositionError;
      SendFramed(record.BuildErrorResponse(server_));
      CountAnswer(server_, record, false);
      return;
    }
  }
  if (record.Disposition == kDispositionProcess || record.Disposition == kDispositionBatchClose) {
    char text[64];
    std::snprintf(text, sizeof text, "Queued:%03d:%03d", kQueuedReplyTag, queue.ActiveCount());
    SendReply(kReplyQueued, 'S', text, record.UserTraceData);
    record.State = kStateWaitingForHost;
  }
  // The waker may outlive this session inside the queue: it holds the signal, not the session.
  PendingQueue::DeliveryWaker waker = [wake = std::shared_ptr<const WakeSignal>(wake_)] { wake->Signal(); };
  const int result = record.Disposition == kDispositionBatchClose ? queue.EnqueueExclusive(record, std::move(waker))
                                                                  : queue.Enqueue(record, std::move(waker));
  if (result != PendingQueue::kAccepted) {
    if (fingerprint) parts_.guards.replays.Settle(*fingerprint, false);
    if (record.Disposition != kDispositionAbort) SendReply(kRcBatchInProgress, 'E', kBatchInProgressText, "");
    return;
  }
  if (fingerprint) fingerprints_.emplace(record.QueueId, *fingerprint);
  pendingIds_.push_back(record.QueueId);
  if (record.Disposition != kDispositionProcess) uncountedIds_.push_back(record.QueueId);
}

bool CClientSession::AtPendingLimit() const {
  const std::size_t uncounted = static_cast<std::size_t>(std::count_if(
      uncountedIds_.begin(), uncountedIds_.end(),
      [this](int id) { return std::find(pendingIds_.begin(), pendingIds_.end(), id) != pendingIds_.end(); }));
  return pendingIds_.size() - uncounted >= settings_.pendingLimit;
}

void CClientSession::DeliverResponses() {
  if (pendingIds_.empty()) return;
  PendingQueue& queue = server_.queue;
  queue.CollectByIds(pendingIds_, fetched_);
  for (CRequest& record : fetched_) {
    std::string frame;
    switch (record.State) {
      case kStateAborted:
        record.ReturnCode = kRcUserAbort;
        frame = record.BuildErrorResponse(server_);
        break;
      case kStateTimedOut:
        record.ReturnCode = kRcTimeout;
        record.Disposition = kDispositionError;
        frame = record.BuildErrorResponse(server_);
        break;
      case kStateHostFailed:
        record.ReturnCode = kRcHostError;
        record.Disposition = kDispositionError;
        frame = record.BuildErrorResponse(server_);
        break;
      case kStateFinishedLocally:
        frame = record.BuildErrorResponse(server_);
        break;
      case kStateReceivedUnparsed:
        ParseHostResponse(record, parts_.batch, server_);
        frame = record.WireResponse;
        break;
      case kStateParsed:
        frame = record.WireResponse;
        break;
      default:
        continue;  // still being worked on
    }
    const int sent = SendFramed(frame);
    CountAnswer(server_, record, IsHostResultState(record.State));
    if (IsHostResultState(record.State) && sent < 0 && record.Approved) {
      log_.Log("Unable to deliver approved response to Client for %s!\n", clientAddress_.c_str());
    }
    if (const auto found = fingerprints_.find(record.QueueId); found != fingerprints_.end()) {
      // A copy of a request that ended without an approval may be sent again.
      parts_.guards.replays.Settle(found->second, IsHostResultState(record.State) && record.Approved);
      fingerprints_.erase(found);
    }
    record.State = kStateDelivered;
    queue.UpdateById(record.QueueId, record);
  }
  fetched_.clear();
}

void CClientSession::RemoveDelivered() {
  if (pendingIds_.empty()) return;
  PendingQueue& queue = server_.queue;
  queue.CollectByIds(pendingIds_, fetched_);
  std::vector<int> stillQueued;
  for (const CRequest& record : fetched_) {
    if (record.State != kStateDelivered) {
      stillQueued.push_back(record.QueueId);
      continue;
    }
    if (record.TranCodeId == kBatchClose) {
      queue.RemoveBatchById(record.QueueId);
    } else {
      queue.RemoveById(record.QueueId);
    }
  }
  fetched_.clear();
  // Ids the queue no longer holds (it is emptied when the interfaces restart)
  // owe the client nothing any more; keeping them would only stall the drain.
  std::erase_if(pendingIds_, [&stillQueued](int id) {
    return std::find(stillQueued.begin(), stillQueued.end(), id) == stillQueued.end();
  });
  std::erase_if(uncountedIds_, [this](int id) {
    return std::find(pendingIds_.begin(), pendingIds_.end(), id) == pendingIds_.end();
  });
}

void CClientSession::LaneGone() {
  // What has not left for the host yet is not sent at all: nobody would receive the
  // answer, and a cashier who tries again would be charged twice.
  PendingQueue& queue = server_.queue;
  for (const int id : pendingIds_) {
    if (queue.AbandonUnsent(id)) {
      log_.Log("Request %d not sent to WorldPay - the lane at %s has disconnected.", id, clientAddress_.c_str());
    }
  }
  Drain();
}

void CClientSession::Drain() {
  if (pendingIds_.empty()) return;
  const auto deadline = Clock::now() + settings_.drainLimit;
  for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    // A record reaching a deliverable state cuts the pause short.
    if (wake_->WaitFor(std::min(settings_.drainStep, left))) wake_->Clear();
    DeliverResponses();
    RemoveDelivered();
    if (pendingIds_.empty() || IsGoingOffline()) return;
  }
  AbandonPending();
}

void CClientSession::AbandonPending() {
  if (pendingIds_.empty()) return;
  PendingQueue& queue = server_.queue;
  queue.CollectByIds(pendingIds_, fetched_);
  for (const CRequest& record : fetched_) {
    if (record.State == kStateParsed && record.Approved) {
      log_.Log("Unable to deliver approved response to Client for %s!\n", clientAddress_.c_str());
    }
    if (record.TranCodeId == kBatchClose) {
      queue.RemoveBatchById(record.QueueId);
    } else {
      queue.RemoveById(record.QueueId);
    }
  }
  fetched_.clear();
  pendingIds_.clear();
  uncountedIds_.clear();
}

int CClientSession::SendFramed(const std::string& frame) {
  return SendFramedLogged(frame, frame);
}

int CClientSession::SendFramedLogged(const std::string& frame, const std::string& logged) {
  const int sent = Send(frame);
  laneLog_.Sent(logged, sent < 0);
  return sent;
}

int CClientSession::SendReply(int code, char statusLetter, const std::string& text,
                              const std::string& userTraceData) {
  CommandResponse response;
  response.origin = "Server";
  response.code = SixDigitCode(code);
  response.statusLetter = statusLetter;
  response.text = text;
  response.userTraceData = userTraceData;
  const std::string frame = FrameMessage(BuildCommandDocument(response), false);
  if (code != kReplyLoginFailed) return SendFramed(frame);
  // A login that never completed is mostly a client that went away: the log
  // records it as a warning; the client still gets the frame as it is.
  std::string logged = frame;
  ReplaceAll(logged, "Error", "Warning");
  return SendFramedLogged(frame, logged);
}

}  // namespace paxelle
