// The operator interface of the window: modal boxes, the wait box with the
// wait cursor, the title and the traffic list of the main window.
#pragma once

#include "app/OperatorInterface.h"
#include "app/window/RequestGate.h"
#include "app/window/WaitDialog.h"

#include <QString>

#include <functional>
#include <string>

namespace paxelle {

class MainFrame;

// The system's texts break lines with CR LF or a lone CR; a box wants LF.
QString BoxText(const std::string& text);

class WindowOperator final : public IOperatorInterface {
 public:
  using LogSink = std::function<void(const std::string&)>;

  // True once nobody is to be asked any more (a stop signal is on its way):
  // messages are then only logged and every question is answered No.
  using Unattended = std::function<bool()>;
  // True once the display is gone: nothing may touch a widget any more, so
  // everything is only logged (and every question answered No).
  using Detached = std::function<bool()>;

  // `frame` and `gate` must outlive this object; a box holds `gate` busy while open.
  WindowOperator(MainFrame& frame, RequestGate& gate, LogSink log, Unattended unattended = {},
                 Detached detached = {});

  void ShowMessage(const std::string& text) override;
  // On the status bar for a while; the traffic log holds it already.
  void ShowNotice(const std::string& text) override;
  bool AskYesNo(OperatorQuestion question, const std::string& text) override;
  void ShowWait() override;
  void SetWaitText(const std::string& text) override;
  void CloseWait() override;
  void ShowOfflineTitle() override;
  void SetStatusTitle(const std::string& title, int requests, int sockets) override;
  // The title keeps its last text.
  void NoteInterfacesStopped() override {}
  void AddTrafficRow(const std::string& row) override;

  WaitDialog& Wait() { return wait_; }

 private:
  // The boxes' owner: the main window once it is shown, else none.
  QWidget* BoxOwner() const;

  MainFrame& frame_;
  RequestGate& gate_;
  bool IsUnattended() const { return unattended_ && unattended_(); }
  bool IsDetached() const { return detached_ && detached_(); }

  LogSink log_;
  Unattended unattended_;
  Detached detached_;
  WaitDialog wait_;
};

}  // namespace paxelle
