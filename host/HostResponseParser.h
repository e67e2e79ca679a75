// Reads the authorization host's answer into the record's host result block
// and has the lane's response built from it.
#pragma once

#include "core/Request.h"
#include "host/BatchState.h"

namespace paxelle {

// Parses HostResponse by HostMsgKind, then builds the lane's response
// (FinishResponse, or the 4002 error response for a kind it cannot
// attribute). Never rejects an answer for its length: what is missing reads
// empty. A successful batch close answer closes the process-wide batch.
void ParseHostResponse(CRequest& record);
// The same, closing `batch` after a successful batch close answer.
void ParseHostResponse(CRequest& record, CBatchState& batch);

}  // namespace paxelle
