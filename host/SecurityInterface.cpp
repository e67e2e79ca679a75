#include "host/SecurityInterface.h"

#include "host/HostLink.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <openssl/x509_vfy.h>

#include <utility>

namespace paxelle {
namespace {

// The oldest OpenSSL error of this thread (the queue emptied), or `fallback`.
std::string TakeOpenSslError(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

// OpenSSL fills a certificate's extension cache (key identifiers, purposes) the
// first time a chain check needs it, and two handshakes running at once can fill
// the cache of the same trusted certificate together. Filling every cache here,
// before any connection exists, leaves the shared certificates read-only afterwards.
void FillCertificateCaches(SSL_CTX* context) {
  X509_STORE* store = SSL_CTX_get_cert_store(context);
  if (X509_STORE_lock(store) != 1) return;
  STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
  for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
    X509* certificate = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i));
    if (certificate != nullptr) X509_check_purpose(certificate, -1, 0);
  }
  X509_STORE_unlock(store);
}

int HandOverNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* link = static_cast<CHostLink*>(SSL_get_app_data(ssl));
  // 1: the link owns the session's reference now.
  return link != nullptr && link->KeepSession(session) ? 1 : 0;
}

}  // namespace

CSecurityInterface::CSecurityInterface() = default;

CSecurityInterface::~CSecurityInterface() { Unload(); }

bool CSecurityInterface::Load(const std::string& extraCaFile) {
  ERR_clear_error();
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  std::string failure;
  if (context == nullptr) {
    failure = "Cannot create the TLS client context: " + TakeOpenSslError("unknown error");
  } else if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1 ||
             SSL_CTX_set_max_proto_version(context, 0) != 1) {
    failure = "Cannot limit the TLS versions: " + TakeOpenSslError("unknown error");
  } else if (SSL_CTX_set_default_verify_paths(context) != 1) {
    failure = "Cannot use the system trust store: " + TakeOpenSslError("unknown error");
  } else if (!extraCaFile.empty() && SSL_CTX_load_verify_locations(context, extraCaFile.c_str(), nullptr) != 1) {
    failure = "Cannot load the host CA file '" + extraCaFile + "': " + TakeOpenSslError("unreadable");
  }
  if (!failure.empty()) {
    SSL_CTX_free(context);
    MutexLock lock(mutex_);
    lastErrorText_ = std::move(failure);
    return false;
  }
  // The handshake never stops on a certificate problem: the link reads the result
  // afterwards, so it can report it as a chain error value and skip it when told to.
  SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  X509_VERIFY_PARAM_set_purpose(SSL_CTX_get0_param(context), X509_PURPOSE_SSL_SERVER);
  FillCertificateCaches(context);
  // The sessions the host hands out go to the link that made the connection, which
  // keeps them per endpoint; the library's own cache would not know the endpoint.
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context, HandOverNewSession);
  MutexLock lock(mutex_);
  SSL_CTX_free(context_);
  context_ = context;
  lastErrorText_.clear();
  return true;
}

void CSecurityInterface::Unload() {
  MutexLock lock(mutex_);
  SSL_CTX_free(context_);  // a connection made from it holds its own reference
  context_ = nullptr;
}

bool CSecurityInterface::IsLoaded() const {
  MutexLock lock(mutex_);
  return context_ != nullptr;
}

SSL* CSecurityInterface::NewConnection() const {
  MutexLock lock(mutex_);
  return context_ != nullptr ? SSL_new(context_) : nullptr;
}

std::string CSecurityInterface::LastErrorText() const {
  MutexLock lock(mutex_);
  return lastErrorText_;
}

}  // namespace paxelle
