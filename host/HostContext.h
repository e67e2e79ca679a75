// The host interface's share of a server: its own objects (endpoints, TLS
// settings, number files, batch state) beside the server's shared context.
#pragma once

#include "common/Clock.h"
#include "core/ServerContext.h"
#include "host/BatchState.h"
#include "host/HostAddressCache.h"
#include "host/HostEndpoints.h"
#include "host/HostSessionCache.h"
#include "host/SecurityInterface.h"
#include "host/SequenceCounters.h"

namespace paxelle {

// One per server, built beside its CServerContext (which must outlive it); the
// host thread, its workers, the links and the request builders use it by reference.
struct CHostContext {
  // The number files and the batch file live in the server's working directory;
  // `clock` is the batch state's "now".
  explicit CHostContext(CServerContext& serverContext, WallClock clock = SystemNow)
      : server(serverContext),
        counters(serverContext.workdir, serverContext.log),
        batch(serverContext.workdir, serverContext.log, std::move(clock)) {}
  CHostContext(const CHostContext&) = delete;
  CHostContext& operator=(const CHostContext&) = delete;

  CServerContext& server;
  HostEndpoints endpoints;
  CSecurityInterface security;
  // Emptied at every interface start, so a changed trust setting never meets an old session.
  CHostSessionCache sessions;
  // Emptied at every interface start too: the endpoints' names are looked up again.
  CHostAddressCache addresses;
  CSequenceCounters counters;
  CBatchState batch;
};

}  // namespace paxelle
