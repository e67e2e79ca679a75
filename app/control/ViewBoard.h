// What the views of a running server show, kept where the control socket can
// read it: the status the window's title and the service's status line show,
// the last operator messages and the newest traffic rows. The operator's
// thread writes it; the control socket's thread reads it.
#pragma once

#include "common/EventFd.h"
#include "common/Mutex.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace paxelle {

enum class InterfacesState { kStarting, kRunning, kStopping, kStopped };

// A fixed name of the state, as the control socket and `paxelle status` show it.
const char* InterfacesStateName(InterfacesState state);

struct BoardMessage {
  std::string time;  // "%H:%M:%S", local
  std::string text;  // card data masked
};

struct BoardRow {
  std::uint64_t sequence = 0;  // 1 for the first row the server ever showed
  std::string text;            // as the window's list shows it, with its stamp
};

// One moment's status.
struct BoardStatus {
  InterfacesState state = InterfacesState::kStarting;
  std::string title;     // the window's title now
  std::string reason;    // why the interfaces of the latest start are down
  std::string activity;  // the wait box's line while a start or stop runs
  int requests = 0;
  int lanes = 0;
  std::string refreshed;  // the time of the last status refresh, "%H:%M:%S"
  std::optional<bool> hostReached;  // whether the last connection to the host was taken
  std::string lastDialCall;         // how the last dial call ended; empty: none yet
  std::vector<BoardMessage> messages;  // oldest first
};

class ViewBoard {
 public:
  static constexpr std::size_t kMessagesKept = 10;
  static constexpr std::size_t kRowsKept = 50;  // as many as the window's list holds at most

  ViewBoard();
  ViewBoard(const ViewBoard&) = delete;
  ViewBoard& operator=(const ViewBoard&) = delete;

  // The operator's side; each returns at once.
  void StartBegins();           // the offline title: a start begins
  void StopBegins();            // a stop sequence shows its wait box
  void SequenceEnds();          // a wait box closed
  void StopNoted();             // the interfaces have stopped
  void SetActivity(const std::string& text);
  void SetReason(const std::string& text);
  void SetRunningTitle(const std::string& title, int requests, int lanes, const std::string& time);
  void SetTitle(const std::string& title);
  void AddMessage(const std::string& time, const std::string& text);
  void AddRow(const std::string& row);
  void NoteHostReached(bool reached);
  void NoteDialCall(const std::string& outcome);

  // The reader's side.
  BoardStatus Status() const;
  // The rows after `sequence`, oldest first (at most kRowsKept).
  std::vector<BoardRow> RowsAfter(std::uint64_t sequence) const;
  // Readable once rows were added since the last ClearWake; never blocks a writer.
  int WakeDescriptor() const { return wakeFd_.Fd(); }
  void ClearWake() const;

 private:
  mutable Mutex mutex_;
  BoardStatus status_ GUARDED_BY(mutex_);
  std::deque<BoardRow> rows_ GUARDED_BY(mutex_);
  std::uint64_t lastSequence_ GUARDED_BY(mutex_) = 0;
  bool stopNoted_ GUARDED_BY(mutex_) = false;  // within the latest start
  EventFd wakeFd_;
};

}  // namespace paxelle
