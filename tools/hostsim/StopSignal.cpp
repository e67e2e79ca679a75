#include "tools/hostsim/StopSignal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace paxelle::hostsim {

StopSignal::StopSignal() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    readFd_ = fds[0];
    writeFd_ = fds[1];
  }
}

StopSignal::~StopSignal() {
  if (readFd_ >= 0) ::close(readFd_);
  if (writeFd_ >= 0) ::close(writeFd_);
}

void StopSignal::Raise() {
  if (writeFd_ < 0) return;
  const char byte = 1;
  // A full pipe is already readable, so a write that does not fit changes nothing.
  while (::write(writeFd_, &byte, 1) < 0 && errno == EINTR) {
  }
}

bool StopSignal::Raised() const { return WaitFor(std::chrono::milliseconds(0)); }

bool StopSignal::WaitFor(std::chrono::milliseconds timeout) const {
  if (readFd_ < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd watch{readFd_, POLLIN, 0};
    const int ready = ::poll(&watch, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX)));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

}  // namespace paxelle::hostsim
