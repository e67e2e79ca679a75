#include "common/EventFd.h"

#include "common/TimeLimits.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace paxelle {

bool EventFd::Open() {
  fd_.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  return fd_.IsValid();
}

void EventFd::Signal() const {
  if (!fd_.IsValid()) return;
  const std::uint64_t one = 1;
  // A full counter (EAGAIN) is still raised; nothing else can fail on a valid eventfd.
  while (::write(fd_.Get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

bool EventFd::Drain() const {
  if (!fd_.IsValid()) return false;
  std::uint64_t count = 0;
  ssize_t got;
  while ((got = ::read(fd_.Get(), &count, sizeof count)) < 0 && errno == EINTR) {
  }
  return got == static_cast<ssize_t>(sizeof count) && count != 0;
}

bool EventFd::WaitFor(std::chrono::milliseconds timeout) const {
  if (!fd_.IsValid()) return false;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  pollfd watch{fd_.Get(), POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&watch, 1, PollTimeout(deadline - Clock::now()));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

}  // namespace paxelle
