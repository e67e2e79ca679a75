// Field parsers of the PIN debit, EBT and check families.
#include "core/Request.h"

#include "common/TextHelpers.h"
#include "core/ParseSupport.h"
#include "core/ReturnCodes.h"

namespace paxelle {

using parse::AmountRule;
using parse::Cents;
using parse::Refuse;
using parse::TakeAmount;
using parse::Value;

namespace {

bool SumIsPositive(CRequest& record, std::int64_t cents) {
  record.Authorize = std::to_string(cents);
  return cents > 0 ? true : Refuse(record, kRcFieldAuthAmount);
}

}  // namespace

bool CRequest::ParseDebit(const RequestFields& fields) {
  const std::string word = Value(fields, "TranCode");
  const int code = word == "Sale" ? kDebitSale : word == "Return" ? kDebitReturn : kTranNone;
  if (code == kTranNone) return Refuse(*this, kRcFieldTranCode);

  std::string track;
  if (!fields.Lookup("Track2", track) || track.size() < 8 || track.size() > 37) {
    return Refuse(*this, kRcFieldMagStripe);
  }
  Swiped = true;

  if (!TakeAmount(*this, fields, "Purchase", kRcFieldPurchase, AmountRule::kRequired, Purchase) ||
      !TakeAmount(*this, fields, "Gratuity", kRcFieldGratuity, AmountRule::kOptional, Gratuity) ||
      !TakeAmount(*this, fields, "CashBack", kRcFieldCashBack, AmountRule::kOptional, CashBack)) {
    return false;
  }
  if (CashBack.size() > 7) return Refuse(*this, kRcFieldCashBack);
  if (!SumIsPositive(*this, Cents(Purchase) + Cents(Gratuity) + Cents(CashBack))) return false;
  if (!parse::TakePinData(*this, fields)) return false;

  const auto equals = track.find('=');
  AcctNo = equals == std::string::npos ? std::string() : track.substr(0, equals);
  Track2 = track;
  TranCodeId = code;
  TranCode = TranCodeWord(code);
  CardType = "DEBIT";
  HostMsgKind = HostMessageKind::kDebit;
  return true;
}

bool CRequest::ParseEbt(const RequestFields& fields) {
  std::string word;
  if (!fields.Lookup("TranCode", word)) return Refuse(*this, kRcFieldTranCode);
  const std::string cardType = Value(fields, "CardType");
  if (cardType != "Foodstamp" && cardType != "Cash") return Refuse(*this, kRcFieldCardType);

  int code = kTranNone;
  if (cardType == "Foodstamp") {
    code = word == "Sale"      ? kEbtFoodSale
           : word == "Return"  ? kEbtFoodReturn
           : word == "Voucher" ? kEbtVoucher
           : word == "Balance" ? kEbtBalance
                               : kTranNone;
  } else {
    code = word == "Sale" ? kEbtCashSale : word == "Balance" ? kEbtBalance : kTranNone;
  }
  if (code == kTranNone) return Refuse(*this, kRcFieldTranCode);

  std::string account;
  if (!parse::TakeAccountText(*this, fields, account)) return false;
  std::string expiry;
  if (!Swiped) {
    if (!fields.Lookup("ExpDate", expiry)) {
      expiry = "1249";  // keyed EBT cards carry no expiry; the host expects one
    } else if (expiry.size() != 4) {
      return Refuse(*this, kRcFieldExpDate);
    }
  }
  if (account.size() <= 7) return Refuse(*this, kRcFieldAccount);

  if (code != kEbtBalance) {
    if (!TakeAmount(*this, fields, "Purchase", kRcFieldPurchase, AmountRule::kRequired, Purchase)) {
      return false;
    }
    if (fields.Has("CashBack")) {
      if (code != kEbtCashSale) return Refuse(*this, kRcFieldCashBack);
      if (!TakeAmount(*this, fields, "CashBack", kRcFieldCashBack, AmountRule::kRequired, CashBack)) {
        return false;
      }
    }
    if (!SumIsPositive(*this, Cents(Purchase) + Cents(CashBack))) return false;
  }

  if (code == kEbtVoucher) {
    std::string authCode;
    if (!fields.Lookup("AuthCode", authCode) || authCode.empty()) {
      return Refuse(*this, kRcFieldAuthCode);
    }
    AuthCode = std::string(FirstChars(authCode, 6));
    if (!fields.Lookup("VoucherNo", VoucherNo) || VoucherNo.empty()) {
      return Refuse(*this, kRcFieldVoucherNo);
    }
  } else if (!parse::TakePinData(*this, fields)) {
    return false;
  }

  parse::ApplyTrackRule(*this, account, expiry);
  TranCodeId = code;
  TranCode = TranCodeWord(code);
  CardType = cardType;
  return true;
}

bool CRequest::ParseCheck(const RequestFields& fields) {
  if (Value(fields, "TranCode") != "Sale") return Refuse(*this, kRcFieldTranCode);

  std::string checkType = "PersonalCheck";
  fields.Lookup("CardType", checkType);
  if (checkType != "PersonalCheck" && checkType != "CompanyCheck") {
    return Refuse(*this, kRcFieldCardType);
  }
  CardType = checkType;
  const int code = checkType == "CompanyCheck" ? kCheckCompany : kCheckPersonal;

  std::string micr;
  if (!fields.Lookup("MICR", micr)) return Refuse(*this, kRcMicrRequired);
  if (micr != "Reader" && micr != "Keyed") return Refuse(*this, kRcFieldMicrType);
  if (micr == "Reader") Swiped = true;

  if (!fields.Lookup("RoutingNo", RoutingNo) || RoutingNo.size() != 9) {
    return Refuse(*this, kRcFieldRoutingNo);
  }
  if (!fields.Lookup("AcctNo", AcctNo)) return Refuse(*this, kRcFieldAccount);
  std::string sequence;
  if (!fields.Lookup("SequenceNo", sequence)) return Refuse(*this, kRcFieldSequenceNo);
  SequenceNo = std::string(FirstChars(sequence, 10));
  if (!fields.Lookup("StateCode", StateCode) || StateCode.size() != 2) {
    return Refuse(*this, kRcFieldStateCode);
  }

  if (!TakeAmount(*this, fields, "Purchase", kRcFieldPurchase, AmountRule::kRequired, Purchase)) {
    return false;
  }
  if (!SumIsPositive(*this, Cents(Purchase))) return false;

  std::string value;
  if (fields.Lookup("RefNo", value)) RefNo = std::string(FirstChars(value, 16));
  if (fields.Lookup("InvoiceNo", value)) InvoiceNo = std::string(FirstChars(value, 16));
  TranCodeId = code;
  TranCode = TranCodeWord(code);
  return true;
}

}  // namespace paxelle
