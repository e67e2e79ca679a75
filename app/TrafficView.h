// The traffic view: the list of host traffic rows, the status title, and the
// owner of the three interfaces with their start and stop sequences.
#pragma once

#include "app/OperatorInterface.h"
#include "common/Clock.h"
#include "common/TimeLimits.h"
#include "host/HostTraffic.h"

#include <chrono>
#include <cstddef>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace paxelle {

class CBatchState;
class CParamStore;
class CSequenceCounters;
class PendingQueue;

inline constexpr char kOfflineTitle[] = "Paxelle XML 5.0 WorldPay OFFLINE       OFFLINE";
inline constexpr std::size_t kTrafficRowLimit = 50;  // a longer list is cut back ...
inline constexpr std::size_t kTrafficRowsKept = 25;  // ... to this many newest rows
inline constexpr int kClientConnectionLimit = 200;

// "[%m/%d/%y %H:%M:%S] " of the local time `when`, then `message`.
std::string TrafficRowText(std::time_t when, std::string_view message);
// The title of a status refresh at local time `when`.
std::string RunningTitle(int requests, int sockets, std::time_t when);
// The row text of a host progress event.
const char* TrafficRowMessage(HostTrafficEvent event);

// The rows of the traffic list, newest first, never more than 50.
class TrafficRows {
 public:
  // Puts `row` on top; a list that grows past 50 rows keeps its 25 newest.
  void Add(std::string row);
  const std::deque<std::string>& Rows() const { return rows_; }

 private:
  std::deque<std::string> rows_;
};

// What the view uses of the client listener; created anew at every start.
class ClientListenerControl {
 public:
  virtual ~ClientListenerControl() = default;
  // The limit set, or a negative value when refused.
  virtual int SetConnectionLimit(int limit) = 0;
  // Binds and starts accepting: 0, or a non-zero failure code.
  virtual int StartOnClientPort() = 0;
  // Stops accepting: 1 when the accept thread had to be terminated.
  virtual int Stop() = 0;
  virtual int ConnectionCount() const = 0;
  // Tells the sessions to end.
  virtual void SetGoingOffline(bool goingOffline) = 0;
};

// What the view uses of the host interface; one object, started repeatedly.
class HostInterfaceControl {
 public:
  virtual ~HostInterfaceControl() = default;
  virtual bool Start() = 0;
  virtual int Stop() = 0;
  virtual std::string LastErrorText() const = 0;
};

// What the view uses of the dial backup; one object, started repeatedly.
class DialBackupControl {
 public:
  virtual ~DialBackupControl() = default;
  virtual bool Start(int portNumber) = 0;
  virtual void Stop() = 0;
  virtual std::string LastError() const = 0;
};

struct ViewInterfaces {
  std::function<std::unique_ptr<ClientListenerControl>()> createListener;
  std::unique_ptr<HostInterfaceControl> host;
  std::unique_ptr<DialBackupControl> dial;
};

// The shared objects and the time the view works with; every referenced
// object must outlive the view.
struct ViewServices {
  CParamStore& params;
  CBatchState& batch;
  CSequenceCounters& counters;
  PendingQueue& pending;
  std::function<void(const std::string&)> log;  // one traffic log entry
  WallClock clock;                               // for row stamps and titles
  std::function<void(std::chrono::milliseconds)> sleep;
  std::function<std::chrono::steady_clock::time_point()> now;
  // Runs a step that blocks for a bounded time (the host's connection test,
  // a thread's stop) so that the operator's window keeps turning meanwhile;
  // empty: in place.
  std::function<void(const std::function<void()>&)> runBlocking;
};

class COpxView {
 public:
  COpxView(IOperatorInterface& operatorInterface, ViewServices services, ViewInterfaces interfaces);
  // Destroys the listener (if any), then the dial backup and the host interface.
  ~COpxView();
  COpxView(const COpxView&) = delete;
  COpxView& operator=(const COpxView&) = delete;

  // Checks the configuration and starts host interface, dial backup (transport
  // methods 1 and 2) and client listener in that order; a failed step tells
  // the operator and stops everything again.
  void StartInterfaces();
  // Stops accepting clients, stops host interface and dial backup, lets the
  // clients drain and destroys the listener. Harmless when nothing runs.
  void StopInterfaces();
  // A stop asked for by the operator: with clients connected the operator is
  // asked first. False when refused (everything keeps running).
  bool RequestStop();
  // RequestStop's question alone: true when nothing is connected or the
  // operator agreed.
  bool ConfirmStop();

  // The status timer's tick: refreshes the title while the interfaces run.
  void OnStatusTimer();
  // Sets the running title from the pending and connection counts; does
  // nothing while no listener exists.
  void RefreshStatus();
  // Puts a stamped row with `message` on top of the traffic list.
  void AddTrafficRow(std::string_view message);
  void OnHostTraffic(HostTrafficEvent event);

  // True from a successful start until the next stop (the status timer runs).
  bool IsRunning() const { return statusTimerOn_; }
  bool HasListener() const { return listener_ != nullptr; }
  // Clients connected to the listener; 0 while there is none.
  int ConnectionCount() const { return listener_ ? listener_->ConnectionCount() : 0; }
  const TrafficRows& Rows() const { return rows_; }

 private:
  // The steps between the wait box's opening and closing.
  void RunStartSteps();
  void DrainClients();
  // `step` through runBlocking.
  void Blocking(const std::function<void()>& step);

  IOperatorInterface& operator_;
  ViewServices services_;
  std::function<std::unique_ptr<ClientListenerControl>()> createListener_;
  // Declared so that destruction runs listener, dial backup, host interface.
  std::unique_ptr<HostInterfaceControl> host_;
  std::unique_ptr<DialBackupControl> dial_;
  std::unique_ptr<ClientListenerControl> listener_;
  bool statusTimerOn_ = false;
  TrafficRows rows_;
};

}  // namespace paxelle
