// The simulated host's decisions, free of sockets: journals each received message,
// chooses its answer by layout and amount, and keeps the batch totals.
#pragma once

#include "common/Clock.h"
#include "tools/hostsim/BatchTotals.h"
#include "tools/hostsim/Journal.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace paxelle::hostsim {

// What the connection does after a message: send `text` now or after the delay,
// send nothing and keep reading, close without an answer, or stream bytes that are
// no answer at all.
struct SimReply {
  enum class Action { kSend, kSendAfterDelay, kNoAnswer, kCloseConnection, kStream };
  Action action = Action::kSend;
  std::string text;
};

class HostSimulator {
 public:
  // `journal` may be null (nothing journaled); when given it must outlive the simulator.
  // `clock` dates the journal lines and the references of undated requests.
  explicit HostSimulator(Journal* journal, WallClock clock = SystemNow);
  HostSimulator(const HostSimulator&) = delete;
  HostSimulator& operator=(const HostSimulator&) = delete;

  // Decides the reply to one received message (without its length bytes). Approved
  // transactions count in their terminal's batch; a batch close answers the totals and
  // starts a new batch. Safe to call from several threads at once.
  // `link` tells the journal which side received it.
  SimReply Handle(std::string_view message, SimLink link = SimLink::kNetwork);
  // The journal, or null.
  Journal* GetJournal() const { return journal_; }
  // The time the journal dates its lines with.
  std::time_t Now() const { return clock_(); }

 private:
  SimReply HandleRequest(const SimMessage& request);

  Journal* journal_;
  WallClock clock_;
  BatchBook batches_;
  std::atomic<std::uint32_t> nextReference_{1};
};

}  // namespace paxelle::hostsim
