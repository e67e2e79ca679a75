// The administrative body of a result document: batch summary and close, and
// the frame of the EMV parameter download answer.
#include "core/ServerContext.h"
#include "core/EmvParamBody.h"
#include "core/ResponseBodies.h"
#include "core/ResponseDocuments.h"

namespace paxelle {
namespace {

std::string Line(std::string_view name, std::string_view value) { return MakeElement(name, value, 2, true); }

}  // namespace

void AppendBatchContent(const CRequest& record, std::string& body) {
  body += Line("BatchNo", record.BatchNo);
  body += Line("BatchItemCount", record.BatchItemCount);
  body += Line("NetBatchTotal", record.HostNetBatchTotal);
  body += Line("CreditCount", record.HostCreditCount);
  body += Line("CreditPurchaseAmount", record.HostCreditPurchaseAmount);
  body += Line("CreditReturnAmount", record.HostCreditReturnAmount);
  body += Line("NetCreditAmount", record.HostNetCreditAmount);
  body += Line("DebitCount", record.HostDebitCount);
  body += Line("DebitPurchaseAmount", record.HostDebitPurchaseAmount);
  body += Line("DebitReturnAmount", record.HostDebitReturnAmount);
  body += Line("NetDebitAmount", record.HostNetDebitAmount);
  body += Line("EBTCount", record.HostEBTCount);
  body += Line("EBTPurchaseAmount", record.HostEBTPurchaseAmount);
  body += Line("EBTReturnAmount", record.HostEBTReturnAmount);
  body += Line("NetEBTAmount", record.HostNetEBTAmount);
  body += Line("ControlNo", record.ControlNo);
}

std::string BuildAdminResponseBody(CRequest& record, CServerContext& context) {
  std::string element;
  bool batch = true;
  if (record.TranCodeId == kBatchSummary) {
    element = "BatchSummary";
  } else if (record.TranCodeId == kBatchClose) {
    element = "BatchClose";
  } else if (record.HostMsgKind == HostMessageKind::kEmvParams) {
    element = "EMVParamDownload";
    batch = false;
  } else {
    return {};
  }

  std::string body = "\t<" + element + ">\r\n";
  body += Line("MerchantID", context.params.GetParams().GetValue(kParamMerchantId));
  body += Line("TerminalID", record.TerminalID);
  body += Line("OperatorID", record.OperatorID);
  if (batch) {
    AppendBatchContent(record, body);
  } else {
    AppendEmvParamDownloadContent(record, body, context);
  }
  body += "\t</" + element + ">\r\n";
  return body;
}

}  // namespace paxelle
