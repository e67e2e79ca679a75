#include "tools/hostsim/HostSimulator.h"

#include "tools/hostsim/AmountBehaviour.h"
#include "tools/hostsim/AnswerBuilder.h"

namespace paxelle::hostsim {

HostSimulator::HostSimulator(Journal* journal, WallClock clock) : journal_(journal), clock_(std::move(clock)) {}

SimReply HostSimulator::Handle(std::string_view message, SimLink link) {
  const SimMessage read = ReadSimMessage(message);
  if (journal_ != nullptr) journal_->Record(read, message, clock_(), link);
  switch (read.kind) {
    case MessageKind::kRequest: return HandleRequest(read);
    case MessageKind::kCompletion: return {SimReply::Action::kSend, BuildCompletionAck(message)};
    case MessageKind::kBatchInquiry:
      return {SimReply::Action::kSend, BuildInquiryAnswer(message, batches_.Totals(read.terminalKey))};
    case MessageKind::kBatchClose:
      return {SimReply::Action::kSend, BuildCloseAnswer(message, batches_.Close(read.terminalKey))};
    case MessageKind::kUnknown: break;
  }
  return {SimReply::Action::kSend, BuildFormatErrorAnswer(message)};
}

SimReply HostSimulator::HandleRequest(const SimMessage& request) {
  Outcome outcome = Outcome::kApproved;
  SimReply::Action action = SimReply::Action::kSend;
  switch (BehaviourForAmount(request.amount)) {
    case Behaviour::kNoAnswer: return {SimReply::Action::kNoAnswer, {}};
    case Behaviour::kCloseConnection: return {SimReply::Action::kCloseConnection, {}};
    case Behaviour::kGarbage: return {SimReply::Action::kSend, std::string(kGarbageAnswer)};
    case Behaviour::kStream: return {SimReply::Action::kStream, {}};
    case Behaviour::kDecline: outcome = Outcome::kDeclined; break;
    // A force reports a sale already made; there is nothing left to approve in part.
    case Behaviour::kPartialApprove: outcome = request.force ? Outcome::kApproved : Outcome::kPartiallyApproved; break;
    case Behaviour::kDelayedApprove: action = SimReply::Action::kSendAfterDelay; break;
    case Behaviour::kApprove: break;
  }

  // A partial approval only stands when the lane said it would take one.
  const bool counts = outcome == Outcome::kApproved ||
                      (outcome == Outcome::kPartiallyApproved && request.partialAllowed);
  if (counts) {
    batches_.Record(request.terminalKey, request.family, request.tranCode, ApprovedCents(request, outcome));
  }
  AnswerContext context;
  context.hostReference = nextReference_.fetch_add(1) % 10000;
  context.fallbackDateTime = FormatLocalTime("%y%m%d%H%M%S", clock_());
  return {action, BuildTransactionAnswer(request, outcome, context)};
}

}  // namespace paxelle::hostsim
