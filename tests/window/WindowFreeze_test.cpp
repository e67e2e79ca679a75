// The window keeps turning while a start waits for a host that accepts the
// connection and never completes the handshake, and a stop signal ends the
// program soon after. Also run on a real X server by the desktop pass.
#include "app/Application.h"
#include "app/ServerOptions.h"
#include "app/window/WindowFrontEnd.h"
#include "app/window/WindowOperator.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/window/WindowTestSupport.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <iostream>
#include <optional>

namespace paxelle {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kProbeDelay{200};
// How late the probe may fire and still count as on time: a turning loop
// takes it within a few milliseconds, a frozen one after the handshake's 10 s.
constexpr milliseconds kOnTime{1000};
// The one handshake in progress may run to its 10 s limit, then the stop.
constexpr milliseconds kStopBound{12000};

class WindowFreezeTest : public e2e::E2eTest {};

TEST_F(WindowFreezeTest, TheWindowTurnsWhileTheHostNeverAnswersAndSigtermEndsTheStart) {
  Provision();
  windowtest::SilentHost host;
  ASSERT_FALSE(host.Address().empty());
  const std::uint16_t clientPort = e2e::FreeLoopbackPort();
  ASSERT_NE(clientPort, 0);
  std::filesystem::create_directories(WorkDir());
  ServerOptions options;
  std::string error;
  ASSERT_TRUE(ParseServerOptions({"--workdir", WorkDir().string(), "--params", (Dir() / "params").string(),
                                  "--keystore", (Dir() / "keys").string(), "--client-port",
                                  std::to_string(clientPort), "--host", host.Address(), "--secondary-host",
                                  host.Address()},
                                 options, error))
      << error;

  WindowFrontEnd window(QString::fromStdString(options.params.string()));
  COpxWorldPayIP_HostApp app(options, window, std::cerr);

  // Once the start's wait box is up, a probe is due kProbeDelay later; when
  // it fires, SIGTERM goes to this thread, where the stop signals are read.
  std::optional<Clock::time_point> probeDue;
  std::optional<Clock::time_point> signalled;
  std::string waitText;
  QTimer probe;
  probe.setSingleShot(true);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    signalled = Clock::now();
    if (window.Operator() != nullptr) waitText = window.Operator()->Wait().Text().toStdString();
    ::pthread_kill(::pthread_self(), SIGTERM);
  });
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (probeDue || window.Operator() == nullptr || !window.Operator()->Wait().Shown()) return;
    probeDue = Clock::now() + kProbeDelay;
    probe.start(kProbeDelay);
    watch.stop();
  });
  watch.start(5);

  const int exitCode = app.Run();
  const Clock::time_point ended = Clock::now();

  ASSERT_TRUE(probeDue) << "the start's wait box never showed";
  ASSERT_TRUE(signalled) << "the probe never fired";
  const auto late = std::chrono::duration_cast<milliseconds>(*signalled - *probeDue);
  EXPECT_LT(late, kOnTime) << "the window's events stood still for " << late.count() << " ms";
  EXPECT_EQ(waitText, "Attempting to Connect to WorldPay  ...") << "the probe fired outside the host's start";
  const auto stopTook = std::chrono::duration_cast<milliseconds>(ended - *signalled);
  EXPECT_LT(stopTook, kStopBound) << "SIGTERM took " << stopTook.count() << " ms to end the program";
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(WaitForServerLog("Interfaces Stopped.", std::chrono::seconds(5)));
}

}  // namespace
}  // namespace paxelle
