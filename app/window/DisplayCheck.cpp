#include "app/window/DisplayCheck.h"

#include <cstdlib>
#include <filesystem>

namespace paxelle {
namespace {

// The platforms that talk to a display server; any other needs none.
bool NeedsDisplayServer(const std::string& platform) {
  // "wayland;xcb" tries the first one first; its options follow a colon.
  std::string name = platform.substr(0, platform.find(';'));
  name = name.substr(0, name.find(':'));
  return name.empty() || name == "xcb" || name == "wayland" || name.rfind("wayland-", 0) == 0 || name == "eglfs";
}

bool WaylandReachable(const EnvironmentReader& environment, const PathProbe& exists) {
  const std::string display = environment("WAYLAND_DISPLAY");
  if (display.empty()) return false;
  if (display.front() == '/') return exists(display);
  const std::string runtime = environment("XDG_RUNTIME_DIR");
  return !runtime.empty() && exists(runtime + "/" + display);
}

bool X11Reachable(const EnvironmentReader& environment, const PathProbe& exists) {
  const std::string display = environment("DISPLAY");
  const std::size_t colon = display.rfind(':');
  if (display.empty() || colon == std::string::npos) return false;
  // "host:0" goes over the network; only a local display has a socket to look at.
  const std::string host = display.substr(0, colon);
  if (!host.empty() && host != "unix" && host.front() != '/') return true;
  if (!host.empty() && host.front() == '/') return exists(host);  // a socket named by its path
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty()) return false;
  return exists("/tmp/.X11-unix/X" + number);
}

}  // namespace

bool HasDisplay(const EnvironmentReader& environment, const PathProbe& exists) {
  const std::string platform = environment("QT_QPA_PLATFORM");
  if (!NeedsDisplayServer(platform)) return true;
  return WaylandReachable(environment, exists) || X11Reachable(environment, exists);
}

bool HasDisplay() {
  return HasDisplay(
      [](const std::string& name) {
        const char* value = std::getenv(name.c_str());
        return std::string(value == nullptr ? "" : value);
      },
      [](const std::string& path) {
        std::error_code error;
        return std::filesystem::exists(path, error);
      });
}

}  // namespace paxelle
