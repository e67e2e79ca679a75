#include "client/ReplayGuard.h"

#include <openssl/sha.h>

namespace paxelle {

CReplayGuard::CReplayGuard(std::size_t capacity, SteadyNow now) : capacity_(capacity), now_(std::move(now)) {}

CReplayGuard::Fingerprint CReplayGuard::Of(std::string_view frame) {
  Fingerprint digest{};
  SHA256(reinterpret_cast<const unsigned char*>(frame.data()), frame.size(), digest.data());
  return digest;
}

bool CReplayGuard::Admit(const Fingerprint& frame) {
  const auto now = now_();
  MutexLock lock(mutex_);
  ForgetExpiredLocked(now);
  if (taken_.count(frame) != 0) return false;
  while (!order_.empty() && taken_.size() >= capacity_) {
    const auto& [when, oldest] = order_.front();
    const auto found = taken_.find(oldest);
    if (found != taken_.end() && found->second == when) taken_.erase(found);
    order_.pop_front();
  }
  taken_[frame] = now;
  order_.emplace_back(now, frame);
  return true;
}

void CReplayGuard::Settle(const Fingerprint& frame, bool approved) {
  MutexLock lock(mutex_);
  // An approved frame stays remembered, as one still in process is.
  if (!approved) taken_.erase(frame);
}

std::size_t CReplayGuard::Size() const {
  MutexLock lock(mutex_);
  return taken_.size();
}

void CReplayGuard::ForgetExpiredLocked(std::chrono::steady_clock::time_point now) {
  while (!order_.empty() && now - order_.front().first >= kReplayWindow) {
    const auto& [when, oldest] = order_.front();
    const auto found = taken_.find(oldest);
    if (found != taken_.end() && found->second == when) taken_.erase(found);
    order_.pop_front();
  }
  // Forgotten frames leave their place in the order behind; it never grows past
  // twice what is remembered.
  if (order_.size() > 2 * taken_.size() + 64) {
    std::erase_if(order_, [this](const auto& entry) REQUIRES(mutex_) {
      const auto found = taken_.find(entry.second);
      return found == taken_.end() || found->second != entry.first;
    });
  }
}

}  // namespace paxelle
