#include "dial/ComDevices.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

TEST(ComDevicesTest, UnassignedPortsAreTheMachinesSerialPorts) {
  const ComDevices devices;
  EXPECT_EQ(devices.DevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(devices.DevicePath(4), "/dev/ttyS3");
  EXPECT_EQ(devices.DevicePath(255), "/dev/ttyS254");
  EXPECT_EQ(devices.DevicePath(0), "");
  EXPECT_EQ(devices.DevicePath(256), "");
  EXPECT_EQ(devices.DevicePath(-1), "");
}

TEST(ComDevicesTest, AssignmentReplacesOnlyItsPort) {
  ComDevices devices;
  ASSERT_TRUE(devices.Assign(2, "/dev/ttyUSB0"));
  EXPECT_EQ(devices.DevicePath(2), "/dev/ttyUSB0");
  EXPECT_EQ(devices.DevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(devices.DevicePath(3), "/dev/ttyS2");
}

TEST(ComDevicesTest, LocalModeBelongsToItsPort) {
  ComDevices devices;
  ASSERT_TRUE(devices.Assign(1, "/dev/ttyUSB0", true));
  ASSERT_TRUE(devices.Assign(2, "/dev/ttyUSB1"));
  EXPECT_TRUE(devices.IsLocal(1));
  EXPECT_FALSE(devices.IsLocal(2));
  EXPECT_FALSE(devices.IsLocal(3));
  EXPECT_FALSE(devices.Assign(2, "/dev/ttyUSB2", true));
  EXPECT_FALSE(devices.IsLocal(2)) << "a refused assignment changes nothing";
}

TEST(ComDevicesTest, RefusedAssignmentsChangeNothing) {
  ComDevices devices;
  ASSERT_TRUE(devices.Assign(1, "/dev/ttyUSB0"));
  EXPECT_FALSE(devices.Assign(1, "/dev/ttyUSB1")) << "a port gets one device";
  EXPECT_FALSE(devices.Assign(0, "/dev/ttyUSB1"));
  EXPECT_FALSE(devices.Assign(256, "/dev/ttyUSB1"));
  EXPECT_FALSE(devices.Assign(5, ""));
  EXPECT_EQ(devices.DevicePath(1), "/dev/ttyUSB0");
  EXPECT_EQ(devices.DevicePath(5), "/dev/ttyS4");
  EXPECT_EQ(devices.Assigned().size(), 1u);
}

TEST(ComDevicesTest, ParsesAssignments) {
  struct Case {
    const char* text;
    int port;
    const char* path;
    bool local;
  };
  for (const Case& c : {Case{"1=/dev/ttyUSB0", 1, "/dev/ttyUSB0", false}, Case{"255=/tmp/a=b", 255, "/tmp/a=b", false},
                        Case{"007=modem", 7, "modem", false}, Case{"2=/dev/ttyUSB1,local", 2, "/dev/ttyUSB1", true},
                        Case{"3=/tmp/a,b", 3, "/tmp/a,b", false}}) {
    int port = 0;
    std::string path;
    bool local = !c.local;
    const Status parsed = ParseComDeviceAssignment(c.text, port, path, local);
    EXPECT_TRUE(parsed.ok()) << c.text << ": " << parsed.message();
    EXPECT_EQ(port, c.port) << c.text;
    EXPECT_EQ(path, c.path) << c.text;
    EXPECT_EQ(local, c.local) << c.text;
  }
}

TEST(ComDevicesTest, RefusesMalformedAssignmentsWithAReason) {
  for (const char* text : {"", "1", "/dev/ttyS0", "0=/dev/x", "256=/dev/x", "1000=/dev/x", "-1=/dev/x",
                           "+1=/dev/x", " 1=/dev/x", "a=/dev/x", "=/dev/x", "1=", "1=,local"}) {
    int port = 42;
    std::string path = "unchanged";
    bool local = false;
    const Status parsed = ParseComDeviceAssignment(text, port, path, local);
    EXPECT_FALSE(parsed.ok()) << text;
    EXPECT_FALSE(parsed.message().empty()) << text;
    EXPECT_EQ(port, 42) << text;
    EXPECT_EQ(path, "unchanged") << text;
  }
}

}  // namespace
}  // namespace paxelle
