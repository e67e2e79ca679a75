// Reading and crash-safe rewriting of the small state files the host interface
// keeps in the working directory, byte for byte as the Windows build's
// text-mode files, with the failure texts each file reports.
#pragma once

#include "common/PosixFile.h"
#include "common/Status.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace paxelle {

class CTrafficLog;

enum class StateFileStatus { Done, Missing, OpenFailed, IoFailed };

struct StateFileResult {
  StateFileStatus status = StateFileStatus::Done;
  int systemError = 0;  // errno of the failing step; 0 when there is none
};

// `text` as a text-mode write puts it on disk: CR before every LF, so that
// "%d\r\n" becomes the digits followed by CR CR LF.
std::string TextModeBytes(std::string_view text);

// The lines of `path` as a text-mode line read sees them: a line ends at LF
// (or at the end of the file) and loses every CR at its end, so "5\r\r\n"
// reads as "5". Only the first 64 KiB are read. Missing: no such file (or a
// path component is not a directory). OpenFailed: not a regular file, or it
// cannot be opened. IoFailed: reading failed. `lines` is empty unless Done.
StateFileResult ReadStateLines(const std::filesystem::path& path, std::vector<std::string>& lines);
// The first 64 KiB of `path` as they are on disk, with the statuses of
// ReadStateLines; `content` is empty unless Done.
StateFileResult ReadStateBytes(const std::filesystem::path& path, std::string& content);

// Replaces `path` with `bytes` so that a crash leaves either the old or the
// new content: a freshly named temporary (mode 0600) in the same directory is
// written and synced, renamed over `path`, and the directory synced. A
// temporary left by an interrupted rewrite is never reused or read.
// OpenFailed: the temporary could not be created (e.g. the directory is not
// writable). IoFailed: a later step failed; `path` is untouched and the
// temporary removed. Never creates directories. With DirectorySync::kDeferred
// the caller syncs the directory itself (SyncDirectory).
StateFileResult ReplaceStateFile(const std::filesystem::path& path, std::string_view bytes,
                                 DirectorySync sync = DirectorySync::kNow);

// The cause number the Windows build's file-exception texts carry for a
// system error (1 generic, 2 not found, 3 bad path, 4 too many open files,
// 5 access denied, 6 invalid file, 10 hardware I/O, 13 disk full).
int FileExceptionCause(int systemError);

// The failure texts of one state file, verbatim as operators know them.
struct StateFileTexts {
  const char* createFailed;
  const char* openForReadFailed;
  const char* readFailed;
  const char* openForWriteFailed;
  const char* exceptionSubject;  // "<subject> Exception [cause},[error]..."
  const char* unknownException;
};

// A failure or repair message: `text` goes verbatim into the caller's error
// text, the traffic log gets it followed by `detail` (path and system reason).
struct StateNote {
  std::string text;
  std::string detail;
};

// Reads `path` into `lines` (at least `minLines` of them), first creating it
// with `initialBytes` when it does not exist. False, with the file's failure
// text added to `notes`, when it cannot be created, opened or read, or holds
// fewer than `minLines` lines; `lines` is then empty.
bool LoadStateLines(const std::filesystem::path& path, std::string_view initialBytes,
                    std::size_t minLines, const StateFileTexts& texts,
                    std::vector<std::string>& lines, std::vector<StateNote>& notes);

// Rewrites `path` with `bytes` (ReplaceStateFile) and returns how that ended;
// on failure the file's text (the creation text when `creating`) is added to `notes`.
StateFileStatus StoreStateFile(const std::filesystem::path& path, std::string_view bytes,
                               const StateFileTexts& texts, bool creating, std::vector<StateNote>& notes,
                               DirectorySync sync = DirectorySync::kNow);

// One small file to be written in place: its whole content.
struct InPlaceWrite {
  std::filesystem::path path;
  std::string bytes;
};

// Writes each file in place (opened by its path, never through a link; created
// when missing), its whole content with one write and the surplus of a longer
// old content cut off, then syncs their data side by side. Done only once every
// one is on disk; on a failure the file's text (the creation text for a file
// that was missing) is added to `notes`. `created` tells whether a file was
// made: only then does the caller need to sync their directory. A crash part-way
// may leave a file torn; whoever writes two copies of a file writes the second
// only after the first is Done.
StateFileStatus OverwriteStateFiles(const std::vector<InPlaceWrite>& writes, const StateFileTexts& texts,
                                    std::vector<StateNote>& notes, bool& created);

// Logs each note's text with its detail; a failure with the texts one after another
// when there is any. Call it without holding a lock: the log is another component.
Status ReportStateNotes(const std::vector<StateNote>& notes, CTrafficLog& log);
// Ok when both are; else a failure with the texts of the failed, first then second.
Status JoinedFailures(const Status& first, const Status& second);

}  // namespace paxelle
