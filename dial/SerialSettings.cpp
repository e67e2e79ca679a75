#include "dial/SerialSettings.h"

namespace paxelle {
namespace {

bool SpeedFor(int baud, speed_t& speed) {
  switch (baud) {
    case 300: speed = B300; return true;
    case 1200: speed = B1200; return true;
    case 2400: speed = B2400; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 115200: speed = B115200; return true;
    default: return false;
  }
}

}  // namespace

bool BuildSerialSettings(int baud, char parity, char dataBits, char stopBits, bool ctsFlowControl,
                         termios& settings) {
  speed_t speed = B0;
  if (!SpeedFor(baud, speed)) return false;
  tcflag_t control = CREAD | CLOCAL | HUPCL;
  switch (parity) {
    case 'E': case 'e': control |= PARENB; break;
    case 'O': case 'o': control |= PARENB | PARODD; break;
    case 'N': case 'n': break;
    default: return false;
  }
  switch (dataBits) {
    case '7': control |= CS7; break;
    case '8': control |= CS8; break;
    default: return false;
  }
  switch (stopBits) {
    case '1': break;
    case '2': control |= CSTOPB; break;
    default: return false;
  }
  if (ctsFlowControl) control |= CRTSCTS;

  termios built{};
  // Input: no parity check or marking, no stripping, no CR/LF translation, no XON/XOFF.
  built.c_iflag = IGNBRK;
  built.c_oflag = 0;
  built.c_cflag = control;
  built.c_lflag = 0;
  built.c_cc[VMIN] = 0;
  built.c_cc[VTIME] = 0;
  cfsetispeed(&built, speed);
  cfsetospeed(&built, speed);
  settings = built;
  return true;
}

}  // namespace paxelle
