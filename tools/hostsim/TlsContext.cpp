#include "tools/hostsim/TlsContext.h"

#include <openssl/err.h>

namespace paxelle::hostsim {

std::string TakeTlsErrorText(const std::string& fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

Status TlsServerContext::Load(const std::string& certFile, const std::string& keyFile, bool resumption) {
  ERR_clear_error();
  std::unique_ptr<SSL_CTX, Free> context(SSL_CTX_new(TLS_server_method()));
  if (!context) return Status::Failure("cannot create the TLS context: " + TakeTlsErrorText("unknown error"));
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  // A peer that drops the connection without a close notice has simply gone away.
  SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  if (resumption) {
    // Session ids are remembered across connections for this one simulator.
    static const unsigned char kSessionContext[] = "paxelle-hostsim";
    SSL_CTX_set_session_id_context(context.get(), kSessionContext, sizeof kSessionContext - 1);
  } else {
    SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context.get(), SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(context.get(), 0);
  }
  if (SSL_CTX_use_certificate_chain_file(context.get(), certFile.c_str()) != 1) {
    return Status::Failure("cannot load the certificate " + certFile + ": " + TakeTlsErrorText("unreadable"));
  }
  if (SSL_CTX_use_PrivateKey_file(context.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    return Status::Failure("cannot load the private key " + keyFile + ": " + TakeTlsErrorText("unreadable"));
  }
  if (SSL_CTX_check_private_key(context.get()) != 1) {
    ERR_clear_error();
    return Status::Failure("the private key " + keyFile + " does not match the certificate " + certFile);
  }
  context_ = std::move(context);
  return Status::Ok();
}

}  // namespace paxelle::hostsim
