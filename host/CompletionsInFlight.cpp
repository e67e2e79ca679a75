#include "host/CompletionsInFlight.h"

#include "common/Event.h"

namespace paxelle {

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
  if (changed_ != nullptr) changed_->Set();
}

bool CompletionsInFlight::IsBusy(const std::string& clientAddress) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return addresses_.count(clientAddress) != 0;
}

bool CompletionsInFlight::Any() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !addresses_.empty();
}

}  // namespace paxelle
