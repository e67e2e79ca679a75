#include "common/PosixFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace paxelle {

UniqueFd::UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(std::exchange(other.fd_, -1));
  return *this;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool UniqueFd::Close() {
  if (fd_ < 0) return true;
  // Linux releases the descriptor even when close fails: never close it twice.
  const int result = ::close(std::exchange(fd_, -1));
  return result == 0;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {  // no progress and no error: do not spin
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool ReadUpTo(int fd, std::size_t limit, std::string& content) {
  char buffer[4096];
  while (content.size() < limit) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

void SyncDirectory(const std::filesystem::path& directory) {
  UniqueFd directoryFile(::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directoryFile.IsValid()) ::fsync(directoryFile.Get());
}

ReplaceResult ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                                    DirectorySync sync) {
  return ReplaceFileAtomically(path, bytes, FileAccess{.mode = mode}, sync);
}

ReplaceResult ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                    const FileAccess& access, DirectorySync sync) {
  std::filesystem::path directory = path.parent_path();
  if (directory.empty()) directory = ".";
  std::string temporary = (directory / ("." + path.filename().string() + ".tmp-XXXXXX")).string();
  UniqueFd file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!file.IsValid()) return {ReplaceStep::kCreateTemporary, errno};

  auto fail = [&](ReplaceStep step) {
    const int code = errno;
    file.Close();
    ::unlink(temporary.c_str());
    return ReplaceResult{step, code};
  };
  const bool keepOwn = access.owner == static_cast<uid_t>(-1) && access.group == static_cast<gid_t>(-1);
  if (!keepOwn && ::fchown(file.Get(), access.owner, access.group) != 0) return fail(ReplaceStep::kSetOwner);
  // After the owner: changing it may clear set-id bits, never what is asked here.
  if (::fchmod(file.Get(), access.mode) != 0) return fail(ReplaceStep::kSetMode);
  if (!WriteAll(file.Get(), bytes)) return fail(ReplaceStep::kWrite);
  if (::fsync(file.Get()) != 0) return fail(ReplaceStep::kSync);
  if (!file.Close()) return fail(ReplaceStep::kClose);
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail(ReplaceStep::kRename);
  if (sync == DirectorySync::kNow) SyncDirectory(directory);
  return {};
}

}  // namespace paxelle
