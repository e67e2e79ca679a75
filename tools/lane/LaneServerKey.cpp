#include "tools/lane/LaneServerKey.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdint>

namespace paxelle::lane {

namespace {

constexpr unsigned char kPublicKeyBlobType = 0x06;
constexpr unsigned char kSimpleBlobType = 0x01;
constexpr unsigned char kBlobVersion = 0x02;
constexpr std::uint32_t kAlgRsaKeyExchange = 0x0000A400;
constexpr std::uint32_t kAlgRc4 = 0x00006801;
constexpr std::uint32_t kRsa1Magic = 0x31415352;  // "RSA1"
constexpr std::size_t kPublicKeyHeaderBytes = 20;
constexpr std::uint32_t kMinModulusBits = 512;
constexpr std::uint32_t kMaxModulusBits = 16384;

std::uint32_t ReadLittleEndian32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void AppendLittleEndian32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

struct BignumFree { void operator()(BIGNUM* number) const { BN_free(number); } };
struct ParamBuildFree { void operator()(OSSL_PARAM_BLD* build) const { OSSL_PARAM_BLD_free(build); } };
struct ParamsFree { void operator()(OSSL_PARAM* params) const { OSSL_PARAM_free(params); } };
struct KeyContextFree { void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); } };

}  // namespace

void LaneServerKey::KeyFree::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

LaneServerKey::LaneServerKey() = default;
LaneServerKey::~LaneServerKey() = default;

void LaneServerKey::Clear() {
  key_.reset();
  modulusBytes_ = 0;
}

bool LaneServerKey::Fail(std::string what) {
  lastError_ = std::move(what);
  return false;
}

bool LaneServerKey::Import(LaneCrypto& crypto, std::string_view blob) {
  if (!crypto.IsReady()) return Fail("crypto is not ready");
  const auto* bytes = reinterpret_cast<const unsigned char*>(blob.data());
  if (blob.size() < kPublicKeyHeaderBytes) return Fail("public key blob is too short");
  if (bytes[0] != kPublicKeyBlobType) return Fail("key blob is not a PUBLICKEYBLOB");
  if (bytes[1] != kBlobVersion) return Fail("public key blob has an unknown version");
  if (ReadLittleEndian32(bytes + 4) != kAlgRsaKeyExchange) return Fail("public key is not an RSA key-exchange key");
  if (ReadLittleEndian32(bytes + 8) != kRsa1Magic) return Fail("public key blob lacks the \"RSA1\" magic");
  const std::uint32_t bits = ReadLittleEndian32(bytes + 12);
  if (bits % 8 != 0 || bits < kMinModulusBits || bits > kMaxModulusBits) {
    return Fail("public key blob has an unusable modulus size of " + std::to_string(bits) + " bits");
  }
  const std::size_t modulusBytes = bits / 8;
  if (blob.size() != kPublicKeyHeaderBytes + modulusBytes) {
    return Fail("public key blob length does not match its modulus size");
  }
  const std::uint32_t exponent = ReadLittleEndian32(bytes + 16);
  if (exponent < 3 || exponent % 2 == 0) return Fail("public key blob has an invalid public exponent");

  std::unique_ptr<BIGNUM, BignumFree> modulus(
      BN_lebin2bn(bytes + kPublicKeyHeaderBytes, static_cast<int>(modulusBytes), nullptr));
  std::unique_ptr<BIGNUM, BignumFree> publicExponent(BN_new());
  if (!modulus || !publicExponent || BN_set_word(publicExponent.get(), exponent) != 1) {
    return Fail(OpenSslFailure("cannot read the public key numbers"));
  }
  if (BN_num_bits(modulus.get()) != static_cast<int>(bits) || !BN_is_odd(modulus.get())) {
    return Fail("public key blob holds a malformed modulus");
  }

  std::unique_ptr<OSSL_PARAM_BLD, ParamBuildFree> build(OSSL_PARAM_BLD_new());
  if (!build || OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, modulus.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, publicExponent.get()) != 1) {
    return Fail(OpenSslFailure("cannot assemble the public key"));
  }
  std::unique_ptr<OSSL_PARAM, ParamsFree> params(OSSL_PARAM_BLD_to_param(build.get()));
  std::unique_ptr<EVP_PKEY_CTX, KeyContextFree> context(
      EVP_PKEY_CTX_new_from_name(crypto.Context(), "RSA", nullptr));
  EVP_PKEY* imported = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &imported, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return Fail(OpenSslFailure("cannot import the public key"));
  }
  key_.reset(imported);
  modulusBytes_ = modulusBytes;
  return true;
}

bool LaneServerKey::WrapSessionKey(LaneCrypto& crypto, std::string_view sessionKey, std::string& blob) {
  if (!IsLoaded()) return Fail("no server public key has been imported");
  if (sessionKey.size() != kSessionKeyBytes) return Fail("a session key must be 16 bytes");
  std::unique_ptr<EVP_PKEY_CTX, KeyContextFree> context(
      EVP_PKEY_CTX_new_from_pkey(crypto.Context(), key_.get(), nullptr));
  if (!context || EVP_PKEY_encrypt_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1) {
    return Fail(OpenSslFailure("cannot set up RSA encryption"));
  }
  const auto* clear = reinterpret_cast<const unsigned char*>(sessionKey.data());
  std::size_t length = 0;
  if (EVP_PKEY_encrypt(context.get(), nullptr, &length, clear, sessionKey.size()) != 1) {
    return Fail(OpenSslFailure("cannot size the wrapped session key"));
  }
  std::string wrapped(length, '\0');
  if (EVP_PKEY_encrypt(context.get(), reinterpret_cast<unsigned char*>(wrapped.data()), &length, clear,
                       sessionKey.size()) != 1) {
    return Fail(OpenSslFailure("cannot wrap the session key"));
  }
  if (length != modulusBytes_) return Fail("wrapped session key has an unexpected length");
  wrapped.resize(length);
  std::reverse(wrapped.begin(), wrapped.end());

  std::string out;
  out.reserve(12 + wrapped.size());
  out.push_back(static_cast<char>(kSimpleBlobType));
  out.push_back(static_cast<char>(kBlobVersion));
  out.append(2, '\0');
  AppendLittleEndian32(out, kAlgRc4);
  AppendLittleEndian32(out, kAlgRsaKeyExchange);
  out += wrapped;
  blob = std::move(out);
  return true;
}

}  // namespace paxelle::lane
