// The Qt-free parts of the window: the display check and the request gate.
#include "app/window/DisplayCheck.h"
#include "app/window/RequestGate.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace paxelle {
namespace {

struct DisplayCase {
  const char* name;
  std::map<std::string, std::string> environment;
  std::set<std::string> paths;
  bool expected;
};

TEST(DisplayCheckTest, PlatformsAndDisplaySockets) {
  const std::vector<DisplayCase> cases = {
      {"nothing set", {}, {}, false},
      {"offscreen needs no display", {{"QT_QPA_PLATFORM", "offscreen"}}, {}, true},
      {"minimal with options", {{"QT_QPA_PLATFORM", "minimal:enable_fonts"}}, {}, true},
      {"xcb without DISPLAY", {{"QT_QPA_PLATFORM", "xcb"}}, {}, false},
      {"X display with its socket", {{"DISPLAY", ":1"}}, {"/tmp/.X11-unix/X1"}, true},
      {"X display with screen", {{"DISPLAY", ":0.0"}}, {"/tmp/.X11-unix/X0"}, true},
      {"X display whose server is gone", {{"DISPLAY", ":7"}}, {}, false},
      {"remote X display taken on trust", {{"DISPLAY", "terminal:0"}}, {}, true},
      {"DISPLAY without a number", {{"DISPLAY", ":"}}, {}, false},
      {"Wayland socket", {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", "/run/user/5"}},
       {"/run/user/5/wayland-0"}, true},
      {"Wayland without runtime dir", {{"WAYLAND_DISPLAY", "wayland-0"}}, {}, false},
      {"Wayland socket gone, X there", {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", "/r"}, {"DISPLAY", ":0"}},
       {"/tmp/.X11-unix/X0"}, true},
      {"xcb first in a list", {{"QT_QPA_PLATFORM", "xcb;offscreen"}}, {}, false},
  };
  for (const DisplayCase& c : cases) {
    const bool has = HasDisplay(
        [&c](const std::string& name) {
          const auto it = c.environment.find(name);
          return it == c.environment.end() ? std::string() : it->second;
        },
        [&c](const std::string& path) { return c.paths.count(path) != 0; });
    EXPECT_EQ(has, c.expected) << c.name;
  }
}

TEST(RequestGateTest, RequestsInsideABusySpanWaitAndRunInOrderAfterIt) {
  std::vector<std::string> journal;
  int scheduled = 0;
  RequestGate gate([&scheduled] { ++scheduled; });

  gate.Request([&] {
    journal.push_back("start begins");
    // Arrive while the start runs, one of them while a box is open inside it.
    gate.Request([&] { journal.push_back("close"); });
    {
      RequestGate::Scope box(gate);
      gate.Request([&] { journal.push_back("signal"); });
    }
    EXPECT_EQ(scheduled, 0) << "nothing may run while the start is still on the stack";
    journal.push_back("start ends");
  });
  EXPECT_EQ(scheduled, 1);
  EXPECT_EQ(gate.Waiting(), 2u);

  gate.RunWaiting();
  EXPECT_EQ(journal, (std::vector<std::string>{"start begins", "start ends", "close", "signal"}));
  EXPECT_FALSE(gate.Busy());
  EXPECT_EQ(gate.Waiting(), 0u);
}

TEST(RequestGateTest, ARequestMadeByAWaitingRequestWaitsForItToo) {
  std::vector<int> order;
  RequestGate gate([] {});
  gate.Enter();
  gate.Request([&] {
    order.push_back(1);
    gate.Request([&] { order.push_back(3); });
    order.push_back(2);
  });
  gate.Leave();
  gate.RunWaiting();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace paxelle
