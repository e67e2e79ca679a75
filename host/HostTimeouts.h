// How long the host interface waits for the host's answer to one message.
#pragma once

namespace paxelle {

inline constexpr int kHostExchangeTimeoutMs = 35000;

}  // namespace paxelle
