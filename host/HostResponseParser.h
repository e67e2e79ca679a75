// Reads the authorization host's answer into the record's host result block
// and has the lane's response built from it.
#pragma once

#include "core/Request.h"
#include "host/BatchState.h"

namespace paxelle {

class CServerContext;

// Parses HostResponse by HostMsgKind, then builds the lane's response
// (FinishResponse, or the 4002 error response for a kind it cannot
// attribute) with `context`. Never rejects an answer for its length: what is
// missing reads empty. A successful batch close answer closes `batch`.
void ParseHostResponse(CRequest& record, CBatchState& batch, CServerContext& context);

}  // namespace paxelle
