#include "config/ParamStore.h"

#include "common/Clock.h"
#include "common/SystemErrorText.h"
#include "common/TrafficLog.h"
#include "config/PrivateFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace paxelle {
namespace {

constexpr std::size_t kMaxLineLength = 500;
// Far above any line this system writes; a bigger file is not ours to parse.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return ".";
}

// A hand-edited file may end in a line feed (or CR LF); the line never does.
std::string_view WithoutLineEnd(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

}  // namespace

std::filesystem::path DefaultParamsPath() {
  std::filesystem::path base;
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  // Relative values are invalid for this variable and are ignored.
  if (configHome != nullptr && *configHome == '/') {
    base = configHome;
  } else {
    base = std::filesystem::path(HomeDirectory()) / ".config";
  }
  return base / "Kelvara Applications" / "Paxelle" / "params";
}

CParamStore::CParamStore(CTrafficLog* log) : log_(log) {}

void CParamStore::LogLoadNotice() {
  if (log_ != nullptr) log_->Log("%s", LoadNotice().c_str());
}

void CParamStore::SetPath(std::filesystem::path path) {
  MutexLock lock(mutex_);
  path_ = std::move(path);
}

std::filesystem::path CParamStore::Path() const {
  MutexLock lock(mutex_);
  return path_.empty() ? DefaultParamsPath() : path_;
}

CMerchantParams CParamStore::GetParams() const {
  MutexLock lock(mutex_);
  return current_;
}

Status CParamStore::ReadStored(CMerchantParams& set) const {
  set = CMerchantParams();
  std::string content;
  if (const Status read = ReadPrivateFile(Path(), kMaxFileBytes, content); !read.ok()) {
    const StoredLine found = read.code() == ENOENT ? StoredLine::kMissing : StoredLine::kFailed;
    return Status::Failure(read.message(), static_cast<int>(found));
  }
  const std::string_view line = WithoutLineEnd(content);
  if (line.empty()) return Status::Failure("", static_cast<int>(StoredLine::kEmpty));
  if (set.Deserialize(line)) return Status::Ok();
  return Status::Failure("the stored line is not one this version can read",
                         static_cast<int>(StoredLine::kUnreadable));
}

bool CParamStore::Load(LoadWrites writes) {
  MutexLock writeLock(writeMutex_);
  SetLoadNotice({});
  SetReadFailure({});
  const std::filesystem::path path = Path();
  CMerchantParams set;
  const Status read = ReadStored(set);
  const StoredLine found = read.ok() ? StoredLine::kRead : static_cast<StoredLine>(read.code());
  const std::string& error = read.message();
  {
    MutexLock lock(mutex_);
    current_ = set;  // the line's values, or the defaults when it had none to give
  }
  if (found == StoredLine::kRead) {
    NoteRefusedEntries(set);
    return true;
  }

  if (found == StoredLine::kFailed) {
    // Writing the defaults now could destroy a configuration we merely failed to read.
    SetLastError(kParamErrorRead, error);
    SetReadFailure(error);
    SetLoadNotice("Parameter file could not be read (" + error + "); defaults used, nothing stored.");
    LogLoadNotice();
    return false;
  }
  const bool mayWrite = writes == LoadWrites::kAllowed || OwnedByThisUser(path.parent_path());
  if (!mayWrite) {
    // Another user keeps this file (a service's configuration is root's): the
    // defaults serve from memory, and a line we cannot read waits for its keeper.
    if (found != StoredLine::kUnreadable) return true;
    SetLastError(kParamErrorRead, path.string() + ": " + error);
    SetReadFailure(path.string() + ": " + error);
    SetLoadNotice("Parameter line could not be read (" + path.string() + ": " + error +
                  "); defaults used, nothing stored.");
    LogLoadNotice();
    return false;
  }
  if (found != StoredLine::kUnreadable) {
    if (SaveLocked(set)) return true;
    SetLoadNotice("Defaults could not be stored: " + LastErrorText());
    LogLoadNotice();
    return false;
  }

  std::filesystem::path keptAs;
  if (!KeepAside(path, keptAs)) {
    SetReadFailure(path.string() + ": " + error + "; " + LastErrorText());
    SetLoadNotice("Parameter line could not be read nor kept aside (" + LastErrorText() +
                  "); defaults used, nothing stored.");
    LogLoadNotice();
    return false;
  }
  const bool stored = SaveLocked(set);
  if (stored) {
    SetLoadNotice("Parameter line could not be read; kept as " + keptAs.string() + ", defaults stored.");
  } else {
    SetLoadNotice("Parameter line could not be read; kept as " + keptAs.string() +
                  ", defaults could not be stored: " + LastErrorText());
  }
  LogLoadNotice();
  return stored;
}

void CParamStore::NoteRefusedEntries(const CMerchantParams& set) {
  std::string notice;
  for (const int number : set.RefusedEntries()) {
    const auto found = set.Entries().find(number);
    if (found == set.Entries().end()) continue;
    // The value itself is never repeated: entry 8 is the client password.
    if (!notice.empty()) notice += "\n";
    notice += "Entry " + std::to_string(number) + " " + found->second.name + " failed its check: " +
              (IsIdentityEntry(number) ? "the interfaces stay stopped until it is corrected."
                                       : "its default is used.");
  }
  if (notice.empty()) return;
  SetLoadNotice(notice);
  LogLoadNotice();
}

bool CParamStore::KeepAside(const std::filesystem::path& path, std::filesystem::path& keptAs) {
  const std::string base =
      path.filename().string() + ".unreadable-" + FormatLocalTime("%Y%m%d-%H%M%S", SystemNow());
  // Two loads within one second must not let the second line replace the first.
  for (int attempt = 1; attempt <= 100; ++attempt) {
    std::filesystem::path candidate = path;
    candidate.replace_filename(attempt == 1 ? base : base + "-" + std::to_string(attempt));
    std::error_code ignored;
    if (std::filesystem::symlink_status(candidate, ignored).type() !=
        std::filesystem::file_type::not_found) {
      continue;
    }
    if (std::rename(path.c_str(), candidate.c_str()) != 0) {
      const int code = errno;
      SetLastError(kParamErrorRead, "Cannot rename " + path.string() + " to " + candidate.string() +
                                        ": " + SystemErrorText(code));
      return false;
    }
    keptAs = candidate;
    return true;
  }
  SetLastError(kParamErrorRead, "No free name to keep " + path.string() + " aside");
  return false;
}

std::string CParamStore::LoadNotice() const {
  MutexLock lock(mutex_);
  return loadNotice_;
}

std::string CParamStore::ReadFailure() const {
  MutexLock lock(mutex_);
  return readFailure_;
}

bool CParamStore::Save(const CMerchantParams& set) {
  MutexLock writeLock(writeMutex_);
  return SaveLocked(set);
}

bool CParamStore::ResetToDefaults() {
  MutexLock writeLock(writeMutex_);
  return SaveLocked(CMerchantParams());
}

bool CParamStore::SaveLocked(const CMerchantParams& set) {
  // A ";" inside a value would shift every later field when the line is read back.
  for (const auto& [number, entry] : set.Entries()) {
    if (entry.value.find(';') != std::string::npos) {
      SetLastError(kParamErrorSemicolon, "Entry " + std::to_string(number) + " (" + entry.name +
                                             ") holds \";\", which the parameter line cannot carry");
      return false;
    }
  }
  if (set.Version().find(';') != std::string::npos) {
    SetLastError(kParamErrorSemicolon, "The format version holds \";\"");
    return false;
  }
  const std::string line = set.Serialize();
  if (line.size() > kMaxLineLength) {
    SetLastError(kParamErrorOverflow, "Param Settings would overflow");
    return false;
  }
  if (!Persist(line)) return false;
  MutexLock lock(mutex_);
  current_ = set;
  lastErrorCode_ = kParamErrorNone;
  lastErrorText_.clear();
  readFailure_.clear();  // the file now holds a line this version reads
  return true;
}

bool CParamStore::Persist(const std::string& line) {
  const Status replaced = ReplaceConfigFile(Path(), line);
  if (!replaced.ok()) SetLastError(kParamErrorWrite, replaced.message());
  return replaced.ok();
}

ConfigurationState CParamStore::GetConfigurationState() const {
  {
    MutexLock lock(mutex_);
    if (!readFailure_.empty()) return ConfigurationState::ParamsUnreadable;
  }
  return ConfigurationStateOf(GetParams());
}

ConfigurationState ConfigurationStateOf(const CMerchantParams& stored) {
  const CMerchantParams defaults;
  if (stored.IdentityRefused()) return ConfigurationState::ParamsInvalid;
  if (stored == defaults) return ConfigurationState::ParamsNotSet;
  if (stored.Version() == defaults.Version()) return ConfigurationState::ParamsReady;
  return ConfigurationState::ParamsUnreadable;
}

std::string RefusedIdentityText(const CMerchantParams& set) {
  std::string text;
  for (const int number : set.RefusedEntries()) {
    const auto found = set.Entries().find(number);
    if (!IsIdentityEntry(number) || found == set.Entries().end()) continue;
    if (!text.empty()) text += ", ";
    text += "entry " + std::to_string(number) + " " + found->second.name;
  }
  return text;
}

int CParamStore::LastErrorCode() const {
  MutexLock lock(mutex_);
  return lastErrorCode_;
}

std::string CParamStore::LastErrorText() const {
  MutexLock lock(mutex_);
  return lastErrorText_;
}

void CParamStore::SetLastError(int code, std::string text) {
  MutexLock lock(mutex_);
  lastErrorCode_ = code;
  lastErrorText_ = std::move(text);
}

void CParamStore::SetReadFailure(std::string text) {
  MutexLock lock(mutex_);
  readFailure_ = std::move(text);
}

void CParamStore::SetLoadNotice(std::string text) {
  MutexLock lock(mutex_);
  loadNotice_ = std::move(text);
}

}  // namespace paxelle
