// The simulator's journal: one line per received message, with its card data masked,
// appended to a file that any connection thread may write to.
#pragma once

#include "common/PosixFile.h"
#include "tools/hostsim/SimMessage.h"

#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace paxelle::hostsim {

// The journal line for `message` (read as `read`), without its line feed:
// "YYYY-MM-DD HH:MM:SS KIND [status ]masked-message", the status only for a completion
// ("COMPLETION COMPLETED ...", "COMPLETION REPLY NOT RECVD ...").
std::string JournalLine(const SimMessage& read, std::string_view message, std::time_t when);

class Journal {
 public:
  Journal() = default;
  // Closes the file.
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Opens `path` for appending (created with mode 0600). False with `error` set on failure;
  // a journal that is not open records nothing.
  bool Open(const std::filesystem::path& path, std::string& error);

  // Appends the line of `message` and a line feed; lines of different threads never mix.
  // False when the journal is not open or the write failed.
  bool Record(const SimMessage& read, std::string_view message, std::time_t when);

 private:
  std::mutex mutex_;
  UniqueFd fd_;  // guarded by mutex_
};

}  // namespace paxelle::hostsim
