// What manual pages are made from: every executable answers --help and
// --version on standard output, and all of them name the same version.
#include "core/Version.h"
#include "tests/config/TempDir.h"
#include "tests/e2e/E2eSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace paxelle::e2e {
namespace {

using std::chrono::seconds;

// The version number the server states, e.g. "5.10".
std::string ServerVersionNumber() {
  const std::string text(kServerVersionText);
  return text.substr(text.rfind(' ') + 1);
}

TEST(CommandLinesTest, EveryExecutableAnswersHelpAndVersion) {
  testing::TempDir scratch;
  const struct {
    std::string name;
    std::string version;  // the whole --version line
    std::string usage;    // how --help begins
  } cases[] = {
      {"paxelle", std::string(kServerVersionText), "Usage: paxelle "},
      {"paxelle-window", std::string(kServerVersionText), "Usage: paxelle-window "},
      {"opx-lane", "opx-lane (Paxelle) " + ServerVersionNumber(), "usage: opx-lane "},
      {"paxelle-hostsim", "paxelle-hostsim (Paxelle) " + ServerVersionNumber(), "Usage: paxelle-hostsim "},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string path = std::string(PAXELLE_BIN_DIR) + "/" + test.name;
    const ToolResult version = RunToEnd({path, "--version"}, scratch.Path(), seconds(30));
    EXPECT_EQ(version.exitCode, 0) << version.err;
    EXPECT_EQ(version.out, test.version + "\n");
    EXPECT_EQ(version.err, "");

    const ToolResult help = RunToEnd({path, "--help"}, scratch.Path(), seconds(30));
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_TRUE(help.out.starts_with(test.usage)) << help.out;
    EXPECT_NE(help.out.find("--help"), std::string::npos);
    EXPECT_NE(help.out.find("--version"), std::string::npos);
    EXPECT_EQ(help.err, "");
  }
}

}  // namespace
}  // namespace paxelle::e2e
