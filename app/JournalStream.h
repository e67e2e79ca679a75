// Whether a descriptor is the service manager's journal: it then reads "<N>"
// at the start of a line as the entry's priority, and every line as an entry.
#pragma once

#include <string>

namespace paxelle {

// True when `journalStream` (the JOURNAL_STREAM variable, "DEVICE:INODE")
// names the file `fd` is open on, as the service manager sets it for the
// standard output and error it connects to the journal.
bool IsJournalStream(int fd, const std::string& journalStream);
// The same for this process's standard error and environment.
bool StandardErrorIsJournal();

}  // namespace paxelle
