#include "app/window/MainFrame.h"

#include "app/TrafficView.h"
#include "core/Version.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <ctime>

namespace paxelle {
namespace {

constexpr int kTrayToolTipLimit = 127;
// The title bar's own icon and buttons (minimise, maximise, and a close some
// window managers show anyway), with their gaps.
constexpr int kTitleBarRoom = 160;
constexpr int kNarrowestFrame = 640;
// "23:59:59" is as wide as any time the title shows in a proportional font.
constexpr std::time_t kWidestTitleTime = 86399;

void Call(const std::function<void()>& hook) {
  if (hook) hook();
}

}  // namespace

int DefaultFrameWidth(const QFont& font, int screenWidth) {
  // The most requests and sockets a title shows: the queue and the connection limit.
  const QString widest =
      QString::fromStdString(RunningTitle(kClientConnectionLimit, kClientConnectionLimit, kWidestTitleTime));
  const int wanted = std::max(kNarrowestFrame, QFontMetrics(font).horizontalAdvance(widest) + kTitleBarRoom);
  return screenWidth > 0 ? std::min(wanted, screenWidth) : wanted;
}

MainFrame::MainFrame(MainFrameHooks hooks, QWidget* parent) : QMainWindow(parent), hooks_(std::move(hooks)) {
  // No close button: the close goes through the shell's stop first, by "Exit".
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
  setWindowTitle(kInitialTitle);
  setWindowIcon(QIcon(":/paxelle/paxelle-64.png"));
  const QScreen* screen = QApplication::primaryScreen();
  resize(DefaultFrameWidth(QApplication::font(), screen != nullptr ? screen->availableGeometry().width() : 0),
         kDefaultFrameHeight);

  traffic_ = new QTreeWidget(this);
  traffic_->setColumnCount(1);
  traffic_->setHeaderLabels({kTrafficColumnTitle});
  traffic_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  traffic_->header()->setStretchLastSection(false);
  traffic_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  traffic_->viewport()->installEventFilter(this);
  traffic_->setRootIsDecorated(false);
  traffic_->setUniformRowHeights(true);
  traffic_->setSelectionMode(QAbstractItemView::SingleSelection);
  setCentralWidget(traffic_);

  BuildMenus();
  BuildToolBar();
  BuildStatusBar();
  BuildTray();
}

MainFrame::~MainFrame() = default;

void MainFrame::BuildMenus() {
  exit_ = new QAction("E&xit", this);
  exit_->setStatusTip("Stop the interfaces and quit the application");
  connect(exit_, &QAction::triggered, this, [this] { Call(hooks_.closeRequested); });
  setup_ = new QAction(QIcon(":/paxelle/setup.png"), "&Setup Information", this);
  setup_->setStatusTip("Setup Parameters");
  setup_->setToolTip("Setup");
  connect(setup_, &QAction::triggered, this, [this] { Call(hooks_.setupRequested); });
  about_ = new QAction(QIcon(":/paxelle/about.png"), "&About", this);
  about_->setStatusTip("Display program information, version number and copyright");
  about_->setToolTip("About");
  connect(about_, &QAction::triggered, this, [this] { Call(hooks_.aboutRequested); });

  menuBar()->addMenu("&File")->addAction(exit_);
  menuBar()->addMenu("Setup")->addAction(setup_);
  menuBar()->addMenu("&Help")->addAction(about_);
}

void MainFrame::BuildToolBar() {
  QToolBar* bar = addToolBar("Standard");
  bar->setObjectName("standard");
  bar->setIconSize(QSize(16, 16));
  bar->setMovable(true);
  bar->addAction(setup_);
  bar->addSeparator();
  bar->addAction(about_);
}

void MainFrame::BuildStatusBar() {
  statusBar()->showMessage("Ready");
  // Ready again whenever a command prompt or a notice has gone.
  connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& text) {
    if (text.isEmpty()) statusBar()->showMessage("Ready");
  });
  // The lock-key panes keep their place; they are shown unlit, since no
  // portable way tells the state of those keys.
  for (const char* text : {"CAP", "NUM", "SCRL"}) {
    auto* pane = new QLabel(text, this);
    pane->setObjectName(text);
    pane->setEnabled(false);
    pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pane->setAlignment(Qt::AlignCenter);
    pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance("SCRL") + 10);
    statusBar()->addPermanentWidget(pane);
  }
}

void MainFrame::BuildTray() {
  restore_ = new QAction("Restore", this);
  connect(restore_, &QAction::triggered, this, [this] { Restore(); });
  trayMenu_ = std::make_unique<QMenu>();
  trayMenu_->addAction(restore_);
  trayMenu_->addSeparator();
  // The close path as "File | Exit" takes it.
  auto* exitFromTray = new QAction("Exit", this);
  connect(exitFromTray, &QAction::triggered, this, [this] { Call(hooks_.closeRequested); });
  trayMenu_->addAction(exitFromTray);

  tray_ = std::make_unique<QSystemTrayIcon>(QIcon(":/paxelle/paxelle-32.png"));
  tray_->setToolTip(QString::fromUtf8(kServerVersionText.data(), kServerVersionText.size()).left(kTrayToolTipLimit));
  tray_->setContextMenu(trayMenu_.get());
  connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) OnTrayDoubleClick();
  });
  // Shown whatever entry 11 says: the entry decides only what minimising does.
  tray_->show();
}

void MainFrame::OnTrayDoubleClick() {
  // Hidden, the window has no other way back.
  const bool trayOption = hooks_.trayWhenMinimized && hooks_.trayWhenMinimized();
  if (isVisible() && !trayOption) return;
  Restore();
}

void MainFrame::Restore() {
  showNormal();
  raise();
  activateWindow();
  setFocus();
}

void MainFrame::AddTrafficRow(const QString& row) {
  auto* item = new QTreeWidgetItem(QStringList{row});
  // The whole row, however narrow the list.
  item->setToolTip(0, row);
  traffic_->insertTopLevelItem(0, item);
  if (traffic_->topLevelItemCount() > static_cast<int>(kTrafficRowLimit)) {
    traffic_->setUpdatesEnabled(false);
    while (traffic_->topLevelItemCount() > static_cast<int>(kTrafficRowsKept)) {
      delete traffic_->takeTopLevelItem(static_cast<int>(kTrafficRowsKept));
    }
    traffic_->setUpdatesEnabled(true);
  }
  FitColumn();
}

void MainFrame::FitColumn() {
  traffic_->resizeColumnToContents(0);
  if (traffic_->columnWidth(0) < traffic_->viewport()->width()) {
    traffic_->setColumnWidth(0, traffic_->viewport()->width());
  }
}

bool MainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == traffic_->viewport() && event->type() == QEvent::Resize) FitColumn();
  return QMainWindow::eventFilter(watched, event);
}

void MainFrame::CloseAccepted() {
  closing_ = true;
  tray_->hide();
  close();
}

void MainFrame::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  // Only the window manager closes the window otherwise: the shell asks and
  // decides; an accepted close comes back through CloseAccepted.
  event->ignore();
  Call(hooks_.desktopCloseRequested ? hooks_.desktopCloseRequested : hooks_.closeRequested);
}

void MainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
  if (!hooks_.trayWhenMinimized || !hooks_.trayWhenMinimized()) return;
  // Hidden without a tray, the window could never be brought back.
  if (!hooks_.trayAvailable || !hooks_.trayAvailable()) {
    if (!noTrayNoted_) Call(hooks_.noTrayNoted);
    noTrayNoted_ = true;
    return;
  }
  // After the state change is done, or the window manager shows it again.
  QTimer::singleShot(0, this, [this] {
    if (isMinimized()) hide();
  });
}

}  // namespace paxelle
