// The opx-lane command line and its request and abort commands, written as
// functions over streams so that tests can run them without a process.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Status.h"
#include "tools/lane/LaneConnection.h"

namespace paxelle::lane {

// Exit codes of opx-lane.
inline constexpr int kExitOk = 0;
inline constexpr int kExitLoadIncomplete = 1;  // load: some request got no final response
inline constexpr int kExitUsage = 2;
inline constexpr int kExitLoginRefused = 3;
inline constexpr int kExitNoFinalResponse = 4;
inline constexpr int kExitConnectFailed = 5;

// How one lane reaches and logs in to the server.
struct LaneSessionOptions {
  std::string host = "127.0.0.1";  // always a numeric IPv4 address
  int port = 9000;
  std::string password;
  bool alternate = false;  // alternate challenge material and request type "M"
  std::string trace;       // user trace text sent in clear before each frame
  std::chrono::milliseconds timeout{90000};  // bound of each wait for a final response
};

// The load command's own settings.
struct LoadOptions {
  int lanes = 50;
  int count = 20;  // requests per lane
  std::string amount = "10.00";
  int idleSeconds = 0;  // how long the logged-in lanes stay silent before their sales
  int pauseMs = 0;      // how long a lane waits after an answer before its next sale (not timed)
};

enum class LaneCommand { kHelp, kVersion, kRequest, kAbort, kLoad };

// One request pair; the key is what error messages may name, never the value.
struct RequestPair {
  std::string key;
  std::string value;
};

struct LaneCommandLine {
  LaneCommand command = LaneCommand::kHelp;
  LaneSessionOptions session;
  LoadOptions load;
  std::vector<RequestPair> pairs;  // request only
};

// Reads "HOST:PORT" where HOST is a dotted IPv4 address or "localhost" (taken
// as 127.0.0.1, so that no name is ever looked up) and PORT is 1 to 65535.
// A failure otherwise; `host` and `port` unchanged then.
Status ParseServerAddress(std::string_view text, std::string& host, int& port);

// Reads `args` (without the program name). Options may stand before or after
// the command; each also as --name=VALUE. A failure for an unknown option or
// command, a missing or malformed value, a pair without "=", or a load option
// with another command; its text never quotes a value.
Status ParseLaneCommandLine(const std::vector<std::string>& args, LaneCommandLine& line);

// The usage text printed by --help and after a usage error.
std::string LaneUsageText();

// The request payload: each pair as key "=" value, joined with FS.
std::string BuildRequestPayload(const std::vector<RequestPair>& pairs);

// Connects and logs in. Ok when the server verified the login and proved
// itself; otherwise a failure whose code is the exit code (kExitLoginRefused
// for a refusing or unproven login reply, kExitConnectFailed for everything else).
Status OpenLaneSession(const LaneSessionOptions& options, LaneConnection& lane);

// A frame the server sent while the lane waits for a final response.
enum class ResponseRole {
  kInterim,     // the clear "Queued:" acknowledgement of an accepted request
  kSessionEnd,  // the server ends the session (2003 going off line, 2004 disconnecting)
  kFinal,       // anything else answers the request
};
ResponseRole ClassifyResponse(const LaneResponse& response);

// Reads frames until the final response, writing each interim document to
// `interimOut` when it is not null, waiting at most `timeout` in all, into
// `final`; a failure on time-out, close, an unreadable frame or the end of the session.
Status AwaitFinalResponse(LaneConnection& lane, std::chrono::milliseconds timeout, std::ostream* interimOut,
                          LaneResponse& final);

// The request command: sends `pairs` as one encrypted request and writes the
// interim reply, if any, and the final response document to `out`. Returns
// the exit code; failures are described on `err`, never with a value.
int RunRequest(const LaneSessionOptions& options, const std::vector<RequestPair>& pairs, std::ostream& out,
               std::ostream& err);

// The abort command: sends the abort frame and, for about `linger`, writes any
// frame that comes back to `out`. Returns the exit code.
int RunAbort(const LaneSessionOptions& options, std::ostream& out, std::ostream& err,
             std::chrono::milliseconds linger = std::chrono::milliseconds(1000));

}  // namespace paxelle::lane
