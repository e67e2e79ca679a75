#include "config/PrivateFile.h"

#include "common/PosixFile.h"
#include "common/SystemErrorText.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>

namespace paxelle {
namespace {

std::string Describe(const std::string& what, const std::filesystem::path& path, int code) {
  std::string text = what + " " + path.string();
  const std::string reason = SystemErrorText(code);
  if (!reason.empty()) text += ": " + reason;
  return text;
}

std::filesystem::path DirectoryOf(const std::filesystem::path& path) {
  const std::filesystem::path parent = path.parent_path();
  return parent.empty() ? std::filesystem::path(".") : parent;
}

}  // namespace

ReadResult ReadPrivateFile(const std::filesystem::path& path, std::size_t maxBytes,
                           std::string& content, std::string& error) {
  content.clear();
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!file.IsValid()) {
    const int code = errno;
    if (code == ENOENT) return ReadResult::Missing;
    error = Describe("Cannot open", path, code);
    return ReadResult::Failed;
  }
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0) {
    const int code = errno;
    error = Describe("Cannot examine", path, code);
    return ReadResult::Failed;
  }
  if (!S_ISREG(status.st_mode)) {
    error = path.string() + " is not a regular file";
    return ReadResult::Failed;
  }
  // One byte past the bound tells a file that is too large from one that fits exactly.
  const std::size_t limit = maxBytes < SIZE_MAX ? maxBytes + 1 : maxBytes;
  if (!ReadUpTo(file.Get(), limit, content)) {
    const int code = errno;
    error = Describe("Cannot read", path, code);
    return ReadResult::Failed;
  }
  if (content.size() > maxBytes) {
    error = path.string() + " is larger than " + std::to_string(maxBytes) + " bytes";
    content.clear();
    return ReadResult::Failed;
  }
  return ReadResult::Read;
}

bool CreatePrivateDirectories(const std::filesystem::path& directory, std::string& error) {
  std::filesystem::path partial;
  for (const std::filesystem::path& part : directory) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) == 0) continue;
    const int code = errno;
    struct stat status {};
    if (code == EEXIST && ::stat(partial.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) continue;
    error = Describe("Cannot create directory", partial, code == EEXIST ? ENOTDIR : code);
    return false;
  }
  return true;
}

bool ReplacePrivateFile(const std::filesystem::path& path, std::string_view content,
                        std::string& error) {
  const std::filesystem::path directory = DirectoryOf(path);
  if (!CreatePrivateDirectories(directory, error)) return false;

  const ReplaceResult result = ReplaceFileAtomically(path, content, 0600);
  switch (result.failedStep) {
    case ReplaceStep::kNone:
      return true;
    case ReplaceStep::kCreateTemporary:
      error = Describe("Cannot create a temporary file in", directory, result.systemError);
      return false;
    case ReplaceStep::kSetMode:
      error = Describe("Cannot restrict access to", path, result.systemError);
      return false;
    case ReplaceStep::kWrite:
    case ReplaceStep::kClose:
      error = Describe("Cannot write", path, result.systemError);
      return false;
    case ReplaceStep::kSync:
      error = Describe("Cannot sync", path, result.systemError);
      return false;
    case ReplaceStep::kRename:
      error = Describe("Cannot replace", path, result.systemError);
      return false;
  }
  return false;
}

}  // namespace paxelle
