#include "host/StateFile.h"

#include "tests/host/StateTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

namespace paxelle {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;
using Lines = std::vector<std::string>;

constexpr StateFileTexts kTexts = {"create failed", "open for read failed", "read failed",
                                   "open for write failed", "Test File", "unknown"};

TEST(TextModeBytesTest, EveryLineFeedGetsACarriageReturn) {
  EXPECT_EQ(TextModeBytes("5\r\n"), "5\r\r\n");
  EXPECT_EQ(TextModeBytes("240614001\nOPEN\n"), "240614001\r\nOPEN\r\n");
  EXPECT_EQ(TextModeBytes("no line end"), "no line end");
  EXPECT_EQ(TextModeBytes(""), "");
}

TEST(ReadStateLinesTest, ReadsLinesAsATextModeReadDoes) {
  const struct {
    const char* bytes;
    Lines lines;
  } cases[] = {
      {"1234\r\r\n", {"1234"}},
      {"240614005\r\nOPEN\r\n", {"240614005", "OPEN"}},
      {"240614005\r\r\nOPEN\r\r\n", {"240614005", "OPEN"}},
      {"240614005\nOPEN", {"240614005", "OPEN"}},
      {"a\rb\r\n", {"a\rb"}},
      {"\r\n\r\nx", {"", "", "x"}},
      {"", {}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteBytes(dir / "state.dat", c.bytes);
    Lines lines{"stale"};
    EXPECT_EQ(ReadStateLines(dir / "state.dat", lines).status, StateFileStatus::Done);
    EXPECT_EQ(lines, c.lines) << ::testing::PrintToString(std::string(c.bytes));
  }
}

TEST(ReadStateLinesTest, TellsMissingFromUnopenable) {
  TempDir dir;
  Lines lines;
  EXPECT_EQ(ReadStateLines(dir / "absent.dat", lines).status, StateFileStatus::Missing);
  WriteBytes(dir / "plain", "x");
  EXPECT_EQ(ReadStateLines(dir / "plain" / "state.dat", lines).status, StateFileStatus::Missing)
      << "a file where a directory should be means the state file does not exist";

  fs::create_directory(dir / "folder.dat");
  const StateFileResult folder = ReadStateLines(dir / "folder.dat", lines);
  EXPECT_EQ(folder.status, StateFileStatus::OpenFailed);
  EXPECT_EQ(folder.systemError, EISDIR);

  ASSERT_EQ(::mkfifo((dir / "fifo.dat").c_str(), 0600), 0);
  EXPECT_EQ(ReadStateLines(dir / "fifo.dat", lines).status, StateFileStatus::OpenFailed)
      << "a FIFO must neither block nor be read";
  EXPECT_TRUE(lines.empty());
}

TEST(ReplaceStateFileTest, WritesExactBytesAndLeavesNoTemporary) {
  TempDir dir;
  ASSERT_EQ(ReplaceStateFile(dir / "state.dat", "7\r\r\n").status, StateFileStatus::Done);
  ASSERT_EQ(ReplaceStateFile(dir / "state.dat", "8\r\r\n").status, StateFileStatus::Done);
  EXPECT_EQ(ReadBytes(dir / "state.dat"), "8\r\r\n");
  EXPECT_EQ(Listing(dir.Path()), Lines{"state.dat"});
}

TEST(ReplaceStateFileTest, LeftoverTemporaryIsNeitherReusedNorRead) {
  TempDir dir;
  WriteBytes(dir / ".state.dat.tmp-AAAAAA", "999\r\r\n");
  WriteBytes(dir / "state.dat", "1\r\r\n");
  ASSERT_EQ(ReplaceStateFile(dir / "state.dat", "2\r\r\n").status, StateFileStatus::Done);
  EXPECT_EQ(ReadBytes(dir / "state.dat"), "2\r\r\n");
  EXPECT_EQ(ReadBytes(dir / ".state.dat.tmp-AAAAAA"), "999\r\r\n");
  EXPECT_EQ(Listing(dir.Path()), (Lines{".state.dat.tmp-AAAAAA", "state.dat"}));
}

TEST(ReplaceStateFileTest, FailuresTouchNothing) {
  TempDir dir;
  const StateFileResult noDirectory = ReplaceStateFile(dir / "absent" / "state.dat", "1");
  EXPECT_EQ(noDirectory.status, StateFileStatus::OpenFailed);
  EXPECT_EQ(noDirectory.systemError, ENOENT);
  EXPECT_FALSE(fs::exists(dir / "absent")) << "directories are never created";

  fs::create_directory(dir / "state.dat");
  const StateFileResult overDirectory = ReplaceStateFile(dir / "state.dat", "1");
  EXPECT_EQ(overDirectory.status, StateFileStatus::IoFailed);
  EXPECT_EQ(overDirectory.systemError, EISDIR);
  EXPECT_TRUE(fs::is_directory(dir / "state.dat"));
  EXPECT_EQ(Listing(dir.Path()), Lines{"state.dat"}) << "the temporary is removed";
}

TEST(LoadStateLinesTest, EachFailureGetsItsText) {
  TempDir dir;
  WriteBytes(dir / "short.dat", "only one line\r\n");
  fs::create_directory(dir / "folder.dat");
  const struct {
    fs::path path;
    std::string text;
  } cases[] = {
      {dir / "absent" / "state.dat", "create failed"},
      {dir / "folder.dat", "open for read failed"},
      {dir / "short.dat", "read failed"},
  };
  for (const auto& c : cases) {
    Lines lines;
    std::vector<StateNote> notes;
    EXPECT_FALSE(LoadStateLines(c.path, "a\r\nb\r\n", 2, kTexts, lines, notes));
    EXPECT_TRUE(lines.empty());
    ASSERT_EQ(notes.size(), 1u) << c.path;
    EXPECT_EQ(notes[0].text, c.text);
    EXPECT_NE(notes[0].detail.find(c.path.string()), std::string::npos) << notes[0].detail;
  }
  EXPECT_EQ(ReadBytes(dir / "short.dat"), "only one line\r\n");
}

TEST(ReportStateNotesTest, AppendsTextsVerbatimAndLogsThemWithDetail) {
  testing::LoggedWorkingDirectory cwd;
  const Status reported =
      ReportStateNotes({{"First failure...", "./a.dat: Permission denied"}, {"Second note..", ""}}, cwd.Log());
  EXPECT_EQ(reported.message(), "First failure...Second note..");
  const std::string logged = cwd.Logged();
  EXPECT_NE(logged.find("First failure... (./a.dat: Permission denied)\r\n"), std::string::npos)
      << logged;
  EXPECT_NE(logged.find("Second note..\r\n"), std::string::npos) << logged;
}

}  // namespace
}  // namespace paxelle
