// The simulator's TLS server settings: its certificate and key, TLS 1.2 as the lowest
// version. One context serves every connection.
#pragma once

#include "common/Status.h"

#include <openssl/ssl.h>

#include <memory>
#include <string>

namespace paxelle::hostsim {

class TlsServerContext {
 public:
  TlsServerContext() = default;
  TlsServerContext(const TlsServerContext&) = delete;
  TlsServerContext& operator=(const TlsServerContext&) = delete;

  // Loads the PEM certificate chain `certFile` and its PEM private key `keyFile`. A failure
  // when either cannot be read or the key does not belong to the certificate.
  // Without `resumption` the server hands out no session id and no ticket, so every
  // connection is a full handshake.
  Status Load(const std::string& certFile, const std::string& keyFile, bool resumption = true);

  // The loaded context (null before a successful Load); valid as long as this object.
  SSL_CTX* Get() const { return context_.get(); }

 private:
  struct Free {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
  };
  std::unique_ptr<SSL_CTX, Free> context_;
};

// The text of the oldest OpenSSL error queued on this thread (and the queue emptied), or
// `fallback` when there is none.
std::string TakeTlsErrorText(const std::string& fallback);

}  // namespace paxelle::hostsim
