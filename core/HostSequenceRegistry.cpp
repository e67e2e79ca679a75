#include "core/HostSequenceRegistry.h"

#include <algorithm>

namespace paxelle {

int HostSequenceRegistry::Add() {
  MutexLock lock(mutex_);
  // Looked at under the lock: a stop that sets the event and then counts tickets either
  // sees this ticket or makes this call return 0, never neither.
  if (stopping_.IsSet()) return 0;
  if (numbers_.size() >= static_cast<size_t>(kMaxNumber)) return 0;
  int number = lastNumber_;
  do {
    number = number >= kMaxNumber ? 1 : number + 1;
  } while (std::find(numbers_.begin(), numbers_.end(), number) != numbers_.end());
  numbers_.push_back(number);
  lastNumber_ = number;
  return number;
}

bool HostSequenceRegistry::Remove(int number) {
  MutexLock lock(mutex_);
  const auto found = std::find(numbers_.begin(), numbers_.end(), number);
  if (found == numbers_.end()) return false;
  numbers_.erase(found);
  if (numbers_.empty()) numbers_.shrink_to_fit();
  return true;
}

int HostSequenceRegistry::Count() const {
  MutexLock lock(mutex_);
  return static_cast<int>(numbers_.size());
}

void HostSequenceRegistry::Clear() {
  MutexLock lock(mutex_);
  numbers_.clear();
  numbers_.shrink_to_fit();
}

}  // namespace paxelle
