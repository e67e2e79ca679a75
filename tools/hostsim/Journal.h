// The simulator's journal: one line per received message, with its card data masked,
// appended to a file that any connection thread may write to.
#pragma once

#include "common/PosixFile.h"
#include "tools/hostsim/SimMessage.h"
#include "common/Mutex.h"
#include "common/Status.h"

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace paxelle::hostsim {

// Which side of the simulator received a message.
enum class SimLink { kNetwork, kModem };

// The journal line for `message` (read as `read`), without its line feed:
// "YYYY-MM-DD HH:MM:SS [MODEM ]KIND [status ]masked-message", "MODEM " for what came by
// the modem, the status only for a completion ("COMPLETION COMPLETED ...",
// "COMPLETION REPLY NOT RECVD ...").
std::string JournalLine(const SimMessage& read, std::string_view message, std::time_t when,
                        SimLink link = SimLink::kNetwork);

class Journal {
 public:
  Journal() = default;
  // Closes the file.
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Opens `path` for appending (created with mode 0600); a journal that is not
  // open records nothing.
  Status Open(const std::filesystem::path& path);

  // Appends the line of `message` and a line feed; lines of different threads never mix.
  // False when the journal is not open or the write failed.
  bool Record(const SimMessage& read, std::string_view message, std::time_t when,
              SimLink link = SimLink::kNetwork);
  // Appends "YYYY-MM-DD HH:MM:SS MODEM `event`"; `event` must hold no card data.
  bool RecordModemEvent(std::string_view event, std::time_t when);
  // Appends "YYYY-MM-DD HH:MM:SS MODEM REFUSED `reason` masked-message" for a message the
  // modem side would not take.
  bool RecordRefusal(std::string_view reason, const SimMessage& read, std::string_view message, std::time_t when);

 private:
  bool Append(const std::string& line);

  Mutex mutex_;
  UniqueFd fd_ GUARDED_BY(mutex_);
};

}  // namespace paxelle::hostsim
