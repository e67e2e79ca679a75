#include "app/window/AttachedWindow.h"

#include "app/TrafficView.h"
#include "app/window/AboutDialog.h"
#include "app/window/SetupDialog.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>

#include <vector>

namespace paxelle {
namespace {

constexpr int kNoticeMs = 15000;

}  // namespace

AttachedWindow::AttachedWindow(std::filesystem::path socket, std::function<void()> closed)
    : socket_(std::move(socket)), closed_(std::move(closed)) {
  if (!closed_) closed_ = [] { QCoreApplication::exit(0); };
  const auto close = [this] {
    frame_->CloseAccepted();
    closed_();
  };
  frame_ = std::make_unique<MainFrame>(MainFrameHooks{
      .closeRequested = close,
      // Closing a view stops nothing: no question to ask.
      .desktopCloseRequested = close,
      .setupRequested = [this] { RequestSetup(); },
      .aboutRequested =
          [this] {
            AboutDialog about(frame_.get());
            RunDialog(about);
          },
      .trayWhenMinimized = [] { return false; },
      .trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); },
      .noTrayNoted = [] {},
  });
  frame_->ExitAction()->setStatusTip(kViewExitTip);
  attachedLabel_ = new QLabel(frame_.get());
  attachedLabel_->setObjectName("attachedTo");
  frame_->statusBar()->insertPermanentWidget(0, attachedLabel_);

  statusTimer_ = std::make_unique<QTimer>();
  statusTimer_->setInterval(static_cast<int>(kStatusRefreshPeriod.count()));
  QObject::connect(statusTimer_.get(), &QTimer::timeout, frame_.get(), [this] { RefreshStatus(); });
  reconnectTimer_ = std::make_unique<QTimer>();
  reconnectTimer_->setInterval(static_cast<int>(milliseconds(kAttachReconnectPeriod).count()));
  QObject::connect(reconnectTimer_.get(), &QTimer::timeout, frame_.get(), [this] {
    if (Connect().ok()) reconnectTimer_->stop();
  });
}

AttachedWindow::~AttachedWindow() {
  rowsNotifier_.reset();
  statusTimer_.reset();
  reconnectTimer_.reset();
}

Status AttachedWindow::Open() {
  Status opened = Connect();
  if (opened.ok()) frame_->show();
  return opened;
}

Status AttachedWindow::Connect() {
  rowsNotifier_.reset();
  const auto connectOne = [&](ControlClient& client) {
    const Status connected = client.Connect(socket_);
    AttachResult why = AttachResult::kFailed;
    if (connected.code() == static_cast<int>(ControlConnect::kNoServer)) why = AttachResult::kNoServer;
    if (connected.code() == static_cast<int>(ControlConnect::kRefused)) why = AttachResult::kRefused;
    return connected.ok() ? connected : Status::Failure(connected.message(), static_cast<int>(why));
  };
  if (Status connected = connectOne(watch_); !connected.ok()) return connected;
  std::string reply;
  Status asked = watch_.Ask(ControlRequest::kWatch, reply);
  if (asked.ok()) asked = ParseOkReply(reply);
  if (!asked.ok()) {
    watch_.Close();
    const AttachResult why = IsAccessRefusal(asked.message()) ? AttachResult::kRefused : AttachResult::kFailed;
    return Status::Failure(asked.message(), static_cast<int>(why));
  }
  if (Status connected = connectOne(requests_); !connected.ok()) {
    watch_.Close();
    return connected;
  }
  // The server sends its newest rows again: the list starts afresh.
  frame_->TrafficList()->clear();
  rowsNotifier_ = std::make_unique<QSocketNotifier>(watch_.Descriptor(), QSocketNotifier::Read);
  QObject::connect(rowsNotifier_.get(), &QSocketNotifier::activated, frame_.get(), [this] { ReadRows(); });
  attachedLabel_->setText(QString::fromStdString("View of " + socket_.string()));
  ReadRows();
  RefreshStatus();
  statusTimer_->start();
  return Status::Ok();
}

void AttachedWindow::ReadRows() {
  std::vector<std::string> lines;
  const bool open = watch_.ReadAvailable(lines);
  for (const std::string& line : lines) {
    std::string row;
    if (ParseRowLine(line, row)) frame_->AddTrafficRow(QString::fromStdString(row));
  }
  if (!open) Lost();
}

void AttachedWindow::RefreshStatus() {
  if (!requests_.Connected()) return;
  std::string reply;
  ControlStatus status;
  if (!requests_.Ask(ControlRequest::kStatus, reply).ok() || !ParseStatusReply(reply, status).ok()) {
    Lost();
    return;
  }
  const BoardStatus& board = status.board;
  frame_->setWindowTitle(board.title.empty() ? QString(kInitialTitle) : QString::fromStdString(board.title));
  QString state = QString::fromStdString(InterfacesStateName(board.state));
  if (board.state != InterfacesState::kRunning && !board.reason.empty()) {
    state += ": " + QString::fromStdString(board.reason);
  }
  attachedLabel_->setText(QString::fromStdString("View of " + status.workdir + " - interfaces ") + state);
}

void AttachedWindow::Lost() {
  rowsNotifier_.reset();
  watch_.Close();
  requests_.Close();
  statusTimer_->stop();
  frame_->setWindowTitle(kNotAnsweringTitle);
  attachedLabel_->setText(QString::fromStdString("Not connected to " + socket_.string()));
  if (!reconnectTimer_->isActive()) reconnectTimer_->start();
}

void AttachedWindow::RequestSetup() {
  ControlClient client;
  std::string reply;
  ControlParams params;
  Status read = client.Connect(socket_);
  if (read.ok()) read = client.Ask(ControlRequest::kParams, reply);
  if (read.ok()) read = ParseParamsReply(reply, params);
  if (!read.ok()) {
    frame_->statusBar()->showMessage(
        QString::fromStdString("The server's parameters cannot be read: " + read.message()), kNoticeMs);
    return;
  }
  bool accepted = false;
  {
    SetupDialog dialog(params.params, QString::fromStdString(params.paramsFile), frame_.get());
    accepted = RunDialog(dialog);
  }
  if (!accepted) return;
  Status asked = client.Ask(ControlRequest::kRestart, reply);
  if (asked.ok()) asked = ParseOkReply(reply);
  if (!asked.ok()) {
    frame_->statusBar()->showMessage(QString::fromStdString("The restart was not taken: " + asked.message()), kNoticeMs);
    return;
  }
  frame_->statusBar()->showMessage("Restart of the interfaces requested from the server.", kNoticeMs);
}

bool AttachedWindow::RunDialog(QDialog& dialog) {
  if (runDialog_) return runDialog_(dialog);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace paxelle
