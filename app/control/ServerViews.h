// Everything that lets people watch one running server from outside it: the
// board the operator interface keeps, the control socket that serves it, and
// the metrics. The application owns one for the life of the process.
#pragma once

#include "app/OperatorInterface.h"
#include "app/control/ControlServer.h"
#include "app/control/ViewBoard.h"
#include "app/metrics/MetricsExporter.h"
#include "core/ServerMetrics.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace paxelle {

class CServerObjects;

struct ServerViewsSetup {
  std::filesystem::path controlPath;  // where the control socket is made
  std::string metricsAddress;         // as ParseMetricsAddress gives it; empty: no metrics
  std::string hostPrimary;            // NAME:PORT, as configured
  std::string hostSecondary;
  std::string paramsFile;
};

class ServerViews final : public IServerMetrics {
 public:
  // Installs itself as `objects`' monitor. `objects` must outlive the control
  // socket (Close) but not this object, which its threads may still report to
  // until they have ended: destroy this after `objects`.
  ServerViews(CServerObjects& objects, ServerViewsSetup setup);
  ~ServerViews() override;
  ServerViews(const ServerViews&) = delete;
  ServerViews& operator=(const ServerViews&) = delete;

  // `inner` with the board kept beside it.
  std::unique_ptr<IOperatorInterface> Wrap(std::unique_ptr<IOperatorInterface> inner);
  // Opens the control socket and, when asked for, the metrics. What cannot be
  // opened goes to `notice` (the operator and the log) and the server runs
  // without it. `restart` asks the front end for a restart (any thread).
  // `log` writes one traffic log line (any thread).
  void Open(std::function<void()> restart, std::function<void(const std::string&)> log,
            const std::function<void(const std::string&)>& notice);
  // The status refresh: the gauges of the metrics.
  void Refresh(bool interfacesUp, int connectedLanes);
  // Ends the control socket; the metrics stay until destruction. Idempotent.
  void Close();

  const ViewBoard& Board() const { return board_; }

  void RequestAnswered(std::string_view kind, std::string_view outcome) override;
  void HostExchange(std::chrono::microseconds took, bool answered) override;
  void Completion(bool sent) override;
  void HostReached(bool reached) override;
  void DialCall(std::string_view outcome) override;
  void NumberCommit(std::chrono::microseconds took) override;

 private:
  ControlStatus StatusNow() const;

  CServerObjects& objects_;
  const ServerViewsSetup setup_;
  ViewBoard board_;
  std::unique_ptr<MetricsExporter> exporter_;
  std::atomic<IServerMetrics*> metrics_{nullptr};  // the exporter once it serves
  std::unique_ptr<ControlServer> control_;
};

}  // namespace paxelle
