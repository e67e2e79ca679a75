#include "app/OpenFileLimit.h"

#include "common/SystemErrorText.h"

#include <cerrno>

#include <sys/resource.h>

namespace paxelle {

bool RaiseOpenFileLimit(std::string& note) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    note = "open files: the limit cannot be read: " + SystemErrorText(errno);
    return false;
  }
  if (limit.rlim_cur == limit.rlim_max) {
    note = "open files: the limit is " + std::to_string(limit.rlim_cur) + " already";
    return true;
  }
  const rlim_t before = limit.rlim_cur;
  limit.rlim_cur = limit.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
    note = "open files: the limit stays " + std::to_string(before) + ": " + SystemErrorText(errno);
    return false;
  }
  note = "open files: the limit was raised from " + std::to_string(before) + " to " + std::to_string(limit.rlim_max);
  return true;
}

}  // namespace paxelle
