#include "client/SessionKeyCache.h"

#include <openssl/crypto.h>

namespace paxelle {

CSessionKeyCache::CSessionKeyCache(std::size_t capacity) : capacity_(capacity) { keys_.reserve(capacity_); }

CSessionKeyCache::~CSessionKeyCache() {
  for (auto& [blob, key] : keys_) OPENSSL_cleanse(key.data(), key.size());
}

bool CSessionKeyCache::Find(const std::string& keyBlobHex, SessionKey& key) const {
  MutexLock lock(mutex_);
  const auto found = keys_.find(keyBlobHex);
  if (found == keys_.end()) return false;
  key = found->second;
  return true;
}

void CSessionKeyCache::Add(const std::string& keyBlobHex, const SessionKey& key) {
  if (capacity_ == 0) return;
  MutexLock lock(mutex_);
  const auto [at, added] = keys_.try_emplace(keyBlobHex);
  OPENSSL_cleanse(at->second.data(), at->second.size());
  at->second = key;
  if (!added) return;
  order_.push_back(keyBlobHex);
  if (order_.size() <= capacity_) return;
  const auto oldest = keys_.find(order_.front());
  OPENSSL_cleanse(oldest->second.data(), oldest->second.size());
  keys_.erase(oldest);
  order_.pop_front();
}

std::size_t CSessionKeyCache::Size() const {
  MutexLock lock(mutex_);
  return keys_.size();
}

}  // namespace paxelle
