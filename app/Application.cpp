#include "app/Application.h"

#include "client/ClientListener.h"
#include "client/MessageCrypto.h"
#include "common/ProcessEvents.h"
#include "common/SystemErrorText.h"
#include "common/TrafficLog.h"
#include "config/ParamStore.h"
#include "core/PendingQueue.h"
#include "core/RequestCrypto.h"
#include "core/Version.h"
#include "dial/DialBackup.h"
#include "host/HostEndpoints.h"
#include "host/HostInterface.h"
#include "host/SecurityInterface.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>
#include <string>

namespace paxelle {
namespace {

constexpr char kLockFileName[] = "OpxWorldPayTCPIP.lock";
constexpr char kLogDirectory[] = "KELVARA_LOGS";
constexpr char kSecondInstanceText[] = "Only one instance of OPX WorldPay TCPIP may be run at a time!";
constexpr char kLogDirectoryText[] = "Unable to create Log Directory - logging disabled!";
constexpr char kCryptoFailedText[] =
    "Could Not Start Crypto API \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!";
constexpr char kSecurityFailedText[] =
    "Could Not Start SSPI \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!";

class ListenerControl final : public ClientListenerControl {
 public:
  explicit ListenerControl(int port) : listener_(port) {}
  int SetConnectionLimit(int limit) override { return listener_.SetConnectionLimit(limit); }
  int StartOnClientPort() override { return listener_.StartOnClientPort(); }
  int Stop() override { return listener_.Stop(); }
  int ConnectionCount() const override { return listener_.ConnectionCount(); }
  void SetGoingOffline(bool goingOffline) override { listener_.SetGoingOffline(goingOffline); }

 private:
  CClientListener listener_;
};

class HostControl final : public HostInterfaceControl {
 public:
  HostControl(std::function<void(HostTrafficEvent)> observer, std::function<void()> shutdownRequest) {
    host_.SetTrafficObserver(std::move(observer));
    host_.SetShutdownRequest(std::move(shutdownRequest));
  }
  bool Start() override { return host_.Start(); }
  int Stop() override { return host_.Stop(); }
  std::string LastErrorText() const override { return host_.LastErrorText(); }

 private:
  CHostInterface host_;
};

class DialControl final : public DialBackupControl {
 public:
  explicit DialControl(ComDevices devices)
      : devices_(std::move(devices)),
        dial_(DialBackupServices{GetPendingQueue(), GetParamStore(), GetTrafficLog(), InterfacesStoppingEvent(),
                                 DialLineConnectedEvent(), devices_, SystemModemLines()}) {}
  bool Start(int portNumber) override { return dial_.Start(portNumber); }
  void Stop() override { dial_.Stop(); }
  std::string LastError() const override { return dial_.LastError(); }

 private:
  const ComDevices devices_;
  CDialBackup dial_;
};

}  // namespace

COpxWorldPayIP_HostApp::COpxWorldPayIP_HostApp(ServerOptions options, std::ostream& out, std::ostream& err)
    : options_(std::move(options)), out_(out), err_(err) {}

COpxWorldPayIP_HostApp::~COpxWorldPayIP_HostApp() {
  view_.reset();
  if (lockFd_ >= 0) ::close(lockFd_);
}

int COpxWorldPayIP_HostApp::Run() {
  if (!loop_.Open()) {
    err_ << "paxelle: " << loop_.ErrorText() << '\n';
    return kServerExitFailed;
  }
  operator_ = std::make_unique<HeadlessOperator>(
      out_, err_, [this](std::chrono::milliseconds duration) { return loop_.Pause(duration); });

  int exitCode = kServerExitOk;
  if (InitInstance(exitCode)) {
    view_->StartInterfaces();
    exitCode = loop_.Run({.tick = [this] { view_->OnStatusTimer(); },
                          .restart = [this] { Restart(); },
                          .stop = [this] { return view_->RequestStop(); }},
                         kStatusRefreshPeriod);
  }
  // A server that never held the lock did not start up, so it has nothing to
  // shut down and must not write a shutdown line into the running one's log.
  if (lockFd_ >= 0) ExitInstance();
  // Everything logged up to here reaches the file before the process ends.
  GetTrafficLog().Shutdown();
  return exitCode;
}

bool COpxWorldPayIP_HostApp::InitInstance(int& exitCode) {
  exitCode = kServerExitFailed;
  if (::chdir(options_.workdir.c_str()) != 0) {
    operator_->ShowNotice("Cannot change to the working directory " + options_.workdir.string() + ": " +
                          SystemErrorText(errno));
    return false;
  }
  if (!AcquireInstanceLock()) return false;
  CreateLogDirectory();
  LoadParameters();

  if (!GetMessageCrypto().Startup(options_.keystore)) {
    GetMessageCrypto().Shutdown();
    operator_->ShowMessage(kCryptoFailedText);
    return false;
  }
  cryptoStarted_ = true;
  SetRequestCrypto(&GetMessageCrypto());

  GetHostEndpoints().Configure(options_.host, options_.secondaryHost);
  if (!GetSecurityInterface().Load(options_.hostCa)) {
    operator_->ShowNotice(GetSecurityInterface().LastErrorText());
    GetSecurityInterface().Unload();
    operator_->ShowMessage(kSecurityFailedText);
    return false;
  }
  securityLoaded_ = true;

  view_ = std::make_unique<COpxView>(*operator_, ProcessViewServices(), MakeInterfaces());
  Log("Server Startup %s", std::string(kServerVersionText).c_str());
  exitCode = kServerExitOk;
  return true;
}

bool COpxWorldPayIP_HostApp::AcquireInstanceLock() {
  const int fd = ::open(kLockFileName, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    // Held by another server is the expected case; anything else gets its reason too.
    if (error != EWOULDBLOCK) {
      operator_->ShowNotice(std::string(kLockFileName) + ": " + SystemErrorText(error));
    }
    operator_->ShowMessage(kSecondInstanceText);
    return false;
  }
  lockFd_ = fd;
  return true;
}

void COpxWorldPayIP_HostApp::CreateLogDirectory() {
  if (::mkdir(kLogDirectory, 0755) == 0) return;
  struct stat status {};
  // Something else of that name is no more use than no directory.
  if (errno == EEXIST && ::stat(kLogDirectory, &status) == 0 && S_ISDIR(status.st_mode)) return;
  operator_->ShowMessage(kLogDirectoryText);
}

void COpxWorldPayIP_HostApp::LoadParameters() {
  CParamStore& store = GetParamStore();
  store.SetPath(options_.params);
  store.Load();
  // The store has logged what it had to do; the operator should see it too.
  if (const std::string notice = store.LoadNotice(); !notice.empty()) operator_->ShowNotice(notice);
}

ViewInterfaces COpxWorldPayIP_HostApp::MakeInterfaces() {
  // Host threads only post; the view is touched on the loop's thread alone.
  auto observer = [this](HostTrafficEvent event) {
    loop_.Post([this, event] {
      if (view_) view_->OnHostTraffic(event);
    });
  };
  auto shutdownRequest = [this] {
    loop_.Post([this] {
      if (view_ && view_->RequestStop()) loop_.Quit(kServerExitFailed);
    });
  };
  const int clientPort = options_.clientPort;
  return ViewInterfaces{
      [clientPort] { return std::make_unique<ListenerControl>(clientPort); },
      std::make_unique<HostControl>(std::move(observer), std::move(shutdownRequest)),
      std::make_unique<DialControl>(options_.comDevices),
  };
}

void COpxWorldPayIP_HostApp::Restart() {
  view_->StopInterfaces();
  LoadParameters();
  view_->StartInterfaces();
}

void COpxWorldPayIP_HostApp::ExitInstance() {
  // The interface objects stop themselves as they are destroyed; a stop
  // signal has normally stopped them already.
  view_.reset();
  if (securityLoaded_) GetSecurityInterface().Unload();
  securityLoaded_ = false;
  if (cryptoStarted_) {
    SetRequestCrypto(nullptr);
    GetMessageCrypto().Shutdown();
  }
  cryptoStarted_ = false;
  if (lockFd_ >= 0) {
    ::flock(lockFd_, LOCK_UN);
    ::close(lockFd_);
    lockFd_ = -1;
  }
  Log("Server Shutdown . . .");
}

}  // namespace paxelle
