#include "common/SystemErrorText.h"

#include <cstring>

namespace paxelle {

std::string SystemErrorText(int code) {
  char buffer[256] = {};
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return {};
  return text;
}

}  // namespace paxelle
