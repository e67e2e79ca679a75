// Wall-clock time behind a seam, so that date-dependent behaviour (daily log
// files, batch close times) can be tested at any moment of the day.
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace paxelle {

// Returns the current calendar time; tests substitute their own.
using WallClock = std::function<std::time_t()>;

std::time_t SystemNow();

// Local broken-down time of a calendar time (thread-safe).
std::tm LocalTime(std::time_t when);

// strftime of the local time of `when`.
std::string FormatLocalTime(const char* format, std::time_t when);

}  // namespace paxelle
