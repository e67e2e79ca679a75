#include "tools/hostsim/ModemFaults.h"

namespace paxelle::hostsim {

CallFault CallFaultForNumber(std::string_view number) {
  std::string digits;
  for (const char c : number) {
    if (c >= '0' && c <= '9') digits += c;
  }
  const std::string_view ending = std::string_view(digits).substr(digits.size() >= 4 ? digits.size() - 4 : 0);
  if (ending == "0001") return CallFault::kBusy;
  if (ending == "0002") return CallFault::kNoCarrier;
  if (ending == "0003") return CallFault::kNoDialAnswer;
  if (ending == "0004") return CallFault::kNoEnq;
  if (ending == "0005") return CallFault::kDropWhenIdle;
  if (ending == "0006") return CallFault::kModemHangs;
  if (ending == "0007") return CallFault::kUnplugged;
  return CallFault::kNone;
}

ExchangeFault ExchangeFaultForAmount(std::string_view amount) {
  const std::string_view ending = amount.size() >= 2 ? amount.substr(amount.size() - 2) : amount;
  if (ending == "11") return ExchangeFault::kNakOnce;
  if (ending == "12") return ExchangeFault::kNakAlways;
  if (ending == "13") return ExchangeFault::kBadLrcFirst;
  if (ending == "14") return ExchangeFault::kNoEot;
  return ExchangeFault::kNone;
}

std::string ModemFaultTableText() {
  return "  By the last four digits of the dialled number:\n"
         "    0001  BUSY\n"
         "    0002  NO CARRIER\n"
         "    0003  the dial is never answered\n"
         "    0004  CONNECT 19200, but no ENQ follows\n"
         "    0005  the call works, but 200 ms after each exchange the line drops with an\n"
         "          unsolicited NO CARRIER\n"
         "    0006  NO DIALTONE, and from then on the modem answers no command (not even\n"
         "          OK) until the simulator is restarted\n"
         "    0007  the call works, but 200 ms after each exchange the modem is unplugged and\n"
         "          plugged in again: its device hangs up and a new one appears at the same path\n"
         "    other CONNECT 19200, ENQ, and the exchanges below\n"
         "  By the last two digits of a request's amount in cents (the answer itself follows\n"
         "  the table above, so these approve):\n"
         "    .11   the request frame is NAK'd the first time it arrives\n"
         "    .12   the request frame is NAK'd every time (a server gives up after three sends)\n"
         "    .13   the answer is sent first with a wrong LRC, then, after the NAK, correctly\n"
         "    .14   the answer is ACKed but no EOT follows\n"
         "    .03   ACK, then no answer at all\n"
         "    .04   ACK, then the line drops (NO CARRIER) in the middle of the exchange\n";
}

}  // namespace paxelle::hostsim
