#include "client/SessionKeyCache.h"

#include <algorithm>

#include <openssl/crypto.h>

namespace paxelle {

CSessionKeyCache::CSessionKeyCache(std::size_t capacity) : capacity_(capacity) { entries_.reserve(capacity_); }

CSessionKeyCache::~CSessionKeyCache() {
  for (Entry& entry : entries_) OPENSSL_cleanse(entry.key.data(), entry.key.size());
}

CSessionKeyCache::Entry* CSessionKeyCache::FindLocked(const std::string& keyBlobHex) {
  for (Entry& entry : entries_) {
    if (entry.keyBlobHex == keyBlobHex) return &entry;
  }
  return nullptr;
}

bool CSessionKeyCache::Find(const std::string& keyBlobHex, SessionKey& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* entry = FindLocked(keyBlobHex);
  if (entry == nullptr) return false;
  entry->lastUse = ++uses_;
  key = entry->key;
  return true;
}

void CSessionKeyCache::Add(const std::string& keyBlobHex, const SessionKey& key) {
  if (capacity_ == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* entry = FindLocked(keyBlobHex);
  if (entry == nullptr && entries_.size() < capacity_) {
    entry = &entries_.emplace_back();
  } else if (entry == nullptr) {
    entry = &*std::min_element(entries_.begin(), entries_.end(),
                               [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; });
  }
  OPENSSL_cleanse(entry->key.data(), entry->key.size());
  entry->keyBlobHex = keyBlobHex;
  entry->key = key;
  entry->lastUse = ++uses_;
}

std::size_t CSessionKeyCache::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

}  // namespace paxelle
