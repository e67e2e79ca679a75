#include "common/SystemErrorText.h"

#include <cerrno>
#include <cstring>

namespace paxelle {

std::string SystemErrorText(int code) {
  // Every file the server writes is opened without following a link in its
  // last component; that is what this code means here.
  if (code == ELOOP) return "it is a symbolic link, which is not followed";
  char buffer[256] = {};
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return {};
  return text;
}

}  // namespace paxelle
