// The command line of paxelle-hostsim and its help text.
#pragma once

#include "common/Status.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace paxelle::hostsim {

struct SimOptions {
  bool help = false;
  bool version = false;
  std::uint16_t port = 0;
  std::string certFile;
  std::string keyFile;
  std::string journalFile;  // empty: no journal
  std::string modemLink;    // empty: no modem side
  bool network = true;      // the TLS side runs (--port given)
  std::chrono::milliseconds delay{2000};
  std::chrono::milliseconds handshakeDelay{0};  // before each connection's handshake
  bool resumption = true;   // TLS sessions may be resumed (--no-resumption: never)
};

// Reads `args` (without the program name): --port N, --cert PEM, --key PEM, --journal FILE,
// --delay-ms N, --handshake-delay-ms N, --modem PATH, --no-resumption, --help, --version; each value also as --name=VALUE. A failure
// for an unknown option, a missing or malformed value, or neither --modem nor all of
// --port, --cert and --key (unless --help or --version); --port without --cert and --key is
// refused too.
Status ParseSimOptions(const std::vector<std::string>& args, SimOptions& options);

// The --help text: usage, every option, the answers and the amount behaviour table.
std::string SimHelpText();

}  // namespace paxelle::hostsim
