// Helpers of the window tests: answering the modal boxes a sequence opens, and
// running a front end with handlers until the scenario quits it.
#pragma once

#include "app/FrontEnd.h"
#include "app/window/WindowFrontEnd.h"

#include <QMessageBox>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QTimer;

namespace paxelle::windowtest {

// While it lives, answers every message box that opens modally with `answer`
// (Yes or No for questions; OK boxes get OK) and keeps their texts.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton answer);
  ~BoxAnswerer();
  const std::vector<std::string>& Texts() const { return texts_; }
  // The default button of each box answered, as Yes, No or OK.
  const std::vector<std::string>& Defaults() const { return defaults_; }
  void SetAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }

 private:
  QMessageBox::StandardButton answer_;
  std::unique_ptr<QTimer> timer_;
  std::vector<std::string> texts_;
  std::vector<std::string> defaults_;
};

// A front end made and opened as main makes it (the test's application object
// is reused), with its operator.
struct OpenWindow {
  OpenWindow();
  WindowFrontEnd frontEnd{"/etc/paxelle/params"};
  std::unique_ptr<IOperatorInterface> operatorInterface;
  std::vector<std::string> logged;
};

// Parameters that differ from the defaults in `values` ({entry, value}).
CMerchantParams ParamsWith(const std::vector<std::pair<int, std::string>>& values);

// A host on loopback that takes every connection and never says a word: a
// TLS handshake with it waits until its own limit.
class SilentHost {
 public:
  SilentHost();
  ~SilentHost();
  SilentHost(const SilentHost&) = delete;
  SilentHost& operator=(const SilentHost&) = delete;
  // "127.0.0.1:PORT"; empty when no socket could be opened.
  std::string Address() const;

 private:
  int socket_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace paxelle::windowtest
