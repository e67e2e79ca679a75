// The load command: many lanes, each with its own connection and thread, send
// credit sales one after another, and one summary line tells how it went.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/lane/OpxLaneCommands.h"

namespace paxelle::lane {

// The keyed test account every load sale uses, and its expiry (MMYY).
inline constexpr std::string_view kLoadTestAccount = "4111111111111111";
inline constexpr std::string_view kLoadTestExpiry = "1229";

struct LoadTotals {
  int lanes = 0;
  long long requests = 0;
  long long approved = 0;
  long long declined = 0;
  long long errors = 0;      // every request not approved or declined, the unanswered ones included
  long long unanswered = 0;  // requests that got no final response
  double seconds = 0;        // from the moment every lane was logged in to the last lane's end
  std::vector<double> latenciesMs;     // one per final response, in no particular order
  std::vector<std::string> laneErrors;  // why a lane stopped early, one entry per such lane
};

// The value at `percent` (1 to 100) of `sorted` (ascending) by the nearest
// rank: the smallest value with at least `percent` % of all at or below it.
// 0 for an empty list.
double NearestRankPercentile(const std::vector<double>& sorted, int percent);

// The one summary line, without a line end:
// "load lanes=.. requests=.. approved=.. declined=.. errors=.. seconds=.. tps=.. p50_ms=.. p99_ms=..",
// each decimal with one digit after the point; tps counts final responses.
std::string FormatLoadSummary(const LoadTotals& totals);

// The payload of load sale number `sequence` (unique within the run, used as
// InvoiceNo and RefNo) from lane `lane` (its ClientID).
std::string BuildLoadSalePayload(int lane, long long sequence, const std::string& amount);

// Runs the load: `load.lanes` threads each connect and log in with
// `session`, wait until every lane is ready, then send `load.count` sales one
// after another, timing each from just before it is sent to its final
// response (at most `session.timeout`). A lane whose connection fails stops;
// its remaining sales count as unanswered. Never throws.
LoadTotals RunLoad(const LaneSessionOptions& session, const LoadOptions& load);

// The load command: RunLoad, the lanes' failures on `err`, the summary line on
// `out`. kExitOk when every request got a final response, else kExitLoadIncomplete.
int RunLoadCommand(const LaneSessionOptions& session, const LoadOptions& load, std::ostream& out,
                   std::ostream& err);

}  // namespace paxelle::lane
