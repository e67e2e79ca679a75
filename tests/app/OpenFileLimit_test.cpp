// The server starts with its soft open-file limit at the hard limit.
#include "app/OpenFileLimit.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace paxelle {
namespace {

TEST(OpenFileLimitTest, SoftLimitIsRaisedToTheHardLimit) {
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max <= 64) GTEST_SKIP() << "the hard limit leaves no room to lower the soft one";
  // A service's low default, as the server may be started with.
  rlimit lowered = limit;
  lowered.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);

  std::string note;
  EXPECT_TRUE(RaiseOpenFileLimit(note)) << note;
  rlimit after{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &after), 0);
  EXPECT_EQ(after.rlim_cur, limit.rlim_max);
  EXPECT_NE(note.find("raised from 64 to"), std::string::npos) << note;

  EXPECT_TRUE(RaiseOpenFileLimit(note)) << "at the hard limit already: " << note;
}

}  // namespace
}  // namespace paxelle
