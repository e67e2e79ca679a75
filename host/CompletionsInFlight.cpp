#include "host/CompletionsInFlight.h"

#include "common/Event.h"

#include <algorithm>

namespace paxelle {
namespace {

// How often a waiter looks at the stopping event besides being woken by an end.
constexpr auto kStopCheck = std::chrono::milliseconds(100);

}  // namespace

void CompletionsInFlight::Begin(const std::string& clientAddress) {
  std::lock_guard<std::mutex> lock(mutex_);
  addresses_.insert(clientAddress);
}

void CompletionsInFlight::End(const std::string& clientAddress) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = addresses_.find(clientAddress);
    if (found != addresses_.end()) addresses_.erase(found);
  }
  ended_.notify_all();
  if (changed_ != nullptr) changed_->Set();
}

bool CompletionsInFlight::Any() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !addresses_.empty();
}

bool CompletionsInFlight::WaitUntilIdle(const std::string& clientAddress, const Event& stopping,
                                        std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock<std::mutex> lock(mutex_);
  while (addresses_.count(clientAddress) != 0) {
    if (stopping.IsSet()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    ended_.wait_until(lock, std::min(deadline, now + kStopCheck));
  }
  return true;
}

}  // namespace paxelle
