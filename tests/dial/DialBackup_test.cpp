#include "dial/DialBackup.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

TEST(DialBackupRealDeviceTest, NonexistentComDevice) {
  ComDevices devices;
  ASSERT_TRUE(devices.Assign(1, "/nonexistent/paxelle-tty"));
  CDialBackup backup(std::move(devices));
  EXPECT_FALSE(backup.Start(1));
  EXPECT_EQ(backup.LastError(), "Could not Open Com Port 1.");
}

}  // namespace
}  // namespace paxelle
