#include "app/ServerOptions.h"

#include "config/ParamStore.h"
#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace paxelle {
namespace {

namespace fs = std::filesystem;

struct Parsed {
  bool ok;
  ServerOptions options;
  std::string error;
};

Parsed Parse(const std::vector<std::string>& args) {
  Parsed parsed{false, {}, {}};
  const Status status = ParseServerOptions(args, parsed.options);
  parsed.ok = status.ok();
  parsed.error = status.message();
  return parsed;
}

// Points XDG_CONFIG_HOME somewhere for one test and puts it back afterwards.
class ConfigHome {
 public:
  explicit ConfigHome(const std::string& value) {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) old_ = old;
    ::setenv("XDG_CONFIG_HOME", value.c_str(), 1);
  }
  ~ConfigHome() {
    if (old_) {
      ::setenv("XDG_CONFIG_HOME", old_->c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
  }
  ConfigHome(const ConfigHome&) = delete;
  ConfigHome& operator=(const ConfigHome&) = delete;

 private:
  std::optional<std::string> old_;
};

class ServerOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.Path().empty()); }
  testing::TempDir dir_;
};

TEST_F(ServerOptionsTest, Defaults) {
  const ConfigHome home("/srv/config");
  const Parsed parsed = Parse({});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  const ServerOptions& options = parsed.options;
  EXPECT_FALSE(options.headless);
  EXPECT_FALSE(options.showVersion);
  EXPECT_FALSE(options.showHelp);
  EXPECT_EQ(options.workdir, fs::current_path());
  EXPECT_EQ(options.params, fs::path("/srv/config/Kelvara Applications/Paxelle/params"));
  EXPECT_EQ(options.keystore, fs::path("/srv/config/Kelvara Applications/Paxelle/keys"));
  EXPECT_EQ(options.keystore, DefaultKeyStorePath());
  EXPECT_EQ(options.clientPort, 9000);
  EXPECT_EQ(options.host, (HostEndpoint{"localhost", "6661"}));
  EXPECT_EQ(options.secondaryHost, options.host);
  EXPECT_EQ(options.hostCa, "");
  EXPECT_TRUE(options.comDevices.Assigned().empty());
  EXPECT_EQ(options.logKeepDays, 400);
}

TEST_F(ServerOptionsTest, EveryOptionTakesItsValue) {
  const std::string ca = (dir_ / "ca.pem").string();
  testing::WriteBytes(ca, "certificates");
  const Parsed parsed = Parse({"--headless", "--workdir", dir_.Path().string(), "--params", "/etc/px/params",
                               "--keystore=/etc/px/keys", "--client-port", "19000", "--host", "127.0.0.1:7001",
                               "--secondary-host", "backup.example", "--host-ca", ca, "--com-device",
                               "1=/dev/ttyUSB0", "--com-device=3=/dev/ttyACM1", "--log-retention", "730"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  const ServerOptions& options = parsed.options;
  EXPECT_TRUE(options.headless);
  EXPECT_EQ(options.workdir, dir_.Path());
  EXPECT_EQ(options.params, fs::path("/etc/px/params"));
  EXPECT_EQ(options.keystore, fs::path("/etc/px/keys"));
  EXPECT_EQ(options.clientPort, 19000);
  EXPECT_EQ(options.host, (HostEndpoint{"127.0.0.1", "7001"}));
  EXPECT_EQ(options.secondaryHost, (HostEndpoint{"backup.example", "6661"}));
  EXPECT_EQ(options.hostCa, ca);
  EXPECT_EQ(options.comDevices.DevicePath(1), "/dev/ttyUSB0");
  EXPECT_EQ(options.comDevices.DevicePath(2), "/dev/ttyS1");
  EXPECT_EQ(options.comDevices.DevicePath(3), "/dev/ttyACM1");
  EXPECT_EQ(options.logKeepDays, 730);
  EXPECT_EQ(Parse({"--log-retention=0"}).options.logKeepDays, 0) << "0 keeps the logs for ever";
}

TEST_F(ServerOptionsTest, SecondaryHostDefaultsToThePrimaryGivenLaterOrEarlier) {
  for (const auto& args : {std::vector<std::string>{"--host", "h.example:1234"},
                           std::vector<std::string>{"--client-port", "1", "--host=h.example:1234"}}) {
    const Parsed parsed = Parse(args);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.secondaryHost, (HostEndpoint{"h.example", "1234"}));
  }
}

TEST_F(ServerOptionsTest, RelativePathsAreResolvedBeforeTheServerChangesDirectory) {
  const Parsed parsed = Parse({"--params", "cfg/../cfg/params", "--keystore", "keys", "--com-device", "2=tty"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.options.params, fs::current_path() / "cfg" / "params");
  EXPECT_EQ(parsed.options.keystore, fs::current_path() / "keys");
  EXPECT_EQ(parsed.options.comDevices.DevicePath(2), (fs::current_path() / "tty").string());
}

TEST_F(ServerOptionsTest, VersionHelpAndHeadlessAreFlags) {
  const Parsed parsed = Parse({"--version", "--help"});
  ASSERT_TRUE(parsed.ok);
  EXPECT_TRUE(parsed.options.showVersion);
  EXPECT_TRUE(parsed.options.showHelp);
  for (const char* flag : {"--headless=yes", "--version=1", "--help=x"}) {
    EXPECT_FALSE(Parse({flag}).ok) << flag;
  }
}

TEST_F(ServerOptionsTest, BadValuesAreRefusedWithTheirReason) {
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  };
  const std::string file = (dir_ / "plain").string();
  testing::WriteBytes(file, "x");
  const Case cases[] = {
      {{"--client-port", "0"}, "--client-port \"0\" is not a port number from 1 to 65535"},
      {{"--client-port", "65536"}, "--client-port \"65536\""},
      {{"--client-port", "-1"}, "--client-port \"-1\""},
      {{"--client-port", " 80"}, "--client-port \" 80\""},
      {{"--client-port", "80x"}, "--client-port \"80x\""},
      {{"--client-port", "000080"}, "--client-port \"000080\""},
      {{"--client-port"}, "--client-port needs a value"},
      {{"--client-port="}, "--client-port needs a non-empty value"},
      {{"--host", "h:0"}, "--host \"h:0\": port \"0\""},
      {{"--host", "h:"}, "--host \"h:\": port \"\""},
      {{"--host", ":6661"}, "--host \":6661\" has no host name"},
      {{"--host", "a b"}, "--host \"a b\" is not NAME[:PORT]"},
      {{"--host", "[::1]:6661"}, "--host \"[::1]:6661\" is not NAME[:PORT]"},
      {{"--secondary-host", "h:99999"}, "--secondary-host \"h:99999\""},
      {{"--com-device", "0=/dev/x"}, "--com-device COM port \"0\" is not a number from 1 to 255"},
      {{"--com-device", "1"}, "--com-device \"1\" is not N=PATH"},
      {{"--com-device", "1="}, "--com-device COM port 1 is given no device path"},
      {{"--com-device", "1=/a", "--com-device", "1=/b"}, "--com-device gives COM port 1 more than one device"},
      {{"--workdir", (dir_ / "missing").string()}, "is not a directory"},
      {{"--workdir", file}, "is not a directory"},
      {{"--host-ca", (dir_ / "missing.pem").string()}, "is not a readable file"},
      {{"--host-ca", dir_.Path().string()}, "is not a readable file"},
      {{"--params", ""}, "--params needs a non-empty value"},
      {{"--keystore"}, "--keystore needs a value"},
      {{"--client-port", "1", "--client-port", "2"}, "--client-port may be given once"},
      {{"--headless", "--headless"}, "--headless may be given once"},
      {{"--log-retention", "36501"}, "--log-retention \"36501\" is not a number of days from 0 to 36500"},
      {{"--log-retention", "-1"}, "--log-retention \"-1\" is not a number of days"},
      {{"--log-retention", "a year"}, "--log-retention \"a year\" is not a number of days"},
      {{"--bogus"}, "unknown argument \"--bogus\""},
      {{"serve"}, "unknown argument \"serve\""},
  };
  for (const Case& c : cases) {
    ServerOptions options;
    options.clientPort = 4242;
    const Status parsed = ParseServerOptions(c.args, options);
    EXPECT_FALSE(parsed.ok()) << c.args[0];
    EXPECT_NE(parsed.message().find(c.reason), std::string::npos)
        << "got: " << parsed.message() << "\nwanted: " << c.reason;
    EXPECT_EQ(options.clientPort, 4242) << "a refused command line changes nothing";
  }
}

TEST(HostEndpointTest, ParsesNameAndPort) {
  HostEndpoint endpoint;
  Status parsed = ParseHostEndpoint("127.0.0.1:65535", endpoint);
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  EXPECT_EQ(endpoint, (HostEndpoint{"127.0.0.1", "65535"}));
  parsed = ParseHostEndpoint("host-1.example.com", endpoint);
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  EXPECT_EQ(endpoint, (HostEndpoint{"host-1.example.com", "6661"}));
  EXPECT_FALSE(ParseHostEndpoint("a:b:1", endpoint).ok());
  EXPECT_EQ(endpoint, (HostEndpoint{"host-1.example.com", "6661"})) << "unchanged on failure";
}

TEST(ServerUsageTest, NamesEveryOptionAndTheKeyStoreDefault) {
  const std::string usage = ServerUsage();
  for (const char* option : {"--headless", "--workdir DIR", "--params FILE", "--keystore DIR", "--client-port N",
                             "--host NAME[:PORT]", "--secondary-host NAME[:PORT]", "--host-ca FILE",
                             "--com-device N=PATH", "--log-retention DAYS", "--version", "--help",
                             "${XDG_CONFIG_HOME:-~/.config}/Kelvara Applications/Paxelle/keys"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace paxelle
