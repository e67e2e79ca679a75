#include "client/CardDataDecryptor.h"

#include "client/Dukpt.h"
#include "client/HexText.h"
#include "client/HiddenText.h"
#include "core/ReturnCodes.h"

#include <algorithm>
#include <span>
#include <string_view>
#include <vector>

#include <openssl/crypto.h>

namespace paxelle {
namespace {

constexpr std::size_t kKeySerialChars = 20;
constexpr std::size_t kMaxBlockChars = 200;
constexpr std::string_view kInfiniteFormat = "InfiniteOpx";

// Each base key is the exclusive-or of two components; each component is the
// hexadecimal text left when the mask's 1-positions are taken out.
struct HiddenComponent {
  std::string_view stored;
  std::span<const unsigned char> mask;
};

constexpr char kInfiniteFirstStored[] = "1915E6C20E23B7C172391940D74D69F6E325A8ACF6EFCC4B8D7D667856";
constexpr unsigned char kInfiniteFirstMask[58] = {
    1, 1, 1, 1, 1, 4, 1, 0, 4, 5, 1, 1, 6, 1, 7, 4, 1, 1, 7, 1,
    1, 4, 2, 1, 0, 7, 2, 1, 1, 2, 1, 6, 1, 7, 2, 4, 1, 4, 1, 0,
    1, 1, 2, 4, 0, 4, 2, 1, 1, 1, 1, 4, 2, 4, 2, 2, 7, 2,
};
constexpr char kInfiniteSecondStored[] = "08EB45A57190F3C9358F3480AC045193DA80DDCDCB0A36EBDAC2B8C8E7BB";
constexpr unsigned char kInfiniteSecondMask[60] = {
    1, 1, 7, 4, 1, 1, 0, 2, 0, 2, 1, 1, 6, 1, 2, 0, 1, 4, 1, 7,
    1, 6, 1, 4, 1, 4, 5, 6, 2, 1, 1, 0, 7, 1, 7, 1, 0, 7, 1, 7,
    7, 7, 1, 1, 0, 1, 1, 7, 1, 4, 4, 6, 1, 1, 3, 1, 3, 3, 0, 1,
};
constexpr char kUniMagFirstStored[] = "AE6943CB066752D08CD2D9A2D68EF24CDB510543A8036E2E0DE651F440";
constexpr unsigned char kUniMagFirstMask[58] = {
    1, 1, 5, 3, 1, 1, 1, 2, 5, 1, 6, 7, 7, 1, 7, 5, 1, 6, 2, 6,
    1, 1, 1, 1, 4, 6, 3, 1, 4, 1, 1, 3, 4, 1, 1, 0, 3, 1, 5, 5,
    3, 1, 5, 1, 6, 1, 7, 6, 4, 1, 1, 4, 1, 0, 3, 0, 1, 1,
};
constexpr char kUniMagSecondStored[] = "6893928D77223DA285279179BC26033CC2F12293814BB746C8523E9541DC";
constexpr unsigned char kUniMagSecondMask[60] = {
    3, 7, 0, 7, 1, 4, 1, 1, 1, 1, 1, 6, 7, 1, 3, 1, 7, 0, 1, 0,
    5, 0, 1, 1, 4, 1, 1, 3, 3, 3, 2, 0, 5, 1, 4, 1, 1, 1, 6, 6,
    5, 2, 4, 5, 1, 1, 5, 1, 1, 1, 0, 1, 4, 7, 1, 1, 5, 1, 4, 2,
};
static_assert(sizeof kInfiniteFirstStored - 1 == sizeof kInfiniteFirstMask);
static_assert(sizeof kInfiniteSecondStored - 1 == sizeof kInfiniteSecondMask);
static_assert(sizeof kUniMagFirstStored - 1 == sizeof kUniMagFirstMask);
static_assert(sizeof kUniMagSecondStored - 1 == sizeof kUniMagSecondMask);

// Decodes a component and folds its first 16 bytes into `key` by exclusive-or.
bool FoldComponent(const HiddenComponent& component, DukptKey& key) {
  std::string text;
  AssembleHiddenText(component.stored, component.mask, text);
  std::vector<unsigned char> bytes;
  const bool decoded = HexToBytes(text, bytes) && bytes.size() >= key.size();
  if (decoded) {
    for (std::size_t i = 0; i < key.size(); ++i) key[i] ^= bytes[i];
  }
  OPENSSL_cleanse(text.data(), text.size());
  OPENSSL_cleanse(bytes.data(), bytes.size());
  return decoded;
}

bool AssembleBaseKey(std::string_view format, DukptKey& key) {
  const bool infinite = format == kInfiniteFormat;
  const HiddenComponent first = infinite ? HiddenComponent{kInfiniteFirstStored, kInfiniteFirstMask}
                                         : HiddenComponent{kUniMagFirstStored, kUniMagFirstMask};
  const HiddenComponent second = infinite ? HiddenComponent{kInfiniteSecondStored, kInfiniteSecondMask}
                                          : HiddenComponent{kUniMagSecondStored, kUniMagSecondMask};
  key.fill(0);
  return FoldComponent(first, key) && FoldComponent(second, key);
}

// Wipes every key of one decryption, however it ends.
struct KeyChain {
  DukptKey baseKey{};
  DukptKey initialKey{};
  DukptKey currentKey{};
  DukptKey dataKey{};
  KeyChain() = default;
  ~KeyChain() {
    for (DukptKey* key : {&baseKey, &initialKey, &currentKey, &dataKey}) {
      OPENSSL_cleanse(key->data(), key->size());
    }
  }
  KeyChain(const KeyChain&) = delete;
  KeyChain& operator=(const KeyChain&) = delete;
};

}  // namespace

Status DecryptReaderBlock(const std::string& format, const std::string& blockHex,
                          const std::string& keySerialHex, std::string& clearText, OSSL_LIB_CTX* libctx) {
  const Status badKeySerial = Status::Failure("unusable key serial number", kRcFieldEncryptedKey);
  if (keySerialHex.size() != kKeySerialChars) return badKeySerial;
  std::vector<unsigned char> serialBytes;
  HexToBytes(keySerialHex, serialBytes);
  KeySerialNumber ksn{};
  std::copy_n(serialBytes.begin(), ksn.size(), ksn.begin());

  std::vector<unsigned char> block;
  if (blockHex.size() > kMaxBlockChars || !HexToBytes(blockHex, block)) {
    return Status::Failure("unusable encrypted block", kRcFieldEncryptedBlock);
  }
  if (TransactionCounter(ksn) == 0) return badKeySerial;

  KeyChain keys;
  const bool decrypted = AssembleBaseKey(format, keys.baseKey) &&
                         DeriveInitialKey(keys.baseKey, ksn, keys.initialKey, libctx) &&
                         DeriveCurrentKey(keys.initialKey, ksn, keys.currentKey, libctx) &&
                         DeriveDataKey(keys.currentKey, keys.dataKey, libctx) &&
                         DecryptDataBlocks(keys.dataKey, block, libctx);
  if (decrypted) clearText.assign(block.begin(), block.end());
  OPENSSL_cleanse(block.data(), block.size());
  return decrypted ? Status::Ok() : Status::Failure("card data could not be decrypted", kRcGeneralFailure);
}

}  // namespace paxelle
