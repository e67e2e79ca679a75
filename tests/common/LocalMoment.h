// Calendar moments in local time, for tests that hand a fixed clock to the code.
#pragma once

#include <ctime>

namespace paxelle::testing {

// The local time `year`-`month`-`day` `hour`:`minute`:`second`, daylight
// saving time as the time zone has it on that day.
inline std::time_t LocalMoment(int year, int month, int day, int hour, int minute, int second = 0) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

}  // namespace paxelle::testing
