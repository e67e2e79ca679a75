#include "client/SocketConnection.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace paxelle {
namespace {

using Clock = std::chrono::steady_clock;

timeval ToTimeval(std::chrono::milliseconds timeout) {
  timeval value{};
  value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  return value;
}

// Errors of a peek that mean the connection can no longer carry anything.
bool IsDeadPeekError(int error) {
  switch (error) {
    case EBADF:
    case EFAULT:
    case EINVAL:
    case ENOTSOCK:
    case EMSGSIZE:
    case EOPNOTSUPP:
    case ENETDOWN:
    case ENETRESET:
    case ECONNABORTED:
    case ECONNRESET:
    case EISCONN:
    case ESHUTDOWN:
    case ETIMEDOUT:
    case EPIPE:
    case ENOTCONN:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool WakeSignal::WaitFor(std::chrono::milliseconds timeout) const {
  if (fd_.IsValid()) return fd_.WaitFor(timeout);
  // No descriptor to wait on: the wait is a plain pause.
  const auto deadline = Clock::now() + timeout;
  pollfd none{-1, 0, 0};
  while (Clock::now() < deadline) ::poll(&none, 0, PollTimeout(deadline - Clock::now()));
  return false;
}

CSocketConnection::~CSocketConnection() {
  if (socket_.IsValid()) ::shutdown(socket_.Get(), SHUT_RDWR);
}

void CSocketConnection::Attach(UniqueFd socket, const sockaddr_in& peer,
                               std::shared_ptr<const ListenerShared> listener) {
  socket_ = std::move(socket);
  peer_ = peer;
  listener_ = std::move(listener);
}

int CSocketConnection::Send(std::string_view text) {
  if (!socket_.IsValid()) return -1;
  const auto deadline = Clock::now() + sendTimeout_;
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t count = ::send(socket_.Get(), text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (count > 0) {
      sent += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR && Clock::now() < deadline) continue;
    // EAGAIN here means the socket's own send time-out ran out.
    return -1;
  }
  return static_cast<int>(sent);
}

int CSocketConnection::Receive(char* buffer, std::size_t size, std::chrono::milliseconds timeout) {
  if (!socket_.IsValid()) return -1;
  if (timeout.count() > 0) {
    pollfd descriptors[2] = {{socket_.Get(), POLLIN, 0}, {-1, POLLIN, 0}};
    nfds_t count = 1;
    if (wake_ && wake_->IsValid()) {
      descriptors[1].fd = wake_->Fd();
      count = 2;
    }
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      const int ready = ::poll(descriptors, count, PollTimeout(deadline - Clock::now()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return -1;
      if (ready == 0) return 0;
      break;
    }
    // A wake-up is served first, so a chatty client cannot hold its answers back.
    if (count == 2 && (descriptors[1].revents & POLLIN) != 0) {
      wake_->Clear();
      return 0;
    }
  }
  ssize_t received;
  do {
    received = ::recv(socket_.Get(), buffer, size, 0);
  } while (received < 0 && errno == EINTR);
  if (received < 0) return -1;
  return static_cast<int>(received);
}

bool CSocketConnection::IsAlive() {
  if (!socket_.IsValid()) return false;
  pollfd descriptor{socket_.Get(), POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&descriptor, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return false;
  if ((descriptor.revents & POLLNVAL) != 0) return false;
  const bool readable = ready > 0;

  char byte = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const ssize_t peeked = ::recv(socket_.Get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) return true;
    if (peeked == 0) return !readable;  // orderly close
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
    return !IsDeadPeekError(errno);
  }
  return true;
}

std::string CSocketConnection::PeerAddressText() const {
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &peer_.sin_addr, text, sizeof text) == nullptr) return "0.0.0.0";
  return text;
}

bool CSocketConnection::SetReceiveTimeout(std::chrono::milliseconds timeout) {
  const timeval value = ToTimeval(timeout);
  return ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value) == 0;
}

bool CSocketConnection::SetSendTimeout(std::chrono::milliseconds timeout) {
  const timeval value = ToTimeval(timeout);
  if (::setsockopt(socket_.Get(), SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value) != 0) return false;
  sendTimeout_ = timeout;
  return true;
}

bool CSocketConnection::IsGoingOffline() const {
  return listener_ && listener_->goingOffline.load();
}

}  // namespace paxelle
