#include "app/Application.h"

#include "app/HeadlessFrontEnd.h"
#include "app/control/ControlClient.h"
#include "common/SystemErrorText.h"
#include "core/Version.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ostream>
#include <string>

namespace paxelle {
namespace {

constexpr char kLockFileName[] = "OpxWorldPayTCPIP.lock";
constexpr char kSecondInstanceText[] = "Only one instance of OPX WorldPay TCPIP may be run at a time!";
constexpr char kLogDirectoryText[] = "Unable to create Log Directory - logging disabled!";
constexpr char kCryptoFailedText[] =
    "Could Not Start Crypto API \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!";
constexpr char kSecurityFailedText[] =
    "Could Not Start SSPI \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!";
constexpr char kLogLinkText[] =
    "*** A traffic log file in KELVARA_LOGS is a symbolic link: not followed. Remove the link. ***";
constexpr char kLogSpaceLowText[] =
    "*** The disk is nearly full: the traffic log is NOT being written, so that sales go on. Free some space. ***";

}  // namespace

COpxWorldPayIP_HostApp::COpxWorldPayIP_HostApp(ServerOptions options, std::ostream& out, std::ostream& err,
                                               HeadlessPolicy policy)
    : options_(std::move(options)),
      ownFrontEnd_(std::make_unique<HeadlessFrontEnd>(out, err, policy)),
      frontEnd_(*ownFrontEnd_),
      err_(err) {}

COpxWorldPayIP_HostApp::COpxWorldPayIP_HostApp(ServerOptions options, FrontEnd& frontEnd, std::ostream& err)
    : options_(std::move(options)), frontEnd_(frontEnd), err_(err) {}

COpxWorldPayIP_HostApp::~COpxWorldPayIP_HostApp() {
  view_.reset();
  operator_.reset();
}

int COpxWorldPayIP_HostApp::Run() {
  if (const Status opened = frontEnd_.Open(); !opened.ok()) {
    err_ << "paxelle: " << opened.message() << '\n';
    return kServerExitFailed;
  }
  // Built after the signals are blocked: the log's writer is a thread.
  objects_ = std::make_unique<CServerObjects>(options_.workdir);
  views_ = std::make_unique<ServerViews>(*objects_, ServerViewsSetup{
      options_.control.empty() ? ServerControlPath(options_.workdir, std::getenv("RUNTIME_DIRECTORY"))
                               : options_.control,
      options_.metricsAddress,
      options_.host.host + ":" + options_.host.port, options_.secondaryHost.host + ":" + options_.secondaryHost.port,
      options_.params.string()});
  CTrafficLog& log = objects_->context.log;
  // The log itself writes the count once it writes again; the operator is told
  // when it stops, once, because a disk that fills will soon refuse sales.
  log.SetNoticeObserver([this](LogNotice notice, std::uint64_t) {
    const char* text = notice == LogNotice::kSpaceLow      ? kLogSpaceLowText
                       : notice == LogNotice::kLinkRefused ? kLogLinkText
                                                           : nullptr;
    if (text == nullptr) return;
    frontEnd_.Post([this, text] {
      if (view_) view_->AddTrafficRow(text);
    });
  });
  operator_ = std::make_unique<ServiceStatusOperator>(
      views_->Wrap(frontEnd_.MakeOperator([&log](const std::string& text) { log.Log("%s", text.c_str()); })),
      ServiceNotifier::FromEnvironment());

  int exitCode = kServerExitOk;
  if (InitInstance(exitCode)) {
    OpenViews();
    exitCode = frontEnd_.Run({.start =
                                  [this] {
                                    view_->StartInterfaces();
                                    operator_->NotifyReady();
                                  },
                              .tick =
                                  [this] {
                                    view_->OnStatusTimer();
                                    views_->Refresh(view_->IsRunning(), view_->ConnectionCount());
                                  },
                              .restart = [this] { Restart(); },
                              .stop = [this](bool ask) { return StopForExit(ask); },
                              .params = [this] { return objects_->context.params.GetParams(); },
                              .clientsConnected = [this] { return view_->ConnectionCount() > 0; },
                              // The host's connection test watches this event: a
                              // stop then ends it instead of waiting out its limits.
                              .cutWaits = [this] { objects_->context.interfacesStopping.Set(); },
                              .displayLost =
                                  [this, &log] {
                                    operator_->NotifyStopping();
                                    view_->StopInterfaces();
                                    ExitInstance();
                                    log.Shutdown();
                                  }});
  }
  // No view may ask for anything once the loop has ended.
  views_->Close();
  // A server that never held the lock did not start up, so it has nothing to
  // shut down and must not write a shutdown line into the running one's log.
  if (lockFd_.IsValid()) ExitInstance();
  // Everything logged up to here reaches the file before the process ends.
  log.Shutdown();
  return exitCode;
}

bool COpxWorldPayIP_HostApp::InitInstance(int& exitCode) {
  exitCode = kServerExitFailed;
  if (!AcquireInstanceLock()) return false;
  CreateLogDirectory();
  StartLogAger();
  LoadParameters();

  CMessageCrypto& crypto = objects_->crypto;
  if (!crypto.Startup(options_.keystore)) {
    crypto.Shutdown();
    operator_->ShowMessage(kCryptoFailedText);
    return false;
  }
  cryptoStarted_ = true;

  CHostContext& host = objects_->host;
  host.endpoints.Configure(options_.host, options_.secondaryHost);
  if (!host.security.Load(options_.hostCa)) {
    operator_->ShowNotice(host.security.LastErrorText());
    host.security.Unload();
    operator_->ShowMessage(kSecurityFailedText);
    return false;
  }
  securityLoaded_ = true;

  ViewServices services = objects_->ViewServicesOf();
  // The front end decides how its thread waits: a window keeps painting.
  services.sleep = [this](std::chrono::milliseconds duration) { frontEnd_.Pause(duration); };
  services.runBlocking = [this](const std::function<void()>& step) { frontEnd_.RunBlocking(step); };
  view_ = std::make_unique<COpxView>(*operator_, std::move(services), MakeInterfaces());
  objects_->context.log.Log("Server Startup %s", std::string(kServerVersionText).c_str());
  exitCode = kServerExitOk;
  return true;
}

bool COpxWorldPayIP_HostApp::AcquireInstanceLock() {
  UniqueFd fd(::open(objects_->context.PathOf(kLockFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.IsValid() || ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    fd.Reset();
    // Held by another server is the expected case; anything else gets its reason too.
    if (error != EWOULDBLOCK) {
      operator_->ShowNotice(std::string(kLockFileName) + ": " + SystemErrorText(error));
    }
    operator_->ShowMessage(kSecondInstanceText);
    return false;
  }
  lockFd_ = std::move(fd);
  return true;
}

void COpxWorldPayIP_HostApp::CreateLogDirectory() {
  const std::string directory = objects_->context.PathOf(kLogDirectoryName).string();
  if (::mkdir(directory.c_str(), 0755) == 0) return;
  struct stat status {};
  // Something else of that name is no more use than no directory.
  if (errno == EEXIST && ::stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return;
  operator_->ShowMessage(kLogDirectoryText);
}

void COpxWorldPayIP_HostApp::StartLogAger() {
  CTrafficLog& log = objects_->context.log;
  const LogRetention retention{.keepDays = options_.logKeepDays};
  ager_ = std::make_unique<CLogAger>(objects_->context.PathOf(kLogDirectoryName).string(), retention, SystemNow,
                                     [&log](const std::string& text) { log.Log("%s", text.c_str()); });
  // Without it the logs only grow, as they always did: worth a word, not a stop.
  if (!ager_->Start()) operator_->ShowNotice("The traffic logs cannot be aged: no thread for it.");
}

void COpxWorldPayIP_HostApp::LoadParameters() {
  CParamStore& store = objects_->context.params;
  store.SetPath(options_.params);
  // Under the service the parameters are root's, read through the group: the
  // server never writes them there.
  store.Load(LoadWrites::kOwnDirectoryOnly);
  // The store has logged what it had to do; the operator should see it too.
  if (const std::string notice = store.LoadNotice(); !notice.empty()) operator_->ShowNotice(notice);
}

ViewInterfaces COpxWorldPayIP_HostApp::MakeInterfaces() {
  // Host threads only post; the view is touched on the loop's thread alone.
  auto observer = [this](HostTrafficEvent event) {
    frontEnd_.Post([this, event] {
      if (view_) view_->OnHostTraffic(event);
    });
  };
  auto shutdownRequest = [this] {
    frontEnd_.PostRequest([this] {
      if (view_ && StopForExit(true)) frontEnd_.Quit(kServerExitFailed);
    });
  };
  auto dialNotice = [this](const std::string& text) {
    frontEnd_.Post([this, text] {
      if (view_) view_->AddTrafficRow(text);
    });
  };
  return objects_->MakeInterfaces(options_.clientPort, options_.comDevices, std::move(observer),
                                  std::move(shutdownRequest), std::move(dialNotice));
}

bool COpxWorldPayIP_HostApp::StopForExit(bool ask) {
  if (ask && !view_->ConfirmStop()) return false;
  operator_->NotifyStopping();
  view_->StopInterfaces();
  return true;
}

void COpxWorldPayIP_HostApp::Restart() {
  operator_->NotifyReloading();
  view_->StopInterfaces();
  LoadParameters();
  view_->StartInterfaces();
  operator_->NotifyReady();
}

void COpxWorldPayIP_HostApp::OpenViews() {
  CTrafficLog& log = objects_->context.log;
  views_->Open(
      // As SIGHUP and the setup dialog's OK: through the front end's queue, never inside a sequence.
      [this] {
        frontEnd_.PostRequest([this] {
          if (view_) Restart();
        });
      },
      [&log](const std::string& text) { log.Log("%s", text.c_str()); },
      [this, &log](const std::string& text) {
        log.Log("%s", text.c_str());
        operator_->ShowNotice(text);
      });
}

void COpxWorldPayIP_HostApp::ExitInstance() {
  // The interface objects stop themselves as they are destroyed; a stop
  // signal has normally stopped them already.
  view_.reset();
  ager_.reset();
  if (securityLoaded_) objects_->host.security.Unload();
  securityLoaded_ = false;
  if (cryptoStarted_) objects_->crypto.Shutdown();
  cryptoStarted_ = false;
  if (lockFd_.IsValid()) ::flock(lockFd_.Get(), LOCK_UN);
  lockFd_.Reset();
  // What the durable number writes cost, for whoever measures the server.
  const CSequenceCounters::CommitTimes commits = objects_->host.counters.MeasuredCommits();
  if (commits.commits > 0) {
    objects_->context.log.Log("Number file commits: %llu, median %llu us.",
                              static_cast<unsigned long long>(commits.commits),
                              static_cast<unsigned long long>(commits.medianMicroseconds));
  }
  objects_->context.log.Log("Server Shutdown . . .");
}

}  // namespace paxelle
