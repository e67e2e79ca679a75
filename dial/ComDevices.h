// Which device file stands for each COM port number the merchant parameters
// name: /dev/ttyS<n-1> unless the operator assigned another path.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace paxelle {

class ComDevices {
 public:
  static constexpr int kFirstPort = 1;
  static constexpr int kLastPort = 255;

  // Makes `path` the device of COM port `port`. False (nothing changed) when
  // the port is outside 1..255, the path is empty or the port already has one.
  bool Assign(int port, std::string path);
  // The device of COM port `port`: the assigned path, else "/dev/ttyS<port-1>";
  // empty for a port outside 1..255.
  std::string DevicePath(int port) const;
  // The assignments made, by port number.
  const std::map<int, std::string>& Assigned() const { return assigned_; }

 private:
  std::map<int, std::string> assigned_;
};

// Reads an assignment "N=PATH" (N a decimal port number 1..255, PATH not
// empty). False with `error` saying what is wrong; the outputs then unchanged.
bool ParseComDeviceAssignment(std::string_view text, int& port, std::string& path,
                              std::string& error);

}  // namespace paxelle
