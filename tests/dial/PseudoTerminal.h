// A pseudo-terminal whose slave side stands in for a COM port's device, with
// the master side played by the test, and a traffic log in a temporary
// directory whose text the tests can read.
#pragma once

#include "common/TrafficLog.h"
#include "tests/config/TempDir.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace paxelle::testing {

class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) == 0) slavePath_ = name;
  }
  ~PseudoTerminal() { CloseMaster(); }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool Valid() const { return master_ >= 0 && !slavePath_.empty(); }
  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // What the "modem" says to the port.
  void Write(std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t written = ::write(master_, bytes.data(), bytes.size());
      if (written <= 0) return;
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
  }

  // What the port sent, collected until `done(collected)` or `limit` passed.
  template <typename Done>
  std::string ReadUntil(Done done, std::chrono::milliseconds limit) const {
    std::string collected;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done(collected)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd watch{master_, POLLIN, 0};
      if (::poll(&watch, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t count = ::read(master_, buffer, sizeof buffer);
      if (count > 0) collected.append(buffer, static_cast<std::size_t>(count));
      if (count <= 0) break;
    }
    return collected;
  }
  std::string ReadAtLeast(std::size_t bytes, std::chrono::milliseconds limit = std::chrono::seconds(5)) const {
    return ReadUntil([bytes](const std::string& text) { return text.size() >= bytes; }, limit);
  }
  std::string ReadUntilText(std::string_view text, std::chrono::milliseconds limit = std::chrono::seconds(5)) const {
    return ReadUntil([text](const std::string& got) { return got.find(text) != std::string::npos; }, limit);
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};

// A traffic log of its own in a temporary directory.
class TestLog {
 public:
  TestLog() : log_((dir_.Path() / "logs").string(), SystemNow, std::chrono::seconds(5)) {
    std::filesystem::create_directories(dir_.Path() / "logs");
  }
  CTrafficLog& Get() { return log_; }
  // Everything logged so far, all days' files together.
  std::string Text() {
    log_.WaitUntilWritten(std::chrono::seconds(5));
    std::string text;
    for (const auto& file : std::filesystem::directory_iterator(dir_.Path() / "logs")) text += ReadBytes(file.path());
    return text;
  }

 private:
  TempDir dir_;
  CTrafficLog log_;
};

}  // namespace paxelle::testing
