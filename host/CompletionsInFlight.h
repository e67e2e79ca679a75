// The lanes whose sale has been answered while its completion is still on its way
// to the host. The host must see a lane's completion before that lane's next
// message, and a batch close only after every completion has gone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

namespace paxelle {

class Event;

class CompletionsInFlight {
 public:
  // `changed` (which must outlive this object) is set whenever a completion ends, so
  // the polling thread looks at the queue again at once; may be null.
  explicit CompletionsInFlight(Event* changed = nullptr) : changed_(changed) {}
  CompletionsInFlight(const CompletionsInFlight&) = delete;
  CompletionsInFlight& operator=(const CompletionsInFlight&) = delete;

  void Begin(const std::string& clientAddress);
  void End(const std::string& clientAddress);
  // True while any completion is in flight.
  bool Any() const;
  // Waits until no completion for `clientAddress` is in flight. False when `stopping`
  // is set first, or `limit` passes (a completion's own waits are bounded, and they
  // end when `stopping` is set).
  bool WaitUntilIdle(const std::string& clientAddress, const Event& stopping, std::chrono::milliseconds limit);

 private:
  Event* const changed_;
  mutable std::mutex mutex_;
  std::condition_variable ended_;
  std::multiset<std::string> addresses_;
};

// Holds one lane's completion in flight for its lifetime.
class CompletionInFlight {
 public:
  CompletionInFlight(CompletionsInFlight* completions, std::string clientAddress)
      : completions_(completions), clientAddress_(std::move(clientAddress)) {
    if (completions_ != nullptr) completions_->Begin(clientAddress_);
  }
  ~CompletionInFlight() {
    if (completions_ != nullptr) completions_->End(clientAddress_);
  }
  CompletionInFlight(const CompletionInFlight&) = delete;
  CompletionInFlight& operator=(const CompletionInFlight&) = delete;

 private:
  CompletionsInFlight* const completions_;
  const std::string clientAddress_;
};

}  // namespace paxelle
