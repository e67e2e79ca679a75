#include "host/CertificateErrors.h"

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <cstdint>

namespace paxelle {
namespace {

TEST(CertificateErrorTextTest, EveryTableValueHasItsText) {
  const struct {
    std::uint32_t value;
    const char* text;
  } table[] = {
      {0x800B0101, "SSL Certificate is Expired."},
      {0x800B0102, "CERT_E_VALIDITYPERIODNESTING"},
      {0x800B0103, "CERT_E_ROLE"},
      {0x800B0104, "CERT_E_PATHLENCONST"},
      {0x800B0105, "CERT_E_CRITICAL"},
      {0x800B0106, "CERT_E_PURPOSE"},
      {0x800B0107, "CERT_E_ISSUERCHAINING"},
      {0x800B0108, "CERT_E_MALFORMED"},
      {0x800B0109, "SSL Certificate - Untrusted Root"},
      {0x800B010A, "CERT_E_CHAINING"},
      {0x800B010B, "TRUST_E_FAIL"},
      {0x800B010C, "SSL Certificate Has Been Revoked."},
      {0x800B010D, "CERT_E_UNTRUSTEDTESTROOT"},
      {0x800B010E, "CERT_E_REVOCATION_FAILURE"},
      {0x800B010F, "SSL Certificate Common Name Does Not Match."},
      {0x800B0110, "CERT_E_WRONG_USAGE"},
  };
  for (const auto& row : table) {
    EXPECT_STREQ(CertificateErrorText(row.value), row.text) << std::hex << row.value;
  }
}

TEST(CertificateErrorTextTest, ValuesOutsideTheTableAreUnknown) {
  for (std::uint32_t value : {0u, 7u, 0x800B0100u, 0x800B0111u, 0x80096004u, 0xFFFFFFFFu}) {
    EXPECT_STREQ(CertificateErrorText(value), "CERT_E_UNKNOWN") << std::hex << value;
  }
}

TEST(CertificateErrorMappingTest, VerificationResultsMapOntoChainErrors) {
  const struct {
    long verifyResult;
    std::uint32_t value;
  } table[] = {
      {X509_V_OK, 0},
      {X509_V_ERR_CERT_HAS_EXPIRED, kCertErrorExpired},
      {X509_V_ERR_CERT_NOT_YET_VALID, kCertErrorExpired},
      {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, kCertErrorUntrustedRoot},
      {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, kCertErrorUntrustedRoot},
      {X509_V_ERR_CERT_UNTRUSTED, kCertErrorUntrustedRoot},
      {X509_V_ERR_CERT_REJECTED, kCertErrorUntrustedRoot},
      {X509_V_ERR_CERT_REVOKED, kCertErrorRevoked},
      {X509_V_ERR_HOSTNAME_MISMATCH, kCertErrorCommonNameMismatch},
      {X509_V_ERR_IP_ADDRESS_MISMATCH, kCertErrorCommonNameMismatch},
      {X509_V_ERR_INVALID_PURPOSE, kCertErrorWrongUsage},
      {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, kCertErrorChaining},
      {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, kCertErrorChaining},
      {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, kCertErrorChaining},
      {X509_V_ERR_CERT_CHAIN_TOO_LONG, kCertErrorChaining},
      {X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY, kCertErrorMalformed},
      {X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD, kCertErrorMalformed},
      {X509_V_ERR_INVALID_EXTENSION, kCertErrorMalformed},
  };
  for (const auto& row : table) {
    EXPECT_EQ(CertificateErrorFromVerifyResult(row.verifyResult), row.value) << "verify result " << row.verifyResult;
  }
}

TEST(CertificateErrorMappingTest, AnUnmappedResultKeepsItsNumberAndReadsAsUnknown) {
  for (long result : {X509_V_ERR_CERT_SIGNATURE_FAILURE, X509_V_ERR_UNSPECIFIED, X509_V_ERR_CA_MD_TOO_WEAK}) {
    const std::uint32_t value = CertificateErrorFromVerifyResult(result);
    EXPECT_EQ(value, static_cast<std::uint32_t>(result));
    EXPECT_STREQ(CertificateErrorText(value), "CERT_E_UNKNOWN");
  }
}

}  // namespace
}  // namespace paxelle
