// The operator window as a view of a server that runs elsewhere (the service,
// or another process): its title, traffic list, setup dialog and About come
// from the server's control socket; the setup dialog's OK asks it for a
// restart, and Exit closes this view only.
#pragma once

#include "app/control/ControlClient.h"
#include "app/window/MainFrame.h"

#include <QDialog>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QSocketNotifier;
class QTimer;

namespace paxelle {

inline constexpr char kViewExitTip[] =
    "Close this view; the server keeps running (stopping it is the service manager's)";
inline constexpr char kNotAnsweringTitle[] = "Paxelle - the server is not answering";

// What opening a view found: its Status's code.
enum class AttachResult { kAttached, kNoServer, kRefused, kFailed };

class AttachedWindow {
 public:
  // `socket` is the server's control socket; `closed` runs when the operator
  // closes the view (default: ends the event loop with 0).
  explicit AttachedWindow(std::filesystem::path socket, std::function<void()> closed = {});
  ~AttachedWindow();
  AttachedWindow(const AttachedWindow&) = delete;
  AttachedWindow& operator=(const AttachedWindow&) = delete;

  // Connects to the server and starts following it; a failure says why not.
  Status Open();

  MainFrame* Frame() const { return frame_.get(); }
  // Tests: runs instead of each modal dialog; returns whether it was accepted.
  void SetDialogRunner(std::function<bool(QDialog&)> runner) { runDialog_ = std::move(runner); }
  // The setup command: the server's parameters in the dialog; OK asks for a restart.
  void RequestSetup();

 private:
  Status Connect();
  void RefreshStatus();
  void ReadRows();
  void Lost();
  bool RunDialog(QDialog& dialog);

  const std::filesystem::path socket_;
  std::function<void()> closed_;
  std::function<bool(QDialog&)> runDialog_;
  std::unique_ptr<MainFrame> frame_;
  QLabel* attachedLabel_ = nullptr;  // owned by the status bar
  ControlClient requests_;           // status, params, restart
  ControlClient watch_;              // the rows
  std::unique_ptr<QSocketNotifier> rowsNotifier_;
  std::unique_ptr<QTimer> statusTimer_;
  std::unique_ptr<QTimer> reconnectTimer_;
};

}  // namespace paxelle
