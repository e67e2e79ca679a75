#include "host/StateFile.h"

#include "common/PosixFile.h"
#include "common/SystemErrorText.h"
#include "common/TrafficLog.h"

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

struct OpenedCopy {
  UniqueFd file;
  bool missing = false;  // there was no such file: it is (or could not be) created
  bool created = false;
};

// Opens `path` for writing in place, creating it when missing; a link, a
// directory or any other non-regular file under the name is refused.
StateFileResult OpenForOverwrite(const std::filesystem::path& path, OpenedCopy& copy) {
  constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
  copy.file.Reset(::open(path.c_str(), kFlags));
  if (!copy.file.IsValid() && (errno == ENOENT || errno == ENOTDIR)) {
    copy.missing = true;
    copy.file.Reset(::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600));
    copy.created = copy.file.IsValid();
  }
  if (!copy.file.IsValid()) return Failure(StateFileStatus::OpenFailed, errno);
  struct stat status {};
  if (::fstat(copy.file.Get(), &status) != 0) return Failure(StateFileStatus::OpenFailed, errno);
  if (!S_ISREG(status.st_mode)) return Failure(StateFileStatus::OpenFailed, EINVAL);
  return {};
}

StateFileResult WriteInPlace(int file, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::pwrite(file, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return Failure(StateFileStatus::IoFailed, written < 0 ? errno : EIO);
    done += static_cast<std::size_t>(written);
  }
  struct stat status {};
  if (::fstat(file, &status) != 0) return Failure(StateFileStatus::IoFailed, errno);
  if (status.st_size > static_cast<off_t>(bytes.size()) && ::ftruncate(file, static_cast<off_t>(bytes.size())) != 0) {
    return Failure(StateFileStatus::IoFailed, errno);
  }
  return {};
}

StateFileResult SyncData(int file) {
  if (::fdatasync(file) == 0) return {};
  return Failure(StateFileStatus::IoFailed, errno);
}

void NoteFailure(const std::filesystem::path& path, const StateFileResult& result, bool creating,
                 const StateFileTexts& texts, std::vector<StateNote>& notes) {
  if (result.status == StateFileStatus::IoFailed) {
    notes.push_back({ExceptionText(texts, result.systemError), Detail(path, result.systemError)});
  } else {
    notes.push_back({creating ? texts.createFailed : texts.openForWriteFailed, Detail(path, result.systemError)});
  }
}

}  // namespace

StateFileStatus OverwriteStateFiles(const std::vector<InPlaceWrite>& writes, const StateFileTexts& texts,
                                    std::vector<StateNote>& notes, bool& created) {
  created = false;
  std::vector<OpenedCopy> copies(writes.size());
  for (std::size_t i = 0; i < writes.size(); ++i) {
    StateFileResult result = OpenForOverwrite(writes[i].path, copies[i]);
    created = created || copies[i].created;
    if (result.status == StateFileStatus::Done) result = WriteInPlace(copies[i].file.Get(), writes[i].bytes);
    if (result.status != StateFileStatus::Done) {
      NoteFailure(writes[i].path, result, copies[i].missing, texts, notes);
      return result.status;
    }
  }
  // The syncs go side by side: the device can take them in one flush.
  std::vector<StateFileResult> synced(copies.size());
  std::vector<std::thread> helpers;
  for (std::size_t i = 1; i < copies.size(); ++i) {
    try {
      helpers.emplace_back([&synced, &copies, i] { synced[i] = SyncData(copies[i].file.Get()); });
    } catch (const std::system_error&) {
      synced[i] = SyncData(copies[i].file.Get());
    }
  }
  if (!copies.empty()) synced[0] = SyncData(copies[0].file.Get());
  for (std::thread& helper : helpers) helper.join();
  for (std::size_t i = 0; i < copies.size(); ++i) {
    if (synced[i].status != StateFileStatus::Done) {
      NoteFailure(writes[i].path, synced[i], copies[i].missing, texts, notes);
      return synced[i].status;
    }
  }
  return StateFileStatus::Done;
}

Status ReportStateNotes(const std::vector<StateNote>& notes, CTrafficLog& log) {
  std::string texts;
  for (const StateNote& note : notes) {
    texts += note.text;
    if (note.detail.empty()) {
      log.Log("%s", note.text.c_str());
    } else {
      log.Log("%s (%s)", note.text.c_str(), note.detail.c_str());
    }
  }
  return notes.empty() ? Status::Ok() : Status::Failure(std::move(texts));
}

Status JoinedFailures(const Status& first, const Status& second) {
  if (first.ok() || second.ok()) return first.ok() ? second : first;
  return Status::Failure(first.message() + second.message());
}

}  // namespace paxelle
