#include "app/JournalStream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace paxelle {

bool IsJournalStream(int fd, const std::string& journalStream) {
  const std::size_t colon = journalStream.find(':');
  if (colon == std::string::npos) return false;
  struct stat status {};
  if (::fstat(fd, &status) != 0) return false;
  // A redirection (2>file) keeps the variable but not the descriptor: compare both numbers.
  return journalStream.substr(0, colon) == std::to_string(status.st_dev) &&
         journalStream.substr(colon + 1) == std::to_string(status.st_ino);
}

bool StandardErrorIsJournal() {
  const char* variable = std::getenv("JOURNAL_STREAM");
  return variable != nullptr && IsJournalStream(STDERR_FILENO, variable);
}

}  // namespace paxelle
