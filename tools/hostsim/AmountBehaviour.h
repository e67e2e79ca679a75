// The simulator's behaviour table: how a transaction request is answered, chosen by the
// last two digits of its amount in cents, so a tester picks an outcome by the amount alone.
#pragma once

#include <string>
#include <string_view>

namespace paxelle::hostsim {

enum class Behaviour {
  kApprove,          // any other ending
  kDecline,          // .01
  kPartialApprove,   // .02
  kNoAnswer,         // .03
  kCloseConnection,  // .04
  kGarbage,          // .05
  kDelayedApprove,   // .06
  kStream,           // .07
};

// The behaviour for an amount field (digits of cents); its last two characters decide.
Behaviour BehaviourForAmount(std::string_view amount);

// The table as help text, one line per ending, each line ending in a line feed.
std::string BehaviourTableText();

}  // namespace paxelle::hostsim
