#include "host/CertificateErrors.h"

#include <openssl/x509_vfy.h>

namespace paxelle {

const char* CertificateErrorText(std::uint32_t value) {
  switch (value) {
    case kCertErrorExpired: return "SSL Certificate is Expired.";
    case kCertErrorValidityPeriodNesting: return "CERT_E_VALIDITYPERIODNESTING";
    case kCertErrorRole: return "CERT_E_ROLE";
    case kCertErrorPathLengthConstraint: return "CERT_E_PATHLENCONST";
    case kCertErrorCritical: return "CERT_E_CRITICAL";
    case kCertErrorPurpose: return "CERT_E_PURPOSE";
    case kCertErrorIssuerChaining: return "CERT_E_ISSUERCHAINING";
    case kCertErrorMalformed: return "CERT_E_MALFORMED";
    case kCertErrorUntrustedRoot: return "SSL Certificate - Untrusted Root";
    case kCertErrorChaining: return "CERT_E_CHAINING";
    case kCertErrorTrustFail: return "TRUST_E_FAIL";
    case kCertErrorRevoked: return "SSL Certificate Has Been Revoked.";
    case kCertErrorUntrustedTestRoot: return "CERT_E_UNTRUSTEDTESTROOT";
    case kCertErrorRevocationFailure: return "CERT_E_REVOCATION_FAILURE";
    case kCertErrorCommonNameMismatch: return "SSL Certificate Common Name Does Not Match.";
    case kCertErrorWrongUsage: return "CERT_E_WRONG_USAGE";
    default: return "CERT_E_UNKNOWN";
  }
}

std::uint32_t CertificateErrorFromVerifyResult(long verifyResult) {
  switch (verifyResult) {
    case X509_V_OK:
      return 0;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return kCertErrorExpired;
    // A root the trust store does not hold, or refuses.
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
      return kCertErrorUntrustedRoot;
    case X509_V_ERR_CERT_REVOKED:
      return kCertErrorRevoked;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return kCertErrorCommonNameMismatch;
    case X509_V_ERR_INVALID_PURPOSE:
      return kCertErrorWrongUsage;
    // No chain up to any root could be built.
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
    case X509_V_ERR_PATH_LOOP:
      return kCertErrorChaining;
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
    case X509_V_ERR_INVALID_EXTENSION:
    case X509_V_ERR_ISSUER_NAME_EMPTY:
    case X509_V_ERR_SUBJECT_NAME_EMPTY:
    case X509_V_ERR_EMPTY_SUBJECT_ALT_NAME:
    case X509_V_ERR_EXTENSIONS_REQUIRE_VERSION_3:
      return kCertErrorMalformed;
    default:
      return static_cast<std::uint32_t>(verifyResult);
  }
}

}  // namespace paxelle
