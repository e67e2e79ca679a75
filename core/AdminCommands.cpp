// The locally answered administrative commands: their documents and wire form.
#include "core/AdminCommands.h"

#include "common/TextHelpers.h"
#include "core/EmvParameters.h"
#include "core/MessageFrame.h"
#include "core/RequestCrypto.h"
#include "core/ResponseDocuments.h"
#include "core/ReturnCodes.h"
#include "core/ServerContext.h"
#include "core/Version.h"

namespace paxelle {
namespace {

constexpr const char* kVersionCode = "500000";
constexpr const char* kParamsCode = "500001";
constexpr std::size_t kRidLength = 10;
constexpr std::size_t kVersionNumberLength = 7;  // "WH 5.10"

// Error answers are never encrypted: a failed encryption is reported in clear.
std::string EncryptAndFrame(CRequest& record, const std::string& document, IRequestCrypto* crypto) {
  std::string cipher;
  if (crypto != nullptr && crypto->EncryptWithSessionKey(record.ClientKeyBlob, document, cipher)) {
    record.WireResponse = FrameMessage(cipher, true);
    return record.WireResponse;
  }
  record.Disposition = kDispositionError;
  record.ReturnCode = kRcEncryptFailed;
  int code = record.ReturnCode;
  record.TextResponse = ReturnCodeText(code, record.HostErrorText);
  CommandResponse error;
  error.origin = "Server";
  error.code = SixDigitCode(code);
  error.statusLetter = 'E';
  error.text = record.TextResponse;
  error.userTraceData = record.UserTraceData;
  record.WireResponse = FrameMessage(BuildCommandDocument(error), false);
  return record.WireResponse;
}

std::string Answer(CRequest& record, const char* code, std::string_view text, const std::string& body,
                   IRequestCrypto* crypto) {
  CommandResponse response;
  response.origin = "Server";
  response.code = code;
  response.statusLetter = 'S';
  response.text = std::string(text);
  response.userTraceData = record.UserTraceData;

  std::string document(kDocumentStart);
  document += BuildCommandFragment(response);
  document += body;
  document += kDocumentEnd;
  return EncryptAndFrame(record, document, crypto);
}

}  // namespace

std::string BuildServerVersion(CRequest& record, IRequestCrypto* crypto) {
  std::string body = "\t<ServerVersion>\r\n";
  body += "\t\t<ProductName>Paxelle</ProductName>\r\n";
  body += "\t\t<ProductClass>Host Based</ProductClass>\r\n";
  body += "\t\t<Provider>WorldPay</Provider>\r\n";
  body += "\t\t<ProductVersion>";
  body += LastChars(kServerVersionText, kVersionNumberLength);
  body += "</ProductVersion>\r\n";
  body += "\t</ServerVersion>\r\n";
  return Answer(record, kVersionCode, kServerVersionText, body, crypto);
}

std::string BuildPaymentTypes(CRequest& record, const CServerContext& context) {
  const int emvSupport = context.params.GetParams().GetNumber(kParamEmvSupport);
  const char* types = emvSupport == 1 ? "Credit" : emvSupport == 2 ? "Credit,Debit" : "None";

  // The element is spelled "Params" although the command is "GetPaxelleParms".
  std::string body = "\t<GetPaxelleParams>\r\n";
  body += "\t<PaymentTypes>";
  body += types;
  body += "</PaymentTypes>\r\n";
  body += "\t</GetPaxelleParams>\r\n";
  return Answer(record, kParamsCode, "Success", body, context.requestCrypto);
}

std::string BuildOfflineDecline(CRequest& record, IRequestCrypto* crypto) {
  const AidParams params = EmvAidParamsFor(std::string(FirstChars(record.EMVAppID, kRidLength)));
  std::string body = "\t<OfflineDecline>\r\n";
  AppendAidParamsElements(params, "1", body);
  body += "\t</OfflineDecline>\r\n";
  return Answer(record, kVersionCode, kServerVersionText, body, crypto);
}

}  // namespace paxelle
