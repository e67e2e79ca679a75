// Reading and crash-safe replacement of small files that only their owner
// may read (mode 0600 in directories created 0700), and of configuration files
// that keep whoever may read them.
#pragma once

#include "common/PosixFile.h"
#include "common/Status.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace paxelle {

// Reads the whole of `path` into `content`. A failure with code ENOENT: there
// is no such file; else it is not a regular file, is larger than `maxBytes` or
// cannot be read (the system's error as the code, when there is one).
Status ReadPrivateFile(const std::filesystem::path& path, std::size_t maxBytes, std::string& content);

// Creates `directory` and any missing parents with mode 0700; directories
// that exist are left as they are. A failure says which and why.
Status CreatePrivateDirectories(const std::filesystem::path& directory);

// Replaces `path` with `content` so that a crash leaves either the old or the
// new file, never a mix: a temporary file (mode 0600) in the same directory is
// written and synced, renamed over `path`, and the directory synced. Creates
// the directory if needed. A failure (`path` untouched, no temporary left when
// a step before the rename failed) says which step and why.
Status ReplacePrivateFile(const std::filesystem::path& path, std::string_view content);

// Whether `path`, or the nearest of its parents that exists, belongs to the
// user this process runs as.
bool OwnedByThisUser(const std::filesystem::path& path);

// Who a configuration file written to `path` belongs to and who may read it:
// the owner, group and mode of the file it replaces, less anything for others
// (it may hold a password) and execution; for a new file, the directory's
// group and 0640, so that a service reading it through its group still can,
// or 0600 in a directory that is the user's own and of the user's own group.
FileAccess ConfigFileAccess(const std::filesystem::path& path);

// ReplacePrivateFile for a configuration file: the new file gets
// ConfigFileAccess(path). A file whose owner and group cannot be given back
// (the user is neither root nor its owner) is not replaced, and the failure says
// so; a new file whose directory's group cannot be given stays the user's
// alone (0600).
Status ReplaceConfigFile(const std::filesystem::path& path, std::string_view content);

}  // namespace paxelle
