#include "app/window/WindowFrontEnd.h"

#include "app/TrafficView.h"
#include "app/window/AboutDialog.h"
#include "app/window/SetupDialog.h"
#include "app/window/WindowOperator.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>

namespace paxelle {
namespace {

constexpr char kNoTrayLog[] = "No system tray on this desktop: minimising keeps the window on the task bar.";

}  // namespace

WindowFrontEnd::WindowFrontEnd(QString paramsFile)
    : paramsFile_(std::move(paramsFile)),
      gate_([this] {
        // After the sequence's stack has unwound, from the event loop.
        QTimer::singleShot(0, frame_.get(), [this] { gate_.RunWaiting(); });
      }),
      trayAvailable_([] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {}

WindowFrontEnd::~WindowFrontEnd() {
  signalNotifier_.reset();
  statusTimer_.reset();
  frame_.reset();
  application_.reset();
}

bool WindowFrontEnd::Open(std::string& error) {
  // Before Qt starts any thread of its own, so that none of them takes a stop signal.
  if (!signals_.Open()) {
    error = signals_.ErrorText();
    return false;
  }
  if (QApplication::instance() == nullptr) application_ = std::make_unique<QApplication>(argc_, argv_);
  QApplication::setQuitOnLastWindowClosed(false);
  return true;
}

std::unique_ptr<IOperatorInterface> WindowFrontEnd::MakeOperator(LogSink log) {
  log_ = log;
  frame_ = std::make_unique<MainFrame>(MainFrameHooks{
      .closeRequested = [this] { gate_.Request([this] { RequestClose(); }); },
      .setupRequested = [this] { gate_.Request([this] { RequestSetup(); }); },
      .aboutRequested =
          [this] {
            AboutDialog about(frame_.get());
            RequestGate::Scope busy(gate_);
            RunDialog(about);
          },
      .trayWhenMinimized = [this] { return TrayWhenMinimized(); },
      .trayAvailable = [this] { return trayAvailable_ && trayAvailable_(); },
      .noTrayNoted =
          [this] {
            if (log_) log_(kNoTrayLog);
          },
  });
  auto made = std::make_unique<WindowOperator>(*frame_, gate_, std::move(log), [this] { return stopSignalled_; });
  operator_ = made.get();
  return made;
}

void WindowFrontEnd::Post(std::function<void()> task) {
  // Queued onto the thread of the frame: the user-interface thread.
  QMetaObject::invokeMethod(frame_.get(), std::move(task), Qt::QueuedConnection);
}

void WindowFrontEnd::PostRequest(std::function<void()> request) {
  Post([this, request = std::move(request)]() mutable { gate_.Request(std::move(request)); });
}

int WindowFrontEnd::Run(const FrontEndHandlers& handlers) {
  handlers_ = &handlers;
  running_ = true;
  stopSignalled_ = false;
  exitCode_ = 0;

  signalNotifier_ =
      std::make_unique<QSocketNotifier>(signals_.SignalDescriptor(), QSocketNotifier::Read);
  QObject::connect(signalNotifier_.get(), &QSocketNotifier::activated, frame_.get(), [this] { OnSignals(); });
  statusTimer_ = std::make_unique<QTimer>();
  statusTimer_->setInterval(static_cast<int>(kStatusRefreshPeriod.count()));
  QObject::connect(statusTimer_.get(), &QTimer::timeout, frame_.get(), [this] {
    if (handlers_ != nullptr && handlers_->tick) handlers_->tick();
  });
  statusTimer_->start();

  frame_->show();
  // The start runs once the window has painted, as a request: a signal that
  // arrives meanwhile waits for it.
  PostRequest([this] {
    if (handlers_->start) handlers_->start();
  });

  QEventLoop loop;
  while (running_) {
    loop.processEvents(QEventLoop::WaitForMoreEvents);
  }
  statusTimer_->stop();
  signalNotifier_->setEnabled(false);
  handlers_ = nullptr;
  return exitCode_;
}

void WindowFrontEnd::Quit(int exitCode) {
  exitCode_ = exitCode;
  running_ = false;
  gate_.Drop();
  if (frame_) frame_->CloseAccepted();
}

void WindowFrontEnd::RequestClose() {
  if (handlers_ == nullptr || !handlers_->stop || !handlers_->stop(true)) return;
  Quit(0);
}

void WindowFrontEnd::RequestSetup() {
  if (handlers_ == nullptr) return;
  const CMerchantParams params = handlers_->params ? handlers_->params() : CMerchantParams();
  bool accepted = false;
  {
    SetupDialog dialog(params, paramsFile_, frame_.get());
    RequestGate::Scope busy(gate_);
    accepted = RunDialog(dialog);
  }
  // Any other close restarts nothing.
  if (accepted && handlers_->restart) handlers_->restart();
}

void WindowFrontEnd::OnSignals() {
  const SignalLoop::ArrivedSignals arrived = signals_.TakeSignals();
  if (arrived.stop) {
    // The close path with the stop question answered Yes, ahead of anything
    // waiting; until then nobody is asked anything more.
    stopSignalled_ = true;
    gate_.RequestFirst([this] {
      if (handlers_ != nullptr && handlers_->stop) handlers_->stop(false);
      Quit(0);
    });
    // Nobody may be at the desk: an open box would hold the stop for ever.
    if (gate_.Busy()) DismissModalBoxes();
    return;
  }
  if (arrived.restart) {
    gate_.Request([this] {
      if (handlers_ != nullptr && handlers_->restart) handlers_->restart();
    });
  }
}

void WindowFrontEnd::DismissModalBoxes() {
  // Answered No (Retry?, the clients question) or closed (the others); the
  // stop that is waiting then runs.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    if (auto* box = qobject_cast<QMessageBox*>(modal); box != nullptr && box->button(QMessageBox::No) != nullptr) {
      box->done(QMessageBox::No);
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    }
  }
}

bool WindowFrontEnd::RunDialog(QDialog& dialog) {
  if (runDialog_) return runDialog_(dialog);
  return dialog.exec() == QDialog::Accepted;
}

bool WindowFrontEnd::TrayWhenMinimized() const {
  return handlers_ != nullptr && handlers_->params && handlers_->params().IsYes(kParamTrayWhenMinimized);
}

}  // namespace paxelle
