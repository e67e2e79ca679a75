#include "tools/lane/OpxLaneCommands.h"

#include <arpa/inet.h>

#include <algorithm>
#include <optional>

#include "tools/lane/LaneDocument.h"
#include "tools/lane/LaneFrames.h"
#include "tools/lane/LaneLogin.h"

namespace paxelle::lane {

namespace {

using std::chrono::milliseconds;

constexpr int kMaxTimeoutSeconds = 3600;
constexpr int kMaxPauseMs = 60000;
constexpr int kMaxLanes = 1000;
constexpr int kMaxCount = 100000;
// Every latency of a run is kept until the end.
constexpr long long kMaxLoadRequests = 1000000;
// Connecting is quick or hopeless; the login has its own bound per wait.
constexpr milliseconds kConnectBound(5000);
constexpr milliseconds kLoginBound(10000);

constexpr int kReplyGoingOffline = 2003;
constexpr int kReplyDisconnecting = 2004;

// Words an error message may repeat: command and option names as a person
// types them. Anything else (a mistyped pair, a stray value) might hold card
// data and is never echoed.
bool IsQuotableWord(std::string_view word) {
  return !word.empty() && word.size() <= 24 &&
         word.find_first_not_of("abcdefghijklmnopqrstuvwxyz-") == std::string_view::npos;
}

std::string Quoted(std::string_view word, std::string_view otherwise) {
  return IsQuotableWord(word) ? "\"" + std::string(word) + "\"" : std::string(otherwise);
}

std::optional<int> ReadBoundedNumber(std::string_view text, int min, int max) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  const int value = std::stoi(std::string(text));
  if (value < min || value > max) return std::nullopt;
  return value;
}

// Up to seven whole digits, optionally "." and one or two decimals, above zero.
bool IsPositiveAmount(std::string_view text) {
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view decimals = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  const auto digits = [](std::string_view part) {
    return part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (whole.empty() || whole.size() > 7 || !digits(whole)) return false;
  if (dot != std::string_view::npos && (decimals.empty() || decimals.size() > 2 || !digits(decimals))) return false;
  return text.find_first_not_of("0.") != std::string_view::npos;
}

bool IsValidKey(std::string_view key) {
  return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

Status ReadPair(const std::string& arg, std::size_t position, RequestPair& pair) {
  const std::size_t equals = arg.find('=');
  const std::string where = "request argument " + std::to_string(position);
  if (equals == std::string::npos) return Status::Failure(where + " is not KEY=VALUE (no \"=\")");
  const std::string key = arg.substr(0, equals);
  if (!IsValidKey(key)) return Status::Failure(where + " has a key that is not made of letters, digits and \"_\"");
  if (arg.find(kFs, equals) != std::string::npos) {
    return Status::Failure("the value of " + key + " contains an FS character");
  }
  pair.key = key;
  pair.value = arg.substr(equals + 1);
  return Status::Ok();
}

std::string DurationText(milliseconds duration) {
  if (duration.count() % 1000 == 0) return std::to_string(duration.count() / 1000) + " s";
  return std::to_string(duration.count()) + " ms";
}

bool IsLoadOption(std::string_view name) {
  return name == "--lanes" || name == "--count" || name == "--amount" || name == "--idle" || name == "--pause";
}

// Applies one option with its value.
Status ApplyOption(const std::string& name, const std::string& value, LaneCommandLine& line) {
  if (name == "--server") {
    return ParseServerAddress(value, line.session.host, line.session.port);
  }
  if (name == "--password") {
    if (value.find(kEtx) != std::string::npos) return Status::Failure("--password must not contain ETX");
    line.session.password = value;
    return Status::Ok();
  }
  if (name == "--trace") {
    if (!IsValidUserTrace(value)) return Status::Failure("--trace must not contain FS, STX or ETX");
    line.session.trace = value;
    return Status::Ok();
  }
  if (name == "--timeout") {
    const auto seconds = ReadBoundedNumber(value, 1, kMaxTimeoutSeconds);
    if (!seconds) {
      return Status::Failure("--timeout must be a whole number of seconds from 1 to " +
                             std::to_string(kMaxTimeoutSeconds));
    }
    line.session.timeout = std::chrono::seconds(*seconds);
    return Status::Ok();
  }
  if (name == "--lanes" || name == "--count") {
    const int max = name == "--lanes" ? kMaxLanes : kMaxCount;
    const auto number = ReadBoundedNumber(value, 1, max);
    if (!number) return Status::Failure(name + " must be a whole number from 1 to " + std::to_string(max));
    (name == "--lanes" ? line.load.lanes : line.load.count) = *number;
    return Status::Ok();
  }
  if (name == "--idle" || name == "--pause") {
    const bool idle = name == "--idle";
    const int max = idle ? kMaxTimeoutSeconds : kMaxPauseMs;
    const auto number = ReadBoundedNumber(value, 0, max);
    if (!number) {
      return Status::Failure(name + " must be a whole number of " + (idle ? "seconds" : "milliseconds") +
                             " from 0 to " + std::to_string(max));
    }
    (idle ? line.load.idleSeconds : line.load.pauseMs) = static_cast<int>(*number);
    return Status::Ok();
  }
  if (name == "--amount") {
    if (!IsPositiveAmount(value)) return Status::Failure("--amount must be an amount above zero such as 10.00");
    line.load.amount = value;
    return Status::Ok();
  }
  return Status::Failure("unknown option " + Quoted(name, "(not repeated here)"));
}

bool IsKnownValueOption(std::string_view name) {
  return name == "--server" || name == "--password" || name == "--trace" || name == "--timeout" ||
         IsLoadOption(name);
}

}  // namespace

Status ParseServerAddress(std::string_view text, std::string& host, int& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return Status::Failure("--server must be HOST:PORT");
  std::string name(text.substr(0, colon));
  const auto number = ReadBoundedNumber(text.substr(colon + 1), 1, 65535);
  if (!number) return Status::Failure("--server port must be a number from 1 to 65535");
  if (name == "localhost") name = "127.0.0.1";
  in_addr parsed{};
  if (::inet_pton(AF_INET, name.c_str(), &parsed) != 1) {
    return Status::Failure("--server host must be a numeric IPv4 address or localhost (names are not looked up)");
  }
  host = std::move(name);
  port = *number;
  return Status::Ok();
}

Status ParseLaneCommandLine(const std::vector<std::string>& args, LaneCommandLine& line) {
  LaneCommandLine parsed;
  bool commandGiven = false;
  bool help = false;
  bool version = false;
  bool loadOptionGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
      continue;
    }
    if (arg == "--version") {
      version = true;
      continue;
    }
    if (arg.starts_with("--")) {
      std::string name = arg;
      std::optional<std::string> value;
      if (const std::size_t equals = arg.find('='); equals != std::string::npos) {
        name = arg.substr(0, equals);
        value = arg.substr(equals + 1);
      }
      if (name == "--alternate") {
        if (value) return Status::Failure("--alternate takes no value");
        parsed.session.alternate = true;
        continue;
      }
      if (!IsKnownValueOption(name)) return Status::Failure("unknown option " + Quoted(name, "(not repeated here)"));
      if (!value) {
        if (i + 1 >= args.size()) return Status::Failure(name + " needs a value");
        value = args[++i];
      }
      if (Status applied = ApplyOption(name, *value, parsed); !applied.ok()) return applied;
      loadOptionGiven = loadOptionGiven || IsLoadOption(name);
      continue;
    }
    if (!commandGiven) {
      if (arg == "request") {
        parsed.command = LaneCommand::kRequest;
      } else if (arg == "abort") {
        parsed.command = LaneCommand::kAbort;
      } else if (arg == "load") {
        parsed.command = LaneCommand::kLoad;
      } else {
        return Status::Failure("unknown command " + Quoted(arg, "(not repeated here)"));
      }
      commandGiven = true;
      continue;
    }
    if (parsed.command != LaneCommand::kRequest) {
      return Status::Failure("unexpected argument " + std::to_string(i + 1) + " after the command");
    }
    RequestPair pair;
    if (Status read = ReadPair(arg, parsed.pairs.size() + 1, pair); !read.ok()) return read;
    parsed.pairs.push_back(std::move(pair));
  }
  if (help || version) {
    line = LaneCommandLine{};
    line.command = help ? LaneCommand::kHelp : LaneCommand::kVersion;
    return Status::Ok();
  }
  if (!commandGiven) return Status::Failure("no command given");
  if (parsed.command == LaneCommand::kRequest && parsed.pairs.empty()) {
    return Status::Failure("request needs at least one KEY=VALUE pair");
  }
  if (static_cast<long long>(parsed.load.lanes) * parsed.load.count > kMaxLoadRequests) {
    return Status::Failure("--lanes times --count must not exceed " + std::to_string(kMaxLoadRequests));
  }
  if (loadOptionGiven && parsed.command != LaneCommand::kLoad) {
    return Status::Failure("--lanes, --count, --amount, --idle and --pause belong to the load command");
  }
  line = std::move(parsed);
  return Status::Ok();
}

std::string LaneUsageText() {
  return "usage: opx-lane [--server HOST:PORT] [--password PW] [--alternate] [--trace TEXT] [--timeout SECONDS]\n"
         "                request KEY=VALUE... | abort | load [--lanes N] [--count M] [--amount AMOUNT] [--idle S]\n"
         "                [--pause MS]\n"
         "       opx-lane --help | --version\n"
         "  --server HOST:PORT  the server's numeric IPv4 address or localhost (default 127.0.0.1:9000)\n"
         "  --password PW       the shared client/server password (default none)\n"
         "  --alternate         log in with the alternate challenge material\n"
         "  --trace TEXT        user trace text sent in clear with each request\n"
         "  --timeout SECONDS   bound of the wait for each final response (default 90)\n"
         "  request             send one encrypted request; print the interim reply and the final response\n"
         "  abort               ask the server to cancel this connection's requests still waiting for the host\n"
         "  load                N lanes (default 50) each send M credit sales (default 20) of AMOUNT\n"
         "                      (default 10.00) and print one summary line; with --idle the lanes,\n"
         "                      once all are logged in, first stay silent for S seconds (not timed);\n"
         "                      with --pause each lane waits MS milliseconds after each answer\n"
         "                      before its next sale (counted in seconds and tps, not in latencies)\n"
         "  --help              print this text and exit\n"
         "  --version           print the version and exit\n"
         "exit codes: 0 final response arrived, 1 load incomplete, 2 usage, 3 login refused,\n"
         "            4 no final response, 5 cannot connect or log in\n";
}

std::string BuildRequestPayload(const std::vector<RequestPair>& pairs) {
  std::string payload;
  for (const RequestPair& pair : pairs) {
    if (!payload.empty()) payload += kFs;
    payload += pair.key;
    payload += '=';
    payload += pair.value;
  }
  return payload;
}

Status OpenLaneSession(const LaneSessionOptions& options, LaneConnection& lane) {
  lane.SetIoTimeout(std::min(kLoginBound, std::max(options.timeout, milliseconds(1))));
  if (!lane.Connect(options.host, options.port, std::min(kConnectBound, std::max(options.timeout, milliseconds(1))))) {
    return Status::Failure(lane.LastError(), kExitConnectFailed);
  }
  LoginResult result;
  if (!lane.Login(options.password, options.alternate, result)) {
    if (result.code == kReplyLoginVerified) {
      return Status::Failure("the server's login reply did not prove it: " + lane.LastError(), kExitLoginRefused);
    }
    return Status::Failure("login failed: " + lane.LastError(), kExitConnectFailed);
  }
  if (result.code != kReplyLoginVerified || !result.verified) {
    return Status::Failure("login refused: " + std::to_string(result.code) + " " + result.text, kExitLoginRefused);
  }
  return Status::Ok();
}

ResponseRole ClassifyResponse(const LaneResponse& response) {
  if (response.frameType != kTypeClear) return ResponseRole::kFinal;
  CommandResponse reply;
  if (!ParseCommandResponse(response.document, reply).ok()) return ResponseRole::kFinal;
  if (reply.returnCode == 0 && reply.textResponse.starts_with("Queued:")) return ResponseRole::kInterim;
  if (reply.returnCode == kReplyGoingOffline || reply.returnCode == kReplyDisconnecting) {
    return ResponseRole::kSessionEnd;
  }
  return ResponseRole::kFinal;
}

Status AwaitFinalResponse(LaneConnection& lane, milliseconds timeout, std::ostream* interimOut,
                          LaneResponse& final) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(
                                                    deadline - std::chrono::steady_clock::now()));
    LaneResponse response;
    switch (lane.ReadResponse(left, response)) {
      case ReadStatus::kOk:
        break;
      case ReadStatus::kTimeout: return Status::Failure("no final response within " + DurationText(timeout));
      case ReadStatus::kClosed:
        return Status::Failure("the server closed the connection before the final response");
      case ReadStatus::kBadFrame: return Status::Failure("unreadable frame from the server: " + lane.LastError());
      case ReadStatus::kStopped:
      case ReadStatus::kError: return Status::Failure(lane.LastError());
    }
    switch (ClassifyResponse(response)) {
      case ResponseRole::kInterim:
        if (interimOut != nullptr) *interimOut << response.document << std::flush;
        continue;
      case ResponseRole::kSessionEnd: {
        CommandResponse reply;
        static_cast<void>(ParseCommandResponse(response.document, reply));
        return Status::Failure("the server ended the session before the final response: " + reply.returnCodeText +
                               " " + reply.textResponse);
      }
      case ResponseRole::kFinal:
        final = std::move(response);
        return Status::Ok();
    }
  }
}

int RunRequest(const LaneSessionOptions& options, const std::vector<RequestPair>& pairs, std::ostream& out,
               std::ostream& err) {
  if (pairs.empty()) {
    err << "opx-lane: request needs at least one KEY=VALUE pair\n";
    return kExitUsage;
  }
  LaneConnection lane;
  if (const Status opened = OpenLaneSession(options, lane); !opened.ok()) {
    err << "opx-lane: " << opened.message() << "\n";
    return opened.code();
  }
  const char type = options.alternate ? kTypeEncryptedAlternate : kTypeEncrypted;
  if (!lane.SendRequest(BuildRequestPayload(pairs), options.trace, type)) {
    err << "opx-lane: cannot send the request: " << lane.LastError() << "\n";
    return kExitNoFinalResponse;
  }
  LaneResponse final;
  if (const Status answered = AwaitFinalResponse(lane, options.timeout, &out, final); !answered.ok()) {
    err << "opx-lane: " << answered.message() << "\n";
    return kExitNoFinalResponse;
  }
  out << final.document << std::flush;
  return kExitOk;
}

int RunAbort(const LaneSessionOptions& options, std::ostream& out, std::ostream& err, milliseconds linger) {
  LaneConnection lane;
  if (const Status opened = OpenLaneSession(options, lane); !opened.ok()) {
    err << "opx-lane: " << opened.message() << "\n";
    return opened.code();
  }
  if (!lane.SendAbort(options.trace)) {
    err << "opx-lane: cannot send the abort: " << lane.LastError() << "\n";
    return kExitNoFinalResponse;
  }
  // The server does not answer an abort; whatever comes within the linger is shown.
  const auto deadline = std::chrono::steady_clock::now() + linger;
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left <= milliseconds(0)) break;
    LaneResponse response;
    const ReadStatus status = lane.ReadResponse(left, response);
    if (status == ReadStatus::kOk) {
      out << response.document << std::flush;
      continue;
    }
    if (status == ReadStatus::kBadFrame) {
      err << "opx-lane: unreadable frame from the server: " << lane.LastError() << "\n";
    }
    break;
  }
  return kExitOk;
}

}  // namespace paxelle::lane
