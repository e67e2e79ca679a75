#include "config/PrivateFile.h"

#include "common/SystemErrorText.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace paxelle {
namespace {

// Closes the descriptor on every return path.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Closes now and reports close's own failure (a delayed write error).
  bool Close() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

std::string Describe(const std::string& what, const std::filesystem::path& path, int code) {
  std::string text = what + " " + path.string();
  const std::string reason = SystemErrorText(code);
  if (!reason.empty()) text += ": " + reason;
  return text;
}

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {  // no progress and no error: do not spin
      errno = EIO;
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::filesystem::path DirectoryOf(const std::filesystem::path& path) {
  const std::filesystem::path parent = path.parent_path();
  return parent.empty() ? std::filesystem::path(".") : parent;
}

}  // namespace

ReadResult ReadPrivateFile(const std::filesystem::path& path, std::size_t maxBytes,
                           std::string& content, std::string& error) {
  content.clear();
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!file.Valid()) {
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
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t got = ::read(file.Get(), buffer.data(), buffer.size());
    if (got < 0) {
      const int code = errno;
      if (code == EINTR) continue;
      error = Describe("Cannot read", path, code);
      return ReadResult::Failed;
    }
    if (got == 0) break;
    content.append(buffer.data(), static_cast<std::size_t>(got));
    if (content.size() > maxBytes) {
      error = path.string() + " is larger than " + std::to_string(maxBytes) + " bytes";
      content.clear();
      return ReadResult::Failed;
    }
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

  std::string temporary = (directory / ("." + path.filename().string() + ".tmp-XXXXXX")).string();
  FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!file.Valid()) {
    const int code = errno;
    error = Describe("Cannot create a temporary file in", directory, code);
    return false;
  }
  auto fail = [&](const char* what) {
    const int code = errno;
    file.Close();
    ::unlink(temporary.c_str());
    error = Describe(what, path, code);
    return false;
  };
  if (::fchmod(file.Get(), 0600) != 0) return fail("Cannot restrict access to");
  if (!WriteAll(file.Get(), content)) return fail("Cannot write");
  if (::fsync(file.Get()) != 0) return fail("Cannot sync");
  if (!file.Close()) return fail("Cannot write");
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail("Cannot replace");

  // The rename is done; syncing the directory makes it survive a power cut.
  // Some file systems refuse fsync on a directory, which is no failure of ours.
  FileDescriptor directoryFile(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directoryFile.Valid()) ::fsync(directoryFile.Get());
  return true;
}

}  // namespace paxelle
