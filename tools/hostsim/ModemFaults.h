// The modem side's fault table: what goes wrong on a call, chosen by the last four
// digits of the dialled number or by the last two digits of a request's amount in
// cents, so a tester picks a fault through the merchant parameters or the sale.
#pragma once

#include <string>
#include <string_view>

namespace paxelle::hostsim {

enum class CallFault {
  kNone,              // any other ending: CONNECT 19200, ENQ, exchanges
  kBusy,              // ...0001
  kNoCarrier,         // ...0002
  kNoDialAnswer,      // ...0003: the dial is never answered
  kNoEnq,             // ...0004: CONNECT, but no ENQ
  kDropWhenIdle,      // ...0005: an unsolicited NO CARRIER once an exchange has ended
  kModemHangs,        // ...0006: NO DIALTONE, then no answer to any command, OK included
  kUnplugged,         // ...0007: unplugged and plugged in again once an exchange has ended
};

enum class ExchangeFault {
  kNone,
  kNakOnce,      // .11: the request frame is NAK'd the first time
  kNakAlways,    // .12: the request frame is NAK'd every time
  kBadLrcFirst,  // .13: the answer goes first with a wrong LRC
  kNoEot,        // .14: the ACKed answer is not followed by EOT
};

// The fault for a dialled number (digits; anything else in it is skipped).
CallFault CallFaultForNumber(std::string_view number);

// The fault for a request's amount field (digits of cents).
ExchangeFault ExchangeFaultForAmount(std::string_view amount);

// The table as help text, one line per ending, each ending in a line feed.
std::string ModemFaultTableText();

}  // namespace paxelle::hostsim
