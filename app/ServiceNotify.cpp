#include "app/ServiceNotify.h"

#include "common/SystemErrorText.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace paxelle {
namespace {

// Fills `address` from the NOTIFY_SOCKET form; false with `error` set.
bool SocketAddress(const std::string& text, sockaddr_un& address, socklen_t& length, std::string& error) {
  address = {};
  address.sun_family = AF_UNIX;
  const bool abstract = text.front() == '@';
  if (!abstract && text.front() != '/') {
    error = "NOTIFY_SOCKET \"" + text + "\" is neither an absolute path nor an @name";
    return false;
  }
  // A path needs room for its terminating NUL; an abstract name has none.
  if (text.size() + (abstract ? 0 : 1) > sizeof address.sun_path) {
    error = "NOTIFY_SOCKET is longer than a socket address can be";
    return false;
  }
  std::memcpy(address.sun_path, text.data(), text.size());
  if (abstract) address.sun_path[0] = '\0';
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + text.size() + (abstract ? 0 : 1));
  return true;
}

}  // namespace

ServiceNotifier::ServiceNotifier(std::string address) : address_(std::move(address)) {}

ServiceNotifier ServiceNotifier::FromEnvironment() {
  const char* address = std::getenv("NOTIFY_SOCKET");
  return ServiceNotifier(address ? address : "");
}

bool ServiceNotifier::Send(std::string_view assignments) {
  if (!Active()) return true;
  sockaddr_un address{};
  socklen_t length = 0;
  if (!SocketAddress(address_, address, length, lastError_)) return false;
  if (!socket_.IsValid()) {
    socket_.Reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket_.IsValid()) {
      lastError_ = "Cannot create the notification socket: " + SystemErrorText(errno);
      return false;
    }
    // A service manager that stops reading must not hold the server up.
    const timeval bound{1, 0};
    ::setsockopt(socket_.Get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
  }
  ssize_t sent = -1;
  do {
    sent = ::sendto(socket_.Get(), assignments.data(), assignments.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&address), length);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    lastError_ = "Cannot notify the service manager at " + address_ + ": " + SystemErrorText(errno);
    return false;
  }
  return true;
}

std::string StatusValue(std::string_view text) {
  std::string value;
  bool broken = false;  // after a control character: its indentation goes too
  for (const char c : text) {
    const bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    if (control || (broken && c == ' ')) {
      broken = true;
      continue;
    }
    if (broken && !value.empty() && value.back() != ' ') value += ' ';
    broken = false;
    value += c;
  }
  const std::size_t first = value.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

}  // namespace paxelle
