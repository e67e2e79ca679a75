// The tray icon never loses the window: a double-click brings a hidden window
// back whatever entry 11 says by then, and the icon's menu offers Restore.
#include "app/window/MainFrame.h"
#include "tests/window/WindowTestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

#include <string>

namespace paxelle {
namespace {

using windowtest::OpenWindow;
using windowtest::ParamsWith;

struct RestoreCase {
  const char* optionWhenHidden;  // entry 11 when the window went to the tray
  const char* optionNow;         // entry 11 at the double-click
};

TEST(TrayRestoreTest, ADoubleClickBringsAHiddenWindowBackWhateverEntry11SaysNow) {
  for (const RestoreCase& c : {RestoreCase{"Y", "Y"}, RestoreCase{"Y", "N"}}) {
    const std::string name = std::string("hidden with ") + c.optionWhenHidden + ", now " + c.optionNow;
    OpenWindow window;
    window.frontEnd.SetTrayAvailability([] { return true; });
    std::string option = c.optionWhenHidden;
    FrontEndHandlers handlers{
        .start = {},
        .tick = {},
        .restart = {},
        .stop = [](bool) { return true; },
        .params = [&option] { return ParamsWith({{11, option}}); },
    };
    bool hidden = false;
    bool restored = false;
    window.frontEnd.Post([&] {
      MainFrame& frame = *window.frontEnd.Frame();
      frame.showMinimized();
      hidden = QTest::qWaitFor([&] { return !frame.isVisible(); }, 2000);
      option = c.optionNow;  // `paxelle params set 11=N`, then SIGHUP
      frame.OnTrayDoubleClick();
      restored = frame.isVisible() && !frame.isMinimized();
      window.frontEnd.Quit(0);
    });
    window.frontEnd.Run(handlers);
    EXPECT_TRUE(hidden) << name;
    EXPECT_TRUE(restored) << name;
  }
}

}  // namespace
}  // namespace paxelle
