// `paxelle` without --headless becomes `paxelle-window`, found beside it, with
// the same arguments; without one it says how to get it. The real executables,
// and copies of `paxelle` in a directory of the test's own.
#include "tests/config/TempDir.h"
#include "tests/e2e/E2eSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace paxelle::e2e {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

const std::string kBin = PAXELLE_BIN_DIR;

// `program` with no display reachable, whatever the test's own environment.
std::vector<std::string> WithoutDisplay(std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb"});
  return argv;
}

class WindowHandOverTest : public ::testing::Test {
 protected:
  // A copy of the server alone in a directory, with `window` as its
  // paxelle-window when not empty (a script).
  fs::path ServerCopy(const std::string& window) {
    const fs::path bin = dir_ / "bin";
    fs::create_directories(bin);
    fs::copy_file(kBin + "/paxelle", bin / "paxelle", fs::copy_options::overwrite_existing);
    if (!window.empty()) {
      testing::WriteBytes(bin / "paxelle-window", window);
      fs::permissions(bin / "paxelle-window", fs::perms::owner_all);
    }
    return bin / "paxelle";
  }

  testing::TempDir dir_;
};

TEST_F(WindowHandOverTest, TheRealWindowIsReachedAndSaysWhatItLacks) {
  const fs::path work = dir_ / "work";
  fs::create_directories(work);
  const ToolResult result =
      RunToEnd(WithoutDisplay({kBin + "/paxelle", "--workdir", work.string()}), dir_.Path(), seconds(30));
  EXPECT_EQ(result.exitCode, 2) << result.err;
  EXPECT_NE(result.err.find("paxelle-window: no display to open the window on; use paxelle --headless"),
            std::string::npos)
      << result.err;
  EXPECT_TRUE(testing::Listing(work).empty()) << "nothing was started";
}

TEST_F(WindowHandOverTest, TheWindowGetsTheSameArguments) {
  const fs::path server = ServerCopy("#!/bin/sh\nprintf '<%s>' \"$@\"\n");
  const ToolResult result = RunToEnd(
      {server.string(), "--client-port", "9100", "--host=127.0.0.1:6662", "--workdir", dir_.Path().string()},
      dir_.Path(), seconds(30));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "<--client-port><9100><--host=127.0.0.1:6662><--workdir><" + dir_.Path().string() + ">");
}

TEST_F(WindowHandOverTest, WithoutTheWindowTheServerSaysHowToGetItOrGoHeadless) {
  const fs::path server = ServerCopy("");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string says;
  } const cases[] = {
      {{}, 2, "is not installed: install the package paxelle-window for it,\nor run the server without a "
              "window: paxelle --headless"},
      // The command line is checked before the hand-over, window or not.
      {{"--bogus"}, 2, "paxelle: unknown argument \"--bogus\""},
      {{"--help"}, 0, ""},
      {{"--version"}, 0, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {server.string()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(argv.size() > 1 ? argv[1] : "no arguments");
    const ToolResult result = RunToEnd(argv, dir_.Path(), seconds(30));
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    if (c.says.empty()) {
      EXPECT_EQ(result.err, "");
    }
  }
}

TEST_F(WindowHandOverTest, TheWindowLeavesTheHeadlessServerAndTheCommandsToPaxelle) {
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--headless"}, "paxelle-window: --headless is paxelle's: paxelle --headless ..."},
      {{"params", "show"}, "paxelle-window: the params command is paxelle's: paxelle params ..."},
      {{"--client-port", "0"}, "paxelle-window: --client-port \"0\" is not a port number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> argv = {kBin + "/paxelle-window"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ToolResult result = RunToEnd(argv, dir_.Path(), seconds(30));
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Usage: paxelle-window [OPTION]..."), std::string::npos) << result.err;
  }
}

}  // namespace
}  // namespace paxelle::e2e
