// The time limits a client session runs under (the defaults are the server's,
// tests shorten them) and the parts of the server it works with.
#pragma once

#include "common/TimeLimits.h"

#include <cstddef>

namespace paxelle {

class CBatchState;
class CMessageCrypto;
class CServerContext;
struct ClientGuards;

struct ClientSessionSettings {
  std::chrono::milliseconds loginLimit{kLoginLimit};
  // A connection over the limit only waits for its refusal: it holds a
  // thread, so it gets less time for its login (never more than loginLimit).
  std::chrono::milliseconds refusedLoginLimit{kRefusedLoginLimit};
  std::chrono::milliseconds idleLimit{kSessionIdleLimit};
  // Longest wait for client bytes before the session looks at its queued
  // records and the going-offline flag (a finished record wakes it earlier).
  std::chrono::milliseconds pollInterval{kSessionPoll};
  std::chrono::milliseconds drainLimit{kSessionDrainLimit};
  std::chrono::milliseconds drainStep{kSessionDrainStep};
  // Records one connection may have waiting for the host or for delivery;
  // aborts and the batch close are not counted. The next request past it is
  // refused with 004003.
  std::size_t pendingLimit = 32;
};

// What the listener and its sessions use of the server; every object must
// outlive the listener.
struct ClientLinkParts {
  CServerContext& server;  // queue, parameters, log, request cryptography
  CMessageCrypto& crypto;  // challenge and public key of the login
  CBatchState& batch;      // closed by a batch close answered over the dial link
  ClientGuards& guards;    // replayed frames and login failures, across connections
};

}  // namespace paxelle
