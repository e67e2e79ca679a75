#include "host/HostAddressCache.h"

namespace paxelle {

std::optional<sockaddr_in> CHostAddressCache::Find(const std::string& endpoint) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = addresses_.find(endpoint);
  if (found == addresses_.end()) return std::nullopt;
  return found->second;
}

void CHostAddressCache::Keep(const std::string& endpoint, const sockaddr_in& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  addresses_[endpoint] = address;
}

void CHostAddressCache::Forget(const std::string& endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  addresses_.erase(endpoint);
}

void CHostAddressCache::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  addresses_.clear();
}

}  // namespace paxelle
