// Loopback sockets the host tests stand up in place of a host: a listener on a
// port of the system's choosing, and a port nobody listens on.
#pragma once

#include "common/PosixFile.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>

namespace paxelle::testing {

inline sockaddr_in LoopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// The local port `fd` is bound to (0 when it is not).
inline std::uint16_t LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

// A listening socket on 127.0.0.1 with a port of the system's choosing.
class LoopbackListener {
 public:
  explicit LoopbackListener(int backlog = 8) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const sockaddr_in address = LoopbackAddress(0);
    if (::bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_.Get(), backlog) != 0) {
      fd_.Reset();
    }
  }
  bool Valid() const { return fd_.IsValid(); }
  int Fd() const { return fd_.Get(); }
  std::uint16_t Port() const { return LocalPort(fd_.Get()); }

  // One connection accepted within `limit`, or -1.
  int Accept(std::chrono::milliseconds limit) const {
    pollfd watch{fd_.Get(), POLLIN, 0};
    if (::poll(&watch, 1, static_cast<int>(limit.count())) <= 0) return -1;
    return ::accept4(fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
  }

 private:
  UniqueFd fd_;
};

// A loopback port nobody listens on (bound for a moment, then released).
inline std::uint16_t ClosedPort() {
  UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = LoopbackAddress(0);
  if (::bind(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return 0;
  return LocalPort(probe.Get());
}

}  // namespace paxelle::testing
