#include "tools/lane/LaneSocket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace paxelle::lane {

namespace {

// Waits are cut into slices of this length so that the stop flag is seen soon.
constexpr std::chrono::milliseconds kWaitSlice(100);

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

LaneSocket::~LaneSocket() { Close(); }

void LaneSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool LaneSocket::Fail(std::string what) {
  lastError_ = std::move(what);
  return false;
}

LaneSocket::WaitResult LaneSocket::WaitFor(short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    if (stop_ != nullptr && stop_->load()) return WaitResult::kStopped;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return WaitResult::kTimeout;
    const auto slice = std::min<std::chrono::steady_clock::duration>(deadline - now, kWaitSlice);
    const int sliceMs =
        std::max(1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
    pollfd descriptor{fd_, events, 0};
    const int ready = ::poll(&descriptor, 1, sliceMs);
    if (ready > 0) return WaitResult::kReady;  // errors and hang-ups show in the following call
    if (ready < 0 && errno != EINTR) {
      lastError_ = "poll: " + ErrnoText(errno);
      return WaitResult::kError;
    }
  }
}

bool LaneSocket::Connect(const std::string& host, int port, std::chrono::milliseconds timeout) {
  Close();
  if (port <= 0 || port > 65535) return Fail("port " + std::to_string(port) + " is out of range");
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0 || found == nullptr) {
    return Fail("cannot resolve \"" + host + "\": " + ::gai_strerror(resolved));
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  ::freeaddrinfo(found);

  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return Fail("socket: " + ErrnoText(errno));
  const int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const std::string target = host + ":" + std::to_string(port);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS) {
      const int error = errno;
      Close();
      return Fail("cannot connect to " + target + ": " + ErrnoText(error));
    }
    switch (WaitFor(POLLOUT, deadline)) {
      case WaitResult::kReady:
        break;
      case WaitResult::kTimeout:
        Close();
        return Fail("connecting to " + target + " timed out");
      case WaitResult::kStopped:
        Close();
        return Fail("connecting to " + target + " was stopped");
      case WaitResult::kError:
        Close();
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error != 0) {
      Close();
      return Fail("cannot connect to " + target + ": " + ErrnoText(error));
    }
  }
  return true;
}

bool LaneSocket::SendAll(std::string_view bytes, std::chrono::milliseconds timeout) {
  if (fd_ < 0) return Fail("not connected");
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t count = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count > 0) {
      sent += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      switch (WaitFor(POLLOUT, deadline)) {
        case WaitResult::kReady:
          continue;
        case WaitResult::kTimeout:
          return Fail("sending timed out");
        case WaitResult::kStopped:
          return Fail("sending was stopped");
        case WaitResult::kError:
          return false;
      }
    }
    return Fail("send: " + ErrnoText(count < 0 ? errno : EPIPE));
  }
  return true;
}

ReceiveResult LaneSocket::Receive(std::string& received, std::chrono::milliseconds timeout) {
  if (fd_ < 0) {
    lastError_ = "not connected";
    return ReceiveResult::kError;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    char buffer[4096];
    const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
    if (count > 0) {
      received.append(buffer, static_cast<std::size_t>(count));
      return ReceiveResult::kData;
    }
    if (count == 0) {
      lastError_ = "the server closed the connection";
      return ReceiveResult::kClosed;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      const int error = errno;
      lastError_ = "recv: " + ErrnoText(error);
      return error == ECONNRESET ? ReceiveResult::kClosed : ReceiveResult::kError;
    }
    switch (WaitFor(POLLIN, deadline)) {
      case WaitResult::kReady:
        continue;
      case WaitResult::kTimeout:
        lastError_ = "no data within " + std::to_string(timeout.count()) + " ms";
        return ReceiveResult::kTimeout;
      case WaitResult::kStopped:
        lastError_ = "receiving was stopped";
        return ReceiveResult::kStopped;
      case WaitResult::kError:
        return ReceiveResult::kError;
    }
  }
}

}  // namespace paxelle::lane
