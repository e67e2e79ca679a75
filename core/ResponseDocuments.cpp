// Return-code texts, the command response layouts, and the record's response
// operations: error answer, result document, wire form.
#include "core/ResponseDocuments.h"

#include "common/LogText.h"
#include "common/TrafficLog.h"
#include "core/MessageFrame.h"
#include "core/Request.h"
#include "core/RequestCrypto.h"
#include "core/ResponseBodies.h"
#include "core/ReturnCodes.h"
#include "core/ServerContext.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace paxelle {
namespace {

struct CodeText {
  int code;
  const char* text;
};

// Sorted by code.
constexpr CodeText kCodeTexts[] = {
    {100, "Card Type Not Accepted"},
    {1001, "General Failure."},
    {1003, "Invalid Command Format."},
    {1004, "Insufficient Fields "},
    {1006, "WorldPay API Not Initialized."},
    {1007, "Timeout on Response"},
    {1010, "User Abort."},
    {1011, "Empty command string."},
    {4001, "WorldPay Response Length Error(too short)."},
    {kRcUnattributableResponse, "Unable to parse response from WorldPay(Tran Type not distinguishable)."},
    {4004, "Weak Encryption Request NOT supported."},
    {4005, "Clear Text Request NOT supported."},
    {4006, "Old Client NOT Supported"},
    {4010, "Unrecognized Request Format."},
    {4011, "Error occured while decrypting request."},
    {4015, "Batch Settlement in Progress."},
    {4017, "Invalid Check Digit. Check Acct Number."},
    {4018, "Merchant ID Missing."},
    {4019, "TStream Type Missing."},
    {4020, "Internal Server Error! Could Not Encrypt Response CALL PROVIDER."},
    {4021, "Data MUST BE Magnetically Entered."},
    {4022, "Invoice Number Missing."},
    {4023, "Reference Number Missing."},
    {4024, "Internal Server Error - Auth Thread Failed to Start Retry Trans/Restart Paxelle!"},
    {4025, "Data MUST BE MICR ID."},
    {4027, "Paxelle is Being Requested to ShutDown Restart Paxelle!"},
    {4029, "Merchant Category does not support this Transaction!"},
    {4030, "Pin Pad Serial Number Missing"},
    {4040, "Only Major Credit Cards Accepted."},
    {4101, "This TranType MUST BE sent to Port 9000."},
    {4102, "This TranType MUST BE sent to Port 9100."},
    {4201, "OPXCLientX Upgrade Required"},
    {4301, "EMV is Not Enabled"},
};

// Field errors: the text after "Invalid Field - ". Sorted by code.
constexpr CodeText kFieldTexts[] = {
    {100201, "Transaction Type"},
    {100202, "Operator Id"},
    {100203, "Memo"},
    {100204, "Account Number"},
    {100205, "Expiration Date"},
    {100206, "Auth Code"},
    {100207, "Reference Number"},
    {100208, "Auth Amount"},
    {100209, "Cash Back Amount"},
    {100210, "Gratuity Amount"},
    {100211, "Purchase Amount"},
    {100212, "Mag Stripe"},
    {100213, "Pin Block"},
    {100214, "DervdKey"},
    {100215, "State Code"},
    {100216, "Date of Birth"},
    {100217, "CheckType"},
    {100218, "Routing #"},
    {100219, "Invalid TranCode."},
    {100220, "Merchant ID."},
    {100221, "TStream Type."},
    {100222, "Batch Number"},
    {100223, "Batch Item Count."},
    {100224, "MICR Input Type"},
    {100225, "Driver's License"},
    {100226, "Sequence Number"},
    {100228, "Card Type"},
    {100229, "Voucher No"},
    {100230, "Tax Amount"},
    {100231, "MAC Value"},
    {100232, "Account Selection"},
    {100233, "Sequence Number"},
    {100239, "Item Code"},
    {100240, "Item Quantity"},
    {100241, "Unit Cost"},
    {100242, "Invalid Field TerminalID"},
    {100243, "Pin Pad Serial Number"},
    {100244, "Total Item Cost"},
    {100245, "EMV Entry Data Source"},
    {100246, "Invalid Original TranCode."},
    {100248, "Prescription Amount"},
    {100249, "Vision Amount"},
    {100250, "Dental Amount"},
    {100251, "Clinical/Other Amount"},
    {100252, "Encrypted Format"},
    {100253, "Account Source"},
    {100254, "Encrypted Block"},
    {100255, "Encrypted Key"},
    {100256, "Frequency"},
    {100257, "Lane ID"},
};

const char* FindText(const CodeText* begin, const CodeText* end, int code) {
  const CodeText* found =
      std::lower_bound(begin, end, code, [](const CodeText& row, int wanted) { return row.code < wanted; });
  return found != end && found->code == code ? found->text : nullptr;
}


std::string CommandLines(const CommandResponse& response, const std::string& extraBlock) {
  std::string out = "\t<CmdResponse>\r\n";
  out += "\t\t<ResponseOrigin>" + response.origin + "</ResponseOrigin>\r\n";
  out += "\t\t<OPXXReturnCode>" + response.code + "</OPXXReturnCode>\r\n";
  out += "\t\t<CmdStatus>" + CmdStatusText(response.statusLetter) + "</CmdStatus>\r\n";
  out += "\t\t<TextResponse>" + response.text + "</TextResponse>\r\n";
  out += "\t\t<UserTraceData>" + response.userTraceData + "</UserTraceData>\r\n";
  out += extraBlock;
  out += "\t</CmdResponse>\r\n";
  return out;
}

}  // namespace

std::string ReturnCodeText(int& code, const std::string& hostErrorText) {
  if (code == kRcHostError) return hostErrorText;
  if (const char* text = FindText(std::begin(kCodeTexts), std::end(kCodeTexts), code)) return text;
  if (const char* text = FindText(std::begin(kFieldTexts), std::end(kFieldTexts), code)) {
    return std::string("Invalid Field - ") + text;
  }
  code = kRcUndefined;
  return "Error to be defined.";
}

std::string SixDigitCode(int code) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%06d", code);
  return digits;
}

std::string CmdStatusText(char statusLetter) {
  switch (statusLetter) {
    case 'A':
      return "Approved";
    case 'D':
      return "Declined";
    case 'S':
      return "Success";
    default:
      return "Error";
  }
}

std::string BuildCommandFragment(const CommandResponse& response, const std::string& extraBlock) {
  return CommandLines(response, extraBlock);
}

std::string BuildCommandDocument(const CommandResponse& response, const std::string& extraBlock) {
  std::string out(kDocumentStart);
  out += CommandLines(response, extraBlock);
  out += kDocumentEnd;
  return out;
}

std::string MakeElement(std::string_view name, std::string_view value, int indent, bool lineEnd) {
  if (value.empty()) return {};
  std::string out(static_cast<std::size_t>(std::max(indent, 0)), '\t');
  out += '<';
  out += name;
  out += '>';
  out += value;
  out += "</";
  out += name;
  out += '>';
  if (lineEnd) out += "\r\n";
  return out;
}

std::string MaskAccount(std::string_view text) {
  std::string out(text);
  if (out.size() > 4) std::fill(out.begin(), out.end() - 4, 'X');
  return out;
}

std::string MaskAll(std::string_view text) { return std::string(text.size(), 'X'); }

std::string CRequest::BuildErrorResponse(CServerContext& context) {
  int code = ReturnCode;
  TextResponse = ReturnCodeText(code, HostErrorText);
  ReturnCode = code;
  Disposition = kDispositionError;

  std::string extra;
  if (ReturnCode == kRcTimeout && TranCodeInfoOf(TranCodeId).reversible) {
    extra = "\t\t<RevStatus>Timeout-NoNeedToReverse</RevStatus>\r\n";
  }
  CommandResponse response;
  response.origin = "Server";
  response.code = SixDigitCode(ReturnCode);
  response.statusLetter = 'E';
  response.text = TextResponse;
  response.userTraceData = UserTraceData;
  return FinishResponse(BuildCommandDocument(response, extra), context);
}

std::string CRequest::BuildResponse(CServerContext& context) {
  CommandResponse response;
  response.origin = "Processor";
  response.code = SixDigitCode(0);
  response.userTraceData = UserTraceData;

  std::string body;
  if (StreamType == "Admin") {
    response.statusLetter = AdminSuccess ? 'S' : 'E';
    response.text = AdminText;
    body = BuildAdminResponseBody(*this, context);
  } else {
    response.statusLetter = Approved ? 'A' : 'D';
    response.text = HostText;
    body = BuildTranResponseBody(*this, context.params.GetParams());
  }

  std::string out(kDocumentStart);
  out += BuildCommandFragment(response);
  out += body;
  out += kDocumentEnd;
  return out;
}

std::string CRequest::FinishResponse(const std::string& document, CServerContext& context) {
  switch (Disposition) {
    case kDispositionProcess:
    case kDispositionBatchClose: {
      // The document shows the account masked only; the lane's and the host's values
      // in it are logged with their control characters shown as text, each line cut to 1 KiB.
      const std::string built = BuildResponse(context);
      const std::string logged = ClipLoggedLines(EscapeDocumentControls(MaskLogText(built)));
      context.log.Log("Response Built [%s] for %s", logged.c_str(), ClientAddress.c_str());
      std::string cipher;
      IRequestCrypto* crypto = context.requestCrypto;
      if (crypto != nullptr && crypto->EncryptWithSessionKey(ClientKeyBlob, built, cipher)) {
        WireResponse = FrameMessage(cipher, true);
        break;
      }
      Disposition = kDispositionError;
      ReturnCode = kRcEncryptFailed;
      int code = ReturnCode;
      TextResponse = ReturnCodeText(code, HostErrorText);
      CommandResponse response;
      response.code = SixDigitCode(code);
      response.statusLetter = 'E';
      response.text = TextResponse;
      response.userTraceData = UserTraceData;
      WireResponse = FrameMessage(BuildCommandDocument(response), false);
      break;
    }
    case kDispositionError:
      WireResponse = FrameMessage(document, false);
      break;
    default:
      break;
  }
  return WireResponse;
}

}  // namespace paxelle
