// The client link's session keys already unwrapped, by the key blob text each
// came from, so that a request and its answer cost one RSA private-key operation.
#pragma once

#include "common/Mutex.h"

#include <array>
#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>

namespace paxelle {

// Holds at most `capacity` keys; adding past it drops the key added longest
// ago. Using a key does not keep it: a key is needed from its request until
// that request's answer, however many other lanes are answered meanwhile.
// Every key leaves memory wiped: when dropped and when the cache goes. Only
// blobs that unwrapped belong here: a miss always means "unwrap it again".
// Safe to call from any thread.
class CSessionKeyCache {
 public:
  using SessionKey = std::array<unsigned char, 16>;

  explicit CSessionKeyCache(std::size_t capacity);
  ~CSessionKeyCache();
  CSessionKeyCache(const CSessionKeyCache&) = delete;
  CSessionKeyCache& operator=(const CSessionKeyCache&) = delete;

  // True with the key unwrapped from exactly `keyBlobHex`; `key` changes only then.
  bool Find(const std::string& keyBlobHex, SessionKey& key) const;
  // Remembers `key` as the unwrapping of `keyBlobHex`; a blob already held
  // keeps its place in the order.
  void Add(const std::string& keyBlobHex, const SessionKey& key);
  std::size_t Size() const;

 private:
  const std::size_t capacity_;
  mutable Mutex mutex_;
  std::unordered_map<std::string, SessionKey> keys_ GUARDED_BY(mutex_);  // blob texts are no secret
  std::deque<std::string> order_ GUARDED_BY(mutex_);  // oldest first
};

}  // namespace paxelle
