// The listener harness (paxelle-listener-harness) as a child process, for the
// tests that drive the real client listener from outside: its standard input
// and output on pipes, killed and reaped when a test leaves it running.
#pragma once

#include "tests/support/WaitFor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace paxelle::testing {

class ListenerHarnessProcess {
 public:
  ListenerHarnessProcess() = default;
  ListenerHarnessProcess(const ListenerHarnessProcess&) = delete;
  ListenerHarnessProcess& operator=(const ListenerHarnessProcess&) = delete;
  ~ListenerHarnessProcess() {
    CloseInput();
    if (output_ >= 0) ::close(output_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }

  static std::string Binary() { return std::string(PAXELLE_BIN_DIR) + "/paxelle-listener-harness"; }

  // Starts the harness with `arguments` (KEYSTORE_DIR PARAMS_FILE PORT) in
  // `workDir`; false when it could not be started.
  bool Start(const std::vector<std::string>& arguments, const std::filesystem::path& workDir) {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) return false;
    if (::pipe2(output, O_CLOEXEC) != 0) {
      ::close(input[0]);
      ::close(input[1]);
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    const std::string binary = Binary();
    std::vector<std::string> all = {binary};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int spawned = ::posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    input_ = input[1];
    output_ = output[0];
    if (spawned != 0) pid_ = -1;
    return spawned == 0;
  }

  // The next line the harness prints, without its line feed; false when none
  // came within `timeout` or its output ended first.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    line.clear();
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd descriptor{output_, POLLIN, 0};
      if (::poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) continue;
      char c;
      if (::read(output_, &c, 1) != 1) return false;
      if (c == '\n') return true;
      line += c;
    }
  }

  // Ends the harness's input, which stops it.
  void CloseInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }
  void Signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
  }

  // Waits for the child to end; its exit status (128 + the signal number when
  // a signal ended it), or -1 when it did not end within `timeout`.
  int Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;  // never wait for, or reap, some other child
    int status = 0;
    if (!WaitFor("the harness to end", [&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

}  // namespace paxelle::testing
