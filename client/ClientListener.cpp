#include "client/ClientListener.h"

#include "client/ClientSession.h"
#include "common/TrafficLog.h"
#include "core/ServerContext.h"

#include <arpa/inet.h>

namespace paxelle {

CClientListener::CClientListener(const ClientLinkParts& parts, int port, const ClientSessionSettings& settings)
    : parts_(parts), clientPort_(port), settings_(settings) {
  SetConnectionLimit(kClientConnectionLimit);
}

CClientListener::~CClientListener() {
  Shutdown();
}

int CClientListener::StartOnClientPort() {
  // A backlog of 5 drops lanes that connect together (a store opening all its
  // lanes at once); with the server speaking first such a lane would wait
  // forever for its greeting. Let the kernel queue as many as may be served.
  const int listened = Listen(clientPort_, ConnectionLimit());
  if (listened != kListenOk) return listened;
  return Start();
}

std::unique_ptr<CSocketConnection> CClientListener::CreateConnection() {
  return std::make_unique<CClientSession>(parts_, settings_);
}

void CClientListener::ConnectionClosedAtOnce(const sockaddr_in& peer) {
  char address[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
  CTrafficLog& log = parts_.server.log;
  log.Log("Socket Connect from %s closed at once: %d connections over the limit are being refused already.", address,
          kMaxRefusingConnections);
}

}  // namespace paxelle
