// The front end with a window: the Qt event loop on the main thread, the main
// window and its dialogs, the stop signals through a socket notifier, and the
// gate that keeps requests out of running sequences.
#pragma once

#include "app/FrontEnd.h"
#include "app/SignalLoop.h"
#include "app/window/DisplayLossGuard.h"
#include "app/window/MainFrame.h"
#include "app/window/RequestGate.h"

#include <QString>

#include <functional>
#include <memory>

class QApplication;
class QSocketNotifier;
class QTimer;

namespace paxelle {

class WindowOperator;

class WindowFrontEnd final : public FrontEnd {
 public:
  // `paramsFile` is named in the setup dialog's foot line.
  explicit WindowFrontEnd(QString paramsFile);
  ~WindowFrontEnd() override;
  WindowFrontEnd(const WindowFrontEnd&) = delete;
  WindowFrontEnd& operator=(const WindowFrontEnd&) = delete;

  // Blocks the signals, then makes the application object unless one exists
  // (a test's). Check for a display first: Qt ends a process that has none.
  Status Open() override;
  std::unique_ptr<IOperatorInterface> MakeOperator(LogSink log) override;
  void Post(std::function<void()> task) override;
  void PostRequest(std::function<void()> request) override;
  // Both keep the window's events turning (it repaints, the stop signals are
  // read); once the display is gone they wait in place.
  void RunBlocking(const std::function<void()>& step) override;
  void Pause(std::chrono::milliseconds duration) override;
  int Run(const FrontEndHandlers& handlers) override;
  void Quit(int exitCode) override;

  // The close path: a stop that asks about connected clients, then the
  // window goes. A refused stop leaves window and tray as they are.
  void RequestClose();
  // A close from the window manager (a title-bar button, Alt+F4, a task
  // bar's Close): always asked about first, then the close path.
  void RequestDesktopClose();
  // The setup command: the dialog, and after its OK the restart.
  void RequestSetup();

  // Tests: whether the desktop has a tray (default: asks Qt each time).
  void SetTrayAvailability(std::function<bool()> available) { trayAvailable_ = std::move(available); }
  // Tests: runs instead of each modal dialog of the setup and About commands;
  // returns whether it was accepted.
  void SetDialogRunner(std::function<bool(QDialog&)> runner) { runDialog_ = std::move(runner); }

  MainFrame* Frame() const { return frame_.get(); }
  WindowOperator* Operator() const { return operator_; }
  RequestGate& Gate() { return gate_; }

 private:
  void OnSignals();
  // Qt ends the process when the display goes: the interfaces stop first.
  void OnDisplayLost();
  // Ends the modal box on top, so that the sequence under it can finish.
  void DismissModalBoxes();
  bool RunDialog(QDialog& dialog);
  bool TrayWhenMinimized() const;

  QString paramsFile_;
  SignalLoop signals_;
  int argc_ = 1;
  char programName_[8] = "paxelle";
  char* argv_[2] = {programName_, nullptr};
  std::unique_ptr<QApplication> application_;  // only when this front end made it
  RequestGate gate_;
  std::unique_ptr<MainFrame> frame_;
  WindowOperator* operator_ = nullptr;  // owned by the shell
  std::unique_ptr<QSocketNotifier> signalNotifier_;
  std::unique_ptr<DisplayLossGuard> displayLossGuard_;  // while Run runs
  std::unique_ptr<QTimer> statusTimer_;
  const FrontEndHandlers* handlers_ = nullptr;  // while Run runs
  LogSink log_;
  std::function<bool()> trayAvailable_;
  std::function<bool(QDialog&)> runDialog_;
  bool running_ = false;
  bool stopSignalled_ = false;  // from a stop signal on
  bool displayLost_ = false;    // the process is ending without its display
  int exitCode_ = 0;
};

}  // namespace paxelle
