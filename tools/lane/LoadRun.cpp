#include "tools/lane/LoadRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <latch>
#include <map>
#include <system_error>
#include <thread>

#include "tools/lane/LaneDocument.h"

namespace paxelle::lane {

namespace {

using Clock = std::chrono::steady_clock;

// What one lane saw; written only by its own thread, merged after the join.
struct LaneTally {
  long long approved = 0;
  long long declined = 0;
  long long errorResponses = 0;
  long long unanswered = 0;
  std::vector<double> latenciesMs;
  std::string error;
};

void RunLane(int lane, const LaneSessionOptions& session, const LoadOptions& load, std::latch& ready,
             LaneTally& tally) {
  LaneConnection connection;
  const Status opened = OpenLaneSession(session, connection);
  ready.arrive_and_wait();
  if (!opened.ok()) {
    tally.unanswered = load.count;
    tally.error = opened.message();
    return;
  }
  std::string error;
  if (load.idleSeconds > 0) std::this_thread::sleep_for(std::chrono::seconds(load.idleSeconds));
  tally.latenciesMs.reserve(static_cast<std::size_t>(load.count));
  const char type = session.alternate ? kTypeEncryptedAlternate : kTypeEncrypted;
  for (int i = 0; i < load.count; ++i) {
    if (i > 0 && load.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(load.pauseMs));
    const long long sequence = static_cast<long long>(lane - 1) * load.count + i + 1;
    const std::string payload = BuildLoadSalePayload(lane, sequence, load.amount);
    const auto start = Clock::now();
    LaneResponse final;
    if (!connection.SendRequest(payload, session.trace, type)) {
      error = "cannot send a request: " + connection.LastError();
    } else if (const Status answered = AwaitFinalResponse(connection, session.timeout, nullptr, final);
               !answered.ok()) {
      error = answered.message();  // a late response would be taken for the next request's: the lane stops here
    } else {
      tally.latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      CommandResponse reply;
      const bool parsed = ParseCommandResponse(final.document, reply).ok();
      if (parsed && reply.cmdStatus == "Approved") {
        ++tally.approved;
      } else if (parsed && reply.cmdStatus == "Declined") {
        ++tally.declined;
      } else {
        ++tally.errorResponses;
      }
      continue;
    }
    tally.unanswered = load.count - i;
    tally.error = error;
    return;
  }
}

std::string OneDecimal(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

double NearestRankPercentile(const std::vector<double>& sorted, int percent) {
  if (sorted.empty()) return 0;
  const long long count = static_cast<long long>(sorted.size());
  const long long clamped = std::clamp(percent, 1, 100);
  const long long rank = std::max(1LL, (clamped * count + 99) / 100);
  return sorted[static_cast<std::size_t>(rank - 1)];
}

std::string FormatLoadSummary(const LoadTotals& totals) {
  std::vector<double> sorted = totals.latenciesMs;
  std::sort(sorted.begin(), sorted.end());
  const long long answered = totals.requests - totals.unanswered;
  const double tps = totals.seconds > 0 ? static_cast<double>(answered) / totals.seconds : 0.0;
  return "load lanes=" + std::to_string(totals.lanes) + " requests=" + std::to_string(totals.requests) +
         " approved=" + std::to_string(totals.approved) + " declined=" + std::to_string(totals.declined) +
         " errors=" + std::to_string(totals.errors) + " seconds=" + OneDecimal(totals.seconds) +
         " tps=" + OneDecimal(tps) + " p50_ms=" + OneDecimal(NearestRankPercentile(sorted, 50)) +
         " p99_ms=" + OneDecimal(NearestRankPercentile(sorted, 99));
}

std::string BuildLoadSalePayload(int lane, long long sequence, const std::string& amount) {
  const std::string number = std::to_string(sequence);
  return BuildRequestPayload({{"TStream", "Transaction"},
                              {"MerchantID", "1"},
                              {"ClientID", std::to_string(lane)},
                              {"TranType", "Credit"},
                              {"TranCode", "Sale"},
                              {"InvoiceNo", number},
                              {"RefNo", number},
                              {"AcctNo", std::string(kLoadTestAccount)},
                              {"ExpDate", std::string(kLoadTestExpiry)},
                              {"Purchase", amount}});
}

LoadTotals RunLoad(const LaneSessionOptions& session, const LoadOptions& load) {
  LoadTotals totals;
  const int lanes = std::max(load.lanes, 0);
  const int count = std::max(load.count, 0);
  totals.lanes = lanes;
  totals.requests = static_cast<long long>(lanes) * count;
  LoadOptions plan = load;
  plan.count = count;

  std::vector<LaneTally> tallies(static_cast<std::size_t>(lanes));
  std::vector<std::thread> threads;
  threads.reserve(tallies.size());
  std::latch ready(lanes);
  for (int lane = 1; lane <= lanes; ++lane) {
    LaneTally& tally = tallies[static_cast<std::size_t>(lane - 1)];
    try {
      threads.emplace_back(RunLane, lane, std::cref(session), std::cref(plan), std::ref(ready), std::ref(tally));
    } catch (const std::system_error& failure) {
      tally.unanswered = count;
      tally.error = std::string("cannot start the lane's thread: ") + failure.what();
      ready.count_down();
    }
  }
  ready.wait();
  const auto start = Clock::now() + std::chrono::seconds(load.idleSeconds);
  for (std::thread& thread : threads) thread.join();
  totals.seconds = std::chrono::duration<double>(Clock::now() - start).count();

  for (LaneTally& tally : tallies) {
    totals.approved += tally.approved;
    totals.declined += tally.declined;
    totals.errors += tally.errorResponses + tally.unanswered;
    totals.unanswered += tally.unanswered;
    totals.latenciesMs.insert(totals.latenciesMs.end(), tally.latenciesMs.begin(), tally.latenciesMs.end());
    if (!tally.error.empty()) totals.laneErrors.push_back(std::move(tally.error));
  }
  return totals;
}

int RunLoadCommand(const LaneSessionOptions& session, const LoadOptions& load, std::ostream& out,
                   std::ostream& err) {
  const LoadTotals totals = RunLoad(session, load);
  std::map<std::string, int> failures;
  for (const std::string& error : totals.laneErrors) ++failures[error];
  for (const auto& [error, lanes] : failures) {
    err << "opx-lane: load: " << lanes << (lanes == 1 ? " lane" : " lanes") << " stopped: " << error << "\n";
  }
  if (totals.unanswered > 0) {
    err << "opx-lane: load: " << totals.unanswered << " of " << totals.requests
        << " requests got no final response\n";
  }
  out << FormatLoadSummary(totals) << "\n" << std::flush;
  return totals.unanswered == 0 ? kExitOk : kExitLoadIncomplete;
}

}  // namespace paxelle::lane
