#include "tools/hostsim/Journal.h"

#include "common/Clock.h"
#include "common/SystemErrorText.h"
#include "tools/hostsim/MessageMask.h"

#include <cerrno>
#include <fcntl.h>

namespace paxelle::hostsim {

std::string JournalLine(const SimMessage& read, std::string_view message, std::time_t when, SimLink link) {
  std::string line = FormatLocalTime("%Y-%m-%d %H:%M:%S", when);
  line += ' ';
  if (link == SimLink::kModem) line += "MODEM ";
  line += KindName(read.kind);
  if (read.kind == MessageKind::kCompletion) line += ' ' + read.status;
  line += ' ';
  line += PrintableText(MaskMessage(read, message));
  return line;
}

Journal::~Journal() = default;

Status Journal::Open(const std::filesystem::path& path) {
  MutexLock lock(mutex_);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return Status::Failure("cannot open the journal " + path.string() + ": " + SystemErrorText(errno));
  fd_.Reset(fd);
  return Status::Ok();
}

bool Journal::Record(const SimMessage& read, std::string_view message, std::time_t when, SimLink link) {
  return Append(JournalLine(read, message, when, link) + '\n');
}

bool Journal::RecordModemEvent(std::string_view event, std::time_t when) {
  return Append(FormatLocalTime("%Y-%m-%d %H:%M:%S", when) + " MODEM " + std::string(event) + '\n');
}

bool Journal::RecordRefusal(std::string_view reason, const SimMessage& read, std::string_view message,
                            std::time_t when) {
  return Append(FormatLocalTime("%Y-%m-%d %H:%M:%S", when) + " MODEM REFUSED " + std::string(reason) + ' ' +
                PrintableText(MaskMessage(read, message)) + '\n');
}

bool Journal::Append(const std::string& line) {
  MutexLock lock(mutex_);
  return fd_.IsValid() && WriteAll(fd_.Get(), line);
}

}  // namespace paxelle::hostsim
