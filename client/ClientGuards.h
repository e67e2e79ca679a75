// What the client link keeps across its connections (and its restarts) to
// defend the server against a hostile lane: the request frames taken lately and
// the login failures per address.
#pragma once

#include "client/LoginThrottle.h"
#include "client/ReplayGuard.h"

namespace paxelle {

struct ClientGuards {
  CReplayGuard replays;
  CLoginThrottle logins;
};

}  // namespace paxelle
