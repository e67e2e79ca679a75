// The client link's session keys already unwrapped, by the key blob text each
// came from, so that a request and its answer cost one RSA private-key operation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace paxelle {

// Holds at most `capacity` keys; adding past it drops the least recently used
// one. Every key leaves memory wiped: when dropped and when the cache goes.
// Only blobs that unwrapped belong here: a miss always means "unwrap it again".
// Safe to call from any thread.
class CSessionKeyCache {
 public:
  using SessionKey = std::array<unsigned char, 16>;

  explicit CSessionKeyCache(std::size_t capacity);
  ~CSessionKeyCache();
  CSessionKeyCache(const CSessionKeyCache&) = delete;
  CSessionKeyCache& operator=(const CSessionKeyCache&) = delete;

  // True with the key unwrapped from exactly `keyBlobHex`; `key` changes only then.
  bool Find(const std::string& keyBlobHex, SessionKey& key);
  // Remembers `key` as the unwrapping of `keyBlobHex` (again: refreshes it).
  void Add(const std::string& keyBlobHex, const SessionKey& key);
  std::size_t Size() const;

 private:
  struct Entry {
    std::string keyBlobHex;  // the text on the wire: no secret
    SessionKey key{};
    std::uint64_t lastUse = 0;
  };
  Entry* FindLocked(const std::string& keyBlobHex);

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;  // guarded by mutex_
  std::uint64_t uses_ = 0;      // guarded by mutex_
};

}  // namespace paxelle
