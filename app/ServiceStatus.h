// The operator front end of a server that a service manager runs: every call
// goes on to the front end it wraps, and what the start and stop sequences are
// doing, and why the interfaces are down, also goes to the manager.
#pragma once

#include "app/OperatorInterface.h"
#include "app/ServiceNotify.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace paxelle {

class ServiceStatusOperator final : public IOperatorInterface {
 public:
  // `inner` must not be null. With an inactive notifier this only forwards.
  ServiceStatusOperator(std::unique_ptr<IOperatorInterface> inner, ServiceNotifier notifier);
  ServiceStatusOperator(const ServiceStatusOperator&) = delete;
  ServiceStatusOperator& operator=(const ServiceStatusOperator&) = delete;

  // A start sequence has ended, whatever its outcome: the server is up. Sends
  // READY=1 unless the host's first failed attempt of this start has sent it.
  void NotifyReady();
  // A restart with the parameters read again begins; READY=1 ends it as for
  // the first start.
  void NotifyReloading();
  // The process's last stop begins (SIGTERM, Exit, a shutdown the host asked for).
  void NotifyStopping();

  void ShowMessage(const std::string& text) override;
  void ShowNotice(const std::string& text) override;
  bool AskYesNo(OperatorQuestion question, const std::string& text) override;
  void ShowWait() override;
  void SetWaitText(const std::string& text) override;
  void CloseWait() override;
  void ShowOfflineTitle() override;
  void SetStatusTitle(const std::string& title, int requests, int sockets) override;
  void NoteInterfacesStopped() override;
  void AddTrafficRow(const std::string& row) override;

 private:
  void SendStatus(const std::string& status);
  // The first failure goes to the operator; the manager's time-outs tell the rest.
  void Send(const std::string& assignments);
  std::string StoppedStatus() const;

  std::unique_ptr<IOperatorInterface> inner_;
  ServiceNotifier notifier_;
  bool failureShown_ = false;
  // Whether the running start or reload still owes the manager its READY=1. A
  // host that is down answers "Retry?" for minutes: the server is ready from
  // the end of its first attempt, and the retries only show in the status, so
  // neither a boot nor a reload nor a package upgrade waits for the host.
  bool readyOwed_ = true;
  std::string reason_;  // why the interfaces of the latest start are down
  std::optional<std::pair<int, int>> shownCounts_;  // requests, sockets of the last running status
};

}  // namespace paxelle
