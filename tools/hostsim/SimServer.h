// The simulator's TLS listener on loopback: accepts connections and serves each on a thread
// of its own, reading framed messages until the peer closes and answering each one as the
// HostSimulator decides.
#pragma once

#include "common/Status.h"
#include "tools/hostsim/HostSimulator.h"
#include "tools/hostsim/StopSignal.h"
#include "tools/hostsim/TlsStream.h"

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <string>
#include <thread>

namespace paxelle::hostsim {

struct ServerLimits {
  std::chrono::milliseconds handshake{10000};  // for the TLS handshake
  std::chrono::milliseconds idle{60000};       // between messages: the connection ends after it
  std::chrono::milliseconds message{10000};    // for the rest of a message once its length arrived
  std::chrono::milliseconds write{10000};      // for sending one answer
  std::chrono::milliseconds delay{2000};       // before a delayed answer
  std::chrono::milliseconds handshakeDelay{0}; // before each connection's handshake
  std::size_t maxConnections = 256;            // connections beyond it are closed at once
};

class SimServer {
 public:
  // `tls`, `simulator` and `stop` must outlive the server.
  SimServer(SSL_CTX* tls, HostSimulator& simulator, const StopSignal& stop, ServerLimits limits);
  // Raises nothing; waits for connection threads still running (each ends at its next wait
  // once `stop` is raised) and closes the listening socket.
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Listens on 127.0.0.1:`port` (0 picks a free port).
  Status Listen(std::uint16_t port);

  // The port listened on (0 before Listen succeeded).
  std::uint16_t Port() const { return port_; }

  // Accepts and serves connections until `stop` is raised; returns once every connection
  // thread has ended. False when accepting failed for good (the reason is on standard error).
  bool Run();

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void Serve(int fd);
  void StreamWithoutEnd(TlsStream& stream);
  void JoinFinished(bool all);

  SSL_CTX* tls_;
  HostSimulator& simulator_;
  const StopSignal& stop_;
  ServerLimits limits_;
  UniqueFd listenFd_;
  std::uint16_t port_ = 0;
  std::list<Connection> connections_;  // touched by the accepting thread only
};

}  // namespace paxelle::hostsim
