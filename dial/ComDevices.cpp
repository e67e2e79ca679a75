#include "dial/ComDevices.h"

#include "common/TextHelpers.h"

namespace paxelle {

bool ComDevices::Assign(int port, std::string path, bool local) {
  if (port < kFirstPort || port > kLastPort || path.empty()) return false;
  if (!assigned_.emplace(port, std::move(path)).second) return false;
  if (local) local_.insert(port);
  return true;
}

std::string ComDevices::DevicePath(int port) const {
  if (port < kFirstPort || port > kLastPort) return {};
  if (const auto found = assigned_.find(port); found != assigned_.end()) return found->second;
  return "/dev/ttyS" + std::to_string(port - 1);
}

Status ParseComDeviceAssignment(std::string_view text, int& port, std::string& path, bool& local) {
  constexpr std::string_view kLocalSuffix = ",local";
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return Status::Failure("\"" + std::string(text) + "\" is not N=PATH");
  const std::string_view number = text.substr(0, equals);
  std::string_view device = text.substr(equals + 1);
  const bool localMode = device.ends_with(kLocalSuffix);
  if (localMode) device.remove_suffix(kLocalSuffix.size());
  // At most three digits keeps the conversion exact; the range check does the rest.
  if (number.empty() || number.size() > 3 || !AllDigits(number) ||
      LeadingInt(number) < ComDevices::kFirstPort || LeadingInt(number) > ComDevices::kLastPort) {
    return Status::Failure("COM port \"" + std::string(number) + "\" is not a number from 1 to 255");
  }
  if (device.empty()) return Status::Failure("COM port " + std::string(number) + " is given no device path");
  port = LeadingInt(number);
  path = std::string(device);
  local = localMode;
  return Status::Ok();
}

}  // namespace paxelle
