// The modem control lines of a serial device (TIOCMGET, TIOCMBIS, TIOCMBIC)
// behind a seam, so that tests can give a device whose lines read off.
#pragma once

namespace paxelle {

class ModemLineControl {
 public:
  virtual ~ModemLineControl() = default;
  // The TIOCM_* bits of `fd` into `bits`: 0, or the errno of the refusal.
  virtual int Get(int fd, int& bits) = 0;
  // Raises (TIOCMBIS) or drops (TIOCMBIC) the TIOCM_* `bits`: 0 or the errno.
  virtual int Raise(int fd, int bits) = 0;
  virtual int Drop(int fd, int bits) = 0;
};

// The machine's own ioctl calls; one object for the process, without state.
ModemLineControl& SystemModemLines();

}  // namespace paxelle
