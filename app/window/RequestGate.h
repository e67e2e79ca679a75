// Keeps the start and stop sequences from nesting: they and the operator's
// modal boxes dispatch events while they wait, so a close, a signal, the setup
// command or the host thread's close request can arrive inside one. Such a
// request waits here and runs once the sequence or box has ended.
#pragma once

#include <deque>
#include <functional>

namespace paxelle {

class RequestGate {
 public:
  // `schedule` arranges for RunWaiting to be called soon from the event loop
  // (never from inside the caller's stack).
  explicit RequestGate(std::function<void()> schedule) : schedule_(std::move(schedule)) {}
  RequestGate(const RequestGate&) = delete;
  RequestGate& operator=(const RequestGate&) = delete;

  // Runs `request` now (inside a busy scope) when nothing is busy, else queues it.
  void Request(std::function<void()> request);
  // The same, but ahead of every waiting request (a stop signal).
  void RequestFirst(std::function<void()> request);
  // Forgets the waiting requests (the process is ending).
  void Drop() { waiting_.clear(); }
  // Marks a sequence or a modal box as running; nests.
  void Enter() { ++busy_; }
  // Ends one; when the last ends with requests waiting, schedules them.
  void Leave();
  bool Busy() const { return busy_ > 0; }
  std::size_t Waiting() const { return waiting_.size(); }

  // Runs the waiting requests in arrival order while nothing is busy.
  void RunWaiting();

  // A busy scope.
  class Scope {
   public:
    explicit Scope(RequestGate& gate) : gate_(gate) { gate_.Enter(); }
    ~Scope() { gate_.Leave(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    RequestGate& gate_;
  };

 private:
  std::function<void()> schedule_;
  int busy_ = 0;
  std::deque<std::function<void()>> waiting_;
};

}  // namespace paxelle
