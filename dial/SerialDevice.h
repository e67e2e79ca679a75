// The operating system's side of a serial port behind a seam, so that the dial
// backup can be driven against a simulated modem in tests.
#pragma once

#include <string>

namespace paxelle {

// The modem status lines as the port reports them.
struct ModemLines {
  bool dsr = false;      // data set ready: the modem is there and powered
  bool cts = false;      // clear to send: output flow control lets us write
  bool carrier = false;  // data carrier detect: a call is up
  bool ring = false;     // ring indicator
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Opens `path` for reading and writing, never as the controlling terminal and
  // without blocking on modem lines. False with ErrorText() set; a device that
  // is already open is closed first.
  virtual bool Open(const std::string& path) = 0;
  // Closes the device; harmless when it is not open.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // The current modem lines into `lines`. False (lines untouched) when the
  // device is closed or cannot report them, e.g. because it is not a terminal.
  virtual bool GetModemLines(ModemLines& lines) = 0;
  // Why the last Open or GetModemLines failed.
  virtual std::string ErrorText() const = 0;
};

// A character device of this machine, through open(2) and ioctl(TIOCMGET).
class PosixSerialDevice final : public SerialDevice {
 public:
  PosixSerialDevice() = default;
  ~PosixSerialDevice() override;
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  bool Open(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  bool GetModemLines(ModemLines& lines) override;
  std::string ErrorText() const override { return errorText_; }

 private:
  int fd_ = -1;
  std::string errorText_;
};

}  // namespace paxelle
