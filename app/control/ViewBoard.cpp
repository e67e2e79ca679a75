#include "app/control/ViewBoard.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace paxelle {

const char* InterfacesStateName(InterfacesState state) {
  switch (state) {
    case InterfacesState::kStarting: return "starting";
    case InterfacesState::kRunning: return "running";
    case InterfacesState::kStopping: return "stopping";
    case InterfacesState::kStopped: return "stopped";
  }
  return "stopped";
}

ViewBoard::ViewBoard() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

ViewBoard::~ViewBoard() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void ViewBoard::StartBegins() {
  std::lock_guard lock(mutex_);
  status_.state = InterfacesState::kStarting;
  // Only a start shows the offline title: the reasons of the one before are gone.
  status_.reason.clear();
  stopNoted_ = false;
}

void ViewBoard::StopBegins() {
  std::lock_guard lock(mutex_);
  if (status_.state == InterfacesState::kRunning) status_.state = InterfacesState::kStopping;
}

void ViewBoard::SequenceEnds() {
  std::lock_guard lock(mutex_);
  status_.activity.clear();
  // A start that ends without a stop and without a reason has its interfaces
  // up; the first refresh follows within its period (and puts right a start
  // whose only message was an alarm that stopped nothing).
  if (status_.state == InterfacesState::kStarting && !stopNoted_) {
    status_.state = status_.reason.empty() ? InterfacesState::kRunning : InterfacesState::kStopped;
  }
}

void ViewBoard::StopNoted() {
  std::lock_guard lock(mutex_);
  status_.state = InterfacesState::kStopped;
  stopNoted_ = true;
}

void ViewBoard::SetActivity(const std::string& text) {
  std::lock_guard lock(mutex_);
  status_.activity = text;
}

void ViewBoard::SetReason(const std::string& text) {
  std::lock_guard lock(mutex_);
  status_.reason = text;
}

void ViewBoard::SetRunningTitle(const std::string& title, int requests, int lanes, const std::string& time) {
  std::lock_guard lock(mutex_);
  status_.state = InterfacesState::kRunning;
  status_.title = title;
  status_.requests = requests;
  status_.lanes = lanes;
  status_.refreshed = time;
}

void ViewBoard::SetTitle(const std::string& title) {
  std::lock_guard lock(mutex_);
  status_.title = title;
}

void ViewBoard::AddMessage(const std::string& time, const std::string& text) {
  std::lock_guard lock(mutex_);
  status_.messages.push_back({time, text});
  if (status_.messages.size() > kMessagesKept) status_.messages.erase(status_.messages.begin());
}

void ViewBoard::AddRow(const std::string& row) {
  {
    std::lock_guard lock(mutex_);
    rows_.push_back({++lastSequence_, row});
    if (rows_.size() > kRowsKept) rows_.pop_front();
  }
  const std::uint64_t one = 1;
  // Non-blocking: a counter at its limit still leaves the descriptor readable.
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void ViewBoard::NoteHostReached(bool reached) {
  std::lock_guard lock(mutex_);
  status_.hostReached = reached;
}

void ViewBoard::NoteDialCall(const std::string& outcome) {
  std::lock_guard lock(mutex_);
  status_.lastDialCall = outcome;
}

BoardStatus ViewBoard::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

std::vector<BoardRow> ViewBoard::RowsAfter(std::uint64_t sequence) const {
  std::lock_guard lock(mutex_);
  std::vector<BoardRow> rows;
  for (const BoardRow& row : rows_) {
    if (row.sequence > sequence) rows.push_back(row);
  }
  return rows;
}

void ViewBoard::ClearWake() const {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &count, sizeof count);
}

}  // namespace paxelle
