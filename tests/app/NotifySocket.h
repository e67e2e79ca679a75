// The receiving end of the service manager's notification socket: a datagram
// socket the test binds, at a path or under an abstract name.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace paxelle::testing {

class NotifySocket {
 public:
  // `address` as NOTIFY_SOCKET spells it: "/path" or "@name".
  explicit NotifySocket(std::string address) : address_(std::move(address)) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    if (address_.empty() || address_.size() >= sizeof local.sun_path) return;
    std::memcpy(local.sun_path, address_.data(), address_.size());
    const bool abstract = address_.front() == '@';
    if (abstract) local.sun_path[0] = '\0';
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address_.size() + (abstract ? 0 : 1));
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&local), length) == 0;
  }
  ~NotifySocket() {
    if (fd_ >= 0) ::close(fd_);
    if (bound_ && address_.front() == '/') ::unlink(address_.c_str());
  }
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;

  // An abstract name no other test process uses.
  static std::string UniqueAbstractName() {
    static int count = 0;
    return "@paxelle-test-" + std::to_string(::getpid()) + "-" + std::to_string(++count);
  }

  bool Bound() const { return bound_; }
  const std::string& Address() const { return address_; }

  // The next datagram, or nothing when none arrives within `limit`.
  std::optional<std::string> Receive(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(limit.count())) != 1) return std::nullopt;
    char buffer[4096];
    const ssize_t size = ::recv(fd_, buffer, sizeof buffer, 0);
    if (size < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(size));
  }

  // Datagrams until one equals `last` (kept as the final element) or the time is up.
  std::vector<std::string> ReceiveUntil(const std::string& last,
                                        std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::vector<std::string> received;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      std::optional<std::string> datagram = Receive(left);
      if (!datagram) break;
      received.push_back(*datagram);
      if (*datagram == last) break;
    }
    return received;
  }

 private:
  std::string address_;
  int fd_ = -1;
  bool bound_ = false;
};

}  // namespace paxelle::testing
