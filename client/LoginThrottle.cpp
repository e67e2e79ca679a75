#include "client/LoginThrottle.h"

#include <algorithm>

namespace paxelle {

CLoginThrottle::CLoginThrottle(LoginThrottleLimits limits, SteadyNow now) : limits_(limits), now_(std::move(now)) {}

bool CLoginThrottle::BeginLogin(const std::string& address) {
  MutexLock lock(mutex_);
  Address& entry = addresses_[address];
  if (entry.delay.count() > 0 && entry.pending >= limits_.pendingWhileSlowed) return false;
  ++entry.pending;
  return true;
}

void CLoginThrottle::EndLogin(const std::string& address) {
  MutexLock lock(mutex_);
  const auto found = addresses_.find(address);
  if (found == addresses_.end()) return;
  if (found->second.pending > 0) --found->second.pending;
  Age(found, now_());
}

std::chrono::milliseconds CLoginThrottle::AnswerDelay(const std::string& address, bool failed,
                                                      bool& episodeStarted) {
  episodeStarted = false;
  const auto now = now_();
  MutexLock lock(mutex_);
  Address& entry = addresses_[address];
  if (now - entry.lastFailure >= limits_.window) {
    entry.recentFailures = 0;
    entry.delay = std::chrono::milliseconds(0);
  }
  // A slowed address waits for every answer, a correct password's too: an
  // answer that came at once would tell a guesser the password was right.
  const std::chrono::milliseconds wait = entry.delay;
  if (!failed) {
    entry.recentFailures = 0;
    entry.delay = std::chrono::milliseconds(0);
    return wait;
  }
  if (entry.delay.count() == 0 && (entry.recentFailures == 0 || now - entry.firstFailure >= limits_.window)) {
    entry.firstFailure = now;
    entry.recentFailures = 0;
  }
  ++entry.recentFailures;
  entry.lastFailure = now;
  if (entry.delay.count() > 0) {
    entry.delay = std::min(entry.delay * 2, limits_.longestDelay);
  } else if (entry.recentFailures >= limits_.failures) {
    entry.delay = limits_.firstDelay;
    episodeStarted = true;
  }
  return wait;
}

void CLoginThrottle::Age(std::map<std::string, Address>::iterator entry, std::chrono::steady_clock::time_point now) {
  Address& address = entry->second;
  if (now - address.lastFailure >= limits_.window) {
    address.recentFailures = 0;
    address.delay = std::chrono::milliseconds(0);
  }
  if (address.pending == 0 && address.recentFailures == 0 && address.delay.count() == 0) addresses_.erase(entry);
}

}  // namespace paxelle
