#include "client/Dukpt.h"

#include <cstring>
#include <limits>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace paxelle {
namespace {

using Block = std::array<unsigned char, 8>;

constexpr std::uint32_t kCounterBits = 0x1FFFFF;
constexpr std::uint32_t kHighestCounterBit = 0x100000;
constexpr DukptKey kKeyMask = {0xC0, 0xC0, 0xC0, 0xC0, 0, 0, 0, 0, 0xC0, 0xC0, 0xC0, 0xC0, 0, 0, 0, 0};
constexpr DukptKey kDataVariant = {0, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0};

struct CipherFree {
  void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};
struct ContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// Wipes a key or block when it goes out of scope.
template <typename Bytes>
class Wiped {
 public:
  explicit Wiped(Bytes& bytes) : bytes_(bytes) {}
  ~Wiped() { OPENSSL_cleanse(bytes_.data(), bytes_.size()); }
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;

 private:
  Bytes& bytes_;
};

// Two-key TDEA (encrypt, decrypt, encrypt) on single blocks. Single DES is the
// same with both halves of the key equal.
class TdeaBlockCipher {
 public:
  explicit TdeaBlockCipher(OSSL_LIB_CTX* libctx)
      : cipher_(EVP_CIPHER_fetch(libctx, "DES-EDE-ECB", nullptr)), context_(EVP_CIPHER_CTX_new()) {}

  bool Encrypt(const DukptKey& key, const unsigned char* in, unsigned char* out) {
    if (!cipher_ || !context_) return false;
    if (EVP_EncryptInit_ex2(context_.get(), cipher_.get(), key.data(), nullptr, nullptr) != 1) return false;
    EVP_CIPHER_CTX_set_padding(context_.get(), 0);
    int written = 0;
    return EVP_EncryptUpdate(context_.get(), out, &written, in, 8) == 1 && written == 8;
  }

  bool EncryptSingle(const unsigned char* key8, const unsigned char* in, unsigned char* out) {
    DukptKey doubled;
    Wiped<DukptKey> wipe(doubled);
    std::memcpy(doubled.data(), key8, 8);
    std::memcpy(doubled.data() + 8, key8, 8);
    return Encrypt(doubled, in, out);
  }

 private:
  std::unique_ptr<EVP_CIPHER, CipherFree> cipher_;
  std::unique_ptr<EVP_CIPHER_CTX, ContextFree> context_;
};

DukptKey Xor(const DukptKey& a, const DukptKey& b) {
  DukptKey result;
  for (std::size_t i = 0; i < result.size(); ++i) result[i] = a[i] ^ b[i];
  return result;
}

// The right eight bytes of the key serial number with the counter bits given.
Block CounterRegister(const KeySerialNumber& ksn, std::uint32_t counterBits) {
  Block reg;
  std::memcpy(reg.data(), ksn.data() + 2, reg.size());
  reg[5] = static_cast<unsigned char>((reg[5] & 0xE0) | ((counterBits >> 16) & 0x1F));
  reg[6] = static_cast<unsigned char>(counterBits >> 8);
  reg[7] = static_cast<unsigned char>(counterBits);
  return reg;
}

// One half of the non-reversible key generation: `reg` XOR the key's right
// half, DES-encrypted under its left half, XOR its right half again.
bool GenerateHalf(TdeaBlockCipher& des, const DukptKey& key, const Block& reg, unsigned char* out) {
  Block input;
  Wiped<Block> wipe(input);
  for (std::size_t i = 0; i < 8; ++i) input[i] = reg[i] ^ key[8 + i];
  if (!des.EncryptSingle(key.data(), input.data(), out)) return false;
  for (std::size_t i = 0; i < 8; ++i) out[i] ^= key[8 + i];
  return true;
}

// The non-reversible key generation process: the next key from `key` and the
// counter register.
bool NextKey(TdeaBlockCipher& des, DukptKey& key, const Block& reg) {
  DukptKey next;
  DukptKey masked = Xor(key, kKeyMask);
  Wiped<DukptKey> wipeNext(next);
  Wiped<DukptKey> wipeMasked(masked);
  if (!GenerateHalf(des, key, reg, next.data() + 8)) return false;
  if (!GenerateHalf(des, masked, reg, next.data())) return false;
  key = next;
  return true;
}

}  // namespace

std::uint32_t TransactionCounter(const KeySerialNumber& ksn) {
  return ((static_cast<std::uint32_t>(ksn[7]) << 16) | (static_cast<std::uint32_t>(ksn[8]) << 8) | ksn[9]) &
         kCounterBits;
}

bool DeriveInitialKey(const DukptKey& baseKey, const KeySerialNumber& ksn, DukptKey& initialKey,
                      OSSL_LIB_CTX* libctx) {
  TdeaBlockCipher tdea(libctx);
  Block serial;
  std::memcpy(serial.data(), ksn.data(), serial.size());
  serial[7] &= 0xE0;
  DukptKey maskedBase = Xor(baseKey, kKeyMask);
  Wiped<DukptKey> wipe(maskedBase);
  DukptKey result;
  Wiped<DukptKey> wipeResult(result);
  if (!tdea.Encrypt(baseKey, serial.data(), result.data())) return false;
  if (!tdea.Encrypt(maskedBase, serial.data(), result.data() + 8)) return false;
  initialKey = result;
  return true;
}

bool DeriveCurrentKey(const DukptKey& initialKey, const KeySerialNumber& ksn, DukptKey& currentKey,
                      OSSL_LIB_CTX* libctx) {
  TdeaBlockCipher des(libctx);
  const std::uint32_t counter = TransactionCounter(ksn);
  DukptKey key = initialKey;
  Wiped<DukptKey> wipe(key);
  std::uint32_t counterSoFar = 0;
  for (std::uint32_t bit = kHighestCounterBit; bit != 0; bit >>= 1) {
    if ((counter & bit) == 0) continue;
    counterSoFar |= bit;
    if (!NextKey(des, key, CounterRegister(ksn, counterSoFar))) return false;
  }
  currentKey = key;
  return true;
}

bool DeriveDataKey(const DukptKey& currentKey, DukptKey& dataKey, OSSL_LIB_CTX* libctx) {
  TdeaBlockCipher tdea(libctx);
  DukptKey variant = Xor(currentKey, kDataVariant);
  Wiped<DukptKey> wipe(variant);
  DukptKey result;
  Wiped<DukptKey> wipeResult(result);
  if (!tdea.Encrypt(variant, variant.data(), result.data())) return false;
  if (!tdea.Encrypt(variant, variant.data() + 8, result.data() + 8)) return false;
  dataKey = result;
  return true;
}

bool DecryptDataBlocks(const DukptKey& dataKey, std::span<unsigned char> data, OSSL_LIB_CTX* libctx) {
  const std::size_t whole = data.size() - data.size() % 8;
  if (whole == 0) return true;
  if (whole > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  std::unique_ptr<EVP_CIPHER, CipherFree> cipher(EVP_CIPHER_fetch(libctx, "DES-EDE-CBC", nullptr));
  std::unique_ptr<EVP_CIPHER_CTX, ContextFree> context(EVP_CIPHER_CTX_new());
  if (!cipher || !context) return false;
  const unsigned char zeroVector[8] = {};
  if (EVP_DecryptInit_ex2(context.get(), cipher.get(), dataKey.data(), zeroVector, nullptr) != 1) {
    return false;
  }
  EVP_CIPHER_CTX_set_padding(context.get(), 0);
  int written = 0;
  // OpenSSL decrypts in place when input and output are the same buffer.
  return EVP_DecryptUpdate(context.get(), data.data(), &written, data.data(), static_cast<int>(whole)) == 1 &&
         static_cast<std::size_t>(written) == whole;
}

}  // namespace paxelle
