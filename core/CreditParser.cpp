// Field parsers of the credit card families: keyed or swiped credit, and EMV chip credit.
#include "core/Request.h"

#include "common/AmountText.h"
#include "common/TextHelpers.h"
#include "core/CardChecks.h"
#include "core/ParseSupport.h"
#include "core/ReturnCodes.h"

#include <map>

namespace paxelle {

using parse::AmountRule;
using parse::Cents;
using parse::HasSignedAmount;
using parse::Refuse;
using parse::TakeAmount;
using parse::Value;

namespace {

int EmvCodeOf(const std::string& word) {
  static const std::map<std::string, int> codes = {
      {"EMVSale", kEmvSale},
      {"EMVReturn", kEmvReturn},
      {"EMVVoidSale", kEmvVoidSale},
      {"EMVVoidReturn", kEmvVoidReturn},
      {"EMVVoiceAuth", kEmvVoiceAuth},
      {"EMVAdjust", kEmvAdjust},
      {"EMVZeroAuth", kEmvZeroAuth},
      {"EMVOfflineDeclinedSale", kEmvOfflineDeclinedSale},
      {"EMVChipOverrideSale", kEmvChipOverrideSale},
      {"EMVTimeoutReversal", kEmvTimeoutReversal},
  };
  const auto it = codes.find(word);
  return it == codes.end() ? kTranNone : it->second;
}

int ReversibleEmvCodeOf(const std::string& word) {
  static const std::map<std::string, int> codes = {
      {"EMVSale", kEmvSale},
      {"EMVReturn", kEmvReturn},
      {"EMVVoidSale", kEmvVoidSale},
      {"EMVVoidReturn", kEmvVoidReturn},
      {"EMVVoiceAuth", kEmvVoiceAuth},
      {"EMVOfflineApprovedSale", kEmvOfflineApprovedSale},
      {"EMVChipOverrideSale", kEmvChipOverrideSale},
  };
  const auto it = codes.find(word);
  return it == codes.end() ? kTranNone : it->second;
}

// Account text, keyed expiry, Zip and Address: the same for credit and EMV credit.
bool TakeCardAndAddress(CRequest& record, const RequestFields& fields, std::string& account) {
  if (!parse::TakeAccountText(record, fields, account)) return false;
  if (!record.Swiped) {
    std::string expiry;
    if (!fields.Lookup("ExpDate", expiry) || expiry.size() != 4) {
      return Refuse(record, kRcFieldExpDate);
    }
  }
  parse::TakeZipAndAddress(record, fields);
  return true;
}

// "Tax" with its "CustomerCode", "CashBack", and the requested "Authorize".
bool TakeTaxCashBackAndRequestedAuthorize(CRequest& record, const RequestFields& fields) {
  if (fields.Has("Tax")) {
    if (!TakeAmount(record, fields, "Tax", kRcFieldTax, AmountRule::kRequired, record.Tax)) {
      return false;
    }
    std::string customer;
    if (fields.Lookup("CustomerCode", customer)) {
      record.CustomerCode = std::string(LastChars(customer, 17));
    }
  }
  if (!TakeAmount(record, fields, "CashBack", kRcFieldCashBack, AmountRule::kOptional,
                  record.CashBack)) {
    return false;
  }
  // An invalid requested amount is ignored, but a signed one is refused like any amount.
  return !HasSignedAmount(fields, "Authorize") || Refuse(record, kRcFieldAuthAmount);
}

// Purchase (required), Gratuity (optional); Authorize := Purchase + CashBack + Gratuity.
bool TakeSaleAmounts(CRequest& record, const RequestFields& fields, bool purchaseMustBeValid) {
  if (!fields.Has("Purchase")) return Refuse(record, kRcFieldPurchase);
  if (purchaseMustBeValid) {
    if (!TakeAmount(record, fields, "Purchase", kRcFieldPurchase, AmountRule::kRequired,
                    record.Purchase)) {
      return false;
    }
  } else {
    if (HasSignedAmount(fields, "Purchase")) return Refuse(record, kRcFieldPurchase);
    record.Purchase = AmountToCentsText(Value(fields, "Purchase"));
  }
  if (!TakeAmount(record, fields, "Gratuity", kRcFieldGratuity, AmountRule::kOptional,
                  record.Gratuity)) {
    return false;
  }
  record.Authorize =
      std::to_string(Cents(record.Purchase) + Cents(record.CashBack) + Cents(record.Gratuity));
  return true;
}

void ZeroAmounts(CRequest& record) {
  record.Purchase = "0";
  record.Authorize = "0";
  record.Gratuity.clear();
  record.CashBack.clear();
}

// Brand and check digit of the account the track rule left in AcctNo.
bool CheckAccount(CRequest& record) {
  if (DetectCardType(record.AcctNo) == "OTHER") return Refuse(record, kRcNotMajorCard);
  if (!LuhnValid(record.AcctNo)) return Refuse(record, kRcCheckDigit);
  return true;
}

// Reference data for voids and the lane's own AVS/CVV results.
void TakeReferenceData(CRequest& record, const RequestFields& fields) {
  std::string value;
  if (fields.Lookup("AcqRefData", value)) record.AcqRefData = ReplaceAll(value, '_', ' ');
  if (fields.Lookup("CVVData", value)) {
    record.CVVData = value;
    record.HasCVV = true;
  }
  if (fields.Lookup("CVVResult", value)) record.CVVResult = value;
  if (fields.Lookup("AVSResult", value)) record.AVSResult = value;
}

void Complete(CRequest& record, int code) {
  record.TranCodeId = code;
  record.TranCode = TranCodeWord(code);
  record.CardType = DetectCardType(record.AcctNo);
}

}  // namespace

bool CRequest::ParseCredit(const RequestFields& fields) {
  const int code = CreditTranCodeOf(Value(fields, "TranCode"));
  if (code == kTranNone) return Refuse(*this, kRcFieldTranCode);

  std::string account;
  if (!TakeCardAndAddress(*this, fields, account)) return false;

  struct HealthcareAmount {
    const char* key;
    int code;
    std::string* cents;
  };
  const HealthcareAmount healthcare[] = {
      {"FSAPrescription", kRcFieldPrescription, &FSAPrescription},
      {"FSAVision", kRcFieldVision, &FSAVision},
      {"FSADental", kRcFieldDental, &FSADental},
      {"FSAClinical", kRcFieldClinical, &FSAClinical},
  };
  for (const auto& amount : healthcare) {
    if (!TakeAmount(*this, fields, amount.key, amount.code, AmountRule::kOptional, *amount.cents)) {
      return false;
    }
  }

  if (account.size() <= 7) return Refuse(*this, kRcFieldAccount);
  if (!TakeTaxCashBackAndRequestedAuthorize(*this, fields)) return false;

  if (code == kCreditPreAuth || code == kCreditAuthOnly) {
    if (!TakeAmount(*this, fields, "Authorize", kRcFieldAuthAmount, AmountRule::kRequired, Authorize) ||
        !TakeAmount(*this, fields, "Purchase", kRcFieldPurchase, AmountRule::kRequired, Purchase) ||
        !TakeAmount(*this, fields, "Gratuity", kRcFieldGratuity, AmountRule::kOptional, Gratuity)) {
      return false;
    }
  } else if (code == kCreditZeroAuth) {
    ZeroAmounts(*this);
  } else {
    if (!TakeSaleAmounts(*this, fields, code != kCreditBalance)) return false;
    if (code == kCreditBalance) ZeroAmounts(*this);
  }
  if (code != kCreditZeroAuth && code != kCreditBalance && Cents(Authorize) <= 0) {
    return Refuse(*this, kRcFieldAuthAmount);
  }

  parse::ApplyTrackRule(*this, account, Value(fields, "ExpDate"));
  if (!CheckAccount(*this)) return false;

  AuthCode = std::string(FirstChars(Value(fields, "AuthCode"), 6));
  const bool needsAuthCode = code == kCreditVoidSale || code == kCreditVoiceAuth ||
                             code == kCreditPreAuthCapture || code == kCreditReverseFsaSale;
  if (needsAuthCode && AuthCode.empty()) return Refuse(*this, kRcFieldAuthCode);

  std::string invoice;
  if (fields.Lookup("InvoiceNo", invoice)) InvoiceNo = std::string(LastChars(invoice, 6));
  TakeReferenceData(*this, fields);
  Complete(*this, code);
  return true;
}

bool CRequest::ParseEmvCommon(const RequestFields& fields) {
  if (!fields.Lookup("EMVEntrySource", EMVEntrySource)) return Refuse(*this, kRcFieldEmvEntrySource);
  fields.Lookup("EMVData", EMVData);
  fields.Lookup("EMVAppID", EMVAppID);
  return true;
}

bool CRequest::ParseEmvCredit(const RequestFields& fields) {
  const int code = EmvCodeOf(Value(fields, "TranCode"));
  if (code == kTranNone) return Refuse(*this, kRcFieldTranCode);
  if (code == kEmvTimeoutReversal) {
    OriginalTranCodeId = ReversibleEmvCodeOf(Value(fields, "OriginalTranCode"));
    if (OriginalTranCodeId == kTranNone) return Refuse(*this, kRcFieldOriginalTranCode);
  }

  std::string account;
  if (!TakeCardAndAddress(*this, fields, account)) return false;
  if (account.size() <= 7) return Refuse(*this, kRcFieldAccount);
  if (!TakeTaxCashBackAndRequestedAuthorize(*this, fields)) return false;

  if (code == kEmvZeroAuth) {
    Authorize = "0";
    Purchase = "0";
    Gratuity = "0";
    CashBack.clear();
  } else {
    if (!TakeSaleAmounts(*this, fields, true)) return false;
    if (Cents(Authorize) <= 0) return Refuse(*this, kRcFieldAuthAmount);
  }

  parse::ApplyTrackRule(*this, account, Value(fields, "ExpDate"));
  if (!CheckAccount(*this)) return false;
  if (fields.Has("PINBlock") && !parse::TakePinData(*this, fields)) return false;

  AuthCode = std::string(LastChars(Value(fields, "AuthCode"), 6));
  const bool needsAuthCode =
      code == kEmvVoidSale || code == kEmvVoiceAuth || code == kEmvChipOverrideSale;
  if (needsAuthCode && AuthCode.empty()) return Refuse(*this, kRcFieldAuthCode);
  RefNo = std::string(FirstChars(Value(fields, "RefNo"), 16));
  const bool needsRefNo = code == kEmvVoidSale || code == kEmvVoidReturn || code == kEmvAdjust ||
                          code == kEmvChipOverrideSale;
  if (needsRefNo && RefNo.empty()) return Refuse(*this, kRcFieldRefNo);

  std::string invoice;
  if (fields.Lookup("InvoiceNo", invoice)) InvoiceNo = std::string(LastChars(invoice, 6));
  TakeReferenceData(*this, fields);
  Complete(*this, code);
  return true;
}

}  // namespace paxelle
