#include "config/PrivateFile.h"

#include "common/PosixFile.h"
#include "common/SystemErrorText.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

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

// "name (N)" of a user or a group, or the number alone when it has no name.
std::string UserText(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return std::string(found->pw_name) + " (" + std::to_string(uid) + ")";
  }
  return std::to_string(uid);
}

std::string GroupText(gid_t gid) {
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return std::string(found->gr_name) + " (" + std::to_string(gid) + ")";
  }
  return std::to_string(gid);
}

// What a replacement that failed at `result` says.
std::string ReplaceFailure(const std::filesystem::path& path, const ReplaceResult& result) {
  const std::filesystem::path directory = DirectoryOf(path);
  switch (result.failedStep) {
    case ReplaceStep::kNone: return {};
    case ReplaceStep::kCreateTemporary:
      return Describe("Cannot create a temporary file in", directory, result.systemError);
    case ReplaceStep::kSetOwner: return Describe("Cannot give an owner to", path, result.systemError);
    case ReplaceStep::kSetMode: return Describe("Cannot restrict access to", path, result.systemError);
    case ReplaceStep::kWrite:
    case ReplaceStep::kClose: return Describe("Cannot write", path, result.systemError);
    case ReplaceStep::kSync: return Describe("Cannot sync", path, result.systemError);
    case ReplaceStep::kRename: return Describe("Cannot replace", path, result.systemError);
  }
  return Describe("Cannot replace", path, result.systemError);
}

// The outcome of a replacement: what failed, with the system's error as its code.
Status ReplaceStatus(const std::filesystem::path& path, const ReplaceResult& result) {
  return result.Ok() ? Status::Ok() : Status::Failure(ReplaceFailure(path, result), result.systemError);
}

}  // namespace

Status ReadPrivateFile(const std::filesystem::path& path, std::size_t maxBytes, std::string& content) {
  content.clear();
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!file.IsValid()) {
    const int code = errno;
    return Status::Failure(Describe("Cannot open", path, code), code);
  }
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0) {
    const int code = errno;
    return Status::Failure(Describe("Cannot examine", path, code), code);
  }
  if (!S_ISREG(status.st_mode)) return Status::Failure(path.string() + " is not a regular file");
  // One byte past the bound tells a file that is too large from one that fits exactly.
  const std::size_t limit = maxBytes < SIZE_MAX ? maxBytes + 1 : maxBytes;
  if (!ReadUpTo(file.Get(), limit, content)) {
    const int code = errno;
    return Status::Failure(Describe("Cannot read", path, code), code);
  }
  if (content.size() > maxBytes) {
    content.clear();
    return Status::Failure(path.string() + " is larger than " + std::to_string(maxBytes) + " bytes");
  }
  return Status::Ok();
}

Status CreatePrivateDirectories(const std::filesystem::path& directory) {
  std::filesystem::path partial;
  for (const std::filesystem::path& part : directory) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) == 0) continue;
    const int code = errno;
    struct stat status {};
    if (code == EEXIST && ::stat(partial.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) continue;
    return Status::Failure(Describe("Cannot create directory", partial, code == EEXIST ? ENOTDIR : code), code);
  }
  return Status::Ok();
}

Status ReplacePrivateFile(const std::filesystem::path& path, std::string_view content) {
  if (Status created = CreatePrivateDirectories(DirectoryOf(path)); !created.ok()) return created;
  return ReplaceStatus(path, ReplaceFileAtomically(path, content, 0600));
}

bool OwnedByThisUser(const std::filesystem::path& path) {
  std::filesystem::path existing = path;
  struct stat status {};
  while (::stat(existing.c_str(), &status) != 0) {
    if (errno != ENOENT || !existing.has_relative_path()) return false;
    existing = existing.parent_path();
    if (existing.empty()) existing = ".";
  }
  return status.st_uid == ::geteuid();
}

FileAccess ConfigFileAccess(const std::filesystem::path& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    return {.mode = static_cast<mode_t>(status.st_mode & 0660), .owner = status.st_uid, .group = status.st_gid};
  }
  if (::stat(DirectoryOf(path).c_str(), &status) != 0) return {};
  if (status.st_uid == ::geteuid() && status.st_gid == ::getegid()) return {};
  return {.mode = 0640, .group = status.st_gid};
}

Status ReplaceConfigFile(const std::filesystem::path& path, std::string_view content) {
  if (Status created = CreatePrivateDirectories(DirectoryOf(path)); !created.ok()) return created;
  struct stat status {};
  const bool replacing = ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
  const FileAccess access = ConfigFileAccess(path);
  ReplaceResult result = ReplaceFileAtomically(path, content, access);
  if (result.failedStep == ReplaceStep::kSetOwner && !replacing) {
    // Better the user's own file than one written for nobody.
    result = ReplaceFileAtomically(path, content, FileAccess{});
  }
  if (result.failedStep == ReplaceStep::kSetOwner) {
    return Status::Failure("Cannot give the new " + path.string() + " the owner " + UserText(access.owner) +
                               " and group " + GroupText(access.group) + " of the one it replaces: " +
                               SystemErrorText(result.systemError) + "; run the command as root or as that owner",
                           result.systemError);
  }
  return ReplaceStatus(path, result);
}

}  // namespace paxelle
