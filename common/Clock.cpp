#include "common/Clock.h"

namespace paxelle {

std::time_t SystemNow() { return std::time(nullptr); }

std::tm LocalTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

std::string FormatLocalTime(const char* format, std::time_t when) {
  const std::tm local = LocalTime(when);
  char buffer[128];
  const std::size_t length = std::strftime(buffer, sizeof buffer, format, &local);
  return std::string(buffer, length);
}

}  // namespace paxelle
