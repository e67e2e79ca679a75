#include "tools/lane/LaneCrypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <climits>

namespace paxelle::lane {

namespace {

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

}  // namespace

void LaneCrypto::ContextFree::operator()(OSSL_LIB_CTX* context) const { OSSL_LIB_CTX_free(context); }
// Freeing the context alone does not tear down the legacy provider's own child
// context (OpenSSL 3.0 leaks it), so every provider is unloaded explicitly.
void LaneCrypto::ProviderUnload::operator()(OSSL_PROVIDER* provider) const { OSSL_PROVIDER_unload(provider); }
void LaneCrypto::MdFree::operator()(EVP_MD* md) const { EVP_MD_free(md); }
void LaneCrypto::CipherFree::operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }

LaneCrypto::LaneCrypto() {
  // Each part goes into its member as soon as it exists, so a failure half-way
  // is undone in the right order by the members' destructors.
  context_.reset(OSSL_LIB_CTX_new());
  if (!context_) {
    Fail("cannot create an OpenSSL library context");
    return;
  }
  defaultProvider_.reset(OSSL_PROVIDER_load(context_.get(), "default"));
  if (!defaultProvider_) {
    Fail("cannot load the OpenSSL \"default\" provider");
    return;
  }
  legacyProvider_.reset(OSSL_PROVIDER_load(context_.get(), "legacy"));
  if (!legacyProvider_) {
    Fail("cannot load the OpenSSL \"legacy\" provider (needed for RC4)");
    return;
  }
  md5_.reset(EVP_MD_fetch(context_.get(), "MD5", nullptr));
  rc4_.reset(EVP_CIPHER_fetch(context_.get(), "RC4", nullptr));
  if (!md5_ || !rc4_) {
    Fail("MD5 or RC4 is not available from the loaded providers");
    return;
  }
  ready_ = true;
}

LaneCrypto::~LaneCrypto() = default;

bool LaneCrypto::IsReady() const { return ready_; }

std::string OpenSslFailure(std::string_view what) {
  std::string text(what);
  const unsigned long code = ERR_get_error();
  if (code != 0) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof reason);
    text += ": ";
    text += reason;
  }
  ERR_clear_error();
  return text;
}

bool LaneCrypto::Fail(std::string_view what) {
  lastError_ = OpenSslFailure(what);
  return false;
}

bool LaneCrypto::Random(std::size_t count, std::string& bytes) {
  if (!IsReady()) return Fail("crypto is not ready");
  std::string out(count, '\0');
  if (count > 0 && RAND_bytes_ex(context_.get(), reinterpret_cast<unsigned char*>(out.data()), count, 0) != 1) {
    return Fail("random generator failed");
  }
  bytes = std::move(out);
  return true;
}

bool LaneCrypto::Md5(std::string_view data, std::string& digest) {
  if (!IsReady()) return Fail("crypto is not ready");
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), out, &length, md5_.get(), nullptr) != 1) {
    return Fail("MD5 failed");
  }
  digest.assign(reinterpret_cast<const char*>(out), length);
  return true;
}

bool LaneCrypto::Rc4(std::string_view key, std::string_view data, std::string& out) {
  if (!IsReady()) return Fail("crypto is not ready");
  if (key.empty() || key.size() > 256) return Fail("an RC4 key must be 1 to 256 bytes");
  if (data.size() > static_cast<std::size_t>(INT_MAX)) return Fail("message too long for RC4");
  std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
  if (!context) return Fail("cannot create a cipher context");
  unsigned int keyLength = static_cast<unsigned int>(key.size());
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_uint("keylen", &keyLength), OSSL_PARAM_construct_end()};
  // The key length has to be set before the key itself: RC4's default is 16 bytes.
  if (EVP_EncryptInit_ex2(context.get(), rc4_.get(), nullptr, nullptr, params) != 1 ||
      EVP_EncryptInit_ex2(context.get(), nullptr, reinterpret_cast<const unsigned char*>(key.data()), nullptr,
                          nullptr) != 1) {
    return Fail("cannot set up RC4");
  }
  std::string result(data.size(), '\0');
  int written = 0;
  int finalWritten = 0;
  auto* buffer = reinterpret_cast<unsigned char*>(result.data());
  if (EVP_EncryptUpdate(context.get(), buffer, &written, reinterpret_cast<const unsigned char*>(data.data()),
                        static_cast<int>(data.size())) != 1 ||
      EVP_EncryptFinal_ex(context.get(), buffer + written, &finalWritten) != 1 ||
      static_cast<std::size_t>(written + finalWritten) != data.size()) {
    return Fail("RC4 failed");
  }
  out = std::move(result);
  return true;
}

}  // namespace paxelle::lane
