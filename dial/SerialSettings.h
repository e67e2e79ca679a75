// The line settings of the modem's serial port as a termios structure: the
// values Open accepts and the raw mode it sets them in.
#pragma once

#include <termios.h>

namespace paxelle {

// Fills `settings` for `baud` (300, 1200, 2400, 9600, 19200 or 115200), parity
// 'E'/'N'/'O' (either case), data bits '7'/'8' and stop bits '1'/'2': raw
// 8-bit-clean mode, receiver on, modem status ignored for opening and reading
// (CLOCAL: the carrier is read from the lines), HUPCL, no parity check, no
// software flow control, reads that return at once; CTS output flow control
// (CRTSCTS) only with `ctsFlowControl`. False, `settings` untouched, for any
// other value.
bool BuildSerialSettings(int baud, char parity, char dataBits, char stopBits, bool ctsFlowControl,
                         termios& settings);

}  // namespace paxelle
