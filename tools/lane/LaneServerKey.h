// The server's RSA key-exchange key as the lane receives it (a CryptoAPI
// PUBLICKEYBLOB) and the SIMPLEBLOB that carries a session key wrapped with it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "tools/lane/LaneCrypto.h"

struct evp_pkey_st;

namespace paxelle::lane {

// Size of the RC4 session keys and challenges the lane makes.
inline constexpr std::size_t kSessionKeyBytes = 16;

class LaneServerKey {
 public:
  LaneServerKey();
  ~LaneServerKey();
  LaneServerKey(const LaneServerKey&) = delete;
  LaneServerKey& operator=(const LaneServerKey&) = delete;

  // Imports a PUBLICKEYBLOB (raw bytes, not hexadecimal): type 06, version 02,
  // the key-exchange algorithm A400, "RSA1", the bit length, the public
  // exponent and the little-endian modulus, nothing more. The key lives in
  // `crypto`'s library context, which must outlive this object. A malformed
  // blob is refused with LastError set and leaves any earlier key in place.
  bool Import(LaneCrypto& crypto, std::string_view blob);

  bool IsLoaded() const { return key_ != nullptr; }
  // Forgets the imported key.
  void Clear();
  std::size_t ModulusBytes() const { return modulusBytes_; }

  // The SIMPLEBLOB for the RC4 `sessionKey` (exactly 16 bytes): 01 02 00 00,
  // 01 68 00 00 (RC4), 00 A4 00 00 (wrapped by the exchange key), then the
  // RSA PKCS#1 v1.5 encryption of the key with its bytes in reverse order
  // (CryptoAPI writes the number little-endian). Fresh padding every call.
  bool WrapSessionKey(LaneCrypto& crypto, std::string_view sessionKey, std::string& blob);

  const std::string& LastError() const { return lastError_; }

 private:
  struct KeyFree { void operator()(evp_pkey_st* key) const; };
  bool Fail(std::string what);

  std::unique_ptr<evp_pkey_st, KeyFree> key_;
  std::size_t modulusBytes_ = 0;
  std::string lastError_;
};

}  // namespace paxelle::lane
