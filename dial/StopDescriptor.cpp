#include "dial/StopDescriptor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace paxelle {

StopDescriptor::StopDescriptor() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

StopDescriptor::~StopDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

void StopDescriptor::Set() {
  if (fd_ < 0) return;
  const std::uint64_t one = 1;
  // The counter only grows; a write that would overflow it finds it set already.
  while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void StopDescriptor::Reset() {
  if (fd_ < 0) return;
  std::uint64_t count = 0;
  while (::read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

bool StopDescriptor::IsSet() const {
  if (fd_ < 0) return false;
  pollfd watch{fd_, POLLIN, 0};
  return ::poll(&watch, 1, 0) > 0;
}

}  // namespace paxelle
