// What a host message build reads besides the transaction record: the number
// files, the merchant parameters and the clock.
#pragma once

#include "common/Clock.h"
#include "common/Status.h"
#include "config/MerchantParams.h"
#include "host/BatchState.h"
#include "host/SequenceCounters.h"

namespace paxelle {

// The counters and the batch state must outlive every build that uses them.
struct HostMessageSources {
  CSequenceCounters& counters;
  CBatchState& batch;
  CMerchantParams params;
  WallClock clock;
  // Where a build hands its numbers out, unsaved: the message must not leave the
  // process before counters.Commit(*claim) is ok. Null: a build saves its
  // numbers before it returns.
  NumberClaim* claim = nullptr;
  // Where a build says why its message must not be sent (a HostRequestRefusal);
  // left as it was when the message may go. Null: not told.
  Status* refusal = nullptr;
};

struct CHostContext;

// The host context's counters and batch state, a copy of its current parameter
// set and the system clock.
HostMessageSources HostMessageSourcesOf(CHostContext& host);

}  // namespace paxelle
