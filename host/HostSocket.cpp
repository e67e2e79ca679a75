#include "host/HostSocket.h"


#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <memory>

namespace paxelle {
namespace {

using Clock = std::chrono::steady_clock;

enum class Woken { kSocket, kStopped, kTimeout, kFailed };

// Waits until `socket` shows `events`, the stop descriptor is readable, or `deadline`
// has passed (without a descriptor for the stop event, it is looked at every kHostStopLook). The socket wins when both are ready. Without a stop event to watch
// (`stopping` null) only the socket and the time count.
Woken WaitForSocket(int socket, short events, const Event* stopping, Clock::time_point deadline) {
  const int stopDescriptor = stopping != nullptr ? stopping->Descriptor() : -1;
  pollfd watch[2] = {{socket, events, 0}, {stopDescriptor, POLLIN, 0}};
  const nfds_t count = stopDescriptor >= 0 ? 2 : 1;
  const bool lookAtStop = stopping != nullptr && stopDescriptor < 0;
  const auto left = deadline - Clock::now();
  const int ready = ::poll(watch, count, PollTimeout(lookAtStop ? std::min<Clock::duration>(left, kHostStopLook) : left));
  if (ready < 0) return errno == EINTR ? Woken::kTimeout : Woken::kFailed;
  if (watch[0].revents != 0) return Woken::kSocket;
  if (count == 2 && watch[1].revents != 0) return Woken::kStopped;
  return Woken::kTimeout;
}

bool SetNonBlocking(int socket, bool nonBlocking) {
  int on = nonBlocking ? 1 : 0;
  return ::ioctl(socket, FIONBIO, &on) == 0;
}

struct FreeAddressInfo {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

}  // namespace

CHostSocket::CHostSocket(const Event* stopping) : stopping_(stopping) {}

CHostSocket::~CHostSocket() { CloseQuietly(); }

bool CHostSocket::ConnectByName(const std::string& name, int port, milliseconds timeout, CHostAddressCache* addresses) {
  CloseQuietly();
  if (port < 1 || port > 65535) {
    SetLastError(EINVAL, "Invalid Host Port %d", port);
    return false;
  }
  const std::string endpoint = name + ":" + std::to_string(port);
  if (addresses != nullptr) {
    if (const std::optional<sockaddr_in> kept = addresses->Find(endpoint)) {
      if (ConnectAddress(*kept, timeout)) return true;
      addresses->Forget(endpoint);
      return false;
    }
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  const std::unique_ptr<addrinfo, FreeAddressInfo> list(found);
  if (result != 0 || found == nullptr || found->ai_addrlen < sizeof(sockaddr_in)) {
    const int code = result != 0 ? result : EAI_NONAME;
    SetLastError(code, "DNS Lookup of '%s' Failed with Error %d.", name.c_str(), code);
    return false;
  }
  sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (!ConnectAddress(address, timeout)) return false;
  if (addresses != nullptr) addresses->Keep(endpoint, address);
  return true;
}

bool CHostSocket::ConnectAddress(const sockaddr_in& address, milliseconds timeout) {
  CloseQuietly();
  address_ = address;
  socket_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket_.IsValid()) {
    SetLastError(kHostSocketCreateFailed, "Socket Creation Failed");
    return false;
  }
  // Request and answer are single small messages; none may wait for a delayed ACK.
  const int noDelay = 1;
  ::setsockopt(socket_.Get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  if (!SetNonBlocking(socket_.Get(), true)) {
    const int error = errno;
    CloseQuietly();
    SetLastError(error, "Socket ioctl (No Block) Failed with Error %d", error);
    return false;
  }
  const Clock::time_point deadline = Clock::now() + std::max(timeout, milliseconds(0));
  if (::connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&address_), sizeof address_) == 0) {
    SetNonBlocking(socket_.Get(), false);
    return true;
  }
  if (errno != EINPROGRESS && errno != EINTR) {
    const int error = errno;
    CloseQuietly();
    SetLastError(error, "Got %d [0X%x] trying to Connect - Expected WSAEWOULDBLOCK", error,
                 static_cast<unsigned>(error));
    return false;
  }
  for (;;) {
    const Woken woken = WaitForSocket(socket_.Get(), POLLOUT, stopping_, deadline);
    if (woken == Woken::kFailed) {
      const int error = errno;
      CloseQuietly();
      SetLastError(error, "Socket Error Trying to Connect Error %d", error);
      return false;
    }
    if (woken == Woken::kSocket) {
      int pending = 0;
      socklen_t length = sizeof pending;
      if (::getsockopt(socket_.Get(), SOL_SOCKET, SO_ERROR, &pending, &length) != 0) pending = errno;
      pollfd writable{socket_.Get(), POLLOUT, 0};
      if (pending == 0 && ::poll(&writable, 1, 0) > 0 && (writable.revents & POLLOUT) != 0) {
        SetNonBlocking(socket_.Get(), false);
        return true;
      }
      break;  // refused, unreachable or reset while connecting
    }
    if (woken == Woken::kStopped || Stopping() || Clock::now() >= deadline) break;
  }
  CloseQuietly();
  SetLastError(kHostSocketConnectFailed, "Socket Error Trying to Connect Error %d", kHostSocketConnectFailed);
  return false;
}

bool CHostSocket::Close() {
  CloseQuietly();
  return true;
}

void CHostSocket::CloseQuietly() {
  if (!socket_.IsValid()) return;
  SetNonBlocking(socket_.Get(), false);
  ::shutdown(socket_.Get(), SHUT_RDWR);
  socket_.Reset();
}

int CHostSocket::Send(const char* data, int length) {
  if (length == 0) return 0;
  if (!socket_.IsValid() || data == nullptr || length < 0) {
    systemError_ = !socket_.IsValid() ? ENOTCONN : EINVAL;
    SetLastError(kHostSocketSendFailed, "Socket Error Sending %d", kHostSocketSendFailed);
    return -1;
  }
  int sent = 0;
  Clock::time_point lastProgress = Clock::now();
  while (sent < length) {
    const ssize_t written =
        ::send(socket_.Get(), data + sent, static_cast<std::size_t>(length - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written > 0) {
      sent += static_cast<int>(written);
      lastProgress = Clock::now();
      continue;
    }
    int error = written < 0 ? errno : EIO;
    if (error == EINTR) continue;
    if (error == EAGAIN || error == EWOULDBLOCK) {
      if (Stopping()) {
        error = ECANCELED;
      } else if (Clock::now() - lastProgress > kHostSendStallLimit) {
        error = ETIMEDOUT;
      } else {
        const auto stallEnd = lastProgress + kHostSendStallLimit;
        WaitForSocket(socket_.Get(), POLLOUT, stopping_, stallEnd + milliseconds(1));
        continue;
      }
    }
    systemError_ = error;
    SetLastError(kHostSocketSendFailed, "Socket Error Sending %d", kHostSocketSendFailed);
    return -1;
  }
  systemError_ = 0;
  return sent;
}

int CHostSocket::Receive(char* buffer, int size, milliseconds timeout) {
  if (!socket_.IsValid() || buffer == nullptr || size <= 0) return 0;
  const Clock::time_point deadline = Clock::now() + std::max(timeout, milliseconds(0));
  for (;;) {
    const Woken woken = WaitForSocket(socket_.Get(), POLLIN, stopping_, deadline);
    if (woken == Woken::kFailed) {
      systemError_ = errno;
      SetLastError(systemError_, "Socket Error %d Receiving", systemError_);
      return -1;
    }
    if (woken == Woken::kSocket) {
      const ssize_t got = ::recv(socket_.Get(), buffer, static_cast<std::size_t>(size), MSG_DONTWAIT);
      if (got >= 0) return static_cast<int>(got);  // 0: the peer closed the connection
      const int error = errno;
      if (error == ECONNRESET) return 0;
      if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
        systemError_ = error;
        SetLastError(error, "Socket Error %d Receiving", error);
        return -1;
      }
    }
    if (woken == Woken::kStopped || Stopping() || Clock::now() >= deadline) return 0;
  }
}

bool CHostSocket::BytesAvailable() const {
  int count = 0;
  return socket_.IsValid() && ::ioctl(socket_.Get(), FIONREAD, &count) == 0 && count > 0;
}

bool CHostSocket::IsAlive() const {
  if (!socket_.IsValid()) return false;
  pollfd watch{socket_.Get(), POLLIN, 0};
  if (::poll(&watch, 1, 0) < 0 || (watch.revents & POLLNVAL) != 0) return false;
  char peeked = 0;
  const ssize_t got = ::recv(socket_.Get(), &peeked, 1, MSG_PEEK | MSG_DONTWAIT);
  if (got > 0) return true;
  if (got == 0) return false;  // orderly close
  switch (errno) {
    case ECONNRESET:
    case ECONNABORTED:
    case ENETRESET:
    case ENETDOWN:
    case ENOTCONN:
    case ENOTSOCK:
    case EBADF:
    case ESHUTDOWN:
    case ETIMEDOUT:
    case EPIPE:
      return false;
    default:
      return true;  // nothing to read yet, or a passing condition
  }
}

int CHostSocket::LastErrorCode() const { return lastErrorCode_; }

std::string CHostSocket::LastErrorText() const { return lastErrorText_; }

void CHostSocket::SetLastError(int code, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list measure;
  va_copy(measure, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    text.assign(static_cast<std::size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, arguments);
  }
  va_end(arguments);
  lastErrorCode_ = code;
  lastErrorText_ = std::move(text);
}

}  // namespace paxelle
