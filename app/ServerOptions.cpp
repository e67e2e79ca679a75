#include "app/ServerOptions.h"

#include "app/ParamsCommand.h"
#include "app/metrics/MetricsExporter.h"

#include "common/TextHelpers.h"
#include "config/ParamStore.h"

#include <unistd.h>

#include <optional>
#include <set>

namespace paxelle {
namespace {

namespace fs = std::filesystem;

// A decimal number from 1 to 65535 without sign, blanks or other characters.
std::optional<int> PortValue(const std::string& text) {
  if (text.empty() || text.size() > 5 || !AllDigits(text)) return std::nullopt;
  const int port = LeadingInt(text);
  if (port < 1 || port > 65535) return std::nullopt;
  return port;
}

bool Absolute(const std::string& text, fs::path& path, std::string& error) {
  std::error_code failure;
  path = fs::absolute(text, failure);
  if (failure) {
    error = "\"" + text + "\" cannot be resolved: " + failure.message();
    return false;
  }
  path = path.lexically_normal();
  return true;
}

class Parser {
 public:
  Parser(const std::vector<std::string>& args, ServerOptions& options, std::string& error)
      : args_(args), options_(options), error_(error) {}

  bool Run() {
    for (index_ = 0; index_ < args_.size(); ++index_) {
      std::string name = args_[index_];
      std::optional<std::string> inlineValue;
      if (name.starts_with("--")) {
        if (const std::size_t equals = name.find('='); equals != std::string::npos) {
          inlineValue = name.substr(equals + 1);
          name.resize(equals);
        }
      }
      if (!Option(name, inlineValue)) return false;
    }
    if (!secondaryGiven_) options_.secondaryHost = options_.host;
    return true;
  }

 private:
  bool Option(const std::string& name, const std::optional<std::string>& inlineValue) {
    if (name == "--headless" || name == "--version" || name == "--help") {
      if (inlineValue) return Fail(name + " takes no value");
      if (!Once(name)) return false;
      if (name == "--headless") options_.headless = true;
      if (name == "--version") options_.showVersion = true;
      if (name == "--help") options_.showHelp = true;
      return true;
    }
    std::string value;
    if (name == "--workdir") {
      if (!Value(name, inlineValue, value) || !Once(name)) return false;
      fs::path path;
      if (!Absolute(value, path, error_)) return Fail("--workdir " + error_);
      std::error_code failure;
      if (!fs::is_directory(path, failure)) return Fail("--workdir \"" + value + "\" is not a directory");
      options_.workdir = path;
      return true;
    }
    if (name == "--params" || name == "--keystore") {
      if (!Value(name, inlineValue, value) || !Once(name)) return false;
      fs::path path;
      if (!Absolute(value, path, error_)) return Fail(name + " " + error_);
      (name == "--params" ? options_.params : options_.keystore) = path;
      return true;
    }
    if (name == "--host-ca") {
      if (!Value(name, inlineValue, value) || !Once(name)) return false;
      fs::path path;
      if (!Absolute(value, path, error_)) return Fail("--host-ca " + error_);
      std::error_code failure;
      if (!fs::is_regular_file(path, failure) || ::access(path.c_str(), R_OK) != 0) {
        return Fail("--host-ca \"" + value + "\" is not a readable file");
      }
      options_.hostCa = path.string();
      return true;
    }
    if (name == "--client-port") {
      if (!Value(name, inlineValue, value) || !Once(name)) return false;
      const std::optional<int> port = PortValue(value);
      if (!port) return Fail("--client-port \"" + value + "\" is not a port number from 1 to 65535");
      options_.clientPort = *port;
      return true;
    }
    if (name == "--host" || name == "--secondary-host") {
      if (!Value(name, inlineValue, value) || !Once(name)) return false;
      HostEndpoint endpoint;
      const Status parsed = ParseHostEndpoint(value, endpoint);
      if (!parsed.ok()) return Fail(name + " " + parsed.message());
      (name == "--host" ? options_.host : options_.secondaryHost) = endpoint;
      if (name == "--secondary-host") secondaryGiven_ = true;
      return true;
    }
    if (name == "--log-retention") {
      if (!Value(name, inlineValue, value) || !Once(name)) return false;
      const int days = value.size() <= 5 && AllDigits(value) ? LeadingInt(value) : -1;
      if (days < 0 || days > LogRetention::kMaxKeepDays) {
        return Fail("--log-retention \"" + value + "\" is not a number of days from 0 to " +
                    std::to_string(LogRetention::kMaxKeepDays));
      }
      options_.logKeepDays = days;
      return true;
    }
    if (name == "--com-device") {
      if (!Value(name, inlineValue, value)) return false;
      int port = 0;
      std::string device;
      bool local = false;
      const Status parsed = ParseComDeviceAssignment(value, port, device, local);
      if (!parsed.ok()) return Fail("--com-device " + parsed.message());
      fs::path path;
      if (!Absolute(device, path, error_)) return Fail("--com-device " + error_);
      if (!options_.comDevices.Assign(port, path.string(), local)) {
        return Fail("--com-device gives COM port " + std::to_string(port) + " more than one device");
      }
      return true;
    }
    if (name == "--metrics") {
      if (!Value(name, inlineValue, value) || !Once(name)) return false;
      const Status parsed = ParseMetricsAddress(value, options_.metricsAddress);
      if (!parsed.ok()) return Fail("--metrics " + parsed.message());
      return true;
    }
    if (name == "--attach") {
      if (!Once(name)) return false;
      if (inlineValue && *inlineValue != "auto") return Fail("--attach takes no value but \"auto\"");
      options_.attach = inlineValue ? ServerOptions::Attach::kAuto : ServerOptions::Attach::kAlways;
      return true;
    }
    if (name == "--control") {
      if (!Value(name, inlineValue, value) || !Once(name)) return false;
      if (!Absolute(value, options_.control, error_)) return Fail("--control " + error_);
      return true;
    }
    return Fail("unknown argument \"" + name + "\"");
  }

  // The option's value, inline (--name=VALUE) or as the next argument; never empty.
  bool Value(const std::string& name, const std::optional<std::string>& inlineValue, std::string& value) {
    if (inlineValue) {
      value = *inlineValue;
    } else if (index_ + 1 < args_.size()) {
      value = args_[++index_];
    } else {
      return Fail(name + " needs a value");
    }
    if (value.empty()) return Fail(name + " needs a non-empty value");
    return true;
  }

  bool Once(const std::string& name) {
    if (!seen_.insert(name).second) return Fail(name + " may be given once");
    return true;
  }

  bool Fail(std::string text) {
    error_ = std::move(text);
    return false;
  }

  const std::vector<std::string>& args_;
  ServerOptions& options_;
  std::string& error_;
  std::size_t index_ = 0;
  std::set<std::string> seen_;
  bool secondaryGiven_ = false;
};

}  // namespace

Status ParseServerOptions(const std::vector<std::string>& args, ServerOptions& options) {
  ServerOptions parsed;
  std::error_code failure;
  parsed.workdir = fs::current_path(failure);
  if (failure) return Status::Failure("the current directory cannot be read: " + failure.message());
  parsed.params = DefaultParamsPath();
  parsed.keystore = DefaultKeyStorePath();
  std::string error;
  if (!Parser(args, parsed, error).Run()) return Status::Failure(error);
  options = std::move(parsed);
  return Status::Ok();
}

Status ParseHostEndpoint(const std::string& text, HostEndpoint& endpoint) {
  std::string name = text;
  std::string port = kDefaultHostPort;
  if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
    name = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (!PortValue(port)) {
      return Status::Failure("\"" + text + "\": port \"" + port + "\" is not a number from 1 to 65535");
    }
  }
  if (name.empty()) return Status::Failure("\"" + text + "\" has no host name");
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    // Names and IPv4 addresses only: the host socket takes the first IPv4 address.
    if (c == ':' || c == '[' || c == ']' || byte <= 0x20 || byte >= 0x7F) {
      return Status::Failure("\"" + text + "\" is not NAME[:PORT] with a host name or IPv4 address");
    }
  }
  endpoint = {name, port};
  return Status::Ok();
}

fs::path DefaultKeyStorePath() { return DefaultParamsPath().parent_path() / "keys"; }

namespace {

// The options both programs take (all but --headless), in --help's layout.
constexpr char kSharedOptionLines[] =
    "  --workdir DIR         state files, KELVARA_LOGS/, PARAM_LOADS/ and the lock file\n"
    "                        (default: the current directory)\n"
    "  --params FILE         the merchant parameter line (default:\n"
    "                        ${XDG_CONFIG_HOME:-~/.config}/Kelvara Applications/Paxelle/params)\n"
    "  --keystore DIR        the server's exchange key pair (default:\n"
    "                        ${XDG_CONFIG_HOME:-~/.config}/Kelvara Applications/Paxelle/keys)\n"
    "  --client-port N       port of the POS client listener, 1-65535 (default: 9000)\n"
    "  --host NAME[:PORT]    the authorization host (default: localhost:6661)\n"
    "  --secondary-host NAME[:PORT]\n"
    "                        the host to fail over to (default: the --host value)\n"
    "  --host-ca FILE        PEM certificates trusted for the host besides the system's\n"
    "  --com-device N=PATH[,local]\n"
    "                        device of COM port N (default: /dev/ttyS<N-1>); repeatable;\n"
    "                        \",local\" for a line without modem control lines\n"
    "  --metrics [ADDRESS:]PORT\n"
    "                        serve Prometheus metrics at /metrics there (default: off;\n"
    "                        the address defaults to 127.0.0.1)\n"
    "  --log-retention DAYS  days the daily traffic logs in KELVARA_LOGS/ are kept\n"
    "                        (default: 400; 0 keeps them for ever); those older than\n"
    "                        a week are compressed (.gz); today's is never touched\n"
    "  --version             print the version and exit\n"
    "  --help                print this text and exit\n";

}  // namespace

std::string ServerUsage() {
  std::string usage =
      "Usage: paxelle --headless [OPTION]...\n"
      "  or:  paxelle [OPTION]...\n";
  for (const std::string& synopsis : ParamsSynopses()) usage += "  or:  " + synopsis + "\n";
  // The views of a running server (app/control/ControlCommands.h).
  usage += "  or:  paxelle status|watch|restart [--workdir DIR | --control PATH]\n";
  usage += "  or:  paxelle --attach[=auto] [--workdir DIR | --control PATH]\n";
  usage +=
      "Runs the payment transaction server until SIGINT or SIGTERM (exit 0); SIGHUP\n"
      "reloads the parameters and stops and starts the interfaces again. Without\n"
      "--headless, paxelle hands over to the operator window, paxelle-window (package\n"
      "paxelle-window), with the same arguments.\n"
      "\n"
      "The params commands show, set and reset the merchant parameter line; set,\n"
      "set-line and reset keep the owner, group and mode of the file they replace\n"
      "(never readable by others); a new file takes its directory's group and mode\n"
      "0640, or 0600 in the user's own directory. The server itself writes the file\n"
      "only in a directory its user owns.\n"
      "\n"
      "Options:\n"
      "  --headless            no window: operator messages to standard error and the\n"
      "                        traffic log, traffic rows and the status title to\n"
      "                        standard output\n";
  usage += kSharedOptionLines;
  usage +=
      "\n"
      "Exit status: 0 after SIGINT/SIGTERM, 1 when the server cannot start or had to\n"
      "shut down, 2 for a bad command line or, without --headless, when the window is\n"
      "not installed.\n";
  return usage;
}

std::string WindowUsage() {
  std::string usage =
      "Usage: paxelle-window [OPTION]...\n"
      "  or:  paxelle-window --attach[=auto] [--workdir DIR | --control PATH]\n"
      "Runs the payment transaction server in its operator window until the window's\n"
      "Exit, SIGINT or SIGTERM (exit 0); SIGHUP and the setup dialog's OK reload the\n"
      "parameters and stop and start the interfaces again. A display is needed. The\n"
      "server without a window, and the params commands, are paxelle's.\n"
      "With --attach the window is a view of a server already running: the service's\n"
      "(its socket /run/paxelle/control), the one working in --workdir DIR, or the one\n"
      "listening on --control PATH. Exit then closes the view only. --attach=auto\n"
      "attaches when the service's socket exists and runs a server of its own when not.\n"
      "\n"
      "Options:\n";
  usage += kSharedOptionLines;
  usage +=
      "  --attach[=auto]       a view of the running server (see above)\n"
      "  --control PATH        the control socket to attach to\n";
  usage +=
      "\n"
      "Exit status: 0 after Exit, SIGINT or SIGTERM, 1 when the server cannot start,\n"
      "had to shut down or lost its display, 2 for a bad command line or without a\n"
      "display.\n";
  return usage;
}

}  // namespace paxelle
