// Helpers shared by the state-file tests: local moments for an injected clock
// and a working directory whose traffic log the test can read back.
#pragma once

#include "common/TrafficLog.h"
#include "tests/common/LocalMoment.h"
#include "tests/config/TempDir.h"

#include <chrono>
#include <filesystem>
#include <string>

namespace paxelle::testing {

inline constexpr std::chrono::milliseconds kLogPatience{60000};

// A fresh working directory with a traffic log writing into its "KELVARA_LOGS",
// which the test can read back.
class LoggedWorkingDirectory {
 public:
  LoggedWorkingDirectory() { std::filesystem::create_directory(dir_ / kLogDirectoryName); }
  LoggedWorkingDirectory(const LoggedWorkingDirectory&) = delete;
  LoggedWorkingDirectory& operator=(const LoggedWorkingDirectory&) = delete;

  const std::filesystem::path& Path() const { return dir_.Path(); }
  CTrafficLog& Log() { return log_; }

  // Everything logged so far.
  std::string Logged() {
    log_.WaitUntilWritten(kLogPatience);
    std::string text;
    for (const auto& file : std::filesystem::directory_iterator(dir_ / kLogDirectoryName)) {
      text += ReadBytes(file.path());
    }
    return text;
  }

 private:
  TempDir dir_;
  CTrafficLog log_{(dir_ / kLogDirectoryName).string()};
};

// A traffic log in a folder of its own, for tests that read the files they
// work on, not the log.
class ScratchLog {
 public:
  CTrafficLog& Log() { return log_; }

 private:
  TempDir dir_;
  CTrafficLog log_{dir_.Path().string()};
};

}  // namespace paxelle::testing
