#include "core/ParseSupport.h"

#include "common/AmountText.h"
#include "common/TextHelpers.h"
#include "core/ReturnCodes.h"

namespace paxelle::parse {

bool TakeAmount(CRequest& record, const RequestFields& fields, std::string_view key, int code,
                AmountRule rule, std::string& cents) {
  std::string text;
  if (!fields.Lookup(key, text)) {
    return rule == AmountRule::kOptional ? true : Refuse(record, code);
  }
  if (!IsValidUnsignedAmount(text)) return Refuse(record, code);
  cents = AmountToCentsText(text);
  return true;
}

bool HasSignedAmount(const RequestFields& fields, std::string_view key) {
  std::string text;
  return fields.Lookup(key, text) && text.find_first_of("-+") != std::string::npos;
}

std::int64_t Cents(const std::string& cents) { return LeadingInteger(cents); }

bool TakeAccountText(CRequest& record, const RequestFields& fields, std::string& account) {
  std::string track;
  if (fields.Lookup("Track2", track)) {
    record.Swiped = true;
    if (track.size() > 37) return Refuse(record, kRcFieldMagStripe);
    record.Track2 = track;
    account = std::string(TrimBlanks(track));
    return true;
  }
  std::string keyed;
  if (!fields.Lookup("AcctNo", keyed)) return Refuse(record, kRcFieldAccount);
  account = std::string(TrimBlanks(keyed));
  return true;
}

void ApplyTrackRule(CRequest& record, const std::string& account, const std::string& keyedExpiry) {
  if (!record.Swiped) {
    record.AcctNo = account;
    record.ExpDate = keyedExpiry;
    return;
  }
  record.AcctNo = account;
  const auto equals = account.find('=');
  if (equals == std::string::npos) return;
  if (account.size() - equals - 1 >= 4) {
    const std::string yymm = account.substr(equals + 1, 4);
    record.ExpDate = yymm.substr(2, 2) + yymm.substr(0, 2);
  }
  record.AcctNo = account.substr(0, equals);
}

void TakeZipAndAddress(CRequest& record, const RequestFields& fields) {
  std::string zip;
  if (!fields.Lookup("Zip", zip)) return;
  record.Zip = std::string(FirstChars(zip, 9));
  record.HasZip = !record.Zip.empty();
  record.Address = std::string(FirstChars(Value(fields, "Address"), 20));
}

bool TakePinData(CRequest& record, const RequestFields& fields) {
  std::string pinBlock;
  if (!fields.Lookup("PINBlock", pinBlock) || pinBlock.size() != 16) {
    return Refuse(record, kRcFieldPinBlock);
  }
  std::string derivedKey;
  if (!fields.Lookup("DervdKey", derivedKey) || derivedKey.size() < 16 || derivedKey.size() > 20) {
    return Refuse(record, kRcFieldDervdKey);
  }
  record.PINBlock = pinBlock;
  record.DervdKey = derivedKey;
  return true;
}

std::string Value(const RequestFields& fields, std::string_view key) {
  std::string value;
  fields.Lookup(key, value);
  return value;
}

}  // namespace paxelle::parse
