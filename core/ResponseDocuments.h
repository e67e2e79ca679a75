// The pieces every response document to a lane is made of: the return-code
// texts, the command response in its two layouts, element lines and masking.
// The documents are XML built by concatenation: a tab per nesting level, CR LF
// after every line, empty optional elements left out.
#pragma once

#include <string>
#include <string_view>

namespace paxelle {

// The lines that open and close every document.
inline constexpr std::string_view kDocumentStart = "<?xml version=\"1.0\"?>\r\n<RStream>\r\n";
inline constexpr std::string_view kDocumentEnd = "</RStream>\r\n";

// The answer text of a return code. A code without a text of its own is
// replaced, in `code`, by 8888 ("Error to be defined."); 100201..100257 get the
// "Invalid Field - " prefix; 4003 answers with `hostErrorText`.
std::string ReturnCodeText(int& code, const std::string& hostErrorText);

// A return code as the six digits of OPXXReturnCode ("%06d").
std::string SixDigitCode(int code);

// CmdStatus of a status letter: 'A' Approved, 'D' Declined, 'S' Success,
// anything else Error.
std::string CmdStatusText(char statusLetter);

// The five texts of a CmdResponse; a default one is the "not filled" answer.
struct CommandResponse {
  std::string origin = "Server";  // "Server", or "Processor" for host results
  std::string code = "999999";    // six digits
  char statusLetter = 'E';
  std::string text = "Unknown Error";
  std::string userTraceData;  // echoed unchanged
};

// The CmdResponse lines ("\t<CmdResponse>" to "\t</CmdResponse>\r\n") with
// `extraBlock` (complete lines, usually empty) before the closing line.
std::string BuildCommandFragment(const CommandResponse& response, const std::string& extraBlock = {});

// A whole document holding only the command response: header, RStream, the
// fragment with `extraBlock`, closing RStream.
std::string BuildCommandDocument(const CommandResponse& response, const std::string& extraBlock = {});

// `indent` tabs, <name>value</name> and, when `lineEnd`, CR LF; empty text when
// `value` is empty, so optional elements drop out by themselves.
std::string MakeElement(std::string_view name, std::string_view value, int indent, bool lineEnd);

// Every character but the last four becomes "X" (shorter texts stay as they are).
std::string MaskAccount(std::string_view text);
// Every character becomes "X".
std::string MaskAll(std::string_view text);

}  // namespace paxelle
