// One TLS connection over a non-blocking socket, with every wait bounded by a time limit
// and ended early by a stop flag. Used by the simulator's connections (server side) and
// usable as a client.
#pragma once

#include "common/PosixFile.h"

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace paxelle::hostsim {

enum class IoResult {
  kOk,
  kClosed,   // the peer closed the connection (or reset it)
  kTimeout,  // the limit passed first
  kStopped,  // the stop flag was raised
  kFailed,   // anything else; LastError() says what
};

class TlsStream {
 public:
  enum class Side { kServer, kClient };

  // Takes the connected socket `fd` (made non-blocking here, closed by Close). `stopFd` is
  // a descriptor that turns readable to stop every wait (a StopSignal's Fd(), or -1 for
  // none); it must stay open as long as the stream.
  TlsStream(SSL_CTX* context, int fd, Side side, int stopFd);
  // Close().
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // The connection's TLS object, for settings that must be made before Handshake (a
  // client's expected server name); null when it could not be created.
  SSL* Native() const { return ssl_; }

  // Runs the TLS handshake within `limit`.
  IoResult Handshake(std::chrono::milliseconds limit);

  // Reads exactly `count` bytes into `out` within `limit`. On any other result than kOk,
  // `out` holds what did arrive.
  IoResult ReadExact(std::size_t count, std::string& out, std::chrono::milliseconds limit);

  // Sends all of `bytes` within `limit`.
  IoResult WriteAll(std::string_view bytes, std::chrono::milliseconds limit);

  // Sends the close notice when the session is sound (without waiting for the peer's
  // answer) and closes the socket. Idempotent.
  void Close();

  // What the last failed call ran into.
  const std::string& LastError() const { return lastError_; }

 private:
  using Deadline = std::chrono::steady_clock::time_point;
  template <typename Operation>
  IoResult Drive(Operation operation, Deadline deadline, const char* what);
  IoResult WaitFor(short events, Deadline deadline);

  SSL* ssl_ = nullptr;
  UniqueFd fd_;
  int stopFd_ = -1;
  bool established_ = false;
  bool broken_ = false;
  std::string lastError_;
};

}  // namespace paxelle::hostsim
