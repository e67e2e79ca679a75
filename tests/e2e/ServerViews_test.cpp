// The views of a real running server: `paxelle status`, `paxelle watch` and
// `paxelle restart` on its control socket, and its metrics scraped over loopback.
#include "tests/e2e/E2eFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <regex>

namespace paxelle::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const std::string kBin = PAXELLE_BIN_DIR;

class ServerViewsTest : public E2eTest {
 protected:
  // `paxelle ARGS... --workdir` the test's server directory, to its end.
  ToolResult Paxelle(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kBin + "/paxelle"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--workdir", WorkDir().string()});
    return RunToEnd(argv, Dir(), seconds(20));
  }

  // Polls `paxelle status` until it exits `code` showing `text`, at most `limit`; the last result.
  ToolResult AwaitStatus(int code, milliseconds limit, const std::string& text = {}) {
    ToolResult result;
    testing::WaitFor(
        "the status",
        [&] {
          result = Paxelle({"status"});
          return result.exitCode == code && result.out.find(text) != std::string::npos;
        },
        limit, milliseconds(100));
    return result;
  }

  // The lines of ReadText(`file`) once it holds `count` lines holding `text`, or as it is after `limit`.
  std::string AwaitLines(const std::filesystem::path& file, const std::string& text, int count, milliseconds limit) {
    std::string content;
    testing::WaitFor(
        "the lines",
        [&] {
          content = ReadText(file);
          return CountOf(content, text) >= count;
        },
        limit, kPollStep);
    return content;
  }
};

TEST_F(ServerViewsTest, StatusExitsOneWhenNoServerAnswers) {
  const ToolResult result = Paxelle({"status"});
  EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
  EXPECT_NE(result.err.find("no server answers on " + (WorkDir() / "control").string()), std::string::npos)
      << result.err;
}

TEST_F(ServerViewsTest, StatusExitsThreeWhileTheInterfacesAreStopped) {
  // No parameters set: the server runs with its interfaces stopped.
  std::string error;
  ASSERT_TRUE(Server().Start({kBin + "/paxelle", "--headless", "--workdir", WorkDir().string(), "--params",
                              (Dir() / "params").string(), "--keystore", (Dir() / "keys").string(),
                              "--client-port", std::to_string(FreeLoopbackPort())},
                             Dir() / "paxelle.out", Dir() / "paxelle.err", error))
      << error;
  // "starting" also exits 3, as an activating unit does; wait for the stop and its reason.
  const ToolResult result = AwaitStatus(3, seconds(20), "Interfaces:          stopped");
  EXPECT_EQ(result.exitCode, 3) << result.out << result.err;
  EXPECT_NE(result.out.find("Interfaces:          stopped: Configuration not Set! - Use Setup | Merchant Parameters"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("Configuration not Set!"), std::string::npos) << result.out;
  EXPECT_EQ(StopServer(), 0);
}

TEST_F(ServerViewsTest, StatusExitsZeroAndWatchSeesBothRowsOfASale) {
  Provision();
  StartHost();
  StartServer();
  // The first status refresh follows the start within its period.
  const ToolResult running = AwaitStatus(0, seconds(10), "#Requests->");
  ASSERT_EQ(running.exitCode, 0) << running.out << running.err;
  EXPECT_NE(running.out.find("Interfaces:          running"), std::string::npos) << running.out;
  EXPECT_NE(running.out.find("Paxelle XML 5.0 RBS WorldPay-Lynk #Requests->"), std::string::npos) << running.out;

  ChildProcess watch;
  std::string error;
  const std::filesystem::path watched = Dir() / "watch.out";
  ASSERT_TRUE(watch.Start({kBin + "/paxelle", "watch", "--control", (WorkDir() / "control").string()}, watched,
                          Dir() / "watch.err", error))
      << error;
  // Waits on the watcher's connection itself: the server's status counts it.
  const LaneReply reply = Request(SalePairs("10.00", 2001));
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_EQ(reply.final.cmdStatus, "Approved");
  const std::string rows = AwaitLines(watched, "WorldPay.", 2, seconds(10));
  const std::regex stamped(R"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\] (Sending Auth Request \(IP\) to WorldPay\.|Auth Response Received \(IP\) from WorldPay\.))");
  std::vector<std::string> lines;
  std::istringstream stream(rows);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u) << rows << ReadText(Dir() / "watch.err");
  EXPECT_TRUE(std::regex_match(lines[0], stamped)) << lines[0];
  EXPECT_NE(lines[0].find("Sending Auth Request (IP)"), std::string::npos);
  EXPECT_NE(lines[1].find("Auth Response Received (IP)"), std::string::npos);
  // The status shows the host reached by the sale.
  EXPECT_NE(Paxelle({"status"}).out.find("last connection made"), std::string::npos);
  watch.Stop(SIGTERM, seconds(5));
  ExpectNoFullAccountAnywhere(rows);
}

TEST_F(ServerViewsTest, RestartOnTheSocketRestartsTheInterfacesAsSighupDoes) {
  Provision();
  StartHost();
  StartServer();
  const ToolResult restart = Paxelle({"restart"});
  ASSERT_EQ(restart.exitCode, 0) << restart.err;
  EXPECT_TRUE(WaitForServerLog("Restart of the interfaces asked for on the control socket by uid", seconds(5)));
  // A stop and a start again, then it serves as before.
  EXPECT_TRUE(WaitForServerLog("Interfaces Stopped.", seconds(30))) << ServerLog();
  EXPECT_TRUE(testing::WaitFor("the interfaces to start again",
                               [&] { return CountOf(ServerLog(), "Interfaces initialized successfully.") >= 2; },
                               seconds(30), kPollStep));
  EXPECT_EQ(CountOf(ServerLog(), "Interfaces initialized successfully."), 2) << ServerLog();
  EXPECT_EQ(AwaitStatus(0, seconds(10)).exitCode, 0);
}

// One scrape of http://127.0.0.1:`port`/metrics: sample name with labels -> value.
std::map<std::string, double> Scrape(std::uint16_t port, std::string& body) {
  std::map<std::string, double> samples;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval limit{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return samples;
  }
  const std::string request = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string response;
  char chunk[4096];
  ssize_t got;
  while ((got = ::recv(fd, chunk, sizeof chunk, 0)) > 0) response.append(chunk, static_cast<std::size_t>(got));
  ::close(fd);
  const std::size_t start = response.find("\r\n\r\n");
  body = start == std::string::npos ? "" : response.substr(start + 4);
  // The text format: "# ..." comments, then "name{label="value",...} number" per line.
  const std::regex sample(R"(^([a-z_:][a-z0-9_:]*(\{[^}]*\})?) ([-+0-9.eEnaNInf]+)$)");
  std::istringstream lines(body);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (line.empty() || line[0] == '#') continue;
    if (std::regex_match(line, match, sample)) samples[match[1]] = std::stod(match[3]);
    else samples["unparsed: " + line] = 0;
  }
  return samples;
}

TEST_F(ServerViewsTest, AScrapesCountersMoveWithASale) {
  Provision();
  StartHost();
  AddServerArguments({"--metrics", "127.0.0.1:0"});
  StartServer();
  const std::regex served(R"(metrics at http://127\.0\.0\.1:(\d+)/metrics)");
  std::smatch match;
  const std::string err = ServerErr();
  ASSERT_TRUE(std::regex_search(err, match, served)) << err;
  const auto port = static_cast<std::uint16_t>(std::stoi(match[1]));

  std::string body;
  // The gauges are set by the status refresh: wait for the first one.
  std::map<std::string, double> before;
  EXPECT_TRUE(testing::WaitFor(
      "the first status refresh",
      [&] {
        before = Scrape(port, body);
        return before["paxelle_interfaces_up"] == 1;
      },
      seconds(5), milliseconds(100)));
  for (const auto& [name, value] : before) EXPECT_EQ(name.rfind("unparsed", 0), std::string::npos) << name;
  EXPECT_EQ(before["paxelle_interfaces_up"], 1) << body;
  EXPECT_EQ(before["paxelle_connected_lanes"], 0) << body;

  ASSERT_EQ(Request(SalePairs("10.00", 3001)).final.cmdStatus, "Approved");
  ASSERT_EQ(Request(SalePairs("10.01", 3002)).final.cmdStatus, "Declined");
  const std::map<std::string, double> after = Scrape(port, body);
  EXPECT_EQ(after.at("paxelle_requests_total{kind=\"Sale\",outcome=\"approved\"}"), 1) << body;
  EXPECT_EQ(after.at("paxelle_requests_total{kind=\"Sale\",outcome=\"declined\"}"), 1) << body;
  EXPECT_EQ(after.at("paxelle_host_exchange_seconds_count{answered=\"yes\"}") -
                before["paxelle_host_exchange_seconds_count{answered=\"yes\"}"],
            2)
      << body;
  EXPECT_EQ(after.at("paxelle_completions_total{result=\"sent\"}"), 2) << body;
  EXPECT_GE(after.at("paxelle_number_commit_seconds_count"), 1) << body;
  EXPECT_EQ(after.at("paxelle_host_reachable"), 1) << body;
  EXPECT_EQ(after.count("paxelle_log_entries_dropped_total"), 1u) << body;
  EXPECT_EQ(after.count("paxelle_records_waiting"), 1u) << body;
  // No label carries card data or the merchant's secret.
  ExpectNoFullAccountAnywhere(body);
}

}  // namespace
}  // namespace paxelle::e2e
