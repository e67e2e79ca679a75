// Field parsers of the administrative stream: batch commands, the EMV parameter
// download and the commands the server answers itself.
#include "core/Request.h"

#include "common/AmountText.h"
#include "common/TextHelpers.h"
#include "config/MerchantParams.h"
#include "core/ParseSupport.h"
#include "core/ReturnCodes.h"

namespace paxelle {

using parse::Refuse;
using parse::Value;

bool CRequest::ParseAdmin(const RequestFields& fields, const CMerchantParams& params) {
  std::string word;
  if (!fields.Lookup("TranCode", word)) return Refuse(*this, kRcFieldTranCode);
  const bool tranTypeOptional = word == "BatchSummary" || word == "BatchClose" ||
                                word == "ServerVersion" || word == "KeyChange";
  if (!tranTypeOptional && Value(fields, "TranType") != "Administrative") {
    return Refuse(*this, kRcFieldTranCode);
  }

  int code = kTranNone;
  if (word == "BatchSummary") {
    HostMsgKind = HostMessageKind::kBatch;
    code = kBatchSummary;
  } else if (word == "BatchClose") {
    if (!ParseBatchClose(fields, params)) return false;
    code = kBatchClose;
  } else if (word == "ServerVersion") {
    code = kServerVersion;
  } else if (word == "EMVParamDownload") {
    code = kEmvParamDownload;
  } else if (word == "GetPaxelleParms") {
    code = kGetPaxelleParms;
  } else {
    return Refuse(*this, kRcFieldTranCode);
  }
  TranCodeId = code;
  TranCode = TranCodeWord(code);
  return true;
}

bool CRequest::ParseBatchClose(const RequestFields& fields, const CMerchantParams& params) {
  if (params.IsYes(kParamBatchCloseOption)) {
    HostErrorText = "Merchant setting does not allow Merchant Initiated Batch Close.";
    return Refuse(*this, kRcHostError);
  }
  Disposition = kDispositionBatchClose;
  HostMsgKind = HostMessageKind::kBatch;

  fields.Lookup("CreditCount", CreditCount);
  fields.Lookup("DebitCount", DebitCount);
  fields.Lookup("EBTCount", EBTCount);
  struct Total {
    const char* key;
    std::string* cents;
  };
  const Total totals[] = {
      {"CreditPurchaseAmount", &CreditPurchaseAmount}, {"CreditReturnAmount", &CreditReturnAmount},
      {"NetCreditAmount", &NetCreditAmount},           {"DebitPurchaseAmount", &DebitPurchaseAmount},
      {"DebitReturnAmount", &DebitReturnAmount},       {"NetDebitAmount", &NetDebitAmount},
      {"EBTPurchaseAmount", &EBTPurchaseAmount},       {"EBTReturnAmount", &EBTReturnAmount},
      {"NetEBTAmount", &NetEBTAmount},
  };
  std::string text;
  for (const auto& total : totals) {
    // The lane's own net totals may be negative; the host field carries the magnitude.
    if (fields.Lookup(total.key, text)) *total.cents = AmountToCentsText(text);
  }
  if (fields.Lookup("NetBatchTotal", text)) NetBatchTotal = std::string(LastChars(text, 11));

  TranCodeId = kBatchClose;
  TranCode = TranCodeWord(kBatchClose);
  return true;
}

}  // namespace paxelle
