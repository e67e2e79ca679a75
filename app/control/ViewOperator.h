// The operator interface that also keeps the views' board: every call goes on
// to the front end it wraps (the window or the headless operator), and what
// it shows is noted for the control socket's clients.
#pragma once

#include "app/OperatorInterface.h"
#include "app/control/ViewBoard.h"
#include "common/Clock.h"

#include <memory>
#include <string>

namespace paxelle {

class ViewOperator final : public IOperatorInterface {
 public:
  // `inner` must not be null; `board` must outlive this object; `clock` stamps
  // the messages.
  ViewOperator(std::unique_ptr<IOperatorInterface> inner, ViewBoard& board, WallClock clock = SystemNow);
  ViewOperator(const ViewOperator&) = delete;
  ViewOperator& operator=(const ViewOperator&) = delete;

  void ShowMessage(const std::string& text) override;
  void ShowNotice(const std::string& text) override;
  bool AskYesNo(OperatorQuestion question, const std::string& text) override;
  void ShowWait() override;
  void SetWaitText(const std::string& text) override;
  void CloseWait() override;
  void ShowOfflineTitle() override;
  void SetStatusTitle(const std::string& title, int requests, int sockets) override;
  void NoteInterfacesStopped() override;
  void AddTrafficRow(const std::string& row) override;

 private:
  void Note(const std::string& text);

  std::unique_ptr<IOperatorInterface> inner_;
  ViewBoard& board_;
  WallClock clock_;
  bool starting_ = false;  // between the offline title and the start's wait box closing
  int waitDepth_ = 0;
};

}  // namespace paxelle
