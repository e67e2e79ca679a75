#include "client/ClientListener.h"

#include "client/ClientSession.h"

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

}  // namespace paxelle
