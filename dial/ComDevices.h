// Which device file stands for each COM port number the merchant parameters
// name: /dev/ttyS<n-1> unless the operator assigned another path, and whether
// the operator said that device has no modem control lines (local mode).
#pragma once

#include "common/Status.h"

#include <map>
#include <set>
#include <string>
#include <string_view>

namespace paxelle {

class ComDevices {
 public:
  static constexpr int kFirstPort = 1;
  static constexpr int kLastPort = 255;

  // Makes `path` the device of COM port `port`; `local` marks a line whose
  // modem lines are not wired. False (nothing changed) when the port is
  // outside 1..255, the path is empty or the port already has one.
  bool Assign(int port, std::string path, bool local = false);
  // The device of COM port `port`: the assigned path, else "/dev/ttyS<port-1>";
  // empty for a port outside 1..255.
  std::string DevicePath(int port) const;
  // True when the operator assigned port `port` with local mode.
  bool IsLocal(int port) const { return local_.contains(port); }
  // The assignments made, by port number.
  const std::map<int, std::string>& Assigned() const { return assigned_; }

 private:
  std::map<int, std::string> assigned_;
  std::set<int> local_;
};

// Reads an assignment "N=PATH" or "N=PATH,local" (N a decimal port number
// 1..255, PATH not empty). A failure says what is wrong; the outputs are then
// unchanged.
Status ParseComDeviceAssignment(std::string_view text, int& port, std::string& path, bool& local);

}  // namespace paxelle
