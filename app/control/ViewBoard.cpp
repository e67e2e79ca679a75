#include "app/control/ViewBoard.h"

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

ViewBoard::ViewBoard() { wakeFd_.Open(); }

void ViewBoard::StartBegins() {
  MutexLock lock(mutex_);
  status_.state = InterfacesState::kStarting;
  // Only a start shows the offline title: the reasons of the one before are gone.
  status_.reason.clear();
  stopNoted_ = false;
}

void ViewBoard::StopBegins() {
  MutexLock lock(mutex_);
  if (status_.state == InterfacesState::kRunning) status_.state = InterfacesState::kStopping;
}

void ViewBoard::SequenceEnds() {
  MutexLock lock(mutex_);
  status_.activity.clear();
  // A start that ends without a stop and without a reason has its interfaces
  // up; the first refresh follows within its period (and puts right a start
  // whose only message was an alarm that stopped nothing).
  if (status_.state == InterfacesState::kStarting && !stopNoted_) {
    status_.state = status_.reason.empty() ? InterfacesState::kRunning : InterfacesState::kStopped;
  }
}

void ViewBoard::StopNoted() {
  MutexLock lock(mutex_);
  status_.state = InterfacesState::kStopped;
  stopNoted_ = true;
}

void ViewBoard::SetActivity(const std::string& text) {
  MutexLock lock(mutex_);
  status_.activity = text;
}

void ViewBoard::SetReason(const std::string& text) {
  MutexLock lock(mutex_);
  status_.reason = text;
}

void ViewBoard::SetRunningTitle(const std::string& title, int requests, int lanes, const std::string& time) {
  MutexLock lock(mutex_);
  status_.state = InterfacesState::kRunning;
  status_.title = title;
  status_.requests = requests;
  status_.lanes = lanes;
  status_.refreshed = time;
}

void ViewBoard::SetTitle(const std::string& title) {
  MutexLock lock(mutex_);
  status_.title = title;
}

void ViewBoard::AddMessage(const std::string& time, const std::string& text) {
  MutexLock lock(mutex_);
  status_.messages.push_back({time, text});
  if (status_.messages.size() > kMessagesKept) status_.messages.erase(status_.messages.begin());
}

void ViewBoard::AddRow(const std::string& row) {
  {
    MutexLock lock(mutex_);
    rows_.push_back({++lastSequence_, row});
    if (rows_.size() > kRowsKept) rows_.pop_front();
  }
  wakeFd_.Signal();
}

void ViewBoard::NoteHostReached(bool reached) {
  MutexLock lock(mutex_);
  status_.hostReached = reached;
}

void ViewBoard::NoteDialCall(const std::string& outcome) {
  MutexLock lock(mutex_);
  status_.lastDialCall = outcome;
}

BoardStatus ViewBoard::Status() const {
  MutexLock lock(mutex_);
  return status_;
}

std::vector<BoardRow> ViewBoard::RowsAfter(std::uint64_t sequence) const {
  MutexLock lock(mutex_);
  std::vector<BoardRow> rows;
  for (const BoardRow& row : rows_) {
    if (row.sequence > sequence) rows.push_back(row);
  }
  return rows;
}

void ViewBoard::ClearWake() const { wakeFd_.Drain(); }

}  // namespace paxelle
