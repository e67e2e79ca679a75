#include "app/control/ViewOperator.h"

#include "app/TrafficView.h"
#include "common/CardDataMask.h"

namespace paxelle {
namespace {

constexpr char kRetryQuestionEnd[] = "Retry?";

// One line of the operator's text: its CR and LF line breaks as blanks.
std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    if (c == '\r' || c == '\n') {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += c;
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

}  // namespace

ViewOperator::ViewOperator(std::unique_ptr<IOperatorInterface> inner, ViewBoard& board, WallClock clock)
    : inner_(std::move(inner)), board_(board), clock_(std::move(clock)) {}

void ViewOperator::Note(const std::string& text) {
  // The texts are the server's own, but a host's failure text is inside some:
  // nothing reaches a view that the log would not show.
  board_.AddMessage(FormatLocalTime("%H:%M:%S", clock_()), MaskCardData(OneLine(text)));
}

void ViewOperator::ShowMessage(const std::string& text) {
  Note(text);
  board_.SetReason(MaskCardData(OneLine(text)));
  inner_->ShowMessage(text);
}

void ViewOperator::ShowNotice(const std::string& text) {
  Note(text);
  inner_->ShowNotice(text);
}

bool ViewOperator::AskYesNo(OperatorQuestion question, const std::string& text) {
  Note(text);
  if (question == OperatorQuestion::kRetryHostStart) {
    std::string reason = OneLine(text);
    if (reason.ends_with(kRetryQuestionEnd)) reason.resize(reason.size() - (sizeof kRetryQuestionEnd - 1));
    while (!reason.empty() && reason.back() == ' ') reason.pop_back();
    board_.SetReason(MaskCardData(reason));
  }
  return inner_->AskYesNo(question, text);
}

void ViewOperator::ShowWait() {
  // The first wait box outside a start is a stop's.
  if (++waitDepth_ == 1 && !starting_) board_.StopBegins();
  inner_->ShowWait();
}

void ViewOperator::SetWaitText(const std::string& text) {
  board_.SetActivity(text);
  inner_->SetWaitText(text);
}

void ViewOperator::CloseWait() {
  if (waitDepth_ > 0 && --waitDepth_ == 0) {
    starting_ = false;
    board_.SequenceEnds();
  }
  inner_->CloseWait();
}

void ViewOperator::ShowOfflineTitle() {
  starting_ = true;
  board_.StartBegins();
  board_.SetTitle(kOfflineTitle);
  inner_->ShowOfflineTitle();
}

void ViewOperator::SetStatusTitle(const std::string& title, int requests, int sockets) {
  board_.SetRunningTitle(title, requests, sockets, FormatLocalTime("%H:%M:%S", clock_()));
  inner_->SetStatusTitle(title, requests, sockets);
}

void ViewOperator::NoteInterfacesStopped() {
  board_.StopNoted();
  inner_->NoteInterfacesStopped();
}

void ViewOperator::AddTrafficRow(const std::string& row) {
  board_.AddRow(row);
  inner_->AddTrafficRow(row);
}

}  // namespace paxelle
