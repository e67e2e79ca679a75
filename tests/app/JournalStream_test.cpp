#include "app/JournalStream.h"

#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paxelle {
namespace {

// The service manager names the journal's stream by its device and inode; a
// descriptor redirected elsewhere keeps the variable but is not the journal.
TEST(JournalStreamTest, OnlyTheFileTheVariableNames) {
  testing::TempDir dir;
  testing::WriteBytes(dir / "journal", "");
  testing::WriteBytes(dir / "other", "");
  const int journal = ::open((dir / "journal").c_str(), O_WRONLY | O_CLOEXEC);
  const int other = ::open((dir / "other").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(journal, 0);
  ASSERT_GE(other, 0);
  struct stat status {};
  ASSERT_EQ(::fstat(journal, &status), 0);
  const std::string named = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
  const struct {
    int fd;
    std::string variable;
    bool journal;
  } cases[] = {
      {journal, named, true},
      {other, named, false},
      {journal, std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino + 1), false},
      {journal, "", false},
      {journal, "garbage", false},
      {-1, named, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsJournalStream(c.fd, c.variable), c.journal) << c.fd << " " << c.variable;
  }
  ::close(journal);
  ::close(other);
}

}  // namespace
}  // namespace paxelle
