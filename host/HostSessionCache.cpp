#include "host/HostSessionCache.h"

#include <utility>

namespace paxelle {

void CHostSessionCache::Put(const std::string& endpoint, SslSessionPtr session) {
  if (!session || SSL_SESSION_is_resumable(session.get()) != 1) return;
  SslSessionPtr dropped;
  MutexLock lock(mutex_);
  std::deque<SslSessionPtr>& kept = sessions_[endpoint];
  kept.push_back(std::move(session));
  if (kept.size() > kSessionsPerEndpoint) {
    dropped = std::move(kept.front());
    kept.pop_front();
  }
}

SslSessionPtr CHostSessionCache::Take(const std::string& endpoint) {
  MutexLock lock(mutex_);
  const auto found = sessions_.find(endpoint);
  if (found == sessions_.end() || found->second.empty()) return nullptr;
  SslSessionPtr session = std::move(found->second.back());
  found->second.pop_back();
  return session;
}

void CHostSessionCache::Clear() {
  std::map<std::string, std::deque<SslSessionPtr>> dropped;
  MutexLock lock(mutex_);
  dropped.swap(sessions_);
}

std::size_t CHostSessionCache::Count(const std::string& endpoint) const {
  MutexLock lock(mutex_);
  const auto found = sessions_.find(endpoint);
  return found == sessions_.end() ? 0 : found->second.size();
}

}  // namespace paxelle
