// The two kinds of EMV terminal parameters a record can carry to a lane.
#pragma once

#include <string>

namespace paxelle {

// One certification-authority public key of a card scheme.
struct CaPublicKey {
  std::string RID;       // 10 hex digits
  std::string Index;     // 2 hex digits
  std::string Modulus;   // hex
  std::string Exponent;  // hex
  std::string Check;     // 40 hex digits, SHA-1 of RID, index, modulus, exponent
  std::string Expiry;    // DDMMYY

  bool operator==(const CaPublicKey&) const = default;
};

// The application parameters of one scheme, contact and contactless.
struct AidParams {
  std::string RID;
  std::string AidList;
  std::string FloorLimit;
  std::string RSThreshold;
  std::string TargetRSPercent;
  std::string MaxTargetRSPercent;
  std::string FallBackIndicator;
  std::string TACDefault;
  std::string TACDenial;
  std::string TACOnline;
  std::string DefaultDDOL;
  std::string DefaultTDOL;
  std::string TerminalCapabilities;
  std::string AdditionalCapabilities;
  std::string MerchantType;
  std::string CtlsAidList;
  std::string CtlsFloorLimit;
  std::string CtlsTranLimit;
  std::string CtlsCVMLimit;
  std::string CtlsTACDefault;
  std::string CtlsTACDenial;
  std::string CtlsTACOnline;
  std::string CtlsTerminalCapabilities;
  std::string CtlsAdditionalCapabilities;

  bool operator==(const AidParams&) const = default;
};

}  // namespace paxelle
