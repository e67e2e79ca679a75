// The bodies that follow the command response in a result document: the
// TranResponse of a transaction and the administrative body of a batch or EMV
// parameter command.
#pragma once

#include "core/Request.h"

#include <string>

namespace paxelle {

class CMerchantParams;
class CServerContext;

// "\t<TranResponse>\r\n" ... "\t</TranResponse>\r\n" for a record the host
// answered; the account is masked, the expiry fully.
std::string BuildTranResponseBody(const CRequest& record, const CMerchantParams& params);

// The administrative body chosen by TranCodeId 18 / 19, else HostMsgKind kEmvParams:
// opening line, MerchantID, TerminalID, OperatorID, content, closing line.
// Empty for any other administrative record (the document then holds only
// its command response).
std::string BuildAdminResponseBody(CRequest& record, CServerContext& context);

// The batch fields of the host result, each only when non-empty, named
// without the "Host" prefix.
void AppendBatchContent(const CRequest& record, std::string& body);

}  // namespace paxelle
