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

// Makes a fresh directory the working directory for the life of the object,
// so the process-wide traffic log writes into its "KELVARA_LOGS".
class LoggedWorkingDirectory {
 public:
  LoggedWorkingDirectory() : previous_(std::filesystem::current_path()) {
    GetTrafficLog().WaitUntilWritten(kLogPatience);
    std::filesystem::create_directory(dir_ / "KELVARA_LOGS");
    std::filesystem::current_path(dir_.Path());
  }
  ~LoggedWorkingDirectory() {
    GetTrafficLog().WaitUntilWritten(kLogPatience);
    std::filesystem::current_path(previous_);
  }
  LoggedWorkingDirectory(const LoggedWorkingDirectory&) = delete;
  LoggedWorkingDirectory& operator=(const LoggedWorkingDirectory&) = delete;

  const std::filesystem::path& Path() const { return dir_.Path(); }

  // Everything logged so far.
  std::string Logged() const {
    GetTrafficLog().WaitUntilWritten(kLogPatience);
    std::string text;
    for (const auto& file : std::filesystem::directory_iterator(dir_ / "KELVARA_LOGS")) {
      text += ReadBytes(file.path());
    }
    return text;
  }

 private:
  TempDir dir_;
  std::filesystem::path previous_;
};

}  // namespace paxelle::testing
