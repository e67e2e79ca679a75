// The TranResponse body of a transaction's result document.
#include "common/AmountText.h"
#include "common/TextHelpers.h"
#include "config/MerchantParams.h"
#include "core/ResponseBodies.h"
#include "core/ResponseDocuments.h"

namespace paxelle {
namespace {

std::string Line(std::string_view name, std::string_view value) { return MakeElement(name, value, 2, true); }

std::string AmountLine(std::string_view name, const std::string& cents) {
  return cents.empty() ? std::string() : MakeElement(name, CentsToAmountText(cents), 3, true);
}

std::string WithoutTrailingBlanks(std::string text) {
  const auto last = text.find_last_not_of(' ');
  text.erase(last == std::string::npos ? 0 : last + 1);
  return text;
}

// Ids whose answer falls back to the AuthCode the lane sent (voice and
// pre-authorisations, vouchers) when the host gave none.


}  // namespace

std::string BuildTranResponseBody(const CRequest& record, const CMerchantParams& params) {
  const int id = record.TranCodeId;

  std::string out = "\t<TranResponse>\r\n";
  out += Line("MerchantID", params.GetValue(kParamMerchantId));
  out += Line("TerminalID", params.GetValue(kParamTerminalId));
  out += Line("AcctNo", MaskAccount(record.AcctNo));
  out += Line("ExpDate", MaskAll(record.ExpDate));
  out += Line("CardType", record.CardType);
  out += Line("TranCode", record.TranCode);

  std::string authCode = WithoutTrailingBlanks(record.HostAuthCode);
  if (authCode.empty() && TranCodeInfoOf(id).echoesRequestAuthCode) authCode = record.AuthCode;
  out += Line("AuthCode", authCode);
  if (id == kEbtVoucher) out += Line("VoucherNo", record.VoucherNo);
  if (record.Approved && TranCodeInfoOf(id).reportsCapture) {
    out += "\t\t<CaptureStatus>";
    out += record.Captured ? "Captured" : "NotCaptured";
    out += "</CaptureStatus>\r\n";
  }

  const std::string& refNo = record.HostRefNo.empty() ? record.RefNo : record.HostRefNo;
  out += "\t\t<RefNo>" + ReplaceAll(refNo, ' ', '_') + "</RefNo>\r\n";

  out += Line("InvoiceNo", record.InvoiceNo);
  out += Line("AVSResult", record.AVSResult);
  out += Line("CVVResult", record.CVVResult);
  out += Line("EMVResult", record.EMVResult);
  out += Line("OperatorID", record.OperatorID);
  out += Line("Memo", record.Memo);

  out += "\t\t<Amount>\r\n";
  out += AmountLine("Purchase", record.Purchase);
  out += AmountLine("Authorize", record.Authorize);
  out += AmountLine("Gratuity", record.Gratuity);
  out += AmountLine("CashBack", record.CashBack);
  out += MakeElement("Balance", record.Balance, 3, true);
  if (id == kCreditFsaSale || id == kCreditBalance || record.PartialAuthAllowed) {
    out += MakeElement("Balance", record.SecondBalance, 3, true);
  }
  out += MakeElement("FoodBalance", record.FoodBalance, 3, true);
  out += MakeElement("CashBalance", record.CashBalance, 3, true);
  out += "\t\t</Amount>\r\n";

  out += Line("AcqRefData", ReplaceAll(record.HostAcqRefData, ' ', '_'));
  out += "\t</TranResponse>\r\n";
  return out;
}

}  // namespace paxelle
