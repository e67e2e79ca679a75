// The cryptography the transaction record needs from the client link: session-key
// decryption of requests, encryption of responses, and card-reader decryption.
// The client link's CMessageCrypto implements it and the server context carries
// it, so the core never depends on the client library.
#pragma once

#include "common/Status.h"

#include <string>

namespace paxelle {

class IRequestCrypto {
 public:
  virtual ~IRequestCrypto() = default;

  // Decrypts the hexadecimal ciphertext with the session key wrapped in the
  // hexadecimal key blob; the clear text stops at the first zero byte.
  virtual bool DecryptWithSessionKey(const std::string& keyBlobHex, const std::string& cipherHex,
                                     std::string& clearText) = 0;
  // Encrypts the clear text with the session key; the result is hexadecimal.
  virtual bool EncryptWithSessionKey(const std::string& keyBlobHex, const std::string& clearText,
                                     std::string& cipherHex) = 0;
  // Decrypts an encrypting card reader's block into the clear text. A failure's
  // code is the request return code of the defect (100254 block, 100255 key serial number).
  virtual Status DecryptCardData(const std::string& format, const std::string& blockHex,
                                 const std::string& keySerialHex, std::string& clearText) = 0;
};

}  // namespace paxelle
