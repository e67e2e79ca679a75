#include "client/ClientListener.h"

#include "client/ClientSession.h"

namespace paxelle {

CClientListener::CClientListener(int port, const ClientSessionSettings& settings)
    : clientPort_(port), settings_(settings) {
  SetConnectionLimit(kClientConnectionLimit);
}

CClientListener::~CClientListener() {
  Shutdown();
}

int CClientListener::StartOnClientPort() {
  const int listened = Listen(clientPort_);
  if (listened != kListenOk) return listened;
  return Start();
}

std::unique_ptr<CSocketConnection> CClientListener::CreateConnection() {
  return std::make_unique<CClientSession>(settings_);
}

}  // namespace paxelle
