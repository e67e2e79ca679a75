// The window in front of a real server: started against the host simulator,
// a sale from opx-lane puts the two IP rows in the traffic list.
#include "app/Application.h"
#include "app/ServerOptions.h"
#include "app/window/WindowFrontEnd.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/support/WaitFor.h"

#include <QTreeWidget>

#include <gtest/gtest.h>

#include <iostream>
#include <mutex>
#include <thread>

namespace paxelle {
namespace {

using std::chrono::seconds;

class WindowServerTest : public e2e::E2eTest {};

TEST_F(WindowServerTest, ASaleFromALanePutsTheTwoIpRowsInTheList) {
  Provision();
  StartHost();
  const std::uint16_t clientPort = e2e::FreeLoopbackPort();
  ASSERT_NE(clientPort, 0);
  UseClientPort(clientPort);
  ServerOptions options;
  const Status parsed = ParseServerOptions({"--workdir", WorkDir().string(), "--params", (Dir() / "params").string(),
                                  "--keystore", (Dir() / "keys").string(), "--client-port",
                                  std::to_string(clientPort), "--host", "localhost:" + std::to_string(HostPort()),
                                  "--host-ca", Pki().caCert.string()},
                                 options);
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  std::filesystem::create_directories(WorkDir());

  WindowFrontEnd window(QString::fromStdString(options.params.string()));
  COpxWorldPayIP_HostApp app(options, window, std::cerr);
  std::vector<std::string> rows;
  std::string title;
  e2e::LaneReply reply;
  // The lane waits for the server from a thread of its own; the test's thread
  // runs the window.
  std::mutex titleMutex;
  std::string titleSeen;
  std::thread lane([&] {
    EXPECT_TRUE(testing::WaitFor("the server to accept lanes", [&] { return e2e::PortAccepts(clientPort); },
                                 seconds(60), std::chrono::milliseconds(20)));
    reply = Request(SalePairs("1.00", 1));
    // At least one status refresh after the start: the window's thread reports its title.
    EXPECT_TRUE(testing::WaitFor(
        "a status refresh's title",
        [&] {
          window.Post([&] {
            const std::lock_guard lock(titleMutex);
            titleSeen = window.Frame()->windowTitle().toStdString();
          });
          const std::lock_guard lock(titleMutex);
          return titleSeen.find("#Requests->") != std::string::npos;
        },
        seconds(30), std::chrono::milliseconds(50)));
    // Posted after the rows, so it sees them; then the operator's close.
    window.Post([&] {
      for (int i = 0; i < window.Frame()->TrafficList()->topLevelItemCount(); ++i) {
        rows.push_back(window.Frame()->TrafficList()->topLevelItem(i)->text(0).toStdString());
      }
      title = window.Frame()->windowTitle().toStdString();
    });
    window.PostRequest([&] { window.RequestClose(); });
  });
  const int exitCode = app.Run();
  lane.join();

  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(reply.final.cmdStatus, "Approved") << reply.error;
  ASSERT_EQ(rows.size(), 2u);
  // Newest on top, each behind its "[mm/dd/yy hh:mm:ss] " stamp.
  EXPECT_EQ(rows[0].substr(20), "Auth Response Received (IP) from WorldPay.");
  EXPECT_EQ(rows[1].substr(20), "Sending Auth Request (IP) to WorldPay.");
  EXPECT_EQ(rows[0][0], '[');
  EXPECT_EQ(rows[0].substr(18, 2), "] ");
  EXPECT_EQ(title.rfind("  Paxelle XML 5.0 RBS WorldPay-Lynk #Requests-> ", 0), 0u) << title;
}

}  // namespace
}  // namespace paxelle
