// On a real X server under a real window manager: a close sent through the
// window manager always asks, the tray icon brings a hidden window back
// whatever entry 11 says now, and losing the display stops the interfaces.
#include "app/window/MainFrame.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/window/WindowTestSupport.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace paxelle {
namespace {

using std::chrono::seconds;
using windowtest::BoxAnswerer;
using windowtest::OpenWindow;
using windowtest::ParamsWith;

constexpr char kDesktopCloseQuestion[] =
    "Closing this window stops the payment server: card processing stops until the server is started "
    "again.\n\nAre you SURE you want to do this?";
constexpr int kWaitLimitMs = 5000;

std::string WindowId(const QWidget& window) {
  char id[32];
  std::snprintf(id, sizeof id, "0x%llx", static_cast<unsigned long long>(window.winId()));
  return id;
}

// Runs an X tool of the desktop pass (wmctrl, xdotool) to its end.
bool RunTool(const std::vector<std::string>& argv) {
  const std::filesystem::path scratch = std::filesystem::temp_directory_path();
  const e2e::ToolResult result = e2e::RunToEnd(argv, scratch, seconds(10));
  EXPECT_EQ(result.exitCode, 0) << argv[0] << ": " << result.err;
  return result.exitCode == 0;
}

// Whether the window manager has taken `window` over: it has told the size
// of the frame it put around it.
bool Managed(const QWidget& window) {
  return QTest::qWaitFor([&] { return window.frameGeometry() != window.geometry(); }, kWaitLimitMs);
}

// The window manager's close of the window, as its title-bar button, Alt+F4
// or a task bar's Close sends it.
void CloseThroughTheWindowManager(const QWidget& window) {
  RunTool({"/usr/bin/wmctrl", "-i", "-c", WindowId(window)});
}

TEST(DesktopTest, AWindowManagerCloseAlwaysAsksFirst) {
  OpenWindow window;
  std::vector<std::string> journal;
  FrontEndHandlers handlers{
      .start = {},
      .tick = {},
      .restart = {},
      .stop =
          [&journal](bool ask) {
            journal.push_back(ask ? "stop asking" : "stop");
            return true;
          },
      .params = [] { return ParamsWith({}); },
  };
  BoxAnswerer answerer(QMessageBox::No);
  bool keptAfterNo = false;
  window.frontEnd.Post([&] {
    MainFrame& frame = *window.frontEnd.Frame();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame, kWaitLimitMs));
    ASSERT_TRUE(Managed(frame));
    CloseThroughTheWindowManager(frame);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answerer.Texts().size() == 1; }, kWaitLimitMs));
    QTest::qWait(200);
    keptAfterNo = frame.isVisible() && journal.empty();
    answerer.SetAnswer(QMessageBox::Yes);
    CloseThroughTheWindowManager(frame);
  });
  QTimer::singleShot(3 * kWaitLimitMs, window.frontEnd.Frame(), [&] { window.frontEnd.Quit(9); });
  EXPECT_EQ(window.frontEnd.Run(handlers), 0);
  EXPECT_TRUE(keptAfterNo) << "No must leave the window and the interfaces as they are";
  EXPECT_EQ(answerer.Texts(), (std::vector<std::string>{kDesktopCloseQuestion, kDesktopCloseQuestion}));
  EXPECT_EQ(answerer.Defaults(), (std::vector<std::string>{"No", "No"}));
  EXPECT_EQ(journal, (std::vector<std::string>{"stop asking"}));
}

TEST(DesktopTest, TheTrayIconsDoubleClickBringsAHiddenWindowBack) {
  if (std::getenv("PAXELLE_DESKTOP_TRAY") == nullptr) GTEST_SKIP() << "this window manager has no tray";
  ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, kWaitLimitMs));
  OpenWindow window;
  std::string trayOption = "Y";
  FrontEndHandlers handlers{
      .start = {},
      .tick = {},
      .restart = {},
      .stop = [](bool) { return true; },
      .params = [&trayOption] { return ParamsWith({{11, trayOption}}); },
  };
  bool hidden = false;
  bool restored = false;
  window.frontEnd.Post([&] {
    MainFrame& frame = *window.frontEnd.Frame();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame, kWaitLimitMs));
    ASSERT_TRUE(Managed(frame));
    frame.showMinimized();
    hidden = QTest::qWaitFor([&] { return !frame.isVisible(); }, kWaitLimitMs);
    // `paxelle params set 11=N`, then SIGHUP: the window stays hidden.
    trayOption = "N";
    QRect icon;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(icon = frame.TrayIcon()->geometry()).isEmpty(); }, kWaitLimitMs));
    const QPoint centre = icon.center();
    // On a busy machine the X server may stamp the two clicks too far apart
    // for a double-click: then the pair is clicked again.
    for (int attempt = 0; attempt < 3 && !restored; ++attempt) {
      RunTool({"/usr/bin/xdotool", "mousemove", "--sync", std::to_string(centre.x()), std::to_string(centre.y()),
               "click", "--repeat", "2", "--delay", "60", "1"});
      restored = QTest::qWaitFor(
          [&] { return frame.isVisible() && !frame.isMinimized() && frame.isActiveWindow(); }, kWaitLimitMs / 2);
    }
    window.frontEnd.Quit(0);
  });
  window.frontEnd.Run(handlers);
  EXPECT_TRUE(hidden) << "minimising with entry 11 \"Y\" hides the window in the tray";
  EXPECT_TRUE(restored) << "the icon's double-click restores, raises and focuses the hidden window";
}

// The real executable on an X server of its own, which then goes away.
class DisplayLossTest : public e2e::E2eTest {};

TEST_F(DisplayLossTest, LosingTheDisplayStopsTheInterfacesAsSigtermDoes) {
  if (std::getenv("PAXELLE_DESKTOP_LOSS") == nullptr) GTEST_SKIP() << "run once per desktop pass";
  // Entry 9: the start needs no host.
  Provision({"9=Y"});
  int display = 90 + ::getpid() % 100;
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display))) ++display;
  e2e::ChildProcess server;
  std::string error;
  ASSERT_TRUE(server.Start({"/usr/bin/Xvfb", ":" + std::to_string(display), "-nolisten", "tcp", "-screen", "0",
                            "1024x768x24"},
                           Dir() / "xvfb.out", Dir() / "xvfb.err", error))
      << error;
  const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
  ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(socket); }, kWaitLimitMs)) << "no Xvfb";

  const std::uint16_t clientPort = e2e::FreeLoopbackPort();
  ASSERT_NE(clientPort, 0);
  std::filesystem::create_directories(WorkDir());
  e2e::ChildProcess paxelle;
  ASSERT_TRUE(paxelle.Start({"/usr/bin/env", "DISPLAY=:" + std::to_string(display), "QT_QPA_PLATFORM=xcb",
                             std::string(PAXELLE_BIN_DIR) + "/paxelle", "--workdir", WorkDir().string(), "--params",
                             (Dir() / "params").string(), "--keystore", (Dir() / "keys").string(), "--client-port",
                             std::to_string(clientPort)},
                            Dir() / "paxelle.out", Dir() / "paxelle.err", error))
      << error;
  ASSERT_TRUE(QTest::qWaitFor([&] { return e2e::PortAccepts(clientPort); }, 3 * kWaitLimitMs))
      << "the interfaces never started";

  server.Stop(SIGTERM, seconds(5));
  paxelle.Wait(seconds(20));
  EXPECT_FALSE(paxelle.Running());
  EXPECT_FALSE(e2e::PortAccepts(clientPort)) << "the listener must be gone";
  const std::string log = ServerLog();
  const std::size_t stopped = log.find("Interfaces Stopped.");
  EXPECT_NE(stopped, std::string::npos) << log;
  EXPECT_NE(log.find("Server Shutdown . . .", stopped == std::string::npos ? 0 : stopped), std::string::npos)
      << log;
}

}  // namespace
}  // namespace paxelle
