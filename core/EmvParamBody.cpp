// The content of the EMV parameter download answer: every built-in key and
// application record, numbered from 1, then the host result's trailing lines.
#include "core/EmvParamBody.h"

#include "core/EmvParameters.h"
#include "core/ResponseDocuments.h"

namespace paxelle {
namespace {

std::string Line(const std::string& name, const std::string& value) { return MakeElement(name, value, 2, true); }

}  // namespace

void AppendEmvParamDownloadContent(CRequest& record, std::string& body, CServerContext& context) {
  record.LoadEmvParameters();

  int number = 1;
  for (const CaPublicKey& key : record.CaPublicKeys) {
    const std::string n = std::to_string(number++);
    body += Line("PKeyRID" + n, key.RID);
    body += Line("PKeyINDEX" + n, key.Index);
    body += Line("PKeyEXPONENT" + n, key.Exponent);
    body += Line("PKeyCHECK" + n, key.Check);
    body += Line("PKeyEXPDATE" + n, key.Expiry);
    body += Line("PKeyMOD" + n, key.Modulus);
  }
  number = 1;
  for (const AidParams& params : record.EmvAidParams) {
    AppendAidParamsElements(params, std::to_string(number++), body);
  }

  record.WriteEmvReport(context);

  body += Line("TranDate", record.TranDate);
  body += Line("TranTime", record.TranTime);
  body += Line("RefNo", record.HostRefNo);
  // The lane expects the sequence element even when the host interface left it empty.
  body += "\t\t<SequenceNo>" + record.SequenceNo + "</SequenceNo>\r\n";
}

}  // namespace paxelle
