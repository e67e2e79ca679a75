// Decryption of an encrypting card reader's block (DUKPT, double-length TDEA)
// with the base derivation key of the reader's family.
#pragma once

#include "common/Status.h"

#include <string>

#include <openssl/types.h>

namespace paxelle {

// The work behind CMessageCrypto::DecryptCardData, whose lock the caller holds;
// same inputs, result codes and guarantees. `libctx` supplies the TDEA ciphers
// (nullptr: the library's default context).
Status DecryptReaderBlock(const std::string& format, const std::string& blockHex,
                          const std::string& keySerialHex, std::string& clearText, OSSL_LIB_CTX* libctx);

}  // namespace paxelle
