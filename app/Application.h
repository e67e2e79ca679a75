// The application object: one server per working directory, start-up in a
// fixed order, the main loop until a stop signal, and an exit that loses no
// log entry.
#pragma once

#include "app/FrontEnd.h"
#include "app/HeadlessOperator.h"
#include "app/ServerObjects.h"
#include "app/ServerOptions.h"
#include "app/ServiceStatus.h"
#include "app/TrafficView.h"
#include "app/control/ServerViews.h"
#include "common/LogAger.h"
#include "common/PosixFile.h"

#include <iosfwd>
#include <memory>

namespace paxelle {

enum ServerExitCode : int {
  kServerExitOk = 0,      // stopped by SIGINT or SIGTERM
  kServerExitFailed = 1,  // could not start, or had to shut down
};

class COpxWorldPayIP_HostApp {
 public:
  // The headless front end: operator output goes to `out` and `err`, which
  // must outlive this object, as `policy` says.
  COpxWorldPayIP_HostApp(ServerOptions options, std::ostream& out, std::ostream& err, HeadlessPolicy policy = {});
  // Serves through `frontEnd`, which must outlive this object; `err` gets
  // what goes wrong before the front end is open.
  COpxWorldPayIP_HostApp(ServerOptions options, FrontEnd& frontEnd, std::ostream& err);
  ~COpxWorldPayIP_HostApp();
  COpxWorldPayIP_HostApp(const COpxWorldPayIP_HostApp&) = delete;
  COpxWorldPayIP_HostApp& operator=(const COpxWorldPayIP_HostApp&) = delete;

  // Starts the server and serves until a stop signal; returns the process's
  // exit code. Must be called before any other thread of the process exists
  // (the stop signals are blocked for every thread started later). Once.
  int Run();

 private:
  // Start-up up to the main loop; false with `exitCode` set when the server
  // cannot run.
  bool InitInstance(int& exitCode);
  // Destroys the interfaces, unloads TLS and the crypto, releases the instance
  // lock and logs the shutdown.
  void ExitInstance();
  bool AcquireInstanceLock();
  void CreateLogDirectory();
  void StartLogAger();
  void LoadParameters();
  ViewInterfaces MakeInterfaces();
  // SIGHUP: what the setup dialog's OK does, with the parameters read again.
  void Restart();
  // Opens the control socket and the metrics once the instance lock is held.
  void OpenViews();
  // The stop that ends the process; with `ask`, connected clients are asked
  // about first. False when refused.
  bool StopForExit(bool ask);

  const ServerOptions options_;
  std::unique_ptr<FrontEnd> ownFrontEnd_;  // the headless one, when none was given
  FrontEnd& frontEnd_;
  // The views from outside (control socket, metrics): its threads' reports may
  // come until the server objects are gone, so it is destroyed after them.
  std::unique_ptr<ServerViews> views_;
  // Declared before the operator and the view, which use it: destroyed after them.
  std::unique_ptr<CServerObjects> objects_;
  std::unique_ptr<ServiceStatusOperator> operator_;
  std::unique_ptr<COpxView> view_;
  // Ages the traffic logs while this server holds the working directory's lock.
  std::unique_ptr<CLogAger> ager_;
  UniqueFd lockFd_;
  bool cryptoStarted_ = false;
  bool securityLoaded_ = false;
  std::ostream& err_;
};

}  // namespace paxelle
