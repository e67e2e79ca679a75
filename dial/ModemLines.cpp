#include "dial/ModemLines.h"

#include <sys/ioctl.h>

#include <cerrno>

namespace paxelle {
namespace {

class SystemLines final : public ModemLineControl {
 public:
  int Get(int fd, int& bits) override { return ::ioctl(fd, TIOCMGET, &bits) == 0 ? 0 : errno; }
  int Raise(int fd, int bits) override { return ::ioctl(fd, TIOCMBIS, &bits) == 0 ? 0 : errno; }
  int Drop(int fd, int bits) override { return ::ioctl(fd, TIOCMBIC, &bits) == 0 ? 0 : errno; }
};

}  // namespace

ModemLineControl& SystemModemLines() {
  static SystemLines lines;
  return lines;
}

}  // namespace paxelle
