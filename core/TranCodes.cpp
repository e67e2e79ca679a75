#include "core/TranCodes.h"

namespace paxelle {

const char* TranCodeWord(int tranCodeId) {
  switch (tranCodeId) {
    case kCreditSale:
    case kDebitSale:
    case kEbtFoodSale:
    case kEbtCashSale:
    case kCheckPersonal:
    case kCheckCompany:
      return "Sale";
    case kCreditReturn:
    case kDebitReturn:
    case kEbtFoodReturn:
      return "Return";
    case kCreditVoidSale: return "VoidSale";
    case kCreditVoidReturn: return "VoidReturn";
    case kCreditVoiceAuth: return "VoiceAuth";
    case kCreditPreAuth:
    case kDebitPreAuth:
      return "PreAuth";
    case kCreditAuthOnly: return "AuthOnly";
    case kCreditZeroAuth: return "ZeroAuth";
    case kCreditPreAuthCapture:
    case kDebitPreAuthCapture:
      return "PreAuthCapture";
    case kCreditFsaSale: return "FSASale";
    case kCreditReverseFsaSale: return "ReverseFSASale";
    case kCreditBalance:
    case kEbtBalance:
      return "Balance";
    case kBatchSummary: return "BatchSummary";
    case kBatchClose: return "BatchClose";
    case kEbtVoucher: return "Voucher";
    case kEmvParamDownload: return "EMVParamDownload";
    case kEmvSale: return "EMVSale";
    case kEmvReturn: return "EMVReturn";
    case kEmvVoidSale: return "EMVVoidSale";
    case kEmvVoidReturn: return "EMVVoidReturn";
    case kEmvVoiceAuth: return "EMVVoiceAuth";
    case kEmvZeroAuth: return "EMVZeroAuth";
    case kEmvChipOverrideSale: return "EMVChipOverrideSale";
    case kEmvTimeoutReversal: return "EMVTimeoutReversal";
    case kServerVersion: return "ServerVersion";
    case kGetPaxelleParms: return "GetPaxelleParms";
    default: return "INVALID";
  }
}

bool IsFinancialTraffic(int tranCodeId) {
  switch (tranCodeId) {
    case kCreditSale:
    case kCreditPreAuth:
    case kCreditAuthOnly:
    case kCreditZeroAuth:
    case kCreditFsaSale:
    case kDebitSale:
    case kDebitPreAuth:
    case kEbtFoodSale:
    case kEbtCashSale:
    case kEbtVoucher:
    case kEmvSale:
    case kEmvZeroAuth:
      return true;
    default:
      return false;
  }
}

}  // namespace paxelle
