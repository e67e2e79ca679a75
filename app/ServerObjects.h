// Everything one server shares between its threads, in one owner: the server
// context, the host interface's own objects and the client link's cryptography.
#pragma once

#include "app/TrafficView.h"
#include "client/ClientGuards.h"
#include "client/MessageCrypto.h"
#include "client/SessionSettings.h"
#include "core/ServerContext.h"
#include "dial/ComDevices.h"
#include "host/HostContext.h"
#include "host/HostTraffic.h"

#include <filesystem>
#include <functional>

namespace paxelle {

// The application builds one at start-up and keeps it until exit, so these are
// the process-wide objects; tests may build several, one per working directory.
// Destroy every interface that uses it (the view) first.
class CServerObjects {
 public:
  // `workdir` must be absolute. Starts the log's writer thread.
  explicit CServerObjects(std::filesystem::path workdir, ServerContextSettings settings = {});
  CServerObjects(const CServerObjects&) = delete;
  CServerObjects& operator=(const CServerObjects&) = delete;

  ClientLinkParts ClientParts() { return {context, crypto, host.batch, guards}; }
  // The view's shared objects: this server's, with the system clocks and real sleeps.
  ViewServices ViewServicesOf();
  // The listener factory (on `clientPort`), the host interface (reporting to
  // `observer`, asking `shutdownRequest` to close) and the dial backup (opening
  // `comDevices`, telling `dialNotice` what the operator should see), all working
  // with these objects.
  ViewInterfaces MakeInterfaces(int clientPort, ComDevices comDevices, HostTrafficObserver observer,
                                std::function<void()> shutdownRequest,
                                std::function<void(const std::string&)> dialNotice = {});

  CServerContext context;
  CMessageCrypto crypto;  // installed as the context's request cryptography
  CHostContext host;
  ClientGuards guards;
};

}  // namespace paxelle
