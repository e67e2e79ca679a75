#include "client/MessageCrypto.h"

#include "client/CardDataDecryptor.h"
#include "client/HexText.h"
#include "client/HiddenText.h"
#include "client/SessionKeyCache.h"
#include "config/PrivateFile.h"
#include "common/SystemErrorText.h"
#include "core/MessageFrame.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <span>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/pem.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

namespace paxelle {
namespace {

constexpr char kKeyFileName[] = "PaxelleWorldPayIP_Host{5B3E2C1A-7D4F-4E8B-9A61-2C0F3D8E7B14}.pem";
constexpr std::size_t kMaxKeyFileBytes = 64 * 1024;
constexpr std::size_t kExchangeKeyBits = 1024;
constexpr unsigned int kExchangeKeyExponent = 65537;

// The CryptoAPI codes the start-up log has always shown, so that its lines
// read the same to support whatever platform the server runs on.
constexpr unsigned kNteBadKeyState = 0x8009000B;
constexpr unsigned kNteNoKey = 0x8009000D;
constexpr unsigned kNteExists = 0x8009000F;
constexpr unsigned kNteBadKeyset = 0x80090016;
constexpr unsigned kNteProviderDllNotFound = 0x8009001E;
constexpr unsigned kNteFail = 0x80090020;

// SIMPLEBLOB header of an RC4 key wrapped with an RSA exchange key: blob type,
// version, two reserved bytes, the key's ALG_ID 0x6801 and the wrapping
// ALG_ID 0xA400, both little-endian. Only RC4 keys are taken: a block cipher
// would pad, and a response must never be longer than its clear text.
constexpr std::array<unsigned char, 12> kRc4SimpleBlobHeader = {0x01, 0x02, 0x00, 0x00, 0x01, 0x68,
                                                                0x00, 0x00, 0x00, 0xA4, 0x00, 0x00};

// The challenge key materials, shared with the client library. Each is the
// stored text without the positions whose mask entry is 1.
constexpr char kStandardStored[] = "ODksszP0rNZxTXMI8P-XSCtvd-Wr7-dEt1fS4vc9ma5Ad2by6e8ZU20o35r6";
constexpr unsigned char kStandardMask[60] = {
    4, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 7, 1, 3, 1, 0, 3, 1,
    0, 1, 2, 1, 2, 7, 1, 1, 3, 1, 7, 1, 1, 2, 0, 1, 6, 1, 3, 6,
    1, 3, 1, 1, 1, 4, 6, 1, 2, 0, 2, 1, 1, 1, 0, 1, 0, 2, 1, 1,
};
constexpr char kAlternateStored[] = "OAuIePXIPlP-ALlC-m2bzc0tj9-V6Ec13Re09ha1B5f7bg2slBvid4W0YS68";
constexpr unsigned char kAlternateMask[60] = {
    0, 1, 1, 1, 1, 4, 7, 0, 0, 1, 1, 0, 4, 1, 3, 1, 1, 1, 1, 1,
    1, 1, 1, 3, 1, 1, 6, 1, 1, 1, 2, 1, 6, 1, 3, 1, 5, 1, 5, 2,
    1, 0, 6, 6, 3, 1, 6, 1, 1, 1, 1, 1, 3, 3, 1, 4, 1, 1, 4, 5,
};
static_assert(sizeof kStandardStored - 1 == sizeof kStandardMask);
static_assert(sizeof kAlternateStored - 1 == sizeof kAlternateMask);

using Rc4Key = CSessionKeyCache::SessionKey;
// More than the 200 lanes' requests in flight at once, so that each answer
// finds its request's key; a lane makes a new session key for each request,
// so a key dropped later is not asked for again.
constexpr std::size_t kSessionKeyCacheSize = 256;

template <auto Free>
struct FreeWith {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};
using LibraryContextPtr = std::unique_ptr<OSSL_LIB_CTX, FreeWith<OSSL_LIB_CTX_free>>;
using ProviderPtr = std::unique_ptr<OSSL_PROVIDER, FreeWith<OSSL_PROVIDER_unload>>;
using CipherPtr = std::unique_ptr<EVP_CIPHER, FreeWith<EVP_CIPHER_free>>;
using CipherContextPtr = std::unique_ptr<EVP_CIPHER_CTX, FreeWith<EVP_CIPHER_CTX_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;
using KeyContextPtr = std::unique_ptr<EVP_PKEY_CTX, FreeWith<EVP_PKEY_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, FreeWith<BIO_free_all>>;

// A failed step: the code and text its log line shows. Code 0 is success.
struct StepResult {
  unsigned code = 0;
  std::string text;
  bool Ok() const { return code == 0; }
};

// The newest OpenSSL error's text (and clears the thread's error queue).
std::string TakeLibraryError(std::string_view what) {
  std::string text(what);
  const unsigned long error = ERR_peek_last_error();
  if (error != 0) {
    char reason[256] = {};
    ERR_error_string_n(error, reason, sizeof reason);
    text += ": ";
    text += reason;
  }
  ERR_clear_error();
  return text;
}

// The code a cipher failure is logged with: the library's own error code.
unsigned TakeCipherError() {
  const unsigned long error = ERR_peek_last_error();
  ERR_clear_error();
  return error != 0 ? static_cast<unsigned>(error) : kNteFail;
}

// Never asks for a pass phrase: the key file is not encrypted, and a server
// must not stop to prompt on a terminal.
int NoPassPhrase(char*, int, int, void*) { return -1; }

// Wipes secret bytes when they go out of scope.
class WipeOnExit {
 public:
  WipeOnExit(void* data, std::size_t size) : data_(data), size_(size) {}
  ~WipeOnExit() { OPENSSL_cleanse(data_, size_); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  void* data_;
  std::size_t size_;
};

// RC4 over `length` bytes from the key's initial state, as one whole message.
bool Rc4Transform(const EVP_CIPHER* rc4, const Rc4Key& key, const unsigned char* in, unsigned char* out,
                  std::size_t length, bool encrypt) {
  CipherContextPtr context(EVP_CIPHER_CTX_new());
  if (!context || EVP_CipherInit_ex2(context.get(), rc4, key.data(), nullptr, encrypt ? 1 : 0, nullptr) != 1) {
    return false;
  }
  std::size_t done = 0;
  while (done < length) {
    const int piece = static_cast<int>(std::min<std::size_t>(length - done, INT_MAX));
    int written = 0;
    if (EVP_CipherUpdate(context.get(), out + done, &written, in + done, piece) != 1 || written != piece) {
      return false;
    }
    done += static_cast<std::size_t>(piece);
  }
  int tail = 0;
  return EVP_CipherFinal_ex(context.get(), out + done, &tail) == 1 && tail == 0;
}

KeyPtr ParseExchangeKey(const std::string& pem, OSSL_LIB_CTX* libctx) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return nullptr;
  KeyPtr key(PEM_read_bio_PrivateKey_ex(bio.get(), nullptr, NoPassPhrase, nullptr, libctx, nullptr));
  ERR_clear_error();
  if (!key || !EVP_PKEY_is_a(key.get(), "RSA")) return nullptr;
  return key;
}

// Step 'A': the key file is read and parsed. Every failure is one of the two
// codes the recovery handles: missing (BAD_KEYSET) or unusable (BAD_KEY_STATE).
StepResult OpenKeyFile(const std::filesystem::path& keyFile, OSSL_LIB_CTX* libctx, KeyPtr& key) {
  std::string pem;
  const Status read = ReadPrivateFile(keyFile, kMaxKeyFileBytes, pem);
  if (read.code() == ENOENT) return {kNteBadKeyset, "Keyset does not exist: " + keyFile.string()};
  if (!read.ok()) return {kNteBadKeyState, read.message()};
  key = ParseExchangeKey(pem, libctx);
  OPENSSL_cleanse(pem.data(), pem.size());
  if (!key) return {kNteBadKeyState, keyFile.string() + " does not hold an RSA private key"};
  return {};
}

// Steps 'B' and 'D': an empty key store, which must not hold a key file yet.
StepResult CreateKeyStore(const std::filesystem::path& directory, const std::filesystem::path& keyFile) {
  struct stat status {};
  if (::lstat(keyFile.c_str(), &status) == 0) return {kNteExists, "Object already exists: " + keyFile.string()};
  if (errno != ENOENT) return {kNteFail, keyFile.string() + ": " + SystemErrorText(errno)};
  if (const Status created = CreatePrivateDirectories(directory); !created.ok()) return {kNteFail, created.message()};
  return {};
}

// Step 'C': the unusable key file is removed.
StepResult DeleteKeyFile(const std::filesystem::path& keyFile) {
  if (::unlink(keyFile.c_str()) == 0) return {};
  const int code = errno;
  return {code == ENOENT ? kNteBadKeyset : kNteFail, keyFile.string() + ": " + SystemErrorText(code)};
}

// Step 'GB': a new RSA key pair, written to the key file (mode 0600) so that
// a crash leaves either no file or the whole key.
StepResult GenerateExchangeKey(const std::filesystem::path& keyFile, OSSL_LIB_CTX* libctx, KeyPtr& key) {
  KeyContextPtr context(EVP_PKEY_CTX_new_from_name(libctx, "RSA", nullptr));
  std::size_t bits = kExchangeKeyBits;
  unsigned int exponent = kExchangeKeyExponent;
  const OSSL_PARAM parameters[] = {OSSL_PARAM_construct_size_t(OSSL_PKEY_PARAM_RSA_BITS, &bits),
                                   OSSL_PARAM_construct_uint(OSSL_PKEY_PARAM_RSA_E, &exponent),
                                   OSSL_PARAM_construct_end()};
  EVP_PKEY* generated = nullptr;
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_params(context.get(), parameters) != 1 ||
      EVP_PKEY_generate(context.get(), &generated) != 1) {
    return {kNteFail, TakeLibraryError("Cannot generate the RSA key pair")};
  }
  KeyPtr newKey(generated);

  BioPtr pem(BIO_new(BIO_s_secmem()));
  if (!pem || PEM_write_bio_PrivateKey(pem.get(), newKey.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return {kNteFail, TakeLibraryError("Cannot encode the RSA key pair")};
  }
  char* text = nullptr;
  const long size = BIO_get_mem_data(pem.get(), &text);
  const Status written = size > 0 ? ReplacePrivateFile(keyFile, std::string_view(text, static_cast<std::size_t>(size)))
                                  : Status::Failure("Cannot encode the RSA key pair");
  if (!written.ok()) return {kNteFail, written.message()};
  key = std::move(newKey);
  return {};
}

StepResult ExportPublicKeyText(EVP_PKEY* key, std::string& publicKeyText) {
  BioPtr blob(BIO_new(BIO_s_mem()));
  if (!blob || i2b_PublicKey_bio(blob.get(), key) <= 0) {
    return {kNteFail, TakeLibraryError("Cannot export the public key")};
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(blob.get(), &data);
  if (size <= 0) return {kNteFail, "Cannot export the public key"};
  publicKeyText = kDc1 + BytesToHex(std::string_view(data, static_cast<std::size_t>(size))) + kDc2;
  return {};
}

// The RC4 key of a hidden material: the first 16 bytes of the MD5 of the
// prepared material (all of them), the way CryptDeriveKey makes a 128-bit key.
StepResult DeriveChallengeKey(std::string_view stored, std::span<const unsigned char> mask,
                              OSSL_LIB_CTX* libctx, Rc4Key& key) {
  std::string material;
  AssembleHiddenText(stored, mask, material);
  PrepareChallengeMaterial(material);
  unsigned char digest[EVP_MAX_MD_SIZE];
  std::size_t digestSize = 0;
  const bool hashed = EVP_Q_digest(libctx, "MD5", nullptr, material.data(), material.size(), digest,
                                   &digestSize) == 1 &&
                      digestSize >= key.size();
  OPENSSL_cleanse(material.data(), material.size());
  if (hashed) std::copy_n(digest, key.size(), key.begin());
  OPENSSL_cleanse(digest, sizeof digest);
  if (!hashed) return {kNteFail, TakeLibraryError("Cannot hash the challenge key material")};
  return {};
}

}  // namespace

void PrepareChallengeMaterial(std::string& material) {
  for (std::size_t i = 0; i < material.size(); ++i) {
    const unsigned increment = i % 2 == 0 ? 2 : 1;
    const auto prepared = static_cast<unsigned char>(static_cast<unsigned char>(material[i]) + increment);
    material[i] = static_cast<char>(prepared == 0 ? 1 : prepared);
  }
}

// Everything a started object holds. Members are released in reverse order:
// keys and ciphers first, then the providers, then their library context.
struct CMessageCrypto::Engine {
  LibraryContextPtr libctx;
  ProviderPtr defaultProvider;
  ProviderPtr legacyProvider;
  CipherPtr rc4;
  KeyPtr exchangeKey;
  std::string publicKeyText;
  Rc4Key standardKey{};
  Rc4Key alternateKey{};
  // Keys unwrapped with exchangeKey: they go with it when the engine is replaced.
  CSessionKeyCache sessionKeys{kSessionKeyCacheSize};

  Engine() = default;
  ~Engine() {
    OPENSSL_cleanse(standardKey.data(), standardKey.size());
    OPENSSL_cleanse(alternateKey.data(), alternateKey.size());
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // A private library context with the default provider and the legacy one,
  // which alone has RC4. Nothing else in the process is affected.
  StepResult LoadProviders() {
    libctx.reset(OSSL_LIB_CTX_new());
    if (!libctx) return {kNteFail, TakeLibraryError("Cannot create an OpenSSL library context")};
    defaultProvider.reset(OSSL_PROVIDER_load(libctx.get(), "default"));
    if (!defaultProvider) {
      return {kNteProviderDllNotFound, TakeLibraryError("Cannot load the OpenSSL default provider")};
    }
    legacyProvider.reset(OSSL_PROVIDER_load(libctx.get(), "legacy"));
    if (!legacyProvider) {
      return {kNteProviderDllNotFound, TakeLibraryError("Cannot load the OpenSSL legacy provider (RC4)")};
    }
    rc4.reset(EVP_CIPHER_fetch(libctx.get(), "RC4", nullptr));
    if (!rc4) return {kNteProviderDllNotFound, TakeLibraryError("RC4 is not available")};
    return {};
  }

  // The RC4 session key of a SIMPLEBLOB, unwrapped once per blob text: the
  // answer to a request uses the request's blob again. A blob that failed is
  // never remembered, so it is unwrapped (and refused) every time.
  bool ImportSessionKey(const std::string& keyBlobHex, Rc4Key& key) {
    if (sessionKeys.Find(keyBlobHex, key)) return true;
    if (!UnwrapSessionKey(keyBlobHex, key)) return false;
    sessionKeys.Add(keyBlobHex, key);
    return true;
  }

  // Unwraps the RC4 session key of a SIMPLEBLOB. False (with nothing logged)
  // for malformed text, a foreign header or a key that does not unwrap.
  bool UnwrapSessionKey(const std::string& keyBlobHex, Rc4Key& key) const {
    std::vector<unsigned char> blob;
    if (keyBlobHex.empty() || !HexToBytes(keyBlobHex, blob)) return false;
    const int wrappedSize = EVP_PKEY_get_size(exchangeKey.get());
    if (wrappedSize <= 0 || blob.size() != kRc4SimpleBlobHeader.size() + static_cast<std::size_t>(wrappedSize) ||
        !std::equal(kRc4SimpleBlobHeader.begin(), kRc4SimpleBlobHeader.end(), blob.begin())) {
      return false;
    }
    // CryptoAPI keeps the wrapped key little-endian; RSA wants it big-endian.
    std::reverse(blob.begin() + kRc4SimpleBlobHeader.size(), blob.end());

    KeyContextPtr context(EVP_PKEY_CTX_new_from_pkey(libctx.get(), exchangeKey.get(), nullptr));
    if (!context || EVP_PKEY_decrypt_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1) {
      ERR_clear_error();
      return false;
    }
#ifdef OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION
    // A wrong blob must be refused, not turned into a random key.
    unsigned int implicitRejection = 0;
    const OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_uint(OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION, &implicitRejection),
        OSSL_PARAM_construct_end()};
    if (EVP_PKEY_CTX_set_params(context.get(), parameters) != 1) {
      ERR_clear_error();
      return false;
    }
#endif
    std::vector<unsigned char> unwrapped(static_cast<std::size_t>(wrappedSize));
    WipeOnExit wipe(unwrapped.data(), unwrapped.size());
    std::size_t unwrappedSize = unwrapped.size();
    const bool ok = EVP_PKEY_decrypt(context.get(), unwrapped.data(), &unwrappedSize,
                                     blob.data() + kRc4SimpleBlobHeader.size(),
                                     static_cast<std::size_t>(wrappedSize)) == 1 &&
                    unwrappedSize == key.size();
    ERR_clear_error();
    if (ok) std::copy_n(unwrapped.begin(), key.size(), key.begin());
    return ok;
  }
};

CMessageCrypto::CMessageCrypto(CTrafficLog& log) : log_(log) {}

CMessageCrypto::~CMessageCrypto() { Shutdown(); }

std::filesystem::path CMessageCrypto::KeyFilePath(const std::filesystem::path& keyStoreDirectory) {
  return keyStoreDirectory / kKeyFileName;
}

bool CMessageCrypto::Startup(const std::filesystem::path& keyStoreDirectory) {
  WriterLock lock(mutex_);
  engine_.reset();
  auto engine = std::make_unique<Engine>();
  auto startFailed = [this](const StepResult& failure) {
    log_.Log("Error %x  %s Attempting to Start 128 bit Crypto", failure.code, failure.text.c_str());
    return false;
  };

  StepResult step = engine->LoadProviders();
  if (!step.Ok()) return startFailed(step);
  OSSL_LIB_CTX* libctx = engine->libctx.get();
  const std::filesystem::path keyFile = KeyFilePath(keyStoreDirectory);

  log_.Log("Trying ::CtAcCt('A')");
  step = OpenKeyFile(keyFile, libctx, engine->exchangeKey);
  if (step.Ok()) {
    log_.Log("Success on Trying ::CtAcCt('A')");
  } else {
    log_.Log("Failed ('A') with [0x%x] %s", step.code, step.text.c_str());
    log_.Log("NTE_BAD_KEYSET and NTE_BAD_KEY_STATE handler");
    log_.Log("Trying ::CryptAcquireContext('B')");
    step = CreateKeyStore(keyStoreDirectory, keyFile);
    if (step.Ok()) {
      log_.Log("Success on Trying ::CryptAcquireContext('B')");
    } else {
      log_.Log("Failed ('B') with [0x%x] %s", step.code, step.text.c_str());
      log_.Log("Trying ::CryptAcquireContext('C')");
      step = DeleteKeyFile(keyFile);
      if (!step.Ok()) {
        log_.Log("Failed ('C') with [0x%x] %s", step.code, step.text.c_str());
        startFailed(step);
        log_.Log("Unable to Delete Keyset...");
        return false;
      }
      log_.Log("Success on Trying ::CryptAcquireContext('C')");
      log_.Log("Deleted Keyset ...");
      log_.Log("Trying ::CryptAcquireContext('D')");
      step = CreateKeyStore(keyStoreDirectory, keyFile);
      if (!step.Ok()) {
        log_.Log("Failed ('D') with [0x%x] %s", step.code, step.text.c_str());
        return startFailed(step);
      }
      log_.Log("Success on Trying ::CryptAcquireContext('D')");
    }
  }

  log_.Log("Trying ::CtGtUKy('GA')");
  if (engine->exchangeKey) {
    log_.Log("Success on Trying CtGtUKy('GA')");
  } else {
    log_.Log("Failed ('GA') with [0x%x] %s", kNteNoKey, "Key does not exist.");
    log_.Log("Failure is NTE_NO_KEY");
    log_.Log("Trying ::CryptGenKey('GB')");
    step = GenerateExchangeKey(keyFile, libctx, engine->exchangeKey);
    if (!step.Ok()) {
      log_.Log("Failed ('GB') with [0x%x] %s", step.code, step.text.c_str());
      return startFailed(step);
    }
    log_.Log("Success on Trying CryptGenKey('GB')");
  }

  step = ExportPublicKeyText(engine->exchangeKey.get(), engine->publicKeyText);
  if (step.Ok()) step = DeriveChallengeKey(kStandardStored, kStandardMask, libctx, engine->standardKey);
  if (step.Ok()) step = DeriveChallengeKey(kAlternateStored, kAlternateMask, libctx, engine->alternateKey);
  if (!step.Ok()) return startFailed(step);

  engine_ = std::move(engine);
  return true;
}

void CMessageCrypto::Shutdown() {
  WriterLock lock(mutex_);
  engine_.reset();
}

bool CMessageCrypto::IsStarted() const {
  ReaderLock lock(mutex_);
  return engine_ != nullptr;
}

std::string CMessageCrypto::PublicKeyText() const {
  ReaderLock lock(mutex_);
  return engine_ ? engine_->publicKeyText : std::string();
}

bool CMessageCrypto::GenerateRandom(std::size_t count, unsigned char* buffer) {
  ReaderLock lock(mutex_);
  if (!engine_) return false;
  if (count == 0) return true;
  const bool ok = RAND_bytes_ex(engine_->libctx.get(), buffer, count, 0) == 1;
  if (!ok) ERR_clear_error();
  return ok;
}

bool CMessageCrypto::EncryptChallenge(unsigned char* buffer, std::size_t length, bool alternate) {
  ReaderLock lock(mutex_);
  if (!engine_) return false;
  if (length == 0) return true;
  const Rc4Key& key = alternate ? engine_->alternateKey : engine_->standardKey;
  if (Rc4Transform(engine_->rc4.get(), key, buffer, buffer, length, true)) return true;
  ERR_clear_error();
  return false;
}

bool CMessageCrypto::DecryptWithSessionKey(const std::string& keyBlobHex, const std::string& cipherHex,
                                           std::string& clearText) {
  ReaderLock lock(mutex_);
  if (!engine_) return false;
  Rc4Key key{};
  WipeOnExit wipeKey(key.data(), key.size());
  if (!engine_->ImportSessionKey(keyBlobHex, key)) return false;
  std::vector<unsigned char> data;
  if (cipherHex.empty() || !HexToBytes(cipherHex, data)) return false;
  WipeOnExit wipeData(data.data(), data.size());
  if (!Rc4Transform(engine_->rc4.get(), key, data.data(), data.data(), data.size(), false)) {
    log_.Log("Error %x during CryptDecrypt!", TakeCipherError());
    return false;
  }
  clearText.assign(data.begin(), std::find(data.begin(), data.end(), 0));
  return true;
}

bool CMessageCrypto::EncryptWithSessionKey(const std::string& keyBlobHex, const std::string& clearText,
                                           std::string& cipherHex) {
  ReaderLock lock(mutex_);
  if (!engine_) return false;
  Rc4Key key{};
  WipeOnExit wipeKey(key.data(), key.size());
  if (!engine_->ImportSessionKey(keyBlobHex, key)) return false;
  std::vector<unsigned char> data(clearText.size());
  const auto* clear = reinterpret_cast<const unsigned char*>(clearText.data());
  if (!Rc4Transform(engine_->rc4.get(), key, clear, data.data(), data.size(), true)) {
    OPENSSL_cleanse(data.data(), data.size());
    log_.Log("Error %x during CryptEncrypt!", TakeCipherError());
    return false;
  }
  cipherHex = BytesToHex(data);
  return true;
}

Status CMessageCrypto::DecryptCardData(const std::string& format, const std::string& blockHex,
                                       const std::string& keySerialHex, std::string& clearText) {
  ReaderLock lock(mutex_);
  return DecryptReaderBlock(format, blockHex, keySerialHex, clearText, engine_ ? engine_->libctx.get() : nullptr);
}

}  // namespace paxelle
