// Reading the command response block of a response document the server sends
// (every reply, error and result document carries one).
#pragma once

#include "common/Status.h"

#include <string>
#include <string_view>

namespace paxelle::lane {

struct CommandResponse {
  std::string responseOrigin;  // "Server" or "Processor"
  std::string returnCodeText;  // OPXXReturnCode as sent, six digits
  int returnCode = -1;         // its value
  std::string cmdStatus;       // "Approved", "Declined", "Success" or "Error"
  std::string textResponse;
  std::string userTraceData;
};

// The text between "<name>" and the next "</name>" in `document`, searched from
// `from`; false when either tag is missing.
bool ElementText(std::string_view document, std::string_view name, std::string& text, std::size_t from = 0);

// Reads the CmdResponse block of `document` (which must begin with
// "<?xml"). Every one of the five elements must be present inside the block
// and OPXXReturnCode must be six digits; otherwise a failure, `response`
// unchanged. Element texts are taken as sent (the server does not
// escape them).
Status ParseCommandResponse(std::string_view document, CommandResponse& response);

// True for the interim reply to an accepted request (code 0, "Success",
// "Queued:" and two numbers of at least three digits, separated by ":");
// the request's final response follows later.
bool IsQueuedReply(const CommandResponse& response);

}  // namespace paxelle::lane
