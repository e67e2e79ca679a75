// The window as a view of a real server process: a sale from a lane puts its
// two rows in the attached list, the setup dialog shows the server's
// parameters and its OK asks that server for a restart; Exit closes the view only.
#include "app/window/AttachedWindow.h"
#include "app/window/SetupDialog.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/support/WaitFor.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <thread>

namespace paxelle {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class AttachedWindowTest : public e2e::E2eTest {
 protected:
  // Dispatches events until `done` holds or `limit` passes.
  static ::testing::AssertionResult DispatchUntil(const char* what, const std::function<bool()>& done,
                                                  milliseconds limit) {
    return testing::WaitFor(
        what,
        [&] {
          if (done()) return true;
          QApplication::processEvents(QEventLoop::AllEvents, 50);
          return false;
        },
        limit, milliseconds(10));
  }

  static std::vector<std::string> Rows(const AttachedWindow& view) {
    std::vector<std::string> rows;
    QTreeWidget* list = view.Frame()->TrafficList();
    for (int i = 0; i < list->topLevelItemCount(); ++i) rows.push_back(list->topLevelItem(i)->text(0).toStdString());
    return rows;
  }
};

TEST_F(AttachedWindowTest, TheAttachedListShowsASalesRowsAndExitClosesTheViewOnly) {
  Provision();
  StartHost();
  StartServer();
  bool closed = false;
  AttachedWindow view(WorkDir() / "control", [&closed] { closed = true; });
  const Status opened = view.Open();
  ASSERT_TRUE(opened.ok()) << opened.message();
  EXPECT_EQ(view.Frame()->ExitAction()->statusTip().toStdString(), kViewExitTip);

  e2e::LaneReply reply;
  std::thread lane([&] { reply = Request(SalePairs("10.00", 4001, "Sale", 1), 60); });
  const ::testing::AssertionResult shown =
      DispatchUntil("the sale's two rows", [&] { return Rows(view).size() >= 2; }, seconds(30));
  lane.join();
  ASSERT_TRUE(shown);
  EXPECT_EQ(reply.final.cmdStatus, "Approved");
  const std::vector<std::string> rows = Rows(view);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].substr(20), "Auth Response Received (IP) from WorldPay.");
  EXPECT_EQ(rows[1].substr(20), "Sending Auth Request (IP) to WorldPay.");
  EXPECT_TRUE(DispatchUntil(
      "the running title",
      [&] { return view.Frame()->windowTitle().startsWith("  Paxelle XML 5.0 RBS WorldPay-Lynk #Requests-> "); },
      seconds(5)))
      << view.Frame()->windowTitle().toStdString();

  // The setup dialog shows the server's values (the password's masking is the
  // protocol's test).
  std::string merchant;
  std::string password;
  view.SetDialogRunner([&](QDialog& dialog) {
    merchant = dialog.findChild<QLineEdit*>("merchantId")->text().toStdString();
    password = dialog.findChild<QLineEdit*>("password")->text().toStdString();
    return true;
  });
  view.RequestSetup();
  EXPECT_EQ(merchant, "123456789012345");
  EXPECT_EQ(password, "");
  EXPECT_TRUE(WaitForServerLog("Restart of the interfaces asked for on the control socket", seconds(5)));

  view.Frame()->ExitAction()->trigger();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(Server().Running());  // the server keeps running
}

TEST_F(AttachedWindowTest, WithoutAServerTheViewSaysSo) {
  AttachedWindow view(WorkDir() / "control", [] {});
  const Status opened = view.Open();
  EXPECT_EQ(opened.code(), static_cast<int>(AttachResult::kNoServer)) << opened.message();
}

}  // namespace
}  // namespace paxelle
