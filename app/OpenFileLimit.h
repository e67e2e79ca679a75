// The server's open-file limit: a service's default soft limit (often 1024) is
// below what the lane connections, the host workers and the files need.
#pragma once

#include <string>

namespace paxelle {

// Raises the soft limit on open files to the hard limit. True when the soft
// limit equals the hard limit afterwards; `note` says what was done or why not.
bool RaiseOpenFileLimit(std::string& note);

}  // namespace paxelle
