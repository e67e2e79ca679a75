#include "app/control/ControlServer.h"

#include "app/control/PeerAccess.h"
#include "common/SystemErrorText.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace paxelle {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kLineLimit = 4096;
constexpr int kListenBacklog = 32;

std::string PeerText(const PeerCredentials& peer) {
  return "uid " + std::to_string(peer.uid) + " (pid " + std::to_string(peer.pid) + ")";
}

// A short reply to a client that is not served, without waiting for it.
void SendAndClose(int fd, const std::string& line) {
  [[maybe_unused]] const ssize_t sent = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  // Closed with the client's request unread, the socket would be reset and the
  // refusal thrown away before the client reads it: the request is taken first
  // (waiting a moment for it, no longer).
  ::shutdown(fd, SHUT_WR);
  pollfd request{fd, POLLIN, 0};
  if (::poll(&request, 1, PollTimeout(kControlBusyRequestWait)) > 0) {
    char discard[512];
    while (::recv(fd, discard, sizeof discard, MSG_DONTWAIT) > 0) {
    }
  }
  ::close(fd);
}

}  // namespace

struct ControlServer::Client {
  Client(int descriptor, PeerCredentials credentials, Clock::time_point requestBy)
      : fd(descriptor), peer(std::move(credentials)), requestBy(requestBy) {}
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  UniqueFd fd;
  PeerCredentials peer;
  std::string in;
  std::string out;
  bool watching = false;
  std::uint64_t lastRow = 0;
  Clock::time_point requestBy;               // an idle client that asked nothing is closed then
  std::optional<Clock::time_point> blocked;  // since when `out` waits for the client to read
  bool done = false;                         // to be closed and forgotten
};

ControlServer::ControlServer(ControlServerSettings settings, ControlHandlers handlers, const ViewBoard& board)
    : settings_(std::move(settings)), handlers_(std::move(handlers)), board_(board) {}

ControlServer::~ControlServer() { Stop(); }

Status ControlServer::Start() {
  const std::string path = settings_.path.string();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    return Status::Failure("the control socket's path \"" + path + "\" is longer than a socket's address allows");
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // An earlier run's socket is in the way of this one; nothing else may be replaced.
  if (struct stat found {}; ::lstat(path.c_str(), &found) == 0) {
    if (!S_ISSOCK(found.st_mode)) {
      return Status::Failure("the control socket's path \"" + path + "\" is taken by a file that is not a socket");
    }
    ::unlink(path.c_str());
  }
  listenFd_.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listenFd_.IsValid()) return Status::Failure("control socket: " + SystemErrorText(errno));
  const auto fail = [&](const std::string& what) {
    const int code = errno;
    listenFd_.Reset();
    return Status::Failure("control socket " + path + ": " + what + ": " + SystemErrorText(code), code);
  };
  if (::bind(listenFd_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return fail("bind");
  // Before anyone is accepted: the peer check stands behind these too.
  if (::chmod(path.c_str(), 0660) != 0) return fail("chmod");
  // A directory with the set-group-ID bit (the service's) gives the socket the
  // operators' group by itself; elsewhere the server hands it over when it may.
  struct stat made {};
  const bool hasGroup = settings_.operatorGroup && ::stat(path.c_str(), &made) == 0 &&
                        made.st_gid == *settings_.operatorGroup;
  if (settings_.operatorGroup && !hasGroup &&
      ::chown(path.c_str(), static_cast<uid_t>(-1), *settings_.operatorGroup) != 0 && handlers_.log) {
    handlers_.log("Control socket " + path + " stays in the server's group: " + SystemErrorText(errno) + ".");
  }
  if (::listen(listenFd_.Get(), kListenBacklog) != 0) return fail("listen");
  if (!stopFd_.Open()) return fail("eventfd");
  try {
    thread_ = std::thread([this] { Serve(); });
  } catch (const std::system_error& failure) {
    stopFd_.Close();
    listenFd_.Reset();
    return Status::Failure(std::string("control socket: no thread: ") + failure.what());
  }
  return Status::Ok();
}

void ControlServer::Stop() {
  if (thread_.joinable()) {
    stopFd_.Signal();
    thread_.join();
  }
  if (listenFd_.IsValid()) {
    listenFd_.Reset();
    ::unlink(settings_.path.c_str());
  }
  stopFd_.Close();
}

void ControlServer::Serve() {
  std::vector<std::unique_ptr<Client>> clients;
  std::optional<Clock::time_point> lastBusyLog;
  const uid_t serverUid = ::geteuid();
  const auto log = [this](const std::string& text) {
    if (handlers_.log) handlers_.log(text);
  };

  const auto flush = [](Client& client) {
    while (!client.out.empty()) {
      const ssize_t sent = ::send(client.fd.Get(), client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent > 0) {
        client.out.erase(0, static_cast<std::size_t>(sent));
        continue;
      }
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!client.blocked) client.blocked = Clock::now();
        return;
      }
      client.done = true;  // the client has gone
      return;
    }
    client.blocked.reset();
  };

  const auto queueRows = [&](Client& client) {
    for (const BoardRow& row : board_.RowsAfter(client.lastRow)) {
      client.out += RowLine(row.text);
      client.lastRow = row.sequence;
    }
    if (client.out.size() > settings_.watchBacklog) {
      log("Control client " + PeerText(client.peer) + " dropped: it did not take its traffic rows.");
      client.done = true;
      return;
    }
    flush(client);
  };

  const auto handle = [&](Client& client, const std::string& line) {
    ControlRequest request = ControlRequest::kStatus;
    if (const Status parsed = ParseRequestLine(line, request); !parsed.ok()) {
      client.out += ErrorReply(parsed.message());
    } else if (request == ControlRequest::kStatus) {
      client.out += StatusReply(handlers_.status());
    } else if (request == ControlRequest::kParams) {
      const ControlParams params = handlers_.params();
      client.out += ParamsReply(params.params, params.paramsFile);
    } else if (request == ControlRequest::kRestart) {
      log("Restart of the interfaces asked for on the control socket by " + PeerText(client.peer) + ".");
      if (handlers_.restart) handlers_.restart();
      client.out += RestartReply();
    } else {
      client.out += WatchReply();
      client.watching = true;
      queueRows(client);
      return;
    }
    client.requestBy = Clock::now() + settings_.requestWait;
    flush(client);
  };

  const auto readFrom = [&](Client& client) {
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::recv(client.fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (got <= 0) {
        client.done = true;
        return;
      }
      // A watcher only listens; what it sends is read and forgotten.
      if (client.watching) continue;
      client.in.append(buffer, static_cast<std::size_t>(got));
      std::size_t end;
      while (!client.done && !client.watching && (end = client.in.find('\n')) != std::string::npos) {
        const std::string line = client.in.substr(0, end);
        client.in.erase(0, end + 1);
        handle(client, line);
      }
      if (client.watching) client.in.clear();
      if (client.in.size() > kLineLimit) {
        client.out += ErrorReply("request line longer than 4096 bytes");
        flush(client);
        client.done = true;
        return;
      }
    }
  };

  const auto admit = [&](int fd) {
    const std::optional<PeerCredentials> peer = PeerOf(fd);
    if (!peer || !PeerAllowed(*peer, serverUid, settings_.operatorGroup)) {
      const std::string who = peer ? PeerText(*peer) : std::string("of unknown credentials");
      log("Control connection refused for " + who + ": not root, the server's user or a member of " +
          kOperatorGroupName + ".");
      SendAndClose(fd, ErrorReply(std::string("permission denied: only root, the server's user and members of "
                                              "the group ") +
                                  kOperatorGroupName + " may use this socket"));
      return;
    }
    if (clients.size() >= settings_.maxClients) {
      const auto now = Clock::now();
      if (!lastBusyLog || now - *lastBusyLog >= kControlBusyLogInterval) {
        lastBusyLog = now;
        log("Control connection refused for " + PeerText(*peer) + ": " + std::to_string(settings_.maxClients) +
            " clients are connected already.");
      }
      SendAndClose(fd, ErrorReply("busy: " + std::to_string(settings_.maxClients) +
                                  " clients are connected already; try again later"));
      return;
    }
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &settings_.sendBuffer, sizeof settings_.sendBuffer);
    clients.push_back(std::make_unique<Client>(fd, *peer, Clock::now() + settings_.requestWait));
  };

  std::vector<pollfd> watched;
  for (;;) {
    // Only clients that owe or are owed something have a deadline: an idle
    // server with idle watchers sleeps until something happens.
    std::optional<Clock::time_point> wake;
    const auto sooner = [&wake](Clock::time_point when) {
      if (!wake || when < *wake) wake = when;
    };
    watched.clear();
    watched.push_back({stopFd_.Fd(), POLLIN, 0});
    watched.push_back({listenFd_.Get(), POLLIN, 0});
    watched.push_back({board_.WakeDescriptor(), POLLIN, 0});
    for (const auto& client : clients) {
      watched.push_back({client->fd.Get(), static_cast<short>(POLLIN | (client->out.empty() ? 0 : POLLOUT)), 0});
      if (client->blocked) sooner(*client->blocked + settings_.answerLimit);
      if (!client->watching) sooner(client->requestBy);
    }
    const int timeout = wake ? std::min(PollTimeout(*wake - Clock::now()), 60000) : -1;
    const int ready = ::poll(watched.data(), watched.size(), timeout);
    if (ready < 0 && errno != EINTR) {
      log("Control socket stopped: poll: " + SystemErrorText(errno) + ".");
      break;
    }
    if (ready > 0 && watched[0].revents != 0) break;
    if (ready > 0) {
      for (std::size_t i = 0; i < clients.size(); ++i) {
        const short events = watched[i + 3].revents;
        Client& client = *clients[i];
        if (events & (POLLIN | POLLHUP | POLLERR)) readFrom(client);
        if (!client.done && (events & POLLOUT)) flush(client);
      }
      if (watched[2].revents & POLLIN) {
        // Cleared before the rows are read, so that none added meanwhile is missed.
        board_.ClearWake();
        for (const auto& client : clients) {
          if (client->watching && !client->done) queueRows(*client);
        }
      }
      if (watched[1].revents & POLLIN) {
        for (;;) {
          const int fd = ::accept4(listenFd_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (fd < 0) break;
          admit(fd);
        }
      }
    }
    const auto now = Clock::now();
    for (const auto& client : clients) {
      if (client->done) continue;
      if (client->blocked && now - *client->blocked >= settings_.answerLimit) {
        log("Control client " + PeerText(client->peer) + " dropped: it took nothing for " +
            std::to_string(settings_.answerLimit.count()) + " ms" +
            (client->watching ? " of its traffic rows." : " of its answer."));
        client->done = true;
      } else if (!client->watching && client->out.empty() && now >= client->requestBy) {
        client->done = true;  // asked nothing for a while: its place goes to another
      }
    }
    std::erase_if(clients, [](const std::unique_ptr<Client>& client) { return client->done; });
  }
}

}  // namespace paxelle
