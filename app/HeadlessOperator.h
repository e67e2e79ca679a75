// The operator front end of a server without a display: messages go to
// standard error and the traffic log, traffic rows and the status title to
// standard output, and the questions are answered by fixed policies. When
// standard error is the journal, each message is one entry with its priority.
#pragma once

#include "app/OperatorInterface.h"
#include "common/TimeLimits.h"

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace paxelle {

struct HeadlessPolicy {
  std::chrono::milliseconds retryInterval{kOperatorRetryInterval};  // wait before each "Yes" to Retry?
  int retryLimit = 30;                             // Yes answers per start or stop sequence
  // Standard error is the journal: every message on one line (an entry),
  // behind the "<N>" of its priority.
  bool journal = false;
};

// Syslog priorities of the messages, as the journal reads them.
enum class MessagePriority : int { kError = 3, kWarning = 4, kInfo = 6 };

class HeadlessOperator final : public IOperatorInterface {
 public:
  // Waits the given time unless the process is asked to stop or restart
  // meanwhile; false when it was.
  using Pause = std::function<bool(std::chrono::milliseconds)>;
  // Receives one traffic log entry.
  using LogSink = std::function<void(const std::string&)>;

  // `out` and `err` must outlive this object; every message also goes to `log`.
  HeadlessOperator(std::ostream& out, std::ostream& err, Pause pause, LogSink log, HeadlessPolicy policy = {});
  HeadlessOperator(const HeadlessOperator&) = delete;
  HeadlessOperator& operator=(const HeadlessOperator&) = delete;

  void ShowMessage(const std::string& text) override;
  void ShowNotice(const std::string& text) override;
  // Retry?: Yes after the retry interval, up to the limit per sequence; No
  // once the limit is reached or the pause was cut short. Stop anyway?: Yes.
  bool AskYesNo(OperatorQuestion question, const std::string& text) override;
  // A new sequence: the retry count starts again.
  void ShowWait() override;
  void SetWaitText(const std::string& text) override;
  void CloseWait() override;
  void ShowOfflineTitle() override;
  // Printed only when the counts differ from the last title printed.
  void SetStatusTitle(const std::string& title, int requests, int sockets) override;
  void NoteInterfacesStopped() override;
  void AddTrafficRow(const std::string& row) override;

 private:
  // `text` on standard error: on the journal as one line behind its
  // priority, else behind "paxelle: ", its CR LF and lone CR line breaks as
  // line feeds.
  void PrintError(const std::string& text, MessagePriority priority);
  void PrintTitle(const std::string& title);

  std::ostream& out_;
  std::ostream& err_;
  Pause pause_;
  HeadlessPolicy policy_;
  LogSink log_;
  int retriesAnswered_ = 0;
  bool offlineShown_ = false;
  std::optional<std::pair<int, int>> shownCounts_;  // requests, sockets of the last running title
};

}  // namespace paxelle
