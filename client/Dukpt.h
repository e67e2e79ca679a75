// Derived Unique Key Per Transaction of ANSI X9.24-1 with double-length TDEA
// keys: the key derivations a host needs to read an encrypting reader's data.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include <openssl/types.h>

namespace paxelle {

using DukptKey = std::array<unsigned char, 16>;
using KeySerialNumber = std::array<unsigned char, 10>;

// The transaction counter: the low 21 bits of the key serial number.
std::uint32_t TransactionCounter(const KeySerialNumber& ksn);

// Every derivation below uses the TDEA ciphers of `libctx` (nullptr: the
// library's default context) and returns false only when the cipher library
// fails; intermediate key material is wiped before returning.

// The initial key (IPEK) that `baseKey` gives the device of `ksn`.
bool DeriveInitialKey(const DukptKey& baseKey, const KeySerialNumber& ksn, DukptKey& initialKey,
                      OSSL_LIB_CTX* libctx = nullptr);

// The device's current key for the counter of `ksn`, derived from its initial
// key one set counter bit at a time, highest first. This is the key the device
// itself holds for that counter; a counter with more than ten one-bits, which
// a device never uses, still gets a well-defined key by the same steps.
bool DeriveCurrentKey(const DukptKey& initialKey, const KeySerialNumber& ksn, DukptKey& currentKey,
                      OSSL_LIB_CTX* libctx = nullptr);

// The data-encryption key of a current key: the data variant, then each half
// of the variant key encrypted under the whole variant key.
bool DeriveDataKey(const DukptKey& currentKey, DukptKey& dataKey, OSSL_LIB_CTX* libctx = nullptr);

// TDEA-CBC decryption in place with a zero initial vector over the whole
// 8-byte blocks of `data`; the bytes of a trailing partial block are left as
// they are.
bool DecryptDataBlocks(const DukptKey& dataKey, std::span<unsigned char> data,
                       OSSL_LIB_CTX* libctx = nullptr);

}  // namespace paxelle
