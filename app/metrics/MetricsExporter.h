// The server's Prometheus metrics on a loopback (or chosen) address: what the
// parts report through IServerMetrics, and the gauges the status refresh sets.
// The library keeps the values, writes the text format and serves /metrics.
#pragma once

#include "core/ServerMetrics.h"

#include <cstdint>
#include <memory>
#include "common/Status.h"

#include <string>

namespace paxelle {

// Reads --metrics's value: PORT alone (on 127.0.0.1), or ADDRESS:PORT with an
// IPv4 address or a bracketed IPv6 one, into `address` (left as it was on failure).
Status ParseMetricsAddress(const std::string& text, std::string& address);

// What the status refresh knows; set every refresh period.
struct MetricsGauges {
  int connectedLanes = 0;
  int recordsWaiting = 0;
  bool interfacesUp = false;
  std::uint64_t logEntriesDropped = 0;  // since the server began
};

class MetricsExporter final : public IServerMetrics {
 public:
  ~MetricsExporter() override;
  MetricsExporter(const MetricsExporter&) = delete;
  MetricsExporter& operator=(const MetricsExporter&) = delete;

  // Serves /metrics on `address` (as ParseMetricsAddress gives it; port 0
  // takes a free one). A failure, `started` unchanged, when it cannot listen there.
  static Status Start(const std::string& address, std::unique_ptr<MetricsExporter>& started);
  // The address it listens on, with the port it got.
  const std::string& Address() const { return bound_; }

  void Refresh(const MetricsGauges& gauges);

  void RequestAnswered(std::string_view kind, std::string_view outcome) override;
  void HostExchange(std::chrono::microseconds took, bool answered) override;
  void Completion(bool sent) override;
  void HostReached(bool reached) override;
  void DialCall(std::string_view outcome) override;
  void NumberCommit(std::chrono::microseconds took) override;

 private:
  struct Families;
  MetricsExporter();

  std::unique_ptr<Families> families_;
  std::string bound_;
};

}  // namespace paxelle
