#include "tools/hostsim/SimOptions.h"

#include <gtest/gtest.h>

namespace paxelle::hostsim {
namespace {

TEST(SimOptionsTest, ReadsEveryOptionInBothSpellings) {
  SimOptions options;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--port", "6661", "--cert=c.pem", "--key", "k.pem", "--journal=j.txt", "--delay-ms",
                               "250"},
                              options, error))
      << error;
  EXPECT_EQ(options.port, 6661);
  EXPECT_EQ(options.certFile, "c.pem");
  EXPECT_EQ(options.keyFile, "k.pem");
  EXPECT_EQ(options.journalFile, "j.txt");
  EXPECT_EQ(options.delay, std::chrono::milliseconds(250));
  EXPECT_FALSE(options.help);

  SimOptions defaults;
  ASSERT_TRUE(ParseSimOptions({"--port", "0", "--cert", "c", "--key", "k"}, defaults, error));
  EXPECT_EQ(defaults.delay, std::chrono::milliseconds(2000));
  EXPECT_EQ(defaults.journalFile, "");

  SimOptions help;
  EXPECT_TRUE(ParseSimOptions({"--help"}, help, error)) << "nothing else is required with --help";
  EXPECT_TRUE(help.help);

  SimOptions version;
  EXPECT_TRUE(ParseSimOptions({"--version"}, version, error)) << "nor with --version";
  EXPECT_TRUE(version.version);
  EXPECT_FALSE(version.help);
}

TEST(SimOptionsTest, RefusesWhatItCannotUse) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "--port, --cert and --key are required"},
      {{"--port", "0", "--cert", "c"}, "--port, --cert and --key are required"},
      {{"--port", "65536", "--cert", "c", "--key", "k"}, "--port must be a number from 0 to 65535, not \"65536\""},
      {{"--port", "-1", "--cert", "c", "--key", "k"}, "--port must be a number from 0 to 65535, not \"-1\""},
      {{"--port", "0", "--cert", "c", "--key", "k", "--delay-ms", "600001"},
       "--delay-ms must be a number from 0 to 600000, not \"600001\""},
      {{"--port", "0", "--cert", "c", "--key"}, "--key needs a value"},
      {{"--port", "0", "--cert=", "--key", "k"}, "--cert needs a non-empty value"},
      {{"--verbose"}, "unknown option --verbose"},
  };
  for (const auto& [args, message] : cases) {
    SimOptions options;
    std::string error;
    EXPECT_FALSE(ParseSimOptions(args, options, error)) << message;
    EXPECT_EQ(error, message);
  }
}

}  // namespace
}  // namespace paxelle::hostsim
