// The window keeps turning while a start waits for a host that accepts the
// connection and never completes the handshake, and a stop signal ends the
// program soon after. Also run on a real X server by the desktop pass.
#include "app/Application.h"
#include "app/ServerOptions.h"
#include "app/window/WindowFrontEnd.h"
#include "app/window/WindowOperator.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/window/WindowTestSupport.h"

#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>

namespace paxelle {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kTickPeriod{100};
// The longest gap between two ticks that still counts as on time: a turning
// loop keeps it near the period, a frozen one holds it for the handshake's 10 s.
constexpr milliseconds kOnTime{1000};
// Ticks seen inside the host's start before the stop signal goes.
constexpr int kTicksInHostStart = 3;
// The one handshake in progress may run to its 10 s limit, then the stop.
constexpr milliseconds kStopBound{12000};
// The wait box is centred on the main window, give or take a frame's border.
constexpr int kCentred = 8;
constexpr char kConnectingText[] = "Attempting to Connect to WorldPay  ...";

class WindowFreezeTest : public e2e::E2eTest {};

TEST_F(WindowFreezeTest, TheWindowTurnsWhileTheHostNeverAnswersAndSigtermEndsTheStart) {
  Provision();
  windowtest::SilentHost host;
  ASSERT_FALSE(host.Address().empty());
  const std::uint16_t clientPort = e2e::FreeLoopbackPort();
  ASSERT_NE(clientPort, 0);
  std::filesystem::create_directories(WorkDir());
  ServerOptions options;
  const Status parsed = ParseServerOptions({"--workdir", WorkDir().string(), "--params", (Dir() / "params").string(),
                                  "--keystore", (Dir() / "keys").string(), "--client-port",
                                  std::to_string(clientPort), "--host", host.Address(), "--secondary-host",
                                  host.Address()},
                                 options);
  ASSERT_TRUE(parsed.ok()) << parsed.message();

  WindowFrontEnd window(QString::fromStdString(options.params.string()));
  COpxWorldPayIP_HostApp app(options, window, std::cerr);

  // From the moment the start's wait box is up, a timer ticks every
  // kTickPeriod; a few ticks into the host's start, SIGTERM goes to this
  // thread, where the stop signals are read.
  std::optional<Clock::time_point> lastTick;
  milliseconds longestGap{0};
  int ticksInHostStart = 0;
  std::optional<Clock::time_point> signalled;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (signalled) return;
    const Clock::time_point now = Clock::now();
    longestGap = std::max(longestGap, std::chrono::duration_cast<milliseconds>(now - *lastTick));
    lastTick = now;
    if (window.Operator()->Wait().Text().toStdString() != kConnectingText) return;
    if (++ticksInHostStart < kTicksInHostStart) return;
    signalled = now;
    ::pthread_kill(::pthread_self(), SIGTERM);
  });
  // Where the box stands against the main window when it first shows.
  QPoint boxOffset;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (lastTick || window.Operator() == nullptr || window.Operator()->Wait().Box() == nullptr ||
        !window.Operator()->Wait().Box()->isVisible()) {
      return;
    }
    boxOffset = window.Operator()->Wait().Box()->frameGeometry().center() - window.Frame()->frameGeometry().center();
    lastTick = Clock::now();
    ticker.start(kTickPeriod);
    watch.stop();
  });
  watch.start(5);

  const int exitCode = app.Run();
  const Clock::time_point ended = Clock::now();

  ASSERT_TRUE(lastTick) << "the start's wait box never showed";
  ASSERT_TRUE(signalled) << "the start never reached the host";
  EXPECT_LE(boxOffset.manhattanLength(), kCentred) << "the wait box stands off the main window's centre by "
                                                  << boxOffset.x() << "," << boxOffset.y();
  EXPECT_LT(longestGap, kOnTime) << "the window's events stood still for " << longestGap.count() << " ms";
  const auto stopTook = std::chrono::duration_cast<milliseconds>(ended - *signalled);
  EXPECT_LT(stopTook, kStopBound) << "SIGTERM took " << stopTook.count() << " ms to end the program";
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(WaitForServerLog("Interfaces Stopped.", std::chrono::seconds(5)));
}

}  // namespace
}  // namespace paxelle
