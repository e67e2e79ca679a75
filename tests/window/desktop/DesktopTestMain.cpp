// The window's tests on a real X server with a real window manager
// (scripts/desktop-tests starts both): what the offscreen platform cannot
// show, a title bar's close, a tray, a display that goes away.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  // A desktop's tray over D-Bus would take the icon away from the X tray the
  // window manager offers.
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
