#include "app/window/WindowFrontEnd.h"

#include "app/TrafficView.h"
#include "app/window/AboutDialog.h"
#include "app/window/EventWaits.h"
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
// Asked on every close from the window manager when no lane is connected
// (with lanes connected, the clients question is asked instead).
constexpr char kDesktopCloseQuestion[] =
    "Closing this window stops the payment server: card processing stops until the server is started "
    "again.\r\rAre you SURE you want to do this?";

}  // namespace

WindowFrontEnd::WindowFrontEnd(QString paramsFile)
    : paramsFile_(std::move(paramsFile)),
      gate_([this] {
        // After the sequence's stack has unwound, from the event loop.
        QTimer::singleShot(0, frame_.get(), [this] { gate_.RunWaiting(); });
      }),
      trayAvailable_([] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {}

WindowFrontEnd::~WindowFrontEnd() {
  displayLossGuard_.reset();
  signalNotifier_.reset();
  statusTimer_.reset();
  frame_.reset();
  application_.reset();
}

Status WindowFrontEnd::Open() {
  // Before Qt starts any thread of its own, so that none of them takes a stop signal.
  if (Status opened = signals_.Open(); !opened.ok()) return opened;
  if (QApplication::instance() == nullptr) application_ = std::make_unique<QApplication>(argc_, argv_);
  QApplication::setQuitOnLastWindowClosed(false);
  // Watched from here on: a box shown before the main loop (a second
  // instance, the log directory, a fatal start-up failure) is answered by a
  // stop signal as any other.
  signalNotifier_ = std::make_unique<QSocketNotifier>(signals_.SignalDescriptor(), QSocketNotifier::Read);
  QObject::connect(signalNotifier_.get(), &QSocketNotifier::activated, signalNotifier_.get(),
                   [this] { OnSignals(); });
  return Status::Ok();
}

std::unique_ptr<IOperatorInterface> WindowFrontEnd::MakeOperator(LogSink log) {
  log_ = log;
  frame_ = std::make_unique<MainFrame>(MainFrameHooks{
      .closeRequested = [this] { gate_.Request([this] { RequestClose(); }); },
      .desktopCloseRequested = [this] { gate_.Request([this] { RequestDesktopClose(); }); },
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
  auto made = std::make_unique<WindowOperator>(*frame_, gate_, std::move(log), [this] { return stopSignalled_; },
                                               [this] { return displayLost_; });
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

void WindowFrontEnd::RunBlocking(const std::function<void()>& step) {
  if (displayLost_) {
    step();
    return;
  }
  // A stop signal cuts the step's waits for new work, again at every slice:
  // a step that had not reached its wait yet when the signal came sees it too.
  RunWhileDispatching(step, [this] {
    if (stopSignalled_ && handlers_ != nullptr && handlers_->cutWaits) handlers_->cutWaits();
  });
}

void WindowFrontEnd::Pause(std::chrono::milliseconds duration) {
  if (displayLost_) {
    FrontEnd::Pause(duration);
    return;
  }
  PauseWhileDispatching(duration);
}

int WindowFrontEnd::Run(const FrontEndHandlers& handlers) {
  handlers_ = &handlers;
  running_ = true;
  exitCode_ = 0;
  displayLossGuard_ = std::make_unique<DisplayLossGuard>([this] { OnDisplayLost(); });

  statusTimer_ = std::make_unique<QTimer>();
  statusTimer_->setInterval(static_cast<int>(kStatusRefreshPeriod.count()));
  QObject::connect(statusTimer_.get(), &QTimer::timeout, frame_.get(), [this] {
    if (handlers_ != nullptr && handlers_->tick) handlers_->tick();
  });
  statusTimer_->start();

  frame_->show();
  if (stopSignalled_) {
    // A stop signal answered a box before the main loop: nothing starts.
    PostRequest([this] {
      if (handlers_->stop) handlers_->stop(false);
      Quit(0);
    });
  } else {
    // The start runs once the window has painted, as a request: a signal that
    // arrives meanwhile waits for it.
    PostRequest([this] {
      if (handlers_->start) handlers_->start();
    });
  }

  QEventLoop loop;
  while (running_) {
    loop.processEvents(QEventLoop::WaitForMoreEvents);
  }
  statusTimer_->stop();
  displayLossGuard_.reset();
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

void WindowFrontEnd::RequestDesktopClose() {
  if (handlers_ == nullptr) return;
  const bool clients = handlers_->clientsConnected && handlers_->clientsConnected();
  // With lanes connected the stop itself asks its question.
  if (!clients && (operator_ == nullptr ||
                   !operator_->AskYesNo(OperatorQuestion::kStopWithClients, kDesktopCloseQuestion))) {
    return;
  }
  RequestClose();
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
    // Before the main loop the box is answered and Run stops at once.
    if (handlers_ == nullptr) {
      DismissModalBoxes();
      return;
    }
    gate_.RequestFirst([this] {
      if (handlers_ != nullptr && handlers_->stop) handlers_->stop(false);
      Quit(0);
    });
    // Nobody may be at the desk: an open box would hold the stop for ever.
    // (A step that waits is cut by RunBlocking.)
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

void WindowFrontEnd::OnDisplayLost() {
  // Nothing may touch a widget now: the boxes only log, the waits wait in place.
  displayLost_ = true;
  stopSignalled_ = true;
  gate_.Drop();
  if (handlers_ == nullptr) return;
  if (handlers_->cutWaits) handlers_->cutWaits();
  if (handlers_->displayLost) handlers_->displayLost();
}

bool WindowFrontEnd::RunDialog(QDialog& dialog) {
  if (runDialog_) return runDialog_(dialog);
  return dialog.exec() == QDialog::Accepted;
}

bool WindowFrontEnd::TrayWhenMinimized() const {
  return handlers_ != nullptr && handlers_->params && handlers_->params().IsYes(kParamTrayWhenMinimized);
}

}  // namespace paxelle
