// Renders the window and its dialogs as the README shows them. With
// PAXELLE_SCREENSHOT_DIR set (scripts/screenshots, on a real X server) the
// pictures are saved there.
#include "app/TrafficView.h"
#include "app/window/AboutDialog.h"
#include "app/window/SetupDialog.h"
#include "app/window/WaitDialog.h"
#include "app/window/WindowOperator.h"
#include "tests/window/WindowTestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace paxelle {
namespace {

using windowtest::OpenWindow;
using windowtest::ParamsWith;

constexpr int kTitleBarHeight = 28;

// The offscreen platform draws no window frame: the title goes on a plain bar
// above the window's own picture, so the status title shows.
QImage WithTitleBar(QWidget& widget) {
  const QPixmap content = widget.grab();
  QImage picture(content.width(), content.height() + (widget.windowTitle().isEmpty() ? 0 : kTitleBarHeight),
                 QImage::Format_ARGB32);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  int top = 0;
  if (!widget.windowTitle().isEmpty()) {
    painter.fillRect(0, 0, picture.width(), kTitleBarHeight, QColor("#1d4f91"));
    painter.drawPixmap(6, 6, widget.windowIcon().pixmap(16, 16));
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(28, 0, picture.width() - 34, kTitleBarHeight), Qt::AlignVCenter | Qt::AlignLeft,
                     widget.windowTitle());
    top = kTitleBarHeight;
  }
  painter.drawPixmap(0, top, content);
  painter.end();
  return picture;
}

bool OnRealDisplay() { return QGuiApplication::platformName() == "xcb"; }

// What the screen shows of `widget`, with the window manager's frame around it.
QImage FromTheScreen(QWidget& widget) {
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&widget));
  // The frame is known once the manager has told its size.
  if (!widget.windowFlags().testFlag(Qt::FramelessWindowHint)) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return widget.frameGeometry() != widget.geometry(); }, 3000));
  }
  // Painted as the window in front, when the manager gives it the focus.
  static_cast<void>(QTest::qWaitFor([&] { return widget.isActiveWindow(); }, 1000));
  const QRect area = widget.frameGeometry();
  return widget.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

QImage Picture(QWidget& widget) { return OnRealDisplay() ? FromTheScreen(widget) : WithTitleBar(widget); }

void Keep(const QImage& picture, const char* name) {
  ASSERT_FALSE(picture.isNull()) << name;
  EXPECT_GT(picture.width(), 100) << name;
  const char* directory = std::getenv("PAXELLE_SCREENSHOT_DIR");
  if (directory == nullptr || *directory == '\0') return;
  const QString path = QString(directory) + "/" + name + ".png";
  EXPECT_TRUE(picture.save(path)) << path.toStdString();
}

// A fixed afternoon, so the pictures do not change with the day they are made.
std::time_t Afternoon(int minute, int second) {
  std::tm moment{};
  moment.tm_year = 126;
  moment.tm_mon = 11;
  moment.tm_mday = 9;
  moment.tm_hour = 14;
  moment.tm_min = minute;
  moment.tm_sec = second;
  moment.tm_isdst = -1;
  return std::mktime(&moment);
}

TEST(ScreenshotsTest, MainWindowSetupAboutAndWait) {
  OpenWindow window;
  MainFrame& frame = *window.frontEnd.Frame();
  frame.setWindowIcon(QIcon(":/paxelle/paxelle-64.png"));
  // The offscreen screen is small: there the picture keeps a width of its own.
  if (!OnRealDisplay()) frame.resize(720, 400);
  frame.show();
  for (int sale = 0; sale < 6; ++sale) {
    const bool dial = sale == 4;
    window.operatorInterface->AddTrafficRow(TrafficRowText(
        Afternoon(2 + sale, 10), TrafficRowMessage(dial ? HostTrafficEvent::kSendingDial : HostTrafficEvent::kSendingIp)));
    window.operatorInterface->AddTrafficRow(TrafficRowText(
        Afternoon(2 + sale, 11), TrafficRowMessage(dial ? HostTrafficEvent::kReceivedDial : HostTrafficEvent::kReceivedIp)));
  }
  window.operatorInterface->SetStatusTitle(RunningTitle(1, 3, Afternoon(8, 30)), 1, 3);
  QApplication::processEvents();
  Keep(Picture(frame), "main-window");

  SetupDialog setup(ParamsWith({{1, "123456789012345"}, {2, "12345678"}, {3, "4"}, {4, "4"}, {10, "Y"},
                                {11, "Y"}, {12, "Y"}, {13, "0230"}, {14, "1"}, {15, "1"}, {16, "9,"},
                                {17, "18005550100"}, {18, "15"}, {19, "2"}, {7, "Y"}, {8, "lanes2026"}}),
                    "/etc/paxelle/params");
  setup.setWindowIcon(frame.windowIcon());
  setup.show();
  QApplication::processEvents();
  Keep(Picture(setup), "setup-dialog");
  setup.hide();

  AboutDialog about;
  about.setWindowIcon(frame.windowIcon());
  about.show();
  QApplication::processEvents();
  Keep(Picture(about), "about-box");
  about.hide();

  auto& shown = static_cast<WindowOperator&>(*window.operatorInterface);
  shown.ShowWait();
  shown.SetWaitText("Attempting to Connect to WorldPay  ...");
  QDialog* box = shown.Wait().Box();
  ASSERT_NE(box, nullptr);
  box->adjustSize();
  Keep(OnRealDisplay() ? FromTheScreen(*box) : box->grab().toImage(), "wait-box");
  shown.CloseWait();
}

}  // namespace
}  // namespace paxelle
