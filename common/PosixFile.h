// POSIX file descriptors as owned values, complete reads and writes, and the
// crash-safe replacement of a whole file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace paxelle {

// Owns one file descriptor and closes it when destroyed or reset.
class UniqueFd {
 public:
  UniqueFd() = default;
  // Takes ownership of `fd` (-1 for none).
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept;
  UniqueFd& operator=(UniqueFd&& other) noexcept;

  int Get() const { return fd_; }
  bool IsValid() const { return fd_ >= 0; }
  // Closes the held descriptor (if any), ignoring close's result, and takes `fd` instead.
  void Reset(int fd = -1);
  // Closes now and reports close's own result: false, with errno set, for a
  // delayed write error. The descriptor is released either way; true when none was held.
  bool Close();

 private:
  int fd_ = -1;
};

// Writes every byte of `bytes` to `fd`, continuing after interrupted and
// partial writes. False, with errno set, when a write fails; a write that
// makes no progress fails with EIO rather than spinning.
bool WriteAll(int fd, std::string_view bytes);

// Appends what `fd` yields to `content` until end of file or until `content`
// holds at least `limit` bytes (the last read may take it past `limit`).
// Interrupted reads are continued. False, with errno set, when a read fails.
bool ReadUpTo(int fd, std::size_t limit, std::string& content);

// The step of ReplaceFileAtomically that failed.
enum class ReplaceStep { kNone, kCreateTemporary, kSetOwner, kSetMode, kWrite, kSync, kClose, kRename };

// Who a replacing file belongs to and who may read it. -1 for the owner or
// the group: the creating process's own.
struct FileAccess {
  mode_t mode = 0600;
  uid_t owner = static_cast<uid_t>(-1);
  gid_t group = static_cast<gid_t>(-1);
};

struct ReplaceResult {
  ReplaceStep failedStep = ReplaceStep::kNone;
  int systemError = 0;  // errno of the failed step; 0 on success
  bool Ok() const { return failedStep == ReplaceStep::kNone; }
};

// Replaces `path` with `bytes` so that a crash leaves either the old or the
// new file, never a mix: a freshly named temporary ".<name>.tmp-XXXXXX" in the
// same directory is given `mode`, written, synced and closed, renamed over
// `path`, and the directory synced (where the file system allows it). A
// temporary left by an interrupted replacement is never reused or read. Never
// creates directories. On failure `path` is untouched and the temporary removed.
// With DirectorySync::kDeferred the rename is not yet durable: the caller
// calls SyncDirectory once for several replacements, before it relies on any
// of them surviving a power cut.
enum class DirectorySync { kNow, kDeferred };
ReplaceResult ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                                    DirectorySync sync = DirectorySync::kNow);
// The same, the temporary also given `access`'s owner and group before its
// mode (kSetOwner when that is not allowed; nothing is replaced then).
ReplaceResult ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                    const FileAccess& access, DirectorySync sync = DirectorySync::kNow);

// Makes the renames done in `directory` survive a power cut. Some file systems
// refuse fsync on a directory, which is no failure of the caller's.
void SyncDirectory(const std::filesystem::path& directory);

}  // namespace paxelle
