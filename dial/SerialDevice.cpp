#include "dial/SerialDevice.h"

#include "common/SystemErrorText.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace paxelle {

PosixSerialDevice::~PosixSerialDevice() { Close(); }

bool PosixSerialDevice::Open(const std::string& path) {
  Close();
  // O_NONBLOCK: a port whose modem has no carrier must not hang the open.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    errorText_ = path + ": " + SystemErrorText(errno);
    return false;
  }
  fd_ = fd;
  errorText_.clear();
  return true;
}

void PosixSerialDevice::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

bool PosixSerialDevice::GetModemLines(ModemLines& lines) {
  if (fd_ < 0) {
    errorText_ = "the device is not open";
    return false;
  }
  int bits = 0;
  if (::ioctl(fd_, TIOCMGET, &bits) != 0) {
    errorText_ = "modem lines cannot be read: " + SystemErrorText(errno);
    return false;
  }
  lines.dsr = (bits & TIOCM_DSR) != 0;
  lines.cts = (bits & TIOCM_CTS) != 0;
  lines.carrier = (bits & TIOCM_CAR) != 0;
  lines.ring = (bits & TIOCM_RNG) != 0;
  return true;
}

}  // namespace paxelle
