#include "tools/hostsim/SimServer.h"

#include "common/SystemErrorText.h"
#include "tools/hostsim/HostFraming.h"
#include "tools/hostsim/TlsStream.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace paxelle::hostsim {
namespace {

constexpr int kAcceptWakeMs = 1000;  // finished connection threads are joined at least this often

void Report(const std::string& text) { std::fprintf(stderr, "paxelle-hostsim: %s\n", text.c_str()); }

}  // namespace

SimServer::SimServer(SSL_CTX* tls, HostSimulator& simulator, const StopSignal& stop, ServerLimits limits)
    : tls_(tls), simulator_(simulator), stop_(stop), limits_(limits) {}

SimServer::~SimServer() {
  JoinFinished(true);
}

Status SimServer::Listen(std::uint16_t port) {
  // Non-blocking, so a connection reset between poll and accept cannot hold the loop in accept.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Status::Failure("cannot create the listening socket: " + SystemErrorText(errno));
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const Status failed = Status::Failure("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                                          SystemErrorText(errno));
    ::close(fd);
    return failed;
  }
  listenFd_.Reset(fd);
  port_ = ntohs(address.sin_port);
  return Status::Ok();
}

bool SimServer::Run() {
  bool healthy = listenFd_.IsValid();
  while (healthy && !stop_.Raised()) {
    JoinFinished(false);
    pollfd watch[2] = {{listenFd_.Get(), POLLIN, 0}, {stop_.Fd(), POLLIN, 0}};
    const int ready = ::poll(watch, 2, kAcceptWakeMs);
    if (ready < 0 && errno != EINTR) {
      Report("poll on the listening socket failed: " + SystemErrorText(errno));
      healthy = false;
    }
    if (ready <= 0 || watch[1].revents != 0 || watch[0].revents == 0) continue;

    const int fd = ::accept4(listenFd_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      const int code = errno;
      if (code == EMFILE || code == ENFILE) {
        stop_.WaitFor(std::chrono::milliseconds(100));
      } else if (code != EINTR && code != ECONNABORTED && code != EPROTO && code != EAGAIN) {
        Report("accept failed: " + SystemErrorText(code));
        healthy = false;
      }
      continue;
    }
    // Answers go out at once, like the real host's, not behind a delayed ACK.
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    if (connections_.size() >= limits_.maxConnections) {
      Report("too many connections; one refused");
      ::close(fd);
      continue;
    }
    Connection& connection = connections_.emplace_back();
    try {
      connection.thread = std::thread([this, fd, &connection] {
        Serve(fd);
        connection.done.store(true);
      });
    } catch (const std::system_error& failure) {
      Report(std::string("no thread for a connection: ") + failure.what());
      ::close(fd);
      connections_.pop_back();
    }
  }
  JoinFinished(true);
  return healthy;
}

void SimServer::JoinFinished(bool all) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (all || it->done.load()) {
      if (it->thread.joinable()) it->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void SimServer::StreamWithoutEnd(TlsStream& stream) {
  // Announces a short answer, then never stops sending: until the server leaves.
  if (stream.WriteAll(std::string("\x00\x10", 2), limits_.write) != IoResult::kOk) return;
  const std::string block(16 * 1024, 'Z');
  while (!stop_.Raised() && stream.WriteAll(block, limits_.write) == IoResult::kOk) {
  }
}

void SimServer::Serve(int fd) {
  TlsStream stream(tls_, fd, TlsStream::Side::kServer, stop_.Fd());
  if (limits_.handshakeDelay.count() > 0 && stop_.WaitFor(limits_.handshakeDelay)) return;
  if (stream.Handshake(limits_.handshake) != IoResult::kOk) {
    if (!stop_.Raised()) Report(stream.LastError());
    return;
  }
  for (;;) {
    std::string header;
    IoResult result = stream.ReadExact(kFrameHeaderSize, header, limits_.idle);
    std::string message;
    if (result == IoResult::kOk) result = stream.ReadExact(FramedLength(header), message, limits_.message);
    if (result == IoResult::kFailed) Report(stream.LastError());
    if (result != IoResult::kOk) break;

    const SimReply reply = simulator_.Handle(message);
    if (reply.action == SimReply::Action::kNoAnswer) continue;
    if (reply.action == SimReply::Action::kCloseConnection) break;
    if (reply.action == SimReply::Action::kStream) {
      StreamWithoutEnd(stream);
      break;
    }
    if (reply.action == SimReply::Action::kSendAfterDelay && stop_.WaitFor(limits_.delay)) break;
    std::string framed;
    if (!FrameHostMessage(reply.text, framed) || stream.WriteAll(framed, limits_.write) != IoResult::kOk) {
      Report("answer not sent: " + stream.LastError());
      break;
    }
  }
  stream.Close();
}

}  // namespace paxelle::hostsim
