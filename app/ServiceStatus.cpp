#include "app/ServiceStatus.h"

#include <time.h>

namespace paxelle {
namespace {

constexpr char kRetryQuestionEnd[] = "Retry?";

// The host's reason without the question asked after it.
std::string WithoutQuestion(std::string text) {
  if (text.ends_with(kRetryQuestionEnd)) text.resize(text.size() - (sizeof kRetryQuestionEnd - 1));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// CLOCK_MONOTONIC in microseconds, which the manager matches a reload against.
std::string MonotonicMicroseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::to_string(static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
}

}  // namespace

ServiceStatusOperator::ServiceStatusOperator(std::unique_ptr<IOperatorInterface> inner, ServiceNotifier notifier)
    : inner_(std::move(inner)), notifier_(std::move(notifier)) {}

void ServiceStatusOperator::NotifyReady() {
  if (!readyOwed_) return;
  readyOwed_ = false;
  Send("READY=1");
}

void ServiceStatusOperator::NotifyReloading() {
  readyOwed_ = true;
  Send("RELOADING=1\nMONOTONIC_USEC=" + MonotonicMicroseconds());
}

void ServiceStatusOperator::NotifyStopping() { Send("STOPPING=1"); }

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
    SendStatus(status);
    // The first attempt has ended: the server serves as far as it can.
    NotifyReady();
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

void ServiceStatusOperator::SendStatus(const std::string& status) {
  if (notifier_.Active()) Send("STATUS=" + status);
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
