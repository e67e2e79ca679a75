// The listener the POS lanes connect to: the generic listener on the client
// port with a limit of 200 connections, serving each one with a client session.
#pragma once

#include "client/SessionSettings.h"
#include "client/SocketListener.h"

#include <memory>

namespace paxelle {

class CClientListener final : public CSocketListener {
 public:
  static constexpr int kClientConnectionLimit = 200;

  // Listens on `port` once started (0: any free port); every session works
  // with `parts` (which must outlive this listener) under `settings`.
  CClientListener(const ClientLinkParts& parts, int port, const ClientSessionSettings& settings = {});
  // Goes offline, stops accepting and waits for every session to end (see
  // CSocketListener::Shutdown) before anything is freed.
  ~CClientListener() override;

  // Listen on the client port, then Start: the first non-zero result, else 0.
  int StartOnClientPort();

 protected:
  std::unique_ptr<CSocketConnection> CreateConnection() override;
  void ConnectionClosedAtOnce(const sockaddr_in& peer) override;

 private:
  const ClientLinkParts parts_;
  const int clientPort_;
  const ClientSessionSettings settings_;
};

}  // namespace paxelle
