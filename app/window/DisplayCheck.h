// Whether the window can reach a display. Qt ends the process when it cannot
// connect, so this is asked before it is started.
#pragma once

#include <functional>
#include <string>

namespace paxelle {

// Reads an environment variable; empty when unset.
using EnvironmentReader = std::function<std::string(const std::string& name)>;
// Whether a path exists (a display's socket).
using PathProbe = std::function<bool(const std::string& path)>;

// True when QT_QPA_PLATFORM names a platform that needs no display server
// (offscreen, minimal, vnc, ...), or a Wayland or X11 display is named and its
// local socket exists (a remote X display, "host:0", is taken on trust).
bool HasDisplay(const EnvironmentReader& environment, const PathProbe& exists);
// The same, for this process.
bool HasDisplay();

}  // namespace paxelle
