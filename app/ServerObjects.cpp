#include "app/ServerObjects.h"

#include "client/ClientListener.h"
#include "dial/DialBackup.h"
#include "host/HostInterface.h"

#include <thread>

namespace paxelle {
namespace {

class ListenerControl final : public ClientListenerControl {
 public:
  ListenerControl(const ClientLinkParts& parts, int port) : listener_(parts, port) {}
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
  HostControl(CHostContext& host, HostTrafficObserver observer, std::function<void()> shutdownRequest)
      : host_(host) {
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
  DialControl(CServerContext& context, ComDevices devices, std::function<void(const std::string&)> notice)
      : devices_(std::move(devices)),
        dial_(DialBackupServices{context.queue, context.params, context.log, context.interfacesStopping,
                                 context.dialLineConnected, devices_, SystemModemLines(), std::move(notice)}) {
    // The monitor is installed before the interfaces start and kept until they ended.
    dial_.SetCallObserver([&context](std::string_view outcome) { context.metrics->DialCall(outcome); });
  }
  bool Start(int portNumber) override { return dial_.Start(portNumber); }
  void Stop() override { dial_.Stop(); }
  std::string LastError() const override { return dial_.LastError(); }

 private:
  const ComDevices devices_;
  CDialBackup dial_;
};

}  // namespace

CServerObjects::CServerObjects(std::filesystem::path workdir, ServerContextSettings settings)
    : context(std::move(workdir), std::move(settings)), crypto(context.log), host(context) {
  context.requestCrypto = &crypto;
}

ViewServices CServerObjects::ViewServicesOf() {
  CTrafficLog& log = context.log;
  return ViewServices{
      context.params,
      host.batch,
      host.counters,
      context.queue,
      [&log](const std::string& text) { log.Log("%s", text.c_str()); },
      SystemNow,
      [](std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); },
      [] { return std::chrono::steady_clock::now(); },
      {},  // in place; the application lets its front end decide
  };
}

ViewInterfaces CServerObjects::MakeInterfaces(int clientPort, ComDevices comDevices, HostTrafficObserver observer,
                                              std::function<void()> shutdownRequest,
                                              std::function<void(const std::string&)> dialNotice) {
  const ClientLinkParts parts = ClientParts();
  return ViewInterfaces{
      [parts, clientPort] { return std::make_unique<ListenerControl>(parts, clientPort); },
      std::make_unique<HostControl>(host, std::move(observer), std::move(shutdownRequest)),
      std::make_unique<DialControl>(context, std::move(comDevices), std::move(dialNotice)),
  };
}

}  // namespace paxelle
