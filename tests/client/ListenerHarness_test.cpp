// The listener harness as another process would use it: started as a child,
// talked to by a lane over loopback, stopped by end of input or a signal.
#include "config/ParamStore.h"
#include "client/MessageCrypto.h"
#include "tests/client/CryptoTestSupport.h"
#include "tests/client/SessionTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

extern char** environ;

namespace paxelle {
namespace {

using namespace std::chrono_literals;

const std::string kHarnessPath = std::string(PAXELLE_BIN_DIR) + "/paxelle-listener-harness";

// The harness as a child process with its standard input and output on pipes.
// Killed and reaped when the test leaves it running.
class HarnessProcess {
 public:
  HarnessProcess() = default;
  HarnessProcess(const HarnessProcess&) = delete;
  HarnessProcess& operator=(const HarnessProcess&) = delete;
  ~HarnessProcess() {
    CloseInput();
    if (output_ >= 0) ::close(output_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }

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
    std::vector<std::string> all = {kHarnessPath};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int spawned = ::posix_spawn(&pid_, kHarnessPath.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    input_ = input[1];
    output_ = output[0];
    if (spawned != 0) pid_ = -1;
    return spawned == 0;
  }

  // The first line the harness prints, without its line feed.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    line.clear();
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd descriptor{output_, POLLIN, 0};
      if (::poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) continue;
      char c;
      if (::read(output_, &c, 1) != 1) return false;
      if (c == '\n') return true;
      line += c;
    }
  }

  void CloseInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }
  void Signal(int number) { ::kill(pid_, number); }

  // Waits for the child to end; its exit status, or -1 when it did not end in time.
  int Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
      if (ended == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      std::this_thread::sleep_for(10ms);
    }
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

class ListenerHarnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    const auto keyStore = dir_.Path() / "keys";
    std::filesystem::create_directory(keyStore);
    std::filesystem::permissions(keyStore, std::filesystem::perms::owner_all);
    std::filesystem::copy_file(testing::TestKeyPath(), CMessageCrypto::KeyFilePath(keyStore));
    std::filesystem::permissions(CMessageCrypto::KeyFilePath(keyStore),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    CParamStore store;
    store.SetPath(dir_.Path() / "params");
    CMerchantParams set;
    ASSERT_TRUE(set.SetValue(kParamMerchantId, "123456789012345"));
    ASSERT_TRUE(store.Save(set));

    ASSERT_TRUE(harness_.Start({keyStore.string(), (dir_.Path() / "params").string(), "0"}, dir_.Path()));
    std::string line;
    ASSERT_TRUE(harness_.ReadLine(line, testing::kPatience));
    ASSERT_EQ(line.rfind("listening on ", 0), 0u) << line;
    port_ = std::stoi(line.substr(13));
    ASSERT_GT(port_, 0);
  }

  void AskServerVersion() {
    testing::TestLane lane;
    ASSERT_TRUE(lane.LogIn(port_)) << lane.Connection().LastError();
    ASSERT_TRUE(lane.SendRequest(testing::ServerVersionPayload(), "harness"));
    lane::CommandResponse reply;
    lane::LaneResponse response;
    ASSERT_TRUE(lane.ReadReply(reply, testing::kPatience, &response));
    EXPECT_EQ(reply.returnCode, 500000);
    EXPECT_EQ(reply.userTraceData, "harness");
    EXPECT_NE(response.document.find("<ProductVersion>WH 5.10</ProductVersion>"), std::string::npos);
  }

  testing::TempDir dir_;
  HarnessProcess harness_;
  int port_ = 0;
};

TEST_F(ListenerHarnessTest, AnswersALaneAndStopsAtEndOfInput) {
  AskServerVersion();
  harness_.CloseInput();
  EXPECT_EQ(harness_.Wait(testing::kPatience), 0);
}

TEST_F(ListenerHarnessTest, StopsOnSigterm) {
  AskServerVersion();
  harness_.Signal(SIGTERM);
  EXPECT_EQ(harness_.Wait(testing::kPatience), 0);
}

TEST(ListenerHarness, RefusesBadArguments) {
  HarnessProcess harness;
  ASSERT_TRUE(harness.Start({"keys", "params", "70000"}, std::filesystem::temp_directory_path()));
  EXPECT_EQ(harness.Wait(testing::kPatience), 2);
}

}  // namespace
}  // namespace paxelle
