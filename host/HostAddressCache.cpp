#include "host/HostAddressCache.h"

namespace paxelle {

std::optional<sockaddr_in> CHostAddressCache::Find(const std::string& endpoint) const {
  MutexLock lock(mutex_);
  const auto found = addresses_.find(endpoint);
  if (found == addresses_.end()) return std::nullopt;
  return found->second;
}

void CHostAddressCache::Keep(const std::string& endpoint, const sockaddr_in& address) {
  MutexLock lock(mutex_);
  addresses_[endpoint] = address;
}

void CHostAddressCache::Forget(const std::string& endpoint) {
  MutexLock lock(mutex_);
  addresses_.erase(endpoint);
}

void CHostAddressCache::Clear() {
  MutexLock lock(mutex_);
  addresses_.clear();
}

}  // namespace paxelle
