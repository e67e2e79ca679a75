#include "app/control/ControlClient.h"

#include "app/control/PeerAccess.h"
#include "common/SystemErrorText.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace paxelle {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReplyLimit = 1024 * 1024;
constexpr char kRefusalStart[] = "permission denied";

}  // namespace

std::filesystem::path ServerControlPath(const std::filesystem::path& workdir, const char* runtimeDirectory) {
  if (runtimeDirectory != nullptr && *runtimeDirectory != '\0') {
    std::string first = runtimeDirectory;
    first = first.substr(0, first.find(':'));
    if (!first.empty()) return std::filesystem::path(first) / kControlSocketName;
  }
  return workdir / kControlSocketName;
}

std::string AccessAdvice() {
  return std::string("This user may not use the payment server's control socket. Ask an administrator to add ") +
         "you to the group " + kOperatorGroupName + " (sudo adduser $USER " + kOperatorGroupName +
         "), then log in again.";
}

bool IsAccessRefusal(const std::string& error) { return error.rfind(kRefusalStart, 0) == 0; }

ControlClient::~ControlClient() { Close(); }

void ControlClient::Close() {
  fd_.Reset();
  buffer_.clear();
}

Status ControlClient::Connect(const std::filesystem::path& path) {
  constexpr int kFailed = static_cast<int>(ControlConnect::kFailed);
  Close();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (text.empty() || text.size() >= sizeof address.sun_path) {
    return Status::Failure("\"" + text + "\" is too long for a socket's address", kFailed);
  }
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.IsValid()) return Status::Failure("socket: " + SystemErrorText(errno), kFailed);
  // A Unix socket connects at once or fails; EAGAIN means the backlog is full.
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int code = errno;
    ControlConnect why = ControlConnect::kFailed;
    if (code == ENOENT || code == ECONNREFUSED || code == ENOTDIR) why = ControlConnect::kNoServer;
    if (code == EACCES || code == EPERM) why = ControlConnect::kRefused;
    return Status::Failure(text + ": " + SystemErrorText(code), static_cast<int>(why));
  }
  fd_ = std::move(fd);
  return Status::Ok();
}

Status ControlClient::Send(ControlRequest request) {
  const std::string line = RequestLine(request);
  std::size_t done = 0;
  const auto deadline = Clock::now() + kControlAnswerWait;
  while (done < line.size()) {
    const ssize_t sent = ::send(fd_.Get(), line.data() + done, line.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && left > 0) {
      pollfd watched{fd_.Get(), POLLOUT, 0};
      ::poll(&watched, 1, static_cast<int>(left));
      continue;
    }
    return Status::Failure(sent < 0 ? "send: " + SystemErrorText(errno) : "the server did not take the request");
  }
  return Status::Ok();
}

bool ControlClient::TakeLine(std::string& line) {
  const std::size_t end = buffer_.find('\n');
  if (end == std::string::npos) return false;
  line = buffer_.substr(0, end);
  buffer_.erase(0, end + 1);
  return true;
}

ControlClient::Read ControlClient::ReadLine(std::string& line, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (TakeLine(line)) return Read::kLine;
    if (!fd_.IsValid() || buffer_.size() > kReplyLimit) return Read::kClosed;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return Read::kTimeout;
    pollfd watched{fd_.Get(), POLLIN, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return Read::kClosed;
    if (ready <= 0) continue;
    char chunk[4096];
    const ssize_t got = ::recv(fd_.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (got > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      if (TakeLine(line)) return Read::kLine;
      return Read::kClosed;
    }
  }
}

Status ControlClient::Ask(ControlRequest request, std::string& reply) {
  // A server that refuses this client says why before it closes: that line is
  // read even when the request could no longer be sent.
  Status sent = Send(request);
  switch (ReadLine(reply, sent.ok() ? kControlAnswerWait : std::chrono::milliseconds(0))) {
    case Read::kLine: return Status::Ok();
    case Read::kTimeout:
      if (!sent.ok()) return sent;
      return Status::Failure("the server did not answer within " + std::to_string(kControlAnswerWait.count() / 1000) +
                             " s");
    case Read::kClosed: break;
  }
  return sent.ok() ? Status::Failure("the server closed the connection") : sent;
}

bool ControlClient::ReadAvailable(std::vector<std::string>& lines) {
  if (!fd_.IsValid()) return false;
  bool open = true;
  for (;;) {
    char chunk[4096];
    const ssize_t got = ::recv(fd_.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (got > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) open = false;
    break;
  }
  std::string line;
  while (TakeLine(line)) lines.push_back(line);
  return open && buffer_.size() <= kReplyLimit;
}

}  // namespace paxelle
