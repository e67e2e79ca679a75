// The operating system's text for an error number, for diagnostics.
#pragma once

#include <string>

namespace paxelle {

// Text of an errno value, or empty text when the system has none for it.
std::string SystemErrorText(int code);

}  // namespace paxelle
