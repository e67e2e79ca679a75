#include "app/ParamsCommand.h"

#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <optional>
#include <sstream>

namespace paxelle {
namespace {

using testing::Listing;
using testing::Mode;
using testing::ReadBytes;
using testing::WriteBytes;
namespace fs = std::filesystem;

constexpr const char* kDefaultLine =
    "2;23;000000000000000;00000000;0;0;N;N;N;;N;Y;N;N;0400;0;1;;18005550199;3;0; ;1;00;0;";

struct CommandResult {
  int exitCode;
  std::string out;
  std::string err;
};

class ParamsCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    path_ = dir_ / "params";
    store_.SetPath(path_);
  }

  CommandResult Run(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunParamsCommand(args, store_, out, err);
    return {code, out.str(), err.str()};
  }

  bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  testing::TempDir dir_;
  fs::path path_;
  CParamStore store_;
};

TEST_F(ParamsCommandTest, SetStoresValuesThatShowThenLists) {
  const CommandResult set = Run({"set", "1=123456789012345", "2=12345678"});
  ASSERT_EQ(set.exitCode, kParamsExitOk) << set.err;
  EXPECT_EQ(Mode(path_), fs::perms::owner_read | fs::perms::owner_write);

  const CommandResult show = Run({"show"});
  ASSERT_EQ(show.exitCode, kParamsExitOk) << show.err;
  EXPECT_TRUE(Contains(show.out, "01 MERCHANT ID = 123456789012345\n")) << show.out;
  EXPECT_TRUE(Contains(show.out, "02 TERMINAL ID = 12345678\n")) << show.out;
  EXPECT_TRUE(Contains(show.out, "00 NUMPARMS = 23\n"));
  EXPECT_TRUE(Contains(show.out, "23 LANE IDS = 0\n"));
  EXPECT_TRUE(Contains(show.out, "\nConfiguration: ParamsReady\nFile: " + path_.string() + "\n"))
      << show.out;
  EXPECT_EQ(std::count(show.out.begin(), show.out.end(), '\n'), 26) << "24 entries, state, file";
}

TEST_F(ParamsCommandTest, ShowOfNothingStoredListsTheDefaultsAndStoresNothing) {
  const CommandResult show = Run({"show"});
  ASSERT_EQ(show.exitCode, kParamsExitOk) << show.err;
  EXPECT_TRUE(Contains(show.out, "Configuration: ParamsNotSet\n"));
  EXPECT_TRUE(Contains(show.out, "08 TOLA CLIENT/SERVER PASSWORD = \n")) << "empty stays empty";
  EXPECT_TRUE(Contains(show.out, "File: " + path_.string() + " (not stored)\n")) << show.out;
  EXPECT_TRUE(Listing(dir_.Path()).empty());
}

TEST_F(ParamsCommandTest, PasswordIsNeverShownInClear) {
  ASSERT_EQ(Run({"set", "7=Y", "8=Tr1cky pw"}).exitCode, kParamsExitOk);
  const CommandResult show = Run({"show"});
  EXPECT_TRUE(Contains(show.out, "08 TOLA CLIENT/SERVER PASSWORD = ********\n")) << show.out;
  EXPECT_FALSE(Contains(show.out + show.err, "Tr1cky"));

  const CommandResult refused = Run({"set", "8=far too long a password"});
  EXPECT_EQ(refused.exitCode, kParamsExitRefused);
  EXPECT_TRUE(Contains(refused.err, "entry 8 (TOLA CLIENT/SERVER PASSWORD): the value is not at most 12"))
      << refused.err;
  EXPECT_FALSE(Contains(refused.err, "far too long"));
}

TEST_F(ParamsCommandTest, RefusedValueSaysWhyAndStoresNothing) {
  ASSERT_EQ(Run({"set", "1=123456789012345"}).exitCode, kParamsExitOk);
  const std::string before = ReadBytes(path_);

  const CommandResult refused = Run({"set", "2=87654321", "1=12345"});
  EXPECT_EQ(refused.exitCode, kParamsExitRefused);
  EXPECT_TRUE(Contains(refused.err, "entry 1 (MERCHANT ID): \"12345\" is not 15 digits")) << refused.err;
  EXPECT_TRUE(refused.out.empty());
  EXPECT_EQ(ReadBytes(path_), before) << "the valid entry 2 was not stored either";
}

TEST_F(ParamsCommandTest, EveryRefusalIsReported) {
  ASSERT_EQ(Run({"reset"}).exitCode, kParamsExitOk);
  const CommandResult refused =
      Run({"set", "10=y", "20=tab\there", "24=1", "x=1", "=1", "123=1", "noequals", "22=a-b", "3=12"});
  EXPECT_EQ(refused.exitCode, kParamsExitRefused);
  for (const char* reason : {
           "entry 10 (VERIFY SSL CERTIFICATE): \"y\" is not \"Y\" or \"N\" (upper case)",
           "entry 20 (PARTNER NAME): \"tab\\x09here\" is not 1 to 40 printable ASCII characters",
           "entry \"24\": there is no such entry (entries are 0 to 23)",
           "entry \"x\": there is no such entry",
           "entry \"\": there is no such entry",
           "entry \"123\": there is no such entry",
           "argument 7 is not of the form N=VALUE",
           "entry 22 (LANE SPECIAL): \"a-b\" is not 2 to 6 letters or digits",
           "entry 3 (CHECK DIGIT): \"12\" is not 1 digit",
       }) {
    EXPECT_TRUE(Contains(refused.err, reason)) << reason << "\n" << refused.err;
  }
  EXPECT_EQ(ReadBytes(path_), kDefaultLine);
}

TEST_F(ParamsCommandTest, SemicolonIsRefusedEvenWhereTheTypeAllowsIt) {
  ASSERT_EQ(Run({"reset"}).exitCode, kParamsExitOk);
  for (const char* assignment : {"20=Smith;Jones", "8=pa;ss", "16=9;"}) {
    const CommandResult refused = Run({"set", assignment});
    EXPECT_EQ(refused.exitCode, kParamsExitRefused) << assignment;
    EXPECT_TRUE(Contains(refused.err, "must not contain \";\"")) << refused.err;
    EXPECT_FALSE(Contains(refused.err, "pa;ss"));
  }
  EXPECT_EQ(ReadBytes(path_), kDefaultLine);
}

TEST_F(ParamsCommandTest, EmptyValueIsOfferedLikeAnyOther) {
  ASSERT_EQ(Run({"set", "8=secret", "16=9"}).exitCode, kParamsExitOk);
  ASSERT_EQ(Run({"set", "8=", "16="}).exitCode, kParamsExitOk);
  EXPECT_EQ(store_.GetParams().GetValue(kParamPassword), "");
  EXPECT_EQ(store_.GetParams().GetValue(kParamDialPrefix), "");
  EXPECT_EQ(Run({"set", "1="}).exitCode, kParamsExitRefused);
}

TEST_F(ParamsCommandTest, AnIdentifyingEntryThatFailedItsCheckIsMarkedAndMustBeGivenAgain) {
  // Entry 1 edited by hand into a value that fails its check.
  std::string line(kDefaultLine);
  line.replace(line.find("000000000000000"), 15, "12345678901234X");
  WriteBytes(path_, line);

  const CommandResult show = Run({"show"});
  ASSERT_EQ(show.exitCode, kParamsExitOk) << show.err;
  EXPECT_TRUE(Contains(show.out, "01 MERCHANT ID = 000000000000000   <- INVALID in the file")) << show.out;
  EXPECT_TRUE(Contains(show.out, "Configuration: ParamsInvalid\n"));

  const CommandResult other = Run({"set", "4=2"});
  EXPECT_EQ(other.exitCode, kParamsExitRefused);
  EXPECT_TRUE(Contains(other.err, "give the entry a value in the same command")) << other.err;
  EXPECT_EQ(ReadBytes(path_), line) << "nothing stored: the default must not replace the merchant";

  ASSERT_EQ(Run({"set", "1=123456789012345", "4=2"}).exitCode, kParamsExitOk);
  EXPECT_TRUE(Contains(Run({"show"}).out, "Configuration: ParamsReady\n"));
}

TEST_F(ParamsCommandTest, SetLineStoresAWholeValidLine) {
  const std::string line =
      "2;23;123456789012345;12345678;7;4;Y;N;Y;pw;N;Y;N;Y;2300;1;2;9,;18005551234;5;2;Partner;2;AB;1,2;";
  const CommandResult result = Run({"set-line", line});
  ASSERT_EQ(result.exitCode, kParamsExitOk) << result.err;
  EXPECT_EQ(ReadBytes(path_), line);
  EXPECT_EQ(store_.GetParams().GetValue(kParamLaneIds), "1,2");
  EXPECT_EQ(Run({"show"}).exitCode, kParamsExitOk);
  EXPECT_EQ(store_.GetConfigurationState(), ConfigurationState::ParamsReady);
}

TEST_F(ParamsCommandTest, SetLineRefusesInsteadOfDefaulting) {
  ASSERT_EQ(Run({"set", "1=123456789012345"}).exitCode, kParamsExitOk);
  const std::string before = ReadBytes(path_);
  const std::string good(kDefaultLine);

  struct Case {
    std::string line;
    std::string reason;
  };
  const Case cases[] = {
      {"3" + good.substr(1), "format version is \"3\", not \"2\""},
      {"", "format version is \"\""},
      {"2;23;12345;", "the line holds 2 values; it must hold 24"},
      {good + "extra;", "the line holds 25 values"},
      {"2;23;12345" + good.substr(20), "entry 1 (MERCHANT ID): \"12345\" is not 15 digits"},
      {"2;23;000000000000000;00000000;0;0;N;N;n;;N;Y;N;N;0400;0;1;;18005550199;3;0; ;1;00;0;",
       "entry 7 (USE TOLA CLIENT/SERVER PASSWORD): \"n\" is not \"Y\" or \"N\""},
  };
  for (const Case& c : cases) {
    const CommandResult result = Run({"set-line", c.line});
    EXPECT_EQ(result.exitCode, kParamsExitRefused) << c.line;
    EXPECT_TRUE(Contains(result.err, c.reason)) << c.reason << "\n" << result.err;
    EXPECT_EQ(ReadBytes(path_), before);
  }
}

TEST_F(ParamsCommandTest, ResetStoresTheDefaults) {
  ASSERT_EQ(Run({"set", "1=123456789012345"}).exitCode, kParamsExitOk);
  EXPECT_EQ(Run({"reset"}).exitCode, kParamsExitOk);
  EXPECT_EQ(ReadBytes(path_), kDefaultLine);
  EXPECT_EQ(store_.GetConfigurationState(), ConfigurationState::ParamsNotSet);
}

TEST_F(ParamsCommandTest, SetKeepsALineOfAnotherVersionAsideAndShowOnlySaysWhy) {
  const std::string versionThree = "3" + std::string(kDefaultLine).substr(1);
  WriteBytes(path_, versionThree);
  const CommandResult show = Run({"show"});
  EXPECT_EQ(show.exitCode, kParamsExitRefused);
  EXPECT_TRUE(Contains(show.err, "not one this version can read")) << show.err;
  EXPECT_EQ(Listing(dir_.Path()), std::vector<std::string>{"params"});
  EXPECT_EQ(ReadBytes(path_), versionThree);

  const CommandResult set = Run({"set", "1=123456789012345"});
  ASSERT_EQ(set.exitCode, kParamsExitOk) << set.err;
  EXPECT_TRUE(Contains(set.err, "kept as ")) << set.err;
  const std::vector<std::string> names = Listing(dir_.Path());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(ReadBytes(dir_ / names[1]), versionThree);
}

TEST_F(ParamsCommandTest, UnreadableFileStopsShowAndSet) {
  fs::create_directories(path_);  // a directory where the file should be
  EXPECT_EQ(Run({"show"}).exitCode, kParamsExitFailed);
  const CommandResult set = Run({"set", "1=123456789012345"});
  EXPECT_EQ(set.exitCode, kParamsExitFailed);
  EXPECT_TRUE(Contains(set.err, path_.string())) << set.err;
  EXPECT_TRUE(fs::is_directory(path_));
}

TEST_F(ParamsCommandTest, FailedWriteExitsOne) {
  WriteBytes(dir_ / "file", "x");
  store_.SetPath(dir_ / "file" / "params");
  const CommandResult result = Run({"set-line", kDefaultLine});
  EXPECT_EQ(result.exitCode, kParamsExitFailed);
  EXPECT_TRUE(Contains(result.err, "(10004)")) << result.err;
  EXPECT_EQ(Run({"reset"}).exitCode, kParamsExitFailed);
}

TEST_F(ParamsCommandTest, BadUsageShowsTheUsage) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"list"}, {"set"}, {"show", "extra"}, {"set-line"}, {"set-line", "a", "b"}, {"reset", "1"}}) {
    const CommandResult result = Run(args);
    EXPECT_EQ(result.exitCode, kParamsExitRefused);
    EXPECT_TRUE(Contains(result.err, "Usage: paxelle params")) << result.err;
  }
  EXPECT_FALSE(fs::exists(path_)) << "nothing was loaded or stored";
}

TEST(DescribeRefusal, NamesTheRule) {
  struct Case {
    CParamSpec spec;
    std::string value;
    bool hide;
    std::string expected;
  };
  const Case cases[] = {
      {CParamSpec("NS1", 15, 15), "12345", false, "\"12345\" is not 15 digits"},
      {CParamSpec("NS1", 1, 11), "1-800", false, "\"1-800\" is not 1 to 11 digits"},
      {CParamSpec("YN1", 0, 0), "yes", false, "\"yes\" is not \"Y\" or \"N\" (upper case)"},
      {CParamSpec("AN2", 0, 12), "x", true, "the value is not at most 12 printable ASCII characters"},
      {CParamSpec("AN2", 1, 40), "\"\x80", false, "\"\\\"\\x80\" is not 1 to 40 printable ASCII"},
  };
  for (const Case& c : cases) {
    const std::string text = DescribeRefusal(c.spec, c.value, c.hide);
    EXPECT_EQ(text.rfind(c.expected, 0), 0u) << text;
  }
}

// The real executable, run in `directory` with its output captured.
CommandResult RunPaxelle(const fs::path& directory, const std::string& arguments) {
  const fs::path out = directory / "stdout.txt";
  const fs::path err = directory / "stderr.txt";
  const std::string command = "cd '" + directory.string() + "' && '" PAXELLE_BIN_DIR "/paxelle' " +
                              arguments + " >'" + out.string() + "' 2>'" + err.string() + "'";
  const int status = std::system(command.c_str());
  CommandResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBytes(out), ReadBytes(err)};
  fs::remove(out);
  fs::remove(err);
  return result;
}

class PaxelleBinaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    fs::create_directories(dir_ / "run");
    params_ = (dir_ / "cfg" / "params").string();
  }
  CommandResult Run(const std::string& arguments) { return RunPaxelle(dir_ / "run", arguments); }

  testing::TempDir dir_;
  std::string params_;
};

TEST_F(PaxelleBinaryTest, ParamsSetThenShow) {
  const CommandResult set = Run("--params " + params_ + " params set 1=123456789012345 2=12345678");
  ASSERT_EQ(set.exitCode, 0) << set.err;
  EXPECT_EQ(Mode(params_), fs::perms::owner_read | fs::perms::owner_write);

  const CommandResult show = Run("params show --params " + params_);
  ASSERT_EQ(show.exitCode, 0) << show.err;
  EXPECT_NE(show.out.find("01 MERCHANT ID = 123456789012345\n"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("02 TERMINAL ID = 12345678\n"), std::string::npos);
  EXPECT_NE(show.out.find("Configuration: ParamsReady\n"), std::string::npos);

  const std::string before = ReadBytes(params_);
  const CommandResult refused = Run("params --params " + params_ + " set 1=12345");
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.err.find("\"12345\" is not 15 digits"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadBytes(params_), before);

  EXPECT_EQ(Run("--params " + params_ + " params set '20=a;b'").exitCode, 2);
  EXPECT_EQ(ReadBytes(params_), before);
}

// Showing reads only: whatever the file holds, or when there is none, the
// folder's listing and every byte in it are the same afterwards.
TEST_F(PaxelleBinaryTest, ShowChangesNothingOnDisk) {
  const fs::path folder = fs::path(params_).parent_path();
  const std::string versionThree = "3" + std::string(kDefaultLine).substr(1);
  struct Case {
    const char* name;
    std::optional<std::string> stored;
    int exitCode;
    const char* says;
  };
  const Case cases[] = {
      {"no file", std::nullopt, 0, "(not stored)"},
      {"another version's line", versionThree, 2, "not one this version can read"},
      {"a stored line", std::string(kDefaultLine), 0, "Configuration: ParamsNotSet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    if (c.stored) WriteBytes(params_, *c.stored);
    const std::vector<std::string> before = Listing(folder);
    const CommandResult show = Run("--params " + params_ + " params show");
    EXPECT_EQ(show.exitCode, c.exitCode) << show.err;
    EXPECT_NE((show.out + show.err).find(c.says), std::string::npos) << show.out << show.err;
    EXPECT_EQ(Listing(folder), before);
    if (c.stored) {
      EXPECT_EQ(ReadBytes(params_), *c.stored);
    }
  }
}

TEST_F(PaxelleBinaryTest, VersionHelpAndBadUsage) {
  const CommandResult version = Run("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "Paxelle XML Version WH 5.10\n");

  const CommandResult help = Run("--help");
  EXPECT_EQ(help.exitCode, 0);
  // One synopsis line per form, as the manual page's SYNOPSIS is made from them.
  EXPECT_EQ(help.out.rfind("Usage: paxelle --headless [OPTION]...\n"
                           "  or:  paxelle [OPTION]...\n"
                           "  or:  paxelle params show [--params FILE]\n"
                           "  or:  paxelle params set N=VALUE... [--params FILE]\n"
                           "  or:  paxelle params set-line LINE [--params FILE]\n"
                           "  or:  paxelle params reset [--params FILE]\n",
                           0),
            0u)
      << help.out;

  for (const char* arguments : {"--bogus", "--client-port 0", "params", "params frobnicate", "--params",
                                "--params '' params show", "--params a --params b params show"}) {
    const CommandResult bad = Run(arguments);
    EXPECT_EQ(bad.exitCode, 2) << arguments;
    EXPECT_NE(bad.err.find("Usage: paxelle"), std::string::npos) << arguments << "\n" << bad.err;
    EXPECT_TRUE(bad.out.empty()) << arguments;
  }
  EXPECT_EQ(Listing(dir_ / "run"), std::vector<std::string>{}) << "nothing was written";
}

}  // namespace
}  // namespace paxelle
