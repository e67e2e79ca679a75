#include "tools/hostsim/AmountBehaviour.h"

namespace paxelle::hostsim {

Behaviour BehaviourForAmount(std::string_view amount) {
  const std::string_view ending = amount.size() >= 2 ? amount.substr(amount.size() - 2) : amount;
  if (ending == "01") return Behaviour::kDecline;
  if (ending == "02") return Behaviour::kPartialApprove;
  if (ending == "03") return Behaviour::kNoAnswer;
  if (ending == "04") return Behaviour::kCloseConnection;
  if (ending == "05") return Behaviour::kGarbage;
  if (ending == "06") return Behaviour::kDelayedApprove;
  if (ending == "07") return Behaviour::kStream;
  return Behaviour::kApprove;
}

std::string BehaviourTableText() {
  return "  .01  declined: response code 0005, text DECLINED\n"
         "  .02  partially approved: code 0010, approved amount half the requested (rounded\n"
         "       down) at 76-83; forces are uploaded in full instead; a server that did not\n"
         "       allow partial approval treats the answer as declined\n"
         "  .03  never answered: the connection stays open and nothing is sent\n"
         "  .04  connection closed without an answer\n"
         "  .05  garbage: the answer is the seven characters GARBAGE\n"
         "  .06  approved, answered after --delay-ms\n"
         "  .07  a hostile answer: over TLS, length bytes announcing 16 bytes and then bytes\n"
         "       without end until the server leaves; by modem, STX and 128 KiB without ETX\n"
         "  any other ending  approved: code 0000 (0100 for an EBT balance), text APPROVED\n";
}

}  // namespace paxelle::hostsim
