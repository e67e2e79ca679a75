// The progress events the host interface reports to the traffic view, one per
// row the view counts.
#pragma once

#include <functional>

namespace paxelle {

enum class HostTrafficEvent {
  kSendingIp,     // a request is about to go to the host over the network
  kReceivedIp,    // a network exchange ended with a parsed answer
  kSendingDial,   // a record was handed (or handed again) to the dial link
  kReceivedDial,  // a dial hand-over has ended
  kNumbersNotSaved,  // sales are refused: their numbers cannot be saved (told once, until one is saved again)
};

// Receives progress events; called from host worker threads, so it must be
// thread-safe and quick.
using HostTrafficObserver = std::function<void(HostTrafficEvent)>;

}  // namespace paxelle
