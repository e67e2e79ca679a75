#include "app/HeadlessOperator.h"

#include "app/ServiceNotify.h"
#include "app/TrafficView.h"

namespace paxelle {

HeadlessOperator::HeadlessOperator(std::ostream& out, std::ostream& err, Pause pause, LogSink log,
                                   HeadlessPolicy policy)
    : out_(out), err_(err), pause_(std::move(pause)), policy_(policy), log_(std::move(log)) {}

// A message box stands for something that stops the server or its interfaces;
// a notice for something it works around.
void HeadlessOperator::ShowMessage(const std::string& text) {
  PrintError(text, MessagePriority::kError);
  log_(text);
}

void HeadlessOperator::ShowNotice(const std::string& text) { PrintError(text, MessagePriority::kWarning); }

bool HeadlessOperator::AskYesNo(OperatorQuestion question, const std::string& text) {
  log_(text);
  if (question == OperatorQuestion::kStopWithClients) {
    PrintError(text, MessagePriority::kWarning);
    PrintError("Answered Yes: the server is stopping.", MessagePriority::kInfo);
    return true;
  }
  PrintError(text, MessagePriority::kError);  // the host's start failed
  if (retriesAnswered_ >= policy_.retryLimit) {
    const std::string answer = "Answered No after " + std::to_string(policy_.retryLimit) + " retries.";
    PrintError(answer, MessagePriority::kError);
    log_(answer);
    return false;
  }
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(policy_.retryInterval).count();
  PrintError("Retrying in " + std::to_string(seconds) + " s (" + std::to_string(retriesAnswered_ + 1) +
                 " of " + std::to_string(policy_.retryLimit) + ").",
             MessagePriority::kInfo);
  if (!pause_(policy_.retryInterval)) {
    PrintError("Answered No: the server was asked to stop or restart.", MessagePriority::kInfo);
    return false;
  }
  ++retriesAnswered_;
  return true;
}

void HeadlessOperator::ShowWait() { retriesAnswered_ = 0; }

void HeadlessOperator::SetWaitText(const std::string& text) { PrintError(text, MessagePriority::kInfo); }

void HeadlessOperator::CloseWait() {}

void HeadlessOperator::ShowOfflineTitle() {
  shownCounts_.reset();
  if (offlineShown_) return;
  offlineShown_ = true;
  PrintTitle(kOfflineTitle);
}

void HeadlessOperator::SetStatusTitle(const std::string& title, int requests, int sockets) {
  const std::pair counts{requests, sockets};
  if (shownCounts_ == counts) return;
  shownCounts_ = counts;
  offlineShown_ = false;
  PrintTitle(title);
}

void HeadlessOperator::NoteInterfacesStopped() { ShowOfflineTitle(); }

void HeadlessOperator::AddTrafficRow(const std::string& row) {
  out_ << row << '\n';
  out_.flush();
}

void HeadlessOperator::PrintError(const std::string& text, MessagePriority priority) {
  if (policy_.journal) {
    // The journal names the program itself; a line break would split the entry.
    err_ << '<' << static_cast<int>(priority) << '>' << StatusValue(text) << '\n';
    err_.flush();
    return;
  }
  std::string lines = "paxelle: ";
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines += '\n';
    } else {
      lines += text[i];
    }
  }
  while (!lines.empty() && lines.back() == '\n') lines.pop_back();
  err_ << lines << '\n';
  err_.flush();
}

void HeadlessOperator::PrintTitle(const std::string& title) {
  out_ << title << '\n';
  out_.flush();
}

}  // namespace paxelle
