// The lane's cryptographic primitives (random bytes, MD5, RC4) in a private
// OpenSSL library context with the "default" and "legacy" providers.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct ossl_lib_ctx_st;
struct ossl_provider_st;
struct evp_md_st;
struct evp_cipher_st;

namespace paxelle::lane {

// Owns its own library context, so loading the legacy provider for RC4 changes
// nothing for other code in the process. One object per thread: the
// operations record their failure in LastError.
// `what`, followed by ": " and the text of OpenSSL's oldest queued error when
// there is one; empties this thread's OpenSSL error queue.
std::string OpenSslFailure(std::string_view what);

class LaneCrypto {
 public:
  // Creates the context and loads both providers; IsReady tells whether that
  // worked (LastError says why not). Every operation fails while not ready.
  LaneCrypto();
  ~LaneCrypto();
  LaneCrypto(const LaneCrypto&) = delete;
  LaneCrypto& operator=(const LaneCrypto&) = delete;

  bool IsReady() const;
  const std::string& LastError() const { return lastError_; }

  // `count` bytes from the context's random generator into `bytes`.
  bool Random(std::size_t count, std::string& bytes);

  // The 16-byte MD5 digest of `data`.
  bool Md5(std::string_view data, std::string& digest);

  // RC4 of `data` under `key` as one whole message, starting from the key's
  // initial state (so encryption and decryption are the same call).
  // `key` must be 1 to 256 bytes.
  bool Rc4(std::string_view key, std::string_view data, std::string& out);

  // The library context, for keys that must live in it (the server's RSA key).
  // Stays valid while this object lives; use it only when ready.
  ossl_lib_ctx_st* Context() const { return context_.get(); }

 private:
  bool Fail(std::string_view what);

  struct ContextFree { void operator()(ossl_lib_ctx_st* context) const; };
  struct ProviderUnload { void operator()(ossl_provider_st* provider) const; };
  struct MdFree { void operator()(evp_md_st* md) const; };
  struct CipherFree { void operator()(evp_cipher_st* cipher) const; };

  // Declared in the order of their dependencies: destroyed algorithms first,
  // then the providers, then the context they were loaded into.
  std::unique_ptr<ossl_lib_ctx_st, ContextFree> context_;
  std::unique_ptr<ossl_provider_st, ProviderUnload> defaultProvider_;
  std::unique_ptr<ossl_provider_st, ProviderUnload> legacyProvider_;
  std::unique_ptr<evp_md_st, MdFree> md5_;
  std::unique_ptr<evp_cipher_st, CipherFree> rc4_;
  bool ready_ = false;
  std::string lastError_;
};

}  // namespace paxelle::lane
