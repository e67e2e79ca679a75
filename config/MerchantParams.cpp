#include "config/MerchantParams.h"

#include <algorithm>

#include "common/TextHelpers.h"

#include <array>

namespace paxelle {
namespace {

constexpr const char* kFormatVersion = "2";

struct EntryDefinition {
  int number;
  const char* name;
  const char* type;
  int minLength;
  int maxLength;
  const char* defaultValue;  // nullptr: derived from the entry's type and length rules
};

// Names are stored keys and stay exactly as they are, spelling included.
constexpr std::array<EntryDefinition, 24> kEntryTable{{
    {kParamCount, "NUMPARMS", "NS1", 1, 2, "23"},
    {kParamMerchantId, "MERCHANT ID", "NS1", 15, 15, nullptr},
    {kParamTerminalId, "TERMINAL ID", "NS1", 8, 8, nullptr},
    {kParamCheckDigit, "CHECK DIGIT", "NS1", 1, 1, nullptr},
    {kParamMerchantCategory, "MERCHANT CATEGORY", "NS1", 1, 2, "0"},
    {kParamContactless, "CONTACTLESS CAPABALE", "YN1", 0, 0, "N"},
    {kParamCustomerActivated, "CUSTOMER ACTIVATED", "YN1", 0, 0, "N"},
    {kParamUsePassword, "USE TOLA CLIENT/SERVER PASSWORD", "YN1", 0, 0, nullptr},
    {kParamPassword, "TOLA CLIENT/SERVER PASSWORD", "AN2", 0, 12, nullptr},
    {kParamNoConnectOnStartup, "DO NOT CONNECT TO HOST ON STARTUP", "YN1", 0, 0, "N"},
    {kParamVerifyCertificate, "VERIFY SSL CERTIFICATE", "YN1", 0, 0, "Y"},
    {kParamTrayWhenMinimized, "GO TO SYSTEM TRAY WHEN MINIMIZED", "YN1", 0, 0, "N"},
    {kParamBatchCloseOption, "Batch Close Option", "YN1", 0, 0, "N"},
    {kParamHostCloseTime, "Host Close Time", "NS1", 4, 4, "0400"},
    {kParamTransportMethod, "TRANSPORT METHOD", "NS1", 1, 2, "0"},
    {kParamModemComPort, "MODEM COM PORT", "NS1", 1, 3, "1"},
    {kParamDialPrefix, "DIAL PREFIX", "AN2", 0, 24, nullptr},
    {kParamPhoneNumber, "AUTHORIZATION PHONE NUMBER", "NS1", 1, 11, "18005550199"},
    {kParamConnectTimeout, "IP CONNECT TIMEOUT", "NS1", 1, 2, "3"},
    {kParamEmvSupport, "EMV SUPPORT", "NS1", 1, 1, "0"},
    {kParamPartnerName, "PARTNER NAME", "AN2", 1, 40, " "},
    {kParamNumberOfLanes, "NUMBER OF LANES", "NS1", 1, 2, "1"},
    {kParamLaneSpecial, "LANE SPECIAL", "AN1", 2, 6, nullptr},
    {kParamLaneIds, "LANE IDS", "AN2", 1, 300, nullptr},
}};

}  // namespace

std::vector<std::string> SplitParamLine(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (auto at = line.find(';'); at != std::string_view::npos; at = line.find(';', start)) {
    fields.emplace_back(line.substr(start, at - start));
    start = at + 1;
  }
  if (start < line.size()) fields.emplace_back(line.substr(start));
  return fields;
}

CMerchantParams::CMerchantParams() { Reset(); }

CMerchantParams::CMerchantParams(std::map<int, CParamEntry> entries, std::string version)
    : entries_(std::move(entries)), version_(std::move(version)) {}

void CMerchantParams::Reset() {
  entries_.clear();
  refused_.clear();
  version_ = std::string(kFormatVersion);  // a move: GCC 12 misreports assign from char*
  for (const EntryDefinition& definition : kEntryTable) {
    CParamSpec spec(definition.type, definition.minLength, definition.maxLength);
    std::string value = definition.defaultValue != nullptr ? std::string(definition.defaultValue)
                                                           : spec.DefaultValue();
    entries_[definition.number] = CParamEntry{definition.name, std::move(value), std::move(spec)};
  }
}

std::string CMerchantParams::GetValue(int number) const {
  const auto found = entries_.find(number);
  return found == entries_.end() ? std::string() : found->second.value;
}

int CMerchantParams::GetNumber(int number) const { return LeadingInt(GetValue(number)); }

bool CMerchantParams::IsYes(int number) const { return GetValue(number) == "Y"; }

bool CMerchantParams::SetValue(int number, std::string_view text) {
  const auto found = entries_.find(number);
  if (found == entries_.end() || !found->second.spec.Validate(text)) return false;
  found->second.value = std::string(text);
  return true;
}

std::string CMerchantParams::Serialize() const {
  std::string line = version_ + ";";
  for (const auto& [number, entry] : entries_) {
    if (number < 0 || number > kParamLaneIds) continue;
    line += entry.value;
    line += ';';
  }
  return line;
}

bool CMerchantParams::Deserialize(std::string_view text) {
  const std::vector<std::string> fields = SplitParamLine(text);
  const std::string version = fields.empty() ? std::string() : fields[0];
  Reset();
  if (version != version_) return false;
  for (int number = 0; number <= kParamLaneIds; ++number) {
    const auto index = static_cast<std::size_t>(number) + 1;
    if (!SetValue(number, index < fields.size() ? std::string_view(fields[index]) : std::string_view())) {
      refused_.push_back(number);
    }
  }
  return true;
}

bool IsIdentityEntry(int number) {
  return number == kParamMerchantId || number == kParamTerminalId || number == kParamCheckDigit ||
         number == kParamUsePassword || number == kParamPassword;
}

bool CMerchantParams::IdentityRefused() const {
  return std::any_of(refused_.begin(), refused_.end(), IsIdentityEntry);
}

}  // namespace paxelle
