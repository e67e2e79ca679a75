// The host endpoints' addresses as resolved: looked up once per start of the
// interfaces, and again only after a connection to one failed, instead of a
// name lookup for every connection.
#pragma once

#include "common/Mutex.h"

#include <netinet/in.h>

#include <map>
#include <optional>
#include <string>

namespace paxelle {

class CHostAddressCache {
 public:
  CHostAddressCache() = default;
  CHostAddressCache(const CHostAddressCache&) = delete;
  CHostAddressCache& operator=(const CHostAddressCache&) = delete;

  // The address kept for `endpoint` ("name:port"), if any.
  std::optional<sockaddr_in> Find(const std::string& endpoint) const;
  void Keep(const std::string& endpoint, const sockaddr_in& address);
  // A connection to it failed: the name is looked up again next time.
  void Forget(const std::string& endpoint);
  void Clear();

 private:
  mutable Mutex mutex_;
  std::map<std::string, sockaddr_in> addresses_ GUARDED_BY(mutex_);
};

}  // namespace paxelle
