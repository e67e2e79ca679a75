// The TLS sessions the host has handed out, kept per endpoint (name and port) so the
// next connection to the same endpoint can resume instead of a full handshake.
#pragma once

#include "common/Mutex.h"

#include <openssl/ssl.h>

#include <deque>
#include <map>
#include <memory>
#include <string>

namespace paxelle {

struct FreeSslSession {
  void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};
using SslSessionPtr = std::unique_ptr<SSL_SESSION, FreeSslSession>;

class CHostSessionCache {
 public:
  // Sessions kept per endpoint; the oldest goes when a newer one arrives.
  static constexpr std::size_t kSessionsPerEndpoint = 64;

  CHostSessionCache() = default;
  CHostSessionCache(const CHostSessionCache&) = delete;
  CHostSessionCache& operator=(const CHostSessionCache&) = delete;

  // Keeps `session` for `endpoint`; one the host did not make resumable is dropped.
  void Put(const std::string& endpoint, SslSessionPtr session);
  // Hands out the newest session kept for `endpoint`, removed from the cache (each is
  // offered once: a TLS 1.3 ticket must not be used twice); null when none is kept.
  SslSessionPtr Take(const std::string& endpoint);
  // Drops every session.
  void Clear();
  std::size_t Count(const std::string& endpoint) const;

 private:
  mutable Mutex mutex_;
  std::map<std::string, std::deque<SslSessionPtr>> sessions_ GUARDED_BY(mutex_);
};

}  // namespace paxelle
