// The client link's cryptography: the persistent RSA exchange key pair, the
// clients' RC4 session keys, the two login challenge keys, random bytes and
// encrypting card-reader data. Calls from many sessions run side by side.
#pragma once

#include "common/TrafficLog.h"
#include "core/RequestCrypto.h"
#include "common/Mutex.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

namespace paxelle {

class CMessageCrypto final : public IRequestCrypto {
 public:
  // Logs to `log`, which must outlive this object.
  explicit CMessageCrypto(CTrafficLog& log);
  // Shuts down.
  ~CMessageCrypto() override;
  CMessageCrypto(const CMessageCrypto&) = delete;
  CMessageCrypto& operator=(const CMessageCrypto&) = delete;

  // Opens (or creates) the exchange key pair in `keyStoreDirectory`, builds the
  // public key text and derives both challenge keys, logging every step. A key
  // file that cannot be read or parsed is deleted and a new pair generated.
  // False when any of that fails; the object is then not started. Calling it on
  // a started object starts it afresh.
  bool Startup(const std::filesystem::path& keyStoreDirectory);
  // Forgets every key (wiping the secret ones). Idempotent.
  void Shutdown();
  bool IsStarted() const;

  // DC1, the upper-case hexadecimal of the public key's PUBLICKEYBLOB, DC2;
  // empty before Startup. Stays the same across restarts on the same key store.
  std::string PublicKeyText() const;

  // Fills `buffer` with `count` random bytes; false when not started or the
  // generator fails. `buffer` must hold `count` bytes.
  bool GenerateRandom(std::size_t count, unsigned char* buffer);

  // RC4-encrypts `length` bytes at `buffer` in place with the standard (or the
  // alternate) challenge key, always from the key's initial state, so the same
  // bytes always give the same result. False when not started.
  bool EncryptChallenge(unsigned char* buffer, std::size_t length, bool alternate);

  // The session key comes from `keyBlobHex`, a SIMPLEBLOB holding an RC4 key
  // wrapped with this object's public key. A blob that does not unwrap, or a
  // malformed hexadecimal text, gives false with nothing logged; a cipher
  // failure is logged. `clearText` / `cipherHex` change only on success.
  bool DecryptWithSessionKey(const std::string& keyBlobHex, const std::string& cipherHex,
                             std::string& clearText) override;
  bool EncryptWithSessionKey(const std::string& keyBlobHex, const std::string& clearText,
                             std::string& cipherHex) override;

  // DUKPT decryption of an encrypting reader's block (needs no Startup).
  // Every decoded byte of the block goes to `clearText`; a failure's code is 100255
  // for a key serial number that is not 20 characters or has counter 0, 100254 for
  // a block text longer than 200 characters or of odd length, 1001 when the
  // cipher library fails. `clearText` changes only on success.
  Status DecryptCardData(const std::string& format, const std::string& blockHex,
                         const std::string& keySerialHex, std::string& clearText) override;

  // The file that holds the exchange key pair in a key store directory.
  static std::filesystem::path KeyFilePath(const std::filesystem::path& keyStoreDirectory);

 private:
  struct Engine;

  CTrafficLog& log_;
  // Startup and Shutdown replace the engine under the exclusive lock. Every
  // other call holds it shared: the engine's keys never change once it is
  // built, OpenSSL allows one key in many threads, and the session key cache
  // has a lock of its own.
  mutable SharedMutex mutex_;
  std::unique_ptr<Engine> engine_ GUARDED_BY(mutex_);  // present while started
};

// Turns a challenge key material, in place, into the bytes hashed for its key
// (the lane side does the same): byte i plus 2 when i is even, plus 1 when i
// is odd, with 8-bit wrap-around; a byte that comes out 0 becomes 1.
void PrepareChallengeMaterial(std::string& material);

}  // namespace paxelle
