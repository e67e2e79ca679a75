// The real `paxelle` server run as a process in a temporary working directory.
// It never reaches beyond loopback: the host is always a closed local port or
// is not contacted at start (entry 9 "Y").
#include "common/Clock.h"
#include "config/ParamStore.h"
#include "tests/app/NotifySocket.h"
#include "tests/common/LocalMoment.h"
#include "tests/config/TempDir.h"
#include "tests/host/LoopbackSockets.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace paxelle {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr seconds kPatience{60};  // generous: sanitizer builds are slow
constexpr char kShutdownEntry[] = "]Server Shutdown . . .\r\n----------\r\n";

// A free loopback port (nothing listens on it once this returns).
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    return 0;
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

// A connected socket to the loopback `port`, or -1.
int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

bool CanConnect(int port) {
  const int fd = Connect(port);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

// A loopback port that takes no more connections: its queue holds one that is
// never accepted, so every further SYN is dropped and a connect waits out its
// time-out, as for a host that cannot be reached.
class UnansweredPort {
 public:
  UnansweredPort() : listener_(0) {
    if (listener_.Valid()) filler_ = Connect(listener_.Port());
  }
  ~UnansweredPort() {
    if (filler_ >= 0) ::close(filler_);
  }
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;

  // 0 when it could not be set up.
  int Port() const { return filler_ >= 0 ? listener_.Port() : 0; }

 private:
  testing::LoopbackListener listener_;
  int filler_ = -1;
};

// One server process with its standard output and error in files.
class ServerProcess {
 public:
  ServerProcess(fs::path directory, std::string name) : directory_(std::move(directory)), name_(std::move(name)) {}
  ~ServerProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // `environment` (NAME=VALUE) is added to this process's own.
  bool Start(const std::vector<std::string>& args, const fs::path& workdir,
             std::vector<std::string> environment = {}) {
    std::vector<std::string> argv = {PAXELLE_BIN_DIR "/paxelle"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    // First, so that they win over variables of the same name.
    std::vector<char*> variables;
    for (std::string& variable : environment) variables.push_back(variable.data());
    for (char** variable = environ; *variable != nullptr; ++variable) variables.push_back(*variable);
    variables.push_back(nullptr);
    const std::string out = OutPath().string();
    const std::string err = ErrPath().string();
    const std::string dir = workdir.string();
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec.
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0 || ::chdir(dir.c_str()) != 0) {
        ::_exit(127);
      }
      ::execve(pointers[0], pointers.data(), variables.data());
      ::_exit(127);
    }
    return pid_ > 0;
  }

  std::string Out() const { return testing::ReadBytes(OutPath()); }
  std::string Err() const { return testing::ReadBytes(ErrPath()); }

  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return false;
  }
  void Signal(int signal) const {
    if (pid_ > 0) ::kill(pid_, signal);
  }
  // The exit code once the process has ended within `limit`, else -1.
  int WaitForExit(seconds limit = kPatience) {
    return testing::WaitFor("the server to exit", [this] { return !Running(); }, limit) ? exitCode_ : -1;
  }

 private:
  fs::path OutPath() const { return directory_ / (name_ + ".out"); }
  fs::path ErrPath() const { return directory_ / (name_ + ".err"); }

  fs::path directory_;
  std::string name_;
  pid_t pid_ = -1;
  int exitCode_ = -1;
};

int Count(const std::string& text, const std::string& part) {
  int found = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++found;
  return found;
}

// Polls `read` until its text holds `part` `count` times, or the time is up.
template <class Reader>
::testing::AssertionResult WaitForText(Reader read, const std::string& part, int count = 1,
                                       seconds limit = kPatience) {
  return testing::WaitFor(std::to_string(count) + " of \"" + part + "\"",
                          [&] { return Count(read(), part) >= count; }, limit, milliseconds(20));
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    run_ = dir_ / "run";
    fs::create_directories(run_);
    clientPort_ = FreePort();
    closedHostPort_ = FreePort();
    ASSERT_NE(clientPort_, 0);
    ASSERT_NE(closedHostPort_, 0);
  }

  std::vector<std::string> Args(std::vector<std::string> extra = {}) const {
    std::vector<std::string> args = {"--headless",
                                     "--workdir",
                                     run_.string(),
                                     "--params",
                                     (dir_ / "cfg" / "params").string(),
                                     "--keystore",
                                     (dir_ / "keys").string(),
                                     "--client-port",
                                     std::to_string(clientPort_),
                                     "--host",
                                     "127.0.0.1:" + std::to_string(hostPort_ != 0 ? hostPort_ : closedHostPort_)};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  void Configure(const std::map<int, std::string>& values) {
    CParamStore store;
    store.SetPath(dir_ / "cfg" / "params");
    CMerchantParams set;
    ASSERT_TRUE(set.SetValue(kParamMerchantId, "123456789012345"));
    ASSERT_TRUE(set.SetValue(kParamTerminalId, "12345678"));
    for (const auto& [number, value] : values) ASSERT_TRUE(set.SetValue(number, value)) << number;
    ASSERT_TRUE(store.Save(set)) << store.LastErrorText();
  }

  // Every log file of the run, oldest day first.
  std::string LogText() const {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const auto& item : fs::directory_iterator(run_ / "KELVARA_LOGS", ignored)) files.push_back(item.path());
    std::sort(files.begin(), files.end());
    std::string text;
    for (const fs::path& file : files) text += testing::ReadBytes(file);
    return text;
  }
  ::testing::AssertionResult WaitForLog(const std::string& part, int count = 1) {
    return WaitForText([this] { return LogText(); }, part, count);
  }
  static ::testing::AssertionResult WaitForErr(const ServerProcess& server, const std::string& part) {
    return WaitForText([&server] { return server.Err(); }, part);
  }

  void ExpectCleanShutdown(ServerProcess& server) {
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitForExit(), 0) << server.Err();
    const std::string log = LogText();
    EXPECT_TRUE(log.ends_with(kShutdownEntry)) << "the last entry is the shutdown:\n" << log.substr(log.size() - 200);
  }

  testing::TempDir dir_;
  fs::path run_;
  int clientPort_ = 0;
  int closedHostPort_ = 0;
  int hostPort_ = 0;  // the host the server is given; 0: the closed port
};

TEST_F(ServerTest, UnconfiguredServerStaysUpWithoutItsPort) {
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args(), dir_.Path()));
  ASSERT_TRUE(WaitForErr(server, "Configuration not Set! - Use Setup | Merchant Parameters")) << server.Err();
  ASSERT_TRUE(WaitForLog("Server Startup Paxelle XML Version WH 5.10"));
  EXPECT_FALSE(CanConnect(clientPort_));
  // Staying up is the point: give a server that would exit for want of its port the time to.
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_TRUE(server.Running());
  EXPECT_NE(server.Out().find("Paxelle XML 5.0 WorldPay OFFLINE       OFFLINE\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(run_ / "OpxWorldPayTCPIP.lock"));
  ExpectCleanShutdown(server);
  EXPECT_NE(LogText().find("]Configuration not Set! - Use Setup | Merchant Parameters\r\n"), std::string::npos);
}

// A merchant number edited by hand into something that fails its check must not
// turn into the default merchant: the interfaces stay stopped, the entry named.
TEST_F(ServerTest, AnInvalidIdentifyingEntryKeepsTheInterfacesStopped) {
  fs::create_directories(dir_ / "cfg");
  testing::WriteBytes(dir_ / "cfg" / "params",
                      "2;23;12345678901234X;12345678;0;X;N;N;N;;N;Y;N;N;0400;0;1;;18005550199;3;0; ;1;00;0;");
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args(), dir_.Path()));
  ASSERT_TRUE(WaitForErr(server, "Configuration not Set! - entry 1 MERCHANT ID is invalid")) << server.Err();
  EXPECT_FALSE(CanConnect(clientPort_));
  const std::string log = LogText();
  EXPECT_NE(log.find("Entry 1 MERCHANT ID failed its check: the interfaces stay stopped"), std::string::npos) << log;
  EXPECT_NE(log.find("Entry 4 MERCHANT CATEGORY failed its check: its default is used."), std::string::npos) << log;
  ExpectCleanShutdown(server);
}

// A parameter file that is there but cannot be read says why, in the message
// and the status, instead of passing for one never set; nothing replaces it.
TEST_F(ServerTest, AParameterFileThatCannotBeReadSaysWhy) {
  const fs::path params = dir_ / "cfg" / "params";
  fs::create_directories(params);  // a directory where the file should be
  testing::NotifySocket manager(testing::NotifySocket::UniqueAbstractName());
  ASSERT_TRUE(manager.Bound());
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args(), dir_.Path(), {"NOTIFY_SOCKET=" + manager.Address()}));
  const std::vector<std::string> received = manager.ReceiveUntil("READY=1");
  const std::string reason = "Problem reading Configuration File - Use Setup | Merchant Parameters";
  const std::string why = "(" + params.string() + " is not a regular file)";
  EXPECT_NE(std::find(received.begin(), received.end(), "STATUS=Interfaces Stopped: " + reason + " " + why),
            received.end())
      << server.Err();
  EXPECT_NE(server.Err().find("paxelle: " + reason + "\n" + why + "\n"), std::string::npos) << server.Err();
  EXPECT_EQ(server.Err().find("Configuration not Set!"), std::string::npos) << server.Err();
  EXPECT_TRUE(fs::is_directory(params));
  EXPECT_EQ(testing::Listing(dir_ / "cfg"), std::vector<std::string>{"params"}) << "nothing kept aside or stored";
  ExpectCleanShutdown(server);
}

// The service's parameters are root's (/etc/paxelle root:paxelle 0750): the
// server runs on the defaults in memory and writes nothing there.
TEST_F(ServerTest, AParameterDirectoryOfAnotherUserIsOnlyRead) {
  if (::geteuid() != 0) GTEST_SKIP() << "a directory of another user needs root";
  fs::create_directories(dir_ / "cfg");
  ASSERT_EQ(::chown((dir_ / "cfg").c_str(), 65534, 65534), 0);
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args(), dir_.Path()));
  ASSERT_TRUE(WaitForErr(server, "Configuration not Set! - Use Setup | Merchant Parameters")) << server.Err();
  EXPECT_TRUE(testing::Listing(dir_ / "cfg").empty()) << "the defaults stay in memory";
  EXPECT_EQ(server.Err().find("could not be stored"), std::string::npos) << server.Err();
  ExpectCleanShutdown(server);
}

// Under a service manager standard error is the journal: each message is one
// entry, behind its priority, so `journalctl -p warning` finds the failures.
TEST_F(ServerTest, OnTheJournalMessagesAreOneEntryEachWithTheirPriority) {
  Configure({{kParamNoConnectOnStartup, "N"}});
  const fs::path err = dir_ / "server.err";
  testing::WriteBytes(err, "");
  struct stat status {};
  ASSERT_EQ(::stat(err.c_str(), &status), 0);
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args(), dir_.Path(),
                           {"JOURNAL_STREAM=" + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino)}));
  ASSERT_TRUE(WaitForErr(server, "<6>Retrying in 10 s (1 of 30).\n")) << server.Err();
  const std::string text = server.Err();
  EXPECT_NE(text.find("<6>Attempting to Connect to WorldPay  ...\n"), std::string::npos) << text;
  const std::size_t failure = text.find("<3>Failed to Connect to WorldPay! ");
  ASSERT_NE(failure, std::string::npos) << text;
  EXPECT_NE(text.find(" Retry?\n<6>Retrying in 10 s", failure), std::string::npos) << "the question on its line";
  EXPECT_EQ(text.find("paxelle: "), std::string::npos) << "the journal names the program itself";
  ExpectCleanShutdown(server);
}

// The daily logs age at start: a week old compressed, past the retention
// removed (0 keeps them for ever), today's untouched.
TEST_F(ServerTest, OldTrafficLogsAreAgedAtStart) {
  const std::tm today = LocalTime(std::time(nullptr));
  const auto dayFile = [&today](int daysBefore) {
    const std::time_t noon = testing::LocalMoment(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday - daysBefore, 12, 0);
    return FormatLocalTime("OPX%m%d%Y.log", noon);
  };
  const fs::path logs = run_ / "KELVARA_LOGS";
  const struct {
    std::vector<std::string> extra;
    std::string report;
    bool oldestKept;
  } cases[] = {
      {{}, "Traffic logs aged: 1 compressed (older than 7 days), 1 removed (older than 400 days).", false},
      {{"--log-retention", "0"}, "Traffic logs aged: 2 compressed (older than 7 days).", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    fs::remove_all(logs);
    fs::create_directories(logs);
    for (const int age : {1, 10, 500}) testing::WriteBytes(logs / dayFile(age), "[12:00:00]old entry\r\n----------\r\n");
    ServerProcess server(dir_.Path(), "server");
    ASSERT_TRUE(server.Start(Args(c.extra), dir_.Path()));
    ASSERT_TRUE(WaitForLog(c.report)) << server.Err();
    EXPECT_TRUE(fs::exists(logs / dayFile(1)));
    EXPECT_TRUE(fs::exists(logs / (dayFile(10) + ".gz")));
    EXPECT_FALSE(fs::exists(logs / dayFile(10)));
    EXPECT_EQ(fs::exists(logs / (dayFile(500) + ".gz")), c.oldestKept);
    EXPECT_TRUE(fs::exists(logs / dayFile(0))) << "today's file, the server's own";
    ExpectCleanShutdown(server);
  }
}

TEST_F(ServerTest, SecondInstanceInTheSameDirectoryIsRefused) {
  ServerProcess first(dir_.Path(), "first");
  ASSERT_TRUE(first.Start(Args(), dir_.Path()));
  ASSERT_TRUE(WaitForErr(first, "Configuration not Set!")) << first.Err();

  ServerProcess second(dir_.Path(), "second");
  std::vector<std::string> args = Args();
  args[8] = std::to_string(FreePort());  // its own client port: only the lock may stop it
  ASSERT_TRUE(second.Start(args, dir_.Path()));
  const int code = second.WaitForExit();
  EXPECT_NE(code, 0);
  EXPECT_NE(code, -1) << "it ends by itself";
  EXPECT_NE(second.Err().find("Only one instance of OPX WorldPay TCPIP may be run at a time!"), std::string::npos)
      << second.Err();
  EXPECT_TRUE(first.Running());
  ExpectCleanShutdown(first);
  EXPECT_EQ(Count(LogText(), "Server Shutdown . . ."), 1) << "only the running server logs its shutdown";
}

TEST_F(ServerTest, ConfiguredServerServesUntilTerminated) {
  Configure({{kParamNoConnectOnStartup, "Y"}});
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args(), dir_.Path()));
  ASSERT_TRUE(WaitForLog("]TCP/IP Server initialized successfully.\r\n")) << server.Err();
  ASSERT_TRUE(WaitForLog("]Interfaces initialized successfully.\r\n"));
  EXPECT_TRUE(CanConnect(clientPort_));
  ASSERT_TRUE(WaitForText([&] { return server.Out(); }, "  Paxelle XML 5.0 RBS WorldPay-Lynk #Requests-> 0"));
  EXPECT_TRUE(fs::exists(run_ / "SynchroBatch.dat"));

  // A lane still connected: the stop question is asked, and answered Yes.
  const int lane = Connect(clientPort_);
  ASSERT_GE(lane, 0);
  ASSERT_TRUE(WaitForText([&] { return server.Out(); }, "#Sockets-> 1 ")) << server.Out();
  ExpectCleanShutdown(server);
  ::close(lane);
  EXPECT_NE(server.Err().find("paxelle: There are Client connections in Process.\n"
                              "Are you SURE you want to do this?\n"
                              "paxelle: Answered Yes: the server is stopping.\n"),
            std::string::npos)
      << server.Err();
  const std::string log = LogText();
  EXPECT_LT(log.rfind("]Interfaces Stopped.\r\n"), log.rfind("Server Shutdown . . ."));
  EXPECT_FALSE(CanConnect(clientPort_));
}

TEST_F(ServerTest, HangUpReloadsTheParametersAndRestartsTheInterfaces) {
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args(), dir_.Path()));
  ASSERT_TRUE(WaitForErr(server, "Configuration not Set!")) << server.Err();
  EXPECT_FALSE(CanConnect(clientPort_));

  // What `paxelle params set` in another shell does.
  Configure({{kParamNoConnectOnStartup, "Y"}});
  server.Signal(SIGHUP);
  ASSERT_TRUE(WaitForLog("]TCP/IP Server initialized successfully.\r\n")) << server.Err();
  EXPECT_TRUE(CanConnect(clientPort_));

  server.Signal(SIGHUP);
  ASSERT_TRUE(WaitForLog("]TCP/IP Server initialized successfully.\r\n", 2)) << server.Err();
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "]Interfaces Stopped.\r\n"), 2);
  EXPECT_LT(log.rfind("]Interfaces Stopped.\r\n"), log.rfind("]TCP/IP Server initialized successfully."));
  EXPECT_TRUE(CanConnect(clientPort_));
  ExpectCleanShutdown(server);
}

// Under a service manager: ready once the first start has ended, with the
// reason the interfaces are down, and again after each restart.
TEST_F(ServerTest, ServiceManagerHearsReadinessAndWhyTheInterfacesAreDown) {
  testing::NotifySocket manager(testing::NotifySocket::UniqueAbstractName());
  ASSERT_TRUE(manager.Bound());
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args(), dir_.Path(), {"NOTIFY_SOCKET=" + manager.Address()}));
  std::vector<std::string> received = manager.ReceiveUntil("READY=1");
  ASSERT_FALSE(received.empty()) << server.Err();
  EXPECT_EQ(received.back(), "READY=1") << server.Err();
  EXPECT_NE(std::find(received.begin(), received.end(),
                      "STATUS=Interfaces Stopped: Configuration not Set! - Use Setup | Merchant Parameters"),
            received.end());

  Configure({{kParamNoConnectOnStartup, "Y"}});
  server.Signal(SIGHUP);
  received = manager.ReceiveUntil("READY=1");
  ASSERT_FALSE(received.empty()) << server.Err();
  EXPECT_TRUE(received.front().starts_with("RELOADING=1\nMONOTONIC_USEC=")) << received.front();
  EXPECT_EQ(received.back(), "READY=1");
  EXPECT_NE(std::find(received.begin(), received.end(), "STATUS=Initializing Client TCP/IP Interface...."),
            received.end());
  EXPECT_EQ(manager.Receive(), "STATUS=Interfaces running: #Requests 0, #Sockets 0");
  EXPECT_EQ(server.Err().find("Cannot notify"), std::string::npos) << server.Err();
  // No clean stop here: it would wait out the client drain for nothing new.
}

// A host that is down holds up neither a boot nor a reload: ready once the first
// attempt has ended, the retries only in the status, and the stop announced.
TEST_F(ServerTest, ServiceIsReadyWithinFifteenSecondsWhileTheHostCannotBeReached) {
  UnansweredPort unanswered;
  ASSERT_NE(unanswered.Port(), 0);
  const struct {
    const char* name;
    int port;
  } cases[] = {{"refused", closedHostPort_}, {"unanswered", unanswered.Port()}};
  Configure({{kParamNoConnectOnStartup, "N"}});
  const auto waited = [](std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - since);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    hostPort_ = c.port;
    testing::NotifySocket manager(testing::NotifySocket::UniqueAbstractName());
    ASSERT_TRUE(manager.Bound());
    ServerProcess server(dir_.Path(), c.name);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(server.Start(Args(), dir_.Path(), {"NOTIFY_SOCKET=" + manager.Address()}));
    std::vector<std::string> received = manager.ReceiveUntil("READY=1", seconds(15));
    ASSERT_FALSE(received.empty()) << server.Err();
    EXPECT_EQ(received.back(), "READY=1") << server.Err();
    EXPECT_LE(waited(started), seconds(15));
    const auto asked = std::find_if(received.begin(), received.end(), [](const std::string& datagram) {
      return datagram.starts_with("STATUS=Failed to Connect to WorldPay!") && datagram.ends_with("Retry?");
    });
    EXPECT_NE(asked, received.end()) << "the retry shows in the status";

    // A reload while the host is still down is as quick. The signal first
    // answers the pending retry No, whose stop comes before the reload's.
    server.Signal(SIGHUP);
    const auto reloaded = std::chrono::steady_clock::now();
    std::vector<std::string> reload = manager.ReceiveUntil("READY=1", seconds(15));
    ASSERT_FALSE(reload.empty()) << server.Err();
    EXPECT_EQ(reload.back(), "READY=1") << server.Err();
    EXPECT_EQ(std::count_if(reload.begin(), reload.end(),
                            [](const std::string& datagram) { return datagram.starts_with("RELOADING=1\n"); }),
              1);
    EXPECT_LE(waited(reloaded), seconds(15));
    EXPECT_FALSE(CanConnect(clientPort_));

    server.Signal(SIGTERM);
    std::vector<std::string> stop = manager.ReceiveUntil("STOPPING=1", seconds(15));
    ASSERT_FALSE(stop.empty()) << server.Err();
    EXPECT_EQ(stop.back(), "STOPPING=1");
    EXPECT_EQ(server.WaitForExit(), 0) << server.Err();
    received.insert(received.end(), reload.begin(), reload.end());
    for (const std::string& datagram : received) {
      EXPECT_EQ(datagram.find("EXTEND_TIMEOUT_USEC"), std::string::npos) << datagram;
    }
  }
}

TEST_F(ServerTest, DialBackupWithoutItsDeviceStopsTheInterfaces) {
  Configure({{kParamNoConnectOnStartup, "Y"}, {kParamTransportMethod, "1"}, {kParamModemComPort, "1"}});
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args({"--com-device", "1=" + (dir_ / "no-such-tty").string()}), dir_.Path()));
  ASSERT_TRUE(WaitForErr(server, "Could not Open Com Port 1.")) << server.Err();
  ASSERT_TRUE(WaitForLog("]Interfaces Stopped.\r\n"));
  EXPECT_FALSE(CanConnect(clientPort_));
  EXPECT_TRUE(server.Running());
  EXPECT_EQ(LogText().find("TCP/IP Server initialized successfully."), std::string::npos);
  ExpectCleanShutdown(server);
}

TEST_F(ServerTest, HostDownAtStartIsRetriedUntilStopped) {
  Configure({{kParamNoConnectOnStartup, "N"}});
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args(), dir_.Path()));
  ASSERT_TRUE(WaitForErr(server, "Retrying in 10 s (1 of 30).")) << server.Err();
  EXPECT_NE(server.Err().find("\n   Retry?\n"), std::string::npos) << server.Err();
  EXPECT_FALSE(CanConnect(clientPort_));
  // A stop during the retry pause answers No and ends the server at once.
  ExpectCleanShutdown(server);
}

TEST_F(ServerTest, UnusableHostCertificateFileIsFatal) {
  const fs::path ca = dir_ / "ca.pem";
  testing::WriteBytes(ca, "this is no certificate\n");
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args({"--host-ca", ca.string()}), dir_.Path()));
  const int code = server.WaitForExit();
  EXPECT_NE(code, 0);
  EXPECT_NE(code, -1);
  EXPECT_NE(server.Err().find("Could Not Start SSPI \nEnsure that 128 bit encryption is installed.- FATAL Error!!"),
            std::string::npos)
      << server.Err();
  EXPECT_FALSE(CanConnect(clientPort_));
}

TEST_F(ServerTest, BadCommandLineExitsWithItsReason) {
  ServerProcess server(dir_.Path(), "server");
  ASSERT_TRUE(server.Start(Args({"--com-device", "0=/dev/ttyS0"}), dir_.Path()));
  EXPECT_EQ(server.WaitForExit(), 2);
  EXPECT_NE(server.Err().find("--com-device COM port \"0\" is not a number from 1 to 255"), std::string::npos)
      << server.Err();
  EXPECT_FALSE(fs::exists(run_ / "OpxWorldPayTCPIP.lock")) << "nothing was started";
}

}  // namespace
}  // namespace paxelle
