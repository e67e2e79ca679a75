// The holder of the current merchant parameter set and its persisted line (one
// line in the params file, replaced atomically keeping its owner, group and mode).
#pragma once

#include "config/MerchantParams.h"
#include "common/Mutex.h"
#include "common/Status.h"

#include <filesystem>
#include <string>

namespace paxelle {

// ParamsInvalid: an identifying entry (1, 2, 3, 7 or 8) of the stored line failed its check.
enum class ConfigurationState { ParamsNotSet, ParamsReady, ParamsUnreadable, ParamsInvalid };

// "entry N NAME" for each refused identifying entry, joined with ", ": what the
// operator is told. Empty when none was refused.
std::string RefusedIdentityText(const CMerchantParams& set);

// What the params file holds, as read without changing anything.
enum class StoredLine { kRead, kMissing, kEmpty, kUnreadable, kFailed };

// Error codes of a refused Save, in the store's last error.
enum ParamStoreError : int {
  kParamErrorNone = 0,
  kParamErrorOverflow = 10002,    // "Param Settings would overflow"
  kParamErrorSemicolon = 10003,   // a value holds ";", which the line cannot carry
  kParamErrorWrite = 10004,       // the file could not be written
  kParamErrorRead = 10005,        // the file exists but could not be read or kept aside
};

// Whether a Load may write the params file: store the defaults where there is
// no line, keep an unreadable one aside.
enum class LoadWrites {
  kAllowed,           // the params commands, run by whoever keeps the file
  kOwnDirectoryOnly,  // the server: a file another user keeps (the service's
                      // /etc/paxelle, root's) is only read, the defaults kept in memory
};

class CTrafficLog;

class CParamStore {
 public:
  // What Load had to do beyond reading goes to `log` too, when there is one; it
  // must outlive the store.
  explicit CParamStore(CTrafficLog* log = nullptr);
  CParamStore(const CParamStore&) = delete;
  CParamStore& operator=(const CParamStore&) = delete;

  // Where the line is kept; set before Load. Defaults to DefaultParamsPath(),
  // worked out on first use.
  void SetPath(std::filesystem::path path);
  std::filesystem::path Path() const;

  // A copy of the current set, taken under the lock.
  CMerchantParams GetParams() const;

  // Reads the persisted line into `set` (the defaults unless it was read) and
  // changes nothing, on disk or in the store. A failure's code is the StoredLine
  // found instead; its text says why for kUnreadable and kFailed.
  Status ReadStored(CMerchantParams& set) const;
  // Reads the persisted line into the current set. A missing or empty file
  // gets the defaults persisted. An unreadable line of another version is
  // renamed aside (and logged) before the defaults are persisted, so the
  // merchant's configuration is never destroyed. False when the file exists
  // but cannot be read or kept aside (10005, nothing written) or the defaults
  // cannot be stored (10004); the set is then the defaults. With
  // kOwnDirectoryOnly and a file in a directory that is not this user's, the
  // defaults are only used and a line of another version stays where it is.
  bool Load(LoadWrites writes = LoadWrites::kAllowed);
  // Why the last Load could not use the file that is there (it cannot be
  // read, or holds a line it could neither read nor keep aside); empty when
  // it could. The configuration state is ParamsUnreadable while it is set.
  std::string ReadFailure() const;
  // What the last Load had to do beyond reading (e.g. where it kept an
  // unreadable line); empty when it simply read the file.
  std::string LoadNotice() const;
  // Persists `set` and makes it current; false (nothing changed) when the line
  // would be longer than 500 characters, a value holds ";", or writing fails.
  // A successful Save clears the last error.
  bool Save(const CMerchantParams& set);
  // Persists the defaults and, when that worked, makes them current.
  bool ResetToDefaults();
  ConfigurationState GetConfigurationState() const;

  int LastErrorCode() const;
  std::string LastErrorText() const;

 private:
  bool SaveLocked(const CMerchantParams& set) REQUIRES(writeMutex_);
  bool Persist(const std::string& line);
  bool KeepAside(const std::filesystem::path& path, std::filesystem::path& keptAs);
  void SetLastError(int code, std::string text);
  void SetLoadNotice(std::string text);
  void SetReadFailure(std::string text);
  // Sets and logs the load notice naming every entry whose stored value failed its check.
  void NoteRefusedEntries(const CMerchantParams& set);
  void LogLoadNotice();

  // Held across a whole Load/Save/ResetToDefaults so that the file and the
  // current set are replaced in the same order; never held by readers.
  Mutex writeMutex_;
  CTrafficLog* const log_;
  mutable Mutex mutex_;
  std::filesystem::path path_ GUARDED_BY(mutex_);
  CMerchantParams current_ GUARDED_BY(mutex_);
  int lastErrorCode_ GUARDED_BY(mutex_) = kParamErrorNone;
  std::string lastErrorText_ GUARDED_BY(mutex_);
  std::string loadNotice_ GUARDED_BY(mutex_);
  std::string readFailure_ GUARDED_BY(mutex_);
};

// ParamsNotSet for the defaults, ParamsReady for a set of this version.
ConfigurationState ConfigurationStateOf(const CMerchantParams& set);

// ${XDG_CONFIG_HOME:-~/.config}/Kelvara Applications/Paxelle/params
std::filesystem::path DefaultParamsPath();

}  // namespace paxelle
