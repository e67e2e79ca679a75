#include "host/StateFile.h"

#include "common/SystemErrorText.h"
#include "common/TrafficLog.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paxelle {
namespace {

constexpr std::size_t kMaxStateBytes = 64 * 1024;

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

StateFileResult Failure(StateFileStatus status, int systemError) { return {status, systemError}; }

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::vector<std::string> SplitTextModeLines(std::string_view content) {
  std::vector<std::string> lines;
  while (!content.empty()) {
    const std::size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    content.remove_prefix(end + 1);
  }
  return lines;
}

std::string Detail(const std::filesystem::path& path, int systemError) {
  std::string detail = path.string();
  const std::string reason = systemError != 0 ? SystemErrorText(systemError) : std::string();
  if (!reason.empty()) detail += ": " + reason;
  return detail;
}

std::string ExceptionText(const StateFileTexts& texts, int systemError) {
  char text[160];
  std::snprintf(text, sizeof text, "%s Exception [%d},[%d]...", texts.exceptionSubject,
                FileExceptionCause(systemError), systemError);
  return text;
}

}  // namespace

std::string TextModeBytes(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size() + 4);
  for (char c : text) {
    if (c == '\n') bytes.push_back('\r');
    bytes.push_back(c);
  }
  return bytes;
}

StateFileResult ReadStateLines(const std::filesystem::path& path, std::vector<std::string>& lines) {
  lines.clear();
  // Non-blocking so that a FIFO planted under the name cannot stall the caller.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file.Valid()) {
    const int code = errno;
    if (code == ENOENT || code == ENOTDIR) return Failure(StateFileStatus::Missing, code);
    return Failure(StateFileStatus::OpenFailed, code);
  }
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0) return Failure(StateFileStatus::OpenFailed, errno);
  if (!S_ISREG(status.st_mode)) {
    return Failure(StateFileStatus::OpenFailed, S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
  }
  std::string content;
  char buffer[4096];
  while (content.size() < kMaxStateBytes) {
    const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Failure(StateFileStatus::IoFailed, errno);
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  if (content.size() > kMaxStateBytes) content.resize(kMaxStateBytes);
  lines = SplitTextModeLines(content);
  return {};
}

StateFileResult ReplaceStateFile(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::path directory = path.parent_path();
  if (directory.empty()) directory = ".";
  std::string temporary = (directory / ("." + path.filename().string() + ".tmp-XXXXXX")).string();
  FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!file.Valid()) return Failure(StateFileStatus::OpenFailed, errno);

  auto fail = [&](int code) {
    file.Close();
    ::unlink(temporary.c_str());
    return Failure(StateFileStatus::IoFailed, code);
  };
  if (!WriteAll(file.Get(), bytes)) return fail(errno);
  if (::fsync(file.Get()) != 0) return fail(errno);
  if (!file.Close()) return fail(errno);
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);

  // The rename is done; syncing the directory makes it survive a power cut.
  // Some file systems refuse fsync on a directory, which is no failure of ours.
  FileDescriptor directoryFile(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directoryFile.Valid()) ::fsync(directoryFile.Get());
  return {};
}

int FileExceptionCause(int systemError) {
  switch (systemError) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return 5;
    case EBADF:
      return 6;
    case EIO:
      return 10;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return 13;
    default:
      return 1;
  }
}

bool LoadStateLines(const std::filesystem::path& path, std::string_view initialBytes,
                    std::size_t minLines, const StateFileTexts& texts,
                    std::vector<std::string>& lines, std::vector<StateNote>& notes) {
  StateFileResult result = ReadStateLines(path, lines);
  if (result.status == StateFileStatus::Missing) {
    if (StoreStateFile(path, initialBytes, texts, true, notes) != StateFileStatus::Done) return false;
    result = ReadStateLines(path, lines);
  }
  switch (result.status) {
    case StateFileStatus::Done:
      if (lines.size() >= minLines) return true;
      lines.clear();
      notes.push_back({texts.readFailed, Detail(path, 0)});
      return false;
    case StateFileStatus::Missing:
    case StateFileStatus::OpenFailed:
      notes.push_back({texts.openForReadFailed, Detail(path, result.systemError)});
      return false;
    case StateFileStatus::IoFailed:
      break;
  }
  notes.push_back({ExceptionText(texts, result.systemError), Detail(path, result.systemError)});
  return false;
}

StateFileStatus StoreStateFile(const std::filesystem::path& path, std::string_view bytes,
                               const StateFileTexts& texts, bool creating,
                               std::vector<StateNote>& notes) {
  const StateFileResult result = ReplaceStateFile(path, bytes);
  switch (result.status) {
    case StateFileStatus::Done:
      break;
    case StateFileStatus::Missing:
    case StateFileStatus::OpenFailed:
      notes.push_back({creating ? texts.createFailed : texts.openForWriteFailed,
                       Detail(path, result.systemError)});
      break;
    case StateFileStatus::IoFailed:
      notes.push_back({ExceptionText(texts, result.systemError), Detail(path, result.systemError)});
      break;
  }
  return result.status;
}

void ReportStateNotes(const std::vector<StateNote>& notes, std::string& errors) {
  for (const StateNote& note : notes) {
    errors += note.text;
    if (note.detail.empty()) {
      Log("%s", note.text.c_str());
    } else {
      Log("%s (%s)", note.text.c_str(), note.detail.c_str());
    }
  }
}

}  // namespace paxelle
