// The `paxelle params` command: shows, sets and resets the stored merchant
// parameter line from the command line (the provisioning path).
#pragma once

#include "config/ParamStore.h"

#include <ostream>
#include <string>
#include <vector>

namespace paxelle {

// Exit codes of the command.
enum ParamsExitCode : int {
  kParamsExitOk = 0,
  kParamsExitFailed = 1,   // the file could not be read or written
  kParamsExitRefused = 2,  // bad usage or a refused value; nothing stored
};

// Runs `params <args...>` against `store`, whose path is already set: "show",
// "set N=VALUE...", "set-line LINE" or "reset". Results go to `out`, reasons
// and usage to `err`. Stores nothing unless every value passed its entry.
int RunParamsCommand(const std::vector<std::string>& args, CParamStore& store, std::ostream& out,
                     std::ostream& err);

// One line per form of the params command, each beginning "paxelle params".
std::vector<std::string> ParamsSynopses();
// The usage lines of the params command.
std::string ParamsUsage();

// Why `value` fails `spec`, naming the rule (e.g. "\"12345\" is not 15 digits");
// `hideValue` leaves the value itself out (the client password).
std::string DescribeRefusal(const CParamSpec& spec, const std::string& value, bool hideValue);

}  // namespace paxelle
