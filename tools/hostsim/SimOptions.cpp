#include "tools/hostsim/SimOptions.h"

#include "tools/hostsim/AmountBehaviour.h"
#include "tools/hostsim/ModemFaults.h"
#include "tools/hostsim/SimText.h"

#include <optional>

namespace paxelle::hostsim {
namespace {

constexpr std::uint64_t kMaxDelayMs = 600000;

// A whole number no larger than `max`, or nothing.
std::optional<std::uint64_t> ReadNumber(const std::string& text, std::uint64_t max) {
  if (!IsNumber(text) || text.size() > 9) return std::nullopt;
  const std::uint64_t value = std::stoull(text);
  if (value > max) return std::nullopt;
  return value;
}

}  // namespace

Status ParseSimOptions(const std::vector<std::string>& args, SimOptions& options) {
  bool portGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const std::size_t equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (name == "--help" || name == "-h") {
      options.help = true;
      continue;
    }
    if (name == "--version") {
      options.version = true;
      continue;
    }
    if (name == "--no-resumption" && !value) {
      options.resumption = false;
      continue;
    }
    if (name != "--port" && name != "--cert" && name != "--key" && name != "--journal" && name != "--delay-ms" &&
        name != "--handshake-delay-ms" && name != "--modem") {
      return Status::Failure("unknown option " + name);
    }
    if (!value) {
      if (i + 1 >= args.size()) return Status::Failure(name + " needs a value");
      value = args[++i];
    }
    if (name == "--port") {
      const auto port = ReadNumber(*value, 65535);
      if (!port) return Status::Failure("--port must be a number from 0 to 65535, not \"" + *value + "\"");
      options.port = static_cast<std::uint16_t>(*port);
      portGiven = true;
    } else if (name == "--delay-ms" || name == "--handshake-delay-ms") {
      const auto delay = ReadNumber(*value, kMaxDelayMs);
      if (!delay) {
        return Status::Failure(name + " must be a number from 0 to " + std::to_string(kMaxDelayMs) + ", not \"" +
                               *value + "\"");
      }
      (name == "--delay-ms" ? options.delay : options.handshakeDelay) = std::chrono::milliseconds(*delay);
    } else if (value->empty()) {
      return Status::Failure(name + " needs a non-empty value");
    } else if (name == "--cert") {
      options.certFile = *value;
    } else if (name == "--key") {
      options.keyFile = *value;
    } else if (name == "--modem") {
      options.modemLink = *value;
    } else {
      options.journalFile = *value;
    }
  }
  if (options.help || options.version) return Status::Ok();
  const bool network = portGiven || !options.certFile.empty() || !options.keyFile.empty();
  if ((network || options.modemLink.empty()) && (!portGiven || options.certFile.empty() || options.keyFile.empty())) {
    return Status::Failure("--port, --cert and --key are required (unless only --modem is given)");
  }
  options.network = network;
  return Status::Ok();
}

std::string SimHelpText() {
  return "Usage: paxelle-hostsim --port N --cert PEM --key PEM [--modem PATH] [--journal FILE] [--delay-ms N]\n"
         "                       [--handshake-delay-ms N] [--no-resumption]\n"
         "  or:  paxelle-hostsim --modem PATH [--journal FILE] [--delay-ms N]\n"
         "  or:  paxelle-hostsim --help | --version\n"
         "\n"
         "Simulates the card authorization host for tests and demonstrations: a TLS server\n"
         "(TLS 1.2 or newer) on 127.0.0.1 that reads host messages, each preceded by two\n"
         "bytes of length (high byte first), and answers each one the same way.\n"
         "\n"
         "Options:\n"
         "  --port N        port on 127.0.0.1; 0 picks a free one. Once listening, one line\n"
         "                  \"paxelle-hostsim listening on 127.0.0.1:<port>\" goes to standard output\n"
         "  --cert PEM      server certificate (chain) in PEM\n"
         "  --key PEM       its private key in PEM\n"
         "  --journal FILE  append one line per received message: time, kind (REQUEST,\n"
         "                  COMPLETION with its status, BATCH-INQUIRY, BATCH-CLOSE or UNKNOWN)\n"
         "                  and the message with account numbers and track data masked to their\n"
         "                  last four digits and PIN data and CVV masked whole\n"
         "  --delay-ms N    how long the delayed answer waits (default 2000, at most 600000)\n"
         "  --handshake-delay-ms N\n"
         "                  each connection waits N ms before its TLS handshake, as a distant\n"
         "                  host would (default 0, at most 600000)\n"
         "  --no-resumption every connection gets a full handshake: no session ids, no session\n"
         "                  tickets (by default a returning client may resume its TLS session)\n"
         "  --modem PATH    also (or only) a dial-up modem with the host behind it, on a\n"
         "                  pseudo-terminal whose device is linked at PATH (an old symbolic link\n"
         "                  there is replaced); the server opens PATH as its COM port. Once ready,\n"
         "                  \"paxelle-hostsim modem on PATH (<device>)\" goes to standard output\n"
         "  --help          print this text and exit\n"
         "  --version       print the version and exit\n"
         "\n"
         "Transaction requests are answered by the last two digits of the amount in cents:\n" +
         BehaviourTableText() +
         "\n"
         "Answers: the request's first 76 characters, the approved amount, a four-digit response\n"
         "code and a 16-character text; then, separated by FS, a 24-character reference block\n"
         "whose characters 12-23 are the transaction's date and time, the authorization code,\n"
         "an empty piece and the results \"AYM\" (AVS Y, CVV M). EBT answers add the food\n"
         "balance 500.00 at 13-20 and the cash balance 250.00 at 21-28 of that last piece; EMV\n"
         "answers add issuer authentication data as the ninth piece. Approved forces (voice\n"
         "authorization, capture) carry \"UPLOADED\" at 60-75. Completions get a short\n"
         "acknowledgement; messages of no known layout get response code 0030 \"FORMAT ERROR\".\n"
         "\n"
         "Batch: approved purchases (codes 01, 03, 11, 12, 21, 22) and returns (04, 17, 26) are\n"
         "totalled per merchant and terminal (partial approvals only when the request allowed\n"
         "them, at the approved amount; voids are not netted out). A batch inquiry answers\n"
         "\"HOST TOTALS\" at 64 with the totals from 115; a batch close answers \"BATCH CLOSED\"\n"
         "at 60 with the totals from 76 and starts a new batch. The control number a server\n"
         "reads at 92-101 of the close answer lies inside those totals: the last three digits\n"
         "of the credit return amount and the first seven of the net credit amount.\n"
         "\n"
         "\n"
         "The modem answers Hayes commands in verbose form (echo as bytes arrive, E0/E1, &F,\n"
         "S12 guard time, ATDT, \"+++\" between guard times, ATH0). A dial is answered\n"
         "\"CONNECT 19200\", then the host sends ENQ, reads request frames (STX, message, ETX,\n"
         "LRC), ACKs a good one and NAKs one with a wrong LRC or whose link indicator (position\n"
         "5) is not \"1\" (journalled as MODEM REFUSED), answers with the same rules as above\n"
         "in a frame of its own, and ends the exchange with EOT; the call stays up for the\n"
         "next frame. A call without frames for 60 s ends with NO CARRIER, and so does one\n"
         "where the terminal starts sending commands. Faults:\n" +
         ModemFaultTableText() +
         "Journal lines of the modem side begin with MODEM: every message received (masked\n"
         "as above), DIAL with the number and the answer, NAK, ESCAPE, HANGUP, NO CARRIER.\n"
         "\n"
         "A connection idle for 60 s is closed. SIGINT or SIGTERM ends the simulator (exit 0);\n"
         "a usage error exits 2, a start-up failure 1.\n";
}

}  // namespace paxelle::hostsim
