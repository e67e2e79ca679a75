#include "app/ServiceStatus.h"

namespace paxelle {
namespace {

constexpr char kRetryQuestionEnd[] = "Retry?";

// The host's reason without the question asked after it.
std::string WithoutQuestion(std::string text) {
  if (text.ends_with(kRetryQuestionEnd)) text.resize(text.size() - (sizeof kRetryQuestionEnd - 1));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

ServiceStatusOperator::ServiceStatusOperator(std::unique_ptr<IOperatorInterface> inner, ServiceNotifier notifier)
    : inner_(std::move(inner)), notifier_(std::move(notifier)) {}

void ServiceStatusOperator::NotifyReady() { Send("READY=1"); }

void ServiceStatusOperator::NotifyReloading() { Send("RELOADING=1"); }

void ServiceStatusOperator::ShowMessage(const std::string& text) {
  inner_->ShowMessage(text);
  reason_ = StatusValue(text);
  SendStatus(reason_);
}

void ServiceStatusOperator::ShowNotice(const std::string& text) { inner_->ShowNotice(text); }

bool ServiceStatusOperator::AskYesNo(OperatorQuestion question, const std::string& text) {
  if (question == OperatorQuestion::kRetryHostStart) {
    const std::string status = StatusValue(text);
    reason_ = WithoutQuestion(status);
    const auto allowance = std::chrono::duration_cast<std::chrono::microseconds>(kRetryAllowance);
    SendStatus(status, "EXTEND_TIMEOUT_USEC=" + std::to_string(allowance.count()));
  }
  return inner_->AskYesNo(question, text);
}

void ServiceStatusOperator::ShowWait() { inner_->ShowWait(); }

void ServiceStatusOperator::SetWaitText(const std::string& text) {
  inner_->SetWaitText(text);
  SendStatus(StatusValue(text));
}

void ServiceStatusOperator::CloseWait() {
  inner_->CloseWait();
  // A start that gave up without a stop sequence still leaves its reason.
  if (!reason_.empty()) SendStatus(StoppedStatus());
}

void ServiceStatusOperator::ShowOfflineTitle() {
  inner_->ShowOfflineTitle();
  // Only a start shows this title: the reasons of the one before are gone.
  reason_.clear();
  shownCounts_.reset();
}

void ServiceStatusOperator::SetStatusTitle(const std::string& title, int requests, int sockets) {
  inner_->SetStatusTitle(title, requests, sockets);
  const std::pair counts{requests, sockets};
  if (shownCounts_ == counts) return;
  shownCounts_ = counts;
  SendStatus("Interfaces running: #Requests " + std::to_string(requests) + ", #Sockets " +
             std::to_string(sockets));
}

void ServiceStatusOperator::NoteInterfacesStopped() {
  inner_->NoteInterfacesStopped();
  shownCounts_.reset();
  SendStatus(StoppedStatus());
}

void ServiceStatusOperator::AddTrafficRow(const std::string& row) { inner_->AddTrafficRow(row); }

void ServiceStatusOperator::SendStatus(const std::string& status, const std::string& more) {
  if (!notifier_.Active()) return;
  std::string assignments = "STATUS=" + status;
  if (!more.empty()) assignments += "\n" + more;
  Send(assignments);
}

void ServiceStatusOperator::Send(const std::string& assignments) {
  if (notifier_.Send(assignments) || failureShown_) return;
  failureShown_ = true;
  inner_->ShowNotice(notifier_.LastErrorText());
}

std::string ServiceStatusOperator::StoppedStatus() const {
  return reason_.empty() ? "Interfaces Stopped." : "Interfaces Stopped: " + reason_;
}

}  // namespace paxelle
