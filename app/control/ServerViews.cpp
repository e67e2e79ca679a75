#include "app/control/ServerViews.h"

#include "app/ServerObjects.h"
#include "app/control/PeerAccess.h"
#include "app/control/ViewOperator.h"
#include "core/Version.h"

namespace paxelle {
namespace {

// The setup dialog's names of entry 14's values.
std::string TransportName(int method) {
  if (method == kTransportIpWithDialBackup) return "IP with DIAL Backup";
  if (method == kTransportDialOnly) return "DIAL Only";
  return "IP Only";
}

}  // namespace

ServerViews::ServerViews(CServerObjects& objects, ServerViewsSetup setup)
    : objects_(objects), setup_(std::move(setup)) {
  objects_.context.metrics = this;
  objects_.host.counters.SetCommitObserver([this](std::chrono::microseconds took) { NumberCommit(took); });
}

ServerViews::~ServerViews() { Close(); }

std::unique_ptr<IOperatorInterface> ServerViews::Wrap(std::unique_ptr<IOperatorInterface> inner) {
  return std::make_unique<ViewOperator>(std::move(inner), board_);
}

void ServerViews::Open(std::function<void()> restart, std::function<void(const std::string&)> log,
                       const std::function<void(const std::string&)>& notice) {
  if (!setup_.metricsAddress.empty()) {
    if (const Status started = MetricsExporter::Start(setup_.metricsAddress, exporter_); started.ok()) {
      metrics_.store(exporter_.get());
      log("Metrics served at http://" + exporter_->Address() + "/metrics");
      notice("metrics at http://" + exporter_->Address() + "/metrics");
    } else {
      notice(started.message());
    }
  }
  ControlServerSettings settings;
  settings.path = setup_.controlPath;
  settings.operatorGroup = GroupId(kOperatorGroupName);
  ControlHandlers handlers{
      .status = [this] { return StatusNow(); },
      .params =
          [this] {
            return ControlParams{objects_.context.params.GetParams(), setup_.paramsFile};
          },
      .restart = std::move(restart),
      .log = std::move(log),
  };
  control_ = std::make_unique<ControlServer>(std::move(settings), std::move(handlers), board_);
  if (const Status started = control_->Start(); !started.ok()) {
    control_.reset();
    notice(started.message() + " - no status, watch or attached window for this server.");
  }
}

void ServerViews::Refresh(bool interfacesUp, int connectedLanes) {
  if (!exporter_) return;
  exporter_->Refresh({.connectedLanes = connectedLanes,
                      .recordsWaiting = objects_.context.queue.ActiveCount(),
                      .interfacesUp = interfacesUp,
                      .logEntriesDropped = objects_.context.log.DroppedEntries()});
}

void ServerViews::Close() {
  if (control_) control_->Stop();
  control_.reset();
}

ControlStatus ServerViews::StatusNow() const {
  ControlStatus status;
  status.board = board_.Status();
  status.version = std::string(kServerVersionText);
  status.workdir = objects_.context.workdir.string();
  status.hostPrimary = setup_.hostPrimary;
  status.hostSecondary = setup_.hostSecondary;
  status.transport = TransportName(objects_.context.params.GetParams().GetNumber(kParamTransportMethod));
  status.dialLineUp = objects_.context.dialLineConnected.IsSet();
  return status;
}

void ServerViews::RequestAnswered(std::string_view kind, std::string_view outcome) {
  if (IServerMetrics* metrics = metrics_.load()) metrics->RequestAnswered(kind, outcome);
}

void ServerViews::HostExchange(std::chrono::microseconds took, bool answered) {
  if (IServerMetrics* metrics = metrics_.load()) metrics->HostExchange(took, answered);
}

void ServerViews::Completion(bool sent) {
  if (IServerMetrics* metrics = metrics_.load()) metrics->Completion(sent);
}

void ServerViews::HostReached(bool reached) {
  board_.NoteHostReached(reached);
  if (IServerMetrics* metrics = metrics_.load()) metrics->HostReached(reached);
}

void ServerViews::DialCall(std::string_view outcome) {
  board_.NoteDialCall(std::string(outcome));
  if (IServerMetrics* metrics = metrics_.load()) metrics->DialCall(outcome);
}

void ServerViews::NumberCommit(std::chrono::microseconds took) {
  if (IServerMetrics* metrics = metrics_.load()) metrics->NumberCommit(took);
}

}  // namespace paxelle
