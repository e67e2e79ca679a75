// The server's command line: every option read, checked and resolved before
// anything is started, so that a bad value changes nothing.
#pragma once

#include "common/LogRetention.h"
#include "common/Status.h"
#include "common/TimeLimits.h"
#include "dial/ComDevices.h"
#include "host/HostEndpoints.h"

#include <filesystem>
#include <string>
#include <vector>

namespace paxelle {

struct ServerOptions {
  bool headless = false;
  bool showVersion = false;
  bool showHelp = false;
  // Absolute paths: relative ones are resolved against the directory the
  // server was started in, before it changes to the working directory.
  std::filesystem::path workdir;   // default: the current directory
  std::filesystem::path params;    // default: DefaultParamsPath()
  std::filesystem::path keystore;  // default: DefaultKeyStorePath()
  std::string hostCa;              // extra trusted certificates; empty: none
  int clientPort = kDefaultClientPort;
  HostEndpoint host{kDefaultHostName, kDefaultHostPort};
  HostEndpoint secondaryHost{kDefaultHostName, kDefaultHostPort};  // default: the primary
  ComDevices comDevices;
  // --metrics [ADDRESS:]PORT: serve Prometheus metrics there; empty: none.
  std::string metricsAddress;
  // The window as a view of a running server instead of a server of its own:
  // --attach always; --attach=auto when the service's socket exists.
  enum class Attach { kNo, kAlways, kAuto };
  Attach attach = Attach::kNo;
  std::filesystem::path control;  // --control PATH: the socket to attach to
  int logKeepDays = LogRetention::kDefaultKeepDays;  // 0: the traffic logs are kept for ever
};

// Reads the server's arguments (without the program name) into `options`.
// A failure names the option and what is wrong with its value; `options` is
// then left as it was.
Status ParseServerOptions(const std::vector<std::string>& args, ServerOptions& options);

// Reads NAME[:PORT] (PORT 1..65535, default 6661) into `endpoint`, left as it was
// on failure.
Status ParseHostEndpoint(const std::string& text, HostEndpoint& endpoint);

// The directory of the exchange key pair when --keystore is not given: "keys"
// beside the default params file.
std::filesystem::path DefaultKeyStorePath();

// What `paxelle --help` prints: the synopsis of the server and of the params
// commands, and the options.
std::string ServerUsage();
// What `paxelle-window --help` prints.
std::string WindowUsage();

}  // namespace paxelle
