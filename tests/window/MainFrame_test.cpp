// The main window and the window front end: list, titles, close path, tray,
// wait box and the order of requests around a running sequence.
#include "app/TrafficView.h"
#include "app/window/AboutDialog.h"
#include "app/window/MainFrame.h"
#include "app/window/WindowOperator.h"
#include "core/Version.h"
#include "tests/window/WindowTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QDialog>
#include <QFontMetrics>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

namespace paxelle {
namespace {

using windowtest::BoxAnswerer;
using windowtest::OpenWindow;
using windowtest::ParamsWith;

std::vector<std::string> Rows(const MainFrame& frame) {
  std::vector<std::string> rows;
  for (int i = 0; i < frame.TrafficList()->topLevelItemCount(); ++i) {
    rows.push_back(frame.TrafficList()->topLevelItem(i)->text(0).toStdString());
  }
  return rows;
}

TEST(MainFrameTest, TheListKeepsThe25NewestOnceThe51stRowArrives) {
  MainFrame frame({});
  EXPECT_EQ(frame.TrafficList()->headerItem()->text(0).toStdString(), kTrafficColumnTitle);
  for (int i = 1; i <= 50; ++i) frame.AddTrafficRow(QString("row %1").arg(i));
  ASSERT_EQ(Rows(frame).size(), 50u);
  frame.AddTrafficRow("row 51");
  const std::vector<std::string> rows = Rows(frame);
  ASSERT_EQ(rows.size(), 25u);
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], "row " + std::to_string(51 - i));
}

TEST(MainFrameTest, MenusToolbarStatusBarAndTitle) {
  MainFrame frame({});
  EXPECT_EQ(frame.windowTitle().toStdString(), "Paxelle");
  std::vector<std::string> menus;
  for (QAction* menu : frame.menuBar()->actions()) menus.push_back(menu->text().toStdString());
  EXPECT_EQ(menus, (std::vector<std::string>{"&File", "Setup", "&Help"}));
  EXPECT_EQ(frame.ExitAction()->text().toStdString(), "E&xit");
  EXPECT_EQ(frame.SetupAction()->text().toStdString(), "&Setup Information");
  EXPECT_EQ(frame.SetupAction()->statusTip().toStdString(), "Setup Parameters");
  EXPECT_EQ(frame.SetupAction()->toolTip().toStdString(), "Setup");
  EXPECT_EQ(frame.AboutAction()->text().toStdString(), "&About");
  EXPECT_EQ(frame.ExitAction()->statusTip().toStdString(), "Stop the interfaces and quit the application");
  std::vector<std::string> trayMenu;
  for (QAction* item : frame.TrayMenu()->actions()) trayMenu.push_back(item->text().toStdString());
  EXPECT_EQ(trayMenu, (std::vector<std::string>{"Restore", "", "Exit"}));
  auto* bar = frame.findChild<QToolBar*>();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->actions().size(), 3);  // setup, the gap, About
  EXPECT_TRUE(bar->actions()[1]->isSeparator());
  EXPECT_EQ(frame.statusBar()->currentMessage().toStdString(), "Ready");
  for (const char* pane : {"CAP", "NUM", "SCRL"}) {
    auto* label = frame.statusBar()->findChild<QLabel*>(pane);
    ASSERT_NE(label, nullptr) << pane;
    EXPECT_EQ(label->text().toStdString(), pane);
  }
  EXPECT_FALSE(frame.windowFlags().testFlag(Qt::WindowCloseButtonHint)) << "the title bar offers no close";
  EXPECT_EQ(frame.TrayIcon()->toolTip().toStdString(), std::string(kServerVersionText));
  EXPECT_TRUE(frame.TrayIcon()->isVisible()) << "the tray icon exists from the window's creation";
}

struct WidthCase {
  int screenWidth;
  bool capped;
};

TEST(MainFrameTest, OpensAsWideAsTheRunningTitleNeedsButNoWiderThanTheScreen) {
  const QFont font = QApplication::font();
  const int title = QFontMetrics(font).horizontalAdvance(QString::fromStdString(RunningTitle(200, 200, 86399)));
  for (const WidthCase& c : {WidthCase{4000, false}, WidthCase{title, true}, WidthCase{500, true}}) {
    const int width = DefaultFrameWidth(font, c.screenWidth);
    if (c.capped) {
      EXPECT_EQ(width, c.screenWidth);
    } else {
      EXPECT_GE(width, title + 100) << "room for the title bar's icon and buttons";
      EXPECT_GE(width, 640);
      EXPECT_LT(width, c.screenWidth);
    }
  }
  MainFrame frame({});
  EXPECT_EQ(frame.width(), DefaultFrameWidth(font, QApplication::primaryScreen()->availableGeometry().width()));
  EXPECT_EQ(frame.height(), kDefaultFrameHeight);
}

TEST(MainFrameTest, ALongRowShowsWholeInItsToolTipAndScrollsSideways) {
  MainFrame frame({});
  frame.resize(640, 420);
  frame.show();
  const QString shortRow = "[12/09/26 14:02:10] Sending Auth Request (IP) to WorldPay.";
  frame.AddTrafficRow(shortRow);
  QApplication::processEvents();
  QTreeWidget& list = *frame.TrafficList();
  EXPECT_EQ(list.columnWidth(0), list.viewport()->width()) << "the column fills the list";
  EXPECT_EQ(list.horizontalScrollBar()->maximum(), 0);

  const QString longRow = "[12/09/26 14:02:11] " + QString::fromStdString(TrafficRowMessage(HostTrafficEvent::kNumbersNotSaved)) +
                          " " + QString(60, 'x');
  frame.AddTrafficRow(longRow);
  QApplication::processEvents();
  EXPECT_EQ(list.topLevelItem(0)->toolTip(0), longRow);
  EXPECT_EQ(list.topLevelItem(1)->toolTip(0), shortRow);
  EXPECT_GE(list.columnWidth(0), list.fontMetrics().horizontalAdvance(longRow));
  EXPECT_GT(list.horizontalScrollBar()->maximum(), 0) << "the list scrolls sideways to the row's end";
}

TEST(MainFrameTest, TitlesAreTheSystemsTextsByteForByte) {
  OpenWindow window;
  IOperatorInterface& shown = *window.operatorInterface;
  shown.ShowOfflineTitle();
  EXPECT_EQ(window.frontEnd.Frame()->windowTitle().toStdString(), "Paxelle XML 5.0 WorldPay OFFLINE       OFFLINE");
  const std::string running = RunningTitle(2, 11, 0);
  shown.SetStatusTitle(running, 2, 11);
  EXPECT_EQ(window.frontEnd.Frame()->windowTitle().toStdString(), running);
  EXPECT_EQ(running, "  Paxelle XML 5.0 RBS WorldPay-Lynk #Requests-> 2    #Sockets-> 11     " +
                         FormatLocalTime("%H:%M:%S", 0));
  shown.NoteInterfacesStopped();
  EXPECT_EQ(window.frontEnd.Frame()->windowTitle().toStdString(), running) << "a stop leaves the title as it was";
}

TEST(MainFrameTest, AboutBoxShowsTheVersionTail) {
  AboutDialog about;
  EXPECT_EQ(AboutVersionText().toStdString(), "WH 5.10");
  EXPECT_EQ(about.findChild<QLabel*>("version")->text().toStdString(), "WH 5.10");
  EXPECT_EQ(about.palette().color(QPalette::Window), QColor(Qt::white));
}

TEST(WaitBoxTest, TheOwnerIsEnabledAgainAfterAFailedStart) {
  OpenWindow window;
  MainFrame& frame = *window.frontEnd.Frame();
  frame.show();
  IOperatorInterface& shown = *window.operatorInterface;
  // A start whose host interface fails: the stop runs inside the start's box.
  shown.ShowWait();
  EXPECT_FALSE(frame.isEnabled());
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  shown.SetWaitText("Attempting to Connect to WorldPay  ...");
  EXPECT_EQ(static_cast<WindowOperator&>(shown).Wait().Text().toStdString(), "Attempting to Connect to WorldPay  ...");
  {
    BoxAnswerer no(QMessageBox::No);
    EXPECT_FALSE(shown.AskYesNo(OperatorQuestion::kRetryHostStart, "Failed to Connect\r\n   Retry?"));
    ASSERT_EQ(no.Texts().size(), 1u);
    EXPECT_EQ(no.Texts()[0], "Failed to Connect\n   Retry?");
  }
  shown.ShowWait();
  shown.SetWaitText("Shutting down Clients...");
  shown.CloseWait();
  EXPECT_FALSE(frame.isEnabled()) << "the start's box is still up";
  shown.CloseWait();
  EXPECT_TRUE(frame.isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(static_cast<WindowOperator&>(shown).Wait().Shown());
}

TEST(WaitBoxTest, AToolWindowOfTheMainWindowCentredOnIt) {
  OpenWindow window;
  MainFrame& frame = *window.frontEnd.Frame();
  frame.move(40, 30);
  frame.show();
  auto& shown = static_cast<WindowOperator&>(*window.operatorInterface);
  shown.ShowWait();
  QDialog* box = shown.Wait().Box();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowType(), Qt::Tool) << "no task-bar button of its own";
  EXPECT_TRUE(box->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_EQ(box->parentWidget(), &frame);
  const QPoint offset = box->frameGeometry().center() - frame.frameGeometry().center();
  EXPECT_LE(offset.manhattanLength(), 2) << "centred on the main window";
  shown.CloseWait();
}

TEST(TrayTest, TheMenusRestoreShowsAHiddenWindow) {
  MainFrame frame({});
  frame.show();
  frame.hide();
  frame.RestoreAction()->trigger();
  EXPECT_TRUE(frame.isVisible());
  EXPECT_FALSE(frame.isMinimized());
}

TEST(ClosePathTest, ARefusedStopKeepsWindowAndTray) {
  OpenWindow window;
  int asked = 0;
  FrontEndHandlers handlers{
      .start = {},
      .tick = {},
      .restart = {},
      .stop =
          [&](bool ask) {
            EXPECT_TRUE(ask) << "the operator's close asks about connected clients";
            ++asked;
            return false;
          },
      .params = [] { return ParamsWith({}); },
  };
  window.frontEnd.Post([&] {
    window.frontEnd.Frame()->ExitAction()->trigger();  // "E&xit"
    window.frontEnd.Frame()->TrayMenu()->actions().back()->trigger();  // the tray icon's "Exit"
    EXPECT_TRUE(window.frontEnd.Frame()->isVisible());
    EXPECT_TRUE(window.frontEnd.Frame()->TrayIcon()->isVisible());
    window.frontEnd.Quit(7);
  });
  EXPECT_EQ(window.frontEnd.Run(handlers), 7);
  EXPECT_EQ(asked, 2);
}

// Handlers that only write "stop" into `journal` when the stop runs.
FrontEndHandlers StopJournalled(std::vector<std::string>& journal) {
  return FrontEndHandlers{
      .start = {},
      .tick = {},
      .restart = {},
      .stop =
          [&journal](bool) {
            journal.push_back("stop");
            return true;
          },
      .params = [] { return ParamsWith({}); },
  };
}

struct CloseCase {
  const char* name;
  bool fromDesktop;  // the window manager's close, else "File | Exit"
  bool clients;      // lanes connected
  QMessageBox::StandardButton answer;
  std::vector<std::string> asked;    // the front end's own questions
  std::vector<std::string> journal;  // what the shell's stop saw
};

TEST(ClosePathTest, AWindowManagerCloseAlwaysAsksAndExitAsksOnlyWithLanes) {
  const std::string question =
      "Closing this window stops the payment server: card processing stops until the server is started "
      "again.\n\nAre you SURE you want to do this?";
  const std::vector<CloseCase> cases = {
      {"desktop close, No", true, false, QMessageBox::No, {question}, {}},
      {"desktop close, Yes", true, false, QMessageBox::Yes, {question}, {"stop asking"}},
      // The stop asks its clients question itself.
      {"desktop close with lanes", true, true, QMessageBox::Yes, {}, {"stop asking"}},
      {"Exit without lanes", false, false, QMessageBox::Yes, {}, {"stop asking"}},
  };
  for (const CloseCase& c : cases) {
    OpenWindow window;
    std::vector<std::string> journal;
    FrontEndHandlers handlers = StopJournalled(journal);
    handlers.stop = [&journal](bool ask) {
      journal.push_back(ask ? "stop asking" : "stop");
      return true;
    };
    handlers.clientsConnected = [&c] { return c.clients; };
    BoxAnswerer answerer(c.answer);
    window.frontEnd.Post([&] {
      if (c.fromDesktop) {
        window.frontEnd.Frame()->close();
      } else {
        window.frontEnd.Frame()->ExitAction()->trigger();
      }
      // A refused close leaves everything running.
      QTimer::singleShot(50, window.frontEnd.Frame(), [&] { window.frontEnd.Quit(7); });
    });
    const int exitCode = window.frontEnd.Run(handlers);
    EXPECT_EQ(answerer.Texts(), c.asked) << c.name;
    for (const std::string& preset : answerer.Defaults()) EXPECT_EQ(preset, "No") << c.name;
    EXPECT_EQ(journal, c.journal) << c.name;
    EXPECT_EQ(exitCode, c.journal.empty() ? 7 : 0) << c.name;
  }
}

TEST(ClosePathTest, ACloseDuringTheStartRunsAfterIt) {
  OpenWindow window;
  std::vector<std::string> journal;
  FrontEndHandlers handlers = StopJournalled(journal);
  handlers.start = [&] {
    journal.push_back("start begins");
    // The start's boxes dispatch events: a close can arrive inside it.
    window.frontEnd.Frame()->ExitAction()->trigger();
    BoxAnswerer ok(QMessageBox::Ok);
    window.operatorInterface->ShowMessage("Configuration not Set! - Use Setup | Merchant Parameters");
    journal.push_back("start ends");
  };
  EXPECT_EQ(window.frontEnd.Run(handlers), 0);
  EXPECT_EQ(journal, (std::vector<std::string>{"start begins", "start ends", "stop"}));
  EXPECT_FALSE(window.frontEnd.Frame()->isVisible());
  EXPECT_FALSE(window.frontEnd.Frame()->TrayIcon()->isVisible());
}

TEST(ClosePathTest, AHostCloseRequestWaitsForAnOpenBox) {
  OpenWindow window;
  std::vector<std::string> journal;
  const FrontEndHandlers handlers = StopJournalled(journal);
  window.frontEnd.Post([&] {
    // The host thread's request arrives while the operator reads a box.
    window.frontEnd.PostRequest([&] {
      journal.push_back("host request");
      window.frontEnd.RequestClose();
    });
    BoxAnswerer ok(QMessageBox::Ok);
    window.operatorInterface->ShowMessage("Error Stopping TCP/IP Accept thread!");
    journal.push_back("box closed");
  });
  EXPECT_EQ(window.frontEnd.Run(handlers), 0);
  EXPECT_EQ(journal, (std::vector<std::string>{"box closed", "host request", "stop"}));
}

TEST(ClosePathTest, AStopSignalAnswersTheOpenBoxNoAndGoesAheadOfAWaitingRestart) {
  OpenWindow window;
  std::vector<std::string> journal;
  FrontEndHandlers handlers{
      .start = {},
      .tick = {},
      .restart = [&] { journal.push_back("restart"); },
      .stop =
          [&](bool ask) {
            journal.push_back(ask ? "stop asking" : "stop");
            // Anything the stop would tell the operator is only logged now.
            window.operatorInterface->ShowMessage("Error Stopping TCP/IP Accept thread!");
            return true;
          },
      .params = [] { return ParamsWith({}); },
  };
  window.frontEnd.Post([&] {
    // The signals to this thread only, where they are blocked: the descriptor gets them.
    QTimer::singleShot(20, [] { ::pthread_kill(::pthread_self(), SIGHUP); });
    QTimer::singleShot(60, [] { ::pthread_kill(::pthread_self(), SIGTERM); });
    const bool yes = window.operatorInterface->AskYesNo(OperatorQuestion::kRetryHostStart, "Failed\r\n   Retry?");
    journal.push_back(yes ? "Yes" : "No");
  });
  EXPECT_EQ(window.frontEnd.Run(handlers), 0);
  EXPECT_EQ(journal, (std::vector<std::string>{"No", "stop"}));
  EXPECT_NE(std::find(window.logged.begin(), window.logged.end(), "Error Stopping TCP/IP Accept thread!"),
            window.logged.end());
}

struct MinimiseCase {
  const char* trayOption;     // entry 11 when minimised
  const char* optionLater;    // entry 11 at the icon's double-click (`params set`, SIGHUP)
  bool trayAvailable;
  bool hidden;
  bool restored;
};

TEST(TrayTest, MinimisingHidesOnlyWithTheOptionAndATrayAndTheIconAlwaysBringsItBack) {
  for (const MinimiseCase& c : {MinimiseCase{"Y", "Y", true, true, true}, MinimiseCase{"Y", "N", true, true, true},
                                MinimiseCase{"N", "N", true, false, false}, MinimiseCase{"Y", "Y", false, false, true},
                                MinimiseCase{"N", "N", false, false, false}}) {
    OpenWindow window;
    window.frontEnd.SetTrayAvailability([&c] { return c.trayAvailable; });
    std::string option = c.trayOption;
    bool hidden = false;
    bool restored = false;
    FrontEndHandlers handlers{
        .start = {},
        .tick = {},
        .restart = {},
        .stop = [](bool) { return true; },
        .params = [&option] { return ParamsWith({{11, option}}); },
    };
    window.frontEnd.Post([&] {
      MainFrame& frame = *window.frontEnd.Frame();
      frame.showMinimized();
      hidden = QTest::qWaitFor([&] { return !frame.isVisible(); }, c.hidden ? 2000 : 50);
      option = c.optionLater;
      frame.OnTrayDoubleClick();
      restored = frame.isVisible() && !frame.isMinimized();
      window.frontEnd.Quit(0);
    });
    window.frontEnd.Run(handlers);
    const std::string name = std::string("entry 11 ") + c.trayOption + " then " + c.optionLater +
                             (c.trayAvailable ? ", tray" : ", no tray");
    EXPECT_EQ(hidden, c.hidden) << name;
    EXPECT_EQ(restored, c.restored) << name;
    const bool noted = std::find(window.logged.begin(), window.logged.end(),
                                 "No system tray on this desktop: minimising keeps the window on the task bar.") !=
                       window.logged.end();
    EXPECT_EQ(noted, c.trayOption == std::string("Y") && !c.trayAvailable) << name;
  }
}

}  // namespace
}  // namespace paxelle
