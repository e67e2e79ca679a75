// The certificate-chain error values the host link reports when the host's certificate
// fails its check, their operator texts, and the mapping from OpenSSL's verification
// results onto them.
#pragma once

#include <cstdint>

namespace paxelle {

// The chain error values (CERT_E_* and TRUST_E_FAIL), as the link's error code carries them.
enum CertificateError : std::uint32_t {
  kCertErrorExpired = 0x800B0101,
  kCertErrorValidityPeriodNesting = 0x800B0102,
  kCertErrorRole = 0x800B0103,
  kCertErrorPathLengthConstraint = 0x800B0104,
  kCertErrorCritical = 0x800B0105,
  kCertErrorPurpose = 0x800B0106,
  kCertErrorIssuerChaining = 0x800B0107,
  kCertErrorMalformed = 0x800B0108,
  kCertErrorUntrustedRoot = 0x800B0109,
  kCertErrorChaining = 0x800B010A,
  kCertErrorTrustFail = 0x800B010B,
  kCertErrorRevoked = 0x800B010C,
  kCertErrorUntrustedTestRoot = 0x800B010D,
  kCertErrorRevocationFailure = 0x800B010E,
  kCertErrorCommonNameMismatch = 0x800B010F,
  kCertErrorWrongUsage = 0x800B0110,
};

// The operator text of a chain error value; "CERT_E_UNKNOWN" for any value outside the table.
const char* CertificateErrorText(std::uint32_t value);

// The chain error value for an OpenSSL verification result (X509_V_ERR_*): 0 for
// X509_V_OK; a result with no equivalent keeps its own number, which the text table
// answers with "CERT_E_UNKNOWN".
std::uint32_t CertificateErrorFromVerifyResult(long verifyResult);

}  // namespace paxelle
