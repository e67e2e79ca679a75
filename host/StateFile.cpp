#include "host/StateFile.h"

#include "common/PosixFile.h"
#include "common/SystemErrorText.h"
#include "common/TrafficLog.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace paxelle {
namespace {

constexpr std::size_t kMaxStateBytes = 64 * 1024;

StateFileResult Failure(StateFileStatus status, int systemError) { return {status, systemError}; }

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
  std::string content;
  const StateFileResult result = ReadStateBytes(path, content);
  if (result.status == StateFileStatus::Done) lines = SplitTextModeLines(content);
  return result;
}

StateFileResult ReadStateBytes(const std::filesystem::path& path, std::string& content) {
  content.clear();
  // Non-blocking so that a FIFO planted under the name cannot stall the caller; a
  // link planted under it is not followed (the file would be replaced elsewhere).
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  if (!file.IsValid()) {
    const int code = errno;
    if (code == ENOENT || code == ENOTDIR) return Failure(StateFileStatus::Missing, code);
    return Failure(StateFileStatus::OpenFailed, code);
  }
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0) return Failure(StateFileStatus::OpenFailed, errno);
  if (!S_ISREG(status.st_mode)) {
    return Failure(StateFileStatus::OpenFailed, S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
  }
  if (!ReadUpTo(file.Get(), kMaxStateBytes, content)) {
    const int code = errno;
    content.clear();
    return Failure(StateFileStatus::IoFailed, code);
  }
  if (content.size() > kMaxStateBytes) content.resize(kMaxStateBytes);
  return {};
}

StateFileResult ReplaceStateFile(const std::filesystem::path& path, std::string_view bytes, DirectorySync sync) {
  const ReplaceResult result = ReplaceFileAtomically(path, bytes, 0600, sync);
  if (result.Ok()) return {};
  // Only a temporary that cannot be made counts as not opened; every later step is an I/O failure.
  const bool opened = result.failedStep != ReplaceStep::kCreateTemporary;
  return Failure(opened ? StateFileStatus::IoFailed : StateFileStatus::OpenFailed, result.systemError);
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
                               std::vector<StateNote>& notes, DirectorySync sync) {
  const StateFileResult result = ReplaceStateFile(path, bytes, sync);
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

void ReportStateNotes(const std::vector<StateNote>& notes, std::string& errors, CTrafficLog& log) {
  for (const StateNote& note : notes) {
    errors += note.text;
    if (note.detail.empty()) {
      log.Log("%s", note.text.c_str());
    } else {
      log.Log("%s (%s)", note.text.c_str(), note.detail.c_str());
    }
  }
}

}  // namespace paxelle
