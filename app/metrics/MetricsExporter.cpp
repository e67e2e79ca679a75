#include "app/metrics/MetricsExporter.h"

#include "common/TextHelpers.h"
#include "common/Mutex.h"
#include "common/TimeLimits.h"

#include <prometheus/counter.h>
#include <prometheus/exposer.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <atomic>
#include <exception>

namespace paxelle {
namespace {

using prometheus::BuildCounter;
using prometheus::BuildGauge;
using prometheus::BuildHistogram;

// Seconds. The host answers within its time-out of 35 s; a commit is a few syncs.
const prometheus::Histogram::BucketBoundaries kExchangeBuckets = {0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 20, 35};
const prometheus::Histogram::BucketBoundaries kCommitBuckets = {0.0005, 0.001, 0.0025, 0.005, 0.01,
                                                                0.025,  0.05,  0.1,    0.25,  1};

double Seconds(std::chrono::microseconds took) { return static_cast<double>(took.count()) / 1e6; }

}  // namespace

struct MetricsExporter::Families {
  std::shared_ptr<prometheus::Registry> registry = std::make_shared<prometheus::Registry>();
  prometheus::Family<prometheus::Counter>& requests =
      BuildCounter().Name("paxelle_requests_total").Help("Requests answered to lanes, by TranCode and outcome (approved, declined, success, or the return code)").Register(*registry);
  prometheus::Family<prometheus::Histogram>& exchange =
      BuildHistogram().Name("paxelle_host_exchange_seconds").Help("Time from sending a request to the host to its answer or time-out").Register(*registry);
  prometheus::Family<prometheus::Counter>& completions =
      BuildCounter().Name("paxelle_completions_total").Help("Completions to the host, by result (sent, failed)").Register(*registry);
  prometheus::Family<prometheus::Counter>& dialCalls =
      BuildCounter().Name("paxelle_dial_calls_total").Help("Dial calls to the host, by outcome").Register(*registry);
  prometheus::Family<prometheus::Gauge>& lanes =
      BuildGauge().Name("paxelle_connected_lanes").Help("Lane connections to the client listener").Register(*registry);
  prometheus::Family<prometheus::Gauge>& waiting =
      BuildGauge().Name("paxelle_records_waiting").Help("Records in the pending queue not yet delivered").Register(*registry);
  prometheus::Family<prometheus::Histogram>& commits =
      BuildHistogram().Name("paxelle_number_commit_seconds").Help("Time of one durable write of the sequence and item number files").Register(*registry);
  prometheus::Family<prometheus::Counter>& logDropped =
      BuildCounter().Name("paxelle_log_entries_dropped_total").Help("Traffic log entries that never reached the file").Register(*registry);
  prometheus::Family<prometheus::Gauge>& interfaces =
      BuildGauge().Name("paxelle_interfaces_up").Help("1 while the interfaces run, else 0").Register(*registry);
  prometheus::Family<prometheus::Gauge>& reachable =
      BuildGauge().Name("paxelle_host_reachable").Help("1 when the last connection to the host was made, 0 when it failed").Register(*registry);

  prometheus::Histogram& answered = exchange.Add({{"answered", "yes"}}, kExchangeBuckets);
  prometheus::Histogram& unanswered = exchange.Add({{"answered", "no"}}, kExchangeBuckets);
  prometheus::Counter& completionsSent = completions.Add({{"result", "sent"}});
  prometheus::Counter& completionsFailed = completions.Add({{"result", "failed"}});
  prometheus::Gauge& lanesNow = lanes.Add({});
  prometheus::Gauge& waitingNow = waiting.Add({});
  prometheus::Histogram& commitTimes = commits.Add({}, kCommitBuckets);
  prometheus::Counter& dropped = logDropped.Add({});
  prometheus::Gauge& up = interfaces.Add({});

  Mutex refreshMutex;
  std::uint64_t droppedCounted GUARDED_BY(refreshMutex) = 0;
  std::unique_ptr<prometheus::Exposer> exposer;
};

Status ParseMetricsAddress(const std::string& text, std::string& address) {
  std::string host = "127.0.0.1";
  std::string port = text;
  if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
  const bool ipv4 = !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
  if (!bracketed && !ipv4) {
    return Status::Failure("\"" + text + "\" is not [ADDRESS:]PORT with an IPv4 address or a bracketed IPv6 one");
  }
  if (port.empty() || port.size() > 5 || !AllDigits(port) || LeadingInt(port) > 65535) {
    return Status::Failure("\"" + text + "\": port \"" + port + "\" is not a number from 0 to 65535");
  }
  address = host + ":" + port;
  return Status::Ok();
}

MetricsExporter::MetricsExporter() : families_(std::make_unique<Families>()) {}

MetricsExporter::~MetricsExporter() {
  // The server threads first, while the registry they read still exists.
  if (families_) families_->exposer.reset();
}

Status MetricsExporter::Start(const std::string& address, std::unique_ptr<MetricsExporter>& started) {
  std::unique_ptr<MetricsExporter> exporter(new MetricsExporter());
  try {
    // Two threads serve scrapes; a scraper that stalls is cut off after 10 s.
    exporter->families_->exposer = std::make_unique<prometheus::Exposer>(
        std::vector<std::string>{"listening_ports", address, "num_threads", "2", "request_timeout_ms",
                                 std::to_string(milliseconds(kMetricsRequestLimit).count())});
    exporter->families_->exposer->RegisterCollectable(exporter->families_->registry);
    const std::vector<int> ports = exporter->families_->exposer->GetListeningPorts();
    if (ports.empty()) return Status::Failure("metrics: nothing listens on " + address);
    exporter->bound_ = address.substr(0, address.rfind(':')) + ":" + std::to_string(ports.front());
  } catch (const std::exception& failure) {
    return Status::Failure("metrics: cannot listen on " + address + ": " + failure.what());
  }
  started = std::move(exporter);
  return Status::Ok();
}

void MetricsExporter::Refresh(const MetricsGauges& gauges) {
  Families& families = *families_;
  families.lanesNow.Set(gauges.connectedLanes);
  families.waitingNow.Set(gauges.recordsWaiting);
  families.up.Set(gauges.interfacesUp ? 1 : 0);
  MutexLock lock(families.refreshMutex);
  if (gauges.logEntriesDropped > families.droppedCounted) {
    families.dropped.Increment(static_cast<double>(gauges.logEntriesDropped - families.droppedCounted));
    families.droppedCounted = gauges.logEntriesDropped;
  }
}

void MetricsExporter::RequestAnswered(std::string_view kind, std::string_view outcome) {
  families_->requests.Add({{"kind", std::string(kind)}, {"outcome", std::string(outcome)}}).Increment();
}

void MetricsExporter::HostExchange(std::chrono::microseconds took, bool answered) {
  (answered ? families_->answered : families_->unanswered).Observe(Seconds(took));
}

void MetricsExporter::Completion(bool sent) {
  (sent ? families_->completionsSent : families_->completionsFailed).Increment();
}

// Shown from the first connection on: before it, nothing is known.
void MetricsExporter::HostReached(bool reached) { families_->reachable.Add({}).Set(reached ? 1 : 0); }

void MetricsExporter::DialCall(std::string_view outcome) {
  families_->dialCalls.Add({{"outcome", std::string(outcome)}}).Increment();
}

void MetricsExporter::NumberCommit(std::chrono::microseconds took) { families_->commitTimes.Observe(Seconds(took)); }

}  // namespace paxelle
