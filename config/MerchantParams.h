// The merchant parameter set: 24 numbered, typed entries that are the server's
// whole configuration, read everywhere by entry number.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace paxelle {

// Type and length rules a parameter value must pass.
class CParamSpec {
 public:
  CParamSpec() = default;
  // `type` is one of "NS1", "YN1", "AN1", "AN2"; the length check follows from it.
  CParamSpec(std::string type, int minLength, int maxLength);

  bool Validate(std::string_view text) const;
  // The default derived from the type and minimum length.
  std::string DefaultValue() const;

  const std::string& Type() const { return type_; }
  int MinLength() const { return minLength_; }
  int MaxLength() const { return maxLength_; }
  bool LengthChecked() const { return lengthChecked_; }

  bool operator==(const CParamSpec& other) const = default;

 private:
  std::string type_;
  int minLength_ = 0;
  int maxLength_ = 0;
  bool lengthChecked_ = false;
};

struct CParamEntry {
  std::string name;
  std::string value;
  CParamSpec spec;

  bool operator==(const CParamEntry& other) const = default;
};

// Entry numbers with a meaning of their own, so callers need no magic numbers.
enum ParamEntry : int {
  kParamCount = 0,
  kParamMerchantId = 1,
  kParamTerminalId = 2,
  kParamCheckDigit = 3,
  kParamMerchantCategory = 4,
  kParamContactless = 5,
  kParamCustomerActivated = 6,
  kParamUsePassword = 7,
  kParamPassword = 8,
  kParamNoConnectOnStartup = 9,
  kParamVerifyCertificate = 10,
  kParamTrayWhenMinimized = 11,
  kParamBatchCloseOption = 12,
  kParamHostCloseTime = 13,
  kParamTransportMethod = 14,  // a TransportMethod
  kParamModemComPort = 15,
  kParamDialPrefix = 16,
  kParamPhoneNumber = 17,
  kParamConnectTimeout = 18,
  kParamEmvSupport = 19,
  kParamPartnerName = 20,
  kParamNumberOfLanes = 21,
  kParamLaneSpecial = 22,
  kParamLaneIds = 23,
};

// Values of entry 14 ("TRANSPORT METHOD").
enum TransportMethod : int {
  kTransportIpOnly = 0,
  kTransportIpWithDialBackup = 1,
  kTransportDialOnly = 2,
};

// The set of entries with its format version ("2"). A plain value.
class CMerchantParams {
 public:
  // A new set holds the defaults.
  CMerchantParams();
  // A set of exactly these entries and version, taken as given (nothing is
  // validated); for sets whose table differs from this build's, e.g. in tests.
  CMerchantParams(std::map<int, CParamEntry> entries, std::string version);

  // All 24 entries with their names, specifications and defaults; version "2".
  void Reset();
  // The entry's value, or empty text when there is no such entry.
  std::string GetValue(int number) const;
  // GetValue(number) read as a plain decimal number (empty reads 0).
  int GetNumber(int number) const;
  bool IsYes(int number) const;
  // Stores `text` only when it passes the entry's specification.
  bool SetValue(int number, std::string_view text);
  const std::string& Version() const { return version_; }
  const std::map<int, CParamEntry>& Entries() const { return entries_; }

  // The persisted line: version and every value, each followed by ";".
  std::string Serialize() const;
  // Resets, then loads the values of a line of this version; false (defaults
  // kept) for another version. A value that fails its entry keeps the default
  // and its entry is listed in RefusedEntries.
  bool Deserialize(std::string_view text);
  // The entries whose stored value failed its check at the last Deserialize, in order.
  const std::vector<int>& RefusedEntries() const { return refused_; }
  // Entry 1, 2, 3, 7 or 8 failed its check: the merchant, terminal or client
  // password the set names is not the one stored, and nothing may run under it.
  bool IdentityRefused() const;

  // Equal values and version; which stored values were refused does not count.
  bool operator==(const CMerchantParams& other) const {
    return entries_ == other.entries_ && version_ == other.version_;
  }

 private:
  std::map<int, CParamEntry> entries_;
  std::string version_;
  std::vector<int> refused_;
};

// Entries 1, 2, 3, 7 and 8: which merchant, terminal and lanes the server works for.
bool IsIdentityEntry(int number);

// The fields of a persisted line: text up to each ";" is one field (possibly
// empty), text after the last ";" one more; an empty line has no fields.
std::vector<std::string> SplitParamLine(std::string_view line);

}  // namespace paxelle
