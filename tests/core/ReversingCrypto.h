// A stand-in for the client link's session-key crypto: the "ciphertext" is the
// upper-case hexadecimal text of the clear text reversed, and only one key blob
// is accepted. Built on a server context, it is that context's request
// cryptography for its lifetime.
#pragma once

#include "core/RequestCrypto.h"
#include "core/ServerContext.h"

#include <algorithm>
#include <string>

namespace paxelle::testing {

inline const std::string kSessionKeyHex = "0102A0B0";

// The double's transformation, for writing expected frames.
inline std::string HexOfReversed(std::string text) {
  static const char digits[] = "0123456789ABCDEF";
  std::reverse(text.begin(), text.end());
  std::string hex;
  for (unsigned char c : text) {
    hex += digits[c >> 4];
    hex += digits[c & 0x0f];
  }
  return hex;
}

class ReversingCrypto : public IRequestCrypto {
 public:
  ReversingCrypto() = default;
// The destructor takes the pointer back before the object goes; GCC cannot see that.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
  explicit ReversingCrypto(CServerContext& context) : context_(&context), previous_(context.requestCrypto) {
    context.requestCrypto = this;
  }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
  ~ReversingCrypto() override {
    if (context_ != nullptr) context_->requestCrypto = previous_;
  }
  ReversingCrypto(const ReversingCrypto&) = delete;
  ReversingCrypto& operator=(const ReversingCrypto&) = delete;

  bool failEncryption = false;
  int decryptCalls = 0;
  std::string seenKey;
  std::string seenCipher;

  bool DecryptWithSessionKey(const std::string& keyBlobHex, const std::string& cipherHex,
                             std::string& clearText) override {
    ++decryptCalls;
    seenKey = keyBlobHex;
    seenCipher = cipherHex;
    if (keyBlobHex != kSessionKeyHex || cipherHex.empty() || cipherHex.size() % 2 != 0) return false;
    std::string bytes;
    for (std::size_t i = 0; i < cipherHex.size(); i += 2) {
      int high = Nibble(cipherHex[i]);
      int low = Nibble(cipherHex[i + 1]);
      if (high < 0 || low < 0) return false;
      bytes += static_cast<char>(high * 16 + low);
    }
    std::reverse(bytes.begin(), bytes.end());
    clearText = bytes;
    return true;
  }

  bool EncryptWithSessionKey(const std::string& keyBlobHex, const std::string& clearText,
                             std::string& cipherHex) override {
    if (failEncryption || keyBlobHex != kSessionKeyHex) return false;
    cipherHex = HexOfReversed(clearText);
    return true;
  }

  Status DecryptCardData(const std::string&, const std::string&, const std::string&, std::string&) override {
    return Status::Failure("", 100254);
  }

 private:
  static int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  CServerContext* context_ = nullptr;
  IRequestCrypto* previous_ = nullptr;
};

}  // namespace paxelle::testing
