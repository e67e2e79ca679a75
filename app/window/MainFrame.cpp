#include "app/window/MainFrame.h"

#include "app/TrafficView.h"
#include "core/Version.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QWindowStateChangeEvent>

namespace paxelle {
namespace {

constexpr int kTrayToolTipLimit = 127;

void Call(const std::function<void()>& hook) {
  if (hook) hook();
}

}  // namespace

MainFrame::MainFrame(MainFrameHooks hooks, QWidget* parent) : QMainWindow(parent), hooks_(std::move(hooks)) {
  // No close button: the close goes through the shell's stop first, by "Exit".
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
  setWindowTitle(kInitialTitle);
  setWindowIcon(QIcon(":/paxelle/paxelle-64.png"));
  resize(640, 420);

  traffic_ = new QTreeWidget(this);
  traffic_->setColumnCount(1);
  traffic_->setHeaderLabels({kTrafficColumnTitle});
  traffic_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  traffic_->header()->setStretchLastSection(true);
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
  exit_->setStatusTip("Quit the application; prompts to save documents");
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
  tray_ = std::make_unique<QSystemTrayIcon>(QIcon(":/paxelle/paxelle-32.png"));
  tray_->setToolTip(QString::fromUtf8(kServerVersionText.data(), kServerVersionText.size()).left(kTrayToolTipLimit));
  connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) OnTrayDoubleClick();
  });
  // Shown whatever entry 11 says: the entry decides only what minimising does.
  tray_->show();
}

void MainFrame::OnTrayDoubleClick() {
  if (!hooks_.trayWhenMinimized || !hooks_.trayWhenMinimized()) return;
  showNormal();
  raise();
  activateWindow();
  setFocus();
}

void MainFrame::AddTrafficRow(const QString& row) {
  traffic_->insertTopLevelItem(0, new QTreeWidgetItem(QStringList{row}));
  if (traffic_->topLevelItemCount() <= static_cast<int>(kTrafficRowLimit)) return;
  traffic_->setUpdatesEnabled(false);
  while (traffic_->topLevelItemCount() > static_cast<int>(kTrafficRowsKept)) {
    delete traffic_->takeTopLevelItem(static_cast<int>(kTrafficRowsKept));
  }
  traffic_->setUpdatesEnabled(true);
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
  // The shell decides; an accepted close comes back through CloseAccepted.
  event->ignore();
  Call(hooks_.closeRequested);
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
