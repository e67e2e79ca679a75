#include "client/SocketListener.h"

#include "common/SystemErrorText.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace paxelle {
namespace {

using Clock = std::chrono::steady_clock;


std::string ErrnoText(const char* what, int error) {
  return std::string(what) + ": " + SystemErrorText(error);
}

}  // namespace

CSocketListener::CSocketListener() : shared_(std::make_shared<ListenerShared>()) {}

CSocketListener::~CSocketListener() {
  Shutdown();
}

void CSocketListener::SetLastError(std::string text) {
  MutexLock lock(tableMutex_);
  lastError_ = std::move(text);
}

std::string CSocketListener::LastError() const {
  MutexLock lock(tableMutex_);
  return lastError_;
}

int CSocketListener::Listen(int port, int backlog) {
  if (running_) {
    SetLastError("the accept loop is running");
    return kListenSocketFailed;
  }
  JoinEndedAcceptLoop();
  if (port < 0 || port > 65535) {
    SetLastError("port " + std::to_string(port) + " is out of range");
    return kListenBindFailed;
  }
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.IsValid()) {
    SetLastError(ErrnoText("socket", errno));
    return kListenSocketFailed;
  }
  // Only lets a restart bind past TIME_WAIT; two listeners still cannot share the port.
  const int on = 1;
  ::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    SetLastError(ErrnoText("bind", errno));
    return kListenBindFailed;
  }
  if (::listen(socket.Get(), backlog) != 0) {
    SetLastError(ErrnoText("listen", errno));
    return kListenListenFailed;
  }
  // Accept only after poll reported a connection; one that vanished meanwhile
  // must not leave the loop blocked in accept.
  const int flags = ::fcntl(socket.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(socket.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    SetLastError(ErrnoText("fcntl", errno));
    return kListenListenFailed;
  }
  socklen_t length = sizeof address;
  if (::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    SetLastError(ErrnoText("getsockname", errno));
    return kListenListenFailed;
  }
  listenSocket_ = std::move(socket);
  port_ = ntohs(address.sin_port);
  return kListenOk;
}

int CSocketListener::Start() {
  if (running_) return 1;
  JoinEndedAcceptLoop();
  if (!listenSocket_.IsValid()) {
    SetLastError("not listening");
    return 1;
  }
  if (!stopSignal_.IsValid()) {
    SetLastError("no stop signal could be created");
    return 1;
  }
  stopSignal_.Clear();
  stopping_ = false;
  running_ = true;
  try {
    acceptThread_ = std::thread(&CSocketListener::AcceptLoop, this);
  } catch (const std::system_error& error) {
    running_ = false;
    SetLastError(std::string("accept thread: ") + error.what());
    return 1;
  }
  return 0;
}

void CSocketListener::JoinEndedAcceptLoop() {
  // A loop that left on an accept failure has cleared running and is about to return.
  if (acceptThread_.joinable()) acceptThread_.join();
}

int CSocketListener::Stop() {
  if (acceptThread_.joinable()) {
    stopping_ = true;
    stopSignal_.Signal();
    acceptThread_.join();
  }
  running_ = false;
  stopping_ = false;
  ReapFinished();
  return 0;
}

int CSocketListener::SetConnectionLimit(int limit) {
  if (limit < 1 || limit > kMaxConnectionLimit) return -1;
  limit_ = limit;
  return limit;
}

void CSocketListener::SetGoingOffline(bool goingOffline) {
  shared_->goingOffline = goingOffline;
}

bool CSocketListener::IsGoingOffline() const {
  return shared_->goingOffline.load();
}

std::unique_ptr<CSocketConnection> CSocketListener::CreateConnection() {
  return nullptr;
}

void CSocketListener::ConnectionClosedAtOnce(const sockaddr_in&) {}

void CSocketListener::AcceptLoop() {
  for (;;) {
    ReapFinished();
    pollfd descriptors[2] = {{listenSocket_.Get(), POLLIN, 0}, {stopSignal_.Fd(), POLLIN, 0}};
    const int ready = ::poll(descriptors, 2, PollTimeout(kAcceptWake));
    if (stopping_) break;
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if ((descriptors[1].revents & POLLIN) != 0) break;
    if (ready == 0 || (descriptors[0].revents & (POLLIN | POLLERR | POLLHUP)) == 0) continue;

    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    UniqueFd accepted(::accept4(listenSocket_.Get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
    if (!accepted.IsValid()) {
      const int error = errno;
      if (error == EINTR || error == ECONNABORTED || error == EPROTO || error == EAGAIN || error == EWOULDBLOCK) {
        continue;
      }
      if (error == EMFILE || error == ENFILE) {
        if (stopSignal_.WaitFor(kDescriptorShortagePause)) break;
        continue;
      }
      SetLastError(ErrnoText("accept", error));
      break;
    }
    if (stopping_) {
      ::shutdown(accepted.Get(), SHUT_RDWR);
      break;
    }
    // A reply often follows the previous one closely ("Queued", then the
    // result); it must not wait for the lane's delayed ACK.
    const int noDelay = 1;
    ::setsockopt(accepted.Get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    if (!Dispatch(std::move(accepted), peer)) break;
  }
  running_ = false;
}

bool CSocketListener::Dispatch(UniqueFd socket, const sockaddr_in& peer) {
  bool refused = limit_.load() <= count_.load();
  if (refused && limit_.load() == 1) {
    if (stopSignal_.WaitFor(kSingleSlotPause)) {
      ::shutdown(socket.Get(), SHUT_RDWR);
      return false;
    }
    ReapFinished();
    refused = limit_.load() <= count_.load();
  }
  // A refused connection still costs a thread until its login ends; a flood of
  // them must not cost one each.
  if (refused && refusing_.load() >= kMaxRefusingConnections) {
    ConnectionClosedAtOnce(peer);  // told first: the peer may act on the close at once
    ::shutdown(socket.Get(), SHUT_RDWR);
    return true;
  }

  std::unique_ptr<CSocketConnection> connection = CreateConnection();
  if (!connection) {
    ::shutdown(socket.Get(), SHUT_RDWR);
    return true;
  }
  const int descriptor = socket.Get();
  connection->Attach(std::move(socket), peer, shared_);

  // The new thread's last step takes this lock, so its entry is complete
  // before the thread can look for it.
  MutexLock lock(tableMutex_);
  const std::uint64_t serial = nextSerial_++;
  Entry& entry = table_[serial];
  entry.socket = descriptor;
  ++count_;
  if (refused) ++refusing_;
  try {
    entry.thread = std::thread(&CSocketListener::RunConnection, this, serial, std::move(connection), refused);
  } catch (const std::system_error&) {
    // The thread's copy of the connection, and with it the socket, is gone already.
    table_.erase(serial);
    --count_;
    if (refused) --refusing_;
  }
  return true;
}

void CSocketListener::RunConnection(std::uint64_t serial, std::unique_ptr<CSocketConnection> connection,
                                    bool refused) {
  connection->SetReceiveTimeout(kClientSocketLimit);
  connection->SetSendTimeout(kClientSocketLimit);
  if (refused) {
    connection->Refuse();
  } else {
    connection->Serve();
  }
  {
    MutexLock lock(tableMutex_);
    const auto found = table_.find(serial);
    if (found != table_.end()) {
      finished_.push_back(std::move(found->second.thread));
      table_.erase(found);
    }
    --count_;
    if (refused) --refusing_;
  }
  tableChanged_.notify_all();
  // Unregistered first: the socket stays open while its entry exists, so a
  // forced shutdown can never hit a descriptor number reused meanwhile.
  connection.reset();
}

void CSocketListener::ReapFinished() {
  std::vector<std::thread> finished;
  {
    MutexLock lock(tableMutex_);
    finished.swap(finished_);
  }
  for (std::thread& thread : finished) {
    if (thread.joinable()) thread.join();
  }
}

void CSocketListener::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  SetGoingOffline(true);
  Stop();

  MutexLock lock(tableMutex_);
  const auto deadline = Clock::now() + kSessionEndWait;
  tableChanged_.wait_until(tableMutex_, deadline, [this]() REQUIRES(tableMutex_) { return table_.empty(); });
  // Sessions still running are stuck in a send to a client that does not
  // read; taking their sockets away ends every wait they can be in.
  while (!table_.empty()) {
    for (const auto& [serial, entry] : table_) ::shutdown(entry.socket, SHUT_RDWR);
    tableChanged_.wait_for(tableMutex_, kConnectionTableRecheck, [this]() REQUIRES(tableMutex_) { return table_.empty(); });
  }
  lock.Unlock();
  ReapFinished();
  listenSocket_.Reset();
  port_ = -1;
}

}  // namespace paxelle
