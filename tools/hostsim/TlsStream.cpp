#include "tools/hostsim/TlsStream.h"

#include "common/SystemErrorText.h"
#include "tools/hostsim/TlsContext.h"

#include <openssl/err.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace paxelle::hostsim {

TlsStream::TlsStream(SSL_CTX* context, int fd, Side side, int stopFd) : fd_(fd), stopFd_(stopFd) {
  const int flags = ::fcntl(fd_.Get(), F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd_.Get(), F_SETFL, flags | O_NONBLOCK) < 0) {
    lastError_ = "cannot make the socket non-blocking: " + SystemErrorText(errno);
    return;
  }
  ssl_ = context != nullptr ? SSL_new(context) : nullptr;
  if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_.Get()) != 1) {
    lastError_ = "cannot create the TLS connection: " + TakeTlsErrorText("no context");
    if (ssl_ != nullptr) SSL_free(ssl_);
    ssl_ = nullptr;
    return;
  }
  if (side == Side::kServer) {
    SSL_set_accept_state(ssl_);
  } else {
    SSL_set_connect_state(ssl_);
  }
}

TlsStream::~TlsStream() { Close(); }

void TlsStream::Close() {
  if (ssl_ != nullptr) {
    if (established_ && !broken_) {
      ERR_clear_error();
      SSL_shutdown(ssl_);  // a close notice that does not fit the socket now is left unsent
      ERR_clear_error();
    }
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  fd_.Reset();
}

IoResult TlsStream::WaitFor(short events, Deadline deadline) {
  for (;;) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return IoResult::kTimeout;
    const auto leftMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    pollfd watch[2] = {{fd_.Get(), events, 0}, {stopFd_, POLLIN, 0}};
    const int ready = ::poll(watch, stopFd_ >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(leftMs, INT_MAX)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      lastError_ = "poll failed: " + SystemErrorText(errno);
      return IoResult::kFailed;
    }
    if (ready == 0) continue;
    if (stopFd_ >= 0 && watch[1].revents != 0) return IoResult::kStopped;
    return IoResult::kOk;  // ready, or an error or hang-up that the TLS layer will report
  }
}

template <typename Operation>
IoResult TlsStream::Drive(Operation operation, Deadline deadline, const char* what) {
  if (ssl_ == nullptr || broken_) {
    if (lastError_.empty()) lastError_ = "the connection is not usable";
    return IoResult::kFailed;
  }
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int result = operation();
    if (result > 0) return IoResult::kOk;
    const int error = SSL_get_error(ssl_, result);
    short events = 0;
    switch (error) {
      case SSL_ERROR_WANT_READ: events = POLLIN; break;
      case SSL_ERROR_WANT_WRITE: events = POLLOUT; break;
      case SSL_ERROR_ZERO_RETURN:
        lastError_ = std::string(what) + ": the peer closed the connection";
        return IoResult::kClosed;
      case SSL_ERROR_SYSCALL: {
        const int code = errno;
        broken_ = true;
        if (code == 0 || code == ECONNRESET || code == EPIPE) {
          lastError_ = std::string(what) + ": the peer dropped the connection";
          return IoResult::kClosed;
        }
        lastError_ = std::string(what) + ": " + TakeTlsErrorText(SystemErrorText(code));
        return IoResult::kFailed;
      }
      default:
        broken_ = true;
        lastError_ = std::string(what) + ": " + TakeTlsErrorText("TLS error " + std::to_string(error));
        return IoResult::kFailed;
    }
    const IoResult waited = WaitFor(events, deadline);
    if (waited != IoResult::kOk) {
      if (waited == IoResult::kTimeout) lastError_ = std::string(what) + ": timed out";
      if (waited == IoResult::kStopped) lastError_ = std::string(what) + ": stopped";
      return waited;
    }
  }
}

IoResult TlsStream::Handshake(std::chrono::milliseconds limit) {
  const IoResult result =
      Drive([this] { return SSL_do_handshake(ssl_); }, std::chrono::steady_clock::now() + limit, "TLS handshake");
  // A handshake cut off half-way leaves nothing to close politely.
  if (result == IoResult::kOk) {
    established_ = true;
  } else {
    broken_ = true;
  }
  return result;
}

IoResult TlsStream::ReadExact(std::size_t count, std::string& out, std::chrono::milliseconds limit) {
  const Deadline deadline = std::chrono::steady_clock::now() + limit;
  out.assign(count, '\0');
  std::size_t got = 0;
  while (got < count) {
    int read = 0;
    const int chunk = static_cast<int>(std::min<std::size_t>(count - got, INT_MAX));
    const IoResult result = Drive(
        [&] { return read = SSL_read(ssl_, out.data() + got, chunk); }, deadline, "TLS read");
    if (result != IoResult::kOk) {
      out.resize(got);
      return result;
    }
    got += static_cast<std::size_t>(read);
  }
  return IoResult::kOk;
}

IoResult TlsStream::WriteAll(std::string_view bytes, std::chrono::milliseconds limit) {
  const Deadline deadline = std::chrono::steady_clock::now() + limit;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    int written = 0;
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, INT_MAX));
    const IoResult result = Drive(
        [&] { return written = SSL_write(ssl_, bytes.data() + sent, chunk); }, deadline, "TLS write");
    if (result != IoResult::kOk) return result;
    sent += static_cast<std::size_t>(written);
  }
  return IoResult::kOk;
}

}  // namespace paxelle::hostsim
