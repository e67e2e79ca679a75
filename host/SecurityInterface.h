// The TLS client settings every host link of a server shares: TLS 1.2 and later, the
// system's trust store plus the operator's extra certificate authority file.
#pragma once

#include "common/Mutex.h"

#include <openssl/ssl.h>

#include <string>

namespace paxelle {

class CSecurityInterface {
 public:
  CSecurityInterface();
  // Unload().
  ~CSecurityInterface();
  CSecurityInterface(const CSecurityInterface&) = delete;
  CSecurityInterface& operator=(const CSecurityInterface&) = delete;

  // Builds the client context: TLS 1.2 as the lowest version (1.0 and 1.1 are never
  // offered), the highest the library has as the top; trust in the system store and,
  // when given, the PEM certificates of `extraCaFile`. The certificate check is left to
  // the link, which reports it in its own terms. False with LastErrorText() set, and the
  // interface left as it was, when the context cannot be built or the file not read.
  bool Load(const std::string& extraCaFile = {});
  // Drops the context; links already connected keep theirs until they close.
  void Unload();
  bool IsLoaded() const;

  // A new connection object on the loaded context (owned by the caller, freed with
  // SSL_free); null when nothing is loaded or the library fails.
  SSL* NewConnection() const;

  // Why the last Load failed.
  std::string LastErrorText() const;

 private:
  mutable Mutex mutex_;
  SSL_CTX* context_ GUARDED_BY(mutex_) = nullptr;
  std::string lastErrorText_ GUARDED_BY(mutex_);
};

}  // namespace paxelle
