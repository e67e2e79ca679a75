// What the application shell needs from whoever faces the operator: the
// window, or the headless front end of a server. Called on the thread that
// runs the start and stop sequences only.
#pragma once

#include <string>

namespace paxelle {

// The questions the shell asks, so a front end that cannot ask a person can
// answer each by its own policy.
enum class OperatorQuestion {
  kRetryHostStart,     // the host interface did not start: try again?
  kStopWithClients,    // clients are connected: stop the interfaces anyway?
};

class IOperatorInterface {
 public:
  virtual ~IOperatorInterface() = default;

  // A message the operator acknowledges (a modal box with OK in the window).
  virtual void ShowMessage(const std::string& text) = 0;
  // A line that needs no acknowledgement and that the traffic log already
  // holds (e.g. what loading the parameters had to do).
  virtual void ShowNotice(const std::string& text) = 0;
  // Asks `text` with Yes and No; true for Yes. May wait, but never unboundedly.
  virtual bool AskYesNo(OperatorQuestion question, const std::string& text) = 0;

  // The wait box of one start or stop sequence: shown, its line replaced,
  // closed (closing re-enables whatever showing it disabled).
  virtual void ShowWait() = 0;
  virtual void SetWaitText(const std::string& text) = 0;
  virtual void CloseWait() = 0;

  // The title while the interfaces start or are not running.
  virtual void ShowOfflineTitle() = 0;
  // The running title of one status refresh, with the two counts it shows.
  virtual void SetStatusTitle(const std::string& title, int requests, int sockets) = 0;
  // The interfaces have stopped. The window keeps its last title then; a
  // front end without a title says so its own way.
  virtual void NoteInterfacesStopped() = 0;

  // A time-stamped row was put on top of the traffic list.
  virtual void AddTrafficRow(const std::string& row) = 0;
};

}  // namespace paxelle
